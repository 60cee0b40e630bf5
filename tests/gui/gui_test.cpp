// The GUI root, windows and the control base: state changes, text buffers,
// z-order and modal rules, focus and keys, input routed from posted window
// messages through xHandler, a close handler that destroys its window during
// dispatch, and the default look rendered at 8, 16 and 24 bits.
#include "../gfx/screen_util.h"

#include <tarvex/resdata.h>
#include <tarvex/window.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

using tvtest::ScreenTest;

class Gui : public ScreenTest
{
  protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        ASSERT_NE(xCreateGuiRoot(), nullptr);
    }
    void TearDown() override
    {
        TearDownWindows();
        xFreeGuiRoot();
        ScreenTest::TearDown();
    }
    void TearDownWindows()
    {
        for (CWindow* w : owned) {
            Root()->RemoveWindow(w->id);
            w->Destroy();
            XDELETE(w);
        }
        owned.clear();
    }
    CWinCtrl* Root() { return glb->rootWindow; }
    CWindow* Add(int32_t id, int32_t f, int32_t x = 10, int32_t y = 10, XGuiCallback cb = nullptr)
    {
        auto* win = XNEW(CWindow);
        static char title[] = "Window";
        win->Create(id, title, x, y, 100, 60, f);
        Root()->AddWindow(win, cb, nullptr);
        owned.push_back(win);
        return win;
    }
    std::vector<int32_t> Order()
    {
        std::vector<int32_t> ids;
        for (int16_t ok = Root()->windows.First(); ok; ok = Root()->windows.Next())
            ids.push_back(static_cast<SWinEntry*>(Root()->windows.Get())->window->id);
        return ids;
    }
    std::vector<CWindow*> owned;
};

// ---- state changes

TEST(GuiControl, StateChanges)
{
    tvtest::Globals g;
    struct Case {
        const char* name;
        std::vector<int32_t> steps;
        int32_t last; // result of the last step
        int32_t state;
    };
    const Case cases[] = {
        {"same state is refused", {XGUI_RELEASED}, 0, XGUI_RELEASED},
        {"disable then release restores highlight",
         {XGUI_HIGHLIGHT, XGUI_DISABLED, XGUI_RELEASED},
         1,
         XGUI_HIGHLIGHT},
        {"pressed is not remembered", {XGUI_PRESSED, XGUI_DISABLED, XGUI_RELEASED}, 1, XGUI_RELEASED},
        {"another state forgets",
         {XGUI_HIGHLIGHT, XGUI_DISABLED, XGUI_PRESSED, XGUI_RELEASED},
         1,
         XGUI_RELEASED},
        {"hidden", {XGUI_HIDDEN}, 1, XGUI_HIDDEN},
    };
    for (const Case& c : cases) {
        CControlBase ctl;
        int32_t r = -1;
        for (int32_t s : c.steps)
            r = ctl.SetState(s);
        EXPECT_EQ(r, c.last) << c.name;
        EXPECT_EQ(ctl.GetState(), c.state) << c.name;
        EXPECT_EQ(ctl.pendingState, c.state) << c.name;
    }
    EXPECT_EQ(g.Finish(), "");
}

TEST(GuiControl, TextBuffers)
{
    tvtest::Globals g;
    {
        CControlBase ctl;
        EXPECT_EQ(ctl.AllocBuffer(0), nullptr);
        EXPECT_EQ(ctl.AllocBuffer(-5), nullptr);
        char* b = ctl.AllocBuffer(8);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(ctl.GetTextBufferSize(), 8);
        EXPECT_STREQ(b, "");
        // A borrowed text is copied before it is changed.
        char borrowed[] = "abc";
        ctl.SetText(borrowed);
        EXPECT_EQ(ctl.textOwned, 0);
        char* w = ctl.MakeTextWritable(16);
        ASSERT_NE(w, nullptr);
        EXPECT_NE(w, borrowed);
        w[0] = 'X';
        EXPECT_STREQ(borrowed, "abc");
        EXPECT_STREQ(ctl.text, "Xbc");
        EXPECT_EQ(ctl.GetTextBufferSize(), 16);
        ctl.Destroy();
        EXPECT_EQ(ctl.text, nullptr);
    }
    EXPECT_EQ(g.Finish(), "");
}

TEST(GuiControl, ClipListMergesWhenFull)
{
    tvtest::Globals g;
    {
        CControlBase ctl;
        ctl.SetSize(400, 10);
        for (int32_t i = 0; i < XCNTRL_CLIPS + 20; ++i) {
            CRect r(i * 3, 0, i * 3, 0);
            EXPECT_EQ(ctl.Validate(&r, 0), 1);
        }
        EXPECT_EQ(ctl.clipCount, XCNTRL_CLIPS);
        EXPECT_EQ(ctl.clips[XCNTRL_CLIPS - 1].right, (XCNTRL_CLIPS + 19) * 3);
        CRect away(500, 500, 510, 510);
        EXPECT_EQ(ctl.Validate(&away, 0), 0);
    }
    EXPECT_EQ(g.Finish(), "");
}

// ---- z-order

TEST_F(Gui, ZOrderTable)
{
    struct Win {
        int32_t id, flags;
    };
    struct Case {
        const char* name;
        std::vector<Win> add;
        int32_t toFront; // 0: none
        std::vector<int32_t> order;
    };
    const int32_t zf = XWIN_ZORDER | XWIN_ZORDERFIRST, zl = XWIN_ZORDER | XWIN_ZORDERLAST;
    const Case cases[] = {
        {"newest in front", {{1, 0}, {2, 0}, {3, 0}}, 0, {3, 2, 1}},
        {"to front", {{1, 0}, {2, 0}, {3, 0}}, 1, {1, 3, 2}},
        {"modal stays in front of later windows", {{1, 0}, {2, 0}, {3, XWIN_MODAL}, {4, 0}}, 0, {3, 4, 2, 1}},
        {"raising a normal window leaves the modal in front",
         {{1, 0}, {2, 0}, {3, XWIN_MODAL}},
         1,
         {3, 1, 2}},
        {"always-last stays at the back", {{1, XWIN_ALWAYSLAST}, {2, 0}}, 1, {2, 1}},
        {"a group moves whole and in order", {{1, zf}, {2, XWIN_ZORDER}, {3, zl}, {4, 0}}, 2, {1, 2, 3, 4}},
        {"unknown window", {{1, 0}, {2, 0}}, 9, {2, 1}},
    };
    for (const Case& c : cases) {
        for (const Win& w : c.add)
            Add(w.id, w.flags);
        if (c.toFront != 0) {
            EXPECT_EQ(Root()->ToFront(c.toFront), c.toFront == 9 ? 0 : 1) << c.name;
        }
        EXPECT_EQ(Order(), c.order) << c.name;
        TearDown();
        SetUp();
    }
}

TEST_F(Gui, ActivationFollowsFront)
{
    CWindow* a = Add(1, XWIN_TITLEBAR);
    CWindow* b = Add(2, XWIN_TITLEBAR);
    EXPECT_EQ(a->active, 0);
    EXPECT_EQ(b->active, 1);
    Root()->ToFront(1);
    EXPECT_EQ(a->active, 1);
    EXPECT_EQ(b->active, 0);
}

// ---- controls in windows

// A control at (10, 10) sits below the bar: 16 pixels without a default
// font, the font's height and two more with one (so no caption is cut).
TEST_F(Gui, TitlebarMovesControlsDown)
{
    CFont font;
    ASSERT_TRUE(font.Load(TARVEX_SOURCE_DIR "/data/fonts/dejavusans16.xbf", 0));
    ASSERT_GT(font.height, 14);
    struct Case {
        CFont* font;
        int32_t barHeight;
    } cases[] = {{nullptr, 16}, {&font, font.height + 2}};
    for (const Case& k : cases) {
        Root()->SetDefaultFont(k.font);
        CWindow* w = Add(1, XWIN_TITLEBAR | XWIN_FRAME);
        EXPECT_EQ(w->titlebar->height, k.barHeight);
        CControlBase c;
        c.SetPos(10, 10);
        c.SetSize(20, 20);
        w->AddCntrl(&c);
        int32_t x = 0, y = 0;
        c.GetPos(x, y);
        EXPECT_EQ(x, 10);
        EXPECT_EQ(y, 10 + k.barHeight);
        w->RemoveCntrl(&c);
        TearDownWindows();
    }
    Root()->SetDefaultFont(nullptr);
}

// Records what each control hears.
class Probe : public CControlBase
{
  public:
    std::vector<int32_t> keys;
    int32_t focused = 0;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override
    {
        if (msg == 0)
            keys.push_back(d);
        if (msg == 16)
            focused = d;
        return CControlBase::GuiMsgHandler(msg, a, b, d, data);
    }
};

TEST_F(Gui, TabAndEnter)
{
    CWindow* w = Add(1, 0);
    Probe p[3];
    p[0].SetFlag(CNTRL_TABSTOP);
    p[2].SetFlag(CNTRL_TABSTOP | CNTRL_MULTILINE);
    for (Probe& c : p)
        w->AddCntrl(&c);
    TGuiKey tab{9, 1}, enter{13, 1}, a{'a', 1};
    w->GuiMsgHandler(0, 0, 0, 9, &tab);
    EXPECT_EQ(w->focus, &p[0]);
    w->GuiMsgHandler(0, 0, 0, 9, &tab);
    EXPECT_EQ(w->focus, &p[2]);
    // A multi-line tab stop keeps Enter to itself; other keys too.
    w->GuiMsgHandler(0, 0, 0, 13, &enter);
    w->GuiMsgHandler(0, 0, 0, 'a', &a);
    EXPECT_EQ(p[2].keys, (std::vector<int32_t>{9, 13, 'a'}));
    EXPECT_TRUE(p[1].keys.empty());
    // Tab on the last tab stop leaves nothing focused; then keys go to all.
    w->GuiMsgHandler(0, 0, 0, 9, &tab);
    EXPECT_EQ(w->focus, nullptr);
    EXPECT_EQ(p[2].focused, 0);
    w->GuiMsgHandler(0, 0, 0, 'a', &a);
    EXPECT_EQ(p[1].keys, (std::vector<int32_t>{'a'}));
    w->RemoveAllCntrl();
}

std::vector<int32_t> g_hot;
void RecordHotkey(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    g_hot.push_back(msg * 10000 + controlId);
}

TEST_F(Gui, HotkeyEnableAndHide)
{
    g_hot.clear();
    CWindow* w = Add(1, 0, 10, 10, RecordHotkey);
    CControlBase c;
    c.Create(7);
    c.SetHotkey('k');
    w->AddCntrl(&c);
    TGuiKey down{'k', 1}, up{'k', 0};
    w->GuiMsgHandler(0, 0, 0, 'k', &down);
    EXPECT_EQ(c.GetState(), XGUI_PRESSED);
    w->GuiMsgHandler(0, 0, 0, 'k', &up);
    EXPECT_EQ(c.GetState(), XGUI_RELEASED);
    EXPECT_EQ(g_hot, (std::vector<int32_t>{10007, 20007}));
    // Hiding the window while the key is held releases it.
    w->GuiMsgHandler(0, 0, 0, 'k', &down);
    w->HideWindow();
    EXPECT_EQ(c.GetState(), XGUI_RELEASED);
    EXPECT_EQ(g_hot.back(), 20007);
    w->ShowWindow();
    // A disabled window's controls ignore their hotkeys.
    w->Enable(0);
    EXPECT_EQ(c.GetState(), XGUI_DISABLED);
    g_hot.clear();
    w->GuiMsgHandler(0, 0, 0, 'k', &down);
    EXPECT_TRUE(g_hot.empty());
    w->Enable(1);
    EXPECT_EQ(c.GetState(), XGUI_RELEASED);
    w->RemoveAllCntrl();
    c.Destroy();
}

TEST_F(Gui, PasteTable)
{
    struct Case {
        const char* name;
        int32_t bufSize; // 0: borrowed text
        int32_t flags;
        const char* paste;
        const char* expect;
    };
    const Case cases[] = {
        {"fits", 16, CNTRL_TABSTOP, "hello", "hello"},
        {"cut at the capacity", 4, CNTRL_TABSTOP, "hello", "hel"},
        {"line break changes nothing", 16, CNTRL_TABSTOP, "a\nb", ""},
        {"read-only", 16, CNTRL_TABSTOP | CNTRL_READONLY, "x", ""},
        {"not a tab stop", 16, 0, "x", ""},
        {"borrowed text copied", 0, CNTRL_TABSTOP, "longer text", "longer text"},
    };
    for (const Case& c : cases) {
        CWindow* w = Add(1, 0);
        CControlBase ctl;
        char borrowed[] = "";
        if (c.bufSize > 0)
            ctl.AllocBuffer(c.bufSize);
        else
            ctl.SetText(borrowed);
        ctl.SetFlag(c.flags);
        w->AddCntrl(&ctl);
        w->SetFocus(&ctl);
        char text[32];
        std::strcpy(text, c.paste);
        // As the keyboard's paste receiver does.
        Root()->SendMessage(22, 0, 0, 0, text);
        EXPECT_STREQ(ctl.text, c.expect) << c.name;
        EXPECT_STREQ(borrowed, "") << c.name;
        w->RemoveAllCntrl();
        ctl.Destroy();
        TearDown();
        SetUp();
    }
}

// ---- routing through xHandler

struct Note {
    int32_t msg, window, control;
};
std::vector<Note> g_notes;
CWinCtrl* g_root = nullptr;
std::vector<CWindow*>* g_owned = nullptr;

// The usual close handler: the window is removed and destroyed at once.
void CloseHandler(int32_t msg, int32_t windowId, int32_t controlId, int32_t, void*)
{
    g_notes.push_back({msg, windowId, controlId});
    if (msg == 2 && controlId == XCNTRL_CLOSE)
        for (auto it = g_owned->begin(); it != g_owned->end(); ++it)
            if ((*it)->id == windowId) {
                CWindow* w = *it;
                g_owned->erase(it);
                g_root->RemoveWindow(windowId);
                w->Destroy();
                XDELETE(w);
                break;
            }
}

class GuiInput : public Gui
{
  protected:
    void SetUp() override
    {
        Gui::SetUp();
        ASSERT_TRUE(ScreenTest::Open(640, 480, 16));
        ASSERT_TRUE(tvp::SetWindowPos(sglb->mainWindow, 0, 0, 640, 480));
        xHandler();
        g_notes.clear();
        g_root = Root();
        g_owned = &owned;
    }
    void Post(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
    {
        ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, msg, keys, MAKELPARAM(x, y)));
        xHandler();
    }
};

TEST_F(GuiInput, ClickRaisesDragMovesCloseDestroys)
{
    const int32_t f = XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE | XWIN_DRAG;
    CWindow* a = Add(1, f, 20, 20, CloseHandler);
    Add(2, f, 60, 40, CloseHandler);
    EXPECT_EQ(Order(), (std::vector<int32_t>{2, 1}));
    // Click the back window where the front one does not cover it.
    Post(WM_MOUSEMOVE, 0, 30, 50);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, 30, 50);
    Post(WM_LBUTTONUP, 0, 30, 50);
    EXPECT_EQ(Order(), (std::vector<int32_t>{1, 2}));
    // Drag window 1 by its title bar by (+15, +25).
    Post(WM_MOUSEMOVE, 0, 40, 25);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, 40, 25);
    Post(WM_MOUSEMOVE, MK_LBUTTON, 50, 35);
    Post(WM_MOUSEMOVE, MK_LBUTTON, 55, 50);
    Post(WM_LBUTTONUP, 0, 55, 50);
    EXPECT_EQ(a->x, 35);
    EXPECT_EQ(a->y, 45);
    // Close box of window 1: the handler destroys it during the pass.
    CRect r = a->titlebar->CloseRect();
    int32_t cx = a->x + r.left + 2, cy = a->y + r.top + 2;
    Post(WM_MOUSEMOVE, 0, cx, cy);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, cx, cy);
    Post(WM_LBUTTONUP, 0, cx, cy);
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0].msg, 2);
    EXPECT_EQ(g_notes[0].window, 1);
    EXPECT_EQ(g_notes[0].control, XCNTRL_CLOSE);
    EXPECT_EQ(Order(), (std::vector<int32_t>{2}));
    xHandler(); // a further frame walks only live windows
}

TEST_F(GuiInput, ModalTakesTheMouseAndOutsideClickDeactivates)
{
    CWindow* a = Add(1, XWIN_FRAME, 10, 10);
    CWindow* m = Add(2, XWIN_FRAME | XWIN_MODAL, 150, 100);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, 20, 20);
    Post(WM_LBUTTONUP, 0, 20, 20);
    EXPECT_EQ(Order(), (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(a->frame->state, XGUI_RELEASED);
    Root()->RemoveWindow(2);
    owned.erase(owned.begin() + 1);
    m->Destroy();
    XDELETE(m);
    Post(WM_LBUTTONDOWN, MK_LBUTTON, 600, 400);
    EXPECT_EQ(a->active, 0);
    Post(WM_LBUTTONUP, 0, 600, 400);
}

TEST_F(GuiInput, OneKeyPerFrameToTheFrontWindow)
{
    CWindow* back = Add(1, 0);
    CWindow* front = Add(2, 0);
    Probe pb, pf;
    back->AddCntrl(&pb);
    front->AddCntrl(&pf);
    glb->keyboard->AddKeyToQueue('x', XKEYF_DOWN, 0);
    glb->keyboard->AddKeyToQueue('y', XKEYF_DOWN, 0);
    Root()->MsgHandler(XMSG_CLEAR, 0, 0);
    EXPECT_EQ(pf.keys, (std::vector<int32_t>{'x'}));
    Root()->MsgHandler(XMSG_CLEAR, 0, 0);
    EXPECT_EQ(pf.keys, (std::vector<int32_t>{'x', 'y'}));
    EXPECT_TRUE(pb.keys.empty());
    back->RemoveAllCntrl();
    front->RemoveAllCntrl();
}

// ---- pictures

class GuiPicture : public Gui, public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>>
{
};

TEST_P(GuiPicture, TwoWindows)
{
    auto [bits, golden] = GetParam();
    ASSERT_TRUE(ScreenTest::Open(640, 480, bits));
    Root()->RemapDefaults();
    CFont font;
    TRGBA black(0, 0, 0);
    ASSERT_TRUE(font.Load(TARVEX_SOURCE_DIR "/data/fonts/dejavusans16.xbf", 0));
    font.CreateColor(black);
    Root()->SetDefaultFont(&font);
    Add(1, XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE, 10, 10);
    Add(2, XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE, 60, 50);
    CScreenBase* s = Screen();
    s->FillRect(0, 0, 640, 480, TRGBA(0, 64, 0));
    Root()->Validate();
    Root()->MsgHandler(XMSG_DRAW, 0, 0);
    EXPECT_TRUE(tvtest::MatchesGolden("gui_two_windows_" + std::to_string(bits), *s->GetScreenBitmap(),
                                      &s->palette, golden));
    // The windows keep the font's caption pictures: they go before the font.
    TearDownWindows();
}

INSTANTIATE_TEST_SUITE_P(Depths, GuiPicture,
                         ::testing::Values(std::pair<int32_t, uint32_t>{8, 199920609u},
                                           std::pair<int32_t, uint32_t>{16, 4259996868u},
                                           std::pair<int32_t, uint32_t>{24, 746966486u}));

// ---- the default look lent by resource data

std::string LookScript()
{
    const std::string dir = TARVEX_SOURCE_DIR;
    return "; script\n{ = Fonts\n    BODY = \"" + dir + "/data/fonts/dejavusans16.xbf\"\n}\n" +
           "{ = Bitmaps\n    { = \"" + dir + "/data/gui/look.bmp\"\n" +
           "        C0 = 24, 0, 12, 12\n        C1 = 36, 0, 12, 12\n" +
           "        C2 = 48, 0, 12, 12\n        C3 = 60, 0, 12, 12\n    }\n}\n" +
           "{ = Colors\n    SET = red, green, blue, white, black, grey, red, red\n}\n" +
           "{ = Defaults\n    Font = BODY\n    Close = C0, C1, C2, C3\n" +
           "    Titlebar = SET, SET, SET, SET\n    Frame = SET, SET, SET, SET\n}\n";
}

TEST_F(Gui, ResourceDefaultsAreLentUntilTheResourceDataGoes)
{
    ASSERT_TRUE(ScreenTest::Open(640, 480, 24));
    CWinCtrl* r = Root();
    CBitmap* close0 = r->defClose[0];
    CBitmap* caret = r->defCaret;
    TCntrlColor* title0 = r->defTitlebar[0];
    CFont* font0 = r->defFont;
    const std::string text = LookScript();

    auto* res = XNEW(CResData);
    ASSERT_TRUE(res->Import(text.c_str()));
    ASSERT_EQ(res->GetNumErrors(), 0);
    TCntrlColor* set = res->GetCntrlColor("SET");
    EXPECT_EQ(r->lender, res);
    EXPECT_EQ(r->defFont, res->GetFont("BODY"));
    EXPECT_EQ(r->defClose[3], res->GetBm("C3"));
    EXPECT_EQ(r->defTitlebar[1], set);
    EXPECT_EQ(r->defCaret, caret); // not in the section: the generated one stays

    // A window made during the loan holds the lent font and colour sets.
    CWindow* w = Add(1, XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE);
    EXPECT_EQ(w->titlebar->font, res->GetFont("BODY"));
    EXPECT_EQ(w->frame->colors[0], set);
    r->Validate();
    r->MsgHandler(XMSG_DRAW, 0, 0);

    XDELETE(res);
    EXPECT_EQ(r->lender, nullptr);
    EXPECT_EQ(r->defFont, font0);
    EXPECT_EQ(r->defClose[0], close0);
    EXPECT_EQ(r->defTitlebar[0], title0);
    EXPECT_EQ(w->titlebar->font, font0);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_NE(w->titlebar->colors[i], set) << i;
        EXPECT_NE(w->frame->colors[i], set) << i;
        EXPECT_NE(w->frame->colors[i], nullptr) << i;
    }
    // Drawing after the free touches nothing of it (the sanitizer watches).
    r->Validate();
    r->MsgHandler(XMSG_DRAW, 0, 0);

    // A second resource data replaces the first one's loan; the root going
    // first ends the loan on its side.
    CResData a, b;
    ASSERT_TRUE(a.Import(text.c_str()));
    ASSERT_TRUE(b.Import(text.c_str()));
    EXPECT_EQ(r->lender, &b);
    EXPECT_EQ(a.loans.GetNumNodes(), 0);
    EXPECT_EQ(r->defFont, b.GetFont("BODY"));
    TearDownWindows();
    xFreeGuiRoot();
    EXPECT_EQ(b.loans.GetNumNodes(), 0);
    b.Free();
    a.Free();
    ASSERT_NE(xCreateGuiRoot(), nullptr);
}

// Resource bitmaps come in the current screen's format when a screen with a
// mode exists, and stay as loaded (24 bits) when none does.
TEST_F(Gui, ResourceBitmapsTakeTheScreenFormat)
{
    const std::string text = "; script\n{ = Bitmaps\n    B = \"" + std::string(TARVEX_SOURCE_DIR) +
                             "/data/gui/look.bmp\", 0, 0, 12, 12\n}\n";
    for (int32_t bits : {0, 8, 16, 24}) {
        if (bits != 0) {
            ASSERT_TRUE(ScreenTest::Open(640, 480, bits)) << bits;
        }
        CResData res;
        ASSERT_TRUE(res.Import(text.c_str()));
        EXPECT_EQ(res.GetNumErrors(), 0) << bits;
        CBitmap* b = res.GetBm("B");
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->bits, bits == 0 ? 24 : bits) << bits;
        EXPECT_EQ(b->screenFormat, bits == 0 ? 0 : 1) << bits;
    }
}

TEST(GuiHeadless, WindowsWorkWithoutAScreen)
{
    tvtest::Globals g;
    ASSERT_TRUE(g.ok);
    {
        ASSERT_NE(xCreateGuiRoot(), nullptr);
        CWindow w;
        char title[] = "t";
        w.Create(1, title, 0, 0, 50, 40, XWIN_TITLEBAR | XWIN_FRAME | XWIN_CENTER);
        glb->rootWindow->AddWindow(&w, nullptr, nullptr);
        EXPECT_EQ(glb->rootWindow->MsgHandler(XMSG_DRAW, 0, 0), 0);
        EXPECT_EQ(glb->rootWindow->MsgHandler(XMSG_CLEAR, 0, 0), 1);
        glb->rootWindow->RemoveWindow(1);
        w.Destroy();
        xFreeGuiRoot();
    }
    EXPECT_EQ(g.Finish(), "");
}

// A root the program forgot goes with xExit (or with the globals when the
// library was never started): the leak list stays empty.
TEST(GuiLifecycle, ForgottenRootIsFreedAtExit)
{
    for (bool started : {true, false}) {
        tvtest::Globals g(started);
        ASSERT_TRUE(g.ok);
        CWinCtrl* r = xCreateGuiRoot();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(xCreateGuiRoot(), r); // one root
        CWindow w;
        char title[] = "t";
        w.Create(1, title, 0, 0, 50, 40, XWIN_TITLEBAR | XWIN_FRAME);
        r->AddWindow(&w, nullptr, nullptr);
        w.Destroy(); // the window is the program's; the root is left behind
        EXPECT_EQ(g.Finish(), "") << (started ? "after xExit" : "with the globals");
    }
}

} // namespace
