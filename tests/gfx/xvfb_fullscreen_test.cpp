// End-to-end: from the windowed screen to the full-screen screen and back in
// a real X server. The outer test starts this program again under xvfb-run
// with the inner test selected; the inner test waits (bounded) for the
// window to take and give back the display, and compares xwd screenshots
// with the picture each screen shows.
#include "screen_util.h"
#include "x11_util.h"

#include <tarvex/dxscreen.h>

#include <cstdlib>
#include <unistd.h>

namespace
{

constexpr const char* kChildVar = "TARVEX_XVFB_FULLSCREEN";

bool Inside()
{
    const char* v = std::getenv(kChildVar);
    return v != nullptr && *v == '1';
}

// The picture as SDL converts it to 0x00RRGGBB, compared with the screenshot
// at (atX, atY).
::testing::AssertionResult ShotShows(const tvtest::Shot& shot, const CBitmap& img, const CPalette& pal,
                                     int32_t atX, int32_t atY)
{
    uint32_t fmt = SDL_PIXELFORMAT_BGR24;
    if (img.bits == 8)
        fmt = SDL_PIXELFORMAT_INDEX8;
    else if (img.bits == 16)
        fmt = SDL_MasksToPixelFormatEnum(16, ((1u << img.redBits) - 1) << img.redShift,
                                         ((1u << img.greenBits) - 1) << img.greenShift,
                                         ((1u << img.blueBits) - 1) << img.blueShift, 0);
    SDL_Surface* src =
        SDL_CreateRGBSurfaceWithFormatFrom(img.data, img.width, img.height, img.bits, img.pitch, fmt);
    if (src == nullptr)
        return ::testing::AssertionFailure() << "no surface for the picture";
    if (img.bits == 8) {
        SDL_Color cols[256];
        for (int i = 0; i < 256; ++i)
            cols[i] = SDL_Color{pal.colors[i].r, pal.colors[i].g, pal.colors[i].b, 255};
        SDL_SetPaletteColors(src->format->palette, cols, 0, 256);
    }
    SDL_Surface* want = SDL_ConvertSurfaceFormat(src, SDL_PIXELFORMAT_RGB888, 0);
    SDL_FreeSurface(src);
    int32_t bad = 0;
    for (int32_t y = 0; y < img.height; ++y)
        for (int32_t x = 0; x < img.width; ++x) {
            const int32_t sx = atX + x, sy = atY + y;
            const uint32_t expect =
                reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(want->pixels) + y * want->pitch)[x] &
                0xFFFFFF;
            if (sx < 0 || sy < 0 || sx >= shot.width || sy >= shot.height ||
                shot.pixels[static_cast<size_t>(sy) * shot.width + sx] != expect)
                ++bad;
        }
    SDL_FreeSurface(want);
    if (bad == 0)
        return ::testing::AssertionSuccess();
    // The screenshot beside the picture, for a person to compare.
    CBitmap seen;
    std::string file = "(none)";
    if (seen.CreateRGB(shot.width, shot.height, 24, 8, 8, 8, 0, 8, 16, 0)) {
        for (int32_t y = 0; y < shot.height; ++y)
            for (int32_t x = 0; x < shot.width; ++x) {
                const uint32_t v = shot.pixels[static_cast<size_t>(y) * shot.width + x];
                uint8_t* p = seen.data + y * seen.pitch + x * 3;
                p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8);
                p[2] = static_cast<uint8_t>(v >> 16);
            }
        file = tvtest::WriteBmp("fs-shot", seen, nullptr);
    }
    return ::testing::AssertionFailure()
           << bad << " pixels differ on the X screen (screenshot in " << file << ")";
}

// Runs frames and takes screenshots until the X screen shows the picture,
// for at most about five seconds; the last comparison is the answer.
::testing::AssertionResult EventuallyShows(const std::string& name, const CBitmap& img, const CPalette& pal,
                                           int32_t atX, int32_t atY)
{
    ::testing::AssertionResult last = ::testing::AssertionFailure() << "no screenshot";
    for (int32_t attempt = 0; attempt < 25; ++attempt) {
        for (int32_t i = 0; i < 5; ++i) {
            xHandler();
            usleep(20000);
        }
        if (std::system("xwd -root -silent -out fs.xwd") != 0)
            continue;
        tvtest::Shot shot;
        if (!tvtest::ReadXwd("fs.xwd", shot))
            continue;
        last = ShotShows(shot, img, pal, atX, atY);
        if (last)
            return last;
    }
    return last << " (" << name << "; picture in " << tvtest::WriteBmp(name, img, &pal) << ")";
}

// Frames until the window's full-screen flag and size are as wanted
// (bounded: about five seconds).
bool WindowSettles(bool fullScreen, int32_t w, int32_t h)
{
    SDL_Window* win = tvp::SdlWindow(sglb->mainWindow);
    for (int32_t i = 0; i < 250; ++i) {
        xHandler();
        int ww = 0, wh = 0;
        SDL_GetWindowSize(win, &ww, &wh);
        const bool full = (SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN) != 0;
        if (full == fullScreen && ww == w && wh == h)
            return true;
        usleep(20000);
    }
    return false;
}

void DrawPicture(CScreenBase* s, int32_t w, int32_t h, uint8_t tint)
{
    s->FillRect(0, 0, w, h, TRGBA(10, 60, tint));
    for (int32_t i = 0; i < 16; ++i)
        s->FillRect(i * 37, i * 25, 60, 40, TRGBA(i * 15, 255 - i * 15, 128));
    s->DrawLine(0, h - 1, w - 1, 0, TRGBA(255, 255, 255));
}

class XvfbFullScreenInner : public tvtest::ScreenTest
{
  protected:
    void SetUp() override
    {
        if (!Inside())
            GTEST_SKIP() << "runs inside xvfb-run, started by XvfbFullScreen";
        tvtest::ScreenTest::SetUp();
    }
};

TEST_F(XvfbFullScreenInner, FullScreenAndBackKeepsTheWindowAndItsPicture)
{
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    CDibScreen* dib = Screen();
    CDxScreen* dx = sglb->dxScreen;
    ASSERT_NE(dx, nullptr);
    ASSERT_TRUE(dib->InitModeRez(640, 480, 24, XVMODE_WINDOW));
    ASSERT_TRUE(WindowSettles(false, 640, 480));
    int32_t x0, y0, w0, h0;
    ASSERT_TRUE(tvp::GetWindowRect(sglb->mainWindow, x0, y0, w0, h0));
    DrawPicture(dib, 640, 480, 110);
    EXPECT_TRUE(EventuallyShows("fs-window-before", *dib->GetScreenBitmap(), dib->palette, x0, y0));

    // The whole display: the same picture on both pages, so every flip shows it.
    for (int32_t bits : {16, 24}) {
        SCOPED_TRACE(bits);
        dib->ExitMode();
        ASSERT_TRUE(dx->GetVideoModes());
        ASSERT_TRUE(dx->InitModeRez(1024, 768, bits, XVMODE_FULLSCREEN)) << tvtest::LastError();
        ASSERT_TRUE(WindowSettles(true, 1024, 768));
        for (int32_t page = 0; page < 2; ++page) {
            DrawPicture(dx, 1024, 768, 200);
            dx->FlipPage();
        }
        EXPECT_TRUE(EventuallyShows("fs-full-" + std::to_string(bits), *dx->GetScreenBitmap(), dx->palette,
                                    dx->offsetX, dx->offsetY));

        // And back: the window of before, showing its picture.
        dx->ExitMode();
        ASSERT_TRUE(dib->GetVideoModes());
        ASSERT_TRUE(dib->InitModeRez(640, 480, 24, XVMODE_WINDOW));
        ASSERT_TRUE(WindowSettles(false, 640, 480));
        int32_t x1, y1, w1, h1;
        ASSERT_TRUE(tvp::GetWindowRect(sglb->mainWindow, x1, y1, w1, h1));
        EXPECT_EQ(w1, w0);
        EXPECT_EQ(h1, h0);
        DrawPicture(dib, 640, 480, 110);
        EXPECT_TRUE(EventuallyShows("fs-window-after-" + std::to_string(bits), *dib->GetScreenBitmap(),
                                    dib->palette, x1, y1));
    }
}

// The outer test: a real X server for the inner one.
TEST(XvfbFullScreen, InnerTestPassesInARealXServer)
{
    if (Inside())
        GTEST_SKIP() << "already inside";
    if (!tvtest::OnPath("xvfb-run") || !tvtest::OnPath("Xvfb") || !tvtest::OnPath("xwd"))
        GTEST_SKIP() << "xvfb-run, Xvfb or xwd is not installed";
    std::string out;
    const int rc = tvtest::RunSelfInXServer(kChildVar, "XvfbFullScreenInner.*", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

} // namespace
