// Clicks through the frame handler however their messages fall into frames:
// a press and release taken within one frame still act exactly once on a
// button, a list box and a check box, and the root's reading of the mouse
// leaves the application's went-down and went-up bits alone.
#include "ctl_fixture.h"

#include <tarvex/button.h>
#include <tarvex/checkbox.h>
#include <tarvex/listbox.h>
#include <tarvex/mouse.h>

#include <algorithm>
#include <string>

namespace
{

using tvtest::CtlTest;

constexpr int32_t kId = 70;

class QuickClick : public CtlTest
{
  protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        ASSERT_TRUE(OpenInput());
        // The mouse takes its first move as where the pointer started.
        Post(WM_MOUSEMOVE, 0, 300, 300);
    }
    void TearDown() override
    {
        RemoveControl();
        CtlTest::TearDown();
    }
    void RemoveControl()
    {
        if (ctl == nullptr)
            return;
        win->RemoveAllCntrl();
        ctl->Destroy();
        XDELETE(ctl);
        ctl = nullptr;
    }
    static void Send(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
    {
        ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, msg, keys, MAKELPARAM(x, y)));
    }
    static void Frames(int32_t n)
    {
        for (int32_t i = 0; i < n; ++i)
            xHandler();
    }
    // An application that reads (and so clears) the went-down and went-up
    // bits from the mouse's callback, before the root's turn in the frame.
    static void ReadBits(int32_t, int32_t, int32_t)
    {
        int32_t st = 0;
        glb->mouse->GetBtnState(&st);
    }
    CControlBase* ctl = nullptr;
};

enum class Kind { Button, List, Check };
enum class Timing {
    Quick,         // press and release taken in the same frame
    QuickAppReads, // the same, the application reading GetBtnState on every message
    Slow,          // press in one frame, release in the next
};

TEST_F(QuickClick, ActsOncePerClickWhateverTheFrames)
{
    struct Case {
        const char* name;
        Kind kind;
        Timing timing;
        int32_t clicks;
    };
    const Case cases[] = {
        {"button, quick", Kind::Button, Timing::Quick, 1},
        {"button, quick, application reads", Kind::Button, Timing::QuickAppReads, 1},
        {"button, slow", Kind::Button, Timing::Slow, 1},
        {"button, two quick clicks", Kind::Button, Timing::Quick, 2},
        {"list, quick", Kind::List, Timing::Quick, 1},
        {"list, quick, application reads", Kind::List, Timing::QuickAppReads, 1},
        {"list, slow", Kind::List, Timing::Slow, 1},
        {"check box, quick", Kind::Check, Timing::Quick, 1},
        {"check box, quick, application reads", Kind::Check, Timing::QuickAppReads, 1},
        {"check box, slow", Kind::Check, Timing::Slow, 1},
        {"check box, two quick clicks", Kind::Check, Timing::Quick, 2},
    };
    // Window (10, 10); clicked at (40, 41) in it: on the button, on the
    // list's second row, on the check box.
    const int32_t x = wx + 40, y = wy + 41;
    for (const Case& c : cases) {
        OpenWindow();
        int32_t note = 0, note2 = -1; // the notes that mean it acted
        if (c.kind == Kind::Button) {
            auto* b = XNEW(CButton);
            static char text[] = "Go";
            ASSERT_EQ(b->Create(kId, text, 10, 10, 80, 40, 0, CNTRL_EXTRUDED), 1);
            ctl = b;
            note = 2;
        } else if (c.kind == Kind::List) {
            auto* l = XNEW(CListbox);
            ASSERT_EQ(l->Create(kId, 10, 10, 120, 62, 20, 0), 1);
            for (const char* t : {"one", "two", "three"}) {
                std::string s = t;
                ASSERT_EQ(l->Add(s.data()), 1);
            }
            ctl = l;
            note = 15;
        } else {
            auto* k = XNEW(CCheckbox);
            static char text[] = "Remember";
            // Clicked where the box's own tests click it: (20, 10) in it.
            ASSERT_EQ(k->Create(kId, text, 20, 31, 100, 20, 0, 0, 0), 1);
            ctl = k;
            note = 6; // checked
            note2 = 7; // unchecked
        }
        win->AddCntrl(ctl);
        tvtest::g_ctlNotes.clear();
        glb->mouse->SetUpdateCallback(c.timing == Timing::QuickAppReads ? ReadBits : nullptr);
        Send(WM_MOUSEMOVE, 0, x, y);
        Frames(2);
        for (int32_t i = 0; i < c.clicks; ++i) {
            Send(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
            if (c.timing == Timing::Slow)
                Frames(2);
            Send(WM_LBUTTONUP, 0, x, y);
            Frames(2);
        }
        // Nothing more comes: the press is not routed again.
        Frames(5);
        const auto notes = Notes(kId);
        const int32_t acted = static_cast<int32_t>(std::count_if(
            notes.begin(), notes.end(), [&](const tvtest::Note& n) { return n.msg == note || n.msg == note2; }));
        EXPECT_EQ(acted, c.clicks) << c.name;
        if (c.kind == Kind::List) {
            EXPECT_EQ(ctl->GetSelected(), 2) << c.name;
        } else if (c.kind == Kind::Check) {
            EXPECT_EQ(ctl->GetState(), c.clicks % 2 ? XGUI_CHECKED : XGUI_UNCHECKED) << c.name;
        }
        glb->mouse->SetUpdateCallback(nullptr);
        RemoveControl();
        CloseWindow();
    }
}

TEST_F(QuickClick, RootLeavesTheApplicationsButtonBits)
{
    OpenWindow();
    int32_t st = 0;
    glb->mouse->GetBtnState(&st);
    Send(WM_MOUSEMOVE, 0, wx + 40, wy + 40);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, wx + 40, wy + 40);
    Send(WM_LBUTTONUP, 0, wx + 40, wy + 40);
    Send(WM_RBUTTONDOWN, MK_RBUTTON, wx + 40, wy + 40);
    for (int32_t i = 0; i < 4; ++i)
        xHandler();
    EXPECT_EQ(glb->mouse->GetBtnState(&st), TRUE);
    EXPECT_EQ(st, 0x2 | 0x100 | 0x200 | 0x10000);
    glb->mouse->GetBtnState(&st);
    EXPECT_EQ(st, 0x2);
    Send(WM_RBUTTONUP, 0, wx + 40, wy + 40);
    xHandler();
}

} // namespace
