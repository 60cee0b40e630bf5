// Edit fields, sliders and lists in the main example: built by code in one
// window, typed into through the keyboard queue and clicked through the main
// window procedure, so the GUI root routes everything as it would a user's.
#include "entry_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace
{

const char* const kFont = "data/fonts/dejavusans16.xbf";

std::string FindFont()
{
    std::error_code ec;
    if (std::filesystem::exists(kFont, ec))
        return kFont;
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path())
        if (std::filesystem::exists(dir / kFont, ec))
            return (dir / kFont).string();
    return kFont;
}

enum : int32_t { kName = 1, kVolume = 2, kServers = 3, kRegion = 4 };

int32_t g_changes[5] = {};

// The application's handler counts text (20), value (14) and selection (15)
// changes per control.
void OnEntry(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    if ((msg == 20 || msg == 14 || msg == 15) && controlId >= kName && controlId <= kRegion)
        ++g_changes[controlId];
}

void Mouse(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
{
    xMainWindowProc(sglb->mainWindow, msg, keys, MAKELPARAM(x, y));
    xHandler();
}

void Click(int32_t x, int32_t y)
{
    Mouse(WM_MOUSEMOVE, 0, x, y);
    Mouse(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
    Mouse(WM_LBUTTONUP, 0, x, y);
    xHandler();
}

} // namespace

bool EntryTour(const std::string& folder)
{
    CScreenBase* s = sglb->dibScreen;
    if (s == nullptr || !s->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::printf("entry: could not open a 640x480 16-bit window\n");
        return false;
    }
    CWinCtrl* root = xCreateGuiRoot();
    CFont* font = XNEW(CFont);
    if (font->Load(FindFont().c_str(), 0))
        root->SetDefaultFont(font);
    auto* win = XNEW(CWindow);
    char title[] = "Settings";
    win->Create(9, title, 100, 80, 330, 200, XWIN_TITLEBAR | XWIN_FRAME);
    root->AddWindow(win, OnEntry, nullptr);

    CEdit name;
    CSlider volume;
    CListbox servers;
    CCombobox region;
    name.Create(kName, nullptr, 10, 10, 160, 22, 16, CNTRL_EXTRUDED);
    volume.Create(kVolume, 10, 40, 160, 14, 0, 100, 50, 10, CNTRL_HSLIDER);
    servers.Create(kServers, 10, 62, 160, 82, 20, CNTRL_EXTRUDED);
    region.Create(kRegion, 180, 10, 140, 22, 62, 0, 0);
    const char* names[] = {"Amsterdam", "Berlin", "Lisbon", "Oslo", "Rome"};
    for (const char* n : names) {
        std::string t = n;
        servers.Add(t.data());
        region.Add(t.data());
    }
    for (CControlBase* c : std::initializer_list<CControlBase*>{&name, &volume, &servers, &region})
        win->AddCntrl(c);
    s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
    xHandler();

    // Click into the field and type a name, one key per frame.
    const int32_t ox = win->x, oy = win->y + XTITLEBAR_HEIGHT;
    Mouse(WM_MOUSEMOVE, 0, 600, 400);
    Click(ox + 60, oy + 20);
    for (const char* p = "player"; *p != 0; ++p) {
        glb->keyboard->AddKeyToQueue(static_cast<uint16_t>(*p), XKEYF_DOWN, 0);
        xHandler();
    }
    // The third server, a step up the slider, the second region.
    Click(ox + 60, oy + 62 + 2 + 2 * 20 + 10);
    Click(ox + 10 + 160 - 7, oy + 47);
    Click(ox + 180 + 140 - 7, oy + 20);
    Click(ox + 240, oy + 10 + 22 + 2 + 20 + 10);

    s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
    root->Validate();
    root->MsgHandler(XMSG_DRAW, 0, 0);
    CBitmap* shot = XNEW(CBitmap);
    CBitmap* picture = s->GetScreenBitmap();
    const std::string file = folder + "/entry.bmp";
    bool saved = picture != nullptr &&
                 shot->CreateRGB(picture->width, picture->height, 24, 8, 8, 8, 0, 8, 16, 0) &&
                 shot->Blt(picture, 0, 0, 0, 0, -1, -1, 0, 0, 0) &&
                 shot->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    XDELETE(shot);
    CControlBase* server = servers.GetSelectedControl();
    CControlBase* place = region.GetSelectedControl();
    std::printf("entry: name \"%s\" (%d changes), volume %d, server %s, region %s; picture saved to %s\n",
                name.GetTextBuffer(0), g_changes[kName], volume.GetValue(),
                server != nullptr ? server->GetTextBuffer(0) : "(none)",
                place != nullptr ? place->GetTextBuffer(0) : "(none)", saved ? file.c_str() : "(failed)");
    const bool ok = std::string(name.GetTextBuffer(0)) == "player" && volume.GetValue() == 51 &&
                    servers.GetSelected() == 3 && region.GetSelected() == 2;

    root->RemoveWindow(win->id);
    win->Destroy();
    XDELETE(win);
    for (CControlBase* c : std::initializer_list<CControlBase*>{&name, &volume, &servers, &region})
        c->Destroy();
    xFreeGuiRoot();
    XDELETE(font);
    if (!ok)
        std::printf("entry: the controls did not end as expected\n");
    return ok;
}
