// Sprite throughput, ours beside plain SDL2 in one run: 200 animated 32 x 32
// sprites with a colour key moving over a 640 x 480 16-bit background.
// Ours: CSprite objects on the windowed screen; each frame the clear puts
// back what lay under the sprites, the program moves them and the flip saves,
// draws and copies the changed rectangles to the window. The peer: SDL2
// surfaces; each frame the background is blitted back over the sprites' last
// rectangles, the sprites are blitted with SDL's colour key, and the changed
// rectangles go to the window surface with SDL_UpdateWindowSurfaceRects.
// Several rounds, ours and the peer interleaved; the median of the per-round
// ratios is printed (ours / peer in frames per second; above 1 is faster).
#include <tarvex/tarvex.h>

#include "platform/platform.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

constexpr int kRounds = 9;
constexpr int kSprites = 200;
constexpr int kSize = 32;
constexpr int kFramesPerRound = 200;

double Seconds(const std::function<void()>& work, int reps)
{
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i)
        work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Mover {
    int x, y, dx, dy;
};

// The same paths for both sides: bouncing inside the screen.
std::vector<Mover> Movers()
{
    std::vector<Mover> m;
    uint32_t r = 12345;
    auto next = [&](int n) {
        r = r * 1103515245u + 12345u;
        return static_cast<int>((r >> 16) % static_cast<uint32_t>(n));
    };
    for (int i = 0; i < kSprites; ++i)
        m.push_back(Mover{next(640 - kSize), next(480 - kSize), 1 + next(4), 1 + next(3)});
    return m;
}

void Step(Mover& m)
{
    if (m.x + m.dx < 0 || m.x + m.dx > 640 - kSize)
        m.dx = -m.dx;
    if (m.y + m.dy < 0 || m.y + m.dy > 480 - kSize)
        m.dy = -m.dy;
    m.x += m.dx;
    m.y += m.dy;
}

// Four frames of a ring on a magenta key, 24-bit; converted by each side.
void MakeSheet(CBitmap& b)
{
    b.CreateRGB(4 * kSize, kSize, 24, 8, 8, 8, 16, 8, 0, 0);
    for (int f = 0; f < 4; ++f)
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const int dx = x - 16, dy = y - 16, d = dx * dx + dy * dy;
                TRGBA c = d < 225 && d > 30 + f * 20 ? TRGBA(static_cast<uint8_t>(60 * f), 200, 90)
                                                     : TRGBA(255, 0, 255);
                b.PutPixel(f * kSize + x, y, &c);
            }
}

void MakeBackground(CBitmap& b)
{
    b.CreateRGB(640, 480, 24, 8, 8, 8, 16, 8, 0, 0);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            TRGBA c(static_cast<uint8_t>(x * 255 / 640), static_cast<uint8_t>(y * 255 / 480),
                    static_cast<uint8_t>(((x / 16 + y / 16) & 1) * 120));
            b.PutPixel(x, y, &c);
        }
}

} // namespace

int main(int argc, char** argv)
{
    static SGlobals g;
    static SSysGlobals sys;
    glb = &g;
    sglb = &sys;
    SetApplicationName("tarvex sprite bench");
    CDibScreen* s = nullptr;
    if (!xCreateGlobals() || !xInit(argc, argv) || (s = sglb->dibScreen) == nullptr ||
        !s->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    {
        CBitmap sheet, background;
        MakeSheet(sheet);
        MakeBackground(background);
        // The peer's pictures: the same pixels in the window's 16-bit layout.
        CBitmap sheet16(sheet), background16(background);
        s->MakeScreenBitmap(&sheet16, 0);
        s->MakeScreenBitmap(&background16, XCONV_NO_COLORKEY);
        s->DrawBitmapScreen(&background16, 0, 0, 0, 0, -1, -1, 0, 0);
        for (int i = 0; i < 3; ++i)
            xHandler();

        const TPoint frames[] = {{0, 0}, {kSize, 0}, {2 * kSize, 0}, {3 * kSize, 0}, {-1, -1}};
        std::vector<Mover> ourMovers = Movers(), peerMovers = Movers();
        std::vector<CSprite> sprites(kSprites);
        for (int i = 0; i < kSprites; ++i)
            sprites[i].Create(&sheet16, frames, kSize, kSize, ourMovers[i].x, ourMovers[i].y, XSPRITE_LOOP,
                              i % 3, XBLT_COLORKEY);
        auto ours = [&] {
            s->ClearBuffer();
            for (int i = 0; i < kSprites; ++i) {
                Step(ourMovers[i]);
                sprites[i].SetPosition(ourMovers[i].x, ourMovers[i].y);
            }
            s->FlipPage();
        };

        SDL_Window* win = tvp::SdlWindow(sglb->mainWindow);
        SDL_Surface* sdlSheet = SDL_CreateRGBSurfaceWithFormatFrom(
            sheet16.data, sheet16.width, sheet16.height, 16, sheet16.pitch, SDL_PIXELFORMAT_RGB555);
        SDL_Surface* sdlBack = SDL_CreateRGBSurfaceWithFormatFrom(background16.data, 640, 480, 16,
                                                                  background16.pitch, SDL_PIXELFORMAT_RGB555);
        SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 16, SDL_PIXELFORMAT_RGB555);
        SDL_SetSurfaceBlendMode(sdlSheet, SDL_BLENDMODE_NONE);
        SDL_SetSurfaceBlendMode(sdlBack, SDL_BLENDMODE_NONE);
        SDL_SetSurfaceBlendMode(picture, SDL_BLENDMODE_NONE);
        SDL_SetColorKey(sdlSheet, SDL_TRUE, *reinterpret_cast<uint16_t*>(sheet16.data));
        SDL_BlitSurface(sdlBack, nullptr, picture, nullptr);
        std::vector<SDL_Rect> last(kSprites), shown;
        bool toWindow = true;
        std::vector<int> frame(kSprites, 0), delay(kSprites, 0);
        for (int i = 0; i < kSprites; ++i)
            last[i] = SDL_Rect{peerMovers[i].x, peerMovers[i].y, kSize, kSize};
        auto peer = [&] {
            shown.clear();
            for (int i = 0; i < kSprites; ++i) {
                SDL_Rect r = last[i];
                SDL_BlitSurface(sdlBack, &last[i], picture, &r);
            }
            SDL_Surface* target = SDL_GetWindowSurface(win);
            for (int i = 0; i < kSprites; ++i) {
                Step(peerMovers[i]);
                SDL_Rect src{frame[i] * kSize, 0, kSize, kSize};
                SDL_Rect dst{peerMovers[i].x, peerMovers[i].y, kSize, kSize};
                SDL_BlitSurface(sdlSheet, &src, picture, &dst);
                if (delay[i] == 0) {
                    frame[i] = (frame[i] + 1) % 4;
                    delay[i] = i % 3;
                } else {
                    --delay[i];
                }
                // The old and the new place reach the window.
                SDL_Rect both;
                SDL_UnionRect(&last[i], &dst, &both);
                shown.push_back(both);
                last[i] = SDL_Rect{peerMovers[i].x, peerMovers[i].y, kSize, kSize};
            }
            if (!toWindow)
                return;
            for (SDL_Rect r : shown) {
                SDL_Rect d = r;
                SDL_BlitSurface(picture, &r, target, &d);
            }
            SDL_UpdateWindowSurfaceRects(win, shown.data(), static_cast<int>(shown.size()));
        };

        std::printf(
            "sprite benchmark (median of %d interleaved rounds; the machine may be shared and noisy)\n",
            kRounds);
        // With the frames shown in the window, then only drawn (the flip
        // copies nothing; the peer leaves the window alone).
        for (bool shownInWindow : {true, false}) {
            toWindow = shownInWindow;
            s->SetFlipScreen(shownInWindow ? 1 : 0);
            ours();
            peer();
            std::vector<double> ratios, a, b;
            for (int r = 0; r < kRounds; ++r) {
                const double to = Seconds(ours, kFramesPerRound), tp = Seconds(peer, kFramesPerRound);
                a.push_back(kFramesPerRound / to);
                b.push_back(kFramesPerRound / tp);
                ratios.push_back(tp / to);
            }
            auto median = [](std::vector<double> v) {
                std::sort(v.begin(), v.end());
                return v[v.size() / 2];
            };
            std::printf(
                "%d sprites 32x32 keyed, 640x480x16, %-10s ours %8.1f frames/s   sdl %8.1f frames/s   "
                "ratio %5.2fx\n",
                kSprites, shownInWindow ? "shown" : "drawn only", median(a), median(b), median(ratios));
        }
        s->SetFlipScreen(1);
        SDL_FreeSurface(picture);
        SDL_FreeSurface(sdlBack);
        SDL_FreeSurface(sdlSheet);
        sprites.clear();
    }
    s->ExitMode();
    xExit();
    xFreeGlobals();
    return 0;
}
