// Check boxes, radio buttons and group boxes: toggling once per press, the
// hotkey, read-only and disabled boxes, selection moving through a group
// (the old member sends 7), silent selection by code, a handler that
// destroys the window from a selection note, and the look sheet's check mark
// on the box.
#include "controls_util.h"

#include <tarvex/resdata.h>

#include <string>

namespace
{

using tvtest::ControlTest;
using tvtest::Ev;
using tvtest::Heard;
using tvtest::K;
using tvtest::M;

class Checks : public ControlTest
{
};

// The box at (10, 10), 100 x 20; (30, 20) is on it.
TEST_F(Checks, CheckboxTogglesOncePerPress)
{
    struct Case {
        const char* name;
        int32_t flags;
        std::vector<Ev> events;
        int32_t state;
        std::vector<int32_t> notes;
    };
    const int32_t in = 30;
    const Case cases[] = {
        {"click checks", 0, {M(in, 20), M(in, 20, 1), M(in, 20)}, XGUI_CHECKED, {6}},
        {"held for frames toggles once",
         0,
         {M(in, 20), M(in, 20, 1), M(in, 20, 1), M(in, 22, 1), M(in, 20)},
         XGUI_CHECKED,
         {6}},
        {"two clicks",
         0,
         {M(in, 20), M(in, 20, 1), M(in, 20), M(in, 20, 1), M(in, 20)},
         XGUI_UNCHECKED,
         {6, 7}},
        {"press outside then move on", 0, {M(200, 150, 1), M(in, 20, 1), M(in, 20)}, XGUI_UNCHECKED, {}},
        {"starts checked", CNTRL_CHECKED, {M(in, 20), M(in, 20, 1), M(in, 20)}, XGUI_UNCHECKED, {7}},
        {"hotkey held", 0, {K('c', 1), K('c', 1), K('c', 0)}, XGUI_CHECKED, {6, 2}},
        {"hotkey twice", 0, {K('c', 1), K('c', 0), K('c', 1), K('c', 0)}, XGUI_UNCHECKED, {6, 2, 7, 2}},
        {"read-only", CNTRL_READONLY, {M(in, 20), M(in, 20, 1), M(in, 20), K('c', 1)}, XGUI_UNCHECKED, {}},
    };
    for (const Case& c : cases) {
        log.clear();
        CCheckbox box;
        static char text[] = "Remember me";
        ASSERT_EQ(box.Create(21, text, 10, 10, 100, 20, 0, 'c', c.flags), 1);
        EXPECT_NE(box.GetFlags() & CNTRL_HASBITMAP, 0) << c.name;
        win->AddCntrl(&box);
        Feed(c.events);
        EXPECT_EQ(box.GetState(), c.state) << c.name;
        std::vector<int32_t> got;
        for (const Heard& h : log)
            got.push_back(h.msg);
        EXPECT_EQ(got, c.notes) << c.name;
        win->RemoveCntrl(&box);
        box.Destroy();
    }
}

TEST_F(Checks, DisabledBoxKeepsItsState)
{
    CCheckbox box;
    box.Create(21, nullptr, 10, 10, 100, 20, 1, 0, CNTRL_CHECKED);
    EXPECT_EQ(box.GetFlags() & CNTRL_HASBITMAP, 0);
    win->AddCntrl(&box);
    win->Enable(0);
    EXPECT_EQ(box.GetState(), XGUI_DISABLED);
    Feed({M(30, 20), M(30, 20, 1), M(30, 20)});
    EXPECT_TRUE(log.empty());
    win->Enable(1);
    EXPECT_EQ(box.GetState(), XGUI_CHECKED);
    // Never checked, disabled, enabled: not checked rather than released.
    CCheckbox other;
    other.Create(22, nullptr, 10, 40, 100, 20, 0, 0, 0);
    other.rememberedState = XGUI_NOSTATE;
    other.state = other.pendingState = XGUI_DISABLED;
    other.SetState(XGUI_RELEASED);
    EXPECT_EQ(other.GetState(), XGUI_UNCHECKED);
    // The mouse area follows position and size.
    box.SetPos(50, 60);
    box.SetSize(40, 10);
    CRect r;
    box.GetMouseArea(&r);
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.bottom, 69);
    win->RemoveCntrl(&box);
    box.Destroy();
    other.Destroy();
}

// The check mark of the committed look sheet, as the sample script makes it
// the default, shows on the (light) face of a checked box, and nothing of it
// shows on an unchecked one.
TEST_F(Checks, LookSheetCheckMarkShowsOnTheBox)
{
    ASSERT_TRUE(Open(640, 480, 24));
    const std::string script = "; script\n{ = Bitmaps\n    { = \"" + std::string(TARVEX_SOURCE_DIR) +
                               "/data/gui/look.bmp\"\n        CHECK = 12, 0, 12, 12\n    }\n}\n" +
                               "{ = Defaults\n    Check = CHECK\n}\n";
    CResData res;
    ASSERT_TRUE(res.Import(script.c_str()));
    ASSERT_EQ(res.GetNumErrors(), 0);
    ASSERT_EQ(glb->rootWindow->defCheck, res.GetBm("CHECK"));
    CCheckbox on, off;
    on.Create(21, nullptr, 10, 10, 100, 20, 1, 0, CNTRL_CHECKED);
    off.Create(22, nullptr, 10, 40, 100, 20, 1, 0, 0);
    win->AddCntrl(&on);
    win->AddCntrl(&off);
    DrawAll();
    // The box's inside: 13 pixels square at (12, y + 3) with a 1-pixel rim.
    auto marked = [&](int32_t top) {
        const CBitmap* b = Screen()->GetScreenBitmap();
        TRGBA face, c;
        b->GetPixel(13, top + 4, &face);
        int32_t n = 0;
        for (int32_t y = top + 4; y < top + 15; ++y)
            for (int32_t x = 13; x < 24; ++x)
                if (b->GetPixel(x, y, &c) && (c.r != face.r || c.g != face.g || c.b != face.b))
                    ++n;
        return n;
    };
    EXPECT_GE(marked(10), 8);
    EXPECT_EQ(marked(40), 0);
    win->RemoveAllCntrl();
    on.Destroy();
    off.Destroy();
}

// Three radio buttons 11, 12, 13 at y = 10, 40, 70 in a group box.
class Radios : public ControlTest
{
  protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        static char caption[] = "Server";
        group.Create(30, caption, 0, 0, 150, 100, 0);
        win->AddCntrl(&group);
        for (int32_t i = 0; i < 3; ++i) {
            static char text[] = "choice";
            radio[i].Create(11 + i, text, 10, 10 + 30 * i, 100, 20, 0, static_cast<int16_t>('1' + i), 0);
            win->AddCntrl(&radio[i]);
            radio[i].SetParent(win->id, win, &group);
        }
    }
    void TearDown() override
    {
        win->RemoveAllCntrl();
        for (CRadiobutton& r : radio)
            r.Destroy();
        group.Destroy();
        ControlTest::TearDown();
    }
    void Press(int32_t i) { Feed({M(30, 20 + 30 * i), M(30, 20 + 30 * i, 1), M(30, 20 + 30 * i)}); }
    CGroupbox group;
    CRadiobutton radio[3];
};

TEST_F(Radios, SelectionMovesThroughTheGroup)
{
    struct Case {
        const char* name;
        int32_t preset;             // SetSelected before the events (no notes)
        std::vector<int32_t> press; // radio indexes pressed; -1: hotkey of radio 2
        int32_t selected;
        std::vector<Heard> notes;
    };
    const Case cases[] = {
        {"first selection", 0, {0}, 11, {{6, 11}}},
        {"selecting another deselects the first", 0, {0, 1}, 12, {{6, 11}, {6, 12}, {7, 11}}},
        {"selected again: nothing", 0, {1, 1}, 12, {{6, 12}}},
        {"hotkey selects", 0, {-1}, 13, {{6, 13}}},
        {"set by code, then pressed", 12, {2}, 13, {{6, 13}, {7, 12}}},
        {"cleared by code", -1, {}, 0, {}},
    };
    for (const Case& c : cases) {
        group.SetSelected(0);
        if (c.preset > 0) {
            EXPECT_EQ(group.SetSelected(c.preset), 1) << c.name;
        }
        if (c.preset < 0) {
            group.SetSelected(13);
            group.SetSelected(0);
        }
        log.clear();
        for (int32_t i : c.press) {
            if (i < 0)
                Feed({K('3', 1), K('3', 0)});
            else
                Press(i);
            Feed({M(280, 190)});
        }
        EXPECT_EQ(group.GetSelected(), c.selected) << c.name;
        EXPECT_EQ(log, c.notes) << c.name;
        int32_t checked = 0;
        for (CRadiobutton& r : radio)
            checked += r.IsChecked();
        EXPECT_EQ(checked, c.selected != 0 ? 1 : 0) << c.name;
    }
    EXPECT_EQ(group.SetSelected(99), 0);
}

TEST_F(Radios, MembersComeAndGo)
{
    EXPECT_EQ(group.NumMembers(), 3);
    EXPECT_EQ(group.Add(&radio[0]), 1); // already a member
    EXPECT_EQ(group.NumMembers(), 3);
    EXPECT_EQ(group.Add(nullptr), 0);
    EXPECT_EQ(group.Remove(&radio[0]), 1);
    EXPECT_EQ(radio[0].group, nullptr);
    EXPECT_EQ(group.Remove(&radio[0]), 0);
    // Outside the group, selecting it leaves the group's choice alone.
    Press(1);
    Press(0);
    EXPECT_EQ(group.GetSelected(), 12);
    EXPECT_TRUE(radio[0].IsChecked());
    // A destroyed member leaves its group.
    radio[2].Destroy();
    EXPECT_EQ(group.NumMembers(), 1);
    // Another group takes a member from the first.
    CGroupbox other;
    other.Create(31, nullptr, 0, 0, 10, 10, 0);
    EXPECT_EQ(other.Add(&radio[1]), 1);
    EXPECT_EQ(group.NumMembers(), 0);
    EXPECT_EQ(radio[1].group, &other);
    other.Destroy();
    EXPECT_EQ(radio[1].group, nullptr);
}

// A selection handler that destroys the window, the group and its members.
struct Owned {
    CWindow* win;
    CGroupbox* group;
    CRadiobutton* radio[2];
};
Owned* g_owned = nullptr;
std::vector<Heard>* g_seen = nullptr;

void DestroyOnSelect(int32_t msg, int32_t windowId, int32_t control, int32_t, void*)
{
    g_seen->push_back({msg, control});
    if (msg != 6 || g_owned->win == nullptr)
        return;
    glb->rootWindow->RemoveWindow(windowId);
    g_owned->win->Destroy();
    XDELETE(g_owned->win);
    g_owned->win = nullptr;
    for (CRadiobutton*& r : g_owned->radio) {
        r->Destroy();
        XDELETE(r);
        r = nullptr;
    }
    XDELETE(g_owned->group);
    g_owned->group = nullptr;
}

TEST_F(Checks, HandlerDestroysTheWindowOnSelect)
{
    Owned o{};
    o.win = XNEW(CWindow);
    static char title[] = "Pick";
    o.win->Create(2, title, 0, 0, 200, 100, 0);
    glb->rootWindow->AddWindow(o.win, DestroyOnSelect, nullptr);
    o.group = XNEW(CGroupbox);
    o.group->Create(30, nullptr, 0, 0, 150, 100, 0);
    for (int32_t i = 0; i < 2; ++i) {
        o.radio[i] = XNEW(CRadiobutton);
        o.radio[i]->Create(11 + i, nullptr, 10, 10 + 30 * i, 100, 20, 0, static_cast<int16_t>('a' + i), 0);
        o.win->AddCntrl(o.radio[i]);
        o.radio[i]->SetParent(2, o.win, o.group);
    }
    o.group->SetSelected(11);
    std::vector<Heard> seen;
    g_owned = &o;
    g_seen = &seen;
    // Called directly, outside the root's own pass.
    TGuiKey down{'b', 1};
    CRadiobutton* target = o.radio[1];
    target->GuiMsgHandler(0, 0, 0, 'b', &down);
    EXPECT_EQ(o.win, nullptr);
    EXPECT_EQ(o.group, nullptr);
    // The deselection of 11 was queued with the selection and is dropped
    // with the window.
    EXPECT_EQ(seen, (std::vector<Heard>{{6, 12}}));
}

} // namespace
