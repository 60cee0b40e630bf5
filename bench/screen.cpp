// Screen throughput, ours beside plain SDL2 in one run:
// - frames of the 640 x 480 16-bit windowed screen with N dirty rectangles
//   (1, 16, 128) filled and flipped, beside SDL2 filling the same rectangles
//   in a surface of its own, blitting each into the window surface and
//   showing them with SDL_UpdateWindowSurfaceRects;
// - the textured polygon rasteriser (16 and 24 bits, with and without the
//   filter) beside SDL2's software renderer drawing the same quad with
//   SDL_RenderGeometry.
// Each case runs several rounds, ours and the peer interleaved, and prints
// the median of the per-round ratios (ours / peer; above 1 is faster).
#include <tarvex/tarvex.h>

#include "platform/platform.h"
#include "rounds.h"

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

constexpr int kRounds = 7;

// Runs both sides interleaved; prints units per second of each (medians)
// and the median ratio.
void Compare(const char* name, const char* unit, double unitsPerRep, int reps,
             const std::function<void()>& ours, const std::function<void()>& peer)
{
    const RoundTimes t = TimeInterleaved(kRounds, reps, ours, peer);
    auto rate = [&](double seconds) { return unitsPerRep * reps / seconds; };
    std::printf("%-34s ours %10.1f %-9s sdl %10.1f %-9s ratio %5.2fx\n", name, MedianAs(t.ours, rate), unit,
                MedianAs(t.peer, rate), unit, MedianOf(t.ratios));
}

void FrameCases(CDibScreen* s)
{
    SDL_Window* win = tvp::SdlWindow(sglb->mainWindow);
    SDL_Surface* own = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 16, SDL_PIXELFORMAT_RGB555);
    SDL_SetSurfaceBlendMode(own, SDL_BLENDMODE_NONE);
    for (int n : {1, 16, 128}) {
        // n rectangles of 40 x 30 on a grid, all distinct.
        std::vector<SDL_Rect> rects;
        for (int i = 0; i < n; ++i)
            rects.push_back(SDL_Rect{(i % 16) * 40, (i / 16) * 30 * 2 % 480, 40, 30});
        uint8_t shade = 0;
        auto ours = [&] {
            ++shade;
            for (const SDL_Rect& r : rects)
                s->FillRect(r.x, r.y, r.w, r.h, TRGBA(shade, 100, 200));
            s->FlipPage();
        };
        auto peer = [&] {
            ++shade;
            SDL_Surface* target = SDL_GetWindowSurface(win);
            const uint32_t c = SDL_MapRGB(own->format, shade, 100, 200);
            std::vector<SDL_Rect> shown;
            for (SDL_Rect r : rects) {
                SDL_FillRect(own, &r, c);
                SDL_Rect d = r;
                SDL_BlitSurface(own, &r, target, &d);
                shown.push_back(d);
            }
            SDL_UpdateWindowSurfaceRects(win, shown.data(), static_cast<int>(shown.size()));
        };
        char name[64];
        std::snprintf(name, sizeof name, "frame 640x480x16, %d rects", n);
        Compare(name, "frames/s", 1.0, n >= 128 ? 100 : 300, ours, peer);
    }
    SDL_FreeSurface(own);
}

void RasterCases(CDibScreen* s)
{
    for (int bits : {16, 24}) {
        if (!s->InitModeRez(640, 480, bits, XVMODE_WINDOW))
            return;
        const uint32_t fmt = bits == 16 ? SDL_PIXELFORMAT_RGB555 : SDL_PIXELFORMAT_BGR24;
        // A 256 x 256 texture in the screen's format, the same pixels for both.
        CBitmap tex;
        tex.CreateRGB(256, 256, 24, 8, 8, 8, 0, 8, 16, 0);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                TRGBA c(static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y));
                tex.PutPixel(x, y, &c);
            }
        s->MakeScreenBitmap(&tex, XCONV_NO_COLORKEY);
        s->SetTexture(&tex);
        s->SetTextureCoords(0, 0, 255 << 16, 0, 255 << 16, 255 << 16, 0, 255 << 16);
        // A rotated quad of about 400 x 300 pixels (corners in pixels).
        const float cx = 320, cy = 240, a = 0.3f;
        float px[4], py[4];
        const float hw[4] = {-200, 200, 200, -200}, hh[4] = {-150, -150, 150, 150};
        for (int i = 0; i < 4; ++i) {
            px[i] = cx + hw[i] * std::cos(a) - hh[i] * std::sin(a);
            py[i] = cy + hw[i] * std::sin(a) + hh[i] * std::cos(a);
        }
        s->SetPolygon(static_cast<int32_t>(2 * px[0]), static_cast<int32_t>(2 * py[0]), 0,
                      static_cast<int32_t>(2 * px[1]), static_cast<int32_t>(2 * py[1]), 0,
                      static_cast<int32_t>(2 * px[2]), static_cast<int32_t>(2 * py[2]), 0,
                      static_cast<int32_t>(2 * px[3]), static_cast<int32_t>(2 * py[3]), 0);
        const double mpix = 400.0 * 300.0 / 1e6;

        SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, bits, fmt);
        SDL_Renderer* ren = SDL_CreateSoftwareRenderer(target);
        SDL_Surface* texSurface =
            SDL_CreateRGBSurfaceWithFormatFrom(tex.data, 256, 256, bits, tex.pitch, fmt);
        SDL_Texture* sdlTex = SDL_CreateTextureFromSurface(ren, texSurface);
        SDL_Vertex v[4];
        const float tu[4] = {0, 1, 1, 0}, tv[4] = {0, 0, 1, 1};
        for (int i = 0; i < 4; ++i)
            v[i] = SDL_Vertex{{px[i], py[i]}, {255, 255, 255, 255}, {tu[i], tv[i]}};
        const int indices[6] = {0, 1, 2, 0, 2, 3};
        for (int filter : {0, 1}) {
            s->SetPolygonMode(0, filter);
            SDL_SetTextureScaleMode(sdlTex, filter ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
            auto ours = [&] {
                CRect drawn, *out = &drawn;
                s->DrawPolygonScreen(out);
            };
            auto peer = [&] { SDL_RenderGeometry(ren, sdlTex, v, 4, indices, 6); };
            char name[64];
            std::snprintf(name, sizeof name, "textured quad %d-bit%s", bits, filter ? " filtered" : "");
            Compare(name, "Mpixel/s", mpix, 60, ours, peer);
        }
        SDL_DestroyTexture(sdlTex);
        SDL_FreeSurface(texSurface);
        SDL_DestroyRenderer(ren);
        SDL_FreeSurface(target);
        s->SetTexture(nullptr);
    }
}

} // namespace

int main(int argc, char** argv)
{
    static SGlobals g;
    static SSysGlobals sys;
    glb = &g;
    sglb = &sys;
    SetApplicationName("tarvex screen bench");
    if (!xCreateGlobals() || !xInit(argc, argv) || sglb->dibScreen == nullptr ||
        !sglb->dibScreen->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    // Let the window settle before timing.
    for (int i = 0; i < 5; ++i)
        xHandler();
    std::printf("screen benchmark (median of %d interleaved rounds; the machine may be shared and noisy)\n",
                kRounds);
    FrameCases(sglb->dibScreen);
    RasterCases(sglb->dibScreen);
    xExit();
    xFreeGlobals();
    return 0;
}
