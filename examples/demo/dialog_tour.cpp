// The dialog part of the main example: a complete form from resource data
// (packed as an application would ship it), filled in by input given to the
// main window procedure, and the application's handler reacting to OK.
#include "dialog_tour.h"
#include "tour_util.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace
{

enum : int32_t {
    IDW_LOGIN = 300,
    IDC_USER = 302,
    IDC_PASSWORD = 304,
    IDC_REMEMBER = 305,
    IDC_CONNECTION = 306,
    IDC_INTERNET = 308,
    IDC_REGION = 310,
    IDC_OK = 311,
    IDC_STATUS = 313,
};

// The script with its "data/..." file names rooted at root.
std::string ReadScript(const std::string& root)
{
    std::ifstream in(root + "/data/gui/login.script", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str(), out;
    const std::string from = " data/", to = " " + root + "/data/";
    for (size_t at = 0;;) {
        size_t hit = text.find(from, at);
        out += text.substr(at, hit == std::string::npos ? std::string::npos : hit - at);
        if (hit == std::string::npos)
            break;
        out += to;
        at = hit + from.size();
    }
    return out;
}

CDialog* g_login = nullptr;
int32_t g_ok = 0;
char g_status[96];

// The application's handler: OK shows a greeting in the status line.
void OnLogin(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    if (msg != 2 || controlId != IDC_OK || g_login == nullptr)
        return;
    ++g_ok;
    std::snprintf(g_status, sizeof g_status, "Welcome, %s!", g_login->GetTextBuffer(IDC_USER, 0));
    g_login->SetText(IDC_STATUS, g_status);
}

// Every message here gets two frames.
void Post(uint32_t msg, uint32_t wParam, int32_t lParam) { tour::PostToMain(msg, wParam, lParam, 2); }

void ClickAt(int32_t x, int32_t y) { tour::ClickMain(x, y, 2); }

void ClickCtrl(int32_t id)
{
    CControlBase* c = g_login->GetCtrl(id);
    ClickAt(g_login->x + c->x + (c->width < 24 ? c->width / 2 : 12), g_login->y + c->y + c->height / 2);
}

// Letters and digits as the keyboard sends them (virtual keys, no shift).
void Type(const char* text)
{
    for (const char* p = text; *p != 0; ++p) {
        const uint32_t vk =
            (*p >= 'a' && *p <= 'z') ? static_cast<uint32_t>(*p - 'a' + 'A') : static_cast<uint32_t>(*p);
        Post(WM_KEYDOWN, vk, 1);
        Post(WM_KEYUP, vk, static_cast<int32_t>(0xC0000001u));
    }
}

} // namespace

bool DialogTour(const std::string& folder)
{
    CScreenBase* s = tour::OpenTourScreen("dialog");
    if (s == nullptr)
        return false;
    // The form as an application ships it: packed.
    const std::string script = ReadScript(tour::FindDataRoot("data/gui/login.script"));
    uint32_t size = 0;
    char* packed = xPackRes(script.data(), static_cast<uint32_t>(script.size()), &size);
    const std::string resFile = folder + "/login.res";
    if (packed != nullptr)
        std::ofstream(resFile, std::ios::binary).write(packed, size);
    XFREE(packed);
    CWinCtrl* root = glb->rootWindow;
    auto* res = XNEW(CResData);
    g_login = XNEW(CDialog);
    bool built = res->Load(resFile.c_str()) && g_login->Create(res, IDW_LOGIN, OnLogin, 0, nullptr);
    bool filled = false, greeted = false, boxed = false, saved = false;
    if (built) {
        s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
        xHandler();
        Post(WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        ClickCtrl(IDC_USER);
        Type("ada");
        ClickCtrl(IDC_PASSWORD);
        Type("secret7");
        ClickCtrl(IDC_REMEMBER);
        ClickCtrl(IDC_INTERNET);
        auto* list = static_cast<CListbox*>(g_login->GetCtrl(IDC_REGION));
        ClickAt(g_login->x + list->x + 20, g_login->y + list->y + list->fieldHeight + list->fieldHeight / 2);
        const char* user = g_login->GetTextBuffer(IDC_USER, 0);
        filled = user != nullptr && std::string(user) == "ada" &&
                 g_login->GetCtrl(IDC_REMEMBER)->GetSelected() == 1 &&
                 g_login->GetCtrl(IDC_CONNECTION)->GetSelected() == IDC_INTERNET &&
                 g_login->GetCtrl(IDC_REGION)->GetSelected() == 2;
        ClickCtrl(IDC_OK);
        greeted = g_ok == 1 && std::string(g_status) == "Welcome, ada!";
        tour::RedrawGui(s, root);
        saved = tour::SaveScreen(s, folder + "/dialog.bmp");
        // A message box on top, closed by Enter queued for it.
        glb->keyboard->AddKeyToQueue(XKEY_ENTER, XKEYF_DOWN, 0);
        glb->keyboard->AddKeyToQueue(XKEY_ENTER, 0, 0);
        char text[128], title[] = "Logged in";
        std::snprintf(text, sizeof text, "%s logged in to %s.", user != nullptr ? user : "?",
                      static_cast<CListbox*>(g_login->GetCtrl(IDC_REGION))->GetSelectedControl()->text);
        boxed = xMessageBox(text, title, 0) == TRUE;
    }
    std::printf("dialog: log-in form from a packed resource %s; filled in by mouse and keys %s; OK %s; "
                "message box %s; picture saved to %s\n",
                built ? "built" : "NOT built", filled ? "as expected" : "NOT as expected",
                greeted ? "greeted the user" : "NOT handled",
                boxed ? "closed by Enter" : "NOT closed by Enter",
                saved ? (folder + "/dialog.bmp").c_str() : "(failed)");
    g_login->Destroy();
    XDELETE(g_login);
    g_login = nullptr;
    XDELETE(res);
    std::remove(resFile.c_str());
    return built && filled && greeted && boxed && saved;
}
