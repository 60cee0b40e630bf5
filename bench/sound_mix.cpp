// Mixer benchmark: 100 simultaneous 16-bit effects mixed into 44.1 kHz
// stereo for 10 s of audio, ours (CMilesSample over the sound back end)
// beside SDL2_mixer mixing the same 100 channels. Both run through SDL's
// disk audio driver writing to /dev/null with no pacing, so the audio thread
// mixes as fast as it can; the figure is the process's CPU time per second
// of audio mixed. Runs alternate, five of each; the median ratio is printed,
// for centred voices and for voices panned across the stereo field.
#include <tarvex/tarvex.h>

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <vector>

namespace
{

constexpr int kVoices = 100;
constexpr int kRounds = 10; // one-second effects, ten times round: 10 s
constexpr int kRuns = 5;

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void Put(std::vector<uint8_t>& v, uint32_t x, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// One second of a quiet 16-bit mono tone (quiet, so that 100 of them do not clip).
void WriteEffect(const char* file)
{
    const int rate = 44100;
    std::vector<uint8_t> v{'R', 'I', 'F', 'F'};
    Put(v, 36 + 2 * rate, 4);
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    for (uint32_t x : {16u, 1u | (1u << 16), 44100u, 88200u, 2u | (16u << 16)})
        Put(v, x, 4);
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    Put(v, 2 * rate, 4);
    for (int i = 0; i < rate; ++i)
        Put(v,
            static_cast<uint16_t>(
                static_cast<int16_t>(300 * std::sin(2 * std::numbers::pi * 440 * i / rate))),
            2);
    xWriteFile(file, v.data(), static_cast<uint32_t>(v.size()));
}

// CPU seconds per second of audio, ours.
double Ours(bool pan)
{
    std::vector<CMilesSample*> voices;
    for (int i = 0; i < kVoices; ++i) {
        voices.push_back(XNEW(CMilesSample, const_cast<char*>("effect.wav")));
        voices.back()->SetLoopCount(kRounds);
        voices.back()->SetPan(pan ? i * 255 / kVoices - 128 : 0);
    }
    double t0 = CpuSeconds();
    for (CMilesSample* v : voices)
        v->Start(FALSE, FALSE);
    while (std::any_of(voices.begin(), voices.end(), [](CMilesSample* v) { return v->IsPlaying() != 0; }))
        SDL_Delay(2);
    double cpu = CpuSeconds() - t0;
    for (CMilesSample* v : voices)
        XDELETE(v);
    return cpu / kRounds;
}

// CPU seconds per second of audio, SDL2_mixer.
double Peer(bool pan)
{
    SDL_InitSubSystem(SDL_INIT_AUDIO);
    if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 256) != 0) {
        std::fprintf(stderr, "SDL2_mixer: %s\n", Mix_GetError());
        std::exit(1);
    }
    Mix_AllocateChannels(kVoices);
    Mix_Chunk* chunk = Mix_LoadWAV("effect.wav");
    for (int i = 0; pan && i < kVoices; ++i)
        Mix_SetPanning(i, static_cast<Uint8>(255 - i * 255 / kVoices), static_cast<Uint8>(i * 255 / kVoices));
    double t0 = CpuSeconds();
    for (int i = 0; i < kVoices; ++i)
        Mix_PlayChannel(i, chunk, kRounds - 1);
    while (Mix_Playing(-1) != 0)
        SDL_Delay(2);
    double cpu = CpuSeconds() - t0;
    Mix_FreeChunk(chunk);
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return cpu / kRounds;
}

} // namespace

int main()
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals())
        return 1;
    WriteEffect("effect.wav");
    // One sound object keeps the back end and its device up between runs.
    auto* keeper = XNEW(CMilesSample);
    if (!CMiles::m_bWaveDeviceOK) {
        std::fprintf(stderr, "sound back end: %s\n", glb->error.GetError());
        return 1;
    }
    XDELETE(keeper);
    // Centred voices (the peer mixes them without its panning effect), then
    // voices spread from left to right.
    for (bool pan : {false, true}) {
        std::vector<double> ours, peer, ratio;
        for (int r = 0; r < kRuns; ++r) {
            ours.push_back(Ours(pan));
            peer.push_back(Peer(pan));
            ratio.push_back(ours.back() / peer.back());
            std::printf("run %d: ours %.2f ms, SDL2_mixer %.2f ms CPU per second of audio\n", r + 1,
                        ours.back() * 1e3, peer.back() * 1e3);
        }
        std::sort(ratio.begin(), ratio.end());
        std::sort(ours.begin(), ours.end());
        std::sort(peer.begin(), peer.end());
        std::printf(
            "%d %s effects into 44.1 kHz stereo: ours %.2f ms, SDL2_mixer %.2f ms CPU per second of audio "
            "(medians); ratio ours/SDL2_mixer %.2f\n",
            kVoices, pan ? "panned" : "centred", ours[kRuns / 2] * 1e3, peer[kRuns / 2] * 1e3,
            ratio[kRuns / 2]);
    }
    std::remove("effect.wav");
    xFreeGlobals();
    return 0;
}
