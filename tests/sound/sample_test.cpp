// Sound effects played through SDL's disk audio driver and measured in what
// it wrote: pitch and level, mixing, pan, volume, stop, pause and resume,
// loop counts, overlapping copies (sharing what was decoded), scrambled and
// ADPCM files, damaged files.
#include "sound_fixture.h"

#include <cstdlib>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#define SAMPLE_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SAMPLE_TEST_ASAN 1
#endif
#endif
#ifdef SAMPLE_TEST_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#else
#include <malloc.h>
#endif

using namespace sndtest;

namespace
{

// Bytes of heap in use in the process (the back end's included).
size_t HeapInUse()
{
#ifdef SAMPLE_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#elif defined(_WIN32)
    _HEAPINFO info{};
    size_t used = 0;
    while (_heapwalk(&info) == _HEAPOK)
        if (info._useflag == _USEDENTRY)
            used += info._size;
    return used;
#else
    return mallinfo2().uordblks;
#endif
}

class SampleTest : public SoundTest
{
};

// Plays file once to its end and returns what came out.
Output PlayOnce(const std::string& file, int32_t volume = 254, int32_t pan = 0)
{
    {
        auto* s = XNEW(CMilesSample, const_cast<char*>(file.c_str()));
        EXPECT_TRUE(s->SampleOK()) << tvtest::LastError();
        s->SetVolume(volume);
        s->SetPan(pan);
        EXPECT_TRUE(s->Start(FALSE, FALSE));
        EXPECT_TRUE(WaitWhile([&] { return s->IsPlaying() != 0; }));
        XDELETE(s);
    }
    return ReadOutput("out.raw", static_cast<int>(CMiles::GetRate()), CMiles::GetBits());
}

TEST_F(SampleTest, ToneComesOutAtItsPitchAndLevel)
{
    struct Case {
        const char* what;
        int rate, channels, bits;
    } cases[] = {
        {"44.1 kHz mono", 44100, 1, 16},
        {"22.05 kHz mono, resampled", 22050, 1, 16},
        {"48 kHz stereo", 48000, 2, 16},
        {"8-bit 11.025 kHz", 11025, 1, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile("tone.wav", ToneWav(440, 0.4, c.rate, c.channels, 0.5, 0, c.bits));
        std::remove("out.raw");
        Output out = PlayOnce("tone.wav");
        EXPECT_NEAR(out.Pitch(), 440, 4);
        // A sine of amplitude 0.5 has an RMS of 0.5 / sqrt(2) of full scale.
        EXPECT_NEAR(out.Level(true), 11585, 600);
        EXPECT_NEAR(out.Level(false), 11585, 600);
        EXPECT_NEAR(out.SoundingSeconds(), 0.4, 0.05);
    }
}

TEST_F(SampleTest, PanMovesEnergyBetweenChannelsAndVolumeScales)
{
    WriteFile("tone.wav", ToneWav(440, 0.3));
    struct Case {
        int32_t volume, pan;
        double left, right; // of the full level
    } cases[] = {
        {254, -128, 1.0, 0.0}, {254, 127, 0.0, 1.0}, {254, 0, 1.0, 1.0},
        {254, -64, 1.0, 0.5},  {127, 0, 0.5, 0.5},   {60, 0, 30.0 / 127, 30.0 / 127},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "volume " << c.volume << " pan " << c.pan);
        std::remove("out.raw");
        Output out = PlayOnce("tone.wav", c.volume, c.pan);
        EXPECT_NEAR(out.Level(true) / 11585, c.left, 0.06);
        EXPECT_NEAR(out.Level(false) / 11585, c.right, 0.06);
    }
}

TEST_F(SampleTest, TwoEffectsMix)
{
    WriteFile("low.wav", ToneWav(440, 0.4, 44100, 1, 0.3));
    WriteFile("high.wav", ToneWav(1000, 0.4, 44100, 1, 0.3));
    {
        auto* low = XNEW(CMilesSample, const_cast<char*>("low.wav"));
        auto* high = XNEW(CMilesSample, const_cast<char*>("high.wav"));
        ASSERT_TRUE(low->SampleOK() && high->SampleOK()) << tvtest::LastError();
        low->Start(FALSE, FALSE);
        high->Start(FALSE, FALSE);
        EXPECT_TRUE(WaitWhile([&] { return low->IsPlaying() || high->IsPlaying(); }));
        XDELETE(high);
        XDELETE(low);
    }
    Output out = Written();
    double quiet = out.PowerAt(700);
    EXPECT_GT(out.PowerAt(440), 100 * quiet);
    EXPECT_GT(out.PowerAt(1000), 100 * quiet);
    EXPECT_NEAR(out.PowerAt(440) / out.PowerAt(1000), 1.0, 0.3);
}

TEST_F(SampleTest, StartingAPlayingSampleOverlapsACopy)
{
    WriteFile("tone.wav", ToneWav(440, 0.4));
    {
        auto* s = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
        ASSERT_TRUE(s->SampleOK());
        s->Start(FALSE, FALSE);
        SDL_Delay(200);
        ASSERT_TRUE(s->IsPlaying());
        EXPECT_TRUE(s->Start(FALSE, FALSE));
        EXPECT_EQ(CMilesSample::m_listOtherInstances.GetNumNodes(), 1);
        // While a copy plays, no sample may load (the copy shares an image).
        auto* other = XNEW(CMilesSample);
        EXPECT_FALSE(other->Load(const_cast<char*>("tone.wav")));
        EXPECT_EQ(tvtest::LastError(), "CMilesSample::Load: Unable to load because my memory is shared.");
        // Finished copies are reaped by the next start, never by a copy.
        auto* copy = static_cast<CMilesSample*>(CMilesSample::m_listOtherInstances.first->data);
        EXPECT_TRUE(WaitWhile([&] { return copy->IsPlaying() != 0; }));
        EXPECT_TRUE(other->Load(const_cast<char*>("tone.wav"))) << tvtest::LastError();
        EXPECT_EQ(CMilesSample::m_listOtherInstances.GetNumNodes(), 0);
        XDELETE(other);
        XDELETE(s);
    }
    // First play from 0, the copy from about 0.2 s: sound for about 0.6 s.
    EXPECT_NEAR(Written().SoundingSeconds(), 0.6, 0.08);
}

TEST_F(SampleTest, OverlappingCopiesShareOneDecodedImage)
{
    // Four seconds of stereo at the device's rate: 705600 bytes decoded.
    WriteFile("long.wav", ToneWav(440, 4.0, 44100, 2));
    auto* s = XNEW(CMilesSample, const_cast<char*>("long.wav"));
    ASSERT_TRUE(s->SampleOK());
    s->Start(FALSE, FALSE);
    size_t before = HeapInUse();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(s->Start(FALSE, FALSE));
    size_t after = HeapInUse();
    EXPECT_EQ(CMilesSample::m_listOtherInstances.GetNumNodes(), 3);
    // Three copies decoded apart would take over 2 MB more.
    EXPECT_LT(after, before + 200000) << "heap grew by " << after - before;
    XDELETE(s);
}

TEST_F(SampleTest, DestroyingAnySampleStopsAndDeletesEveryCopy)
{
    WriteFile("tone.wav", ToneWav(440, 2.0));
    auto* a = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
    auto* b = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
    for (int i = 0; i < 3; ++i)
        a->Start(FALSE, FALSE);
    b->Start(FALSE, FALSE);
    b->Start(FALSE, FALSE);
    EXPECT_EQ(CMilesSample::m_listOtherInstances.GetNumNodes(), 3);
    XDELETE(b);
    EXPECT_EQ(CMilesSample::m_listOtherInstances.GetNumNodes(), 0);
    EXPECT_TRUE(a->IsPlaying());
    XDELETE(a);
}

TEST_F(SampleTest, StopGivesSilence)
{
    WriteFile("tone.wav", ToneWav(440, 3.0));
    {
        auto* s = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
        s->Start(FALSE, FALSE);
        SDL_Delay(200);
        EXPECT_TRUE(s->Stop());
        EXPECT_FALSE(s->IsPlaying());
        SDL_Delay(200);
        XDELETE(s);
    }
    Output out = Written();
    EXPECT_GT(out.SoundingSeconds(), 0.1);
    EXPECT_LT(out.SoundingSeconds(), 0.5);
    EXPECT_EQ(out.Bursts(), 1);
}

// Pause leaves a gap and Resume plays on from where the sample stopped: the
// tone comes out in two parts that add up to its length, not more. Resume
// on a playing sample changes nothing, and on an ended one starts nothing.
TEST_F(SampleTest, ResumeContinuesWherePauseStopped)
{
    WriteFile("tone.wav", ToneWav(440, 0.6));
    {
        auto* s = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
        ASSERT_TRUE(s->SampleOK()) << tvtest::LastError();
        EXPECT_TRUE(s->Start(FALSE, FALSE));
        SDL_Delay(200);
        EXPECT_TRUE(s->Resume());
        EXPECT_TRUE(s->IsPlaying());
        EXPECT_TRUE(s->Pause());
        EXPECT_FALSE(s->IsPlaying());
        SDL_Delay(300);
        EXPECT_FALSE(s->IsPlaying());
        EXPECT_TRUE(s->Resume());
        EXPECT_TRUE(s->IsPlaying());
        EXPECT_TRUE(WaitWhile([&] { return s->IsPlaying() != 0; }));
        EXPECT_TRUE(s->Resume());
        EXPECT_FALSE(s->IsPlaying());
        SDL_Delay(100);
        XDELETE(s);
    }
    Output out = Written();
    EXPECT_EQ(out.Bursts(), 2);
    // Two 10 ms windows may be lost or gained at each edge of each part.
    EXPECT_GT(out.SoundingSeconds(), 0.5);
    EXPECT_LT(out.SoundingSeconds(), 0.7);
}

TEST_F(SampleTest, LoopCountRepeatsTheSample)
{
    // 60 ms of tone, 60 ms of silence: one burst a round.
    WriteFile("blip.wav", ToneWav(880, 0.06, 44100, 1, 0.5, 0.06));
    for (int32_t loops : {1, 3}) {
        SCOPED_TRACE(loops);
        std::remove("out.raw");
        {
            auto* s = XNEW(CMilesSample, const_cast<char*>("blip.wav"));
            EXPECT_TRUE(s->SetLoopCount(loops));
            EXPECT_EQ(s->GetLoopCount(), loops);
            s->Start(FALSE, FALSE);
            EXPECT_TRUE(WaitWhile([&] { return s->IsPlaying() != 0; }));
            XDELETE(s);
        }
        EXPECT_EQ(Written().Bursts(), loops);
    }
}

TEST_F(SampleTest, WaitingStartReturnsAtTheEndAndNeverWaitsOnAnEndlessLoop)
{
    WriteFile("tone.wav", ToneWav(440, 0.3));
    auto* s = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
    EXPECT_TRUE(s->Start(FALSE, TRUE));
    EXPECT_FALSE(s->IsPlaying());
    EXPECT_TRUE(s->Start(TRUE, TRUE)); // loops for ever: returns at once
    EXPECT_TRUE(s->IsPlaying());
    s->SetLoopCount(0);
    s->Stop();
    s->Start(FALSE, TRUE); // the loop count is still 0: no wait either
    EXPECT_TRUE(s->IsPlaying());
    XDELETE(s);
}

TEST_F(SampleTest, VolumeAndPanScales)
{
    WriteFile("tone.wav", ToneWav(440, 0.1));
    auto* s = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
    struct {
        int32_t set, got;
    } volumes[] = {{300, 254}, {254, 254}, {100, 100}, {1, 0}, {-5, 0}};
    for (auto v : volumes) {
        EXPECT_TRUE(s->SetVolume(v.set));
        EXPECT_EQ(s->GetVolume(), v.got) << v.set;
    }
    struct {
        int32_t set, got;
    } pans[] = {{-128, -128}, {127, 126}, {0, 0}, {-1, -2}, {500, 126}, {-500, -128}};
    for (auto p : pans) {
        EXPECT_TRUE(s->SetPan(p.set));
        EXPECT_EQ(s->GetPan(), p.got) << p.set;
    }
    XDELETE(s);
    // Setters of a sample that is not ready refuse.
    auto* empty = XNEW(CMilesSample);
    EXPECT_FALSE(empty->SetVolume(100));
    EXPECT_FALSE(empty->SetPan(0));
    EXPECT_FALSE(empty->Start(FALSE, FALSE));
    XDELETE(empty);
}

TEST_F(SampleTest, ScrambledFilePlaysLikeThePlainOne)
{
    WriteFile("plain.wav", ToneWav(440, 0.3));
    WriteFile("scrambled.wav", Scrambled(ToneWav(440, 0.3)));
    Output plain = PlayOnce("plain.wav");
    std::remove("out.raw");
    Output scrambled = PlayOnce("scrambled.wav");
    EXPECT_NEAR(scrambled.Pitch(), 440, 4);
    EXPECT_NEAR(scrambled.Level(true), plain.Level(true), 200);
    EXPECT_NEAR(scrambled.SoundingSeconds(), plain.SoundingSeconds(), 0.03);
}

TEST_F(SampleTest, ImaAdpcmFileIsExpandedAndPlays)
{
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sox is not installed";
    WriteFile("pcm.wav", ToneWav(440, 0.4, 22050));
    ASSERT_EQ(std::system("sox pcm.wav -e ima-adpcm adpcm.wav"), 0);
    std::vector<uint8_t> adpcm = ReadFile("adpcm.wav");
    ASSERT_GT(adpcm.size(), 44u);
    ASSERT_EQ(adpcm[20] | (adpcm[21] << 8), 0x11);
    WriteFile("adpcm_scrambled.wav", Scrambled(adpcm));
    for (const char* file : {"adpcm.wav", "adpcm_scrambled.wav"}) {
        SCOPED_TRACE(file);
        std::remove("out.raw");
        Output out = PlayOnce(file);
        EXPECT_NEAR(out.Pitch(), 440, 5);
        EXPECT_NEAR(out.Level(true), 11585, 1200);
    }
}

TEST_F(SampleTest, DamagedFilesFailWithClearTexts)
{
    std::vector<uint8_t> good = ToneWav(440, 0.2);
    std::vector<uint8_t> truncated(good.begin(), good.begin() + 1000);
    std::vector<uint8_t> noChannels = good;
    noChannels[22] = noChannels[23] = 0;
    std::vector<uint8_t> noData(good.begin(), good.begin() + 36);
    noData[4] = 28;
    std::vector<uint8_t> garbage(300, 0x5C);
    std::vector<uint8_t> midi = Midi({{60, 1}});
    struct Case {
        const char* file;
        std::vector<uint8_t> bytes;
        std::string error;
    } cases[] = {
        {"truncated.wav", truncated,
         "CMilesSample::Load: Failed to set sample file (File: truncated.wav, Filetype: 1"},
        {"nochannels.wav", noChannels,
         "CMiles::Load: Not supported filetype (File: nochannels.wav, Type: 0)."},
        {"nodata.wav", noData, "CMiles::Load: Not supported filetype (File: nodata.wav, Type: 0)."},
        {"garbage.wav", garbage, "CMiles::Load: Not supported filetype (File: garbage.wav, Type: 0)."},
        {"empty.wav", {}, "CMiles::Load: Not supported filetype (File: empty.wav, Type: 0)."},
        {"piece.mid", midi, "CMiles::Load: Not supported filetype (File: piece.mid, Type: 20)."},
        {"missing.wav", {}, "CMilesSample::Load: Coldn't load file to memory."},
    };
    auto* s = XNEW(CMilesSample);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (std::string(c.file) != "missing.wav")
            WriteFile(c.file, c.bytes);
        EXPECT_FALSE(s->Load(const_cast<char*>(c.file)));
        EXPECT_EQ(tvtest::LastError().substr(0, c.error.size()), c.error);
        EXPECT_FALSE(s->SampleOK());
        EXPECT_FALSE(s->Start(FALSE, FALSE));
    }
    // The object stays usable.
    WriteFile("good.wav", good);
    EXPECT_TRUE(s->Load(const_cast<char*>("good.wav"))) << tvtest::LastError();
    XDELETE(s);
}

TEST_F(SampleTest, WithoutTheBackEndEverythingFailsCleanly)
{
    struct Case {
        const char* what;
        std::string module;
    } cases[] = {
        {"module absent", BackEnd("nothere")},
        {"entry point missing", BackEnd("tarvexsnd_partial")},
    };
    WriteFile("tone.wav", ToneWav(440, 0.1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setenv(TVSND_MODULE_ENV, c.module.c_str(), 1);
        auto* s = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
        EXPECT_EQ(CMilesApi::m_hMilesDLL, nullptr);
        EXPECT_EQ(CMilesApi::AIL_startup, nullptr);
        EXPECT_EQ(tvtest::LastError(), "CMilesSample::Load: Sound system not initialized.");
        EXPECT_FALSE(s->SampleOK());
        EXPECT_FALSE(s->IsPlaying());
        EXPECT_FALSE(s->Start(FALSE, TRUE));
        EXPECT_FALSE(s->Stop());
        EXPECT_FALSE(s->SetVolume(10));
        EXPECT_EQ(s->GetVolume(), 0);
        EXPECT_EQ(s->GetLastError(), nullptr);
        auto* m = XNEW(CMilesMusic);
        EXPECT_EQ(sglb->music, nullptr);
        EXPECT_FALSE(m->Load(const_cast<char*>("tone.wav")));
        EXPECT_FALSE(m->Start(FALSE, TRUE));
        EXPECT_FALSE(m->IsPlaying());
        XDELETE(m);
        XDELETE(s);
    }
    // With the module named by the setter instead.
    CMilesApi::SetModuleName(BackEnd("nothere").c_str());
    setenv(TVSND_MODULE_ENV, BackEnd().c_str(), 1);
    auto* s = XNEW(CMilesSample);
    EXPECT_EQ(tvtest::LastError(), "CMilesApi::LoadMilesDLL: Failed to load Miles DLL.");
    XDELETE(s);
    CMilesApi::SetModuleName(nullptr);
}

} // namespace
