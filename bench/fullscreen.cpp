// Full-screen screen costs, ours beside plain SDL2 in one run:
// - a flip of the full-screen screen (the whole back page shown in the
//   window) beside SDL2 blitting a surface of the same size and format into
//   the window surface and showing it; the windowed screen's flip of a whole
//   dirty frame is printed beside it for scale;
// - a screen bitmap (its own surface; colour-keyed at 16 bits) drawn onto
//   the back page beside the same bitmap through the software copy.
// Each case runs several rounds, ours and the peer interleaved, and prints
// microseconds per operation (medians) and the median ratio (peer / ours;
// above 1 means ours is faster).
#include <tarvex/tarvex.h>

#include "platform/platform.h"
#include "rounds.h"

#include <SDL.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace
{

constexpr int kRounds = 7;

void Compare(const char* name, const char* peerName, int reps, const std::function<void()>& ours,
             const std::function<void()>& peer)
{
    const RoundTimes t = TimeInterleaved(kRounds, reps, ours, peer);
    auto micros = [reps](double seconds) { return seconds * 1e6 / reps; };
    std::printf("%-36s ours %9.1f us   %-14s %9.1f us   ratio %5.2fx\n", name, MedianAs(t.ours, micros),
                peerName, MedianAs(t.peer, micros), MedianOf(t.ratios));
}

bool OpenFullScreen(int32_t bits, int32_t& w, int32_t& h)
{
    CDxScreen* dx = sglb->dxScreen;
    if (dx == nullptr || !dx->GetVideoModes())
        return false;
    w = h = 0;
    for (dx->ModeFirst(); dx->ModeExists() && w == 0; dx->ModeNext())
        if (dx->ModeGet()->bitsPerPixel == bits)
            w = dx->ModeGet()->width, h = dx->ModeGet()->height;
    return w > 0 && dx->InitModeRez(w, h, bits, XVMODE_FULLSCREEN);
}

void FlipCases()
{
    for (int32_t bits : {16, 24}) {
        int32_t w = 0, h = 0;
        if (!OpenFullScreen(bits, w, h)) {
            std::printf("no %d-bit full-screen mode\n", bits);
            continue;
        }
        CDxScreen* dx = sglb->dxScreen;
        SDL_Window* win = tvp::SdlWindow(sglb->mainWindow);
        const uint32_t fmt = bits == 16 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_BGR24;
        SDL_Surface* own = SDL_CreateRGBSurfaceWithFormat(0, w, h, bits, fmt);
        SDL_SetSurfaceBlendMode(own, SDL_BLENDMODE_NONE);
        char name[64];
        std::snprintf(name, sizeof name, "full-screen flip %dx%d %d-bit", w, h, bits);
        Compare(
            name, "sdl blit+show", 20, [&] { dx->FlipPage(); },
            [&] {
                SDL_BlitSurface(own, nullptr, SDL_GetWindowSurface(win), nullptr);
                SDL_UpdateWindowSurface(win);
            });

        // A keyed 64 x 64 screen bitmap beside the software copy of it.
        CBitmap fast, soft;
        fast.CreateRGB(64, 64, 24, 8, 8, 8, 0, 8, 16, 0);
        for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 64; ++x) {
                const TRGBA c((x * 4) & 255, (y * 4) & 255, (x ^ y) & 1 ? 0 : 200);
                fast.PutPixel(x, y, &c);
            }
        soft = fast;
        dx->MakeScreenBitmap(&fast, 0);
        dx->MakeScreenFormat(&soft, 0);
        // 24-bit keyed copies take the software path, so that depth is timed unkeyed.
        std::snprintf(name, sizeof name, "%s 64x64 screen bitmap %d-bit", bits == 16 ? "keyed" : "plain",
                      bits);
        if (bits == 16)
            Compare(
                name, "software copy", 2000,
                [&] { dx->DrawBitmapScreenGui(&fast, 0, 0, 100, 100, -1, -1, XBLT_COLORKEY, 0); },
                [&] { dx->DrawBitmapScreenGui(&soft, 0, 0, 100, 100, -1, -1, XBLT_COLORKEY, 0); });
        else
            Compare(
                name, "software copy", 2000,
                [&] { dx->DrawBitmapScreenGui(&fast, 0, 0, 100, 100, -1, -1, 0, 0); },
                [&] { dx->DrawBitmapScreenGui(&soft, 0, 0, 100, 100, -1, -1, 0, 0); });
        SDL_FreeSurface(own);
        dx->ExitMode();
    }
    // The windowed screen's flip of a whole frame, for scale.
    CDibScreen* dib = sglb->dibScreen;
    if (dib != nullptr && dib->GetVideoModes() && dib->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        SDL_Window* win = tvp::SdlWindow(sglb->mainWindow);
        SDL_Surface* own = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 16, SDL_PIXELFORMAT_RGB555);
        Compare(
            "windowed flip 640x480 16-bit, all", "sdl blit+show", 20,
            [&] {
                dib->AddLayerArea(0, 0, 639, 479);
                dib->FlipPage();
            },
            [&] {
                SDL_BlitSurface(own, nullptr, SDL_GetWindowSurface(win), nullptr);
                SDL_UpdateWindowSurface(win);
            });
        SDL_FreeSurface(own);
        dib->ExitMode();
    }
}

} // namespace

int main(int argc, char** argv)
{
    static SGlobals g;
    static SSysGlobals sys;
    glb = &g;
    sglb = &sys;
    SetApplicationName("tarvex full-screen bench");
    if (!xCreateGlobals() || !xInit(argc, argv)) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    std::printf("full-screen benchmark (median of %d interleaved rounds; the machine is shared and noisy)\n",
                kRounds);
    FlipCases();
    xExit();
    xFreeGlobals();
    return 0;
}
