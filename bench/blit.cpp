// Blit and conversion throughput: CBitmap::Blt for the screen depth pairs
// (with and without colour key), ConvertIndex and ConvertRGB of a
// 1024 x 768 picture, each beside SDL2 doing the same work (SDL_BlitSurface,
// SDL_ConvertSurface) and, for same-format copies, memcpy. Prints Mpixel/s
// and the ratio ours / peer.
#include <benchmark/benchmark.h>
#include <tarvex/tarvex.h>

#include "interleave.h"
#include "pictures.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

std::map<std::string, double> g_rates; // benchmark name -> Mpixel/s

class Collect : public benchmark::ConsoleReporter
{
  public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& r : runs) {
            std::string name;
            auto it = r.counters.find("Mpix/s");
            if (KeptRun(r, &name) && it != r.counters.end())
                g_rates[name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

using namespace benchpic;

void SetRate(benchmark::State& st, int64_t pixels)
{
    st.counters["Mpix/s"] =
        benchmark::Counter(static_cast<double>(pixels) * static_cast<double>(st.iterations()) / 1e6,
                           benchmark::Counter::kIsRate);
}

void Blit(benchmark::State& st, Layout dl, Layout sl, int w, int h, bool key, int peer)
{
    CBitmap src, dst;
    Make(src, sl, w, h);
    Make(dst, dl, w, h);
    Noise(src);
    if (peer == 0) {
        for (auto _ : st) {
            dst.Blt(&src, 0, 0, 0, 0, -1, -1, key ? XBLT_COLORKEY : 0, 0, 0);
            benchmark::DoNotOptimize(dst.data);
        }
    } else if (peer == 1) {
        SDL_Surface* s = Wrap(src, sl);
        SDL_Surface* d = Wrap(dst, dl);
        uint32_t k = 0;
        std::memcpy(&k, src.data, static_cast<size_t>(src.bytesPerPixel));
        if (key)
            SDL_SetColorKey(s, SDL_TRUE, k);
        for (auto _ : st) {
            SDL_BlitSurface(s, nullptr, d, nullptr);
            benchmark::DoNotOptimize(dst.data);
        }
        SDL_FreeSurface(s);
        SDL_FreeSurface(d);
    } else {
        size_t n = static_cast<size_t>(src.pitch) * static_cast<size_t>(h);
        for (auto _ : st) {
            std::memcpy(dst.data, src.data, n);
            benchmark::DoNotOptimize(dst.data);
        }
    }
    SetRate(st, static_cast<int64_t>(w) * h);
}

// ConvertIndex / ConvertRGB of a 1024 x 768 picture; SDL_ConvertSurface as peer.
void Convert(benchmark::State& st, Layout from, Layout to, int flags, bool peer)
{
    const int w = 1024, h = 768;
    CBitmap master;
    Make(master, from, w, h);
    Noise(master);
    if (peer) {
        SDL_Surface* s = Wrap(master, from);
        SDL_PixelFormat* f = SDL_AllocFormat(to.sdl);
        if (to.bits == 8) {
            SDL_Palette* p = SDL_AllocPalette(256);
            SDL_Color c[256];
            for (int i = 0; i < 256; ++i)
                c[i] = {Palette().colors[i].r, Palette().colors[i].g, Palette().colors[i].b, 255};
            SDL_SetPaletteColors(p, c, 0, 256);
            SDL_SetPixelFormatPalette(f, p);
            SDL_FreePalette(p);
        }
        for (auto _ : st) {
            SDL_Surface* t = SDL_ConvertSurface(s, f, 0);
            benchmark::DoNotOptimize(t);
            SDL_FreeSurface(t);
        }
        SDL_FreeFormat(f);
        SDL_FreeSurface(s);
    } else {
        CBitmap work;
        for (auto _ : st) {
            st.PauseTiming();
            work = master;
            st.ResumeTiming();
            if (to.bits == 8)
                work.ConvertIndex(-1, -1, 8, &Palette(), flags);
            else
                work.ConvertRGB(-1, -1, 16, 5, 6, 5, 11, 5, 0, flags);
            benchmark::DoNotOptimize(work.data);
        }
    }
    SetRate(st, static_cast<int64_t>(w) * h);
}

struct Pair {
    const char* name;
    Layout dst, src;
};
const Pair kPairs[] = {{"8to16", kL16, kL8},
                       {"8to24", kL24, kL8},
                       {"16to16", kL16, kL16},
                       {"24to16", kL16, kL24},
                       {"24to24", kL24, kL24}};

} // namespace

int main(int argc, char** argv)
{
    if (!StartInScratchFolder())
        return 1;

    std::vector<std::pair<std::string, std::vector<std::string>>> rows; // ours, peers
    for (const auto& p : kPairs)
        for (auto [w, h] : {std::pair{640, 480}, std::pair{1024, 768}})
            for (bool key : {false, true}) {
                std::string base = std::string("blit/") + p.name + "/" + std::to_string(w) + "x" +
                                   std::to_string(h) + (key ? "/key" : "/nokey");
                bool same = p.dst.bits == p.src.bits;
                std::vector<std::string> peers{base + "/sdl"};
                benchmark::RegisterBenchmark((base + "/ours").c_str(), Blit, p.dst, p.src, w, h, key, 0);
                benchmark::RegisterBenchmark((base + "/sdl").c_str(), Blit, p.dst, p.src, w, h, key, 1);
                if (same && !key) {
                    benchmark::RegisterBenchmark((base + "/memcpy").c_str(), Blit, p.dst, p.src, w, h, key,
                                                 2);
                    peers.push_back(base + "/memcpy");
                }
                rows.push_back({base + "/ours", peers});
            }
    struct Conv {
        const char* name;
        Layout from, to;
        int flags;
    } convs[] = {{"ConvertIndex/24to8", kL24, kL8, XCONV_NO_COLORKEY},
                 {"ConvertIndex/24to8/key", kL24, kL8, 0},
                 {"ConvertIndex/16to8", kL16, kL8, XCONV_NO_COLORKEY},
                 {"ConvertRGB/24to16", kL24, kL16, XCONV_NO_COLORKEY},
                 {"ConvertRGB/24to16/key", kL24, kL16, 0},
                 {"ConvertRGB/8to16", kL8, kL16, XCONV_NO_COLORKEY}};
    for (const auto& c : convs) {
        std::string base = std::string("convert/") + c.name + "/1024x768";
        benchmark::RegisterBenchmark((base + "/ours").c_str(), Convert, c.from, c.to, c.flags, false);
        // The peer never keeps a key: the keyed rows compare against the plain conversion.
        std::string peer = base + "/sdl";
        if (c.flags == 0) {
            std::string plain = base;
            plain.replace(plain.find("/key"), 4, "");
            peer = plain + "/sdl";
        } else {
            benchmark::RegisterBenchmark(peer.c_str(), Convert, c.from, c.to, c.flags, true);
        }
        rows.push_back({base + "/ours", {peer}});
    }

    std::vector<char*> args = InterleavedArgs(argc, argv);
    int n = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    Collect reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-44s %10s   %-8s %10s %7s\n", "case", "ours Mp/s", "peer", "peer Mp/s", "ratio");
    for (const auto& [ours, peers] : rows) {
        if (!g_rates.count(ours))
            continue;
        std::string label = ours.substr(0, ours.size() - 5);
        for (const auto& peer : peers) {
            if (!g_rates.count(peer))
                continue;
            std::string kind = peer.substr(peer.rfind('/') + 1);
            std::printf("%-44s %10.1f   %-8s %10.1f %6.2fx\n", label.c_str(), g_rates[ours], kind.c_str(),
                        g_rates[peer], g_rates[ours] / g_rates[peer]);
        }
    }
    xFreeGlobals();
    return 0;
}
