// Music and sound effects: CMilesApi (the table of the sound back end's entry
// points, resolved by name when the first sound object starts), CMiles (the
// abstract sound object that owns the shared output device), CMilesMusic
// (one music player with its jukebox, ticked by the frame) and CMilesSample
// (one sound effect that may overlap itself).
//
// The back end is a shared library of its own, libtarvexsnd.so. It is looked
// up by that name on the library path and then beside libtarvex.so; the
// environment variable TARVEX_SOUND_LIB or CMilesApi::SetModuleName names
// another file (tests and the examples point at the build tree's copy).
#pragma once

#include <tarvex/export.h>

#include <tarvex/frame.h>
#include <tarvex/llist.h>
#include <tarvex/soundapi.h>

#include <atomic>

class TARVEX_API CMilesApi
{
  public:
#define TVSND_MEMBER(name, result, params) static result(*name) params;
    TVSND_ENTRY_POINTS(TVSND_MEMBER)
#undef TVSND_MEMBER
    static void* m_hMilesDLL; // the loaded back end, null when none

    CMilesApi() = default;
    CMilesApi(const CMilesApi&) = default;
    CMilesApi& operator=(const CMilesApi&) = default;
    virtual ~CMilesApi() = default;

    // Loads the back end and resolves every entry point. FALSE when the
    // module is absent or an entry point is missing (then nothing stays
    // loaded and every pointer is null).
    static int32_t LoadMilesDLL();
    static void UnloadMilesDLL();
    static int32_t IsMilesLoaded() { return m_hMilesDLL != nullptr ? TRUE : FALSE; }
    // The back end's file for the next load; null restores the default.
    static void SetModuleName(const char* path);
};

class TARVEX_API CMiles : public CMilesApi
{
  public:
    CMiles(const char* redistDir = nullptr, int32_t useDirectSound = TRUE);
    // Sound objects own playing voices and file images: they are not copied.
    CMiles(const CMiles&) = delete;
    CMiles& operator=(const CMiles&) = delete;
    ~CMiles() override;

    // The back end's last error text, or null without an output device.
    virtual const char* GetLastError();
    virtual int Load(char* const file) = 0;
    virtual int Start(int bLoop, int bWait) = 0;
    virtual int Pause() = 0;
    virtual int Resume() = 0;
    virtual int Stop() = 0;
    virtual int IsPlaying() = 0;
    virtual int SetVolume(int32_t volume) = 0;
    virtual int SetLoopCount(int32_t count) = 0;
    virtual int32_t GetStatus() = 0;
    virtual int32_t GetVolume() = 0;
    virtual int32_t GetLoopCount() = 0;

    static uint8_t GetChannels() { return m_uChannels; }
    static uint32_t GetRate() { return m_ulRates[m_ulRatesIndex]; }
    static uint8_t GetBits() { return m_uBits; }

    static uint32_t m_ulObjectCounter;
    static HDIGDRIVER m_hDigDriver;
    static int32_t m_bWaveDeviceOK;
    static const uint32_t m_ulRates[4];
    static const uint32_t m_ulRatesCount;
    // Found at the first start-up and kept for the process (tests may reset
    // them to 0 and 16 between start-ups).
    static uint32_t m_ulRatesIndex;
    static uint8_t m_uChannels;
    static uint8_t m_uBits;

  protected:
    int32_t Load(char* const file, void** image, uint32_t* size) const;
    int32_t Decrypt(void** image, uint32_t* size) const;
    // Frees the file image unless it is shared.
    void FreeImage();

    void* m_pFileImage = nullptr;
    uint32_t m_ulFileSize = 0;
    int32_t m_bImageShared = FALSE;

  private:
    int32_t DirectSoundOK();
    static void OpenOutput(int32_t useDirectSound);
};

enum : uint32_t { MUSIC_DEVICE_MIDI = 0, MUSIC_DEVICE_DLS = 1, MUSIC_DEVICE_STREAM = 2 };
enum : uint32_t { MUSIC_STATE_LOADED = 0, MUSIC_STATE_PLAYING = 1, MUSIC_STATE_STOPPED = 2 };

class TARVEX_API CMilesMusic : public CMiles, public CMusicTicker
{
  public:
    explicit CMilesMusic(const char* redistDir = nullptr);
    ~CMilesMusic() override;

    int Load(char* const file) override;
    int Start(int bLoop, int bWait) override;
    int Pause() override;
    int Resume() override;
    int Stop() override;
    int IsPlaying() override;
    int SetVolume(int32_t volume) override;
    int SetLoopCount(int32_t count) override;
    int32_t GetStatus() override;
    int32_t GetVolume() override;
    int32_t GetLoopCount() override;

    int Rewind();
    void SetJukeboxVolume(uint32_t volume) { m_ulJukeboxVolume = volume; }
    uint32_t GetJukeboxVolume() const { return m_ulJukeboxVolume; }
    uint32_t GetMusicState();
    void SetMusicState(uint32_t state) { m_ulMusicState = state; }
    int GetAtEnd();
    void SetAtEnd(int atEnd);
    int SetExtraMusicPath(const char* path);
    char* GetExtraMusicPath() const { return m_pExtraMusicPath; }
    int SetJukebox(int on);
    int GetJukebox() const { return m_bJukebox; }
    // One jukebox step at most every 2000 ms; called by the frame.
    void Ticker() override;

    static uint32_t m_ulObjectCounter;

  private:
    int32_t OpenMusicDevice(uint32_t kind, char* const file);
    void CloseMusicDevice();
    int32_t OpenStdMidi(const char* kindText);
    int32_t LoadFile(char* const file);
    // Takes up an end of piece signalled by the back end's thread.
    void TakeEndSignal();
    int32_t JukeboxOn() const { return m_bJukebox && m_bJukeboxFilesPresent; }
    void ForgetJukeboxFile();
    static void SequenceEnded(HSEQUENCE sequence);
    static void StreamEnded(HSTREAM stream);

    HMDIDRIVER m_hMidiDriver = nullptr;
    HMDIDRIVER m_hDlsMidiDriver = nullptr;
    HDLSDEVICE m_hDlsDevice = nullptr;
    HSEQUENCE m_hSequence = nullptr;
    void* m_pDlsImage = nullptr;
    uint32_t m_ulDlsSize = 0;
    HDLSFILEID m_hDlsFile = nullptr;
    HSTREAM m_hStream = nullptr;
    int32_t m_bDeviceOpen = FALSE;
    int32_t m_bLoaded = FALSE;
    uint32_t m_ulMusicState = MUSIC_STATE_STOPPED;
    int32_t m_bAtEnd = FALSE;
    int32_t m_bJukeboxFilesPresent = FALSE;
    CLList* m_pJukeboxFiles = nullptr;
    char* m_pExtraMusicPath = nullptr;
    int32_t m_bJukebox = FALSE;
    uint32_t m_ulJukeboxVolume = 150;
    char* m_pCurrentFile = nullptr;
    char* m_pRequestedFile = nullptr;
    // Set by the back end's end callback (its own thread); read and cleared
    // on the application's thread.
    std::atomic<int32_t> m_endSignal{0};
    int32_t m_lastPick = -1;
};

class TARVEX_API CMilesSample : public CMiles
{
  public:
    explicit CMilesSample(const char* file = nullptr, const char* redistDir = nullptr);
    // An extra instance sharing source's file image.
    explicit CMilesSample(CMilesSample* source);
    ~CMilesSample() override;

    int Load(char* const file) override;
    int Start(int bLoop, int bWait) override;
    int Pause() override;
    int Resume() override;
    int Stop() override;
    int IsPlaying() override;
    int SetVolume(int32_t volume) override;
    int SetLoopCount(int32_t count) override;
    int32_t GetStatus() override;
    int32_t GetVolume() override;
    int32_t GetLoopCount() override;

    int SetPan(int32_t pan);
    int32_t GetPan();
    int SampleOK() const { return m_bSampleOK; }

    // Extra instances of every sample (CMilesSample*), owned here.
    static CLList m_listOtherInstances;

  private:
    void FreeSample();
    static void RemoveOtherInstances(int32_t onlyFinished);

    HSAMPLE m_hSample = nullptr;
    int32_t m_bSampleOK = FALSE;
};
