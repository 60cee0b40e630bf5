// The back end's music side: MIDI drivers are FluidSynth synthesisers with a
// General MIDI soundfont that render into the output device's mix; sequences
// are pieces read from extended MIDI files (sndxmi.cpp) and played by our own
// sequencer in the audio callback (events at 64-frame granularity), so that
// loop counts, positions, volume and the end of a piece are exact and the end
// callback comes from the mixer. DLS banks are handed to FluidSynth (through a
// temporary file); compressed banks are refused.
//
// TVSND_SOUNDFONT names another soundfont than the installed General MIDI one.
#include "sndinternal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace tvsnd
{

namespace
{

constexpr int32_t kEventBlock = 64;
// A piece shorter than this does not repeat (it would spin the mixer).
constexpr double kShortestLoop = 0.01;
constexpr const char* kSoundfonts[] = {"/usr/share/sounds/sf2/TimGM6mb.sf2",
                                       "/usr/share/sounds/sf2/default-GM.sf2",
                                       "/usr/share/sounds/sf3/default-GM.sf3"};

void QuietLog()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // Failures come back through AIL_last_error; FluidSynth's own texts
    // (such as its SoundFont loader refusing a DLS bank before the DLS
    // loader takes it) would only be noise.
    fluid_set_log_function(FLUID_ERR, nullptr, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

void Send(fluid_synth_t* synth, const MidiEvent& e)
{
    int ch = e.status & 0x0F;
    switch (e.status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, ch, e.data1);
        break;
    case 0x90:
        fluid_synth_noteon(synth, ch, e.data1, e.data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, ch, e.data1, e.data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, ch, e.data1, e.data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, ch, e.data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, ch, e.data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, ch, e.data1 | (e.data2 << 7));
        break;
    default:
        break;
    }
}

bool Owned(TvSndDigital* dig, TvSndMidi* m)
{
    return dig != nullptr && std::find(dig->midis.begin(), dig->midis.end(), m) != dig->midis.end();
}

void FreeDriver(TvSndMidi* m)
{
    for (TvSndSequence* s : m->sequences)
        delete s;
    if (m->dls != nullptr) {
        for (TvSndDlsFile* f : m->dls->files)
            delete f;
        delete m->dls;
    }
    if (m->synth != nullptr)
        delete_fluid_synth(m->synth);
    if (m->settings != nullptr)
        delete_fluid_settings(m->settings);
    delete m;
}

// Notes are counted per key, so that of two overlapping notes on one key the
// first one's end does not cut the second.
void NoteOn(TvSndSequence& s, fluid_synth_t* synth, int ch, int key, int velocity)
{
    uint8_t& n = s.sounding[ch][key];
    if (n < 255)
        ++n;
    fluid_synth_noteon(synth, ch, key, velocity);
}

void NoteOff(TvSndSequence& s, fluid_synth_t* synth, int ch, int key)
{
    uint8_t& n = s.sounding[ch][key];
    if (n != 0 && --n == 0)
        fluid_synth_noteoff(synth, ch, key);
}

// Stops every note and forgets the notes still to end and the open loops.
void Silence(TvSndSequence& s)
{
    fluid_synth_all_notes_off(s.driver->synth, -1);
    std::memset(s.sounding, 0, sizeof s.sounding);
    s.offs.clear();
    s.loops.clear();
    s.loopsTooDeep = 0;
}

void Rewound(TvSndSequence& s)
{
    s.next = 0;
    s.time = 0;
    s.clock = 0;
}

void SendDueOffs(TvSndSequence& s, fluid_synth_t* synth)
{
    for (size_t i = 0; i < s.offs.size();) {
        if (s.offs[i].at < s.clock) {
            NoteOff(s, synth, s.offs[i].channel, s.offs[i].key);
            s.offs[i] = s.offs.back();
            s.offs.pop_back();
        } else {
            ++i;
        }
    }
}

// A loop end marker: true (with the seconds to go back) when the loop
// plays again. An endless loop counts its passes against the sequence's
// loop count, so that a piece with one ends when that count is used up.
bool LoopAgain(TvSndSequence& s, const MidiEvent& e, double& back)
{
    if (s.loopsTooDeep > 0) {
        --s.loopsTooDeep;
        return false;
    }
    if (s.loops.empty())
        return false;
    LoopFrame& f = s.loops.back();
    bool again = e.data1 >= 64;
    if (again && f.count == 0) {
        ++s.loopsDone;
        again = s.loopCount == 0 || s.loopsDone < s.loopCount;
    } else if (again) {
        again = ++f.done < f.count;
    }
    back = e.seconds - f.start;
    if (!again || back < kShortestLoop) {
        s.loops.pop_back();
        return false;
    }
    s.next = f.index;
    return true;
}

// Advances one sequence by seconds, sending its due events. Returns true
// when the piece came to its end.
bool Advance(TvSndSequence& s, fluid_synth_t* synth, double seconds)
{
    double until = s.time + seconds;
    s.clock += seconds;
    SendDueOffs(s, synth);
    for (;;) {
        while (s.next < s.piece.events.size() && s.piece.events[s.next].seconds < until) {
            const MidiEvent& e = s.piece.events[s.next++];
            double back = 0;
            if (e.status == kLoopStart) {
                if (s.loops.size() < kLoopDepth)
                    s.loops.push_back(LoopFrame{s.next, e.seconds, e.data1, 0});
                else
                    ++s.loopsTooDeep;
            } else if (e.status == kLoopEnd) {
                if (LoopAgain(s, e, back))
                    until -= back;
            } else if ((e.status & 0xF0) == 0x90) {
                NoteOn(s, synth, e.status & 0x0F, e.data1, e.data2);
                if (e.duration >= 0) // due on the clock as far from now as the note lies in the piece
                    s.offs.push_back(PendingOff{s.clock - (until - e.seconds) + e.duration,
                                                static_cast<uint8_t>(e.status & 0x0F), e.data1});
            } else if ((e.status & 0xF0) == 0x80) {
                NoteOff(s, synth, e.status & 0x0F, e.data1);
            } else {
                Send(synth, e);
            }
        }
        if (until < s.piece.length)
            break;
        ++s.loopsDone;
        if ((s.loopCount != 0 && s.loopsDone >= s.loopCount) || s.piece.length < kShortestLoop) {
            // (a piece that short would repeat without end in one block)
            s.status = SEQ_DONE;
            Rewound(s);
            Silence(s);
            return true;
        }
        until -= s.piece.length;
        s.next = 0;
        s.loops.clear();
        s.loopsTooDeep = 0;
    }
    s.time = until;
    SendDueOffs(s, synth);
    return false;
}

} // namespace

void RenderMidi(TvSndDigital& dig, TvSndMidi& m, int32_t frames)
{
    bool playing = false;
    for (TvSndSequence* s : m.sequences)
        playing = playing || s->status == SEQ_PLAYING;
    if (!playing && m.tail <= 0)
        return;
    if (dig.left.size() < static_cast<size_t>(frames)) {
        dig.left.resize(static_cast<size_t>(frames));
        dig.right.resize(static_cast<size_t>(frames));
    }
    // One volume for the driver's output: the loudest playing sequence's.
    int32_t volume = 0;
    for (TvSndSequence* s : m.sequences)
        if (s->status == SEQ_PLAYING)
            volume = std::max(volume, s->volume);
    if (!playing)
        volume = 127;
    float gain = 32767.0f * static_cast<float>(volume) / 127.0f;
    double rate = dig.spec.freq;
    for (int32_t done = 0; done < frames;) {
        int32_t n = std::min(kEventBlock, frames - done);
        for (TvSndSequence* s : m.sequences)
            if (s->status == SEQ_PLAYING && Advance(*s, m.synth, n / rate) && s->callback != nullptr)
                s->callback(s);
        fluid_synth_write_float(m.synth, n, dig.left.data(), 0, 1, dig.right.data(), 0, 1);
        int32_t* a = dig.acc.data() + 2 * done;
        for (int32_t i = 0; i < n; ++i) {
            a[2 * i] += static_cast<int32_t>(dig.left[static_cast<size_t>(i)] * gain);
            a[2 * i + 1] += static_cast<int32_t>(dig.right[static_cast<size_t>(i)] * gain);
        }
        done += n;
    }
    bool still = false;
    for (TvSndSequence* s : m.sequences)
        still = still || s->status == SEQ_PLAYING;
    // Notes ring out for up to two seconds after the music stops.
    m.tail = still ? 2 * dig.spec.freq : m.tail - frames;
}

void CloseAllMidi(TvSndDigital& dig)
{
    for (TvSndMidi* m : dig.midis)
        FreeDriver(m);
    dig.midis.clear();
}

} // namespace tvsnd

using namespace tvsnd;

// ---------------------------------------------------------------- MIDI drivers

int32_t AIL_midiOutOpen(HMDIDRIVER* drv, void** midiOut, int32_t deviceId)
{
    if (midiOut != nullptr)
        *midiOut = nullptr;
    if (drv == nullptr)
        return Fail("missing driver pointer"), 1;
    *drv = nullptr;
    TvSndDigital* dig = Digital();
    if (dig == nullptr)
        return Fail("MIDI output needs the digital output device"), 1;
    if (deviceId < -2)
        return Fail("no such MIDI device"), 1;
    QuietLog();
    auto* m = new TvSndMidi;
    m->settings = new_fluid_settings();
    if (m->settings != nullptr) {
        fluid_settings_setnum(m->settings, "synth.sample-rate", dig->spec.freq);
        fluid_settings_setnum(m->settings, "synth.gain", 0.6);
        fluid_settings_setint(m->settings, "synth.reverb.active", 0);
        fluid_settings_setint(m->settings, "synth.chorus.active", 0);
        fluid_settings_setint(m->settings, "synth.threadsafe-api", 0);
        fluid_settings_setint(m->settings, "synth.cpu-cores", 1);
        fluid_settings_setint(m->settings, "synth.polyphony", 64);
        m->synth = new_fluid_synth(m->settings);
    }
    if (m->synth == nullptr) {
        FreeDriver(m);
        return Fail("cannot create the MIDI synthesiser"), 1;
    }
    int id = -1;
    const char* chosen = std::getenv("TVSND_SOUNDFONT");
    if (chosen != nullptr)
        id = fluid_synth_sfload(m->synth, chosen, 1);
    for (const char* path : kSoundfonts)
        if (id == -1 && chosen == nullptr && access(path, R_OK) == 0)
            id = fluid_synth_sfload(m->synth, path, 1);
    if (id == -1) {
        FreeDriver(m);
        return Fail("no General MIDI soundfont could be loaded"), 1;
    }
    DeviceLock lock;
    dig->midis.push_back(m);
    *drv = m;
    return 0;
}

void AIL_midiOutClose(HMDIDRIVER m)
{
    TvSndDigital* dig = Digital();
    if (m == nullptr || !Owned(dig, m))
        return;
    {
        DeviceLock lock;
        dig->midis.erase(std::remove(dig->midis.begin(), dig->midis.end(), m), dig->midis.end());
    }
    FreeDriver(m);
}

// ---------------------------------------------------------------- DLS

HDLSDEVICE AIL_DLS_open(HMDIDRIVER m, HDIGDRIVER dig, const char* libName, uint32_t flags, uint32_t rate,
                        int32_t bits, int32_t channels)
{
    (void)libName, (void)flags, (void)rate, (void)bits, (void)channels;
    if (m == nullptr || dig == nullptr || dig != Digital() || !Owned(dig, m))
        return Fail("DLS needs an open MIDI driver and output device"), nullptr;
    if (m->dls != nullptr)
        return Fail("the MIDI driver already has a DLS device"), nullptr;
    m->dls = new TvSndDls;
    m->dls->driver = m;
    return m->dls;
}

void AIL_DLS_close(HDLSDEVICE d, uint32_t flags)
{
    (void)flags;
    if (d == nullptr || d->driver == nullptr || d->driver->dls != d)
        return;
    while (!d->files.empty())
        AIL_DLS_unload(d, d->files.back());
    d->driver->dls = nullptr;
    delete d;
}

void AIL_DLS_unload(HDLSDEVICE d, HDLSFILEID f)
{
    if (d == nullptr || f == nullptr)
        return;
    auto it = std::find(d->files.begin(), d->files.end(), f);
    if (it == d->files.end())
        return;
    d->files.erase(it);
    DeviceLock lock;
    if (f->sfontId >= 0)
        fluid_synth_sfunload(d->driver->synth, f->sfontId, 1);
    delete f;
}

HDLSFILEID AIL_DLS_load_memory(HDLSDEVICE d, const void* image, uint32_t flags)
{
    (void)flags;
    if (d == nullptr)
        return Fail("no DLS device"), nullptr;
    size_t room = BlockRoom(image);
    const auto* p = static_cast<const uint8_t*>(image);
    if (room < 12 || SniffFileType(p, room) != AILFILETYPE_DLS)
        return Fail("instrument data is not a DLS bank"), nullptr;
    size_t size = std::min(room, 8 + static_cast<size_t>(p[4] | (p[5] << 8) | (p[6] << 16) |
                                                         (static_cast<uint32_t>(p[7]) << 24)));
    // FluidSynth reads banks from files.
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/tvsndXXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0)
        return Fail("cannot write the DLS bank to a temporary file"), nullptr;
    bool written = write(fd, p, size) == static_cast<ssize_t>(size);
    close(fd);
    int id = -1;
    if (written) {
        DeviceLock lock;
        id = fluid_synth_sfload(d->driver->synth, path.c_str(), 1);
    }
    unlink(path.c_str());
    if (id == -1)
        return Fail("the DLS bank could not be read"), nullptr;
    auto* f = new TvSndDlsFile;
    f->sfontId = id;
    d->files.push_back(f);
    return f;
}

void AIL_DLS_compact(HDLSDEVICE d) { (void)d; }

int32_t AIL_find_DLS(const void* data, uint32_t size, void** xmi, uint32_t* xmiSize, void** dls,
                     uint32_t* dlsSize)
{
    if (xmi == nullptr || xmiSize == nullptr || dls == nullptr || dlsSize == nullptr)
        return Fail("missing argument"), 0;
    *xmi = *dls = nullptr;
    *xmiSize = *dlsSize = 0;
    size = static_cast<uint32_t>(std::min<size_t>(size, BlockRoom(data)));
    XmiParts parts;
    std::string why;
    if (!SplitXmi(static_cast<const uint8_t*>(data), size, parts, why))
        return Fail(why), 0;
    if (parts.compressedBank)
        return Fail("compressed instrument banks are not supported"), 0;
    if (parts.bankSize == 0)
        return Fail("the file holds no DLS bank"), 0;
    // The parts lie inside the caller's image.
    *xmi = const_cast<void*>(data);
    *xmiSize = static_cast<uint32_t>(parts.xmiSize);
    *dls = static_cast<uint8_t*>(const_cast<void*>(data)) + parts.bankOffset;
    *dlsSize = static_cast<uint32_t>(parts.bankSize);
    return 1;
}

int32_t AIL_extract_DLS(const void* source, uint32_t size, void** xmi, uint32_t* xmiSize, void** dls,
                        uint32_t* dlsSize, void* callback)
{
    (void)callback;
    if (xmi == nullptr || xmiSize == nullptr || dls == nullptr || dlsSize == nullptr)
        return Fail("missing argument"), 0;
    *xmi = *dls = nullptr;
    *xmiSize = *dlsSize = 0;
    const auto* d = static_cast<const uint8_t*>(source);
    size = static_cast<uint32_t>(std::min<size_t>(size, BlockRoom(source)));
    int32_t type = SniffFileType(d, size);
    if (type == AILFILETYPE_MLS || type == AILFILETYPE_XMIDI_MLS)
        return Fail("compressed instrument banks are not supported"), 0;
    if (type == AILFILETYPE_DLS) { // a bare bank: instruments only
        *dls = CopyBlock(d, size);
        *dlsSize = size;
        return *dls != nullptr ? 1 : (Fail("out of memory"), 0);
    }
    XmiParts parts;
    std::string why;
    if (!SplitXmi(d, size, parts, why))
        return Fail(why), 0;
    *xmi = CopyBlock(d, parts.xmiSize);
    *xmiSize = static_cast<uint32_t>(parts.xmiSize);
    if (parts.bankSize != 0) {
        *dls = CopyBlock(d + parts.bankOffset, parts.bankSize);
        *dlsSize = static_cast<uint32_t>(parts.bankSize);
    }
    return 1;
}

int32_t AIL_MIDI_to_XMI(const void* mid, uint32_t size, void** xmi, uint32_t* xmiSize, int32_t flags)
{
    (void)flags;
    if (xmi == nullptr || xmiSize == nullptr)
        return Fail("missing argument"), 0;
    *xmi = nullptr;
    *xmiSize = 0;
    std::vector<uint8_t> out;
    std::string why;
    if (!MidiToXmi(static_cast<const uint8_t*>(mid), size, out, why))
        return Fail(why), 0;
    *xmi = CopyBlock(out.data(), out.size());
    if (*xmi == nullptr)
        return Fail("out of memory"), 0;
    *xmiSize = static_cast<uint32_t>(out.size());
    return 1;
}

// ---------------------------------------------------------------- sequences

HSEQUENCE AIL_allocate_sequence_handle(HMDIDRIVER m)
{
    if (m == nullptr || !Owned(Digital(), m))
        return Fail("no MIDI driver"), nullptr;
    auto* s = new TvSndSequence;
    s->driver = m;
    DeviceLock lock;
    m->sequences.push_back(s);
    return s;
}

void AIL_release_sequence_handle(HSEQUENCE s)
{
    if (s == nullptr || s->driver == nullptr)
        return;
    TvSndMidi* m = s->driver;
    {
        DeviceLock lock;
        auto it = std::find(m->sequences.begin(), m->sequences.end(), s);
        if (it == m->sequences.end())
            return;
        m->sequences.erase(it);
        if (s->status == SEQ_PLAYING)
            Silence(*s);
    }
    delete s;
}

int32_t AIL_init_sequence(HSEQUENCE s, const void* start, int32_t sequenceNum)
{
    if (s == nullptr)
        return Fail("no sequence"), 0;
    size_t room = BlockRoom(start);
    MidiPiece piece;
    std::string why;
    if (room == 0)
        return Fail("sequence image is not a block of this sound system"), 0;
    if (!ReadXmi(static_cast<const uint8_t*>(start), room, sequenceNum, piece, why))
        return Fail(why), 0;
    DeviceLock lock;
    if (s->status == SEQ_PLAYING || s->status == SEQ_STOPPED)
        Silence(*s);
    s->piece = std::move(piece);
    s->ready = true;
    Rewound(*s);
    s->status = SEQ_DONE;
    return 1;
}

void AIL_start_sequence(HSEQUENCE s)
{
    if (s == nullptr || !s->ready)
        return;
    DeviceLock lock;
    fluid_synth_system_reset(s->driver->synth);
    Silence(*s);
    Rewound(*s);
    s->loopsDone = 0;
    s->status = SEQ_PLAYING;
}

void AIL_resume_sequence(HSEQUENCE s)
{
    if (s == nullptr || !s->ready)
        return;
    DeviceLock lock;
    // A sequence that was never started (or has ended) starts from where
    // it stands.
    if (s->status == SEQ_DONE)
        s->loopsDone = 0;
    if (s->status == SEQ_STOPPED || s->status == SEQ_DONE)
        s->status = SEQ_PLAYING;
}

void AIL_stop_sequence(HSEQUENCE s)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    if (s->status == SEQ_PLAYING) {
        s->status = SEQ_STOPPED;
        // Paused notes do not resume; their ends would find nothing to end.
        fluid_synth_all_notes_off(s->driver->synth, -1);
        std::memset(s->sounding, 0, sizeof s->sounding);
        s->offs.clear();
    }
}

void AIL_end_sequence(HSEQUENCE s)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    if (s->status == SEQ_PLAYING || s->status == SEQ_STOPPED)
        Silence(*s);
    s->status = SEQ_DONE;
    Rewound(*s);
}

int32_t AIL_sequence_loop_count(HSEQUENCE s) { return s != nullptr ? s->loopCount : 0; }

void AIL_set_sequence_loop_count(HSEQUENCE s, int32_t n)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    s->loopCount = std::max(n, 0);
}

uint32_t AIL_sequence_status(HSEQUENCE s)
{
    if (s == nullptr)
        return SEQ_FREE;
    DeviceLock lock;
    return s->status;
}

int32_t AIL_sequence_volume(HSEQUENCE s) { return s != nullptr ? s->volume : 0; }

void AIL_set_sequence_volume(HSEQUENCE s, int32_t volume, int32_t ms)
{
    (void)ms;
    if (s == nullptr)
        return;
    DeviceLock lock;
    s->volume = std::clamp(volume, 0, 127);
}

void AIL_set_sequence_ms_position(HSEQUENCE s, int32_t ms)
{
    if (s == nullptr)
        return;
    DeviceLock lock;
    if (s->driver != nullptr)
        Silence(*s);
    Rewound(*s);
    s->time = std::clamp(ms / 1000.0, 0.0, std::max(s->piece.length, 0.0));
    s->clock = s->time;
    // Loops before the new position are not entered.
    while (s->next < s->piece.events.size() && s->piece.events[s->next].seconds < s->time)
        ++s->next;
}

AILSEQUENCECB AIL_register_sequence_callback(HSEQUENCE s, AILSEQUENCECB cb)
{
    if (s == nullptr)
        return nullptr;
    DeviceLock lock;
    AILSEQUENCECB old = s->callback;
    s->callback = cb;
    return old;
}

void AIL_set_sequence_user_data(HSEQUENCE s, uint32_t index, intptr_t value)
{
    if (s == nullptr || index >= kUserSlots)
        return;
    DeviceLock lock;
    s->user[index] = value;
}

intptr_t AIL_sequence_user_data(HSEQUENCE s, uint32_t index)
{
    return s != nullptr && index < kUserSlots ? s->user[index] : 0;
}
