// Scaled-blit throughput: CBitmap::BltScale beside SDL_BlitScaled doing the
// same nearest-neighbour work on the same pixels (SDL surfaces wrapping the
// bitmaps' memory), for the screen depth pairs, enlarging and shrinking,
// with and without the colour key. Rounds of ours and SDL alternate; the
// figure printed per case is the median over the rounds of SDL's time over
// ours (above 1: ours is faster). Written pixels per second are printed
// beside it.
#include <tarvex/tarvex.h>

#include "pictures.h"
#include "rounds.h"

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using namespace benchpic;

struct Case {
    const char* name;
    Layout dst, src;
};
const Case kCases[] = {{"8to8", kL8, kL8},   {"16to16", kL16, kL16}, {"24to24", kL24, kL24},
                       {"8to16", kL16, kL8}, {"24to16", kL16, kL24}, {"16to24", kL24, kL16}};

struct Size {
    const char* name;
    int sw, sh, dw, dh;
};
const Size kSizes[] = {{"320x240->1024x768", 320, 240, 1024, 768},
                       {"1024x768->640x480", 1024, 768, 640, 480}};

} // namespace

int main(int argc, char** argv)
{
    int rounds = 9;
    if (argc > 1)
        rounds = std::max(1, std::atoi(argv[1]));
    if (!StartInScratchFolder())
        return 1;

    std::printf("%-8s %-20s %-6s %12s %12s %8s\n", "pair", "size", "key", "ours Mpx/s", "SDL Mpx/s", "ratio");
    std::vector<double> all;
    for (const Case& c : kCases)
        for (const Size& z : kSizes)
            for (bool key : {false, true}) {
                CBitmap src, dst, sdlDst;
                Make(src, c.src, z.sw, z.sh);
                Make(dst, c.dst, z.dw, z.dh);
                Make(sdlDst, c.dst, z.dw, z.dh);
                Noise(src);
                SDL_Surface* ss = Wrap(src, c.src);
                SDL_Surface* ds = Wrap(sdlDst, c.dst);
                if (key) {
                    uint32_t k = 0;
                    std::memcpy(&k, src.data, static_cast<size_t>(src.bytesPerPixel));
                    SDL_SetColorKey(ss, SDL_TRUE, k);
                }
                CRect sr(0, 0, z.sw - 1, z.sh - 1), dr(0, 0, z.dw - 1, z.dh - 1);
                SDL_Rect sdlDr{0, 0, z.dw, z.dh};
                const int32_t flags = key ? XBLT_COLORKEY : 0;
                auto ours = [&] { dst.BltScale(&src, &sr, &dr, flags); };
                auto peer = [&] { SDL_BlitScaled(ss, nullptr, ds, &sdlDr); };
                if (SDL_BlitScaled(ss, nullptr, ds, &sdlDr) != 0) {
                    // SDL scales no palettised source: no figure to compare.
                    std::printf("%-8s %-20s %-6s %12s %12s %8s  (SDL: %s)\n", c.name, z.name,
                                key ? "key" : "-", "-", "-", "-", SDL_GetError());
                    SDL_FreeSurface(ss);
                    SDL_FreeSurface(ds);
                    continue;
                }
                const RoundTimes t = TimeInterleaved(rounds, 20, ours, peer);
                const double px = 20.0 * z.dw * z.dh / 1e6;
                const double ratio = MedianOf(t.ratios);
                all.push_back(ratio);
                std::printf("%-8s %-20s %-6s %12.1f %12.1f %7.2fx\n", c.name, z.name, key ? "key" : "-",
                            MedianAs(t.ours, [&](double sec) { return px / sec; }),
                            MedianAs(t.peer, [&](double sec) { return px / sec; }), ratio);
                SDL_FreeSurface(ss);
                SDL_FreeSurface(ds);
            }
    if (!all.empty())
        std::printf("\nmedian ratio over the cases SDL scales (SDL time / ours): %.2fx\n", MedianOf(all));
    xFreeGlobals();
    return 0;
}
