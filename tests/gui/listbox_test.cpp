// The list box and the combo box: selection by number and by mouse with
// notification 15, scrolling by the list's slider, entries of any kind, a
// refused field height, a handler that destroys the list, and their pictures
// at 8, 16 and 24 bits (with a gallery of the input controls written for a
// person to look at).
#include "ctl_fixture.h"

#include <tarvex/edit.h>
#include <tarvex/listbox.h>

#include <string>

namespace
{

using tvtest::CtlTest;

constexpr int32_t kId = 60;

class List : public CtlTest
{
  protected:
    // A list at (10, 10), 120 x 62: three entries of 20 show (border 1).
    CListbox* MakeList(int32_t entries)
    {
        OpenWindow();
        list = XNEW(CListbox);
        EXPECT_EQ(list->Create(kId, 10, 10, 120, 62, 20, 0), 1);
        for (int32_t i = 0; i < entries; ++i) {
            std::string t = "entry " + std::to_string(i + 1);
            EXPECT_EQ(list->Add(t.data()), 1);
        }
        win->AddCntrl(list);
        tvtest::g_ctlNotes.clear();
        return list;
    }
    void TearDown() override
    {
        if (list != nullptr) {
            win->RemoveAllCntrl();
            list->Destroy();
            XDELETE(list);
            list = nullptr;
        }
        CtlTest::TearDown();
    }
    // Window-relative centre of visible row r (0 = top).
    static int32_t RowY(int32_t r) { return 10 + 1 + r * 20 + 10; }
    CListbox* list = nullptr;
};

TEST_F(List, FieldHeightBelowOneIsRefused)
{
    for (int32_t fh : {0, -1, INT32_MIN}) {
        CListbox l;
        EXPECT_EQ(l.Create(kId, 0, 0, 100, 100, fh, 0), 0) << fh;
        char t[] = "x";
        EXPECT_EQ(l.Add(t), 0) << fh;
        l.Destroy();
    }
    CCombobox c;
    EXPECT_EQ(c.Create(kId, 0, 0, 100, 0, 60, 0, 0), 0);
    c.Destroy();
}

TEST_F(List, SelectionTable)
{
    struct Step {
        int32_t setSelected; // > 0 or < 0: SetSelected(value), 0: click
        int32_t clickRow;    // visible row clicked when setSelected is 0
    };
    struct Case {
        const char* name;
        int32_t entries;
        std::vector<Step> steps;
        int32_t selected, first;
        std::vector<int32_t> notes;
    };
    const Case cases[] = {
        {"by number", 5, {{2, 0}}, 2, 1, {15}},
        {"by number shows the entry", 5, {{5, 0}}, 5, 3, {15}},
        {"the same number again tells again", 5, {{2, 0}, {2, 0}}, 2, 1, {15, 15}},
        {"past the end: refused", 5, {{2, 0}, {6, 0}, {-1, 0}}, 2, 1, {15}},
        {"by mouse", 5, {{0, 1}}, 2, 1, {15}},
        {"the same entry again is no change", 5, {{0, 1}, {0, 1}}, 2, 1, {15}},
        {"below the last entry: nothing", 2, {{0, 2}}, 0, 1, {}},
        {"by mouse after scrolling", 5, {{5, 0}, {0, 0}}, 3, 3, {15, 15}},
    };
    for (const Case& c : cases) {
        MakeList(c.entries);
        for (const Step& s : c.steps) {
            if (s.setSelected != 0)
                list->SetSelected(s.setSelected);
            else
                Click(40, RowY(s.clickRow));
        }
        EXPECT_EQ(list->GetSelected(), c.selected) << c.name;
        EXPECT_EQ(list->firstVisible, c.first) << c.name;
        EXPECT_EQ(Notes(kId), N(kId, c.notes)) << c.name;
        if (c.selected > 0) {
            ASSERT_NE(list->GetSelectedControl(), nullptr) << c.name;
            EXPECT_EQ(std::string(list->GetSelectedControl()->GetTextBuffer(0)),
                      "entry " + std::to_string(c.selected))
                << c.name;
        }
        TearDown();
        SetUp();
    }
}

TEST_F(List, SliderScrollsTheEntries)
{
    MakeList(5);
    // Range 0 .. 5, page 3: the lowest values show entry 1, the largest 3.
    int32_t mn = 0, mx = 0, pg = 0;
    list->slider->GetRange(mn, mx, pg);
    EXPECT_EQ(mn, 0);
    EXPECT_EQ(mx, 5);
    EXPECT_EQ(pg, 3);
    const int32_t sx = 10 + 120 - 1 - 7, down = 10 + 62 - 1 - 7;
    for (int32_t i = 0; i < 4; ++i)
        Click(sx, down);
    EXPECT_EQ(list->firstVisible, 3);
    Click(40, RowY(0));
    EXPECT_EQ(list->GetSelected(), 3);
    // The slider's own changes reach only the list.
    EXPECT_EQ(Notes(kId), N(kId, {15}));
    EXPECT_TRUE(Notes(kId + 10002).empty());
    const int32_t up = 10 + 1 + 7;
    for (int32_t i = 0; i < 4; ++i)
        Click(sx, up);
    EXPECT_EQ(list->firstVisible, 1);
    int32_t fh = 0;
    EXPECT_EQ(list->GetFieldHeight(fh), 1);
    EXPECT_EQ(fh, 20);
    EXPECT_EQ(list->RemoveAll(), 1);
    EXPECT_EQ(list->GetNumEntries(), 0);
    EXPECT_EQ(list->GetSelected(), 0);
    EXPECT_EQ(list->GetSelectedControl(), nullptr);
}

TEST_F(List, EntriesOfAnyKindHearTheMouse)
{
    MakeList(1);
    auto* b = XNEW(CButton);
    static char t[] = "button";
    b->Create(99, t, 0, 0, 1, 1, 0, 0);
    EXPECT_EQ(list->Add(b), 1);
    EXPECT_EQ(list->GetEntry(2), b);
    Mouse(40, RowY(1), 0);
    Mouse(40, RowY(1), 1);
    EXPECT_EQ(b->GetState(), XGUI_PRESSED);
    EXPECT_EQ(list->GetSelected(), 2);
    Mouse(40, RowY(1), 0);
    // The entry's own notifications stay inside the list.
    EXPECT_TRUE(Notes(99).empty());
    EXPECT_EQ(list->Remove(1), 1);
    EXPECT_EQ(list->GetSelected(), 1);
    EXPECT_EQ(list->GetEntry(1), b);
}

TEST_F(List, RemovingEntriesLeavesNoBlankRows)
{
    MakeList(5);
    list->SetSelected(5);
    EXPECT_EQ(list->firstVisible, 3);
    EXPECT_EQ(list->Remove(1), 1);
    EXPECT_EQ(list->Remove(1), 1);
    EXPECT_EQ(list->firstVisible, 1);
    EXPECT_EQ(list->GetSelected(), 3);
}

CWindow* g_win = nullptr;
CControlBase* g_ctl = nullptr;
void DestroyOnSelection(int32_t msg, int32_t windowId, int32_t controlId, int32_t, void*)
{
    tvtest::g_ctlNotes.push_back({msg, controlId});
    if (msg != 15 || g_win == nullptr)
        return;
    glb->rootWindow->RemoveWindow(windowId);
    g_win->Destroy();
    XDELETE(g_win);
    g_ctl->Destroy();
    XDELETE(g_ctl);
    g_win = nullptr;
}

TEST_F(List, HandlerMayDestroyTheWindow)
{
    ASSERT_TRUE(OpenInput());
    Post(WM_MOUSEMOVE, 0, 300, 300);
    // List or combo box; by SetSelected, straight mouse messages or
    // through the frame handler.
    for (int32_t combo = 0; combo < 2; ++combo)
        for (int32_t how = 0; how < 3; ++how) {
            g_win = XNEW(CWindow);
            static char title[] = "t";
            g_win->Create(7, title, 0, 0, 200, 150, 0);
            glb->rootWindow->AddWindow(g_win, DestroyOnSelection, nullptr);
            char a[] = "a", b[] = "b";
            if (combo) {
                auto* c = XNEW(CCombobox);
                c->Create(kId, 10, 10, 120, 20, 62, 0, 0);
                c->Add(a);
                c->Add(b);
                c->Open(1);
                g_ctl = c;
            } else {
                auto* l = XNEW(CListbox);
                l->Create(kId, 10, 50, 120, 62, 20, 0);
                l->Add(a);
                l->Add(b);
                g_ctl = l;
            }
            g_win->AddCntrl(g_ctl);
            // The second entry's row in either control.
            const int32_t rx = 40, ry = combo ? 10 + 20 + 1 + 20 + 10 : 50 + 1 + 20 + 10;
            if (how == 0) {
                g_ctl->SetSelected(2);
            } else if (how == 1) {
                g_ctl->GuiMsgHandler(8, rx, ry, 0, nullptr);
                g_ctl->GuiMsgHandler(8, rx, ry, 1, nullptr);
            } else {
                PostClick(rx, ry);
            }
            EXPECT_EQ(g_win, nullptr) << combo << " " << how;
            xHandler();
        }
}

// ---- combo box

TEST_F(List, ComboTable)
{
    struct Step {
        int32_t x, y; // window-relative click; x < 0: DeleteFirst, x == 0: SetSelected(y)
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        int32_t open, selected, height;
        std::vector<int32_t> notes;
    };
    // At (10, 10), 120 x 20, list 62 below; drop button at x 116..129.
    const int32_t drop = 122, field = 40, row2 = 10 + 20 + 1 + 20 + 10;
    const Case cases[] = {
        {"the first entry is selected", {}, 0, 1, 20, {}},
        {"the drop button opens", {{drop, 20}}, 1, 1, 82, {}},
        {"and closes", {{drop, 20}, {drop, 20}}, 0, 1, 20, {}},
        {"the field opens too", {{field, 20}}, 1, 1, 82, {}},
        {"an entry picked closes the list", {{drop, 20}, {field, row2}}, 0, 2, 20, {15}},
        {"a click elsewhere closes", {{drop, 20}, {250, 150}}, 0, 1, 20, {}},
        {"by number", {{0, 3}}, 0, 3, 20, {15}},
        {"past the end: refused", {{0, 4}}, 0, 1, 20, {}},
        {"deleting the first keeps the number", {{-1, 0}}, 0, 1, 20, {}},
    };
    for (const Case& c : cases) {
        OpenWindow();
        auto* cb = XNEW(CCombobox);
        ASSERT_EQ(cb->Create(kId, 10, 10, 120, 20, 62, 0, 0), 1);
        char a[] = "one", b[] = "two", d[] = "three";
        cb->Add(a);
        cb->Add(b);
        cb->Add(d);
        win->AddCntrl(cb);
        tvtest::g_ctlNotes.clear();
        for (const Step& s : c.steps) {
            if (s.x < 0)
                cb->DeleteFirst();
            else if (s.x == 0)
                cb->SetSelected(s.y);
            else
                Click(s.x, s.y);
        }
        EXPECT_EQ(cb->IsOpen(), c.open) << c.name;
        EXPECT_EQ(cb->GetSelected(), c.selected) << c.name;
        EXPECT_EQ(cb->height, c.height) << c.name;
        EXPECT_EQ(Notes(kId), N(kId, c.notes)) << c.name;
        EXPECT_TRUE(Notes(kId + XCOMBO_DROP).empty()) << c.name;
        win->RemoveAllCntrl();
        cb->Destroy();
        XDELETE(cb);
    }
}

// ---- pictures

class ListPicture : public CtlTest, public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>>
{
};

TEST_P(ListPicture, States)
{
    auto [bits, golden] = GetParam();
    ASSERT_TRUE(OpenScreen(bits));
    OpenWindow(300, 200, XWIN_FRAME);
    CListbox list;
    CCombobox closed, open;
    list.Create(1, 10, 10, 130, 82, 20, CNTRL_EXTRUDED);
    closed.Create(2, 150, 10, 140, 22, 70, 0, 0);
    open.Create(3, 150, 50, 140, 22, 70, 0, 0);
    const char* names[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"};
    for (const char* n : names) {
        std::string t = n;
        list.Add(t.data());
        closed.Add(t.data());
        open.Add(t.data());
    }
    list.SetSelected(5);
    closed.SetSelected(2);
    open.Open(1);
    for (CControlBase* c : std::initializer_list<CControlBase*>{&list, &closed, &open})
        win->AddCntrl(c);
    const std::string name = "lists_" + std::to_string(bits);
    EXPECT_TRUE(Picture(name, golden));
    if (bits == 24) {
        // All the input controls together, for a person to look at.
        CEdit e;
        CMultiEdit m;
        CSlider s;
        char et[] = "edit field", mt[] = "multi-line\nedit field";
        e.Create(4, et, 10, 100, 130, 22, 20, CNTRL_EXTRUDED);
        m.Create(5, mt, 10, 130, 130, 50, 20, CNTRL_EXTRUDED);
        s.Create(6, 150, 150, 140, 14, 0, 99, 30, 20, CNTRL_HSLIDER);
        for (CControlBase* c : std::initializer_list<CControlBase*>{&e, &m, &s})
            win->AddCntrl(c);
        win->SetFocus(&e);
        Render();
        tvtest::WriteBmp("input_controls_gallery", *Screen()->GetScreenBitmap(), &Screen()->palette);
        for (CControlBase* c : std::initializer_list<CControlBase*>{&e, &m, &s}) {
            win->RemoveCntrl(c);
            c->Destroy();
        }
    }
    win->RemoveAllCntrl();
    for (CControlBase* c : std::initializer_list<CControlBase*>{&list, &closed, &open})
        c->Destroy();
}

INSTANTIATE_TEST_SUITE_P(Depths, ListPicture,
                         ::testing::Values(std::pair<int32_t, uint32_t>{8, 2386296721u},
                                           std::pair<int32_t, uint32_t>{16, 3002560240u},
                                           std::pair<int32_t, uint32_t>{24, 351296223u}));

} // namespace
