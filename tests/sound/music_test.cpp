// Music through SDL's disk audio driver: a MIDI piece renders sound and
// ends, transport states, waiting starts, rewinding on a second load,
// damaged pieces, the jukebox stepping through a folder from the frame, and
// the frame's ticker registration.
#include "sound_fixture.h"

#include "platform/platform.h"

#include <cmath>
#include <filesystem>
#include <numbers>

using namespace sndtest;

namespace
{

class MusicTest : public SoundTest
{
  protected:
    void TearDown() override
    {
        tvp::TestSetManualClock(false);
        SoundTest::TearDown();
    }
};

// The .xmi form this back end wrote before (a standard MIDI file in the EVNT
// chunk, still read in this version), with an optional bank chunk after it.
std::vector<uint8_t> Xmi(const std::vector<uint8_t>& midi, const std::vector<uint8_t>& bank = {})
{
    std::vector<uint8_t> v;
    size_t evnt = midi.size() + (midi.size() & 1);
    PutTag(v, "FORM");
    PutBe(v, 14, 4);
    PutTag(v, "XDIR");
    PutTag(v, "INFO");
    PutBe(v, 2, 4);
    PutLe(v, 1, 2);
    PutTag(v, "CAT ");
    PutBe(v, static_cast<uint32_t>(24 + evnt), 4);
    PutTag(v, "XMID");
    PutTag(v, "FORM");
    PutBe(v, static_cast<uint32_t>(12 + evnt), 4);
    PutTag(v, "XMID");
    PutTag(v, "EVNT");
    PutBe(v, static_cast<uint32_t>(midi.size()), 4);
    v.insert(v.end(), midi.begin(), midi.end());
    if (midi.size() & 1)
        v.push_back(0);
    v.insert(v.end(), bank.begin(), bank.end());
    return v;
}

// C, E, G, C: one second at 120 beats a minute.
std::vector<uint8_t> Arpeggio() { return Midi({{60, 0.5}, {64, 0.5}, {67, 0.5}, {72, 0.5}}); }

TEST_F(MusicTest, MidiPieceSoundsAndEnds)
{
    WriteFile("piece.mid", Arpeggio());
    WriteFile("scrambled.mid", Scrambled(Arpeggio()));
    for (const char* file : {"piece.mid", "scrambled.mid"}) {
        SCOPED_TRACE(file);
        std::remove("out.raw");
        {
            auto* m = XNEW(CMilesMusic);
            ASSERT_TRUE(m->Load(const_cast<char*>(file))) << tvtest::LastError();
            EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_LOADED);
            EXPECT_EQ(m->GetLoopCount(), 0); // outside the jukebox a piece repeats for ever
            EXPECT_TRUE(m->SetLoopCount(1));
            EXPECT_TRUE(m->Start(FALSE, FALSE));
            EXPECT_TRUE(m->IsPlaying());
            EXPECT_TRUE(WaitWhile([&] { return !m->GetAtEnd(); }));
            EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_STOPPED);
            EXPECT_FALSE(m->IsPlaying());
            // At its end a piece does not start again until it is rewound.
            EXPECT_TRUE(m->Start(FALSE, FALSE));
            EXPECT_FALSE(m->IsPlaying());
            EXPECT_TRUE(m->Rewind());
            EXPECT_FALSE(m->GetAtEnd());
            XDELETE(m);
        }
        Output out = Written();
        EXPECT_GT(out.SoundingSeconds(), 0.8);
        EXPECT_LT(out.SoundingSeconds(), 3.5);
        EXPECT_GT(std::max(out.Level(true), out.Level(false)), 500);
    }
}

TEST_F(MusicTest, InstrumentBanksReplaceTheGeneralMidiSounds)
{
    // Key 69 for a second: 440 Hz on the General MIDI piano, 880 Hz on the bank's sine.
    std::vector<uint8_t> a4 = Midi({{69, 2}});
    WriteFile("embedded.xmi", Xmi(a4, SineBank()));
    WriteFile("plain.xmi", Xmi(a4));
    WriteFile("piano.mid", a4);
    struct Case {
        const char* file;
        bool withStdBank;
        double pitch;
    } cases[] = {{"piano.mid", false, 440}, {"embedded.xmi", false, 880}, {"plain.xmi", true, 880}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::remove("out.raw");
        std::remove("std.mls");
        if (c.withStdBank)
            WriteFile("std.mls", SineBank());
        {
            auto* m = XNEW(CMilesMusic);
            ASSERT_TRUE(m->Load(const_cast<char*>(c.file))) << tvtest::LastError();
            m->SetLoopCount(1);
            m->Start(FALSE, FALSE);
            EXPECT_TRUE(WaitWhile([&] { return !m->GetAtEnd(); }));
            XDELETE(m);
        }
        Output out = Written();
        if (c.pitch == 880) // a pure sine
            EXPECT_NEAR(out.Pitch(), 880, 15);
        else // the piano's overtones blur its zero crossings, but it stays near 440
            EXPECT_LT(out.Pitch(), 600);
        EXPECT_GT(out.Level(true), 500);
    }
    std::remove("std.mls");
}

TEST_F(MusicTest, APieceWithoutLengthEndsInsteadOfRepeating)
{
    WriteFile("empty.mid", Midi({}));
    auto* m = XNEW(CMilesMusic);
    ASSERT_TRUE(m->Load(const_cast<char*>("empty.mid"))) << tvtest::LastError();
    EXPECT_EQ(m->GetLoopCount(), 0); // for ever, which a piece of no length cannot do
    EXPECT_TRUE(m->Start(FALSE, FALSE));
    EXPECT_TRUE(WaitWhile([&] { return !m->GetAtEnd(); }, 2000));
    XDELETE(m);
}

TEST_F(MusicTest, TransportStatesAndVolume)
{
    WriteFile("piece.mid", Arpeggio());
    auto* m = XNEW(CMilesMusic);
    // Nothing loaded: every transport call refuses.
    EXPECT_FALSE(m->Start(FALSE, FALSE));
    EXPECT_FALSE(m->Pause());
    EXPECT_FALSE(m->Stop());
    EXPECT_FALSE(m->SetVolume(100));
    ASSERT_TRUE(m->Load(const_cast<char*>("piece.mid")));
    struct Step {
        int (CMilesMusic::*call)();
        uint32_t state;
    } steps[] = {
        {&CMilesMusic::Pause, MUSIC_STATE_LOADED},
        {&CMilesMusic::Stop, MUSIC_STATE_STOPPED},
        {&CMilesMusic::Pause, MUSIC_STATE_STOPPED},
        {&CMilesMusic::Resume, MUSIC_STATE_STOPPED},
    };
    for (const Step& s : steps) {
        EXPECT_TRUE((m->*s.call)());
        EXPECT_EQ(m->GetMusicState(), s.state);
    }
    // Loaded and waiting counts as paused: Resume plays it.
    ASSERT_TRUE(m->Load(const_cast<char*>("piece.mid")));
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_LOADED);
    EXPECT_TRUE(m->Resume());
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_PLAYING);
    EXPECT_EQ(m->GetStatus(), static_cast<int32_t>(SEQ_PLAYING));
    EXPECT_TRUE(m->Stop());
    EXPECT_TRUE(m->Start(FALSE, FALSE));
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_PLAYING);
    EXPECT_TRUE(m->Pause());
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_LOADED);
    EXPECT_EQ(m->GetStatus(), static_cast<int32_t>(SEQ_STOPPED));
    EXPECT_TRUE(m->Resume());
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_PLAYING);
    EXPECT_EQ(m->GetStatus(), static_cast<int32_t>(SEQ_PLAYING));
    struct {
        int32_t set, got;
    } volumes[] = {{300, 254}, {100, 100}, {-3, 0}};
    for (auto v : volumes) {
        EXPECT_TRUE(m->SetVolume(v.set));
        EXPECT_EQ(m->GetVolume(), v.got);
    }
    EXPECT_TRUE(m->SetLoopCount(-4));
    EXPECT_EQ(m->GetLoopCount(), 0);
    EXPECT_TRUE(m->Stop());
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_STOPPED);
    XDELETE(m);
}

TEST_F(MusicTest, WaitingStartNeverWaitsOnAnEndlessPieceOrAfterQuit)
{
    WriteFile("piece.mid", Midi({{60, 0.4}, {67, 0.4}}));
    auto* m = XNEW(CMilesMusic);
    ASSERT_TRUE(m->Load(const_cast<char*>("piece.mid")));
    EXPECT_TRUE(m->Start(FALSE, TRUE)); // loop count 0: returns at once
    EXPECT_TRUE(m->IsPlaying());
    m->Stop();
    m->SetLoopCount(1);
    xSetUserWantToQuit(1);
    EXPECT_TRUE(m->Start(FALSE, TRUE)); // the user quits: no wait
    EXPECT_TRUE(m->IsPlaying());
    xSetUserWantToQuit(0);
    m->Stop();
    EXPECT_TRUE(m->Start(FALSE, TRUE)); // waits for the end, running frames
    EXPECT_FALSE(m->IsPlaying());
    EXPECT_TRUE(m->GetAtEnd());
    XDELETE(m);
}

TEST_F(MusicTest, LoadingTheSameFileAgainRewinds)
{
    WriteFile("piece.mid", Arpeggio());
    auto* m = XNEW(CMilesMusic);
    ASSERT_TRUE(m->Load(const_cast<char*>("piece.mid")));
    m->Start(FALSE, FALSE);
    std::remove("piece.mid");
    // Not read again (the file is gone): rewound and waiting.
    EXPECT_TRUE(m->Load(const_cast<char*>("piece.mid")));
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_LOADED);
    // Another letter case names another file here.
    EXPECT_FALSE(m->Load(const_cast<char*>("PIECE.mid")));
    EXPECT_EQ(tvtest::LastError(), "CMilesMusic::Load: Coldn't load file to memory.");
    XDELETE(m);
}

TEST_F(MusicTest, DamagedPiecesFailWithClearTexts)
{
    std::vector<uint8_t> broken = Arpeggio();
    broken[21] = 0x7F; // the track's length now runs far past the end
    std::vector<uint8_t> garbage(200, 0x33);
    std::vector<uint8_t> mls = {'M', 'L', 'S', ' ', 0, 0, 0, 4, 1, 2, 3, 4};
    struct Case {
        const char* file;
        std::vector<uint8_t> bytes;
        const char* error;
    } cases[] = {
        {"garbage.mid", garbage, "CMilesMusic::Load: Unsupported file type (File: garbage.mid)."},
        {"broken.mid", broken,
         "CMilesMusic::Load (AILFILETYPE_MIDI): Failed to convert to XMI (File: broken.mid, Err: MIDI track "
         "runs "
         "past the end of the file)."},
        {"compressed.xmi", Xmi(Arpeggio(), mls),
         "CMilesMusic::Load (AILFILETYPE_XMIDI_DLS || AILFILETYPE_XMIDI_MLS): Failed to extract DLS (File: "
         "compressed.xmi, Err: compressed instrument banks are not supported)."},
        {"plain.xmi", Xmi(Arpeggio()),
         "CMilesMusic::Load (AILFILETYPE_XMIDI): DLS file doesn't exist (File: ./std.mls)."},
        {"bad.mp3", garbage, "CMilesMusic::Load: Failed to open stream."},
        {"missing.mid", {}, "CMilesMusic::Load: Coldn't load file to memory."},
    };
    std::remove("std.mls");
    auto* m = XNEW(CMilesMusic);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (std::string(c.file) != "missing.mid")
            WriteFile(c.file, c.bytes);
        EXPECT_FALSE(m->Load(const_cast<char*>(c.file)));
        EXPECT_EQ(tvtest::LastError(), c.error);
        EXPECT_FALSE(m->Start(FALSE, FALSE));
        EXPECT_FALSE(m->IsPlaying());
    }
    // The player stays usable, also for a name that failed before.
    WriteFile("broken.mid", Arpeggio());
    EXPECT_TRUE(m->Load(const_cast<char*>("broken.mid"))) << tvtest::LastError();
    EXPECT_TRUE(m->Start(FALSE, FALSE));
    XDELETE(m);
}

TEST_F(MusicTest, FrameTickerRegistrationPassesOnAndClears)
{
    auto* a = XNEW(CMilesMusic);
    EXPECT_EQ(sglb->music, a);
    auto* b = XNEW(CMilesMusic);
    auto* c = XNEW(CMilesMusic);
    EXPECT_EQ(sglb->music, a);
    XDELETE(a);
    EXPECT_EQ(sglb->music, b);
    XDELETE(c);
    EXPECT_EQ(sglb->music, b);
    EXPECT_EQ(xHandler(), 0);
    XDELETE(b);
    EXPECT_EQ(sglb->music, nullptr);
    EXPECT_EQ(xHandler(), 0);
}

// Runs frames with the clock moved on by a jukebox step each, until starts
// pieces have begun (or the bound runs out); returns the starts seen.
int RunJukebox(CMilesMusic* m, int starts)
{
    int seen = 0;
    bool was = m->IsPlaying() != 0;
    for (int i = 0; i < 400 && seen < starts; ++i) {
        tvp::TestAdvanceClock(2001);
        xHandler();
        bool now = m->IsPlaying() != 0;
        seen += now && !was ? 1 : 0;
        was = now;
        SDL_Delay(25);
    }
    return seen;
}

TEST_F(MusicTest, JukeboxPlaysTheFolderOnAndSkipsBadFiles)
{
    tvp::TestSetManualClock(true, 1000);
    xSeedRandomizer(7);
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
        bool playable;
    } cases[] = {
        {"one piece", {{"only.mid", Midi({{72, 0.3}})}}, true},
        {"two pieces, one named in capitals, a bad one and a stranger",
         {{"one.mid", Midi({{60, 0.3}})},
          {"TWO.MID", Midi({{67, 0.3}})},
          {"bad.mid", std::vector<uint8_t>(100, 0x21)},
          {"notes.txt", {'h', 'i'}}},
         true},
        {"only bad pieces", {{"bad.mid", std::vector<uint8_t>(100, 0x21)}, {"worse.xmi", {1, 2, 3}}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all("music");
        std::filesystem::create_directory("music");
        for (auto& [name, bytes] : c.files)
            WriteFile("music/" + name, bytes);
        auto* m = XNEW(CMilesMusic);
        ASSERT_EQ(sglb->music, m);
        EXPECT_TRUE(m->SetExtraMusicPath(const_cast<char*>("music")));
        m->SetJukebox(TRUE);
        EXPECT_TRUE(m->GetJukebox());
        m->Start(FALSE, FALSE);
        int starts = RunJukebox(m, 3);
        if (c.playable)
            EXPECT_GE(starts, 3);
        else
            EXPECT_EQ(starts, 0);
        XDELETE(m);
    }
}

TEST_F(MusicTest, ExtraMusicPathAndJukeboxSettings)
{
    auto* m = XNEW(CMilesMusic);
    EXPECT_FALSE(m->SetExtraMusicPath(nullptr));
    EXPECT_EQ(tvtest::LastError(), "CMilesMusic::SetExtraMusicPath: Missing path.");
    std::filesystem::create_directory("empty");
    EXPECT_TRUE(m->SetExtraMusicPath(const_cast<char*>("empty")));
    EXPECT_STREQ(m->GetExtraMusicPath(), "empty");
    EXPECT_EQ(m->GetJukeboxVolume(), 150u);
    m->SetJukeboxVolume(80);
    EXPECT_EQ(m->GetJukeboxVolume(), 80u);
    // With an empty folder the jukebox loads the piece asked for instead.
    WriteFile("piece.mid", Arpeggio());
    EXPECT_TRUE(m->Load(const_cast<char*>("piece.mid")));
    EXPECT_TRUE(m->SetJukebox(TRUE));
    EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_LOADED);
    XDELETE(m);
}

} // namespace
