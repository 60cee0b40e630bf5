// The windowed screen on SDL's offscreen driver: its mode table, opening
// modes of each depth, frames flipped through xHandler and compared with
// the window surface and with golden hashes, the persistent picture
// restoring what was drawn, the flip flag, minimising, the desktop-sized
// kind and the 8-bit palette reaching the window.
#include "screen_util.h"

#include <cstring>
#include <vector>

namespace
{

using tvtest::MatchesGolden;
using tvtest::PixelHash;
using tvtest::WindowShowsBuffer;

class DibScreenTest : public tvtest::ScreenTest
{
  protected:
    // A 48 x 32 picture with a colour-key frame and a gradient inside.
    void MakePicture(CBitmap& b)
    {
        ASSERT_TRUE(b.CreateRGB(48, 32, 24, 8, 8, 8, 0, 8, 16, 0));
        for (int32_t y = 0; y < 32; ++y)
            for (int32_t x = 0; x < 48; ++x) {
                bool border = x < 2 || y < 2 || x > 45 || y > 29;
                TRGBA c = border ? TRGBA(255, 0, 255) : TRGBA(x * 5, y * 7, 200 - x * 3);
                b.PutPixel(x, y, &c);
            }
    }
    // The same scene in every depth: primitives, a keyed blit, a polygon.
    void DrawScene(CDibScreen* s, CBitmap& picture, CBitmap& texture)
    {
        s->FillRect(0, 0, 640, 480, TRGBA(20, 40, 80));
        s->FillRect(-10, -10, 100, 60, TRGBA(250, 200, 0));
        s->FillRect(600, 440, 100, 100, TRGBA(0, 200, 100));
        s->DrawLine(-50, 10, 700, 470, TRGBA(255, 255, 255));
        s->DrawLine(320, -5, 320, 500, TRGBA(255, 0, 0));
        s->DrawBitmapScreen(&picture, 0, 0, 300, 200, -1, -1, XBLT_COLORKEY, 0);
        s->DrawBitmapScreen(&picture, 0, 0, 620, 470, -1, -1, 0, 0);
        s->SetTexture(&texture);
        s->SetTextureCoords(0, 0, 47 << 16, 0, 47 << 16, 31 << 16, 0, 31 << 16);
        s->SetPolygon(200, 600, 0, 500, 560, 0, 560, 900, 0, 180, 860, 0);
        CRect drawn, *out = &drawn;
        s->DrawPolygonScreen(out);
    }
};

TEST_F(DibScreenTest, ModeTable)
{
    CDibScreen* s = Screen();
    ASSERT_NE(s, nullptr);
    struct Row {
        const char* name;
        int32_t w, h, bits, pitch, n1, n2;
    };
    const Row rows[] = {
        {"Windows 640*480 24bit", 640, 480, 24, 1920, 13, 18},
        {"Windows 640*480 16bit", 640, 480, 16, 1280, 14, 17},
        {"Windows 640*480 8bit", 640, 480, 8, 640, 15, 16},
        {"Windows 800*600 8bit", 800, 600, 8, 800, 19, 20},
        {"Windows 800*600 16bit", 800, 600, 16, 1600, 21, 22},
        {"Windows 800*600 24bit", 800, 600, 24, 2400, 23, 24},
        {"Windows 1024*768 8bit", 1024, 768, 8, 1024, 25, 26},
        {"Windows 1024*768 16bit", 1024, 768, 16, 2048, 27, 28},
        {"Windows 1024*768 24bit", 1024, 768, 24, 3072, 29, 30},
    };
    s->ModeFirst();
    for (const Row& r : rows)
        for (int32_t kind = 1; kind <= 2; ++kind) {
            ASSERT_TRUE(s->ModeExists()) << r.name;
            SVmode* m = s->ModeGet();
            EXPECT_STREQ(m->name, r.name);
            EXPECT_EQ(m->width, r.w);
            EXPECT_EQ(m->height, r.h);
            EXPECT_EQ(m->bitsPerPixel, r.bits);
            EXPECT_EQ(m->bytesPerPixel, r.bits / 8);
            EXPECT_EQ(m->pitch, r.pitch);
            EXPECT_EQ(m->windowKind, kind);
            EXPECT_EQ(m->modeNumber, kind == 1 ? r.n1 : r.n2) << r.name;
            EXPECT_EQ(m->palettized, r.bits == 8 ? 1 : 0);
            if (r.bits == 16) {
                EXPECT_EQ(std::vector<int32_t>({m->redBits, m->greenBits, m->blueBits, m->redShift,
                                                m->greenShift, m->blueShift}),
                          std::vector<int32_t>({5, 5, 5, 10, 5, 0}));
            }
            if (r.bits == 24) {
                EXPECT_EQ(std::vector<int32_t>({m->redShift, m->greenShift, m->blueShift}),
                          std::vector<int32_t>({0, 8, 16}));
            }
            s->ModeNext();
        }
    EXPECT_FALSE(s->ModeExists());

    // The first 16-bit 640 x 480 mode of either kind.
    ASSERT_TRUE(s->InitModeRez(640, 480, 16, -1));
    EXPECT_EQ(s->GetActiveMode()->modeNumber, 14);
    EXPECT_EQ(glb->screen, s);
    EXPECT_FALSE(s->InitModeRez(640, 480, 32, -1));
    EXPECT_FALSE(s->InitModeRez(641, 480, 16, -1));
    SVmode want = *s->GetActiveMode();
    want.bitsPerPixel = 8;
    EXPECT_TRUE(s->InitModeMode(&want));
    EXPECT_EQ(s->GetActiveMode()->bitsPerPixel, 8);
    EXPECT_FALSE(s->InitModeMode(nullptr));
}

TEST_F(DibScreenTest, AddWindowVideoMode)
{
    CDibScreen* s = Screen();
    struct Case {
        int32_t w, h, bits, number;
        int32_t ok;
        int32_t n1, n2;
        const char* name;
    };
    const Case cases[] = {
        {512, 384, 16, -1, 1, 1024, 1025, "Windows 16bit"},
        {320, 200, 8, -1, 1, 1026, 1027, "Windows 8bit"},
        {321, 201, 24, 77, 1, 77, 78, "Windows 24bit"},
        {320, 200, 12, -1, 0, 0, 0, nullptr},     // no such depth
        {320, 200, 32, -1, 0, 0, 0, nullptr},     // not a windowed depth
        {0, 200, 8, -1, 0, 0, 0, nullptr},        // empty
        {320, -1, 8, -1, 0, 0, 0, nullptr},       // negative
        {70000, 70000, 24, -1, 0, 0, 0, nullptr}, // larger than any window
    };
    for (const Case& c : cases) {
        const int32_t before = s->modes.GetNumNodes();
        EXPECT_EQ(s->AddWindowVideoMode(c.w, c.h, c.bits, c.number), c.ok)
            << c.w << "x" << c.h << "x" << c.bits;
        if (!c.ok) {
            EXPECT_EQ(s->modes.GetNumNodes(), before);
            continue;
        }
        ASSERT_EQ(s->modes.GetNumNodes(), before + 2);
        auto* a = static_cast<SVmode*>(s->modes.Get(before));
        auto* b = static_cast<SVmode*>(s->modes.Get(before + 1));
        EXPECT_STREQ(a->name, c.name);
        EXPECT_EQ(a->modeNumber, c.n1);
        EXPECT_EQ(b->modeNumber, c.n2);
        EXPECT_EQ(a->windowKind, 1);
        EXPECT_EQ(b->windowKind, 2);
        // Lines are 4-byte aligned, as the picture holds them.
        EXPECT_EQ(a->pitch, (c.w * c.bits / 8 + 3) & ~3);
    }
    // An odd-sized mode opens, draws and shows.
    ASSERT_TRUE(s->InitModeRez(321, 201, 24, 1));
    s->FillRect(300, 190, 40, 40, TRGBA(1, 2, 3));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "odd_mode"));
}

TEST_F(DibScreenTest, FramesInEachDepth)
{
    struct Case {
        int32_t bits;
        uint32_t golden;
    };
    const Case cases[] = {{8, 1655238396u}, {16, 2058656297u}, {24, 2308037224u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        ASSERT_TRUE(Open(640, 480, c.bits));
        CDibScreen* s = Screen();
        CPalette pal;
        for (int32_t i = 0; i < 256; ++i)
            pal.colors[i] = TRGBA((i & 7) * 36, ((i >> 3) & 7) * 36, (i >> 6) * 85, 0);
        if (c.bits == 8) {
            ASSERT_TRUE(s->SetPalette(&pal));
        }
        CBitmap picture, texture;
        MakePicture(picture);
        MakePicture(texture);
        ASSERT_TRUE(s->MakeScreenBitmap(&texture, 0));
        DrawScene(s, picture, texture);
        ASSERT_EQ(xHandler(), 0);
        EXPECT_TRUE(WindowShowsBuffer(s, "frame" + std::to_string(c.bits)));
        EXPECT_TRUE(
            MatchesGolden("frame" + std::to_string(c.bits), *s->GetScreenBitmap(), &s->palette, c.golden));
        EXPECT_TRUE(s->ExitMode());
        EXPECT_EQ(glb->screen, nullptr);
        ASSERT_TRUE(s->GetVideoModes());
    }
}

TEST_F(DibScreenTest, PersistentPictureRestoresWhatWasDrawn)
{
    for (int32_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Open(640, 480, bits));
        CDibScreen* s = Screen();
        ASSERT_TRUE(s->SetPersistentMode(1));
        CBitmap picture;
        MakePicture(picture);
        ASSERT_TRUE(s->MakeScreenBitmap(&picture, 0));
        for (int32_t y = 0; y < 480; y += 32)
            for (int32_t x = 0; x < 640; x += 48)
                ASSERT_TRUE(s->DrawBitmapPersistent(&picture, 0, 0, x, y, -1, -1, 0, 0));
        CBitmap texture;
        MakePicture(texture);
        ASSERT_TRUE(s->MakeScreenBitmap(&texture, 0));
        s->SetTexture(&texture);
        s->SetTextureCoords(0, 0, 47 << 16, 0, 47 << 16, 31 << 16, 0, 31 << 16);
        for (int32_t frame = 0; frame < 12; ++frame) {
            const int32_t x = frame * 53 - 40, y = frame * 37 - 20;
            s->FillRect(x, y, 90, 70, TRGBA(200, 30, 30));
            s->DrawLine(x, y + 100, x + 300, y - 50, TRGBA(255, 255, 0));
            s->FillRectAlpha(x + 20, y + 20, 120, 80, 60);
            s->SetPolygon(2 * x, 2 * y + 300, 0, 2 * x + 200, 2 * y + 260, 0, 2 * x + 240, 2 * y + 500, 0,
                          2 * x - 20, 2 * y + 480, 0);
            CRect drawn, *out = &drawn;
            s->DrawPolygonScreen(out);
            // The window shows the frame as drawn; the clear then restores the buffer.
            const CBitmap drawnFrame(*s->GetScreenBitmap());
            ASSERT_EQ(xHandler(), 0);
            EXPECT_TRUE(WindowShowsBuffer(s, "persistent_frame", &drawnFrame));
        }
        // No drawing for a frame: the picture is the persistent one again.
        ASSERT_EQ(xHandler(), 0);
        EXPECT_EQ(PixelHash(*s->GetScreenBitmap()), PixelHash(*s->persistent));
        EXPECT_TRUE(WindowShowsBuffer(s, "persistent_restored" + std::to_string(bits)));
        s->ExitMode();
        ASSERT_TRUE(s->GetVideoModes());
    }
}

TEST_F(DibScreenTest, FlipFlagAndMinimising)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "before_flip_off"));
    const uint32_t shown = PixelHash(*s->GetScreenBitmap());

    // Flip flag 0: the flip copies nothing but still empties the layer list.
    EXPECT_TRUE(s->SetFlipScreen(0));
    s->FillRect(10, 10, 50, 50, TRGBA(255, 255, 255));
    EXPECT_GT(s->layerCount[0], 0);
    EXPECT_TRUE(s->FlipPage());
    EXPECT_EQ(s->layerCount[0], 0);
    EXPECT_FALSE(WindowShowsBuffer(s, "flip_off_expected_mismatch"));
    // On again: the whole picture is shown.
    EXPECT_TRUE(s->SetFlipScreen(1));
    EXPECT_TRUE(s->SetFlipScreen(1));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "flip_on"));
    EXPECT_NE(PixelHash(*s->GetScreenBitmap()), shown);

    // Minimised: clear and flip do nothing and answer 1.
    ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, WM_SIZE, SIZE_MINIMIZED, 0));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_EQ(s->active, 0);
    s->FillRect(100, 100, 20, 20, TRGBA(0, 0, 0));
    const int32_t pending = s->layerCount[0];
    EXPECT_TRUE(s->FlipPage());
    EXPECT_TRUE(s->ClearBuffer());
    EXPECT_EQ(s->layerCount[0], pending);
    // Restored: active again, everything is shown.
    ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480)));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_EQ(s->active, 1);
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "restored"));
}

TEST_F(DibScreenTest, DesktopSizedKindCentresThePicture)
{
    int32_t dw = 0, dh = 0, bits = 0;
    ASSERT_TRUE(tvp::DesktopMode(dw, dh, bits));
    if (dw < 640 || dh < 480)
        GTEST_SKIP() << "desktop smaller than the mode";
    ASSERT_TRUE(Open(640, 480, 24, XVMODE_DESKTOP));
    CDibScreen* s = Screen();
    EXPECT_EQ(s->offsetX, (dw - 640) / 2);
    EXPECT_EQ(s->offsetY, (dh - 480) / 2);
    int32_t x, y, w, h;
    EXPECT_TRUE(s->GetScreenPos(&x, &y, &w, &h));
    EXPECT_EQ(w, dw);
    EXPECT_EQ(h, dh);
    s->FillRect(0, 0, 640, 480, TRGBA(10, 200, 10));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "desktop_kind"));
    EXPECT_GT(s->GetDepth(), 0);
}

// 16-bit frames reach the window through per-field tables taken from SDL's
// own conversion: every 16-bit value (the unused top bit too) must show as
// SDL shows it, for whole-screen copies and for small areas at the edges,
// in a window of the mode's size and centred on the desktop.
TEST_F(DibScreenTest, EverySixteenBitValueReachesTheWindow)
{
    int32_t dw = 0, dh = 0, bits = 0;
    ASSERT_TRUE(tvp::DesktopMode(dw, dh, bits));
    for (int32_t kind : {XVMODE_WINDOW, XVMODE_DESKTOP}) {
        SCOPED_TRACE(kind);
        if (kind == XVMODE_DESKTOP && (dw < 640 || dh < 480))
            continue;
        ASSERT_TRUE(Open(640, 480, 16, kind));
        CDibScreen* s = Screen();
        CBitmap* b = s->GetScreenBitmap();
        ASSERT_NE(b, nullptr);
        for (int32_t y = 0; y < 480; ++y)
            for (int32_t x = 0; x < 640; ++x) {
                const auto v = static_cast<uint16_t>((y * 640 + x) * 40503u);
                std::memcpy(b->data + y * b->pitch + x * 2, &v, 2);
            }
        s->AddLayerArea(0, 0, 639, 479);
        ASSERT_EQ(xHandler(), 0);
        EXPECT_TRUE(WindowShowsBuffer(s, "all_16bit_values"));
        // Small areas in the corners and along the edges.
        const CRect areas[] = {{0, 0, 0, 0},       {639, 479, 639, 479}, {0, 470, 20, 479}, {630, 0, 639, 9},
                               {300, 0, 301, 479}, {0, 200, 639, 200},   {17, 33, 49, 65}};
        for (const CRect& r : areas)
            s->FillRect(r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1,
                        TRGBA(static_cast<uint8_t>(r.left * 7), static_cast<uint8_t>(r.top * 3), 99));
        ASSERT_EQ(xHandler(), 0);
        EXPECT_TRUE(WindowShowsBuffer(s, "16bit_edges"));
        EXPECT_TRUE(s->ExitMode());
        ASSERT_TRUE(s->GetVideoModes());
    }
}

TEST_F(DibScreenTest, PaletteReachesTheWindow)
{
    ASSERT_TRUE(Open(640, 480, 8));
    CDibScreen* s = Screen();
    s->FillRect(0, 0, 640, 480, TRGBA(128, 128, 128));
    s->FillRect(100, 100, 200, 100, TRGBA(255, 255, 255));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "grey_ramp"));
    // A new palette recolours the same indices on the window.
    CPalette pal;
    for (int32_t i = 0; i < 256; ++i)
        pal.colors[i] = TRGBA(255 - i, i, (i * 3) & 255, 0);
    ASSERT_TRUE(s->SetPalette(&pal));
    EXPECT_EQ(s->palette.colors[10], pal.colors[10]);
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "new_palette"));
    // A paint message repaints the whole picture.
    ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, WM_PAINT, 0, 0));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "paint"));
    // Non-palette modes refuse a palette.
    ASSERT_TRUE(Open(640, 480, 16));
    EXPECT_FALSE(s->SetPalette(&pal));
}

TEST_F(DibScreenTest, LayerAreas)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    s->layerCount[0] = 0;
    s->AddLayerArea(10, 10, 19, 19);
    s->AddLayerArea(10, 10, 19, 19);
    EXPECT_EQ(s->layerCount[0], 1);
    s->AddLayerArea(15, 10, 24, 19); // half overlapping: merged
    ASSERT_EQ(s->layerCount[0], 2);
    const CRect retired(-100, -100, -101, -101), merged(10, 10, 24, 19), whole(0, 0, 639, 479);
    EXPECT_TRUE(s->layerAreas[0][0].IsEqual(&retired));
    EXPECT_TRUE(s->layerAreas[0][1].IsEqual(&merged));
    s->AddLayerArea(-50, -50, -1, -1); // off the screen: nothing
    EXPECT_EQ(s->layerCount[0], 2);
    for (int32_t i = 0; i < 126; ++i)
        s->AddLayerArea(i * 5, 100, i * 5, 100);
    EXPECT_EQ(s->layerCount[0], 128);
    s->AddLayerArea(3, 300, 3, 300); // the 129th: the whole mode
    ASSERT_EQ(s->layerCount[0], 1);
    EXPECT_TRUE(s->layerAreas[0][0].IsEqual(&whole));
}

TEST_F(DibScreenTest, SpriteRestoreRoundTrip)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CDibScreen* s = Screen();
    s->FillRect(0, 0, 640, 480, TRGBA(30, 60, 90));
    s->FillRect(100, 100, 40, 40, TRGBA(200, 0, 0));
    ASSERT_EQ(xHandler(), 0);
    const uint32_t before = PixelHash(*s->GetScreenBitmap());
    CBitmap restore, sprite;
    ASSERT_TRUE(restore.CreateRGB(32, 32, 24, 8, 8, 8, 0, 8, 16, 0));
    MakePicture(sprite);
    ASSERT_TRUE(s->MakeScreenBitmap(&sprite, 0));
    // Save under, draw, show, put back: the picture is as before.
    EXPECT_TRUE(s->UpdateSpriteRestore(120, 110, 32, 32, 0, 0, &restore));
    EXPECT_TRUE(s->DrawSpriteScreen(&sprite, 0, 0, 120, 110, 32, 32, XBLT_COLORKEY, 0));
    EXPECT_GT(s->layerCount[0], 0);
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "sprite_drawn"));
    EXPECT_NE(PixelHash(*s->GetScreenBitmap()), before);
    EXPECT_TRUE(s->RestoreSpriteScreen(&restore, 120, 110, 32, 32));
    ASSERT_EQ(xHandler(), 0);
    EXPECT_EQ(PixelHash(*s->GetScreenBitmap()), before);
    EXPECT_TRUE(WindowShowsBuffer(s, "sprite_restored"));
}

TEST_F(DibScreenTest, GreyScreen)
{
    for (int32_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Open(640, 480, bits));
        CDibScreen* s = Screen();
        ASSERT_TRUE(s->SetPersistentMode(1));
        CBitmap fill;
        ASSERT_TRUE(fill.CreateRGB(640, 480, 24, 8, 8, 8, 0, 8, 16, 0));
        const TRGBA orange(240, 120, 60);
        fill.Fill(&orange);
        ASSERT_TRUE(s->MakeScreenBitmap(&fill, XCONV_NO_COLORKEY));
        ASSERT_TRUE(s->DrawBitmapPersistent(&fill, 0, 0, 0, 0, -1, -1, 0, 0));
        ASSERT_EQ(xHandler(), 0);
        EXPECT_TRUE(s->SetScreenToPersistentGrey());
        ASSERT_EQ(xHandler(), 0); // grey copy made before the flip, restored at the clear
        EXPECT_EQ(s->greyRequest, 0);
        ASSERT_EQ(xHandler(), 0);
        EXPECT_TRUE(WindowShowsBuffer(s, "grey"));
        TRGBA c = tvtest::PixelColor(*s->GetScreenBitmap(), &s->palette, 10, 10);
        if (bits == 24)
            EXPECT_EQ(c, TRGBA((240 + 120 + 60) / 6, (240 + 120 + 60) / 6, (240 + 120 + 60) / 6, 0));
        else if (bits == 16)
            EXPECT_EQ(c,
                      TRGBA(((30 + 15 + 7) / 6) << 3, ((30 + 15 + 7) / 6) << 3, ((30 + 15 + 7) / 6) << 3, 0));
        else {
            // Checkerboard: (x + y) odd pixels turn black.
            TRGBA odd = tvtest::PixelColor(*s->GetScreenBitmap(), &s->palette, 11, 10);
            EXPECT_EQ(odd, TRGBA(0, 0, 0, 255));
        }
        s->ExitMode();
        ASSERT_TRUE(s->GetVideoModes());
    }
}

TEST_F(DibScreenTest, NewMainWindowKeepsShowingThePicture)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    ASSERT_TRUE(ShowScreenWindow());
    EXPECT_NE(sglb->windowDC, nullptr);
    EXPECT_TRUE(tvp::IsWindow(sglb->mainWindow));
    // The picture is the screen's own memory: a new window shows it after
    // the window properties are applied again.
    ASSERT_TRUE(s->SetScreenWindowProperties(XSCREEN_OVERLAPPED));
    s->FillRect(0, 0, 640, 480, TRGBA(90, 10, 160));
    s->AddLayerArea(0, 0, 639, 479);
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(WindowShowsBuffer(s, "new_window"));
    // The keyboard-menu command is swallowed; others reach the default procedure.
    EXPECT_EQ(s->WinMsgHandler(sglb->mainWindow, 0x0112, 0xF100, 0), 0);
}

} // namespace
