// Memory of a long music stream: a ten-minute MP3 (599.5 s, encoded here
// through libsndfile with LAME) played to its end as music through SDL's
// disk driver writing to /dev/null without pacing, so that ten minutes of
// audio pass in seconds. Prints the process's resident memory before the
// piece is loaded, the highest reading while it plays (sampled every 20 ms),
// and after it is unloaded; then, for contrast, the same file loaded as a
// sound effect, which is decoded whole.
#include <tarvex/tarvex.h>

#include <SDL.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

namespace
{

constexpr const char* kFile = "/tmp/tarvex-bench-stream.mp3";
constexpr double kSeconds = 599.5;

// Resident memory of the process in MB.
double RssMb()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = 0;
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    if (f != nullptr)
        std::fclose(f);
    return static_cast<double>(kb) / 1024;
}

// A mono 44.1 kHz MP3 of slowly changing tones.
bool Encode()
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE* f = sf_open(kFile, SFM_WRITE, &info);
    if (f == nullptr)
        return false;
    std::vector<float> block(44100);
    double phase = 0;
    for (long s = 0; s < static_cast<long>(kSeconds); ++s) {
        double freq = 220 + 20 * (s % 12);
        for (float& x : block) {
            x = static_cast<float>(0.3 * std::sin(phase));
            phase += 2 * std::numbers::pi * freq / 44100;
        }
        sf_write_float(f, block.data(), static_cast<sf_count_t>(block.size()));
    }
    sf_write_float(f, block.data(), static_cast<sf_count_t>(block.size() / 2));
    return sf_close(f) == 0;
}

} // namespace

int main()
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    std::printf("encoding a %.1f s MP3...\n", kSeconds);
    if (!Encode()) {
        std::fprintf(stderr, "no MP3 encoder (libsndfile with LAME)\n");
        return 1;
    }
    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals())
        return 1;
    auto* music = XNEW(CMilesMusic);
    if (!CMiles::m_bWaveDeviceOK) {
        std::fprintf(stderr, "sound back end: %s\n", glb->error.GetError());
        return 1;
    }
    SDL_Delay(200);
    double before = RssMb();
    if (!music->Load(const_cast<char*>(kFile)) || !music->SetLoopCount(1) || !music->Start(FALSE, FALSE)) {
        std::fprintf(stderr, "load: %s\n", glb->error.GetError());
        return 1;
    }
    double loaded = RssMb(), during = loaded;
    uint32_t start = SDL_GetTicks();
    int samples = 0;
    while (!music->GetAtEnd() && SDL_GetTicks() - start < 600000) {
        SDL_Delay(20);
        during = std::max(during, RssMb());
        ++samples;
    }
    uint32_t took = SDL_GetTicks() - start;
    bool ended = music->GetAtEnd() != 0;
    XDELETE(music);
    music = XNEW(CMilesMusic);
    SDL_Delay(200);
    double after = RssMb();
    std::printf("stream of %.1f s of MP3 (%s in %.1f s, %d readings): resident memory before %.1f MB, "
                "loaded %.1f MB, highest while playing %.1f MB (+%.1f MB), after %.1f MB\n",
                kSeconds, ended ? "played to its end" : "NOT ended", took / 1000.0, samples, before, loaded,
                during, during - before, after);
    auto* effect = XNEW(CMilesSample, const_cast<char*>(kFile));
    std::printf("the same file as an effect (decoded whole): %s, resident memory %.1f MB (+%.1f MB)\n",
                effect->SampleOK() ? "loaded" : glb->error.GetError(), RssMb(), RssMb() - after);
    XDELETE(effect);
    XDELETE(music);
    std::remove(kFile);
    xFreeGlobals();
    return 0;
}
