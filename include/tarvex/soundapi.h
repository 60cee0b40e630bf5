// The sound back end's interface: the handle types, records, constants and
// entry points of the shared library that the sound module loads at run time
// (libtarvexsnd.so). Both sides include this header: the back end implements
// the entry points as plain C symbols, the library resolves them by name into
// CMilesApi's table. The entry-point list below is kept in resolving order.
#pragma once

#include <cstdint>

struct TvSndDigital;
struct TvSndMidi;
struct TvSndDls;
struct TvSndDlsFile;
struct TvSndSequence;
struct TvSndStream;
struct TvSndSample;
using HDIGDRIVER = TvSndDigital*;
using HMDIDRIVER = TvSndMidi*;
using HDLSDEVICE = TvSndDls*;
using HDLSFILEID = TvSndDlsFile*;
using HSEQUENCE = TvSndSequence*;
using HSTREAM = TvSndStream*;
using HSAMPLE = TvSndSample*;

// The PCM format asked of the output device.
struct SAilWaveFormat {
    uint16_t formatTag; // 1 = PCM
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
};

// What AIL_WAV_info reads from a WAV image.
struct SAilSoundInfo {
    int32_t format;   // WAV format tag (1 PCM, 0x11 IMA ADPCM, ...)
    const void* data; // the image the info was read from
    uint32_t size;    // the image's size
    uint32_t rate;
    int32_t bits;
    int32_t channels;
    uint32_t samples;   // sample frames
    uint32_t blockSize; // bytes per block (ADPCM) or per frame
    uint32_t dataOffset;
    uint32_t dataSize;
};

// File types of AIL_file_type.
enum : int32_t {
    AILFILETYPE_UNKNOWN = 0,
    AILFILETYPE_PCM_WAV = 1,
    AILFILETYPE_ADPCM_WAV = 2,
    AILFILETYPE_OTHER_WAV = 3,
    AILFILETYPE_MPEG_L1_AUDIO = 11,
    AILFILETYPE_MPEG_L2_AUDIO = 12,
    AILFILETYPE_MPEG_L3_AUDIO = 13,
    AILFILETYPE_MIDI = 20,
    AILFILETYPE_XMIDI = 21,
    AILFILETYPE_XMIDI_DLS = 22,
    AILFILETYPE_XMIDI_MLS = 23,
    AILFILETYPE_DLS = 24,
    AILFILETYPE_MLS = 25,
};

// Status of samples, sequences and streams.
enum : uint32_t {
    SMP_FREE = 1,
    SMP_DONE = 2,
    SMP_PLAYING = 4,
    SMP_STOPPED = 8,
    SEQ_FREE = 1,
    SEQ_DONE = 2,
    SEQ_PLAYING = 4,
    SEQ_STOPPED = 8,
};

// Preference numbers the sound module sets and reports.
enum : uint32_t {
    DIG_MIXER_CHANNELS = 1,
    DIG_OUTPUT_BUFFER_SIZE = 11,
    DIG_MIN_CHAIN_ELEMENT_SIZE = 14,
    DIG_USE_WAVEOUT = 15,
    DIG_USE_LOCK_PROTECTION = 18,
    DIG_DECODE_BUFFER_SIZE = 32,
    DIG_MIX_FRAGMENT_SIZE = 34,
    DIG_MAX_MIX_FRAGMENTS = 35,
    DIG_CURRENT_MIX_FRAGMENTS = 42,
    DIG_USE_MUTEX_PROTECTION = 44,
    AIL_PREFERENCE_COUNT = 64,
};

// The description written by AIL_digital_configuration holds at most this
// many bytes with its terminator.
constexpr int32_t AIL_CONFIG_TEXT_SIZE = 128;

using AILSEQUENCECB = void (*)(HSEQUENCE);
using AILSTREAMCB = void (*)(HSTREAM);

// X(name, result, parameters): the entry points, in the order the library
// resolves them.
#define TVSND_ENTRY_POINTS(X)                                                                                \
    X(AIL_startup, int32_t, (void))                                                                          \
    X(AIL_shutdown, void, (void))                                                                            \
    X(AIL_digital_configuration, int32_t, (HDIGDRIVER, int32_t*, int32_t*, char*))                           \
    X(AIL_set_redist_directory, char*, (const char*))                                                        \
    X(AIL_last_error, char*, (void))                                                                         \
    X(AIL_background, int32_t, (void))                                                                       \
    X(AIL_mem_alloc_lock, void*, (uint32_t))                                                                 \
    X(AIL_mem_free_lock, void, (void*))                                                                      \
    X(AIL_file_type, int32_t, (const void*, uint32_t))                                                       \
    X(AIL_file_size, int32_t, (const char*))                                                                 \
    X(AIL_file_read, void*, (const char*, void*))                                                            \
    X(AIL_waveOutOpen, int32_t, (HDIGDRIVER*, void**, int32_t, const SAilWaveFormat*))                       \
    X(AIL_waveOutClose, void, (HDIGDRIVER))                                                                  \
    X(AIL_get_preference, int32_t, (uint32_t))                                                               \
    X(AIL_set_preference, int32_t, (uint32_t, int32_t))                                                      \
    X(AIL_midiOutOpen, int32_t, (HMDIDRIVER*, void**, int32_t))                                              \
    X(AIL_midiOutClose, void, (HMDIDRIVER))                                                                  \
    X(AIL_DLS_open, HDLSDEVICE, (HMDIDRIVER, HDIGDRIVER, const char*, uint32_t, uint32_t, int32_t, int32_t)) \
    X(AIL_DLS_close, void, (HDLSDEVICE, uint32_t))                                                           \
    X(AIL_DLS_unload, void, (HDLSDEVICE, HDLSFILEID))                                                        \
    X(AIL_DLS_load_memory, HDLSFILEID, (HDLSDEVICE, const void*, uint32_t))                                  \
    X(AIL_find_DLS, int32_t, (const void*, uint32_t, void**, uint32_t*, void**, uint32_t*))                  \
    X(AIL_extract_DLS, int32_t, (const void*, uint32_t, void**, uint32_t*, void**, uint32_t*, void*))        \
    X(AIL_DLS_compact, void, (HDLSDEVICE))                                                                   \
    X(AIL_allocate_sequence_handle, HSEQUENCE, (HMDIDRIVER))                                                 \
    X(AIL_release_sequence_handle, void, (HSEQUENCE))                                                        \
    X(AIL_init_sequence, int32_t, (HSEQUENCE, const void*, int32_t))                                         \
    X(AIL_resume_sequence, void, (HSEQUENCE))                                                                \
    X(AIL_start_sequence, void, (HSEQUENCE))                                                                 \
    X(AIL_stop_sequence, void, (HSEQUENCE))                                                                  \
    X(AIL_end_sequence, void, (HSEQUENCE))                                                                   \
    X(AIL_sequence_loop_count, int32_t, (HSEQUENCE))                                                         \
    X(AIL_set_sequence_loop_count, void, (HSEQUENCE, int32_t))                                               \
    X(AIL_sequence_status, uint32_t, (HSEQUENCE))                                                            \
    X(AIL_sequence_volume, int32_t, (HSEQUENCE))                                                             \
    X(AIL_set_sequence_volume, void, (HSEQUENCE, int32_t, int32_t))                                          \
    X(AIL_set_sequence_ms_position, void, (HSEQUENCE, int32_t))                                              \
    X(AIL_register_sequence_callback, AILSEQUENCECB, (HSEQUENCE, AILSEQUENCECB))                             \
    X(AIL_set_sequence_user_data, void, (HSEQUENCE, uint32_t, intptr_t))                                     \
    X(AIL_sequence_user_data, intptr_t, (HSEQUENCE, uint32_t))                                               \
    X(AIL_open_stream, HSTREAM, (HDIGDRIVER, const char*, int32_t))                                          \
    X(AIL_close_stream, void, (HSTREAM))                                                                     \
    X(AIL_start_stream, void, (HSTREAM))                                                                     \
    X(AIL_pause_stream, void, (HSTREAM, int32_t))                                                            \
    X(AIL_set_stream_ms_position, void, (HSTREAM, int32_t))                                                  \
    X(AIL_set_stream_volume, void, (HSTREAM, int32_t))                                                       \
    X(AIL_stream_loop_count, int32_t, (HSTREAM))                                                             \
    X(AIL_set_stream_loop_count, void, (HSTREAM, int32_t))                                                   \
    X(AIL_stream_status, int32_t, (HSTREAM))                                                                 \
    X(AIL_stream_volume, int32_t, (HSTREAM))                                                                 \
    X(AIL_register_stream_callback, AILSTREAMCB, (HSTREAM, AILSTREAMCB))                                     \
    X(AIL_set_stream_user_data, void, (HSTREAM, uint32_t, intptr_t))                                         \
    X(AIL_stream_user_data, intptr_t, (HSTREAM, uint32_t))                                                   \
    X(AIL_init_sample, void, (HSAMPLE))                                                                      \
    X(AIL_set_sample_file, int32_t, (HSAMPLE, const void*, int32_t))                                         \
    X(AIL_allocate_sample_handle, HSAMPLE, (HDIGDRIVER))                                                     \
    X(AIL_release_sample_handle, void, (HSAMPLE))                                                            \
    X(AIL_start_sample, void, (HSAMPLE))                                                                     \
    X(AIL_stop_sample, void, (HSAMPLE))                                                                      \
    X(AIL_resume_sample, void, (HSAMPLE))                                                                    \
    X(AIL_end_sample, void, (HSAMPLE))                                                                       \
    X(AIL_sample_volume, int32_t, (HSAMPLE))                                                                 \
    X(AIL_set_sample_volume, void, (HSAMPLE, int32_t))                                                       \
    X(AIL_sample_pan, int32_t, (HSAMPLE))                                                                    \
    X(AIL_set_sample_pan, void, (HSAMPLE, int32_t))                                                          \
    X(AIL_sample_loop_count, int32_t, (HSAMPLE))                                                             \
    X(AIL_set_sample_loop_count, void, (HSAMPLE, int32_t))                                                   \
    X(AIL_sample_status, uint32_t, (HSAMPLE))                                                                \
    X(AIL_WAV_info, int32_t, (const void*, SAilSoundInfo*))                                                  \
    X(AIL_MIDI_to_XMI, int32_t, (const void*, uint32_t, void**, uint32_t*, int32_t))                         \
    X(AIL_decompress_ASI, int32_t, (const void*, uint32_t, const char*, void**, uint32_t*, void*))           \
    X(AIL_decompress_ADPCM, int32_t, (const SAilSoundInfo*, void**, uint32_t*))

// The back end's default file name (looked up on the library path, then
// beside libtarvex.so) and the environment variable that names another.
#ifdef _WIN32
constexpr const char* TVSND_MODULE_NAME = "tarvexsnd.dll";
#else
constexpr const char* TVSND_MODULE_NAME = "libtarvexsnd.so";
#endif
constexpr const char* TVSND_MODULE_ENV = "TARVEX_SOUND_LIB";
