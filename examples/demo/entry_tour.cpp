// Edit fields, sliders and lists in the main example: built by code in one
// window, typed into through the keyboard queue and clicked through the main
// window procedure, so the GUI root routes everything as it would a user's.
#include "entry_tour.h"
#include "tour_util.h"

#include <tarvex/tarvex.h>

#include <cstdio>

namespace
{

enum : int32_t { kName = 1, kVolume = 2, kServers = 3, kRegion = 4 };

int32_t g_changes[5] = {};

// The application's handler counts text (20), value (14) and selection (15)
// changes per control.
void OnEntry(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    if ((msg == 20 || msg == 14 || msg == 15) && controlId >= kName && controlId <= kRegion)
        ++g_changes[controlId];
}

void Click(int32_t x, int32_t y)
{
    tour::ClickMain(x, y);
    xHandler();
}

} // namespace

bool EntryTour(const std::string& folder)
{
    CScreenBase* s = tour::OpenTourScreen("entry");
    if (s == nullptr)
        return false;
    CWinCtrl* root = glb->rootWindow;
    CFont* font = tour::LoadDefaultFont(root);
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
    tour::PostToMain(WM_MOUSEMOVE, 0, MAKELPARAM(600, 400));
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

    tour::RedrawGui(s, root);
    const std::string file = folder + "/entry.bmp";
    const bool saved = tour::SaveScreen(s, file);
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
    root->SetDefaultFont(nullptr); // the font goes next
    XDELETE(font);
    if (!ok)
        std::printf("entry: the controls did not end as expected\n");
    return ok;
}
