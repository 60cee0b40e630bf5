// The pointer, cursors and clipboard of the window system, run headless:
// answers without a window system, cut-short clipboard reads, and cursor
// handles that outlive the window system.
#include "platform/platform.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

int32_t Noop(HWND, uint32_t, uint32_t, int32_t) { return 0; }

TEST(PlatformPointer, NothingWithoutTheWindowSystem)
{
    ASSERT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    EXPECT_FALSE(tvp::HasMouse());
    EXPECT_EQ(tvp::LoadSystemCursor(tvp::SystemCursor::Arrow), 0);
    const uint8_t pixel[4] = {1, 2, 3, 255};
    EXPECT_EQ(tvp::CreateColorCursor(pixel, 1, 1, 0, 0), 0);
    EXPECT_FALSE(tvp::SetCursor(1));
    tvp::FreeCursor(1);
    EXPECT_EQ(tvp::GetClipboardText(nullptr, 0), -1);
    EXPECT_FALSE(tvp::SetClipboardText("x"));
    int32_t x = 0, y = 0;
    EXPECT_FALSE(tvp::GetMousePos(nullptr, x, y));
    EXPECT_FALSE(tvp::WarpMouse(nullptr, 1, 1));
    EXPECT_FALSE(tvp::GetClientSize(nullptr, x, y));
}

TEST(PlatformPointer, ClipboardReadsAreCutAndClosed)
{
    ASSERT_TRUE(tvp::VideoStartup());
    struct Case {
        int32_t size;
        std::string got;
    };
    ASSERT_TRUE(tvp::SetClipboardText("abc\xE9"));
    const Case cases[] = {{0, ""}, {1, ""}, {3, "ab"}, {5, "abc\xE9"}, {64, "abc\xE9"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        char buf[64];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(tvp::GetClipboardText(c.size > 0 ? buf : nullptr, c.size), 4) << "the full length";
        if (c.size > 0) {
            EXPECT_EQ(std::string(buf), c.got);
        }
    }
    ASSERT_TRUE(tvp::SetClipboardText(""));
    EXPECT_EQ(tvp::GetClipboardText(nullptr, 0), -1) << "empty is no text";
    struct Conv {
        const char* utf8;
        const char* latin1;
    };
    const Conv conversions[] = {
        {"plain", "plain"},
        {"\xC3\xA9t\xC3\xA9", "\xE9t\xE9"},
        {"\xE2\x82\xAC", "?"},       // beyond the 8-bit set
        {"\xC0\xAF", "?"},           // an over-long slash
        {"\xC3", "?"},               // cut short at the end
        {"a\xC3z", "a?z"},           // cut short in the middle: z survives
        {"\xF0\x9F\x98\x80!", "?!"}, // four bytes
    };
    for (const Conv& c : conversions) {
        SCOPED_TRACE(c.utf8);
        char out[32];
        tvp::ClipboardLatin1FromUtf8(c.utf8, out, sizeof out);
        EXPECT_EQ(std::string(out), c.latin1);
    }
    tvp::VideoShutdown();
}

TEST(PlatformPointer, CursorHandlesOutliveTheWindowSystemHarmlessly)
{
    ASSERT_TRUE(tvp::VideoStartup());
    ASSERT_NE(tvp::RegisterClass("TvPointer", Noop, 0), 0);
    HWND w = tvp::CreateWindow("TvPointer", "pointer", 0, 0, 0, 200, 100);
    ASSERT_NE(w, nullptr);
    int32_t cw = 0, ch = 0;
    EXPECT_TRUE(tvp::GetClientSize(w, cw, ch));
    EXPECT_EQ(cw, 200);
    EXPECT_EQ(ch, 100);
    EXPECT_TRUE(tvp::HasMouse());
    // Whatever the driver offers (offscreen: nothing), handles stay usable.
    const int32_t arrow = tvp::LoadSystemCursor(tvp::SystemCursor::Arrow);
    if (arrow != 0) {
        EXPECT_TRUE(tvp::SetCursor(arrow));
        EXPECT_EQ(tvp::GetCursor(), arrow);
    }
    const uint8_t bad[4] = {};
    EXPECT_EQ(tvp::CreateColorCursor(nullptr, 1, 1, 0, 0), 0);
    EXPECT_EQ(tvp::CreateColorCursor(bad, 0, 1, 0, 0), 0);
    EXPECT_EQ(tvp::CreateColorCursor(bad, 1, -1, 0, 0), 0);
    tvp::ShowCursor(false);
    EXPECT_FALSE(tvp::IsCursorShown());
    tvp::ShowCursor(true);
    EXPECT_TRUE(tvp::IsCursorShown());
    EXPECT_TRUE(tvp::WarpMouse(w, 150, 60));
    int32_t x = 0, y = 0;
    EXPECT_TRUE(tvp::GetMousePos(w, x, y));
    EXPECT_EQ(x, 150);
    EXPECT_EQ(y, 60);
    ASSERT_TRUE(tvp::DestroyWindow(w));
    ASSERT_TRUE(tvp::UnregisterClass("TvPointer"));
    tvp::VideoShutdown();
    ASSERT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    // The window system took its cursors with it: the old handle is unknown.
    EXPECT_FALSE(tvp::SetCursor(arrow));
    EXPECT_EQ(tvp::GetCursor(), 0);
    tvp::FreeCursor(arrow);
    tvp::Msg m{};
    while (tvp::PeekMessage(m, true)) {
    }
}

} // namespace
