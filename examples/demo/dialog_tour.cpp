// The dialog part of the main example: a complete form from resource data
// (packed as an application would ship it), filled in by input given to the
// main window procedure, and the application's handler reacting to OK.
#include "dialog_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

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

// The folder holding data/ (the working folder or one above the program).
std::string FindDataRoot()
{
    std::error_code ec;
    if (std::filesystem::exists("data/gui/login.script", ec))
        return ".";
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path())
        if (std::filesystem::exists(dir / "data/gui/login.script", ec))
            return dir.string();
    return ".";
}

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

void Post(uint32_t msg, uint32_t wParam, int32_t lParam)
{
    xMainWindowProc(sglb->mainWindow, msg, wParam, lParam);
    xHandler();
    xHandler();
}

void ClickAt(int32_t x, int32_t y)
{
    Post(WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    Post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    Post(WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

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

bool SaveScreen(CScreenBase* s, const std::string& file)
{
    CBitmap* shot = XNEW(CBitmap);
    CBitmap* picture = s->GetScreenBitmap();
    bool saved = picture != nullptr &&
                 shot->CreateRGB(picture->width, picture->height, 24, 8, 8, 8, 0, 8, 16, 0) &&
                 shot->Blt(picture, 0, 0, 0, 0, -1, -1, 0, 0, 0) &&
                 shot->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    XDELETE(shot);
    return saved;
}

} // namespace

bool DialogTour(const std::string& folder)
{
    CScreenBase* s = sglb->dibScreen;
    if (s == nullptr || !s->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::printf("dialog: could not open a 640x480 16-bit window\n");
        return false;
    }
    // The form as an application ships it: packed.
    const std::string script = ReadScript(FindDataRoot());
    uint32_t size = 0;
    char* packed = xPackRes(script.data(), static_cast<uint32_t>(script.size()), &size);
    const std::string resFile = folder + "/login.res";
    if (packed != nullptr)
        std::ofstream(resFile, std::ios::binary).write(packed, size);
    XFREE(packed);
    CWinCtrl* root = xCreateGuiRoot();
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
        s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
        root->Validate();
        root->MsgHandler(XMSG_DRAW, 0, 0);
        saved = SaveScreen(s, folder + "/dialog.bmp");
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
    xFreeGuiRoot();
    XDELETE(res);
    std::remove(resFile.c_str());
    return built && filled && greeted && boxed && saved;
}
