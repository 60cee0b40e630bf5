// The standard controls in the main example: built by code in one window,
// clicked through the main window procedure as the window system would, and
// closed by the OK button's handler, which destroys the window holding it.
#include "controls_tour.h"
#include "tour_util.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <vector>

namespace
{

enum : int32_t { kOk = 1, kRemember = 2, kGroup = 3, kFast = 4, kSafe = 5, kBar = 6 };

struct Form {
    CWindow* win = nullptr;
    std::vector<CControlBase*> cntrls;
    std::vector<int32_t> heard; // message * 100 + control id
    bool closed = false;

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

// The application's handler: OK destroys the window and its controls.
void OnForm(int32_t msg, int32_t, int32_t controlId, int32_t, void* user)
{
    auto* form = static_cast<Form*>(user);
    form->heard.push_back(msg * 100 + controlId);
    if (msg == 2 && controlId == kOk) {
        form->Close();
        form->closed = true;
    }
}

// Remembers a control for closing; it joins the window once created.
template <class T> T* Keep(Form& f, T* c)
{
    f.cntrls.push_back(c);
    return c;
}

} // namespace

bool ControlsTour(const std::string& folder)
{
    CScreenBase* s = tour::OpenTourScreen("controls");
    if (s == nullptr)
        return false;
    CWinCtrl* root = glb->rootWindow;
    CFont* font = tour::LoadDefaultFont(root);
    Form form;
    form.win = XNEW(CWindow);
    static char title[] = "Log in", remember[] = "Remember me", group[] = "Connection", fast[] = "Fast",
                safe[] = "Safe", ok[] = "OK", news[] = "Servers are up - welcome back!";
    form.win->Create(1, title, 100, 80, 300, 220, XWIN_TITLEBAR | XWIN_FRAME);
    root->AddWindow(form.win, OnForm, &form);
    auto* box = Keep(form, XNEW(CCheckbox));
    box->Create(kRemember, remember, 10, 10, 150, 20, 0, 'r', 0);
    auto* frame = Keep(form, XNEW(CGroupbox));
    frame->Create(kGroup, group, 10, 36, 150, 70, 0);
    CRadiobutton* radios[2] = {Keep(form, XNEW(CRadiobutton)), Keep(form, XNEW(CRadiobutton))};
    radios[0]->Create(kFast, fast, 20, 54, 120, 20, 0, 0, 0);
    radios[1]->Create(kSafe, safe, 20, 78, 120, 20, 0, 0, 0);
    for (CRadiobutton* r : radios)
        r->SetParent(1, form.win, frame);

    frame->SetSelected(kFast);
    auto* bar = Keep(form, XNEW(CProgress));
    bar->Create(kBar, 10, 116, 280, 12, CNTRL_EXTRUDED);
    bar->SetValue(70);
    auto* scroll = Keep(form, XNEW(CScrollText));
    scroll->Create(news, 10, 136, 280, 20, 2, CNTRL_EXTRUDED);
    scroll->Start(30);
    auto* button = Keep(form, XNEW(CButton));
    button->Create(kOk, ok, 200, 166, 90, 24, XKEY_ENTER,
                   CNTRL_EXTRUDED | CNTRL_CENTERH | CNTRL_CENTERV | CNTRL_BUTTONBORDER);
    // Created controls join the window below its titlebar.
    for (CControlBase* c : form.cntrls)
        form.win->AddCntrl(c);
    s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
    xHandler();

    // Window (100, 80), titlebar 16 high: check the box, pick "Safe".
    const int32_t wx = 100, wy = 80 + XTITLEBAR_HEIGHT;
    tour::ClickMain(wx + 20, wy + 20);
    tour::ClickMain(wx + 30, wy + 88);
    const bool checked = box->IsChecked() == 1;
    const bool picked = frame->GetSelected() == kSafe;
    for (int32_t i = 0; i < 5; ++i)
        xHandler();

    tour::RedrawGui(s, root);
    const std::string file = folder + "/controls.bmp";
    const bool saved = tour::SaveScreen(s, file);

    // OK: its handler destroys the window, the button included.
    tour::ClickMain(wx + 240, wy + 176);
    xHandler();
    std::printf("controls: box %s, radio %s, %zu notes, OK %s; picture saved to %s\n",
                checked ? "checked" : "NOT checked", picked ? "\"Safe\" picked" : "NOT picked",
                form.heard.size(), form.closed ? "closed the window" : "did NOT close",
                saved ? file.c_str() : "(failed)");
    form.Close();
    root->SetDefaultFont(nullptr); // the font goes next
    XDELETE(font);
    return checked && picked && form.closed && saved;
}
