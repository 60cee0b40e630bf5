// The back end's shared state: the output device and its mixer, the voices
// (samples and streams), the MIDI synthesiser drivers with their sequences,
// the memory blocks handed to the caller and the last error. The audio
// callback runs on SDL's audio thread with the device lock held; every entry
// point that changes what the callback reads takes that lock.
#pragma once

#include "sndformat.h"

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#ifdef TVSND_NO_SYNTH
#include "sndnosynth.h"
#else
#include <fluidsynth.h>
#endif
#include <mpg123.h>

// Every entry point, with C linkage and visible outside the module.
#ifdef _WIN32
#define TVSND_EXPORT __declspec(dllexport)
#else
#define TVSND_EXPORT __attribute__((visibility("default")))
#endif
#define TVSND_DECLARE(name, result, params) extern "C" TVSND_EXPORT result name params;
TVSND_ENTRY_POINTS(TVSND_DECLARE)
#undef TVSND_DECLARE

namespace tvsnd
{

constexpr int32_t kUserSlots = 8;

// What a sample or a stream plays: its PCM at the device's rate (samples;
// copies of one image share it) or its source (streams), and its settings.
struct Voice {
    std::shared_ptr<const Pcm> pcm;
    size_t pos = 0;        // next frame
    int32_t loopCount = 1; // 0 = for ever
    int32_t loopsDone = 0;
    int32_t volume = 127; // 0..127
    int32_t pan = 64;     // 0 left .. 127 right
    uint32_t status = SMP_DONE;
};

// Mixes up to frames of a playing voice into a stereo accumulator; returns
// true when the voice came to its end (its status is then SMP_DONE).
bool MixVoice(Voice& v, int32_t* acc, int32_t frames);
// Adds n stereo frames of src at the voice's volume and pan to acc.
void MixFrames(const Voice& v, const int16_t* src, int32_t n, int32_t* acc);

// A stream's audio, decoded a block at a time as it plays: MP3 through
// libmpg123's feed interface and PCM WAV read from the file, both converted
// to stereo at the device's rate; other WAV forms are decoded whole.
class StreamSource
{
  public:
    virtual ~StreamSource() = default;
    // Up to frames stereo frames into out; 0 at the end.
    virtual size_t Read(int16_t* out, size_t frames) = 0;
    // Back to the beginning; false when that fails (the stream then ends).
    virtual bool Rewind() = 0;
};
std::unique_ptr<StreamSource> OpenStreamSource(const char* name, int32_t rate, std::string& why);
// A libmpg123 decoder in feed mode, set to 16-bit output at any rate.
mpg123_handle* NewMpegDecoder(std::string& why);

} // namespace tvsnd

struct TvSndSample {
    tvsnd::Voice voice;
    bool hasFile = false;
};

struct TvSndStream {
    tvsnd::Voice voice;
    std::unique_ptr<tvsnd::StreamSource> source;
    std::vector<int16_t> block; // one block of decoded frames
    bool yielded = false;       // frames came since the last start or rewind
    AILSTREAMCB callback = nullptr;
    intptr_t user[tvsnd::kUserSlots] = {};
};

namespace tvsnd
{
// A loop of a piece being played: where it starts and its passes.
struct LoopFrame {
    size_t index;  // the event after its start marker
    double start;  // its start in the piece
    int32_t count; // passes, 0 = endless
    int32_t done;
};
// A note of a duration that is still to end, on the sequence's clock.
struct PendingOff {
    double at;
    uint8_t channel, key;
};
constexpr size_t kLoopDepth = 4;
} // namespace tvsnd

struct TvSndSequence {
    TvSndMidi* driver = nullptr;
    tvsnd::MidiPiece piece;
    bool ready = false;
    size_t next = 0;       // next event
    double time = 0;       // seconds into the piece
    double clock = 0;      // seconds played since the start (loops included)
    int32_t loopCount = 1; // 0 = for ever; endless loops of the piece count their passes here too
    int32_t loopsDone = 0;
    std::vector<tvsnd::LoopFrame> loops;
    int32_t loopsTooDeep = 0; // loop starts past kLoopDepth, skipped with their ends
    std::vector<tvsnd::PendingOff> offs;
    uint8_t sounding[16][128] = {}; // notes on per key: a key is released when its last note ends
    int32_t volume = 127;
    uint32_t status = SEQ_DONE;
    AILSEQUENCECB callback = nullptr;
    intptr_t user[tvsnd::kUserSlots] = {};
};

struct TvSndMidi {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    std::vector<TvSndSequence*> sequences;
    TvSndDls* dls = nullptr;
    int32_t tail = 0; // frames still rendered after the last sequence stopped
};

struct TvSndDls {
    TvSndMidi* driver = nullptr;
    std::vector<TvSndDlsFile*> files;
};

struct TvSndDlsFile {
    int sfontId = -1;
};

struct TvSndDigital {
    SDL_AudioDeviceID device = 0;
    SDL_AudioSpec spec{};
    std::vector<TvSndSample*> samples;
    std::vector<TvSndStream*> streams;
    std::vector<TvSndMidi*> midis;
    std::vector<int32_t> acc;
    std::vector<float> left, right;
};

namespace tvsnd
{

// Records the text that AIL_last_error returns; returns false.
bool Fail(const std::string& text);
// The open output device, or null.
TvSndDigital* Digital();
// Holds the device lock for a scope (no-op without a device).
class DeviceLock
{
  public:
    DeviceLock();
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

  private:
    SDL_AudioDeviceID m_device;
};

// Blocks handed out by AIL_mem_alloc_lock: bytes from p to the end of the
// block p points into, 0 when p lies in no block.
size_t BlockRoom(const void* p);
void* AllocBlock(size_t n);
void FreeBlock(void* p);
// Copies bytes into a new block.
void* CopyBlock(const void* p, size_t n);

// Stereo frames a stream decodes at a time.
constexpr size_t kStreamBlockFrames = 1024;
// Mixes up to frames of a playing stream, decoding as it goes; true when it
// came to its end (called by the mixer with the device lock held).
bool MixStream(TvSndStream& s, int32_t* acc, int32_t frames);

// The MIDI side, called by the mixer with the device lock held.
void RenderMidi(TvSndDigital& dig, TvSndMidi& midi, int32_t frames);
// Releases every MIDI driver of the device (at close).
void CloseAllMidi(TvSndDigital& dig);
// Decodes an MPEG audio image to PCM.
bool DecodeMpeg(const uint8_t* data, size_t size, Pcm& out, std::string& why);

} // namespace tvsnd
