// Loading a realistic resource file: a few hundred ids, strings and values,
// two hundred bitmaps cut from four sheets, fonts, colour lists and the
// default look; once as a plain script and once packed. There is no peer:
// the figures are the baseline for later changes. Times are per load (ms).
#include <tarvex/tarvex.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace
{

const std::string kFont = std::string(TARVEX_SOURCE_DIR) + "/data/fonts/dejavusans16.xbf";

struct Env {
    std::unique_ptr<SGlobals> g = std::make_unique<SGlobals>();
    std::unique_ptr<SSysGlobals> s = std::make_unique<SSysGlobals>();
    CBMPPic* bmp = nullptr;
    std::string dir;
    uint32_t plainSize = 0, packedSize = 0;

    Env()
    {
        glb = g.get();
        sglb = s.get();
        xCreateGlobals();
        bmp = XNEW(CBMPPic);
        dir = (std::filesystem::temp_directory_path() / "tarvex_bench_resdata").string();
        std::filesystem::create_directories(dir);
        Build();
    }
    ~Env()
    {
        XDELETE(bmp);
        xFreeGlobals();
        glb = nullptr;
        sglb = nullptr;
        std::filesystem::remove_all(dir);
    }

    void Build()
    {
        std::string text = "; script -- benchmark resources\n{ = Defines\n";
        for (int i = 0; i < 300; ++i)
            text += "    ID_ITEM_" + std::to_string(i) + " = " + std::to_string(1000 + i) + "\n";
        text += "}\n{ = Strings\n";
        for (int i = 0; i < 300; ++i)
            text += "    IDS_TEXT_" + std::to_string(i) + " = " + std::to_string(1000 + i) +
                    ", \"Menu entry number " + std::to_string(i) + ", with a longer description\"\n";
        text += "}\n{ = Values\n";
        for (int i = 0; i < 100; ++i)
            text += "    IDV_" + std::to_string(i) + " = " + std::to_string(5000 + i) + ", " +
                    std::to_string(i * 7) + "\n";
        text += "}\n{ = Fonts\n    BODY = \"" + kFont + "\"\n    TITLE = \"" + kFont + "\"\n}\n{ = Bitmaps\n";
        for (int sheet = 0; sheet < 4; ++sheet) {
            std::string file = dir + "/sheet" + std::to_string(sheet) + ".bmp";
            CBitmap b;
            b.CreateRGB(256, 256, 24, 8, 8, 8, 16, 8, 0, 1);
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 256; ++x) {
                    TRGBA c(static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                            static_cast<uint8_t>(sheet * 60));
                    b.PutPixel(x, y, &c);
                }
            b.Save(file.c_str(), nullptr, nullptr, nullptr, 0);
            text += "    { = \"" + file + "\"\n";
            for (int i = 0; i < 50; ++i)
                text += "        BM_" + std::to_string(sheet) + "_" + std::to_string(i) + " = " +
                        std::to_string((i % 8) * 32) + ", " + std::to_string((i / 8) * 32) + ", 32, 32\n";
            text += "    }\n";
        }
        text += "}\n{ = Colors\n";
        for (int i = 0; i < 20; ++i)
            text += "    SET_" + std::to_string(i) +
                    " = \"80 80 80 0\", \"250 250 250 0\", \"190 190 190 0\", \"32 32 32 0\", white, grey, "
                    "black, \"1 1 1 0\"\n";
        text += "}\n{ = Defaults\n    Font = BODY\n    Caret = BM_0_0\n    Check = BM_0_1\n"
                "    Close = BM_1_0, BM_1_1, BM_1_2, BM_1_3\n    Button = SET_0, SET_1, SET_2, SET_3\n}\n";
        for (int w = 0; w < 20; ++w)
            text += "{ = Window, ID_ITEM_" + std::to_string(w) +
                    "\n    Create = \"Window\", 10, 10, 200, 100, " + "XWIN_TITLEBAR|XWIN_FRAME\n}\n";
        std::string plain = dir + "/res.script", packed = dir + "/res.res";
        xWriteFile(plain.c_str(), text.data(), static_cast<uint32_t>(text.size()));
        plainSize = static_cast<uint32_t>(text.size());
        char* file = xPackRes(text.data(), plainSize, &packedSize);
        xWriteFile(packed.c_str(), file, packedSize);
        XFREE(file);
    }
};

Env* env = nullptr;

void Load(benchmark::State& state, const char* name)
{
    std::string file = env->dir + "/" + name;
    size_t bitmaps = 0;
    for (auto _ : state) {
        CResData res;
        if (!res.Load(file.c_str()) || res.GetNumErrors() != 0) {
            state.SkipWithError(glb->error.GetError());
            break;
        }
        bitmaps = static_cast<size_t>(res.bitmaps.GetNumNodes());
    }
    state.counters["bitmaps"] = static_cast<double>(bitmaps);
}

void BM_LoadPlain(benchmark::State& state)
{
    Load(state, "res.script");
    state.counters["file_bytes"] = env->plainSize;
}
void BM_LoadPacked(benchmark::State& state)
{
    Load(state, "res.res");
    state.counters["file_bytes"] = env->packedSize;
}
BENCHMARK(BM_LoadPlain)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LoadPacked)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Env e;
    env = &e;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    env = nullptr;
    return 0;
}
