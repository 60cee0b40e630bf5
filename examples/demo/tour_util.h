// Small helpers the GUI parts of the main example share: finding the data
// files, opening the 640x480 window, giving input to the main window
// procedure as the window system would, and saving what the screen shows.
#pragma once

#include <tarvex/tarvex.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace tour
{

// The folder holding rel: the working folder (".") or one of the five above
// the program; "." when none of them has it.
inline std::string FindDataRoot(const char* rel)
{
    std::error_code ec;
    if (std::filesystem::exists(rel, ec))
        return ".";
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path())
        if (std::filesystem::exists(dir / rel, ec))
            return dir.string();
    return ".";
}

// rel where FindDataRoot finds it; rel itself when it is in the working
// folder or nowhere.
inline std::string FindDataFile(const char* rel)
{
    const std::string root = FindDataRoot(rel);
    return root == "." ? std::string(rel) : (std::filesystem::path(root) / rel).string();
}

// The screen set to a 640x480 16-bit window, or nullptr (said under name).
inline CScreenBase* OpenTourScreen(const char* name)
{
    CScreenBase* s = sglb->dibScreen;
    if (s == nullptr || !s->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::printf("%s: could not open a 640x480 16-bit window\n", name);
        return nullptr;
    }
    return s;
}

// Loads the example's font and makes it root's default. Returns it for the
// caller to delete after the GUI root is gone.
inline CFont* LoadDefaultFont(CWinCtrl* root)
{
    CFont* font = XNEW(CFont);
    if (font->Load(FindDataFile("data/fonts/dejavusans16.xbf").c_str(), 0))
        root->SetDefaultFont(font);
    return font;
}

// Gives msg to the main window procedure, then runs frames frames.
inline void PostToMain(uint32_t msg, uint32_t wParam, int32_t lParam, int frames = 1)
{
    xMainWindowProc(sglb->mainWindow, msg, wParam, lParam);
    for (int i = 0; i < frames; ++i)
        xHandler();
}

// Moves the mouse to (x, y) and clicks the left button there, frames frames
// after each message.
inline void ClickMain(int32_t x, int32_t y, int frames = 1)
{
    PostToMain(WM_MOUSEMOVE, 0, MAKELPARAM(x, y), frames);
    PostToMain(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y), frames);
    PostToMain(WM_LBUTTONUP, 0, MAKELPARAM(x, y), frames);
}

// Clears the screen to the example's background and draws the GUI on it.
inline void RedrawGui(CScreenBase* s, CWinCtrl* root)
{
    s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
    root->Validate();
    root->MsgHandler(XMSG_DRAW, 0, 0);
}

// Saves what the screen shows as a 24-bit BMP.
inline bool SaveScreen(CScreenBase* s, const std::string& file)
{
    CBitmap* shot = XNEW(CBitmap);
    CBitmap* picture = s->GetScreenBitmap();
    const bool saved = picture != nullptr &&
                       shot->CreateRGB(picture->width, picture->height, 24, 8, 8, 8, 0, 8, 16, 0) &&
                       shot->Blt(picture, 0, 0, 0, 0, -1, -1, 0, 0, 0) &&
                       shot->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    XDELETE(shot);
    return saved;
}

} // namespace tour
