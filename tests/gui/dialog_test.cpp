// Dialogs from window descriptions: which controls a description builds or
// the exact message it fails with (and that a failure leaves nothing), the
// dialog's access to its controls, the log-in form filled in with posted
// window messages, a handler that destroys its dialog, the message box, and
// a gallery picture of every control kind.
#include "../gfx/screen_util.h"
#include "login_util.h"

#include "platform/keymap.h"
#include "platform/platform.h"

#include <tarvex/button.h>
#include <tarvex/checkbox.h>
#include <tarvex/dialog.h>
#include <tarvex/static.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace
{

using tvtest::LastError;
using tvtest::ScreenTest;

const std::string kSrc = TARVEX_SOURCE_DIR;

// A resource script around one window body (window IDW_TEST = 100).
std::string Script(const std::string& body)
{
    return "; script\n"
           "{ = Defines\n IDW_TEST = 100\n IDW_OTHER = 101\n IDC_A = 201\n IDC_B = 202\n IDC_C = 203\n"
           " IDC_D = 204\n IDC_E = 205\n IDC_F = 206\n IDC_G = 207\n IDC_H = 208\n IDC_I = 209\n IDC_J = "
           "210\n"
           "}\n"
           "{ = Fonts\n BODY = " +
           kSrc +
           "/data/fonts/dejavusans16.xbf\n}\n"
           "{ = Bitmaps\n { = " +
           kSrc +
           "/data/gui/look.bmp\n  CHECK = 12, 0, 12, 12\n }\n}\n"
           "{ = Animations\n BLINK = " +
           kSrc +
           "/data/gui/look.bmp, 250, 0, 0, 12, 12, 6, 1, 1\n}\n"
           "{ = Colors\n SET = black, white, grey, black, white, grey, black, black\n"
           " SHORT = \"1 2 3 0\"\n}\n"
           "{ = Window, IDW_TEST\n" +
           body + "}\n";
}

const char* const kWin = " Create = \"Test\", 10, 20, 300, 200, XWIN_TITLEBAR|XWIN_FRAME\n";

class Dialogs : public ScreenTest
{
  protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        ASSERT_NE(xCreateGuiRoot(), nullptr);
    }
    void TearDown() override
    {
        if (dlg != nullptr) {
            dlg->Destroy();
            XDELETE(dlg);
        }
        dlg = nullptr;
        res.Free();
        xFreeGuiRoot();
        ScreenTest::TearDown();
    }
    // Imports the script and builds window id from it.
    int32_t Build(const std::string& text, int32_t id = 100, XGuiCallback cb = nullptr, void* user = nullptr)
    {
        if (!res.Import(text.c_str()))
            return -1;
        glb->error.Clear();
        if (dlg == nullptr)
            dlg = XNEW(CDialog);
        return dlg->Create(&res, id, cb, 0, user);
    }
    std::vector<std::pair<int32_t, int32_t>> Built()
    {
        std::vector<std::pair<int32_t, int32_t>> v;
        for (dlg->First(); dlg->Exists(); dlg->Next())
            v.emplace_back(dlg->GetGuiCtrl(-1)->type, dlg->GetGuiCtrl(-1)->id);
        return v;
    }
    CResData res;
    CDialog* dlg = nullptr;
};

TEST_F(Dialogs, DescriptionsBuildTheirControlsOrFailWithTheirMessage)
{
    using Kinds = std::vector<std::pair<int32_t, int32_t>>;
    struct Case {
        const char* name;
        std::string body;
        const char* error; // null: built
        Kinds built;
    };
    const std::string button =
        " { = Button, IDC_A\n  Create = OK, 10, 10, 80, 24, XKEY_ENTER, CNTRL_EXTRUDED\n";
    std::string deep;
    for (int i = 0; i < XDLG_MAX_NESTING + 1; ++i)
        deep += " { = Groupbox, IDC_A\n  Create = G, 0, 0, 10, 10, 0\n";
    for (int i = 0; i < XDLG_MAX_NESTING + 1; ++i)
        deep += " }\n";
    const Case cases[] = {
        {"every kind of the base set, type names in any case",
         std::string(kWin) + button + " }\n" +
             " { = static, IDC_B\n  Create = \"Label\", 10, 40, 80, 20, CNTRL_CENTERV\n }\n"
             " { = PROGRESS, IDC_C\n  Create = 10, 70, 100, 12, CNTRL_EXTRUDED\n }\n"
             " { = Checkbox, IDC_D\n  Create = Check, 10, 90, 100, 20, 0, NULL, 0\n  Caption = Checked\n"
             "  Flags = CNTRL_CENTERV\n }\n"
             " { = Timeout, IDC_E\n  Create = 150, 10, 40, 40, 0, 100, 50, 0\n }\n"
             " { = URL, IDC_F\n  Create = Site, \"https://example.org/\", 150, 60, 80, 20, NULL, 0\n }\n"
             " { = Scrolltext, IDC_G\n  Create = \"Hello\", 150, 90, 100, 20, 2, 0\n  Delay = 40\n }\n"
             " CreateStatic = IDC_H, \"Plain\", 10, 120, 60, 20, 0\n"
             " { = Edit, IDC_I\n  Create = \"\", 10, 150, 100, 20, 12, CNTRL_TABSTOP, CNTRL_PASSWORD\n }\n"
             " { = multiedit, IDC_J\n  Create = \"a\", 150, 120, 90, 40, 20, 0, 0\n }\n",
         nullptr,
         {{XDLG_BUTTON, 201},
          {XDLG_STATIC, 202},
          {XDLG_PROGRESS, 203},
          {XDLG_CHECKBOX, 204},
          {XDLG_TIMEOUT, 205},
          {XDLG_URL, 206},
          {XDLG_SCROLLTEXT, 207},
          {XDLG_STATIC, 208},
          {XDLG_EDIT, 209},
          {XDLG_MULTIEDIT, 210}}},
        {"group box members follow their box",
         std::string(kWin) + " { = Groupbox, IDC_A\n  Create = G, 10, 10, 120, 80, 0\n"
                             "  { = Radio, IDC_B\n   Create = One, 20, 30, 90, 20, 0, NULL, 0\n  }\n"
                             "  { = Radio, IDC_C\n   Create = Two, 20, 55, 90, 20, 0, NULL, 0\n  }\n"
                             "  CreateStatic = IDC_D, \"Note\", 20, 75, 50, 10, 0\n }\n",
         nullptr,
         {{XDLG_GROUPBOX, 201}, {XDLG_RADIO, 202}, {XDLG_RADIO, 203}, {XDLG_STATIC, 204}}},
        {"common items",
         std::string(kWin) + button +
             "  Bitmap = CHECK, CHECK, CHECK, CHECK\n  AnimBitmap = BLINK, None, BLINK\n"
             "  AnimLine = XGUI_RELEASED, walk, 0, 0, None, 10, 0, dot, CHECK\n"
             "  TextBufferSize = 40\n  Font = BODY\n  TextColor = \"255 0 0 0\"\n"
             "  Colors = SET, SET, SET, SET\n  Alpha = 100\n }\n",
         nullptr,
         {{XDLG_BUTTON, 201}}},
        {"window id without a define", std::string(kWin), "Unknown id", {}},
        {"window create missing", " FrameFlags = 0\n", "\"Create\" keyword missing for window", {}},
        {"window create short", " Create = \"T\", 1, 2, 3\n", "Unable to get the windows create data", {}},
        {"window flag unknown",
         " Create = \"T\", 1, 2, 3, 4, XWIN_FRAMES\n",
         "Unable to get the windows create data",
         {}},
        {"titlebar flags",
         std::string(kWin) + " TitlebarFlags = CNTRL_NOPE\n",
         "Unable to get the titlebar flags",
         {}},
        {"titlebar bitmap keyword",
         std::string(kWin) + " TitlebarFlags = CNTRL_HASBITMAP\n",
         "Unable to find the titlebar bitmap keyword",
         {}},
        {"titlebar bitmaps",
         std::string(kWin) + " TitlebarFlags = CNTRL_HASBITMAP\n TitlebarBitmap = CHECK, X\n",
         "Unable to get all the titlebar bitmaps",
         {}},
        {"frame flags", std::string(kWin) + " FrameFlags = 12\n", "Unable to get the frame flags", {}},
        {"frame colours",
         std::string(kWin) + " Colors = SET, SET, SHORT, SET\n",
         "Unable to get color nr 2 in the frame",
         {}},
        {"unknown kind",
         std::string(kWin) + " { = Gadget, IDC_A\n  Create = 1\n }\n",
         "Unknown window control type (Gadget)",
         {}},
        {"unknown item",
         std::string(kWin) + " Tooltip = \"x\"\n",
         "Unknown window control type (Tooltip)",
         {}},
        {"missing id", std::string(kWin) + " { = Button\n }\n", "Missing control id for : Button, ", {}},
        {"undefined id",
         std::string(kWin) + " { = Button, IDC_NOPE\n }\n",
         "Missing control id for : Button, IDC_NOPE",
         {}},
        {"static item without id",
         std::string(kWin) + " CreateStatic = IDC_NOPE, \"x\", 1, 2, 3, 4, 0\n",
         "Missing control id for : IDC_NOPE",
         {}},
        {"create missing",
         std::string(kWin) + " { = Button, IDC_A\n  Font = BODY\n }\n",
         "\"Create\" keyword missing for button cntrl",
         {}},
        {"button without hotkey",
         std::string(kWin) + " { = Button, IDC_A\n  Create = OK, 10, 10, 80, 24\n }\n",
         "Unable to get the create data for \"IDC_A\"",
         {}},
        {"number that is not one",
         std::string(kWin) + " { = Progress, IDC_A\n  Create = 10, ten, 80, 24, 0\n }\n",
         "Unable to get the cntrl create data for \"IDC_A\"",
         {}},
        {"bitmaps",
         std::string(kWin) + button + "  Bitmap = CHECK, CHECK, NOPE, CHECK\n }\n",
         "Unable to get the Bitmap's in the \"IDC_A\" button ctrl",
         {}},
        {"animations",
         std::string(kWin) + button + "  AnimBitmap = NOPE\n }\n",
         "Unable to get the AnimBitmap's in the \"IDC_A\" button ctrl",
         {}},
        {"animation line state",
         std::string(kWin) + button + "  AnimLine = XGUI_NOPE, l, 0, 0, None, 1, 1, o\n }\n",
         "Unable to get the bitmap type from animLine in the \"IDC_A\" button",
         {}},
        {"animation line animation",
         std::string(kWin) + button + "  AnimLine = XGUI_PRESSED, l, 0, 0, NOPE, 1, 1, o\n }\n",
         "animation is invalid in the \"IDC_A\" button",
         {}},
        {"animation line object",
         std::string(kWin) + button + "  AnimLine = XGUI_PRESSED, l, 0, 0, None, 1, 1\n }\n",
         "Unable to get one of the animLine new object in the \"IDC_A\" button",
         {}},
        {"animation line bitmap",
         std::string(kWin) + button + "  AnimLine = XGUI_PRESSED, l, 0, 0, None, 1, 1, o, CHECK, NOPE\n }\n",
         "Unable to get one of the animLine bitmaps in the \"IDC_A\" button",
         {}},
        {"animation line numbers",
         std::string(kWin) + button + "  AnimLine = XGUI_PRESSED, l, 0, x\n }\n",
         "Unable to get the AnimLines in the \"IDC_A\" button ctrl",
         {}},
        {"buffer size",
         std::string(kWin) + button + "  TextBufferSize = 0\n }\n",
         "Unable to get the buffer size in the \"IDC_A\" button ctrl",
         {}},
        {"font",
         std::string(kWin) + button + "  Font = NOPE\n }\n",
         "Unable to get the font in the \"IDC_A\" button ctrl",
         {}},
        {"text colour",
         std::string(kWin) + button + "  TextColor = \"1 2 3\"\n }\n",
         "Unable to get the text color in the \"IDC_A\" button ctrl",
         {}},
        {"colour sets",
         std::string(kWin) +
             " { = Static, IDC_A\n  Create = x, 1, 2, 3, 4, 0\n  Colors = SET, SET, SHORT\n }\n",
         "Unable to get color nr 2 in the \"IDC_A\" static ctrl",
         {}},
        {"alpha",
         std::string(kWin) + button + "  Alpha = much\n }\n",
         "Unable to get the alpha value for \"IDC_A\" button ctrl",
         {}},
        {"failure after controls were built",
         std::string(kWin) + button +
             " }\n { = Static, IDC_B\n  Create = x, 1, 2, 3, 4, 0\n }\n"
             " { = Groupbox, IDC_C\n  Create = G, 0, 0, 10, 10, 0\n"
             "  { = Radio, IDC_D\n   Create = R, 0, 0, 10, 10, 0, NULL, 0\n  }\n"
             "  { = Radio, IDC_E\n  }\n }\n",
         "\"Create\" keyword missing for radio cntrl",
         {}},
        {"group boxes nested too deep",
         std::string(kWin) + deep,
         "Group boxes nested deeper than 8 levels at \"IDC_A\"",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t id = std::string(c.name) == "window id without a define" ? 999 : 100;
        int32_t r = Build(Script(c.body), id);
        if (c.error == nullptr) {
            EXPECT_EQ(r, 1) << LastError();
            EXPECT_EQ(Built(), c.built);
            EXPECT_EQ(glb->rootWindow->FindWindow(100), dlg);
            EXPECT_EQ(dlg->NumCntrls(), static_cast<int32_t>(c.built.size()));
        } else {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(LastError(), c.error);
            EXPECT_EQ(dlg->guiCtrls.GetNumNodes(), 0);
            EXPECT_EQ(dlg->NumCntrls(), 0);
            EXPECT_EQ(dlg->titlebar, nullptr);
            EXPECT_EQ(glb->rootWindow->windows.GetNumNodes(), 0);
        }
        dlg->Destroy();
        res.Free();
    }
}

TEST_F(Dialogs, NestingUpToTheLimitIsBuilt)
{
    std::string body = kWin;
    for (int i = 0; i < XDLG_MAX_NESTING; ++i)
        body += " { = Groupbox, IDC_A\n  Create = G, 0, 0, 10, 10, 0\n";
    for (int i = 0; i < XDLG_MAX_NESTING; ++i)
        body += " }\n";
    ASSERT_EQ(Build(Script(body)), 1) << LastError();
    EXPECT_EQ(dlg->guiCtrls.GetNumNodes(), XDLG_MAX_NESTING);
}

TEST_F(Dialogs, GroupMembersAreWindowControlsOfTheirBox)
{
    const std::string body = std::string(kWin) +
                             " { = Groupbox, IDC_A\n  Create = G, 10, 10, 120, 80, 0\n"
                             "  { = Radio, IDC_B\n   Create = One, 20, 30, 90, 20, 0, NULL, 0\n  }\n"
                             "  { = Radio, IDC_C\n   Create = Two, 20, 55, 90, 20, 0, NULL, 0\n  }\n }\n";
    ASSERT_EQ(Build(Script(body)), 1) << LastError();
    auto* box = static_cast<CGroupbox*>(dlg->GetCtrl(201));
    auto* two = static_cast<CRadiobutton*>(dlg->GetCtrl(203));
    EXPECT_EQ(box->NumMembers(), 2);
    EXPECT_EQ(two->group, box);
    EXPECT_EQ(two->y, 55 + XTITLEBAR_HEIGHT);
    EXPECT_EQ(box->SetSelected(203), 1);
    EXPECT_EQ(box->GetSelected(), 203);
}

TEST_F(Dialogs, AccessByIdAndTextsOutliveTheResource)
{
    const std::string body = std::string(kWin) +
                             " { = Static, IDC_A\n  Create = \"Hello\", 10, 10, 80, 20, 0\n"
                             "  TextBufferSize = 4\n }\n"
                             " { = Progress, IDC_B\n  Create = 10, 40, 100, 12, 0\n }\n"
                             " { = Button, IDC_C\n  Create = \"Go on\", 10, 60, 80, 24, NULL, 0\n }\n";
    ASSERT_EQ(Build(Script(body)), 1) << LastError();
    // Placed below the titlebar; the window keeps its place and hidden flag.
    CControlBase* st = dlg->GetCtrl(201);
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(st->x, 10);
    EXPECT_EQ(st->y, 10 + XTITLEBAR_HEIGHT);
    EXPECT_EQ(dlg->x, 10);
    EXPECT_EQ(dlg->y, 20);
    EXPECT_FALSE(dlg->IsHidden());
    // The buffer size cuts the text to what fits.
    EXPECT_STREQ(dlg->GetTextBuffer(201, 0), "Hel");
    EXPECT_EQ(dlg->GetTextBufferSize(201), 4);
    EXPECT_EQ(dlg->GetCtrl(999), nullptr);
    EXPECT_EQ(dlg->GetTextBuffer(999, 0), nullptr);
    // SetValue is for progress bars only.
    EXPECT_EQ(dlg->SetValue(202, 40), 1);
    EXPECT_EQ(static_cast<CProgress*>(dlg->GetCtrl(202))->GetValue(), 40);
    EXPECT_EQ(dlg->SetValue(201, 40), 0);
    // -1 is the list's current entry.
    dlg->First();
    dlg->Next();
    EXPECT_EQ(dlg->GetCtrl(-1), dlg->GetCtrl(202));
    // The titles and texts were copied: freeing the resource data changes nothing.
    res.Free();
    EXPECT_STREQ(dlg->GetTextBuffer(203, 0), "Go on");
    EXPECT_STREQ(dlg->titlebar->text, "Test");
    char other[] = "Later";
    EXPECT_EQ(dlg->SetText(203, other), 1);
    EXPECT_STREQ(dlg->GetTextBuffer(203, 0), "Later");
}

TEST_F(Dialogs, ShowFlagHidesTheWindow)
{
    ASSERT_TRUE(res.Import(Script(kWin).c_str()));
    dlg = XNEW(CDialog);
    ASSERT_EQ(dlg->Create(&res, 100, nullptr, 1, nullptr), 1);
    EXPECT_TRUE(dlg->IsHidden());
    EXPECT_EQ(glb->rootWindow->FindWindow(100), dlg);
    dlg->Destroy();
    EXPECT_EQ(glb->rootWindow->FindWindow(100), nullptr);
}

// ---- input posted as window messages, run through xHandler

// Posts window messages while a modal loop runs, at most one per frame (the
// timer catches up on missed intervals, and a click must not come in one
// frame with the move before it), then asks the application to quit so the
// loop always ends.
class Poster : public CTimer
{
  public:
    std::vector<std::function<void()>> steps;
    size_t next = 0;
    int32_t idle = 0;
    uint32_t frame = 0;
    bool acted = false;
    void TimerHandler(uint32_t) override
    {
        if (acted && frame == glb->lastFrameTime)
            return;
        acted = true;
        frame = glb->lastFrameTime;
        if (next < steps.size())
            steps[next++]();
        else if (++idle == 200)
            tvp::PostQuitMessage(99);
    }
};

void PostMouse(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
{
    ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, msg, keys, MAKELPARAM(x, y)));
}
void PostKey(uint32_t vk, bool down)
{
    ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, down ? WM_KEYDOWN : WM_KEYUP, vk,
                                     down ? 1 : static_cast<int32_t>(0xC0000001u)));
}

// The screen position of a control of the front window.
void ControlCentre(int32_t ctrlId, int32_t* x, int32_t* y)
{
    CWindowBase* w = glb->rootWindow->FrontWindow();
    *x = *y = -1;
    if (w == nullptr)
        return;
    if (ctrlId == XCNTRL_CLOSE && w->TitlebarCntrl() != nullptr) {
        CRect r = static_cast<CTitlebar*>(w->TitlebarCntrl())->CloseRect();
        *x = w->x + r.left + r.Width() / 2;
        *y = w->y + r.top + r.Height() / 2;
        return;
    }
    for (int16_t ok = w->CntrlFirst(); ok; ok = w->CntrlNext())
        if (w->GetCntrl()->id == ctrlId) {
            *x = w->x + w->GetCntrl()->x + w->GetCntrl()->width / 2;
            *y = w->y + w->GetCntrl()->y + w->GetCntrl()->height / 2;
        }
}

std::vector<std::function<void()>> ClickSteps(int32_t ctrlId)
{
    auto pos = std::make_shared<std::pair<int32_t, int32_t>>();
    return {[=] {
                ControlCentre(ctrlId, &pos->first, &pos->second);
                PostMouse(WM_MOUSEMOVE, 0, pos->first, pos->second);
            },
            [=] { PostMouse(WM_LBUTTONDOWN, MK_LBUTTON, pos->first, pos->second); },
            [=] { PostMouse(WM_LBUTTONUP, 0, pos->first, pos->second); }};
}

class DialogInput : public Dialogs
{
  protected:
    void SetUp() override
    {
        Dialogs::SetUp();
        ASSERT_TRUE(Open(640, 480, 16));
        ASSERT_TRUE(tvp::SetWindowPos(sglb->mainWindow, 0, 0, 640, 480));
        ASSERT_TRUE(font.Load((kSrc + "/data/fonts/dejavusans16.xbf").c_str(), 0));
        glb->rootWindow->SetDefaultFont(&font);
        // The mouse takes its first move as where the pointer started.
        PostMouse(WM_MOUSEMOVE, 0, 639, 479);
        xHandler();
    }
    void TearDown() override
    {
        if (dlg != nullptr) {
            dlg->Destroy();
            XDELETE(dlg);
            dlg = nullptr;
        }
        xFreeGuiRoot();
        font.Free();
        Dialogs::TearDown();
    }
    CFont font;
};

TEST_F(DialogInput, MessageBoxEndsWithOkCloseOrQuit)
{
    struct Case {
        const char* name;
        std::vector<std::function<void()>> steps;
        int32_t result;
        int32_t quitAfter; // the quit code the application's loop sees next, 0 none
    };
    const Case cases[] = {
        {"Enter presses OK",
         {[] { PostKey(tvp::VK_RETURN, true); }, [] { PostKey(tvp::VK_RETURN, false); }},
         TRUE,
         0},
        {"a click on OK", ClickSteps(1), TRUE, 0},
        {"the close box", ClickSteps(XCNTRL_CLOSE), FALSE, 0},
        {"a quit", {[] { tvp::PostQuitMessage(7); }}, FALSE, 7},
    };
    char text[] = "The connection was closed by the server.\nTry again later.";
    char title[] = "Notice";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Poster poster;
        poster.steps = c.steps;
        poster.AddTimer(1);
        EXPECT_EQ(xMessageBox(text, title, 0), c.result);
        poster.RemoveAllTimers();
        EXPECT_EQ(glb->rootWindow->windows.GetNumNodes(), 0);
        EXPECT_EQ(xHandler(), c.quitAfter);
    }
}

// The box is the window with the button and text that the globals keep for
// it, and they stay for the next box. A box opened from a handler while
// that one shows is made of its own parts and closes first.
TEST_F(DialogInput, MessageBoxUsesTheGlobalsWindowAndControls)
{
    ASSERT_NE(glb->msgBoxWindow, nullptr);
    CWindow* shared = glb->msgBoxWindow;
    Poster poster;
    bool outerShared = false, outerParts = false, innerOwn = false;
    int32_t inner = -1;
    char innerText[] = "Inner";
    poster.steps = {
        [&] {
            CWindowBase* box = glb->rootWindow->FrontWindow();
            outerShared = box == shared;
            bool button = false, label = false;
            for (int16_t ok = box->CntrlFirst(); ok; ok = box->CntrlNext()) {
                button |= box->GetCntrl() == glb->msgBoxButton;
                label |= box->GetCntrl() == glb->msgBoxText;
            }
            outerParts = button && label;
        },
        [&] { inner = xMessageBox(innerText, nullptr, 0); },
        [&] {
            CWindowBase* box = glb->rootWindow->FrontWindow();
            innerOwn = box != shared && glb->rootWindow->FindWindow(shared->id) == shared;
            PostKey(tvp::VK_RETURN, true);
        },
        [] { PostKey(tvp::VK_RETURN, false); },
        [] { PostKey(tvp::VK_RETURN, true); },
        [] { PostKey(tvp::VK_RETURN, false); },
    };
    poster.AddTimer(1);
    char text[] = "Outer";
    EXPECT_EQ(xMessageBox(text, nullptr, 0), TRUE);
    poster.RemoveAllTimers();
    EXPECT_TRUE(outerShared);
    EXPECT_TRUE(outerParts);
    EXPECT_TRUE(innerOwn);
    EXPECT_EQ(inner, TRUE);
    EXPECT_EQ(glb->msgBoxWindow, shared);
    EXPECT_EQ(glb->rootWindow->windows.GetNumNodes(), 0);
}

TEST_F(DialogInput, MessageBoxIsSizedToItsText)
{
    struct Case {
        const char* text;
        int32_t minW, maxW, maxH;
    };
    const Case cases[] = {
        {"Hi", 100, 100, 480},
        {"A line of text that is rather longer than the narrowest box", 300, 640, 480},
        {"Many "
         "lines\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n15\n16\n17\n18\n19\n20\n21\n22\n23\n24\n25\n2"
         "6\n27"
         "\n28\n29\n30",
         100, 640, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Poster poster;
        int32_t w = 0, h = 0, okX = 0, okW = 0;
        poster.steps = {[&] {
            CWindowBase* box = glb->rootWindow->FrontWindow();
            w = box->width, h = box->height;
            for (int16_t ok = box->CntrlFirst(); ok; ok = box->CntrlNext())
                if (box->GetCntrl()->id == 1)
                    okX = box->GetCntrl()->x, okW = box->GetCntrl()->width;
            EXPECT_NE(box->flags & XWIN_MODAL, 0u);
            tvp::PostQuitMessage(1);
        }};
        poster.AddTimer(1);
        std::string text = c.text;
        EXPECT_EQ(xMessageBox(text.data(), nullptr, 0), FALSE);
        poster.RemoveAllTimers();
        EXPECT_EQ(xHandler(), 1);
        EXPECT_GE(w, c.minW);
        EXPECT_LE(w, c.maxW);
        EXPECT_LE(h, c.maxH);
        EXPECT_EQ(okX, (w - okW) / 2); // centred
    }
}

// The OK handler destroys the dialog while the root delivers the click.
CDialog** g_dlg = nullptr;
std::vector<std::pair<int32_t, int32_t>> g_heard;
void DestroyOnOk(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    g_heard.emplace_back(msg, controlId);
    if (msg == 2 && controlId == 201 && *g_dlg != nullptr) {
        (*g_dlg)->Destroy();
        XDELETE(*g_dlg);
        *g_dlg = nullptr;
    }
}

TEST_F(DialogInput, HandlerThatDestroysItsDialogIsSafe)
{
    const std::string body =
        std::string(kWin) +
        " { = Button, IDC_A\n  Create = OK, 10, 10, 80, 24, XKEY_ENTER, CNTRL_EXTRUDED\n }\n" +
        " { = Button, IDC_B\n  Create = Other, 100, 10, 80, 24, XKEY_ENTER, CNTRL_EXTRUDED\n }\n";
    g_dlg = &dlg;
    for (bool byKey : {false, true}) {
        SCOPED_TRACE(byKey ? "Enter" : "click");
        g_heard.clear();
        ASSERT_EQ(Build(Script(body), 100, DestroyOnOk), 1) << LastError();
        if (byKey) {
            // Both buttons take Enter: the second hears it after the first
            // one's handler destroyed the dialog.
            PostKey(tvp::VK_RETURN, true);
            PostKey(tvp::VK_RETURN, false);
            for (int i = 0; i < 4; ++i)
                xHandler();
        } else {
            for (auto& step : ClickSteps(201)) {
                step();
                xHandler();
                xHandler();
            }
        }
        EXPECT_EQ(dlg, nullptr);
        EXPECT_EQ(glb->rootWindow->windows.GetNumNodes(), 0);
        EXPECT_NE(std::find(g_heard.begin(), g_heard.end(), std::make_pair(2, 201)), g_heard.end());
        xHandler();
        res.Free();
    }
}

// ---- the log-in form and the gallery

void Frames(int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        xHandler();
}

// Clicks at a window point of the dialog, each message in frames of its own.
void ClickIn(CDialog* d, int32_t x, int32_t y)
{
    for (uint32_t msg : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP}) {
        PostMouse(msg, msg == WM_LBUTTONDOWN ? static_cast<uint32_t>(MK_LBUTTON) : 0u, d->x + x, d->y + y);
        Frames(2);
    }
}

void ClickCtrlIn(CDialog* d, int32_t id)
{
    CControlBase* c = d->GetCtrl(id);
    ClickIn(d, c->x + std::min(c->width / 2, 12), c->y + c->height / 2);
}

void TypeKeys(const std::string& text)
{
    for (char ch : text) {
        const uint32_t vk =
            (ch >= 'a' && ch <= 'z') ? static_cast<uint32_t>(ch - 'a' + 'A') : static_cast<uint32_t>(ch);
        PostKey(vk, true);
        Frames(2);
        PostKey(vk, false);
        Frames(2);
    }
}

int32_t g_okSeen = 0;
void CountOk(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    if (msg == 2 && controlId == tvtest::IDC_OK)
        ++g_okSeen;
}

TEST_F(DialogInput, LoginFormFilledInWithPostedMessages)
{
    g_okSeen = 0;
    ASSERT_EQ(Build(tvtest::LoginScript(), tvtest::IDW_LOGIN, CountOk), 1) << LastError();
    // Centred on the 640x480 screen.
    EXPECT_EQ(dlg->x, (640 - dlg->width) / 2);
    EXPECT_EQ(dlg->y, (480 - dlg->height) / 2);
    EXPECT_EQ(tvtest::ReadLogin(dlg), (tvtest::LoginValues{"", "", 0, 0, 0}));
    ClickCtrlIn(dlg, tvtest::IDC_USER);
    TypeKeys("ada");
    ClickCtrlIn(dlg, tvtest::IDC_PASSWORD);
    TypeKeys("secret7");
    ClickCtrlIn(dlg, tvtest::IDC_REMEMBER);
    ClickCtrlIn(dlg, tvtest::IDC_LAN);
    ClickCtrlIn(dlg, tvtest::IDC_INTERNET);
    int32_t lx = 0, ly = 0;
    tvtest::ListEntryCentre(dlg, tvtest::IDC_REGION, 2, &lx, &ly);
    ClickIn(dlg, lx, ly);
    EXPECT_EQ(tvtest::ReadLogin(dlg), (tvtest::LoginValues{"ada", "secret7", 1, tvtest::IDC_INTERNET, 2}));
    EXPECT_EQ(dlg->GetCtrl(tvtest::IDC_LAN)->GetSelected(), 0);
    // Enter goes to every control: OK is clicked by its hotkey.
    PostKey(tvp::VK_RETURN, true);
    Frames(2);
    PostKey(tvp::VK_RETURN, false);
    Frames(2);
    EXPECT_EQ(g_okSeen, 1);
}

// Every kind in one window, drawn at 16 bits and saved for a person to see.
TEST_F(DialogInput, GalleryOfEveryKind)
{
    const std::string body =
        " Create = \"Every control\", 0, 0, 600, 440, XWIN_TITLEBAR|XWIN_FRAME|XWIN_CLOSE\n"
        " FrameFlags = CNTRL_EXTRUDED\n"
        " { = Static, IDC_A\n  Create = \"A static text\", 10, 10, 180, 22, CNTRL_CENTERV\n }\n"
        " { = Button, IDC_B\n  Create = Button, 10, 40, 100, 26, XKEY_ENTER, "
        "CNTRL_EXTRUDED|CNTRL_CENTERH|CNTRL_CENTERV\n }\n"
        " { = Progress, IDC_C\n  Create = 10, 76, 180, 16, CNTRL_EXTRUDED\n }\n"
        " { = Edit, IDC_D\n  Create = \"Edit field\", 10, 100, 180, 22, 30, CNTRL_TABSTOP, 0\n }\n"
        " { = MultiEdit, IDC_E\n  Create = \"Two\\nlines\", 10, 130, 180, 60, 40, CNTRL_TABSTOP, 0\n }\n"
        " { = Checkbox, IDC_F\n  Create = \"Check box\", 10, 200, 180, 22, 0, NULL, 0\n }\n"
        " { = Groupbox, IDC_G\n  Create = Group, 210, 10, 170, 90, 0\n"
        "  { = Radio, IDC_H\n   Create = First, 220, 34, 140, 22, 0, NULL, 0\n  }\n"
        "  { = Radio, IDC_I\n   Create = Second, 220, 62, 140, 22, 0, NULL, 0\n  }\n }\n"
        " { = Slider, IDC_J\n  Create = 210, 110, 170, 20, 0, 99, 30, 10, CNTRL_HSLIDER\n }\n"
        " { = Listbox, IDC_K\n  Create = 210, 140, 170, 90, 22, 0, 0\n"
        "  Text = One\n  Text = Two\n  Text = Three\n  Text = Four\n  Text = Five\n }\n"
        " { = Combobox, IDC_L\n  Create = 400, 10, 170, 22, 90, NULL, 0, 0\n  Text = Alpha\n  Text = Beta\n "
        "}\n"
        " { = Timeout, IDC_M\n  Create = 400, 50, 60, 60, 0, 100, 70, 0\n }\n"
        " { = Scrolltext, IDC_N\n  Create = \"Scrolling text \", 400, 120, 170, 22, 1, 0\n }\n"
        " { = URL, IDC_O\n  Create = \"A link\", \"https://example.org/\", 400, 150, 120, 22, NULL, 0\n }\n";
    std::string script = Script(body);
    for (const char* id : {"IDC_K = 211", "IDC_L = 212", "IDC_M = 213", "IDC_N = 214", "IDC_O = 215"})
        script.insert(script.find(" IDC_J"), std::string(" ") + id + "\n");
    ASSERT_EQ(Build(script), 1) << LastError();
    dlg->SetValue(203, 60);
    dlg->GetCtrl(206)->SetSelected(1);
    dlg->GetCtrl(207)->SetSelected(209);
    dlg->GetCtrl(211)->SetSelected(2);
    CScreenBase* s = Screen();
    s->FillRect(0, 0, 640, 480, TRGBA(0, 64, 0));
    glb->rootWindow->Validate();
    glb->rootWindow->MsgHandler(XMSG_DRAW, 0, 0);
    const CBitmap& pic = *s->GetScreenBitmap();
    // Saved for a person to look at, whatever the hash says.
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(TARVEX_BINARY_DIR) / "tests" / "pictures";
    std::error_code ec;
    fs::create_directories(dir, ec);
    CBitmap shot;
    ASSERT_TRUE(shot.CreateRGB(pic.width, pic.height, 24, 8, 8, 8, 0, 8, 16, 0));
    ASSERT_TRUE(shot.Blt(const_cast<CBitmap*>(&pic), 0, 0, 0, 0, -1, -1, 0, 0, 0));
    EXPECT_TRUE(shot.Save((dir / "dialog_gallery.bmp").string().c_str(), nullptr, nullptr, nullptr, 0));
    EXPECT_TRUE(tvtest::MatchesGolden("dialog_gallery_16", pic, &s->palette, 2906521447u));
}

} // namespace
