// End-to-end: the windowed screen in a real X server. The outer test starts
// this same program under xvfb-run with the inner test selected; the inner
// test opens a mode, draws and flips, takes a screenshot of the whole X
// screen with xwd and compares the window's pixels with the screen buffer.
// A second inner test sizes the window with xdotool and checks that the
// picture is centred in it again.
#include "screen_util.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

bool HaveTool(const char* name)
{
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

bool InsideXvfb()
{
    const char* v = std::getenv("TARVEX_XVFB_INNER");
    return v != nullptr && *v == '1';
}

// The screen buffer as SDL shows it, compared with the screenshot at the
// window's client position plus the picture offset.
::testing::AssertionResult ScreenshotShowsBuffer(CDibScreen* s, const std::string& name)
{
    if (std::system("xwd -root -silent -out shot.xwd") != 0)
        return ::testing::AssertionFailure() << "xwd failed";
    tvtest::Shot shot;
    if (!tvtest::ReadXwd("shot.xwd", shot))
        return ::testing::AssertionFailure()
               << "unreadable screenshot (" << std::filesystem::file_size("shot.xwd") << " bytes)";
    int32_t wx = 0, wy = 0, ww = 0, wh = 0;
    tvp::GetWindowRect(sglb->mainWindow, wx, wy, ww, wh);
    CBitmap* img = s->GetScreenBitmap();
    const uint32_t fmt = img->bits == 8    ? SDL_PIXELFORMAT_INDEX8
                         : img->bits == 16 ? SDL_PIXELFORMAT_RGB555
                                           : SDL_PIXELFORMAT_BGR24;
    SDL_Surface* src =
        SDL_CreateRGBSurfaceWithFormatFrom(img->data, img->width, img->height, img->bits, img->pitch, fmt);
    if (img->bits == 8) {
        SDL_Color cols[256];
        for (int i = 0; i < 256; ++i)
            cols[i] = SDL_Color{s->palette.colors[i].r, s->palette.colors[i].g, s->palette.colors[i].b, 255};
        SDL_SetPaletteColors(src->format->palette, cols, 0, 256);
    }
    SDL_Surface* want = SDL_ConvertSurfaceFormat(src, SDL_PIXELFORMAT_RGB888, 0);
    SDL_FreeSurface(src);
    int32_t bad = 0, firstX = -1, firstY = -1;
    for (int32_t y = 0; y < img->height; ++y)
        for (int32_t x = 0; x < img->width; ++x) {
            const int32_t sx = wx + s->offsetX + x, sy = wy + s->offsetY + y;
            const uint32_t expect =
                reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(want->pixels) + y * want->pitch)[x] &
                0xFFFFFF;
            const bool on = sx >= 0 && sy >= 0 && sx < shot.width && sy < shot.height;
            if (!on || shot.pixels[static_cast<size_t>(sy) * shot.width + sx] != expect)
                if (bad++ == 0)
                    firstX = x, firstY = y;
        }
    SDL_FreeSurface(want);
    if (bad == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << name << ": " << bad << " pixels differ on the X screen, first at (" << firstX << ", " << firstY
           << "); buffer in " << tvtest::WriteBmp(name, *img, &s->palette);
}

// Frames until the X server has taken every request (window map, size).
void Settle()
{
    for (int i = 0; i < 20; ++i) {
        xHandler();
        usleep(20000);
    }
}

class XvfbInner : public tvtest::ScreenTest
{
  protected:
    void SetUp() override
    {
        if (!InsideXvfb())
            GTEST_SKIP() << "runs inside xvfb-run, started by XvfbScreen";
        tvtest::ScreenTest::SetUp();
    }
};

TEST_F(XvfbInner, WindowShowsTheBufferInEachDepth)
{
    for (int32_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        CDibScreen* s = Screen();
        ASSERT_TRUE(s->InitModeRez(640, 480, bits, XVMODE_WINDOW));
        Settle();
        s->FillRect(0, 0, 640, 480, TRGBA(10, 60, 110));
        for (int32_t i = 0; i < 20; ++i)
            s->FillRect(i * 30, i * 22, 50, 40, TRGBA(i * 12, 255 - i * 12, 128));
        s->DrawLine(0, 479, 639, 0, TRGBA(255, 255, 255));
        s->FillRectAlpha(100, 100, 300, 200, 40);
        ASSERT_EQ(xHandler(), 0);
        Settle();
        EXPECT_TRUE(ScreenshotShowsBuffer(s, "xvfb" + std::to_string(bits)));
        s->ExitMode();
        ASSERT_TRUE(s->GetVideoModes());
    }
}

TEST_F(XvfbInner, DesktopKindAndResizedWindow)
{
    CDibScreen* s = Screen();
    // The X libraries keep blocks until exit; the library's own tracker
    // still checks that nothing of ours leaked.
    // The desktop-sized kind: the picture centred on the whole X screen.
    ASSERT_TRUE(s->InitModeRez(640, 480, 24, XVMODE_DESKTOP));
    Settle();
    EXPECT_EQ(s->offsetX, (1024 - 640) / 2);
    EXPECT_EQ(s->offsetY, (768 - 480) / 2);
    s->FillRect(0, 0, 640, 480, TRGBA(200, 20, 20));
    s->FillRect(300, 200, 40, 40, TRGBA(20, 200, 20));
    ASSERT_EQ(xHandler(), 0);
    Settle();
    EXPECT_TRUE(ScreenshotShowsBuffer(s, "xvfb_desktop"));

    // A window of the mode's size, then made larger from outside: the
    // picture moves to the middle of the new client area.
    ASSERT_TRUE(s->InitModeRez(640, 480, 16, XVMODE_WINDOW));
    Settle();
    EXPECT_EQ(s->offsetX, 0);
    const std::string cmd = "xdotool search --name '" + std::string(glb->applicationName) +
                            "' windowsize --sync 800 600 >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Settle();
    EXPECT_EQ(s->offsetX, 80);
    EXPECT_EQ(s->offsetY, 60);
    s->FillRect(0, 0, 640, 480, TRGBA(20, 20, 200));
    ASSERT_EQ(xHandler(), 0);
    Settle();
    EXPECT_TRUE(ScreenshotShowsBuffer(s, "xvfb_resized"));
}

// The outer test: a real X server for the inner tests.
TEST(XvfbScreen, InnerTestsPassInARealXServer)
{
    if (InsideXvfb())
        GTEST_SKIP() << "already inside";
    for (const char* tool : {"xvfb-run", "xwd", "xdotool"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    // xvfb-run -a picks the first free server number from -n on; tests that
    // start X servers at the same moment would race for the same number, so
    // each starts its search at a number of its own.
    const std::string cmd = std::string("TARVEX_XVFB_INNER=1 SDL_VIDEODRIVER=x11 ASAN_OPTIONS=detect_leaks=0 "
                                        "xvfb-run -a -n ") +
                            std::to_string(100 + getpid() % 400) + " -s '-screen 0 1024x768x24' " + self +
                            " --gtest_filter='XvfbInner.*' > inner.log 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream log("inner.log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(WIFEXITED(rc)) << text;
    EXPECT_EQ(WEXITSTATUS(rc), 0) << text;
    EXPECT_NE(text.find("[  PASSED  ] 2 tests"), std::string::npos) << text;
}

} // namespace
