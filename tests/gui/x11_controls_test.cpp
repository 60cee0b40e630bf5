// The standard controls in a real X server: the test starts itself again
// under xvfb-run, shows a window with a check box, two radio buttons and an
// OK button, and has xdotool click the box and a radio button and press
// Enter (OK's hotkey), whose handler destroys the window.
#include "tarvex_test.h"
#include "x11_util.h"

#include <tarvex/checkbox.h>

#include <string>
#include <vector>

namespace
{

constexpr const char* kChildVar = "TARVEX_X11_CONTROLS_CHILD";
constexpr const char* kTitle = "tarvex-x11-controls";
using tvtest::PumpUntil;
using tvtest::Xdo;

struct Form {
    CWindow* win = nullptr;
    std::vector<CControlBase*> cntrls;
    std::vector<int32_t> heard; // message * 100 + control id
    void Close()
    {
        if (win == nullptr)
            return;
        glb->rootWindow->RemoveWindow(win->id);
        win->Destroy();
        XDELETE(win);
        win = nullptr;
        for (CControlBase* c : cntrls) {
            c->Destroy();
            XDELETE(c);
        }
        cntrls.clear();
    }
};

void OnForm(int32_t msg, int32_t, int32_t control, int32_t, void* user)
{
    auto* f = static_cast<Form*>(user);
    f->heard.push_back(msg * 100 + control);
    if (msg == 2 && control == 1)
        f->Close();
}

void RunInsideX()
{
    tvtest::Globals g(true);
    ASSERT_TRUE(g.ok) << tvtest::LastError();
    ASSERT_NO_FATAL_FAILURE(tvtest::ShowScreenWindow(kTitle));
    CWinCtrl* root = xCreateGuiRoot();
    Form form;
    form.win = XNEW(CWindow);
    static char title[] = "Form", remember[] = "Remember", a[] = "A", b[] = "B", ok[] = "OK";
    form.win->Create(7, title, 100, 100, 300, 200, XWIN_TITLEBAR | XWIN_FRAME);
    root->AddWindow(form.win, OnForm, &form);
    auto* box = XNEW(CCheckbox);
    box->Create(2, remember, 10, 10, 120, 20, 0, 0, 0);
    auto* group = XNEW(CGroupbox);
    group->Create(3, nullptr, 10, 40, 120, 60, 0);
    auto* ra = XNEW(CRadiobutton);
    ra->Create(4, a, 20, 45, 100, 20, 0, 0, 0);
    auto* rb = XNEW(CRadiobutton);
    rb->Create(5, b, 20, 70, 100, 20, 0, 0, 0);
    auto* button = XNEW(CButton);
    button->Create(1, ok, 200, 150, 80, 24, XKEY_ENTER, CNTRL_EXTRUDED | CNTRL_CENTERH | CNTRL_CENTERV);
    form.cntrls = {box, group, ra, rb, button};
    for (CControlBase* c : form.cntrls)
        form.win->AddCntrl(c);
    ra->SetParent(7, form.win, group);
    rb->SetParent(7, form.win, group);
    group->SetSelected(4);
    tvtest::PumpFrames(40);
    std::string log;
    const std::string win = tvtest::FocusWindowNamed(kTitle, &log);
    ASSERT_FALSE(win.empty()) << log;
    // Window (100, 100), controls 16 pixels below its top for the titlebar.
    EXPECT_EQ(tvtest::XdoClick(win, 120, 136), 0);
    EXPECT_TRUE(PumpUntil([&] { return box->IsChecked() == 1; }));
    EXPECT_EQ(tvtest::XdoClick(win, 130, 196), 0);
    EXPECT_TRUE(PumpUntil([&] { return group->GetSelected() == 5; }));
    ASSERT_EQ(Xdo({"mousemove", "--window", win, "--sync", "500", "400"}), 0);
    ASSERT_EQ(Xdo({"key", "Return"}), 0);
    EXPECT_TRUE(PumpUntil([&] { return form.win == nullptr; }));
    const std::vector<int32_t> want = {602, 605, 704, 101, 201};
    EXPECT_EQ(form.heard, want);
    form.Close();
    xFreeGuiRoot();
    xHandler();
    EXPECT_EQ(g.Finish(), "") << "leak list not empty";
}

TEST(GuiX11, ControlsClickedAndTyped) { tvtest::RunInXServer(kChildVar, RunInsideX); }

} // namespace
