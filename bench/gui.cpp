// The GUI root's cost per frame: ten overlapping framed, titled windows on a
// 640x480 screen at 8, 16 and 24 bits, each frame routing the mouse (moving
// over the windows, a click every fourth frame raising the one hit) and
// redrawing every window back to front. Prints microseconds per frame; there
// is no peer, the figures are a baseline for later changes.
#include <tarvex/tarvex.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kFrames = 400;
constexpr int kRounds = 5;

double RunOnce(CScreenBase* s, CWinCtrl* root, CMouseBase* mouse)
{
    auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < kFrames; ++f) {
        mouse->x = 30 + (f * 7) % 560;
        mouse->y = 30 + (f * 5) % 400;
        mouse->buttons = (f % 4 == 0) ? static_cast<uint32_t>(XMOUSE_LEFT) : 0u;
        root->MsgHandler(XMSG_CLEAR, 0, 0);
        root->Validate();
        root->MsgHandler(XMSG_DRAW, 0, 0);
        s->page = 0;
    }
    auto us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    return us / kFrames;
}

} // namespace

int main(int argc, char** argv)
{
    static SGlobals g;
    static SSysGlobals sys;
    glb = &g;
    sglb = &sys;
    SetApplicationName("tarvex gui bench");
    if (!xCreateGlobals() || !xInit(argc, argv) || sglb->dibScreen == nullptr || glb->mouse == nullptr) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    std::printf("gui benchmark: 10 overlapping windows routed and drawn per frame (median of %d rounds of %d "
                "frames; the machine may be shared and noisy)\n",
                kRounds, kFrames);
    for (int bits : {8, 16, 24}) {
        CScreenBase* s = sglb->dibScreen;
        if (!s->InitModeRez(640, 480, bits, XVMODE_WINDOW)) {
            std::fprintf(stderr, "no %d-bit mode\n", bits);
            continue;
        }
        CWinCtrl* root = xCreateGuiRoot();
        std::vector<CWindow*> wins;
        char title[] = "Window";
        for (int32_t i = 0; i < 10; ++i) {
            auto* w = XNEW(CWindow);
            w->Create(i + 1, title, 20 + 40 * i, 20 + 30 * i, 220, 150,
                      XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE | XWIN_DRAG);
            root->AddWindow(w, nullptr, nullptr);
            wins.push_back(w);
        }
        std::vector<double> t;
        for (int r = 0; r < kRounds; ++r)
            t.push_back(RunOnce(s, root, glb->mouse));
        std::sort(t.begin(), t.end());
        std::printf("  %2d bits: %.1f us per frame\n", bits, t[kRounds / 2]);
        for (CWindow* w : wins) {
            root->RemoveWindow(w->id);
            w->Destroy();
            XDELETE(w);
        }
        xFreeGuiRoot();
    }
    xExit();
    xFreeGlobals();
    return 0;
}
