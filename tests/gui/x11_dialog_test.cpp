// End to end in a real X server: the test starts itself again under
// xvfb-run, packs the log-in form into a "PRES" file, loads it, shows the
// dialog and has xdotool fill it in (typing into both fields, clicking the
// check box, a radio button, a list entry and OK); the values are read back.
#include "login_util.h"
#include "tarvex_test.h"
#include "x11_util.h"

#include <fstream>
#include <string>

namespace
{

constexpr const char* kChildVar = "TARVEX_X11_DIALOG_CHILD";
constexpr const char* kTitle = "tarvex-x11-dialog";
using tvtest::PumpUntil;
using tvtest::Xdo;

int32_t g_okClicks = 0;
tvtest::LoginValues g_atOk;
CDialog* g_dlg = nullptr;

void OnLogin(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    if (msg == 2 && controlId == tvtest::IDC_OK && g_dlg != nullptr) {
        g_atOk = tvtest::ReadLogin(g_dlg);
        ++g_okClicks;
    }
}

void RunInsideX()
{
    tvtest::Globals g(true);
    ASSERT_TRUE(g.ok) << tvtest::LastError();
    ASSERT_NO_FATAL_FAILURE(tvtest::ShowScreenWindow(kTitle));
    CWinCtrl* root = xCreateGuiRoot();
    ASSERT_NE(root, nullptr);

    // The form as an application ships it: packed.
    const std::string script = tvtest::LoginScript();
    uint32_t size = 0;
    char* packed = xPackRes(script.data(), static_cast<uint32_t>(script.size()), &size);
    ASSERT_NE(packed, nullptr);
    std::ofstream("login.res", std::ios::binary).write(packed, size);
    XFREE(packed);
    auto* res = XNEW(CResData);
    ASSERT_TRUE(res->Load("login.res")) << tvtest::LastError();
    g_dlg = XNEW(CDialog);
    ASSERT_EQ(g_dlg->Create(res, tvtest::IDW_LOGIN, OnLogin, 0, nullptr), 1) << tvtest::LastError();
    tvtest::PumpFrames(40);

    std::string log;
    const std::string win = tvtest::FocusWindowNamed(kTitle, &log);
    ASSERT_FALSE(win.empty()) << log;
    // Each xdotool step gets 12 frames of its own.
    constexpr int kFrames = 12;
    // Clicks at a point of the dialog (window coordinates).
    auto clickAt = [&](int32_t x, int32_t y) {
        EXPECT_EQ(tvtest::XdoClick(win, g_dlg->x + x, g_dlg->y + y, kFrames), 0);
    };
    auto clickCtrl = [&](int32_t id) {
        CControlBase* c = g_dlg->GetCtrl(id);
        clickAt(c->x + std::min(c->width / 2, 12), c->y + c->height / 2);
    };
    // Typed one key at a time, so every key has frames of its own.
    auto type = [&](const std::string& text) {
        for (char ch : text)
            EXPECT_EQ(Xdo({"type", "--window", win, "--delay", "30", std::string(1, ch)}, kFrames), 0);
    };
    clickCtrl(tvtest::IDC_USER);
    type("ada");
    clickCtrl(tvtest::IDC_PASSWORD);
    type("secret7");
    clickCtrl(tvtest::IDC_REMEMBER);
    clickCtrl(tvtest::IDC_INTERNET);
    int32_t lx = 0, ly = 0;
    tvtest::ListEntryCentre(g_dlg, tvtest::IDC_REGION, 2, &lx, &ly);
    clickAt(lx, ly);
    clickCtrl(tvtest::IDC_OK);
    EXPECT_TRUE(PumpUntil([] { return g_okClicks > 0; }));
    const tvtest::LoginValues want{"ada", "secret7", 1, tvtest::IDC_INTERNET, 2};
    EXPECT_EQ(g_atOk, want) << g_atOk.user << "/" << g_atOk.password << "/" << g_atOk.remember << "/"
                            << g_atOk.connection << "/" << g_atOk.region;

    g_dlg->Destroy();
    XDELETE(g_dlg);
    g_dlg = nullptr;
    xFreeGuiRoot();
    XDELETE(res);
    xHandler();
    EXPECT_EQ(g.Finish(), "") << "leak list not empty";
}

TEST(DialogX11, LoginFormFilledInWithXdotool) { tvtest::RunInXServer(kChildVar, RunInsideX); }

} // namespace
