// Text on the windowed screen (SDL's offscreen driver): fonts loaded while a
// mode is active take the screen's pixel format, text drawn on the screen
// and on its GUI layer reaches the window, and the picture matches its
// golden hash at 8, 16 and 24 bits (a BMP is written on a mismatch).
#include "screen_util.h"

#include <string>

namespace
{

using tvtest::MatchesGolden;
using tvtest::WindowShowsBuffer;

const std::string kFont = std::string(TARVEX_SOURCE_DIR) + "/data/fonts/dejavusans16.xbf";

class FontScreenTest : public tvtest::ScreenTest
{
};

TEST_F(FontScreenTest, TextOnTheScreenAndItsGuiLayer)
{
    struct Case {
        int32_t bits;
        uint32_t golden;
    };
    const Case cases[] = {{8, 2210802288u}, {16, 2810747572u}, {24, 3443084286u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        ASSERT_TRUE(Open(640, 480, c.bits));
        CDibScreen* s = Screen();
        if (c.bits == 8) {
            CPalette pal;
            for (int32_t i = 0; i < 256; ++i)
                pal.colors[i] = TRGBA((i & 7) * 36, ((i >> 3) & 7) * 36, (i >> 6) * 85, 0);
            ASSERT_TRUE(s->SetPalette(&pal));
        }
        CFont font;
        ASSERT_TRUE(font.Load(kFont.c_str(), 0)) << glb->error.GetError();
        ASSERT_NE(font.screenImage, nullptr);
        EXPECT_EQ(font.screenImage->bits, c.bits);
        TRGBA white(255, 255, 255), gold(250, 200, 40);
        ASSERT_TRUE(font.CreateColor(white));
        ASSERT_TRUE(font.CreateColor(gold));
        EXPECT_EQ(font.FindColor(gold)->bitmap->bits, c.bits);

        s->FillRect(0, 0, 640, 480, TRGBA(20, 30, 90));
        s->FillRect(300, 300, 200, 100, TRGBA(200, 200, 200));
        TTextInfo info{};
        EXPECT_NE(font.Text(XTEXT_SCREEN, "Text on the screen, wrapped inside its box at the edge.", 20, 20,
                            200, 100, &white, &info, 0),
                  0u);
        EXPECT_NE(font.Text(XTEXT_SCREEN, "Gold and centred", 0, 140, -1, 40, &gold, nullptr,
                            XTEXT_CENTERH | XTEXT_CENTERV),
                  0u);
        EXPECT_NE(font.Text(XTEXT_SCREEN, "Cut at the screen's right edge of the picture", 520, 200, -1, -1,
                            nullptr, nullptr, 0),
                  0u);
        EXPECT_NE(font.Text(XTEXT_GUI, "On the GUI layer", 310, 310, 180, 80, &gold, nullptr, 0), 0u);
        ASSERT_EQ(xHandler(), 0);
        EXPECT_TRUE(WindowShowsBuffer(s, "text" + std::to_string(c.bits)));
        EXPECT_TRUE(
            MatchesGolden("text" + std::to_string(c.bits), *s->GetScreenBitmap(), &s->palette, c.golden));
        ASSERT_TRUE(s->ExitMode());
        ASSERT_TRUE(s->GetVideoModes());
        // Without an active mode the screen is refused again.
        EXPECT_EQ(font.Text(XTEXT_SCREEN, "x", 0, 0, 10, 10, nullptr, nullptr, 0), 0u);
    }
}

} // namespace
