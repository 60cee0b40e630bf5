// LZSS packing and expansion beside zlib (levels 1 and 6) and LZ4 on the same
// 1 MB inputs (generated text, mixed binary records), then a summary of MB/s,
// packed sizes and ratios against zlib level 6.
#include <benchmark/benchmark.h>
#include <tarvex/tarvex.h>

#include "interleave.h"

#include <lz4.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 1 << 20;

struct Lcg {
    uint32_t s;
    uint32_t Next()
    {
        s = s * 1664525u + 1013904223u;
        return s >> 8;
    }
};

// Text: words from a 3000-word vocabulary of syllables, picked with a
// Zipf-like skew, with punctuation and line breaks.
Bytes MakeText()
{
    static const char* syl[] = {"ta", "re", "vo", "en", "ing", "com", "pre", "ss", "ion", "st",  "al", "ly",
                                "de", "th", "an", "or", "ter", "con", "ma",  "li", "ne",  "ble", "ex", "us"};
    Lcg r{12345};
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        std::string w;
        int n = 1 + static_cast<int>(r.Next() % 4);
        for (int k = 0; k < n; ++k)
            w += syl[r.Next() % 24];
        words.push_back(w);
    }
    Bytes out;
    int col = 0;
    while (out.size() < kSize) {
        double u = (r.Next() % 1000000 + 1) / 1000000.0;
        size_t idx = static_cast<size_t>(std::pow(u, 3.0) * words.size()) % words.size();
        const std::string& w = words[idx];
        out.insert(out.end(), w.begin(), w.end());
        col += static_cast<int>(w.size()) + 1;
        uint32_t p = r.Next() % 20;
        out.push_back(p == 0 ? '.' : p == 1 ? ',' : ' ');
        if (col > 70) {
            out.push_back('\n');
            col = 0;
        }
    }
    out.resize(kSize);
    return out;
}

// Mixed binary: records with ids, small counters, floats, names, and blocks
// of noise, as in game data files.
Bytes MakeMixed()
{
    Lcg r{777};
    Bytes out;
    static const char* names[] = {"sprite_walk", "font_small", "door.wav", "level03", "palette", "shade"};
    while (out.size() < kSize) {
        uint32_t kind = r.Next() % 8;
        if (kind < 4) {
            uint32_t id = r.Next() % 5000;
            float f = static_cast<float>(r.Next() % 10000) / 7.0f;
            uint8_t rec[24] = {};
            std::memcpy(rec, &id, 4);
            rec[4] = static_cast<uint8_t>(r.Next() % 8);
            std::memcpy(rec + 8, &f, 4);
            const char* n = names[r.Next() % 6];
            std::memcpy(rec + 12, n, std::min<size_t>(std::strlen(n), 12));
            out.insert(out.end(), rec, rec + 24);
        } else if (kind < 6) {
            int n = 16 + static_cast<int>(r.Next() % 64);
            for (int i = 0; i < n; ++i)
                out.push_back(static_cast<uint8_t>(r.Next()));
        } else {
            // A short stretch of 8-bit pixels with smooth gradients.
            uint8_t v = static_cast<uint8_t>(r.Next());
            for (int i = 0; i < 64; ++i)
                out.push_back(static_cast<uint8_t>(v + i / 4));
        }
    }
    out.resize(kSize);
    return out;
}

const Bytes& Input(int which)
{
    static const Bytes text = MakeText();
    static const Bytes mixed = MakeMixed();
    return which == 0 ? text : mixed;
}
const char* InputName(int which)
{
    return which == 0 ? "text" : "mixed";
}

std::map<std::string, size_t> g_packed; // codec/input -> packed size

// Library set-up for the whole run.
struct Library {
    std::unique_ptr<SGlobals> g = std::make_unique<SGlobals>();
    std::unique_ptr<SSysGlobals> s = std::make_unique<SSysGlobals>();
    Library()
    {
        glb = g.get();
        sglb = s.get();
        xCreateGlobals();
    }
    ~Library()
    {
        xFreeGlobals();
        glb = nullptr;
        sglb = nullptr;
    }
};

void Record(benchmark::State& state, const std::string& key, size_t packed, size_t plain)
{
    g_packed[key] = packed;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(plain));
    state.counters["packed"] = static_cast<double>(packed);
    state.counters["ratio"] = static_cast<double>(plain) / static_cast<double>(packed);
}

void BM_LzssCompress(benchmark::State& state)
{
    const Bytes& in = Input(static_cast<int>(state.range(0)));
    auto lz = std::make_unique<CLzss>();
    uint32_t size = 0;
    for (auto _ : state) {
        size = static_cast<uint32_t>(in.size());
        char* p = lz->CompressBuffer(reinterpret_cast<const char*>(in.data()), &size);
        benchmark::DoNotOptimize(p);
        XFREE(p);
    }
    Record(state, std::string("lzss/") + InputName(static_cast<int>(state.range(0))), size, in.size());
}

void BM_LzssExpand(benchmark::State& state)
{
    const Bytes& in = Input(static_cast<int>(state.range(0)));
    auto lz = std::make_unique<CLzss>();
    uint32_t size = static_cast<uint32_t>(in.size());
    char* packed = lz->CompressBuffer(reinterpret_cast<const char*>(in.data()), &size);
    Bytes out(in.size());
    for (auto _ : state) {
        uint32_t n = static_cast<uint32_t>(out.size());
        lz->ExpandBuffer(packed, size, reinterpret_cast<char*>(out.data()), &n);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != in)
        state.SkipWithError("round trip differs");
    Record(state, std::string("lzss/") + InputName(static_cast<int>(state.range(0))), size, in.size());
    XFREE(packed);
}

void BM_ZlibCompress(benchmark::State& state)
{
    const Bytes& in = Input(static_cast<int>(state.range(0)));
    int level = static_cast<int>(state.range(1));
    Bytes out(compressBound(in.size()));
    uLongf n = 0;
    for (auto _ : state) {
        n = out.size();
        compress2(out.data(), &n, in.data(), in.size(), level);
        benchmark::DoNotOptimize(out.data());
    }
    Record(state, "zlib" + std::to_string(level) + "/" + InputName(static_cast<int>(state.range(0))), n,
           in.size());
}

void BM_ZlibExpand(benchmark::State& state)
{
    const Bytes& in = Input(static_cast<int>(state.range(0)));
    int level = static_cast<int>(state.range(1));
    Bytes packed(compressBound(in.size()));
    uLongf n = packed.size();
    compress2(packed.data(), &n, in.data(), in.size(), level);
    Bytes out(in.size());
    for (auto _ : state) {
        uLongf m = out.size();
        uncompress(out.data(), &m, packed.data(), n);
        benchmark::DoNotOptimize(out.data());
    }
    Record(state, "zlib" + std::to_string(level) + "/" + InputName(static_cast<int>(state.range(0))), n,
           in.size());
}

void BM_Lz4Compress(benchmark::State& state)
{
    const Bytes& in = Input(static_cast<int>(state.range(0)));
    Bytes out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
    int n = 0;
    for (auto _ : state) {
        n = LZ4_compress_default(reinterpret_cast<const char*>(in.data()),
                                 reinterpret_cast<char*>(out.data()), static_cast<int>(in.size()),
                                 static_cast<int>(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    Record(state, std::string("lz4/") + InputName(static_cast<int>(state.range(0))), static_cast<size_t>(n),
           in.size());
}

void BM_Lz4Expand(benchmark::State& state)
{
    const Bytes& in = Input(static_cast<int>(state.range(0)));
    Bytes packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
    int n =
        LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(packed.data()),
                             static_cast<int>(in.size()), static_cast<int>(packed.size()));
    Bytes out(in.size());
    for (auto _ : state) {
        LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()), reinterpret_cast<char*>(out.data()),
                            n, static_cast<int>(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    Record(state, std::string("lz4/") + InputName(static_cast<int>(state.range(0))), static_cast<size_t>(n),
           in.size());
}

BENCHMARK(BM_LzssCompress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 6})
    ->Args({1, 6})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lz4Compress)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssExpand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibExpand)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 6})
    ->Args({1, 6})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lz4Expand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Collects MB/s per benchmark for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> mbps;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& r : runs) {
            std::string name;
            auto it = r.counters.find("bytes_per_second");
            if (KeptRun(r, &name) && it != r.counters.end())
                mbps[name] = it->second.value / 1e6;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    Library lib;
    std::vector<char*> args = InterleavedArgs(argc, argv);
    int n = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    Collector rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    benchmark::Shutdown();

    struct Row {
        const char* codec;
        std::string comp, exp, key;
    };
    for (int w = 0; w < 2; ++w) {
        std::string a = std::to_string(w);
        std::vector<Row> rows = {
            {"lzss", "BM_LzssCompress/" + a, "BM_LzssExpand/" + a, "lzss/"},
            {"zlib-1", "BM_ZlibCompress/" + a + "/1", "BM_ZlibExpand/" + a + "/1", "zlib1/"},
            {"zlib-6", "BM_ZlibCompress/" + a + "/6", "BM_ZlibExpand/" + a + "/6", "zlib6/"},
            {"lz4", "BM_Lz4Compress/" + a, "BM_Lz4Expand/" + a, "lz4/"},
        };
        std::printf("\n%s, %zu bytes\n%-8s %12s %12s %10s %8s\n", InputName(w), kSize, "codec", "pack MB/s",
                    "unpack MB/s", "packed", "ratio");
        for (const auto& r : rows) {
            size_t packed = g_packed[r.key + InputName(w)];
            std::printf("%-8s %12.1f %12.1f %10zu %8.3f\n", r.codec, rep.mbps[r.comp], rep.mbps[r.exp],
                        packed, packed != 0 ? static_cast<double>(kSize) / static_cast<double>(packed) : 0.0);
        }
        double z6c = rep.mbps["BM_ZlibCompress/" + a + "/6"];
        double z6e = rep.mbps["BM_ZlibExpand/" + a + "/6"];
        if (z6c > 0 && z6e > 0)
            std::printf("lzss / zlib-6 (medians): packing %.2fx, unpacking %.2fx\n",
                        rep.mbps["BM_LzssCompress/" + a] / z6c, rep.mbps["BM_LzssExpand/" + a] / z6e);
    }
    return 0;
}
