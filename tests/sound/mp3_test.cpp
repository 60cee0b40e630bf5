// MP3 as a sound effect (expanded to PCM by the back end) and as music (a
// stream), with files the test encodes itself from its own tone through
// libsndfile. Skipped where libsndfile cannot write MP3.
#include "sound_fixture.h"

#ifdef TVSND_TEST_MP3_ENCODER
#include <sndfile.h>
#endif

using namespace sndtest;

namespace
{

class Mp3Test : public SoundTest
{
  protected:
    void SetUp() override
    {
        SoundTest::SetUp();
        if (!Encode("tone.mp3", 440, 0.5))
            GTEST_SKIP() << "no MP3 encoder (libsndfile with LAME) here";
    }
    // Writes a mono 44.1 kHz MP3 of a tone at amplitude 0.5.
    static bool Encode(const char* file, double freq, double seconds)
    {
#ifdef TVSND_TEST_MP3_ENCODER
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        SNDFILE* f = sf_open(file, SFM_WRITE, &info);
        if (f == nullptr)
            return false;
        std::vector<double> tone = Tone(freq, seconds, 44100);
        sf_write_double(f, tone.data(), static_cast<sf_count_t>(tone.size()));
        return sf_close(f) == 0;
#else
        (void)file, (void)freq, (void)seconds;
        return false;
#endif
    }
};

TEST_F(Mp3Test, EffectPlaysAtItsPitch)
{
    WriteFile("scrambled.mp3", Scrambled(ReadFile("tone.mp3")));
    for (const char* file : {"tone.mp3", "scrambled.mp3"}) {
        SCOPED_TRACE(file);
        std::remove("out.raw");
        {
            auto* s = XNEW(CMilesSample, const_cast<char*>(file));
            ASSERT_TRUE(s->SampleOK()) << tvtest::LastError();
            s->Start(FALSE, FALSE);
            EXPECT_TRUE(WaitWhile([&] { return s->IsPlaying() != 0; }));
            XDELETE(s);
        }
        Output out = Written();
        EXPECT_NEAR(out.Pitch(), 440, 4);
        EXPECT_NEAR(out.Level(true), 11585, 1500);
        EXPECT_NEAR(out.SoundingSeconds(), 0.5, 0.08);
    }
}

TEST_F(Mp3Test, MusicStreamPlaysToItsEnd)
{
    {
        auto* m = XNEW(CMilesMusic);
        ASSERT_TRUE(m->Load(const_cast<char*>("tone.mp3"))) << tvtest::LastError();
        EXPECT_TRUE(m->SetLoopCount(2));
        EXPECT_TRUE(m->Start(FALSE, FALSE));
        EXPECT_TRUE(WaitWhile([&] { return !m->GetAtEnd(); }));
        EXPECT_EQ(m->GetMusicState(), MUSIC_STATE_STOPPED);
        XDELETE(m);
    }
    Output out = Written();
    EXPECT_NEAR(out.Pitch(), 440, 4);
    EXPECT_NEAR(out.SoundingSeconds(), 1.0, 0.12); // twice round
}

TEST_F(Mp3Test, DamagedMp3Fails)
{
    std::vector<uint8_t> mp3 = ReadFile("tone.mp3");
    // Frame headers survive, the audio data is noise: it decodes or fails,
    // but never reads outside the file.
    std::vector<uint8_t> noisy = mp3;
    for (size_t i = 200; i < noisy.size(); i += 7)
        noisy[i] ^= 0x5A;
    WriteFile("noisy.mp3", noisy);
    std::vector<uint8_t> header(mp3.begin(), mp3.begin() + 4);
    WriteFile("header.mp3", header);
    auto* s = XNEW(CMilesSample);
    s->Load(const_cast<char*>("noisy.mp3"));
    EXPECT_FALSE(s->Load(const_cast<char*>("header.mp3")));
    EXPECT_EQ(tvtest::LastError(), "CMilesSample::Load: Failed to decompress MP3 (File: header.mp3).");
    XDELETE(s);
    auto* m = XNEW(CMilesMusic);
    EXPECT_FALSE(m->Load(const_cast<char*>("header.mp3")));
    EXPECT_EQ(tvtest::LastError(), "CMilesMusic::Load: Failed to open stream.");
    XDELETE(m);
}

} // namespace
