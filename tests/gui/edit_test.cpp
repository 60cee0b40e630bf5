// The edit fields: keys and caret, the maximum length, read-only, paste,
// mouse focus and its loss when the window goes to the back, rows of the
// multi-line field (caret moves, splits, joins, length and width limits) and
// its own sliders, a handler that destroys the field, and their pictures at
// 8, 16 and 24 bits.
#include "ctl_fixture.h"

#include <tarvex/edit.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace
{

using tvtest::CtlTest;
using tvtest::Note;

constexpr int32_t kId = 40;

// Key steps: a key code is pressed and released; a negative one is only
// released.
struct EditCase {
    const char* name;
    const char* init;
    int32_t maxLen;
    int32_t flags;
    bool focus;
    std::vector<int32_t> keys;
    const char* text;
    int32_t caret;
    std::vector<int32_t> notes;
};

class Edit : public CtlTest
{
};

TEST_F(Edit, KeysTable)
{
    const EditCase cases[] = {
        {"typing stops at the maximum length",
         "",
         3,
         0,
         true,
         {'a', 'b', 'c', 'd'},
         "abc",
         3,
         {0, 20, 0, 20, 0, 20, 0}},
        {"a maximum of 0 takes nothing", "", 0, 0, true, {'a'}, "", 0, {0}},
        {"a negative maximum takes nothing", "", -7, 0, true, {'a'}, "", 0, {0}},
        {"the initial text is cut", "hello", 3, 0, true, {}, "hel", 3, {}},
        {"insert at the caret", "ac", 10, 0, true, {XKEY_HOME, XKEY_RIGHT, 'b'}, "abc", 2, {0, 20}},
        {"caret stays inside the text",
         "ab",
         10,
         0,
         true,
         {XKEY_RIGHT, XKEY_RIGHT, XKEY_HOME, XKEY_LEFT},
         "ab",
         0,
         {}},
        {"backspace and delete",
         "abcd",
         10,
         0,
         true,
         {XKEY_END, XKEY_LEFT, XKEY_BSPACE, XKEY_DELETE},
         "ab",
         2,
         {20, 20}},
        {"backspace at the start does nothing", "ab", 10, 0, true, {XKEY_HOME, XKEY_BSPACE}, "ab", 0, {}},
        {"delete at the end does nothing", "ab", 10, 0, true, {XKEY_END, XKEY_DELETE}, "ab", 2, {}},
        {"read-only: no change, caret to the end",
         "ab",
         10,
         CNTRL_READONLY,
         true,
         {XKEY_HOME, 'x', XKEY_BSPACE},
         "ab",
         2,
         {0}},
        {"Enter is no character of a one-line field", "", 10, 0, true, {XKEY_ENTER}, "", 0, {0}},
        {"Enter is one with CNTRL_MULTILINE", "", 10, CNTRL_MULTILINE, true, {XKEY_ENTER}, "\r", 1, {0, 20}},
        {"shift, up and down are no characters",
         "",
         10,
         0,
         true,
         {XKEY_SHIFT, XKEY_UP, XKEY_DOWN},
         "",
         0,
         {0, 0, 0}},
        {"codes up to 255 are characters", "", 10, 0, true, {255, 32}, "\xff ", 2, {0, 20, 0, 20}},
        {"key-up alone does nothing", "", 10, 0, true, {-'a'}, "", 0, {}},
        {"without the focus no keys", "", 10, 0, false, {'a', XKEY_BSPACE}, "", 0, {}},
    };
    for (const EditCase& c : cases) {
        OpenWindow();
        CEdit e;
        std::string init = c.init;
        ASSERT_EQ(e.Create(kId, init.data(), 5, 5, 100, 20, c.maxLen, c.flags), 1) << c.name;
        EXPECT_NE(e.GetFlags() & CNTRL_TABSTOP, 0) << c.name;
        EXPECT_EQ(e.GetTextBufferSize(), std::max(c.maxLen, 0) + 1) << c.name;
        win->AddCntrl(&e);
        if (c.focus)
            win->SetFocus(&e);
        tvtest::g_ctlNotes.clear();
        for (int32_t k : c.keys) {
            if (k < 0) {
                Key(static_cast<uint16_t>(-k), false);
            } else {
                Key(static_cast<uint16_t>(k), true);
                Key(static_cast<uint16_t>(k), false);
            }
        }
        EXPECT_STREQ(e.GetTextBuffer(0), c.text) << c.name;
        EXPECT_EQ(e.GetCaret(), c.caret) << c.name;
        EXPECT_EQ(Notes(kId), N(kId, c.notes)) << c.name;
        win->RemoveAllCntrl();
        e.Destroy();
    }
}

TEST_F(Edit, HugeMaximumIsCut)
{
    CEdit e;
    CMultiEdit m;
    char t[] = "x";
    ASSERT_EQ(e.Create(kId, t, 0, 0, 50, 20, INT32_MAX, 0), 1);
    ASSERT_EQ(m.Create(kId, t, 0, 0, 50, 20, INT32_MAX, 0), 1);
    EXPECT_EQ(e.GetTextBufferSize(), XEDIT_MAXLEN + 1);
    EXPECT_EQ(m.maxLength, XEDIT_MAXLEN);
    EXPECT_STREQ(m.GetTextOnLine(0), "x");
    e.Destroy();
    m.Destroy();
}

TEST_F(Edit, MouseFocusesAndPlacesTheCaret)
{
    OpenWindow();
    CEdit a, b;
    char t1[] = "one", t2[] = "two";
    a.Create(kId, t1, 5, 5, 100, 20, 10, 0);
    b.Create(kId + 1, t2, 5, 40, 100, 20, 10, 0);
    win->AddCntrl(&a);
    win->AddCntrl(&b);
    Click(90, 10);
    EXPECT_EQ(win->focus, &a);
    EXPECT_EQ(a.GetState(), XGUI_HIGHLIGHT);
    EXPECT_EQ(a.GetCaret(), 3); // right of the text
    EXPECT_EQ(Notes(kId), N(kId, {1, 2}));
    // Pressing outside and releasing inside is no click.
    Mouse(200, 150, 1);
    Mouse(20, 45, 1);
    Mouse(20, 45, 0);
    EXPECT_TRUE(Notes(kId + 1).empty());
    Click(6, 45);
    EXPECT_EQ(win->focus, &b);
    EXPECT_EQ(a.GetState(), XGUI_RELEASED);
    EXPECT_EQ(b.GetCaret(), 0);
    // The caret blinks on the control's timer while focused.
    int32_t on = b.caretOn;
    b.TimerHandler(XEDIT_CARET_MS);
    EXPECT_NE(b.caretOn, on);
    win->RemoveAllCntrl();
    a.Destroy();
    b.Destroy();
}

TEST_F(Edit, PasteTable)
{
    struct Case {
        const char* name;
        bool focus;
        int32_t maxLen;
        const char* paste;
        const char* text;
    };
    const Case cases[] = {
        {"bounded by the buffer", true, 5, "hello world", "hello"},
        {"fits", true, 20, "hello", "hello"},
        {"no focused control: nothing", false, 20, "hello", "old"},
    };
    for (const Case& c : cases) {
        OpenWindow();
        CEdit e;
        char old[] = "old";
        e.Create(kId, old, 5, 5, 100, 20, c.maxLen, 0);
        win->AddCntrl(&e);
        if (c.focus)
            win->SetFocus(&e);
        std::string p = c.paste;
        glb->rootWindow->SendMessage(22, 0, 0, 0, p.data());
        EXPECT_STREQ(e.GetTextBuffer(0), c.text) << c.name;
        // Typing after the paste stays within the buffer.
        Type({'x', XKEY_END, 'y'});
        EXPECT_LE(static_cast<int32_t>(std::strlen(e.GetTextBuffer(0))), c.maxLen) << c.name;
        win->RemoveAllCntrl();
        e.Destroy();
    }
    // A pasted text replaces the field's text, leaves the caret at its end
    // and counts as a change (20).
    {
        OpenWindow();
        CEdit e;
        char old[] = "old";
        e.Create(kId, old, 5, 5, 100, 20, 20, 0);
        win->AddCntrl(&e);
        win->SetFocus(&e);
        tvtest::g_ctlNotes.clear();
        std::string p = "pasted";
        glb->rootWindow->SendMessage(22, 0, 0, 0, p.data());
        EXPECT_EQ(e.GetCaret(), 6);
        EXPECT_EQ(Notes(kId), N(kId, {20}));
        win->RemoveAllCntrl();
        e.Destroy();
    }
    // The multi-line field keeps its text in rows: a paste lands there, cut
    // at the row length.
    {
        OpenWindow();
        CMultiEdit m;
        char old[] = "old";
        m.Create(kId, old, 5, 5, 200, 60, 8, CNTRL_TABSTOP | CNTRL_EDITHSLIDER);
        win->AddCntrl(&m);
        win->SetFocus(&m);
        std::string p = "hello world";
        glb->rootWindow->SendMessage(22, 0, 0, 0, p.data());
        ASSERT_EQ(m.GetNumRows(), 1);
        EXPECT_STREQ(m.GetTextOnLine(0), "hello wo");
        win->RemoveAllCntrl();
        m.Destroy();
    }
}

// A handler that destroys the window holding the control at the first
// notification of the given kind.
CWindow* g_doomed = nullptr;
CControlBase* g_doomedCtl = nullptr;
int32_t g_killOn = 0;
void DestroyingHandler(int32_t msg, int32_t windowId, int32_t, int32_t, void*)
{
    tvtest::g_ctlNotes.push_back({msg, 0});
    if (msg != g_killOn || g_doomed == nullptr)
        return;
    glb->rootWindow->RemoveWindow(windowId);
    g_doomed->Destroy();
    XDELETE(g_doomed);
    g_doomed = nullptr;
    g_doomedCtl->Destroy();
    XDELETE(g_doomedCtl);
    g_doomedCtl = nullptr;
}

// The one-line field (a focused tab stop) hears its keys straight from its
// window, the last one to touch it; other input comes through the GUI root,
// which delivers notifications after its pass.
TEST_F(Edit, HandlerMayDestroyTheWindow)
{
    ASSERT_TRUE(OpenInput());
    const int32_t kinds[] = {0, 20, 1, 2};
    for (int32_t multi = 0; multi < 2; ++multi)
        for (int32_t kill : kinds) {
            if (multi && kill == 20)
                continue;
            g_doomed = XNEW(CWindow);
            static char title[] = "t";
            g_doomed->Create(7, title, 0, 0, 200, 100, 0);
            glb->rootWindow->AddWindow(g_doomed, DestroyingHandler, nullptr);
            CControlBase* c;
            if (multi) {
                auto* m = XNEW(CMultiEdit);
                m->Create(kId, nullptr, 5, 5, 100, 40, 10, 0);
                c = m;
            } else {
                auto* e = XNEW(CEdit);
                e->Create(kId, nullptr, 5, 5, 100, 20, 10, 0);
                c = e;
            }
            g_doomedCtl = c;
            g_doomed->AddCntrl(c);
            g_killOn = kill;
            if (kill == 0 || kill == 20) {
                g_doomed->SetFocus(c);
                TGuiKey k{'a', 1};
                if (multi) {
                    // Not a tab stop: the key goes to every control, so it
                    // comes through the root's pass.
                    glb->keyboard->AddKeyToQueue('a', XKEYF_DOWN, 0);
                    glb->rootWindow->MsgHandler(XMSG_CLEAR, 0, 0);
                } else {
                    g_doomed->GuiMsgHandler(0, 0, 0, 'a', &k);
                }
            } else {
                PostClick(10, 10);
            }
            EXPECT_EQ(g_doomed, nullptr) << "kind " << kill << " multi " << multi;
            if (g_doomed != nullptr) {
                glb->rootWindow->RemoveWindow(7);
                g_doomed->Destroy();
                XDELETE(g_doomed);
                g_doomedCtl->Destroy();
                XDELETE(g_doomedCtl);
            }
            xHandler();
        }
}

// ---- multi-line

struct MultiCase {
    const char* name;
    const char* init;
    int32_t maxLen;
    int32_t flags;
    int32_t row, col; // caret before the keys
    std::vector<int32_t> keys;
    const char* text; // rows joined by line breaks
    int32_t caretRow, caretCol;
};

TEST_F(Edit, MultiLineKeysTable)
{
    const MultiCase cases[] = {
        {"left from column 0 to the end of the row above",
         "ab\ncd",
         10,
         0,
         1,
         0,
         {XKEY_LEFT},
         "ab\ncd",
         0,
         2},
        {"right from the end to the next row", "ab\ncd", 10, 0, 0, 2, {XKEY_RIGHT}, "ab\ncd", 1, 0},
        {"left and right stop at the ends", "ab", 10, 0, 0, 0, {XKEY_LEFT, XKEY_END, XKEY_RIGHT}, "ab", 0, 2},
        {"down clamps the column", "abcd\nx", 10, 0, 0, 4, {XKEY_DOWN}, "abcd\nx", 1, 1},
        {"up keeps a column that fits", "abcd\nx", 10, 0, 1, 1, {XKEY_UP}, "abcd\nx", 0, 1},
        {"Enter splits the row", "abcd", 10, 0, 0, 2, {XKEY_ENTER}, "ab\ncd", 1, 0},
        {"Enter at column 0 inserts a row above", "ab", 10, 0, 0, 0, {XKEY_ENTER}, "\nab", 1, 0},
        {"Enter at the end adds an empty row", "ab", 10, 0, 0, 2, {XKEY_ENTER, 'c'}, "ab\nc", 1, 1},
        {"backspace at column 0 joins", "ab\ncd", 10, 0, 1, 0, {XKEY_BSPACE}, "abcd", 0, 2},
        {"delete at the end joins", "ab\ncd", 10, 0, 0, 2, {XKEY_DELETE}, "abcd", 0, 2},
        {"backspace and delete inside a row", "abcd", 10, 0, 0, 2, {XKEY_BSPACE, XKEY_DELETE}, "ad", 0, 1},
        {"backspace at the very start does nothing", "ab", 10, 0, 0, 0, {XKEY_BSPACE}, "ab", 0, 0},
        {"delete at the very end does nothing", "ab\ncd", 10, 0, 1, 2, {XKEY_DELETE}, "ab\ncd", 1, 2},
        {"a join that would not fit is refused", "ab\ncd", 3, 0, 1, 0, {XKEY_BSPACE}, "ab\ncd", 1, 0},
        {"typing stops at the row length", "", 3, 0, 0, 0, {'a', 'b', 'c', 'd'}, "abc", 0, 3},
        {"read-only moves but changes nothing",
         "ab",
         10,
         CNTRL_READONLY,
         0,
         1,
         {'x', XKEY_ENTER, XKEY_BSPACE, XKEY_DELETE, XKEY_RIGHT},
         "ab",
         0,
         2},
        {"an empty field gets its first row", nullptr, 10, 0, 0, 0, {'a'}, "a", 0, 1},
    };
    for (const MultiCase& c : cases) {
        OpenWindow();
        CMultiEdit m;
        std::string init = c.init != nullptr ? c.init : "";
        ASSERT_EQ(m.Create(kId, c.init != nullptr ? init.data() : nullptr, 5, 5, 200, 80, c.maxLen, c.flags),
                  1);
        win->AddCntrl(&m);
        win->SetFocus(&m);
        m.caretRow = c.row;
        m.caretCol = c.col;
        for (int32_t k : c.keys)
            Type({static_cast<uint16_t>(k)});
        char* all = nullptr;
        ASSERT_EQ(m.GetTextBuffer(all), 1);
        EXPECT_STREQ(all, c.text) << c.name;
        EXPECT_EQ(m.caretRow, c.caretRow) << c.name;
        EXPECT_EQ(m.caretCol, c.caretCol) << c.name;
        win->RemoveAllCntrl();
        m.Destroy();
    }
}

TEST_F(Edit, MultiLineRowsAndView)
{
    OpenWindow();
    CMultiEdit m;
    // Without a font a row is 16 pixels: two rows show in 34 pixels.
    char init[] = "a\nb\nc\nd";
    m.Create(kId, init, 5, 5, 100, 34, 4, 0);
    win->AddCntrl(&m);
    win->SetFocus(&m);
    EXPECT_EQ(m.GetNumRows(), 4);
    EXPECT_EQ(m.GetVisibleLines(), 2);
    Type({XKEY_DOWN, XKEY_DOWN, XKEY_DOWN});
    EXPECT_EQ(m.GetUpperLineNr(), 2);
    Type({XKEY_UP, XKEY_UP, XKEY_UP});
    EXPECT_EQ(m.GetUpperLineNr(), 0);
    m.SetUpperLineNr(99);
    EXPECT_EQ(m.GetUpperLineNr(), 3);
    char longer[] = "toolong", e2[] = "e";
    EXPECT_EQ(m.SetTextOnLine(1, longer), 1);
    EXPECT_STREQ(m.GetTextOnLine(1), "tool");
    EXPECT_EQ(m.SetTextOnLine(4, longer), 0);
    EXPECT_EQ(m.GetTextOnLine(-1), nullptr);
    EXPECT_EQ(m.AddNewLine(e2), 1);
    TRGBA red(255, 0, 0);
    EXPECT_EQ(m.SetTextColorOnLine(4, &red), 1);
    EXPECT_EQ(m.rows.GetNumNodes(), 5);
    EXPECT_EQ(m.DeleteFirstLine(), 1);
    EXPECT_STREQ(m.GetTextBuffer(0), "tool\nc\nd\ne");
    EXPECT_EQ(m.KillText(), 1);
    EXPECT_EQ(m.GetNumRows(), 0);
    EXPECT_EQ(m.DeleteFirstLine(), 0);
    char crlf[] = "x\r\ny\nignored";
    EXPECT_EQ(m.SetTextBuffer(crlf, 4), 1);
    EXPECT_STREQ(m.GetTextBuffer(0), "x\ny");
    win->RemoveAllCntrl();
    m.Destroy();
}

TEST_F(Edit, MultiLineRowFitsTheWidth)
{
    ASSERT_TRUE(OpenScreen(16));
    OpenWindow();
    CMultiEdit m, wide;
    m.Create(kId, nullptr, 5, 5, 60, 40, 50, 0);
    wide.Create(kId + 1, nullptr, 5, 50, 60, 40, 50, CNTRL_EDITHSLIDER);
    win->AddCntrl(&m);
    win->AddCntrl(&wide);
    for (CMultiEdit* e : {&m, &wide}) {
        win->SetFocus(e);
        Type(std::vector<uint16_t>(20, 'W'));
    }
    const int32_t room = 60 - 2 - 4;
    std::string row = m.GetTextOnLine(0);
    EXPECT_LT(row.size(), 20u);
    EXPECT_LE(font->GetTextWidth(row.c_str(), 32767, font->height, XTEXT_SINGLELINE), room);
    row += 'W';
    EXPECT_GT(font->GetTextWidth(row.c_str(), 32767, font->height, XTEXT_SINGLELINE), room);
    // With a horizontal slider of its own only the row length limits.
    EXPECT_EQ(std::strlen(wide.GetTextOnLine(0)), 20u);
    win->RemoveAllCntrl();
    m.Destroy();
    wide.Destroy();
}

// A window that goes to the back tells its focused field, which stops
// showing itself lit and blinking; the next click focuses it again.
TEST_F(Edit, DeactivatedWindowReleasesTheFocusedField)
{
    OpenWindow();
    CEdit one;
    CMultiEdit rows;
    char t1[] = "one", t2[] = "two\nrows";
    one.Create(kId, t1, 5, 5, 100, 20, 10, 0);
    rows.Create(kId + 1, t2, 5, 40, 100, 40, 10, 0);
    win->AddCntrl(&one);
    win->AddCntrl(&rows);
    for (CControlBase* c : std::initializer_list<CControlBase*>{&one, &rows}) {
        int32_t cx = 0, cy = 0;
        c->GetPos(cx, cy);
        Click(cx + 10, cy + 5);
        ASSERT_EQ(win->focus, c);
        ASSERT_EQ(c->GetState(), XGUI_HIGHLIGHT);
        auto* other = XNEW(CWindow);
        static char title[] = "Other";
        other->Create(2, title, 400, 300, 100, 100, 0);
        glb->rootWindow->AddWindow(other, nullptr, nullptr);
        EXPECT_EQ(win->active, 0);
        EXPECT_EQ(win->focus, nullptr);
        EXPECT_EQ(c->GetState(), XGUI_RELEASED);
        EXPECT_EQ(c == &one ? one.caretOn : rows.caretOn, 0);
        glb->rootWindow->RemoveWindow(other->id);
        other->Destroy();
        XDELETE(other);
        win->ToFront();
        Click(cx + 10, cy + 5);
        EXPECT_EQ(c->GetState(), XGUI_HIGHLIGHT);
    }
    win->RemoveAllCntrl();
    one.Destroy();
    rows.Destroy();
}

// The field's own sliders: the vertical one follows the first visible row
// as the caret moves it, and its arrows move the rows; the horizontal one
// follows the caret along a long row and its arrows move the columns. A
// press on a slider is no press on the rows.
TEST_F(Edit, MultiLineSlidersFollowAndScrollTheRows)
{
    ASSERT_TRUE(OpenScreen(16));
    OpenWindow();
    CMultiEdit m, plain;
    char init[] = "a\nb\nc\nd\ne\nf\ng\nWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";
    m.Create(kId, init, 5, 5, 120, 110, 40, CNTRL_EDITVSLIDER | CNTRL_EDITHSLIDER);
    plain.Create(kId + 1, nullptr, 150, 5, 100, 50, 10, 0);
    win->AddCntrl(&m);
    win->AddCntrl(&plain);
    EXPECT_EQ(plain.vslider, nullptr);
    EXPECT_EQ(plain.hslider, nullptr);
    // The flags given later (a script's further flags, a copied look) make
    // and drop them as well.
    plain.SetFlag(CNTRL_EDITVSLIDER);
    ASSERT_NE(plain.vslider, nullptr);
    EXPECT_EQ(plain.vslider->parent, win);
    plain.RemoveFlag(CNTRL_EDITVSLIDER);
    EXPECT_EQ(plain.vslider, nullptr);
    ASSERT_NE(m.vslider, nullptr);
    ASSERT_NE(m.hslider, nullptr);
    EXPECT_EQ(m.vslider->GetID(), kId + XMEDIT_VSLIDER);
    EXPECT_EQ(m.hslider->GetFlags() & CNTRL_HSLIDER, CNTRL_HSLIDER);
    const int32_t vis = m.GetVisibleLines();
    ASSERT_GE(vis, 2);
    ASSERT_LT(vis, 8);
    // Arrow presses: the arrow's id, then a point inside it.
    auto press = [&](CSlider* s, bool higher) {
        CButton* arrow = higher ? s->higher : s->lower;
        int32_t ax = 0, ay = 0;
        arrow->GetPos(ax, ay);
        Click(ax + 3, ay + 3);
    };
    win->SetFocus(&m);
    Type(std::vector<uint16_t>(7, XKEY_DOWN));
    EXPECT_EQ(m.GetUpperLineNr(), 8 - vis);
    EXPECT_EQ(m.vslider->GetValue(), m.GetUpperLineNr());
    tvtest::g_ctlNotes.clear();
    press(m.vslider, false);
    EXPECT_EQ(m.GetUpperLineNr(), 7 - vis);
    EXPECT_EQ(m.caretRow, 7); // scrolling leaves the caret
    press(m.vslider, true);
    EXPECT_EQ(m.GetUpperLineNr(), 8 - vis);
    press(m.vslider, true); // already at the last page
    EXPECT_EQ(m.GetUpperLineNr(), 8 - vis);
    EXPECT_TRUE(Notes(kId).empty());
    m.SetUpperLineNr(1);
    EXPECT_EQ(m.vslider->GetValue(), 1);
    // Along the long row.
    Type({XKEY_END});
    const int32_t scrolled = m.leftPixel;
    EXPECT_GT(scrolled, 0);
    EXPECT_EQ(m.hslider->GetValue(), scrolled);
    press(m.hslider, false);
    EXPECT_EQ(m.leftPixel, scrolled - 1);
    Type({XKEY_HOME});
    EXPECT_EQ(m.leftPixel, 0);
    EXPECT_EQ(m.hslider->GetValue(), 0);
    // Rows taken away: the view and the slider come back with them.
    EXPECT_EQ(m.KillText(), 1);
    EXPECT_EQ(m.vslider->GetValue(), 0);
    EXPECT_EQ(m.GetUpperLineNr(), 0);
    win->RemoveAllCntrl();
    m.Destroy();
    plain.Destroy();
    EXPECT_EQ(m.vslider, nullptr);
}

TEST_F(Edit, MultiLineSlidersPicture)
{
    ASSERT_TRUE(OpenScreen(16));
    OpenWindow(300, 180, XWIN_FRAME);
    CMultiEdit m;
    char init[] = "first row\nsecond row is the longest of them all\nthird\nfourth\nfifth\nsixth";
    m.Create(1, init, 10, 10, 180, 90, 60, CNTRL_EXTRUDED | CNTRL_EDITVSLIDER | CNTRL_EDITHSLIDER);
    win->AddCntrl(&m);
    m.SetUpperLineNr(2);
    EXPECT_TRUE(Picture("multiedit_sliders_16", 1740508219u));
    win->RemoveAllCntrl();
    m.Destroy();
}

// ---- pictures

class EditPicture : public CtlTest, public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>>
{
};

TEST_P(EditPicture, States)
{
    auto [bits, golden] = GetParam();
    ASSERT_TRUE(OpenScreen(bits));
    OpenWindow(300, 180, XWIN_FRAME);
    CEdit plain, focused, password, disabled;
    CMultiEdit multi;
    char t1[] = "plain text", t2[] = "focused", t3[] = "secret", t4[] = "disabled";
    char t5[] = "first row\nsecond row\nthird row";
    plain.Create(1, t1, 10, 10, 130, 22, 20, 0);
    focused.Create(2, t2, 10, 40, 130, 22, 20, CNTRL_EXTRUDED);
    password.Create(3, t3, 10, 70, 130, 22, 20, CNTRL_PASSWORD);
    disabled.Create(4, t4, 10, 100, 130, 22, 20, 0);
    multi.Create(5, t5, 150, 10, 140, 70, 30, CNTRL_EXTRUDED);
    for (CControlBase* c :
         std::initializer_list<CControlBase*>{&plain, &focused, &password, &disabled, &multi})
        win->AddCntrl(c);
    disabled.SetState(XGUI_DISABLED);
    TRGBA blue(0, 0, 200);
    multi.SetTextColorOnLine(1, &blue);
    win->SetFocus(&focused);
    Type({XKEY_HOME, XKEY_RIGHT});
    EXPECT_TRUE(Picture("edits_" + std::to_string(bits), golden));
    win->SetFocus(&multi);
    Type({XKEY_DOWN, XKEY_END});
    EXPECT_EQ(multi.caretRow, 1);
    win->RemoveAllCntrl();
    for (CControlBase* c :
         std::initializer_list<CControlBase*>{&plain, &focused, &password, &disabled, &multi})
        c->Destroy();
}

INSTANTIATE_TEST_SUITE_P(Depths, EditPicture,
                         ::testing::Values(std::pair<int32_t, uint32_t>{8, 312432949u},
                                           std::pair<int32_t, uint32_t>{16, 3574720218u},
                                           std::pair<int32_t, uint32_t>{24, 2623290326u}));

} // namespace
