// JPEG decoding speed: our decoder beside libjpeg(-turbo) (accurate integer
// IDCT, no fancy upsampling, RGB out, so both do the same work) and
// stb_image, on a 1920x1080 photo-like picture encoded at run time at
// quality 85 with 4:2:0 and 4:4:4 sampling. Prints Mpixel/s and the ratios.
#include "gfx/jpegdec.h"

#include <tarvex/tarvex.h>

#include <benchmark/benchmark.h>

#include "interleave.h"

#include <cstdio>
#include <jpeglib.h>
#include <map>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

constexpr int kW = 1920, kH = 1080;

std::vector<uint8_t> PhotoLike()
{
    std::vector<uint8_t> px(static_cast<size_t>(kW) * kH * 3);
    uint32_t r = 12345;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            r = r * 1664525u + 1013904223u;
            int noise = static_cast<int>((r >> 24) % 13) - 6;
            int base[3] = {(x * 255) / kW, (y * 255) / kH, ((x + y) / 7) % 256};
            // Soft blobs and a few hard edges, like objects in a photo.
            int dx = x - 900, dy = y - 500;
            if (dx * dx + dy * dy < 300 * 300)
                base[0] = 255 - base[0], base[2] = (base[2] * 3) / 4;
            if ((x / 160 + y / 120) % 7 == 0)
                base[1] = 40;
            for (int c = 0; c < 3; ++c) {
                int v = base[c] + noise;
                px[(static_cast<size_t>(y) * kW + x) * 3 + c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    return px;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& rgb, int hSamp, int vSamp)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = kW;
    c.image_height = kH;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    c.comp_info[0].h_samp_factor = hSamp;
    c.comp_info[0].v_samp_factor = vSamp;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(c.next_scanline) * kW * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(mem, mem + size);
    free(mem);
    return out;
}

std::vector<uint8_t> g_jpeg[2]; // 4:2:0, 4:4:4
const char* kSampling[2] = {"420", "444"};

void BM_Ours(benchmark::State& state)
{
    const std::vector<uint8_t>& jpg = g_jpeg[state.range(0)];
    int32_t pitch = (3 * kW + 3) & ~3;
    std::vector<uint8_t> px(static_cast<size_t>(pitch) * kH);
    for (auto _ : state) {
        CFile f;
        f.handle = fmemopen(const_cast<uint8_t*>(jpg.data()), jpg.size(), "rb");
        CJpegDecoder dec;
        if (!dec.ReadHeader(&f, FALSE) || !dec.Decode(SJpegImage{kW, kH, px.data(), pitch})) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(px.data());
    }
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(kW) * kH / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// The same without the vector code paths.
void BM_OursScalar(benchmark::State& state)
{
    CJpegDecoder::EnableSimd(FALSE);
    BM_Ours(state);
    CJpegDecoder::EnableSimd(TRUE);
}

// With SSE2 at most (what an x86-64 processor without AVX2 runs).
void BM_OursSse2(benchmark::State& state)
{
    CJpegDecoder::EnableSimd(JPEG_SIMD_SSE2);
    BM_Ours(state);
    CJpegDecoder::EnableSimd(TRUE);
}

void BM_LibJpeg(benchmark::State& state)
{
    const std::vector<uint8_t>& jpg = g_jpeg[state.range(0)];
    std::vector<uint8_t> px(static_cast<size_t>(kW) * kH * 3);
    for (auto _ : state) {
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, jpg.data(), jpg.size());
        jpeg_read_header(&d, TRUE);
        d.dct_method = JDCT_ISLOW;
        d.do_fancy_upsampling = FALSE;
        d.out_color_space = JCS_RGB;
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = &px[static_cast<size_t>(d.output_scanline) * kW * 3];
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        benchmark::DoNotOptimize(px.data());
    }
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(kW) * kH / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Stb(benchmark::State& state)
{
    const std::vector<uint8_t>& jpg = g_jpeg[state.range(0)];
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* p = stbi_load_from_memory(jpg.data(), static_cast<int>(jpg.size()), &w, &h, &n, 3);
        if (p == nullptr) {
            state.SkipWithError("stb failed");
            break;
        }
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
    }
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(kW) * kH / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// Keeps each run's rate for the ratio table.
class RateReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            std::string name;
            auto it = r.counters.find("Mpix/s");
            if (!r.error_occurred && KeptRun(r, &name) && it != r.counters.end())
                rates[name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

BENCHMARK(BM_Ours)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursScalar)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursSse2)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibJpeg)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stb)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    xCreateGlobals();
    std::vector<uint8_t> rgb = PhotoLike();
    g_jpeg[0] = Encode(rgb, 2, 2);
    g_jpeg[1] = Encode(rgb, 1, 1);
    std::printf("1920x1080 quality 85: 4:2:0 %zu bytes, 4:4:4 %zu bytes\n", g_jpeg[0].size(), g_jpeg[1].size());

    std::vector<char*> args = InterleavedArgs(argc, argv);
    int n = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    RateReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    for (int i = 0; i < 2; ++i) {
        auto rate = [&](const char* name) {
            char key[64];
            std::snprintf(key, sizeof key, "%s/%d", name, i);
            return rep.rates[key];
        };
        double ours = rate("BM_Ours"), scalar = rate("BM_OursScalar"), sse2 = rate("BM_OursSse2"),
               lj = rate("BM_LibJpeg"), stb = rate("BM_Stb");
        auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
        std::printf("%s: ours %.1f Mpix/s (SSE2 only %.1f, scalar %.1f), libjpeg-turbo %.1f, stb_image %.1f; "
                    "ours/libjpeg-turbo %.2f, ours/stb_image %.2f (SSE2: %.2f, %.2f; scalar: %.2f, %.2f)\n",
                    kSampling[i], ours, sse2, scalar, lj, stb, ratio(ours, lj), ratio(ours, stb),
                    ratio(sse2, lj), ratio(sse2, stb), ratio(scalar, lj), ratio(scalar, stb));
    }
    benchmark::Shutdown();
    xFreeGlobals();
    return 0;
}
