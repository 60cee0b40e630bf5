// The back end's file readers: what kind of sound a file image holds, the
// WAV header and its samples, standard MIDI files. (Extended MIDI files are
// read in sndxmi.cpp.) Every read is checked against the image's size, since the images
// come from files the application names.
#include "sndformat.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace tvsnd
{

namespace
{

void PutLe32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int s = 0; s < 32; s += 8)
        v.push_back(static_cast<uint8_t>(x >> s));
}

// An MPEG audio frame header at p: its layer (1..3), or 0.
int32_t MpegLayer(const uint8_t* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return 0;
    int32_t version = (p[1] >> 3) & 3;
    int32_t layer = (p[1] >> 1) & 3;
    int32_t bitrate = p[2] >> 4;
    int32_t rate = (p[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrate == 15 || rate == 3)
        return 0;
    return 4 - layer;
}

// The chunk list of a RIFF WAVE image: offset and size of "fmt " and "data"
// (data size as declared, which may run past the end).
struct WavChunks {
    size_t fmt = 0, fmtSize = 0;
    size_t data = 0, dataSize = 0;
    bool haveFmt = false, haveData = false;
};
bool FindWavChunks(const uint8_t* d, size_t size, WavChunks& c, std::string& why)
{
    if (size < 12 || !Tag(d, "RIFF") || !Tag(d + 8, "WAVE")) {
        why = "not a RIFF WAVE file";
        return false;
    }
    size_t end = std::min<size_t>(size, static_cast<size_t>(Le32(d + 4)) + 8);
    size_t at = 12;
    while (at + 8 <= end) {
        size_t len = Le32(d + at + 4);
        if (Tag(d + at, "fmt ") && !c.haveFmt) {
            c.fmt = at + 8;
            c.fmtSize = len;
            c.haveFmt = true;
        } else if (Tag(d + at, "data") && !c.haveData) {
            c.data = at + 8;
            c.dataSize = len;
            c.haveData = true;
        }
        if (len > end - at - 8)
            break;
        at += 8 + len + (len & 1);
    }
    if (!c.haveFmt || c.fmtSize < 16 || c.fmt + 16 > size) {
        why = "WAV file without a complete format chunk";
        return false;
    }
    if (!c.haveData) {
        why = "WAV file without a data chunk";
        return false;
    }
    return true;
}

struct RawEvent {
    uint64_t tick;
    uint32_t order; // keeps the file's order among events of one tick
    uint8_t status, data1, data2;
    uint32_t tempo; // for tempo events (status 0xFF)
};

} // namespace

bool Tag(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

void PutTag(std::vector<uint8_t>& v, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(tag[i]));
}

void PutBe32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8)
        v.push_back(static_cast<uint8_t>(x >> s));
}

void PutLe16(std::vector<uint8_t>& v, uint16_t x)
{
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

bool ReadVlq(const uint8_t* d, size_t end, size_t& at, uint32_t& value)
{
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= end)
            return false;
        uint8_t b = d[at++];
        value = (value << 7) | (b & 0x7F);
        if ((b & 0x80) == 0)
            return true;
    }
    return false;
}

void PutVlq(std::vector<uint8_t>& v, uint32_t x)
{
    uint8_t b[5];
    int n = 0;
    do {
        b[n++] = static_cast<uint8_t>(x & 0x7F);
        x >>= 7;
    } while (x != 0);
    while (n-- > 0)
        v.push_back(static_cast<uint8_t>(b[n] | (n > 0 ? 0x80 : 0)));
}

int32_t SniffFileType(const uint8_t* d, size_t size)
{
    if (d == nullptr || size < 4)
        return AILFILETYPE_UNKNOWN;
    if (size >= 12 && Tag(d, "RIFF") && Tag(d + 8, "WAVE")) {
        SAilSoundInfo info{};
        std::string why;
        if (!ReadWavInfo(d, size, info, why))
            return AILFILETYPE_UNKNOWN;
        if (info.format == 1)
            return AILFILETYPE_PCM_WAV;
        if (info.format == 0x11)
            return AILFILETYPE_ADPCM_WAV;
        return AILFILETYPE_OTHER_WAV;
    }
    // Instrument banks: DLS, or a SoundFont 2 bank, which the synthesiser
    // reads as well (the instrument file may be either).
    if (size >= 12 && Tag(d, "RIFF") && (Tag(d + 8, "DLS ") || Tag(d + 8, "sfbk")))
        return AILFILETYPE_DLS;
    if (Tag(d, "MLS "))
        return AILFILETYPE_MLS;
    if (size >= 14 && Tag(d, "MThd"))
        return AILFILETYPE_MIDI;
    if (size >= 12 && Tag(d, "FORM") && (Tag(d + 8, "XDIR") || Tag(d + 8, "XMID"))) {
        XmiParts parts;
        std::string why;
        if (!SplitXmi(d, size, parts, why))
            return AILFILETYPE_UNKNOWN;
        if (parts.compressedBank)
            return AILFILETYPE_XMIDI_MLS;
        return parts.bankSize != 0 ? AILFILETYPE_XMIDI_DLS : AILFILETYPE_XMIDI;
    }
    size_t at = 0;
    if (size >= 10 && d[0] == 'I' && d[1] == 'D' && d[2] == '3') {
        // ID3v2 tag: a 28-bit size in four 7-bit bytes after the header.
        at = 10 + ((d[6] & 0x7F) << 21 | (d[7] & 0x7F) << 14 | (d[8] & 0x7F) << 7 | (d[9] & 0x7F));
    }
    if (at + 4 <= size) {
        int32_t layer = MpegLayer(d + at);
        if (layer != 0)
            return AILFILETYPE_MPEG_L1_AUDIO + layer - 1;
    }
    return AILFILETYPE_UNKNOWN;
}

bool ReadWavInfo(const uint8_t* d, size_t size, SAilSoundInfo& info, std::string& why)
{
    WavChunks c;
    if (d == nullptr || !FindWavChunks(d, size, c, why))
        return false;
    const uint8_t* f = d + c.fmt;
    info = SAilSoundInfo{};
    info.format = Le16(f);
    info.channels = Le16(f + 2);
    info.rate = Le32(f + 4);
    info.blockSize = Le16(f + 12);
    info.bits = Le16(f + 14);
    info.data = d;
    info.size = static_cast<uint32_t>(size);
    info.dataOffset = static_cast<uint32_t>(c.data);
    info.dataSize = static_cast<uint32_t>(std::min(c.dataSize, size > c.data ? size - c.data : 0));
    if (info.channels == 0 || info.rate == 0 || info.blockSize == 0) {
        why = "WAV format chunk with zero channels, rate or block size";
        return false;
    }
    if (info.format == 0x11 && c.fmtSize >= 20 && c.fmt + 20 <= size) {
        uint32_t perBlock = Le16(f + 18);
        info.samples = info.dataSize / info.blockSize * perBlock;
    } else {
        info.samples = info.dataSize / info.blockSize;
    }
    return true;
}

bool DecodeWav(const uint8_t* d, size_t size, Pcm& out, std::string& why)
{
    SAilSoundInfo info{};
    if (!ReadWavInfo(d, size, info, why))
        return false;
    if (info.channels > 8) {
        why = "WAV file with more than 8 channels";
        return false;
    }
    // Bytes after the RIFF chunk are not the file's (a scrambled file's marker).
    size = std::min<size_t>(size, static_cast<size_t>(Le32(d + 4)) + 8);
    SDL_RWops* rw = SDL_RWFromConstMem(d, static_cast<int>(std::min<size_t>(size, 0x7FFFFFFF)));
    if (rw == nullptr) {
        why = SDL_GetError();
        return false;
    }
    // A data chunk that is shorter than its header says is a damaged file.
    SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "verystrict");
    SDL_AudioSpec spec{};
    Uint8* buf = nullptr;
    Uint32 len = 0;
    if (SDL_LoadWAV_RW(rw, 1, &spec, &buf, &len) == nullptr) {
        why = std::string("damaged WAV file: ") + SDL_GetError();
        return false;
    }
    Pcm raw;
    raw.rate = spec.freq;
    raw.channels = spec.channels;
    bool ok = true;
    SDL_AudioCVT cvt;
    int built = SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, spec.channels,
                                  spec.freq);
    if (built < 0) {
        why = SDL_GetError();
        ok = false;
    } else {
        std::vector<uint8_t> work(static_cast<size_t>(len) * static_cast<size_t>(std::max(cvt.len_mult, 1)));
        if (len != 0)
            std::memcpy(work.data(), buf, len);
        cvt.buf = work.data();
        cvt.len = static_cast<int>(len);
        if (built > 0 && SDL_ConvertAudio(&cvt) < 0) {
            why = SDL_GetError();
            ok = false;
        } else {
            size_t n = static_cast<size_t>(built > 0 ? cvt.len_cvt : cvt.len) / 2;
            raw.samples.resize(n);
            if (n != 0)
                std::memcpy(raw.samples.data(), work.data(), n * 2);
        }
    }
    SDL_FreeWAV(buf);
    if (!ok)
        return false;
    if (raw.channels <= 2) {
        out = std::move(raw);
        return true;
    }
    return ConvertPcm(raw, raw.rate, 2, out, why);
}

bool ConvertPcm(const Pcm& in, int32_t rate, int32_t channels, Pcm& out, std::string& why)
{
    int32_t outChannels = std::min(in.channels, channels);
    if (in.rate == rate && in.channels == outChannels) {
        out = in;
        return true;
    }
    SDL_AudioStream* s = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(in.channels), in.rate,
                                            AUDIO_S16SYS, static_cast<Uint8>(outChannels), rate);
    if (s == nullptr) {
        why = SDL_GetError();
        return false;
    }
    bool ok = SDL_AudioStreamPut(s, in.samples.data(), static_cast<int>(in.samples.size() * 2)) == 0 &&
              SDL_AudioStreamFlush(s) == 0;
    out.rate = rate;
    out.channels = outChannels;
    out.samples.clear();
    if (ok) {
        int avail = SDL_AudioStreamAvailable(s);
        out.samples.resize(static_cast<size_t>(avail) / 2);
        int got = SDL_AudioStreamGet(s, out.samples.data(), avail);
        ok = got >= 0;
        if (ok)
            out.samples.resize(static_cast<size_t>(got) / 2 / static_cast<size_t>(outChannels) *
                               static_cast<size_t>(outChannels));
    }
    if (!ok)
        why = SDL_GetError();
    SDL_FreeAudioStream(s);
    return ok;
}

std::vector<uint8_t> WriteWav(const Pcm& pcm)
{
    std::vector<uint8_t> v;
    auto dataBytes = static_cast<uint32_t>(pcm.samples.size() * 2);
    v.reserve(44 + dataBytes);
    PutTag(v, "RIFF");
    PutLe32(v, 36 + dataBytes);
    PutTag(v, "WAVE");
    PutTag(v, "fmt ");
    PutLe32(v, 16);
    PutLe16(v, 1);
    PutLe16(v, static_cast<uint16_t>(pcm.channels));
    PutLe32(v, static_cast<uint32_t>(pcm.rate));
    PutLe32(v, static_cast<uint32_t>(pcm.rate * pcm.channels * 2));
    PutLe16(v, static_cast<uint16_t>(pcm.channels * 2));
    PutLe16(v, 16);
    PutTag(v, "data");
    PutLe32(v, dataBytes);
    for (int16_t s : pcm.samples)
        PutLe16(v, static_cast<uint16_t>(s));
    return v;
}

bool ReadMidi(const uint8_t* d, size_t size, MidiPiece& out, std::string& why)
{
    out = MidiPiece{};
    if (d == nullptr || size < 14 || !Tag(d, "MThd") || Be32(d + 4) < 6) {
        why = "not a standard MIDI file";
        return false;
    }
    uint16_t format = Be16(d + 8);
    uint16_t division = Be16(d + 12);
    if (format > 1) {
        why = "MIDI file format 2 is not supported";
        return false;
    }
    if (division == 0) {
        why = "MIDI file with a zero time division";
        return false;
    }
    size_t at = 8 + static_cast<size_t>(Be32(d + 4));
    std::vector<RawEvent> raw;
    uint64_t lastTick = 0;
    int tracks = 0;
    uint32_t order = 0;
    while (at + 8 <= size) {
        size_t len = Be32(d + at + 4);
        size_t start = at + 8;
        bool track = Tag(d + at, "MTrk");
        if (len > size - start) {
            if (!track)
                break; // bytes after the last chunk (a scrambled file's marker, say)
            why = "MIDI track runs past the end of the file";
            return false;
        }
        size_t end = start + len;
        at = end;
        if (!track)
            continue;
        ++tracks;
        uint64_t tick = 0;
        uint8_t running = 0;
        size_t p = start;
        while (p < end) {
            uint32_t delta;
            if (!ReadVlq(d, end, p, delta) || p >= end) {
                why = "MIDI track ends inside an event";
                return false;
            }
            tick += delta;
            uint8_t status = d[p];
            if (status >= 0x80)
                ++p;
            else if (running != 0)
                status = running;
            else {
                why = "MIDI data byte without a running status";
                return false;
            }
            if (status < 0xF0) {
                running = status;
                int need = (status & 0xE0) == 0xC0 ? 1 : 2;
                if (end - p < static_cast<size_t>(need)) {
                    why = "MIDI track ends inside an event";
                    return false;
                }
                if (raw.size() >= kMaxMidiEvents) {
                    why = "MIDI file with too many events";
                    return false;
                }
                RawEvent e{tick,
                           order++,
                           status,
                           static_cast<uint8_t>(d[p] & 0x7F),
                           static_cast<uint8_t>(need == 2 ? d[p + 1] & 0x7F : 0),
                           0};
                if ((status & 0xF0) == 0x90 && e.data2 == 0)
                    e.status = static_cast<uint8_t>(0x80 | (status & 0x0F));
                raw.push_back(e);
                p += static_cast<size_t>(need);
            } else if (status == 0xF0 || status == 0xF7) {
                running = 0;
                uint32_t n;
                if (!ReadVlq(d, end, p, n) || n > end - p) {
                    why = "MIDI system-exclusive event runs past its track";
                    return false;
                }
                p += n;
            } else if (status == 0xFF) {
                running = 0;
                if (p >= end) {
                    why = "MIDI track ends inside an event";
                    return false;
                }
                uint8_t type = d[p++];
                uint32_t n;
                if (!ReadVlq(d, end, p, n) || n > end - p) {
                    why = "MIDI meta event runs past its track";
                    return false;
                }
                if (type == 0x51 && n == 3) {
                    if (raw.size() >= kMaxMidiEvents) {
                        why = "MIDI file with too many events";
                        return false;
                    }
                    uint32_t tempo = (d[p] << 16) | (d[p + 1] << 8) | d[p + 2];
                    raw.push_back(RawEvent{tick, order++, 0xFF, 0, 0, tempo});
                }
                p += n;
                if (type == 0x2F)
                    break;
            } else {
                why = "MIDI track with a system message that files may not hold";
                return false;
            }
        }
        lastTick = std::max(lastTick, tick);
    }
    if (tracks == 0) {
        why = "MIDI file without tracks";
        return false;
    }
    std::stable_sort(raw.begin(), raw.end(), [](const RawEvent& a, const RawEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    // Ticks to seconds: with SMPTE division a fixed rate, else the tempo map.
    double smpte = 0;
    if (division & 0x8000) {
        int fps = -static_cast<int8_t>(division >> 8);
        double frames = fps == 29 ? 29.97 : fps;
        if (fps <= 0 || (division & 0xFF) == 0) {
            why = "MIDI file with a bad SMPTE time division";
            return false;
        }
        smpte = 1.0 / (frames * (division & 0xFF));
    }
    double perTick = smpte != 0 ? smpte : 0.5 / division;
    double seconds = 0;
    uint64_t tick = 0;
    out.events.reserve(raw.size());
    for (const RawEvent& e : raw) {
        seconds += static_cast<double>(e.tick - tick) * perTick;
        tick = e.tick;
        if (e.status == 0xFF) {
            if (smpte == 0 && e.tempo != 0)
                perTick = e.tempo / 1e6 / division;
            continue;
        }
        out.events.push_back(MidiEvent{seconds, e.status, e.data1, e.data2, -1});
    }
    out.length = seconds + static_cast<double>(lastTick - tick) * perTick;
    return true;
}

} // namespace tvsnd
