// CMilesMusic: one music player. MP3 pieces play as streams; standard MIDI is
// converted to the back end's extended form and played on its synthesiser;
// extended MIDI may bring its own instrument bank. The jukebox plays the
// pieces of a folder one after another in random order, stepped by Ticker
// from the frame. The back end signals the end of a piece from its own
// thread: the callback only raises an atomic flag, and the player takes it
// up on the application's thread.
#include <tarvex/sound.h>
#include <tarvex/error.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>
#include <tarvex/strings.h>

#include <algorithm>
#include <cstring>

#include "core/textcopy.h"

uint32_t CMilesMusic::m_ulObjectCounter = 0;

namespace
{

// Living music objects, in creation order: the frame's ticker registration
// passes to the next one when its holder goes.
CLList g_music;

// The jukebox's steps, shared by all music objects: 0 playing, 1 load the
// next piece, 2 start it, 3 given up (no playable piece left).
uint32_t g_jukeState = 0;
bool g_jukeClock = false;
uint32_t g_jukeTime = 0;
constexpr uint32_t kJukeboxStep = 2000;

// The instrument file of extended MIDI pieces without their own bank.
constexpr const char* kStdInstruments = "./std.mls";

const char* LastBackEndError()
{
    return CMilesApi::AIL_last_error != nullptr ? CMilesApi::AIL_last_error() : "sound system not loaded";
}

// Whether name ends in ext, letters compared without case.
bool HasExtension(const char* name, const char* ext)
{
    size_t n = std::strlen(name), e = std::strlen(ext);
    return n >= e && xStricmp(name + n - e, ext) == 0;
}

using tvcore::CopyText;
using tvcore::FreeText;

} // namespace

CMilesMusic::CMilesMusic(const char* redistDir) : CMiles(redistDir, TRUE)
{
    m_pJukeboxFiles = XNEW(CLList);
    g_music.InsertLast(this);
    if (m_ulObjectCounter++ == 0 && m_bWaveDeviceOK)
        dprintf("CMilesMusic::CMilesMusic: Starting music system.\n");
    if (m_bWaveDeviceOK && sglb != nullptr && sglb->music == nullptr)
        sglb->music = this;
}

CMilesMusic::~CMilesMusic()
{
    CloseMusicDevice();
    if (m_pJukeboxFiles != nullptr) {
        m_pJukeboxFiles->KillAllData();
        XDELETE(m_pJukeboxFiles);
    }
    FreeText(m_pExtraMusicPath);
    FreeText(m_pCurrentFile);
    FreeText(m_pRequestedFile);
    g_music.DeleteItem(this);
    // The frame must not tick a destroyed player: hand the registration to
    // another living one, or clear it.
    if (sglb != nullptr && sglb->music == this)
        sglb->music = m_bWaveDeviceOK && g_music.first != nullptr
                          ? static_cast<CMilesMusic*>(g_music.first->data)
                          : nullptr;
    if (m_ulObjectCounter > 0 && --m_ulObjectCounter == 0) {
        if (m_bWaveDeviceOK)
            dprintf("CMilesMusic::~CMilesMusic: Shutting down music system.\n");
        g_jukeState = 0;
        g_jukeClock = false;
    }
}

// ---------------------------------------------------------------- devices

int32_t CMilesMusic::OpenStdMidi(const char* kindText)
{
    static constexpr int32_t kIds[] = {-1, 0, -2};
    for (int32_t id : kIds) {
        if (AIL_midiOutOpen(&m_hMidiDriver, nullptr, id) == 0) {
            dprintf("CMilesMusic::OpenMusicDevice: Successfully opened %s MIDI driver with ID %ld.\n",
                    kindText, static_cast<long>(id));
            return TRUE;
        }
        m_hMidiDriver = nullptr;
        dprintf("CMilesMusic::OpenMusicDevice: Failed to open %s MIDI driver with ID %ld.\n", kindText,
                static_cast<long>(id));
    }
    return FALSE;
}

int32_t CMilesMusic::OpenMusicDevice(uint32_t kind, char* const file)
{
    if (!m_bWaveDeviceOK || m_hMilesDLL == nullptr)
        return xErrorf("CMilesMusic::OpenMusicDevice: Wave device isn't ok.");
    CloseMusicDevice();
    switch (kind) {
    case MUSIC_DEVICE_MIDI:
        dprintf("CMilesMusic::OpenMusicDevice: Opening standard MIDI...\n");
        m_bDeviceOpen = OpenStdMidi("std");
        break;
    case MUSIC_DEVICE_DLS:
        dprintf("CMilesMusic::OpenMusicDevice: Opening DLS MIDI...\n");
        if (!OpenStdMidi("std"))
            break;
        m_hDlsDevice =
            AIL_DLS_open(m_hMidiDriver, m_hDigDriver, nullptr, 0, GetRate(), GetBits(), GetChannels());
        if (m_hDlsDevice != nullptr) {
            dprintf("CMilesMusic::OpenMusicDevice: Opened DLS device with std MIDI driver.\n");
            m_hDlsMidiDriver = m_hMidiDriver;
            m_bDeviceOpen = TRUE;
            break;
        }
        dprintf("CMilesMusic::OpenMusicDevice: Unable to use one MIDI driver for both std MIDI and DLS (Err: "
                "%s).\n",
                LastBackEndError());
        AIL_midiOutClose(m_hMidiDriver);
        m_hMidiDriver = nullptr;
        for (int32_t id : {-1, 0, -2}) {
            if (AIL_midiOutOpen(&m_hDlsMidiDriver, nullptr, id) != 0) {
                m_hDlsMidiDriver = nullptr;
                dprintf("CMilesMusic::OpenMusicDevice: Failed to open DLS MIDI driver with ID %ld.\n",
                        static_cast<long>(id));
                continue;
            }
            dprintf("CMilesMusic::OpenMusicDevice: Successfully opened DLS MIDI driver with ID %ld.\n",
                    static_cast<long>(id));
            m_hDlsDevice =
                AIL_DLS_open(m_hDlsMidiDriver, m_hDigDriver, nullptr, 0, GetRate(), GetBits(), GetChannels());
            if (m_hDlsDevice != nullptr) {
                dprintf(
                    "CMilesMusic::OpenMusicDevice: Successfully opened DLS device with MIDI driver ID %ld.\n",
                    static_cast<long>(id));
                m_bDeviceOpen = TRUE;
                break;
            }
            dprintf("CMilesMusic::OpenMusicDevice: Failed to open DLS device with MIDI driver ID %ld.\n",
                    static_cast<long>(id));
            AIL_midiOutClose(m_hDlsMidiDriver);
            m_hDlsMidiDriver = nullptr;
        }
        break;
    case MUSIC_DEVICE_STREAM:
        dprintf("CMilesMusic::OpenMusicDevice: Opening stream (%s)...\n", file != nullptr ? file : "");
        if (file == nullptr)
            return xErrorf("CMilesMusic::OpenMusicDevice (MUSIC_DEVICE_STREAM); Missing file name pointer.");
        m_hStream = AIL_open_stream(m_hDigDriver, file, 0);
        if (m_hStream == nullptr)
            dprintf("CMilesMusic::OpenMusicDevice: Failed to open stream (Err: %s)\n", LastBackEndError());
        m_bDeviceOpen = m_hStream != nullptr ? TRUE : FALSE;
        break;
    default:
        break;
    }
    return m_bDeviceOpen;
}

void CMilesMusic::CloseMusicDevice()
{
    dprintf("CMilesMusic::CloseMusicDevice: Closing all music devices.\n");
    if (m_hMilesDLL != nullptr) {
        if (m_hSequence != nullptr) {
            AIL_register_sequence_callback(m_hSequence, nullptr);
            AIL_release_sequence_handle(m_hSequence);
        }
        // The bank and its device go before the drivers they live on.
        if (m_hDlsDevice != nullptr && m_hDlsFile != nullptr) {
            AIL_DLS_unload(m_hDlsDevice, m_hDlsFile);
            AIL_DLS_compact(m_hDlsDevice);
        }
        if (m_pDlsImage != nullptr)
            AIL_mem_free_lock(m_pDlsImage);
        if (m_hDlsDevice != nullptr)
            AIL_DLS_close(m_hDlsDevice, 0);
        if (m_hDlsMidiDriver != nullptr && m_hDlsMidiDriver != m_hMidiDriver)
            AIL_midiOutClose(m_hDlsMidiDriver);
        if (m_hMidiDriver != nullptr)
            AIL_midiOutClose(m_hMidiDriver);
        if (m_hStream != nullptr) {
            AIL_register_stream_callback(m_hStream, nullptr);
            AIL_close_stream(m_hStream);
        }
    }
    m_hSequence = nullptr;
    m_hDlsFile = nullptr;
    m_pDlsImage = nullptr;
    m_ulDlsSize = 0;
    m_hDlsDevice = nullptr;
    m_hDlsMidiDriver = nullptr;
    m_hMidiDriver = nullptr;
    m_hStream = nullptr;
    FreeImage();
    m_bDeviceOpen = FALSE;
    m_bLoaded = FALSE;
    m_endSignal.store(0);
}

// ---------------------------------------------------------------- end of piece

void CMilesMusic::SequenceEnded(HSEQUENCE sequence)
{
    auto* m = reinterpret_cast<CMilesMusic*>(AIL_sequence_user_data(sequence, 0));
    if (m != nullptr)
        m->m_endSignal.store(1);
}

void CMilesMusic::StreamEnded(HSTREAM stream)
{
    auto* m = reinterpret_cast<CMilesMusic*>(AIL_stream_user_data(stream, 0));
    if (m != nullptr)
        m->m_endSignal.store(1);
}

void CMilesMusic::TakeEndSignal()
{
    if (m_endSignal.exchange(0) != 0)
        SetAtEnd(TRUE);
}

void CMilesMusic::SetAtEnd(int atEnd)
{
    m_bAtEnd = atEnd ? TRUE : FALSE;
    if (m_bAtEnd)
        m_ulMusicState = MUSIC_STATE_STOPPED;
}

int CMilesMusic::GetAtEnd()
{
    TakeEndSignal();
    return m_bAtEnd;
}

uint32_t CMilesMusic::GetMusicState()
{
    TakeEndSignal();
    return m_ulMusicState;
}

// ---------------------------------------------------------------- loading

int CMilesMusic::Load(char* const file)
{
    TakeEndSignal();
    if (file != nullptr && file != m_pRequestedFile) {
        char* copy = CopyText(file);
        if (copy == nullptr)
            return xErrorf("CMilesMusic::Load: Missing file pointer.");
        FreeText(m_pRequestedFile);
        m_pRequestedFile = copy;
    }
    char* chosen = file;
    if (JukeboxOn()) {
        if (file != nullptr)
            return TRUE;
        auto count = static_cast<uint32_t>(m_pJukeboxFiles->GetNumNodes());
        int32_t pick;
        do
            pick = static_cast<int32_t>(xRand(count));
        while (pick == m_lastPick && count > 1);
        m_lastPick = pick;
        chosen = static_cast<char*>(m_pJukeboxFiles->Get(static_cast<uint32_t>(pick)));
    }
    Stop();
    if (chosen == nullptr)
        return xErrorf("CMilesMusic::Load: Missing file pointer.");
    // The same file again (names compared exactly: letter case makes other
    // files here) only rewinds.
    if (m_bLoaded && m_pCurrentFile != nullptr && std::strcmp(chosen, m_pCurrentFile) == 0) {
        Rewind();
        m_ulMusicState = MUSIC_STATE_LOADED;
        m_bAtEnd = FALSE;
        return TRUE;
    }
    char* name = CopyText(chosen);
    if (name == nullptr)
        return xErrorf("CMilesMusic::Load: Missing file pointer.");
    FreeText(m_pCurrentFile);
    m_pCurrentFile = name;
    if (!LoadFile(name)) {
        // Nothing half-open stays behind, and the same name loads afresh.
        CloseMusicDevice();
        FreeText(m_pCurrentFile);
        return FALSE;
    }
    m_bLoaded = m_bDeviceOpen;
    if (!m_bLoaded)
        return TRUE;
    if (JukeboxOn())
        SetVolume(static_cast<int32_t>(m_ulJukeboxVolume));
    else
        SetLoopCount(0);
    if (m_hStream != nullptr) {
        AIL_set_stream_user_data(m_hStream, 0, reinterpret_cast<intptr_t>(this));
        AIL_register_stream_callback(m_hStream, StreamEnded);
    } else {
        AIL_set_sequence_user_data(m_hSequence, 0, reinterpret_cast<intptr_t>(this));
        AIL_register_sequence_callback(m_hSequence, SequenceEnded);
    }
    m_endSignal.store(0);
    m_ulMusicState = MUSIC_STATE_LOADED;
    m_bAtEnd = FALSE;
    return TRUE;
}

int32_t CMilesMusic::LoadFile(char* const file)
{
    if (HasExtension(file, ".mp3")) {
        if (!OpenMusicDevice(MUSIC_DEVICE_STREAM, file))
            return xErrorf("CMilesMusic::Load: Failed to open stream.");
        return TRUE;
    }
    dprintf("CMilesMusic::Load: Loading music (%s)...\n", file);
    if (!m_bWaveDeviceOK || m_hMilesDLL == nullptr) {
        OpenMusicDevice(MUSIC_DEVICE_MIDI, file);
        return xErrorf("CMilesMusic::Load: Coldn't load file to memory.");
    }
    // The raw file stays local until its device is open: opening a device
    // closes the previous one with its image.
    void* raw = nullptr;
    uint32_t rawSize = 0;
    if (!CMiles::Load(file, &raw, &rawSize))
        return xErrorf("CMilesMusic::Load: Coldn't load file to memory.");
    auto fail = [&]() {
        if (raw != nullptr)
            AIL_mem_free_lock(raw);
        return FALSE;
    };
    int32_t type = AIL_file_type(raw, rawSize);
    const void* sequenceImage = nullptr;
    void* bank = nullptr;
    switch (type) {
    case AILFILETYPE_MIDI:
        if (!OpenMusicDevice(MUSIC_DEVICE_MIDI, file))
            return xErrorf("CMilesMusic::Load (AILFILETYPE_MIDI): Failed to open MIDI."), fail();
        m_hSequence = AIL_allocate_sequence_handle(m_hMidiDriver);
        if (m_hSequence == nullptr)
            return xErrorf(
                       "CMilesMusic::Load (AILFILETYPE_MIDI): Failed to allocate sequence handle (Err: %s).",
                       LastBackEndError()),
                   fail();
        if (!AIL_MIDI_to_XMI(raw, rawSize, &m_pFileImage, &m_ulFileSize, 2))
            return xErrorf(
                       "CMilesMusic::Load (AILFILETYPE_MIDI): Failed to convert to XMI (File: %s, Err: %s).",
                       file, LastBackEndError()),
                   fail();
        AIL_mem_free_lock(raw);
        raw = nullptr;
        sequenceImage = m_pFileImage;
        break;
    case AILFILETYPE_XMIDI: {
        if (!OpenMusicDevice(MUSIC_DEVICE_DLS, file))
            return xErrorf("CMilesMusic::Load (AILFILETYPE_XMIDI): Failed to open MIDI."), fail();
        m_hSequence = AIL_allocate_sequence_handle(m_hDlsMidiDriver);
        if (m_hSequence == nullptr)
            return xErrorf(
                       "CMilesMusic::Load (AILFILETYPE_XMIDI): Failed to allocate sequence handle (Err: %s).",
                       LastBackEndError()),
                   fail();
        m_pFileImage = raw;
        m_ulFileSize = rawSize;
        raw = nullptr;
        sequenceImage = m_pFileImage;
        if (!xFileExists(kStdInstruments))
            return xErrorf("CMilesMusic::Load (AILFILETYPE_XMIDI): DLS file doesn't exist (File: %s).",
                           kStdInstruments);
        void* instruments = nullptr;
        uint32_t instrumentsSize = 0;
        if (!CMiles::Load(const_cast<char*>(kStdInstruments), &instruments, &instrumentsSize))
            return xErrorf(
                "CMilesMusic::Load (AILFILETYPE_XMIDI): Failed to load DLS file (File: %s, Err: %s).",
                kStdInstruments, LastBackEndError());
        void* music = nullptr;
        uint32_t musicSize = 0;
        int32_t ok = AIL_extract_DLS(instruments, instrumentsSize, &music, &musicSize, &m_pDlsImage,
                                     &m_ulDlsSize, nullptr);
        AIL_mem_free_lock(instruments);
        if (music != nullptr)
            AIL_mem_free_lock(music);
        if (!ok || m_pDlsImage == nullptr)
            return xErrorf(
                "CMilesMusic::Load (AILFILETYPE_XMIDI): Failed to extract DLS (File: %s, Err: %s).",
                kStdInstruments, LastBackEndError());
        m_hDlsFile = AIL_DLS_load_memory(m_hDlsDevice, m_pDlsImage, 0);
        if (m_hDlsFile == nullptr)
            return xErrorf(
                "CMilesMusic::Load (AILFILETYPE_XMIDI): Failed to load DLS from memory (File: %s, Err: %s).",
                kStdInstruments, LastBackEndError());
        AIL_DLS_compact(m_hDlsDevice);
        break;
    }
    case AILFILETYPE_XMIDI_DLS:
    case AILFILETYPE_XMIDI_MLS: {
        if (!OpenMusicDevice(MUSIC_DEVICE_DLS, file))
            return xErrorf("CMilesMusic::Load (AILFILETYPE_XMIDI_DLS/AILFILETYPE_XMIDI_MLS): Failed to open "
                           "MIDI."),
                   fail();
        m_hSequence = AIL_allocate_sequence_handle(m_hDlsMidiDriver);
        if (m_hSequence == nullptr)
            return xErrorf("CMilesMusic::Load (AILFILETYPE_XMIDI_DLS || AILFILETYPE_XMIDI_MLS): Failed to "
                           "allocate "
                           "sequence handle (Err: %s).",
                           LastBackEndError()),
                   fail();
        if (type == AILFILETYPE_XMIDI_DLS) {
            void* music = nullptr;
            uint32_t musicSize = 0, bankSize = 0;
            if (!AIL_find_DLS(raw, rawSize, &music, &musicSize, &bank, &bankSize))
                return xErrorf("CMilesMusic::Load (AILFILETYPE_XMIDI_DLS || AILFILETYPE_XMIDI_MLS): Failed "
                               "to find "
                               "DLS (File: %s, Err: %s).",
                               file, LastBackEndError()),
                       fail();
            // Both parts lie inside the file image, which the player keeps.
            m_pFileImage = raw;
            m_ulFileSize = rawSize;
            raw = nullptr;
            sequenceImage = music;
        } else {
            if (!AIL_extract_DLS(raw, rawSize, &m_pFileImage, &m_ulFileSize, &m_pDlsImage, &m_ulDlsSize,
                                 nullptr))
                return xErrorf(
                           "CMilesMusic::Load (AILFILETYPE_XMIDI_DLS || AILFILETYPE_XMIDI_MLS): Failed to "
                           "extract DLS (File: %s, Err: %s).",
                           file, LastBackEndError()),
                       fail();
            AIL_mem_free_lock(raw);
            raw = nullptr;
            sequenceImage = m_pFileImage;
            bank = m_pDlsImage;
        }
        m_hDlsFile = AIL_DLS_load_memory(m_hDlsDevice, bank, 0);
        if (m_hDlsFile == nullptr)
            return xErrorf(
                "CMilesMusic::Load (AILFILETYPE_XMIDI_DLS || AILFILETYPE_XMIDI_MLS): Failed to load DLS "
                "from memory (File: %s, Err: %s).",
                file, LastBackEndError());
        AIL_DLS_compact(m_hDlsDevice);
        break;
    }
    default:
        fail();
        return xErrorf("CMilesMusic::Load: Unsupported file type (File: %s).", file);
    }
    int32_t init = AIL_init_sequence(m_hSequence, sequenceImage, 0);
    if (init == -1)
        return xErrorf("CMilesMusic::Load: Failed to init sequence. Timbre could not be found. (File: %s).",
                       file);
    if (init == 0)
        return xErrorf("CMilesMusic::Load: Failed to init sequence (File: %s).", file);
    return TRUE;
}

// ---------------------------------------------------------------- transport

int CMilesMusic::Start(int bLoop, int bWait)
{
    if (!m_bLoaded)
        return FALSE;
    TakeEndSignal();
    if (m_ulMusicState == MUSIC_STATE_PLAYING || m_bAtEnd)
        return TRUE;
    if (m_hStream != nullptr)
        AIL_start_stream(m_hStream);
    else
        AIL_start_sequence(m_hSequence);
    m_ulMusicState = MUSIC_STATE_PLAYING;
    // Never wait on a piece that repeats for ever, and stop waiting when the
    // user quits.
    if (bWait && !bLoop && GetLoopCount() != 0)
        while (IsPlaying() && !xDoUserWantToQuit())
            if (xHandler() != 0)
                break;
    return TRUE;
}

int CMilesMusic::Pause()
{
    if (!m_bLoaded)
        return FALSE;
    TakeEndSignal();
    if (m_ulMusicState != MUSIC_STATE_PLAYING)
        return TRUE;
    if (m_hStream != nullptr)
        AIL_pause_stream(m_hStream, 1);
    else
        AIL_stop_sequence(m_hSequence);
    m_ulMusicState = MUSIC_STATE_LOADED;
    return TRUE;
}

int CMilesMusic::Resume()
{
    if (!m_bLoaded)
        return FALSE;
    TakeEndSignal();
    if (m_ulMusicState != MUSIC_STATE_LOADED || m_bAtEnd)
        return TRUE;
    if (m_hStream != nullptr)
        AIL_pause_stream(m_hStream, 0);
    else
        AIL_resume_sequence(m_hSequence);
    m_ulMusicState = MUSIC_STATE_PLAYING;
    return TRUE;
}

int CMilesMusic::Stop()
{
    if (!m_bLoaded)
        return FALSE;
    TakeEndSignal();
    if (m_ulMusicState == MUSIC_STATE_STOPPED)
        return TRUE;
    if (JukeboxOn() && !m_bAtEnd)
        return TRUE;
    if (m_hStream != nullptr) {
        AIL_pause_stream(m_hStream, 1);
        AIL_set_stream_ms_position(m_hStream, 0);
    } else {
        AIL_end_sequence(m_hSequence);
    }
    m_ulMusicState = MUSIC_STATE_STOPPED;
    return TRUE;
}

int CMilesMusic::IsPlaying() { return GetMusicState() == MUSIC_STATE_PLAYING ? TRUE : FALSE; }

int CMilesMusic::SetVolume(int32_t volume)
{
    if (!m_bLoaded)
        return FALSE;
    int32_t v = std::clamp(volume / 2, 0, 127);
    if (m_hStream != nullptr)
        AIL_set_stream_volume(m_hStream, v);
    else
        AIL_set_sequence_volume(m_hSequence, v, 0);
    return TRUE;
}

int32_t CMilesMusic::GetVolume()
{
    if (!m_bLoaded)
        return 0;
    return 2 * (m_hStream != nullptr ? AIL_stream_volume(m_hStream) : AIL_sequence_volume(m_hSequence));
}

int CMilesMusic::SetLoopCount(int32_t count)
{
    if (!m_bLoaded)
        return FALSE;
    if (count < 0)
        count = 0;
    if (JukeboxOn())
        count = 1;
    if (m_hStream != nullptr)
        AIL_set_stream_loop_count(m_hStream, count);
    else
        AIL_set_sequence_loop_count(m_hSequence, count);
    return TRUE;
}

int32_t CMilesMusic::GetLoopCount()
{
    if (!m_bLoaded)
        return 0;
    return m_hStream != nullptr ? AIL_stream_loop_count(m_hStream) : AIL_sequence_loop_count(m_hSequence);
}

int32_t CMilesMusic::GetStatus()
{
    if (!m_bLoaded)
        return 0;
    return m_hStream != nullptr ? AIL_stream_status(m_hStream)
                                : static_cast<int32_t>(AIL_sequence_status(m_hSequence));
}

int CMilesMusic::Rewind()
{
    if (!m_bLoaded)
        return FALSE;
    if (m_hStream != nullptr)
        AIL_set_stream_ms_position(m_hStream, 0);
    else
        AIL_set_sequence_ms_position(m_hSequence, 0);
    m_endSignal.store(0);
    m_bAtEnd = FALSE;
    return TRUE;
}

// ---------------------------------------------------------------- jukebox

int CMilesMusic::SetExtraMusicPath(const char* path)
{
    if (path == nullptr)
        return xErrorf("CMilesMusic::SetExtraMusicPath: Missing path.");
    if (m_pExtraMusicPath != nullptr && std::strcmp(path, m_pExtraMusicPath) == 0)
        return TRUE;
    m_bJukeboxFilesPresent = FALSE;
    m_pJukeboxFiles->KillAllData();
    m_lastPick = -1;
    char* copy = CopyText(path);
    if (copy == nullptr)
        return xErrorf("CMilesMusic::SetExtraMusicPath: Out of mem.");
    FreeText(m_pExtraMusicPath);
    m_pExtraMusicPath = copy;
    // Extensions match in any letter case.
    for (const char* pattern : {"*.mp3", "*.mid", "*.xmi"})
        xAddFolderContent(m_pJukeboxFiles, m_pExtraMusicPath, pattern, 0, 1, 1);
    m_bJukeboxFilesPresent = m_pJukeboxFiles->GetNumNodes() > 0 ? TRUE : FALSE;
    if (m_bJukeboxFilesPresent && m_bJukebox) {
        g_jukeState = 0;
        return Load(nullptr);
    }
    return TRUE;
}

int CMilesMusic::SetJukebox(int on)
{
    on = on ? TRUE : FALSE;
    if (on == m_bJukebox)
        return TRUE;
    m_bJukebox = on;
    if (on && m_bJukeboxFilesPresent) {
        g_jukeState = 0;
        return Load(nullptr);
    }
    if (m_pRequestedFile != nullptr)
        return Load(m_pRequestedFile);
    return TRUE;
}

void CMilesMusic::ForgetJukeboxFile()
{
    if (m_lastPick >= 0 && m_lastPick < m_pJukeboxFiles->GetNumNodes()) {
        m_pJukeboxFiles->Get(static_cast<uint32_t>(m_lastPick));
        m_pJukeboxFiles->DeleteData();
        m_pJukeboxFiles->Delete(1);
    }
    m_lastPick = -1;
    m_bJukeboxFilesPresent = m_pJukeboxFiles->GetNumNodes() > 0 ? TRUE : FALSE;
}

void CMilesMusic::Ticker()
{
    if (!JukeboxOn() || g_jukeState == 3)
        return;
    uint32_t now = xGetTime();
    if (!g_jukeClock) {
        g_jukeClock = true;
        g_jukeTime = now;
        return;
    }
    if (xTimeDiff(g_jukeTime, now) < kJukeboxStep)
        return;
    g_jukeTime = now;
    TakeEndSignal();
    switch (g_jukeState) {
    case 0:
        // A piece that never loaded never ends either: move on.
        if (m_bAtEnd || !m_bLoaded)
            g_jukeState = 1;
        break;
    case 1:
    case 2:
        if (g_jukeState == 1 ? Load(nullptr) : Start(FALSE, FALSE)) {
            g_jukeState = g_jukeState == 1 ? 2 : 0;
        } else {
            // A piece that does not play leaves the list; the jukebox goes
            // on with the others and gives up only when none is left.
            ForgetJukeboxFile();
            g_jukeState = m_bJukeboxFilesPresent ? 1 : 3;
        }
        break;
    default:
        break;
    }
}
