// The back end's core entry points: start-up and shut-down, preferences, the
// last error, memory blocks, file reading and typing, the output device
// (SDL audio at the rate asked for) and its mixer, and sound-effect samples.
//
// Test hook: TVSND_REFUSE_FORMATS lists output formats the device refuses,
// as "rate/bits" words ("44100/16 32000/16", "*" for all), so that the
// caller's fall-back through lower rates and bit depths can be exercised on
// a driver that accepts everything. TVSND_EMULATED=1 makes the device call
// itself emulated unless wave-out is preferred.
#include "sndinternal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <tuple>

namespace tvsnd
{

namespace
{

// What identifies a decoded sample image: its address, size, a fingerprint
// of its bytes and the rate it was converted to.
using DecodedKey = std::tuple<uintptr_t, size_t, uint64_t, int>;

// FNV-1a over the bytes.
uint64_t Fingerprint(const uint8_t* d, size_t n)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ d[i]) * 0x100000001b3ull;
    return h;
}

struct State {
    bool started = false;
    bool sdlAudio = false;
    int32_t prefs[AIL_PREFERENCE_COUNT] = {};
    char lastError[256] = "";
    std::string redist;
    TvSndDigital* digital = nullptr;
    std::mutex blockMutex;
    std::map<uintptr_t, size_t> blocks;
    std::map<DecodedKey, std::weak_ptr<const Pcm>> decoded;
};

State& S()
{
    static State state;
    return state;
}

void DefaultPreferences(int32_t* p)
{
    std::fill(p, p + AIL_PREFERENCE_COUNT, 0);
    p[DIG_MIXER_CHANNELS] = 64;
    p[DIG_OUTPUT_BUFFER_SIZE] = 4096;
    p[DIG_MIN_CHAIN_ELEMENT_SIZE] = 0x400;
    p[DIG_USE_LOCK_PROTECTION] = 1;
    p[DIG_DECODE_BUFFER_SIZE] = 8192;
    p[DIG_MIX_FRAGMENT_SIZE] = 64;
    p[DIG_MAX_MIX_FRAGMENTS] = 16;
    p[DIG_CURRENT_MIX_FRAGMENTS] = 0;
    p[DIG_USE_MUTEX_PROTECTION] = 1;
}

bool Refused(uint32_t rate, int32_t bits)
{
    const char* list = std::getenv("TVSND_REFUSE_FORMATS");
    if (list == nullptr)
        return false;
    std::istringstream words(list);
    std::string w;
    char mine[32];
    std::snprintf(mine, sizeof mine, "%u/%d", rate, bits);
    while (words >> w)
        if (w == "*" || w == mine)
            return true;
    return false;
}

// Gains of a voice in 1/32768: volume times the balance of its pan.
void Gains(const Voice& v, int32_t& left, int32_t& right)
{
    int32_t vol = std::clamp(v.volume, 0, 127) * 32768 / 127;
    int32_t pan = std::clamp(v.pan, 0, 127);
    int32_t l = pan <= 64 ? 64 : 127 - pan; // of 64 (63 at the far right)
    int32_t r = pan >= 64 ? 64 : pan;
    left = vol * std::min(l, 64) / 64;
    right = vol * r / 64;
}

void Mix(void* userdata, Uint8* stream, int len)
{
    auto* dig = static_cast<TvSndDigital*>(userdata);
    int32_t bytes = SDL_AUDIO_BITSIZE(dig->spec.format) / 8;
    int32_t channels = dig->spec.channels;
    int32_t frames = len / (bytes * channels);
    if (dig->acc.size() < static_cast<size_t>(frames) * 2)
        dig->acc.resize(static_cast<size_t>(frames) * 2);
    int32_t* acc = dig->acc.data();
    std::fill(acc, acc + frames * 2, 0);
    for (TvSndSample* s : dig->samples)
        if (s->voice.status == SMP_PLAYING)
            MixVoice(s->voice, acc, frames);
    for (TvSndStream* s : dig->streams)
        if (s->voice.status == SMP_PLAYING && MixStream(*s, acc, frames) && s->callback != nullptr)
            s->callback(s);
    for (TvSndMidi* m : dig->midis)
        RenderMidi(*dig, *m, frames);
    if (bytes == 2) {
        auto* out = reinterpret_cast<int16_t*>(stream);
        for (int32_t i = 0; i < frames; ++i) {
            int32_t l = std::clamp(acc[2 * i], -32768, 32767);
            int32_t r = std::clamp(acc[2 * i + 1], -32768, 32767);
            if (channels == 2) {
                out[2 * i] = static_cast<int16_t>(l);
                out[2 * i + 1] = static_cast<int16_t>(r);
            } else {
                out[i] = static_cast<int16_t>((l + r) / 2);
            }
        }
    } else {
        for (int32_t i = 0; i < frames; ++i) {
            int32_t l = std::clamp(acc[2 * i], -32768, 32767);
            int32_t r = std::clamp(acc[2 * i + 1], -32768, 32767);
            if (channels == 2) {
                stream[2 * i] = static_cast<Uint8>((l >> 8) + 128);
                stream[2 * i + 1] = static_cast<Uint8>((r >> 8) + 128);
            } else {
                stream[i] = static_cast<Uint8>((((l + r) / 2) >> 8) + 128);
            }
        }
    }
}

template <class T> void Erase(std::vector<T*>& v, T* p)
{
    v.erase(std::remove(v.begin(), v.end(), p), v.end());
}

// Reads a whole file; false with the reason in the last error.
bool ReadWholeFile(const char* name, std::vector<uint8_t>& out)
{
    FILE* f = name != nullptr ? std::fopen(name, "rb") : nullptr;
    if (f == nullptr)
        return Fail(std::string("cannot open file ") + (name != nullptr ? name : "(null)"));
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    bool ok = n >= 0;
    if (ok) {
        out.resize(static_cast<size_t>(n));
        ok = n == 0 || std::fread(out.data(), 1, out.size(), f) == out.size();
    }
    std::fclose(f);
    return ok ? true : Fail(std::string("cannot read file ") + name);
}

} // namespace

bool Fail(const std::string& text)
{
    std::snprintf(S().lastError, sizeof S().lastError, "%s", text.c_str());
    return false;
}

TvSndDigital* Digital() { return S().digital; }

DeviceLock::DeviceLock() : m_device(S().digital != nullptr ? S().digital->device : 0)
{
    if (m_device != 0)
        SDL_LockAudioDevice(m_device);
}
DeviceLock::~DeviceLock()
{
    if (m_device != 0)
        SDL_UnlockAudioDevice(m_device);
}

size_t BlockRoom(const void* p)
{
    if (p == nullptr)
        return 0;
    State& s = S();
    std::lock_guard<std::mutex> g(s.blockMutex);
    auto a = reinterpret_cast<uintptr_t>(p);
    auto it = s.blocks.upper_bound(a);
    if (it == s.blocks.begin())
        return 0;
    --it;
    if (a >= it->first + it->second)
        return 0;
    return it->first + it->second - a;
}

void* AllocBlock(size_t n)
{
    // One spare byte keeps zero-sized blocks distinct and addressable.
    void* p = std::malloc(n + 1);
    if (p == nullptr)
        return nullptr;
    State& s = S();
    std::lock_guard<std::mutex> g(s.blockMutex);
    s.blocks[reinterpret_cast<uintptr_t>(p)] = n;
    return p;
}

void FreeBlock(void* p)
{
    if (p == nullptr)
        return;
    State& s = S();
    {
        std::lock_guard<std::mutex> g(s.blockMutex);
        auto it = s.blocks.find(reinterpret_cast<uintptr_t>(p));
        if (it == s.blocks.end())
            return; // not ours: leave it alone
        s.blocks.erase(it);
    }
    std::free(p);
}

void* CopyBlock(const void* p, size_t n)
{
    void* b = AllocBlock(n);
    if (b != nullptr && n != 0)
        std::memcpy(b, p, n);
    return b;
}

void MixFrames(const Voice& v, const int16_t* src, int32_t n, int32_t* acc)
{
    int32_t gl, gr;
    Gains(v, gl, gr);
    for (int32_t i = 0; i < n; ++i) {
        acc[2 * i] += (src[2 * i] * gl) >> 15;
        acc[2 * i + 1] += (src[2 * i + 1] * gr) >> 15;
    }
}

bool MixVoice(Voice& v, int32_t* acc, int32_t frames)
{
    size_t total = v.pcm != nullptr ? v.pcm->Frames() : 0;
    if (total == 0) {
        v.status = SMP_DONE;
        return true;
    }
    int32_t gl, gr;
    Gains(v, gl, gr);
    const int16_t* src = v.pcm->samples.data();
    bool stereo = v.pcm->channels == 2;
    int32_t done = 0;
    while (done < frames) {
        auto n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(frames - done), total - v.pos));
        int32_t* a = acc + 2 * done;
        if (stereo) {
            MixFrames(v, src + 2 * v.pos, n, a);
        } else {
            const int16_t* p = src + v.pos;
            for (int32_t i = 0; i < n; ++i) {
                a[2 * i] += (p[i] * gl) >> 15;
                a[2 * i + 1] += (p[i] * gr) >> 15;
            }
        }
        done += n;
        v.pos += static_cast<size_t>(n);
        if (v.pos >= total) {
            ++v.loopsDone;
            if (v.loopCount == 0 || v.loopsDone < v.loopCount) {
                v.pos = 0;
            } else {
                v.status = SMP_DONE;
                v.pos = 0;
                return true;
            }
        }
    }
    return false;
}

} // namespace tvsnd

using namespace tvsnd;

// ---------------------------------------------------------------- start-up, errors, preferences

int32_t AIL_startup(void)
{
    State& s = S();
    if (s.started)
        return 1;
    DefaultPreferences(s.prefs);
    s.lastError[0] = 0;
    s.sdlAudio = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (!s.sdlAudio)
        Fail(std::string("no audio driver: ") + SDL_GetError());
    s.started = true;
    return 1;
}

void AIL_shutdown(void)
{
    State& s = S();
    if (!s.started)
        return;
    if (s.digital != nullptr)
        AIL_waveOutClose(s.digital);
    if (s.sdlAudio)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    s.sdlAudio = false;
    s.started = false;
}

int32_t AIL_digital_configuration(HDIGDRIVER dig, int32_t* rate, int32_t* format, char* text)
{
    if (dig == nullptr || dig != S().digital)
        return 0;
    if (rate != nullptr)
        *rate = dig->spec.freq;
    if (format != nullptr)
        *format = (dig->spec.channels == 2 ? 1 : 0) | (SDL_AUDIO_BITSIZE(dig->spec.format) == 16 ? 2 : 0);
    if (text != nullptr) {
        const char* driver = SDL_GetCurrentAudioDriver();
        const char* emulated = std::getenv("TVSND_EMULATED");
        bool emu = emulated != nullptr && std::strcmp(emulated, "1") == 0 && S().prefs[DIG_USE_WAVEOUT] == 0;
        std::snprintf(text, AIL_CONFIG_TEXT_SIZE, "SDL audio (%s)%s", driver != nullptr ? driver : "none",
                      emu ? " Emulated" : "");
    }
    return 1;
}

char* AIL_set_redist_directory(const char* dir)
{
    S().redist = dir != nullptr ? dir : "";
    return S().redist.data();
}

char* AIL_last_error(void) { return S().lastError; }

int32_t AIL_background(void) { return 0; }

void* AIL_mem_alloc_lock(uint32_t size) { return AllocBlock(size); }

void AIL_mem_free_lock(void* p) { FreeBlock(p); }

int32_t AIL_get_preference(uint32_t number) { return number < AIL_PREFERENCE_COUNT ? S().prefs[number] : 0; }

int32_t AIL_set_preference(uint32_t number, int32_t value)
{
    if (number >= AIL_PREFERENCE_COUNT)
        return 0;
    int32_t old = S().prefs[number];
    S().prefs[number] = value;
    return old;
}

// ---------------------------------------------------------------- files

int32_t AIL_file_type(const void* data, uint32_t size)
{
    return SniffFileType(static_cast<const uint8_t*>(data), size);
}

int32_t AIL_file_size(const char* name)
{
    FILE* f = name != nullptr ? std::fopen(name, "rb") : nullptr;
    if (f == nullptr) {
        Fail(std::string("cannot open file ") + (name != nullptr ? name : "(null)"));
        return -1;
    }
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    if (n < 0 || n > 0x7FFFFFFF) {
        Fail(std::string("cannot size file ") + name);
        return -1;
    }
    return static_cast<int32_t>(n);
}

void* AIL_file_read(const char* name, void* dest)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(name, bytes))
        return nullptr;
    if (dest != nullptr) {
        if (!bytes.empty())
            std::memcpy(dest, bytes.data(), bytes.size());
        return dest;
    }
    void* b = CopyBlock(bytes.data(), bytes.size());
    if (b == nullptr)
        Fail("out of memory");
    return b;
}

// ---------------------------------------------------------------- the output device

int32_t AIL_waveOutOpen(HDIGDRIVER* drv, void** waveOut, int32_t device, const SAilWaveFormat* fmt)
{
    (void)device;
    if (waveOut != nullptr)
        *waveOut = nullptr;
    State& s = S();
    if (drv == nullptr || fmt == nullptr)
        return Fail("missing driver or format"), 1;
    *drv = nullptr;
    if (!s.started)
        return Fail("sound system not started"), 1;
    if (s.digital != nullptr)
        return Fail("output device already open"), 1;
    if (!s.sdlAudio)
        return Fail(std::string("no audio driver: ") + SDL_GetError()), 1;
    if (fmt->formatTag != 1 || (fmt->bitsPerSample != 8 && fmt->bitsPerSample != 16) ||
        (fmt->channels != 1 && fmt->channels != 2) || fmt->samplesPerSec < 4000 ||
        fmt->samplesPerSec > 192000)
        return Fail("unsupported output format"), 1;
    if (Refused(fmt->samplesPerSec, fmt->bitsPerSample)) {
        char text[96];
        std::snprintf(text, sizeof text, "device refuses %u Hz at %u bits", fmt->samplesPerSec,
                      fmt->bitsPerSample);
        return Fail(text), 1;
    }
    auto* dig = new TvSndDigital;
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(fmt->samplesPerSec);
    want.format = fmt->bitsPerSample == 16 ? AUDIO_S16SYS : AUDIO_U8;
    want.channels = static_cast<Uint8>(fmt->channels);
    // The chain element size (bytes) sets the device's buffer length.
    int32_t chain = std::clamp(s.prefs[DIG_MIN_CHAIN_ELEMENT_SIZE], 256, 0x10000);
    int32_t frames = chain / std::max<int32_t>(fmt->blockAlign, 1);
    Uint16 samples = 256;
    while (samples < 4096 && samples < frames)
        samples = static_cast<Uint16>(samples * 2);
    want.samples = samples;
    want.callback = Mix;
    want.userdata = dig;
    dig->device = SDL_OpenAudioDevice(nullptr, 0, &want, &dig->spec, 0);
    if (dig->device == 0) {
        Fail(std::string("cannot open the audio device: ") + SDL_GetError());
        delete dig;
        return 1;
    }
    dig->acc.resize(static_cast<size_t>(dig->spec.samples) * 2);
    s.digital = dig;
    s.prefs[DIG_CURRENT_MIX_FRAGMENTS] = 1;
    *drv = dig;
    SDL_PauseAudioDevice(dig->device, 0);
    return 0;
}

void AIL_waveOutClose(HDIGDRIVER dig)
{
    State& s = S();
    if (dig == nullptr || dig != s.digital)
        return;
    SDL_CloseAudioDevice(dig->device); // waits for the callback to finish
    dig->device = 0;
    CloseAllMidi(*dig);
    for (TvSndSample* p : dig->samples)
        delete p;
    for (TvSndStream* p : dig->streams)
        delete p;
    s.digital = nullptr;
    delete dig;
}

// ---------------------------------------------------------------- voices

// Samples and streams are both a voice behind a handle: the setters below
// take the device lock and change the voice of either kind.
namespace
{

template <class H, class F> void WithVoice(H h, F change)
{
    if (h == nullptr)
        return;
    DeviceLock lock;
    change(h->voice);
}

template <class H> uint32_t VoiceStatus(H h)
{
    if (h == nullptr)
        return SMP_FREE;
    DeviceLock lock;
    return h->voice.status;
}

void RestartVoice(Voice& v)
{
    v.pos = 0;
    v.loopsDone = 0;
    v.status = SMP_PLAYING;
}

// Takes h out of the device's list and frees it; a handle the device does
// not hold (already released) is left alone.
template <class T> void ReleaseHandle(std::vector<T*>& list, T* h)
{
    {
        DeviceLock lock;
        if (std::find(list.begin(), list.end(), h) == list.end())
            return;
        Erase(list, h);
    }
    delete h;
}

} // namespace

// ---------------------------------------------------------------- samples

HSAMPLE AIL_allocate_sample_handle(HDIGDRIVER dig)
{
    if (dig == nullptr || dig != S().digital) {
        Fail("no output device");
        return nullptr;
    }
    auto* s = new TvSndSample;
    DeviceLock lock;
    dig->samples.push_back(s);
    return s;
}

void AIL_release_sample_handle(HSAMPLE s)
{
    TvSndDigital* dig = Digital();
    if (s != nullptr && dig != nullptr)
        ReleaseHandle(dig->samples, s);
}

void AIL_init_sample(HSAMPLE s)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    s->voice = Voice{};
    s->hasFile = false;
}

int32_t AIL_set_sample_file(HSAMPLE s, const void* image, int32_t block)
{
    (void)block;
    TvSndDigital* dig = Digital();
    if (s == nullptr || dig == nullptr)
        return Fail("no sample or no output device"), 0;
    size_t room = BlockRoom(image);
    if (room == 0)
        return Fail("sample file image is not a block of this sound system"), 0;
    const auto* d = static_cast<const uint8_t*>(image);
    // Copies of an effect (images at one address with the same bytes) share
    // what was decoded for the first of them while any of them holds it.
    DecodedKey key{reinterpret_cast<uintptr_t>(image), room, Fingerprint(d, room), dig->spec.freq};
    auto& decoded = S().decoded;
    std::erase_if(decoded, [](const auto& e) { return e.second.expired(); });
    std::shared_ptr<const Pcm> pcm = decoded.count(key) != 0 ? decoded[key].lock() : nullptr;
    if (pcm == nullptr) {
        Pcm raw;
        auto converted = std::make_shared<Pcm>();
        std::string why;
        int32_t type = SniffFileType(d, room);
        bool mpeg = type == AILFILETYPE_MPEG_L1_AUDIO || type == AILFILETYPE_MPEG_L2_AUDIO ||
                    type == AILFILETYPE_MPEG_L3_AUDIO;
        if (!(mpeg ? DecodeMpeg(d, room, raw, why) : DecodeWav(d, room, raw, why)) ||
            !ConvertPcm(raw, dig->spec.freq, 2, *converted, why))
            return Fail(why), 0;
        decoded[key] = converted;
        pcm = std::move(converted);
    }
    DeviceLock lock;
    s->voice.pcm = std::move(pcm);
    s->voice.pos = 0;
    s->voice.status = SMP_DONE;
    s->hasFile = true;
    return 1;
}

void AIL_start_sample(HSAMPLE s)
{
    if (s != nullptr && s->hasFile)
        WithVoice(s, RestartVoice);
}

void AIL_stop_sample(HSAMPLE s)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    if (s->voice.status == SMP_PLAYING)
        s->voice.status = SMP_STOPPED;
}

// Only a stopped sample continues, from where it stopped; one that has
// ended stays silent until it is started again.
void AIL_resume_sample(HSAMPLE s)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    if (s->voice.status == SMP_STOPPED)
        s->voice.status = SMP_PLAYING;
}

void AIL_end_sample(HSAMPLE s)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    s->voice.status = SMP_DONE;
    s->voice.pos = 0;
}

int32_t AIL_sample_volume(HSAMPLE s) { return s != nullptr ? s->voice.volume : 0; }

void AIL_set_sample_volume(HSAMPLE s, int32_t v)
{
    WithVoice(s, [v](Voice& x) { x.volume = std::clamp(v, 0, 127); });
}

int32_t AIL_sample_pan(HSAMPLE s) { return s != nullptr ? s->voice.pan : 64; }

void AIL_set_sample_pan(HSAMPLE s, int32_t p)
{
    WithVoice(s, [p](Voice& x) { x.pan = std::clamp(p, 0, 127); });
}

int32_t AIL_sample_loop_count(HSAMPLE s) { return s != nullptr ? s->voice.loopCount : 0; }

void AIL_set_sample_loop_count(HSAMPLE s, int32_t n)
{
    WithVoice(s, [n](Voice& x) { x.loopCount = std::max(n, 0); });
}

uint32_t AIL_sample_status(HSAMPLE s) { return VoiceStatus(s); }

// ---------------------------------------------------------------- WAV helpers

int32_t AIL_WAV_info(const void* data, SAilSoundInfo* info)
{
    size_t room = BlockRoom(data);
    if (info == nullptr || room == 0)
        return Fail("WAV image is not a block of this sound system"), 0;
    std::string why;
    if (!ReadWavInfo(static_cast<const uint8_t*>(data), room, *info, why))
        return Fail(why), 0;
    return 1;
}

#ifndef TVSND_WITHOUT_ADPCM_ENTRY
int32_t AIL_decompress_ADPCM(const SAilSoundInfo* info, void** wav, uint32_t* wavSize)
{
    if (info == nullptr || wav == nullptr || wavSize == nullptr)
        return Fail("missing argument"), 0;
    *wav = nullptr;
    *wavSize = 0;
    size_t room = BlockRoom(info->data);
    if (room == 0 || info->size > room)
        return Fail("ADPCM image is not a block of this sound system"), 0;
    if (info->format != 0x11)
        return Fail("not IMA ADPCM"), 0;
    Pcm pcm;
    std::string why;
    if (!DecodeWav(static_cast<const uint8_t*>(info->data), info->size, pcm, why))
        return Fail(why), 0;
    std::vector<uint8_t> out = WriteWav(pcm);
    *wav = CopyBlock(out.data(), out.size());
    if (*wav == nullptr)
        return Fail("out of memory"), 0;
    *wavSize = static_cast<uint32_t>(out.size());
    return 1;
}
#endif

// ---------------------------------------------------------------- streams

HSTREAM AIL_open_stream(HDIGDRIVER dig, const char* name, int32_t mem)
{
    (void)mem;
    if (dig == nullptr || dig != S().digital)
        return Fail("no output device"), nullptr;
    std::string why;
    auto s = std::make_unique<TvSndStream>();
    s->source = OpenStreamSource(name, dig->spec.freq, why);
    if (s->source == nullptr)
        return Fail(why), nullptr;
    s->block.resize(2 * kStreamBlockFrames);
    s->voice.status = SMP_STOPPED;
    DeviceLock lock;
    dig->streams.push_back(s.get());
    return s.release();
}

void AIL_close_stream(HSTREAM s)
{
    TvSndDigital* dig = Digital();
    if (s != nullptr && dig != nullptr)
        ReleaseHandle(dig->streams, s);
}

void AIL_start_stream(HSTREAM s)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    s->source->Rewind();
    s->yielded = false;
    RestartVoice(s->voice);
}

void AIL_pause_stream(HSTREAM s, int32_t onoff)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    if (onoff != 0 && s->voice.status == SMP_PLAYING)
        s->voice.status = SMP_STOPPED;
    else if (onoff == 0 && s->voice.status == SMP_STOPPED)
        s->voice.status = SMP_PLAYING;
}

void AIL_set_stream_ms_position(HSTREAM s, int32_t ms)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    s->source->Rewind();
    s->yielded = false;
    // Decoded up to the position (the piece ends there when it is shorter).
    size_t skip = static_cast<size_t>(std::max(ms, 0)) * static_cast<size_t>(Digital()->spec.freq) / 1000;
    for (size_t n = 1; skip != 0 && n != 0; skip -= n)
        n = s->source->Read(s->block.data(), std::min(skip, s->block.size() / 2));
}

void AIL_set_stream_volume(HSTREAM s, int32_t v)
{
    WithVoice(s, [v](Voice& x) { x.volume = std::clamp(v, 0, 127); });
}

int32_t AIL_stream_loop_count(HSTREAM s) { return s != nullptr ? s->voice.loopCount : 0; }

void AIL_set_stream_loop_count(HSTREAM s, int32_t n)
{
    WithVoice(s, [n](Voice& x) { x.loopCount = std::max(n, 0); });
}

int32_t AIL_stream_status(HSTREAM s) { return static_cast<int32_t>(VoiceStatus(s)); }

int32_t AIL_stream_volume(HSTREAM s) { return s != nullptr ? s->voice.volume : 0; }

AILSTREAMCB AIL_register_stream_callback(HSTREAM s, AILSTREAMCB cb)
{
    if (s == nullptr)
        return nullptr;
    DeviceLock lock;
    AILSTREAMCB old = s->callback;
    s->callback = cb;
    return old;
}

void AIL_set_stream_user_data(HSTREAM s, uint32_t index, intptr_t value)
{
    if (s != nullptr && index < kUserSlots)
        s->user[index] = value;
}

intptr_t AIL_stream_user_data(HSTREAM s, uint32_t index)
{
    return s != nullptr && index < kUserSlots ? s->user[index] : 0;
}
