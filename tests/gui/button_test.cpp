// Push, drag and link buttons and static text: mouse phases, hotkeys,
// transparent hit tests, the default look, a handler that destroys the
// window on a click, dragging within an area, and the opener of links.
#include "controls_util.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{

using tvtest::ControlTest;
using tvtest::Ev;
using tvtest::Heard;
using tvtest::K;
using tvtest::M;

class Buttons : public ControlTest
{
};

// A button at (10, 10), 60 x 20; (30, 20) is inside, (200, 150) outside.
TEST_F(Buttons, MousePhasesAndHotkey)
{
    struct Case {
        const char* name;
        int32_t flags;
        bool disabled, inactive;
        int32_t winFlags;
        std::vector<Ev> events;
        int32_t state;
        std::vector<int32_t> notes;
    };
    const int32_t in = 30, out = 200;
    const Case cases[] = {
        {"hover lights up", 0, false, false, 0, {M(in, 20)}, XGUI_HIGHLIGHT, {3}},
        {"hover and leave", 0, false, false, 0, {M(in, 20), M(out, 150)}, XGUI_RELEASED, {3, 19}},
        {"click", 0, false, false, 0, {M(in, 20), M(in, 20, 1), M(in, 20)}, XGUI_HIGHLIGHT, {3, 1, 2}},
        {"held for frames presses once",
         0,
         false,
         false,
         0,
         {M(in, 20), M(in, 20, 1), M(in, 20, 1), M(in, 20, 1), M(in, 20)},
         XGUI_HIGHLIGHT,
         {3, 1, 2}},
        {"press outside then move on does not press",
         0,
         false,
         false,
         0,
         {M(out, 150, 1), M(in, 20, 1), M(in, 22, 1)},
         XGUI_RELEASED,
         {}},
        {"press, drag out, release outside: no click",
         0,
         false,
         false,
         0,
         {M(in, 20), M(in, 20, 1), M(out, 150, 1), M(out, 150, 1), M(out, 150)},
         XGUI_RELEASED,
         {3, 1, 19}},
        {"hotkey down and up", 0, false, false, 0, {K('k', 1), K('k', 1), K('k', 0)}, XGUI_RELEASED, {1, 2}},
        {"other key", 0, false, false, 0, {K('j', 1), K('j', 0)}, XGUI_RELEASED, {}},
        {"disabled takes nothing",
         0,
         true,
         false,
         0,
         {M(in, 20), M(in, 20, 1), M(in, 20), K('k', 1)},
         XGUI_DISABLED,
         {}},
        {"inactive window that lights up anyway",
         0,
         false,
         true,
         XWIN_HIGHLIGHTIFINACTIVE,
         {M(in, 20), M(out, 150)},
         XGUI_RELEASED,
         {3, 19}},
        {"inactive window does not light up", 0, false, true, 0, {M(in, 20)}, XGUI_RELEASED, {}},
    };
    for (const Case& c : cases) {
        log.clear();
        CButton b;
        static char text[] = "OK";
        ASSERT_EQ(b.Create(5, text, 10, 10, 60, 20, 'k', c.flags), 1);
        win->flags |= static_cast<uint32_t>(c.winFlags);
        win->AddCntrl(&b);
        win->flags &= ~static_cast<uint32_t>(c.winFlags);
        if (c.disabled)
            b.SetState(XGUI_DISABLED);
        win->active = c.inactive ? 0 : 1;
        Feed(c.events);
        EXPECT_EQ(b.GetState(), c.state) << c.name;
        std::vector<int32_t> got;
        for (const Heard& h : log) {
            EXPECT_EQ(h.control, 5) << c.name;
            got.push_back(h.msg);
        }
        EXPECT_EQ(got, c.notes) << c.name;
        win->RemoveCntrl(&b);
        b.Destroy();
    }
    win->active = 1;
}

TEST_F(Buttons, TransparentPixelsIgnoreClicks)
{
    struct Case {
        const char* name;
        int32_t flags;
        int32_t x, y;
        bool hit;
    };
    const int32_t see = CNTRL_TRANSPARENT | CNTRL_HASBITMAP | CNTRL_BMTRANS;
    const Case cases[] = {
        {"key pixel", see, 12, 12, false},
        {"picture pixel", see, 30, 30, true},
        {"extruded ignores the picture", see | CNTRL_EXTRUDED, 12, 12, true},
        {"click-through flag ignores the picture", see | CNTRL_BTNTRANSCLICK, 12, 12, true},
        {"opaque bitmap button", CNTRL_HASBITMAP | CNTRL_BMTRANS, 12, 12, true},
        {"outside", see, 60, 60, false},
    };
    CBitmap* pic = tvtest::Ring(40);
    for (const Case& c : cases) {
        CButton b;
        ASSERT_EQ(b.Create(3, nullptr, 10, 10, 40, 40, 0, c.flags), 1);
        b.SetBitmap(pic, pic, pic, pic);
        EXPECT_EQ(b.IsHit(c.x, c.y), c.hit ? 1 : 0) << c.name;
        win->AddCntrl(&b);
        log.clear();
        Feed({M(c.x, c.y), M(c.x, c.y, 1), M(c.x, c.y)});
        EXPECT_EQ(log.size(), c.hit ? 3u : 0u) << c.name;
        win->RemoveCntrl(&b);
        b.Destroy();
    }
    XDELETE(pic);
}

TEST_F(Buttons, DefaultLookIsCopied)
{
    TCntrlColor mine{};
    mine.colors[2] = TRGBA(1, 2, 3);
    CButton model;
    model.Create(1, nullptr, 0, 0, 10, 10, 0, CNTRL_EXTRUDED);
    model.SetColors(&mine, &mine, &mine, &mine);
    model.SetTextColor(TRGBA(9, 9, 9));
    model.SetDefault();
    CButton b;
    b.Create(2, nullptr, 0, 0, 10, 10, 0, CNTRL_CENTERH);
    EXPECT_EQ(b.colors[0], &mine);
    EXPECT_EQ(b.textColor.r, 9);
    EXPECT_EQ(b.GetFlags(), CNTRL_CENTERH | CNTRL_EXTRUDED);
    // Statics copy the default static, not the default button.
    CStatic s;
    s.Create(nullptr, 0, 0, 10, 10, 0);
    EXPECT_EQ(s.GetID(), XCNTRL_STATIC);
    EXPECT_EQ(s.colors[0], glb->rootWindow->defButton[0]);
    model.Destroy();
    EXPECT_EQ(glb->rootWindow->defButtonCntrl, nullptr);
    CStatic look;
    look.Create(nullptr, 0, 0, 10, 10, CNTRL_CENTERV);
    look.SetTextColor(TRGBA(7, 7, 7));
    look.SetDefault();
    CStatic s2;
    s2.Create(nullptr, 0, 0, 10, 10, 0);
    EXPECT_EQ(s2.textColor.r, 7);
    EXPECT_EQ(s2.GetFlags(), CNTRL_CENTERV);
    b.Destroy();
    s.Destroy();
    s2.Destroy();
    look.Destroy();
    EXPECT_EQ(glb->rootWindow->defStaticCntrl, nullptr);
}

TEST_F(Buttons, StaticTakesOnlyItsHotkeyPhase)
{
    CStatic s;
    static char text[] = "Name:";
    s.Create(text, 10, 10, 60, 20, 0);
    s.SetHotkey('n');
    win->AddCntrl(&s);
    EXPECT_EQ(s.GuiMsgHandler(8, 30, 20, 1, nullptr), 0);
    Feed({M(30, 20), M(30, 20, 1), M(30, 20), K('n', 1)});
    EXPECT_EQ(s.hotkeyPhase, 2);
    Feed({K('n', 0)});
    EXPECT_EQ(s.hotkeyPhase, 0);
    EXPECT_EQ(s.GetState(), XGUI_RELEASED);
    EXPECT_TRUE(log.empty());
    win->RemoveCntrl(&s);
    s.Destroy();
}

// ---- a handler that destroys the window holding the button

CWindow** g_win = nullptr;
CButton** g_button = nullptr;
int32_t g_closed = 0;

void CloseOnClick(int32_t msg, int32_t windowId, int32_t, int32_t, void*)
{
    if (msg != 2 || *g_win == nullptr)
        return;
    ++g_closed;
    glb->rootWindow->RemoveWindow(windowId);
    (*g_win)->Destroy();
    XDELETE(*g_win);
    *g_win = nullptr;
    XDELETE(*g_button);
    *g_button = nullptr;
}

class ButtonInput : public ControlTest
{
  protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        ASSERT_TRUE(Open(640, 480, 16));
        ASSERT_TRUE(tvp::SetWindowPos(sglb->mainWindow, 0, 0, 640, 480));
        xHandler();
        // The first mouse move after start-up is not taken.
        Post(WM_MOUSEMOVE, 0, 300, 300);
    }
    void Post(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
    {
        ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, msg, keys, MAKELPARAM(x, y)));
        xHandler();
    }
};

TEST_F(ButtonInput, HandlerDestroysTheWindowOnClick)
{
    for (int32_t direct = 0; direct < 2; ++direct) {
        if (win == nullptr) {
            win = XNEW(CWindow);
            static char title[] = "again";
            win->Create(1, title, 0, 0, 300, 200, 0);
        }
        glb->rootWindow->RemoveWindow(1);
        glb->rootWindow->AddWindow(win, CloseOnClick, nullptr);
        CButton* b = XNEW(CButton);
        static char text[] = "OK";
        b->Create(1, text, 10, 10, 60, 20, XKEY_ENTER, CNTRL_EXTRUDED);
        win->AddCntrl(b);
        g_win = &win;
        g_button = &b;
        g_closed = 0;
        if (direct) {
            // Outside the root's pass the note is delivered at once, from
            // inside the button's handler.
            TGuiKey down{XKEY_ENTER, 1}, up{XKEY_ENTER, 0};
            b->GuiMsgHandler(0, 0, 0, XKEY_ENTER, &down);
            b->GuiMsgHandler(0, 0, 0, XKEY_ENTER, &up);
        } else {
            Post(WM_MOUSEMOVE, 0, 30, 20);
            Post(WM_LBUTTONDOWN, MK_LBUTTON, 30, 20);
            Post(WM_LBUTTONUP, 0, 30, 20);
        }
        EXPECT_EQ(g_closed, 1) << direct;
        EXPECT_EQ(win, nullptr);
        EXPECT_EQ(b, nullptr);
        xHandler();
    }
}

// ---- drag button

TEST_F(Buttons, DragWithinTheArea)
{
    struct Case {
        const char* name;
        int32_t axis;
        std::vector<Ev> events;
        int32_t dx, dy; // offset in the area afterwards
        std::vector<int32_t> notes;
        int32_t moved;
    };
    // The area is (20, 20) .. (119, 39); the button 20 x 20 starts at (20, 20).
    const Case cases[] = {
        {"drag right", XDRAG_X, {M(25, 25), M(25, 25, 1), M(45, 30, 1), M(45, 30)}, 20, 0, {1, 2}, 1},
        {"clamped at the end",
         XDRAG_X,
         {M(25, 25), M(25, 25, 1), M(400, 25, 1), M(400, 25)},
         80,
         0,
         {1, 2},
         1},
        {"both axes clamped",
         XDRAG_X | XDRAG_Y,
         {M(25, 25), M(25, 25, 1), M(35, 60, 1), M(35, 60)},
         10,
         0,
         {1, 2},
         1},
        {"press outside does not grab",
         XDRAG_X,
         {M(5, 5, 1), M(25, 25, 1), M(60, 25, 1), M(60, 25)},
         0,
         0,
         {},
         0},
        {"hover only", XDRAG_X, {M(25, 25), M(60, 25)}, 0, 0, {}, 0},
    };
    for (const Case& c : cases) {
        log.clear();
        CDragbutton d;
        ASSERT_EQ(d.Create(9, nullptr, 20, 20, 20, 20, 0, CNTRL_EXTRUDED), 1);
        CRect area;
        area.SetXYWH(20, 20, 100, 20);
        d.SetDragArea(c.axis, &area);
        win->AddCntrl(&d);
        Feed(c.events);
        int32_t dx = -1, dy = -1;
        d.GetDragOffset(dx, dy);
        EXPECT_EQ(dx, c.dx) << c.name;
        EXPECT_EQ(dy, c.dy) << c.name;
        EXPECT_EQ(d.TakeMoved(), c.moved) << c.name;
        EXPECT_EQ(d.TakeMoved(), 0) << c.name;
        EXPECT_EQ(d.IsGrabbed(), 0) << c.name;
        std::vector<int32_t> got;
        for (const Heard& h : log)
            got.push_back(h.msg);
        EXPECT_EQ(got, c.notes) << c.name;
        int32_t rx = 0, ry = 0;
        d.GetDragRoom(rx, ry);
        EXPECT_EQ(rx, 80);
        EXPECT_EQ(ry, 0);
        win->RemoveCntrl(&d);
        d.Destroy();
    }
}

// ---- link button

// A script in place of the desktop's opener that records its arguments.
class Links : public ControlTest
{
  protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        dir = std::filesystem::temp_directory_path() / ("tarvex_url_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        record = (dir / "opened.txt").string();
#ifdef _WIN32
        // A batch file; the redirection comes first so that a digit ending
        // the address is not read as a handle number.
        script = (dir / "opener.cmd").string();
        std::ofstream(script) << "@>>\"" << record << "\" echo %~1\r\n";
#else
        script = (dir / "opener").string();
        std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> " << record << "\n";
#endif
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        tvp::TestSetShellOpener(script.c_str());
    }
    void TearDown() override
    {
        tvp::TestSetShellOpener(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        ControlTest::TearDown();
    }
    // What the opener recorded. Windows starts it without waiting for it:
    // there the record is awaited (for at most five seconds).
    std::string Opened()
    {
        std::string text;
        for (int i = 0; i < 100; ++i) {
            std::ifstream f(record);
            std::stringstream ss;
            ss << f.rdbuf();
            text = ss.str();
#ifdef _WIN32
            if (text.empty() || text.back() != '\n') {
                xSleep(50);
                continue;
            }
#endif
            break;
        }
        return text;
    }
    std::filesystem::path dir;
    std::string script, record;
};

TEST_F(Links, ClickOpensTheAddress)
{
    struct Case {
        const char* address;
        const char* opened;
    };
    const Case cases[] = {
        {"https://example.org/a?b=1", "https://example.org/a?b=1\n"},
        {"someone@example.org", "mailto:someone@example.org\n"},
        {"mailto:x@example.org", "mailto:x@example.org\n"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(record);
        CURL u;
        static char text[] = "link";
        std::string address = c.address;
        ASSERT_EQ(u.Create(4, text, address.data(), 10, 10, 60, 20, 'u', 0), 1) << c.address;
        address[0] = '#'; // the link keeps its own copy
        win->AddCntrl(&u);
        log.clear();
        Feed({M(30, 20), M(30, 20, 1), M(30, 20)});
        EXPECT_EQ(Opened(), c.opened) << c.address;
        EXPECT_EQ(log.size(), 3u);
        // The hotkey clicks too.
        std::filesystem::remove(record);
        Feed({K('u', 1), K('u', 0)});
        EXPECT_EQ(Opened(), c.opened) << c.address;
        win->RemoveCntrl(&u);
        u.Destroy();
    }
}

TEST_F(Links, MissingAddressFails)
{
    static char text[] = "link";
    static char empty[] = "";
    for (char* address : {static_cast<char*>(nullptr), empty}) {
        CURL u;
        glb->error.Clear();
        EXPECT_EQ(u.Create(4, text, address, 0, 0, 10, 10, 0, 0), 0);
        EXPECT_STREQ(glb->error.GetError(), "CURL::Create: Missing URL.");
        u.Destroy();
    }
}

} // namespace
