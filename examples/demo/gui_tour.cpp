// The GUI part of the main example: the sample GUI script is packed into a
// "PRES" file with the library's packer, loaded back while the GUI root
// exists (the root takes the file's default look), and its two window
// descriptions become windows. Input is given to the main window procedure
// the way the window system gives it, so the root routes it as it would a
// user's: a click raises the back window, a drag moves it by its title bar,
// and the other window's close box closes it.
#include "gui_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace
{

const char* const kScript = "data/gui/sample.script";

// The repository's root (the sample's file names are relative to it): the
// working directory, or a folder above the program's own.
std::filesystem::path FindRoot()
{
    std::error_code ec;
    if (std::filesystem::exists(kScript, ec))
        return std::filesystem::current_path(ec);
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path())
        if (std::filesystem::exists(dir / kScript, ec))
            return dir;
    return std::filesystem::current_path(ec);
}

// Packs the sample script into folder/sample.res; its size or 0.
uint32_t PackSample(const std::filesystem::path& root, const std::string& file)
{
    std::ifstream in(root / kScript, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t size = 0;
    char* packed = text.empty() ? nullptr : xPackRes(text.data(), static_cast<uint32_t>(text.size()), &size);
    bool ok = packed != nullptr && xWriteFile(file.c_str(), packed, size);
    if (packed != nullptr)
        XFREE(packed);
    return ok ? size : 0;
}

// A window from the "Window" description of that define name: its "Create"
// item gives title, position, size and flags (the controls are left to the
// dialogs). Null when the description is missing or malformed.
CWindow* WindowFromResource(CResData* res, int32_t id)
{
    const char* name = res->GetResName(id);
    res->MainChunk();
    res->RestartMode(1);
    res->FirstItem();
    if (name == nullptr || !res->FindItem("{", "Window", name) || !res->EnterChunk())
        return nullptr;
    int32_t v[4] = {}, flags = 0;
    CWindow* w = nullptr;
    res->FirstItem();
    if (res->FindItem("Create") && res->GetString(0) != nullptr && res->GetLong(1, &v[0]) &&
        res->GetLong(2, &v[1]) && res->GetLong(3, &v[2]) && res->GetLong(4, &v[3]) &&
        res->GetResFlags(5, &flags)) {
        w = XNEW(CWindow);
        w->Create(id, res->GetString(0), v[0], v[1], v[2], v[3], flags);
    }
    res->ExitChunk();
    return w;
}

int32_t g_closed = 0;

// The application's handler: the close box removes and destroys the window.
void OnWindow(int32_t msg, int32_t windowId, int32_t controlId, int32_t, void* user)
{
    if (msg != 2 || controlId != XCNTRL_CLOSE)
        return;
    auto* w = static_cast<CWindow*>(user);
    glb->rootWindow->RemoveWindow(windowId);
    w->Destroy();
    XDELETE(w);
    g_closed = windowId;
}

void Mouse(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
{
    xMainWindowProc(sglb->mainWindow, msg, keys, MAKELPARAM(x, y));
    xHandler();
}

} // namespace

bool GuiTour(const std::string& folder)
{
    CScreenBase* s = sglb->dibScreen;
    if (s == nullptr || !s->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::printf("gui: could not open a 640x480 16-bit window\n");
        return false;
    }
    CWinCtrl* root = glb->rootWindow;
    const std::filesystem::path repo = FindRoot();
    const std::string file = std::filesystem::absolute(folder + "/sample.res").string();
    const uint32_t packedSize = PackSample(repo, file);
    // The sample names its pictures and font from the repository's root.
    std::error_code ec;
    const std::filesystem::path before = std::filesystem::current_path(ec);
    std::filesystem::current_path(repo, ec);
    auto* res = XNEW(CResData);
    const bool loaded = packedSize > 0 && res->Load(file.c_str()) && res->GetNumErrors() == 0;
    std::filesystem::current_path(before, ec);
    int32_t mainId = 0, aboutId = 0;
    res->GetResId("IDW_MAIN", &mainId);
    res->GetResId("IDW_ABOUT", &aboutId);
    CWindow* first = loaded ? WindowFromResource(res, mainId) : nullptr;
    CWindow* second = loaded ? WindowFromResource(res, aboutId) : nullptr;
    bool raised = false, dragged = false, closed = false, saved = false;
    if (first != nullptr && second != nullptr) {
        root->AddWindow(first, OnWindow, first);
        root->AddWindow(second, OnWindow, second);
        s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
        xHandler();

        // Raise the main window by clicking where the other does not cover
        // it, then drag it by its title bar by (+140, +180).
        const int32_t px = first->x + 20, py = first->y + first->height - 10;
        Mouse(WM_MOUSEMOVE, 0, px, py);
        Mouse(WM_LBUTTONDOWN, MK_LBUTTON, px, py);
        Mouse(WM_LBUTTONUP, 0, px, py);
        raised = root->FrontWindow() == first;
        const int32_t x0 = first->x, y0 = first->y, tx = x0 + 60, ty = y0 + first->titlebar->height / 2;
        Mouse(WM_MOUSEMOVE, 0, tx, ty);
        Mouse(WM_LBUTTONDOWN, MK_LBUTTON, tx, ty);
        for (int32_t i = 1; i <= 4; ++i)
            Mouse(WM_MOUSEMOVE, MK_LBUTTON, tx + 35 * i, ty + 45 * i);
        Mouse(WM_LBUTTONUP, 0, tx + 140, ty + 180);
        dragged = first->x == x0 + 140 && first->y == y0 + 180;
        // Close the other window with its close box.
        CRect box = second->titlebar->CloseRect();
        const int32_t cx = second->x + box.left + 3, cy = second->y + box.top + 3;
        Mouse(WM_MOUSEMOVE, 0, cx, cy);
        Mouse(WM_LBUTTONDOWN, MK_LBUTTON, cx, cy);
        Mouse(WM_LBUTTONUP, 0, cx, cy);
        closed = g_closed == aboutId;

        // The picture of the windows as they stand now.
        s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
        root->Validate();
        root->MsgHandler(XMSG_DRAW, 0, 0);
        CBitmap* shot = XNEW(CBitmap);
        CBitmap* picture = s->GetScreenBitmap();
        const std::string bmp = folder + "/gui.bmp";
        saved = picture != nullptr &&
                shot->CreateRGB(picture->width, picture->height, 24, 8, 8, 8, 0, 8, 16, 0) &&
                shot->Blt(picture, 0, 0, 0, 0, -1, -1, 0, 0, 0) &&
                shot->Save(bmp.c_str(), nullptr, nullptr, nullptr, 0);
        XDELETE(shot);
        std::printf(
            "gui: %s (%u bytes packed) opened \"%s\" and \"%s\" in the file's look; first %s, dragged "
            "to (%d, %d)%s, second %s; picture saved to %s\n",
            file.c_str(), packedSize, first->titlebar->text, closed ? "About" : second->titlebar->text,
            raised ? "raised by a click" : "NOT raised", first->x, first->y, dragged ? "" : " (unexpected)",
            closed ? "closed by its close box" : "NOT closed", saved ? bmp.c_str() : "(failed)");
    } else {
        std::printf("gui: could not open the windows of %s\n", file.c_str());
    }
    for (CWindow* w : {first, closed ? nullptr : second}) {
        if (w == nullptr)
            continue;
        root->RemoveWindow(w->id);
        w->Destroy();
        XDELETE(w);
    }
    // Freeing the resource data ends the root's loan of its look.
    XDELETE(res);
    // The mode stays for the next part of the tour.
    return raised && dragged && closed && saved;
}
