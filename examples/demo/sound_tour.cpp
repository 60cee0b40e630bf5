// The main example's sound stop: writes a short melody as a standard MIDI
// file and a bell-like effect as a WAV file, plays the melody on a music
// player (once, to its end) while the effect rings out three times over
// itself, panned from left to right, all during ordinary frames. Then the
// jukebox plays a folder of an XMIDI tune (written here byte by byte), a
// MIDI phrase and an MP3 (data/sound/chimes.mp3) one after another.
#include "sound_tour.h"

#include <tarvex/tarvex.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <numbers>
#include <string>
#include <utility>
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

// A MIDI phrase of 2.4 s on a marimba.
std::vector<uint8_t> Phrase()
{
    std::vector<uint8_t> t{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xC0, 12};
    for (auto [key, ticks] : {std::pair{67, 72}, {69, 72}, {71, 72}, {74, 360}}) {
        t.insert(t.end(), {0x00, 0x90, static_cast<uint8_t>(key), 100});
        t.insert(t.end(), {static_cast<uint8_t>(0x80 | ticks >> 7), static_cast<uint8_t>(ticks & 0x7F), 0x80,
                           static_cast<uint8_t>(key), 0});
    }
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<uint8_t> v{'M', 'T', 'h', 'd'};
    Put(v, 6, 4, true);
    Put(v, 0, 2, true);
    Put(v, 1, 2, true);
    Put(v, 120, 2, true);
    v.insert(v.end(), {'M', 'T', 'r', 'k'});
    Put(v, static_cast<uint32_t>(t.size()), 4, true);
    v.insert(v.end(), t.begin(), t.end());
    return v;
}

// An XMIDI tune of about a second: time in 1/120 s as delay bytes, notes
// that carry their duration, a two-note figure played twice between the
// loop controllers 116 and 117.
std::vector<uint8_t> Tune()
{
    const std::vector<uint8_t> events{
        0xC0, 11,                           // vibraphone
        0x90, 72, 100, 12, 15,              // note, 12 intervals long; 15 intervals on
        0xB0, 116, 2,                       // loop start: two passes
        0x90, 76, 100, 12, 15, 0x90, 79, 100, 12, 15,
        0xB0, 117, 127,                     // loop end
        0x90, 84, 100, 36, 40, 0xFF, 0x2F, 0x00};
    auto chunk = [](const char* tag, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> c(tag, tag + 4);
        Put(c, static_cast<uint32_t>(body.size()), 4, true);
        c.insert(c.end(), body.begin(), body.end());
        if (body.size() & 1)
            c.push_back(0);
        return c;
    };
    auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> v;
        for (const auto& p : parts)
            v.insert(v.end(), p.begin(), p.end());
        return v;
    };
    std::vector<uint8_t> sequence = chunk("FORM", join({{'X', 'M', 'I', 'D'}, chunk("TIMB", {1, 0, 11, 0}),
                                                        chunk("EVNT", events)}));
    return join({chunk("FORM", join({{'X', 'D', 'I', 'R'}, chunk("INFO", {1, 0})})),
                 chunk("CAT ", join({{'X', 'M', 'I', 'D'}, sequence}))});
}

// The jukebox over a folder of three pieces: runs frames until three pieces
// have played to their ends (or 40 s pass); returns how many did. An XMIDI
// file without instruments takes them from "std.mls" in the working folder:
// the General MIDI soundfont, copied into the music folder, which is the
// working folder meanwhile.
int Jukebox(CMilesMusic* music, const std::string& box, std::vector<uint32_t>& lengths)
{
    std::error_code ec;
    std::filesystem::path home = std::filesystem::current_path(ec);
    bool instruments = false;
    for (const char* bank : {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/default-GM.sf2"})
        instruments = instruments || xCopyFile((box + "/std.mls").c_str(), bank);
    std::filesystem::current_path(box, ec);
    if (!instruments || ec)
        return 0;
    struct Back {
        std::filesystem::path home;
        ~Back()
        {
            std::error_code ignored;
            std::filesystem::current_path(home, ignored);
        }
    } back{home};
    xSeedRandomizer(3); // a first pick, then two others: each piece once
    if (!music->SetExtraMusicPath(const_cast<char*>(box.c_str())) || !music->SetJukebox(TRUE))
        return 0;
    music->Start(FALSE, FALSE);
    const uint32_t start = xGetTime();
    uint32_t began = start;
    bool playing = false;
    while (lengths.size() < 3 && xTimeDiff(start, xGetTime()) < 40000 && !xDoUserWantToQuit()) {
        bool ended = music->GetAtEnd() != 0; // takes up the end of a piece at once
        bool now = music->IsPlaying() != 0;
        if (now && !playing)
            began = xGetTime();
        if (!now && playing && ended)
            lengths.push_back(xTimeDiff(began, xGetTime()));
        playing = now;
        if (xHandler() != 0)
            break;
    }
    music->SetJukebox(FALSE);
    return static_cast<int>(lengths.size());
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

// The Windows back end has no MIDI synthesiser: there the music player
// plays the MP3 instead of the melody, and the jukebox step is left out.
#ifdef _WIN32
constexpr bool kMidi = false;
#else
constexpr bool kMidi = true;
#endif

void SetEnv(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

} // namespace

bool SoundTour(const std::string& folder)
{
    // Headless: write the sound to a file instead of a sound card.
    if (std::getenv("DISPLAY") == nullptr && std::getenv("SDL_AUDIODRIVER") == nullptr) {
        SetEnv("SDL_AUDIODRIVER", "disk");
        SetEnv("SDL_DISKAUDIOFILE", (folder + "/sound.raw").c_str());
    }
    int notes = 0;
    std::vector<uint8_t> melody = Melody(notes), bell = Bell();
    std::string melodyFile = folder + "/melody.mid", bellFile = folder + "/bell.wav";
    if (!xWriteFile(melodyFile.c_str(), melody.data(), static_cast<uint32_t>(melody.size())) ||
        !xWriteFile(bellFile.c_str(), bell.data(), static_cast<uint32_t>(bell.size())))
        return false;

    if (!kMidi) {
        melodyFile = folder + "/chimes.mp3";
        if (!xCopyFile(melodyFile.c_str(), "data/sound/chimes.mp3"))
            return false;
    }
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
            "sound: %u Hz %u-bit output, %s played to its end in %u ms, a bell rung %d times over itself (%d "
            "extra copies)\n",
            CMiles::GetRate(), CMiles::GetBits(),
            kMidi ? ("a melody of " + std::to_string(notes) + " notes").c_str() : "chimes.mp3",
            xTimeDiff(start, xGetTime()), rung, CMilesSample::m_listOtherInstances.GetNumNodes());
    }
    if (!kMidi)
        std::printf("jukebox: skipped on Windows (MIDI music: the back end has no synthesiser there)\n");
    if (ok && kMidi && CMiles::m_bWaveDeviceOK) {
        std::string box = folder + "/music";
        std::vector<uint8_t> tune = Tune(), phrase = Phrase();
        xCreateDirsForFile((box + "/x").c_str());
        ok = xWriteFile((box + "/tune.xmi").c_str(), tune.data(), static_cast<uint32_t>(tune.size())) &&
             xWriteFile((box + "/phrase.mid").c_str(), phrase.data(), static_cast<uint32_t>(phrase.size())) &&
             xCopyFile((box + "/chimes.mp3").c_str(), "data/sound/chimes.mp3");
        std::vector<uint32_t> lengths;
        int played = ok ? Jukebox(music, box, lengths) : 0;
        std::printf("jukebox: %s (tune.xmi, phrase.mid, chimes.mp3): %d pieces played in turn, of", box.c_str(),
                    played);
        for (uint32_t ms : lengths)
            std::printf(" %u", ms);
        std::printf(" ms\n");
        ok = ok && played == 3;
    }
    XDELETE(effect);
    XDELETE(music);
    return ok;
}
