// The slider: range and thumb arithmetic (pages beyond the range, empty
// and huge ranges), the value for a track position, arrows, track and thumb
// driven by mouse messages with their notifications, a handler that destroys
// the slider, and its pictures at 8, 16 and 24 bits.
#include "ctl_fixture.h"

#include <tarvex/slider.h>

#include <climits>

namespace
{

using tvtest::CtlTest;

constexpr int32_t kId = 50;

class Slider : public CtlTest
{
};

TEST_F(Slider, RangeTable)
{
    struct Case {
        const char* name;
        int32_t w, h, flags, min, max, page, value;
        int32_t thumb, top, got, free;
    };
    // A 14 x 100 vertical slider: arrows of 14, 72 pixels between them.
    const Case cases[] = {
        {"a page as large as the range fills the track", 14, 100, 0, 0, 9, 10, 5, 72, 0, 0, 0},
        {"page share of the track", 14, 100, 0, 0, 99, 10, 95, 7, 90, 90, 65},
        {"the thumb is at least 6", 14, 100, 0, 0, 999, 1, 3, 6, 999, 3, 66},
        {"a page beyond the range is clamped", 14, 100, 0, 0, 4, 20, 3, 72, 0, 0, 0},
        {"min above max", 14, 100, 0, 5, 1, 1, 0, 72, 5, 5, 0},
        {"the whole 32-bit range", 14, 100, 0, INT32_MIN, INT32_MAX, 1000, 0, 6, INT32_MAX - 999, 0, 66},
        {"a page below 1 counts as 1", 14, 100, 0, 0, 71, 0, 80, 6, 71, 71, 66},
        {"horizontal", 100, 14, CNTRL_HSLIDER, 0, 99, 10, -5, 7, 90, 0, 65},
        {"no room between the arrows", 14, 20, 0, 0, 99, 10, 50, 0, 90, 50, 0},
    };
    for (const Case& c : cases) {
        CSlider s;
        ASSERT_EQ(s.Create(kId, 0, 0, c.w, c.h, c.min, c.max, c.value, c.page, c.flags), 1) << c.name;
        EXPECT_EQ(s.thumbLength, c.thumb) << c.name;
        EXPECT_EQ(s.topValue, c.top) << c.name;
        EXPECT_EQ(s.GetValue(), c.got) << c.name;
        EXPECT_EQ(s.FreeTrack(), c.free) << c.name;
        int32_t mn = 0, mx = 0, pg = 0;
        s.GetRange(mn, mx, pg);
        EXPECT_EQ(mn, c.min) << c.name;
        EXPECT_EQ(mx, c.max) << c.name;
        EXPECT_EQ(pg, std::max(c.page, 1)) << c.name;
        s.Destroy();
    }
}

TEST_F(Slider, ValueAtTable)
{
    CSlider s, full;
    s.Create(kId, 0, 0, 14, 100, 0, 99, 0, 10, 0); // free track 65
    full.Create(kId, 0, 0, 14, 100, 0, 9, 0, 10, 0);
    const struct {
        CSlider* s;
        int32_t along, value;
    } cases[] = {
        {&s, 14, 0}, {&s, 14 + 65, 90}, {&s, 0, 0}, {&s, 1000, 90}, {&s, 14 + 13, 18}, {&full, 50, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.s->ValueAt(c.along), c.value) << c.along;
    s.Destroy();
    full.Destroy();
}

// Mouse steps in slider-relative pixels of a 14 x 100 slider at (10, 10),
// range 0..99, page 10.
struct Step {
    int32_t x, y, buttons;
};

TEST_F(Slider, MouseTable)
{
    struct Case {
        const char* name;
        int32_t start;
        std::vector<Step> steps;
        int32_t value;
        int32_t notes; // notifications 14
    };
    const Case cases[] = {
        {"the first arrow lowers", 50, {{7, 7, 0}, {7, 7, 1}, {7, 7, 0}}, 49, 1},
        {"the second arrow raises", 50, {{7, 93, 0}, {7, 93, 1}, {7, 93, 0}}, 51, 1},
        {"held down it counts once", 50, {{7, 7, 0}, {7, 7, 1}, {7, 7, 1}, {7, 7, 1}, {7, 7, 0}}, 49, 1},
        {"nothing below min", 0, {{7, 7, 0}, {7, 7, 1}, {7, 7, 0}}, 0, 0},
        {"nothing above the largest value", 90, {{7, 93, 0}, {7, 93, 1}, {7, 93, 0}}, 90, 0},
        {"the track follows the held button",
         0,
         {{7, 80, 0}, {7, 80, 1}, {7, 14 + 13, 1}, {7, 14 + 13, 0}},
         18,
         2},
        {"the thumb is dragged", 0, {{7, 16, 0}, {7, 16, 1}, {7, 16 + 65, 1}, {7, 16 + 65, 0}}, 90, 1},
        {"outside: nothing", 50, {{40, 50, 0}, {40, 50, 1}, {7, 80, 1}, {7, 80, 0}}, 50, 0},
    };
    for (const Case& c : cases) {
        OpenWindow();
        CSlider s;
        s.Create(kId, 10, 10, 14, 100, 0, 99, c.start, 10, 0);
        win->AddCntrl(&s);
        tvtest::g_ctlNotes.clear();
        for (const Step& st : c.steps)
            Mouse(10 + st.x, 10 + st.y, st.buttons);
        EXPECT_EQ(s.GetValue(), c.value) << c.name;
        EXPECT_EQ(Notes(kId), N(kId, std::vector<int32_t>(static_cast<size_t>(c.notes), 14))) << c.name;
        // The arrows and the thumb report to the slider only.
        EXPECT_TRUE(Notes(kId + XSLIDER_LOWER).empty()) << c.name;
        EXPECT_TRUE(Notes(kId + XSLIDER_HIGHER).empty()) << c.name;
        win->RemoveAllCntrl();
        s.Destroy();
    }
}

CWindow* g_win = nullptr;
CSlider* g_slider = nullptr;
void DestroyOnValue(int32_t msg, int32_t windowId, int32_t controlId, int32_t, void*)
{
    tvtest::g_ctlNotes.push_back({msg, controlId});
    if (msg != 14 || g_win == nullptr)
        return;
    glb->rootWindow->RemoveWindow(windowId);
    g_win->Destroy();
    XDELETE(g_win);
    g_slider->Destroy();
    XDELETE(g_slider);
    g_win = nullptr;
}

TEST_F(Slider, HandlerMayDestroyTheWindow)
{
    ASSERT_TRUE(OpenInput());
    for (int32_t direct = 0; direct < 2; ++direct) {
        g_win = XNEW(CWindow);
        static char title[] = "t";
        g_win->Create(7, title, 0, 0, 100, 120, 0);
        glb->rootWindow->AddWindow(g_win, DestroyOnValue, nullptr);
        g_slider = XNEW(CSlider);
        g_slider->Create(kId, 10, 10, 14, 100, 0, 99, 50, 10, 0);
        g_win->AddCntrl(g_slider);
        if (direct) {
            // Straight to the slider: it hears of its end while sending.
            g_slider->GuiMsgHandler(8, 17, 17, 0, nullptr);
            g_slider->GuiMsgHandler(8, 17, 17, 1, nullptr);
        } else {
            PostClick(17, 80); // on the track
        }
        EXPECT_EQ(g_win, nullptr) << direct;
        xHandler();
    }
}

TEST_F(Slider, ArrowsThroughTheFrameHandler)
{
    ASSERT_TRUE(OpenInput());
    OpenWindow(100, 120);
    CSlider s;
    s.Create(kId, 10, 10, 14, 100, 0, 99, 50, 10, 0);
    win->AddCntrl(&s);
    // The first posted move of a test is not seen; hover elsewhere first.
    Post(WM_MOUSEMOVE, 0, 300, 300);
    PostClick(wx + 17, wy + 17);
    EXPECT_EQ(s.GetValue(), 49);
    PostClick(wx + 17, wy + 103);
    EXPECT_EQ(s.GetValue(), 50);
    EXPECT_EQ(Notes(kId), N(kId, {14, 14}));
    win->RemoveAllCntrl();
    s.Destroy();
}

// ---- pictures

class SliderPicture : public CtlTest, public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>>
{
};

TEST_P(SliderPicture, States)
{
    auto [bits, golden] = GetParam();
    ASSERT_TRUE(OpenScreen(bits));
    OpenWindow(200, 130, XWIN_FRAME);
    CSlider v, full, h, off;
    v.Create(1, 10, 10, 14, 110, 0, 99, 30, 10, 0);
    full.Create(2, 34, 10, 14, 110, 0, 9, 0, 10, 0);
    h.Create(3, 60, 10, 130, 14, 0, 99, 90, 25, CNTRL_HSLIDER);
    off.Create(4, 60, 40, 130, 14, 0, 99, 50, 10, CNTRL_HSLIDER);
    for (CSlider* s : {&v, &full, &h, &off})
        win->AddCntrl(s);
    off.SetState(XGUI_DISABLED);
    // The second arrow of the first slider held down.
    Mouse(17, 113, 0);
    Mouse(17, 113, 1);
    EXPECT_EQ(v.higher->GetState(), XGUI_PRESSED);
    EXPECT_TRUE(Picture("sliders_" + std::to_string(bits), golden));
    win->RemoveAllCntrl();
    for (CSlider* s : {&v, &full, &h, &off})
        s->Destroy();
}

INSTANTIATE_TEST_SUITE_P(Depths, SliderPicture,
                         ::testing::Values(std::pair<int32_t, uint32_t>{8, 3552963249u},
                                           std::pair<int32_t, uint32_t>{16, 817461193u},
                                           std::pair<int32_t, uint32_t>{24, 231245191u}));

} // namespace
