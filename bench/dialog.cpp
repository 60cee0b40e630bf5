// The cost of dialogs: the log-in form of data/gui/login.script packed into
// a "PRES" file, then (1) loading that file and building and destroying the
// dialog, (2) building and destroying it from the loaded resource data, and
// (3) one frame of it drawn with every control visible on a 640x480 screen
// at 8, 16 and 24 bits. Microseconds each, medians of several rounds; there
// is no peer, the figures are a baseline for later changes.
#include <tarvex/tarvex.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int kRounds = 7;
constexpr int32_t kLogin = 300;

template <class F> double MedianMicros(int reps, F&& f)
{
    std::vector<double> t;
    for (int r = 0; r < kRounds; ++r) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < reps; ++i)
            f();
        t.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
            reps);
    }
    std::sort(t.begin(), t.end());
    return t[kRounds / 2];
}

bool BuildAndDestroy(CResData* res)
{
    auto* d = XNEW(CDialog);
    bool ok = d->Create(res, kLogin, nullptr, 0, nullptr) == 1;
    d->Destroy();
    XDELETE(d);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    // The script names its files from the repository's root.
    if (chdir(TARVEX_SOURCE_DIR) != 0)
        return 1;
    static SGlobals g;
    static SSysGlobals sys;
    glb = &g;
    sglb = &sys;
    SetApplicationName("tarvex dialog bench");
    if (!xCreateGlobals() || !xInit(argc, argv) || sglb->dibScreen == nullptr) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    std::ifstream in("data/gui/login.script", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string script = text.str();
    uint32_t size = 0;
    char* packed = xPackRes(script.data(), static_cast<uint32_t>(script.size()), &size);
    const std::string file = "/tmp/tarvex_bench_login_" + std::to_string(getpid()) + ".res";
    std::ofstream(file, std::ios::binary).write(packed, size);
    XFREE(packed);

    std::printf(
        "dialog benchmark: the log-in form (%zu bytes of script, %u packed); medians of %d rounds; the "
        "machine may be shared and noisy\n",
        script.size(), size, kRounds);
    CScreenBase* s = sglb->dibScreen;
    for (int bits : {8, 16, 24}) {
        if (!s->InitModeRez(640, 480, bits, XVMODE_WINDOW)) {
            std::fprintf(stderr, "no %d-bit mode\n", bits);
            continue;
        }
        CWinCtrl* root = xCreateGuiRoot();
        bool ok = true;
        const double loadBuild = MedianMicros(20, [&] {
            auto* res = XNEW(CResData);
            ok = ok && res->Load(file.c_str()) && BuildAndDestroy(res);
            XDELETE(res);
        });
        auto* res = XNEW(CResData);
        ok = ok && res->Load(file.c_str());
        const double build = MedianMicros(200, [&] { ok = ok && BuildAndDestroy(res); });
        auto* d = XNEW(CDialog);
        ok = ok && d->Create(res, kLogin, nullptr, 0, nullptr);
        const double frame = MedianMicros(200, [&] {
            root->Validate();
            root->MsgHandler(XMSG_DRAW, 0, 0);
        });
        std::printf("  %2d bits: load packed + build + destroy %.0f us; build + destroy %.1f us; one frame "
                    "drawn %.1f us%s\n",
                    bits, loadBuild, build, frame, ok ? "" : " (FAILED)");
        d->Destroy();
        XDELETE(d);
        xFreeGuiRoot();
        XDELETE(res);
    }
    std::remove(file.c_str());
    xExit();
    xFreeGlobals();
    return 0;
}
