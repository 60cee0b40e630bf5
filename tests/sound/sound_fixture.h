// Sound test support: writes the test audio (WAV tones, standard MIDI files,
// scrambled copies), points the sound module at the build tree's back end
// and SDL's disk audio driver, and reads back and measures what the device
// wrote (level, pitch, sounding time, bursts).
#pragma once

#include "tarvex_test.h"

#include "sndformat.h"

#include <tarvex/sound.h>

#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace sndtest
{

// A back end built beside the tests, by its target name (tarvexsnd,
// tarvexsnd_partial, or one that does not exist).
inline std::string BackEnd(const char* target = "tarvexsnd")
{
#ifdef _WIN32
    return std::string(TVSND_TEST_MODULE_DIR) + "/" + target + ".dll";
#else
    return std::string(TVSND_TEST_MODULE_DIR) + "/lib" + target + ".so";
#endif
}

inline void PutLe(std::vector<uint8_t>& v, uint32_t x, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline void PutBe(std::vector<uint8_t>& v, uint32_t x, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline void PutTag(std::vector<uint8_t>& v, const char* t) { v.insert(v.end(), t, t + 4); }

// A PCM WAV image; samples are frames * channels values in -1..1.
inline std::vector<uint8_t> Wav(const std::vector<double>& samples, int rate, int channels, int bits = 16)
{
    std::vector<uint8_t> v;
    uint32_t bytes = static_cast<uint32_t>(samples.size()) * static_cast<uint32_t>(bits / 8);
    PutTag(v, "RIFF");
    PutLe(v, 36 + bytes, 4);
    PutTag(v, "WAVE");
    PutTag(v, "fmt ");
    PutLe(v, 16, 4);
    PutLe(v, 1, 2);
    PutLe(v, static_cast<uint32_t>(channels), 2);
    PutLe(v, static_cast<uint32_t>(rate), 4);
    PutLe(v, static_cast<uint32_t>(rate * channels * bits / 8), 4);
    PutLe(v, static_cast<uint32_t>(channels * bits / 8), 2);
    PutLe(v, static_cast<uint32_t>(bits), 2);
    PutTag(v, "data");
    PutLe(v, bytes, 4);
    for (double s : samples) {
        if (bits == 16)
            PutLe(v, static_cast<uint16_t>(static_cast<int16_t>(std::lround(s * 32767))), 2);
        else
            v.push_back(static_cast<uint8_t>(std::lround(s * 127) + 128));
    }
    return v;
}

// A sine tone of seconds at freq and amplitude (0..1), then silence.
inline std::vector<double> Tone(double freq, double seconds, int rate, int channels = 1,
                                double amplitude = 0.5, double silence = 0)
{
    std::vector<double> s;
    auto n = static_cast<size_t>(seconds * rate);
    auto quiet = static_cast<size_t>(silence * rate);
    for (size_t i = 0; i < n + quiet; ++i) {
        double x =
            i < n ? amplitude * std::sin(2 * std::numbers::pi * freq * static_cast<double>(i) / rate) : 0;
        for (int c = 0; c < channels; ++c)
            s.push_back(x);
    }
    return s;
}

inline std::vector<uint8_t> ToneWav(double freq, double seconds, int rate = 44100, int channels = 1,
                                    double amplitude = 0.5, double silence = 0, int bits = 16)
{
    return Wav(Tone(freq, seconds, rate, channels, amplitude, silence), rate, channels, bits);
}

// A one-track standard MIDI file at 120 beats a minute, 480 ticks a beat:
// each note (key, beats) plays on a piano after the one before.
inline std::vector<uint8_t> Midi(const std::vector<std::pair<int, double>>& notes, int program = 0)
{
    std::vector<uint8_t> track;
    auto vlq = [&](uint32_t x) { tvsnd::PutVlq(track, x); };
    vlq(0);
    track.insert(track.end(), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}); // 500000 us a beat
    vlq(0);
    track.insert(track.end(), {0xC0, static_cast<uint8_t>(program)});
    for (auto [key, beats] : notes) {
        vlq(0);
        track.insert(track.end(), {0x90, static_cast<uint8_t>(key), 100});
        vlq(static_cast<uint32_t>(beats * 480));
        track.insert(track.end(), {0x80, static_cast<uint8_t>(key), 0});
    }
    vlq(0);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});
    std::vector<uint8_t> v;
    PutTag(v, "MThd");
    PutBe(v, 6, 4);
    PutBe(v, 0, 2);
    PutBe(v, 1, 2);
    PutBe(v, 480, 2);
    PutTag(v, "MTrk");
    PutBe(v, static_cast<uint32_t>(track.size()), 4);
    v.insert(v.end(), track.begin(), track.end());
    return v;
}

// A DLS bank of one instrument (bank 0, program 0): a looped sine of
// exactly 440 Hz (50 samples a period at 22000 Hz) whose unity note is 57,
// so that key 69 sounds at 880 Hz, an octave above what a piano gives.
inline std::vector<uint8_t> SineBank()
{
    auto chunk = [](const char* id, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> c;
        PutTag(c, id);
        PutLe(c, static_cast<uint32_t>(body.size()), 4);
        c.insert(c.end(), body.begin(), body.end());
        if (body.size() & 1)
            c.push_back(0);
        return c;
    };
    auto list = [&](const char* type, const std::vector<uint8_t>& body) {
        std::vector<uint8_t> b;
        PutTag(b, type);
        b.insert(b.end(), body.begin(), body.end());
        return chunk("LIST", b);
    };
    auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> v;
        for (const auto& p : parts)
            v.insert(v.end(), p.begin(), p.end());
        return v;
    };
    auto le = [](std::initializer_list<std::pair<uint32_t, int>> fields) {
        std::vector<uint8_t> v;
        for (auto [x, n] : fields)
            PutLe(v, x, n);
        return v;
    };
    const uint32_t frames = 2200;
    std::vector<uint8_t> pcm;
    for (uint32_t i = 0; i < frames; ++i)
        PutLe(pcm,
              static_cast<uint16_t>(static_cast<int16_t>(16000 * std::sin(2 * std::numbers::pi * i / 50.0))),
              2);
    std::vector<uint8_t> wsmp =
        le({{20, 4}, {57, 2}, {0, 2}, {0, 4}, {0, 4}, {1, 4}, {16, 4}, {0, 4}, {0, 4}, {frames, 4}});
    std::vector<uint8_t> region =
        list("rgn ", cat({chunk("rgnh", le({{0, 2}, {127, 2}, {0, 2}, {127, 2}, {0, 2}, {0, 2}})),
                          chunk("wsmp", wsmp), chunk("wlnk", le({{0, 2}, {0, 2}, {1, 4}, {0, 4}}))}));
    std::vector<uint8_t> instrument =
        list("ins ", cat({chunk("insh", le({{1, 4}, {0, 4}, {0, 4}})), list("lrgn", region)}));
    std::vector<uint8_t> wave =
        list("wave", cat({chunk("fmt ", le({{1, 2}, {1, 2}, {22000, 4}, {44000, 4}, {2, 2}, {16, 2}})),
                          chunk("data", pcm)}));
    std::vector<uint8_t> body =
        cat({std::vector<uint8_t>{'D', 'L', 'S', ' '}, chunk("colh", le({{1, 4}})), list("lins", instrument),
             chunk("ptbl", le({{8, 4}, {1, 4}, {0, 4}})), list("wvpl", wave)});
    return chunk("RIFF", body);
}

// The library's scrambled form of a file image.
inline std::vector<uint8_t> Scrambled(std::vector<uint8_t> v)
{
    const char marker[] = "XICRYPTEDFILE";
    v.insert(v.end(), marker, marker + 13);
    xDecrypt(v.data(), static_cast<uint32_t>(v.size()));
    return v;
}

inline void WriteFile(const std::string& name, const std::vector<uint8_t>& v)
{
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& name)
{
    std::ifstream f(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// What the disk driver wrote: interleaved stereo frames in -32768..32767.
struct Output {
    int rate = 0;
    std::vector<int32_t> left, right;

    // RMS of a channel over [from, to) frames.
    double Rms(const std::vector<int32_t>& ch, size_t from, size_t to) const
    {
        double sum = 0;
        to = std::min(to, ch.size());
        for (size_t i = from; i < to; ++i)
            sum += static_cast<double>(ch[i]) * ch[i];
        return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0;
    }
    // 10 ms windows whose RMS (either channel) is above threshold.
    std::vector<bool> Loud(double threshold = 300) const
    {
        size_t w = static_cast<size_t>(rate / 100);
        std::vector<bool> loud;
        for (size_t at = 0; at + w <= left.size(); at += w)
            loud.push_back(Rms(left, at, at + w) > threshold || Rms(right, at, at + w) > threshold);
        return loud;
    }
    double SoundingSeconds(double threshold = 300) const
    {
        double n = 0;
        for (bool b : Loud(threshold))
            n += b ? 0.01 : 0;
        return n;
    }
    int Bursts(double threshold = 300) const
    {
        int n = 0;
        bool was = false;
        for (bool b : Loud(threshold)) {
            n += b && !was ? 1 : 0;
            was = b;
        }
        return n;
    }
    // First and last frame of the sounding part (whole windows).
    std::pair<size_t, size_t> Span(double threshold = 300) const
    {
        std::vector<bool> loud = Loud(threshold);
        size_t w = static_cast<size_t>(rate / 100), first = 0, last = 0;
        bool any = false;
        for (size_t i = 0; i < loud.size(); ++i)
            if (loud[i]) {
                if (!any)
                    first = i;
                any = true;
                last = i + 1;
            }
        return any ? std::pair{first * w, last * w} : std::pair{size_t{0}, size_t{0}};
    }
    // Level of one channel in the sounding part, 30 ms in from both ends.
    double Level(bool leftChannel) const
    {
        auto [a, b] = Span();
        size_t margin = static_cast<size_t>(rate * 3 / 100);
        if (b < a + 3 * margin)
            return 0;
        return Rms(leftChannel ? left : right, a + margin, b - margin);
    }
    // Pitch of the left channel from its rising zero crossings.
    double Pitch() const
    {
        auto [a, b] = Span();
        size_t margin = static_cast<size_t>(rate * 3 / 100);
        if (b < a + 3 * margin)
            return 0;
        size_t first = 0, last = 0;
        int crossings = 0;
        for (size_t i = a + margin; i + 1 < b - margin; ++i)
            if (left[i] < 0 && left[i + 1] >= 0) {
                if (crossings == 0)
                    first = i;
                last = i;
                ++crossings;
            }
        return crossings > 1 ? (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first)
                             : 0;
    }
    // The sounding stretches in order: start and end in seconds, and the
    // pitch of the left channel inside (20 ms in from both ends).
    struct Burst {
        double start, end, pitch;
    };
    std::vector<Burst> BurstList(double threshold = 300) const
    {
        std::vector<bool> loud = Loud(threshold);
        std::vector<Burst> list;
        size_t w = static_cast<size_t>(rate / 100);
        for (size_t i = 0; i < loud.size();) {
            if (!loud[i]) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < loud.size() && loud[j])
                ++j;
            size_t a = i * w + 2 * w, b = j * w > 2 * w ? j * w - 2 * w : 0;
            size_t first = 0, last = 0;
            int crossings = 0;
            for (size_t k = a; k + 1 < b; ++k)
                if (left[k] < 0 && left[k + 1] >= 0) {
                    if (crossings == 0)
                        first = k;
                    last = k;
                    ++crossings;
                }
            double pitch = crossings > 1 ? (crossings - 1) * static_cast<double>(rate) /
                                               static_cast<double>(last - first)
                                         : 0;
            list.push_back(Burst{static_cast<double>(i) / 100, static_cast<double>(j) / 100, pitch});
            i = j;
        }
        return list;
    }
    // Power of the left channel at freq (Goertzel) over the sounding part.
    double PowerAt(double freq) const
    {
        auto [a, b] = Span();
        double k = 2 * std::cos(2 * std::numbers::pi * freq / rate), s1 = 0, s2 = 0;
        for (size_t i = a; i < b; ++i) {
            double s = left[i] + k * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        double n = static_cast<double>(b - a);
        return n > 0 ? (s1 * s1 + s2 * s2 - k * s1 * s2) / (n * n) : 0;
    }
};

inline Output ReadOutput(const std::string& name, int rate, int bits)
{
    Output out;
    out.rate = rate;
    std::vector<uint8_t> raw = ReadFile(name);
    size_t frame = bits == 16 ? 4 : 2;
    for (size_t i = 0; i + frame <= raw.size(); i += frame) {
        if (bits == 16) {
            out.left.push_back(static_cast<int16_t>(raw[i] | (raw[i + 1] << 8)));
            out.right.push_back(static_cast<int16_t>(raw[i + 2] | (raw[i + 3] << 8)));
        } else {
            out.left.push_back((raw[i] - 128) * 256);
            out.right.push_back((raw[i + 1] - 128) * 256);
        }
    }
    return out;
}

// Waits (bounded) while pred holds; false when it still holds.
template <class Pred> bool WaitWhile(Pred pred, int ms = 5000)
{
    for (int t = 0; t < ms && pred(); t += 5)
        SDL_Delay(5);
    return !pred();
}

// Fixture: globals, the build tree's back end, SDL's disk driver writing to
// "out.raw" in the test's folder, and the device format reset to the first
// rate (it is kept for the process otherwise).
class SoundTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", "out.raw", 1);
        setenv(TVSND_MODULE_ENV, BackEnd().c_str(), 1);
        unsetenv("TVSND_REFUSE_FORMATS");
        unsetenv("TVSND_EMULATED");
        CMilesApi::SetModuleName(nullptr);
        CMiles::m_ulRatesIndex = 0;
        CMiles::m_uBits = 16;
        std::remove("out.raw");
        tvtest::TarvexTest::SetUp();
    }
    void TearDown() override
    {
        EXPECT_EQ(CMiles::m_ulObjectCounter, 0u) << "sound objects left alive";
        EXPECT_EQ(CMiles::m_hMilesDLL, nullptr);
        tvtest::TarvexTest::TearDown();
        CMiles::m_ulRatesIndex = 0;
        CMiles::m_uBits = 16;
    }
    // The device's output; call after every sound object is gone.
    static Output Written()
    {
        return ReadOutput("out.raw", static_cast<int>(CMiles::GetRate()), CMiles::GetBits());
    }
};

} // namespace sndtest
