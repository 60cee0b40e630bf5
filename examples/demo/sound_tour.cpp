// The main example's sound stop: writes a short melody as a standard MIDI
// file and a bell-like effect as a WAV file, plays the melody on a music
// player (once, to its end) while the effect rings out three times over
// itself, panned from left to right, all during ordinary frames.
#include "sound_tour.h"

#include <tarvex/tarvex.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace
{

void Put(std::vector<uint8_t>& v, uint32_t x, int bytes, bool big)
{
    for (int i = 0; i < bytes; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * (big ? bytes - 1 - i : i))));
}

// A one-track MIDI file: a little tune on a vibraphone over a bass line.
std::vector<uint8_t> Melody(int& notes)
{
    static constexpr int kTune[][2] = {{72, 1}, {76, 1}, {79, 1}, {84, 2}, {79, 1},
                                       {81, 1}, {77, 2}, {76, 1}, {74, 1}, {72, 3}};
    std::vector<uint8_t> t;
    auto delta = [&](uint32_t x) {
        uint8_t b[4];
        int n = 0;
        do {
            b[n++] = static_cast<uint8_t>(x & 0x7F);
            x >>= 7;
        } while (x != 0);
        while (n-- > 0)
            t.push_back(static_cast<uint8_t>(b[n] | (n > 0 ? 0x80 : 0)));
    };
    delta(0);
    t.insert(t.end(), {0xFF, 0x51, 0x03, 0x04, 0x93, 0xE0}); // 300000 us a beat: 200 a minute
    delta(0);
    t.insert(t.end(), {0xC0, 11, 0x00, 0xC1, 32, 0x00, 0x91, 48, 90, 0x00});
    notes = 0;
    for (auto [key, beats] : kTune) {
        t.insert(t.end(), {0x90, static_cast<uint8_t>(key), 100});
        delta(static_cast<uint32_t>(beats * 240));
        t.insert(t.end(), {0x80, static_cast<uint8_t>(key), 0});
        if (++notes == 5) { // the bass moves halfway
            t.insert(t.end(), {0x00, 0x81, 48, 0, 0x00, 0x91, 41, 90});
        }
        delta(0);
    }
    t.insert(t.end(), {0x81, 41, 0});
    delta(0);
    t.insert(t.end(), {0xFF, 0x2F, 0x00});
    std::vector<uint8_t> v{'M', 'T', 'h', 'd'};
    Put(v, 6, 4, true);
    Put(v, 0, 2, true);
    Put(v, 1, 2, true);
    Put(v, 240, 2, true);
    v.insert(v.end(), {'M', 'T', 'r', 'k'});
    Put(v, static_cast<uint32_t>(t.size()), 4, true);
    v.insert(v.end(), t.begin(), t.end());
    return v;
}

// A decaying two-partial bell, 0.6 s of 22.05 kHz mono.
std::vector<uint8_t> Bell()
{
    const int rate = 22050, n = rate * 6 / 10;
    std::vector<uint8_t> v{'R', 'I', 'F', 'F'};
    Put(v, 36 + 2 * n, 4, false);
    v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    for (uint32_t x : {16u, 1u | (1u << 16), static_cast<uint32_t>(rate), static_cast<uint32_t>(rate * 2),
                       2u | (16u << 16)})
        Put(v, x, 4, false);
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    Put(v, 2 * n, 4, false);
    for (int i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / rate;
        double s = std::exp(-6 * t) * (0.5 * std::sin(2 * std::numbers::pi * 880 * t) +
                                       0.2 * std::sin(2 * std::numbers::pi * 2217 * t));
        Put(v, static_cast<uint16_t>(static_cast<int16_t>(s * 32767)), 2, false);
    }
    return v;
}

} // namespace

bool SoundTour(const std::string& folder)
{
    // Headless: write the sound to a file instead of a sound card.
    if (std::getenv("DISPLAY") == nullptr && std::getenv("SDL_AUDIODRIVER") == nullptr) {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (folder + "/sound.raw").c_str(), 1);
    }
    int notes = 0;
    std::vector<uint8_t> melody = Melody(notes), bell = Bell();
    std::string melodyFile = folder + "/melody.mid", bellFile = folder + "/bell.wav";
    if (!xWriteFile(melodyFile.c_str(), melody.data(), static_cast<uint32_t>(melody.size())) ||
        !xWriteFile(bellFile.c_str(), bell.data(), static_cast<uint32_t>(bell.size())))
        return false;

    CMilesMusic* music = XNEW(CMilesMusic);
    CMilesSample* effect = XNEW(CMilesSample, const_cast<char*>(bellFile.c_str()));
    bool ok = true;
    if (!CMiles::m_bWaveDeviceOK) {
        std::printf("sound: no audio output here (%s)\n", glb->error.GetError());
    } else {
        ok = music->Load(const_cast<char*>(melodyFile.c_str())) && music->SetLoopCount(1) &&
             music->Start(FALSE, FALSE) && effect->SampleOK();
        const uint32_t start = xGetTime();
        int rung = 0;
        while (ok && !music->GetAtEnd() && xTimeDiff(start, xGetTime()) < 8000 && !xDoUserWantToQuit()) {
            // The bell rings at 0.3, 0.6 and 0.9 s, left to right, over itself.
            if (rung < 3 && xTimeDiff(start, xGetTime()) > 300u * (rung + 1)) {
                effect->SetPan(-100 + 100 * rung);
                effect->Start(FALSE, FALSE);
                ++rung;
            }
            if (xHandler() != 0)
                break;
        }
        ok = ok && music->GetAtEnd() && rung == 3;
        std::printf(
            "sound: %u Hz %u-bit output, a melody of %d notes played to its end in %u ms, a bell rung %d "
            "times over itself (%d extra copies)\n",
            CMiles::GetRate(), CMiles::GetBits(), notes, xTimeDiff(start, xGetTime()), rung,
            CMilesSample::m_listOtherInstances.GetNumNodes());
    }
    XDELETE(effect);
    XDELETE(music);
    return ok;
}
