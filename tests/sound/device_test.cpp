// The shared output device: the fall-back through lower rates and 8 bits
// when the device refuses a format, the emulated-device switch, the
// start-up and shut-down of the back end with the first and last object,
// and SDL's own log lines routed into the debug trace.
#include "sound_fixture.h"

#include <cstdlib>

using namespace sndtest;

namespace
{

class DeviceTest : public SoundTest
{
  protected:
    void SetUp() override
    {
        SoundTest::SetUp();
        tvtest::Trace().clear();
        xSetDprintfOutput(tvtest::CollectTrace);
    }
    void TearDown() override
    {
        xSetDprintfOutput(nullptr);
        SoundTest::TearDown();
    }
};

TEST_F(DeviceTest, RefusedFormatsFallBackToLowerRatesThenEightBits)
{
    struct Case {
        const char* refused;
        uint32_t rate;
        int bits;
        int lowerRates, lowerBits;
    } cases[] = {
        {"", 44100, 16, 0, 0},
        {"44100/16", 32000, 16, 1, 0},
        {"44100/16 32000/16 22050/16", 11025, 16, 3, 0},
        {"44100/16 32000/16 22050/16 11025/16", 11025, 8, 3, 1},
    };
    WriteFile("tone.wav", ToneWav(440, 0.3));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused);
        setenv("TVSND_REFUSE_FORMATS", c.refused, 1);
        CMiles::m_ulRatesIndex = 0;
        CMiles::m_uBits = 16;
        tvtest::Trace().clear();
        std::remove("out.raw");
        {
            auto* s = XNEW(CMilesSample, const_cast<char*>("tone.wav"));
            EXPECT_EQ(CMiles::m_bWaveDeviceOK, TRUE);
            EXPECT_EQ(CMiles::GetRate(), c.rate);
            EXPECT_EQ(CMiles::GetBits(), c.bits);
            ASSERT_TRUE(s->Start(FALSE, FALSE)) << tvtest::LastError();
            EXPECT_TRUE(WaitWhile([&] { return s->IsPlaying() != 0; }));
            XDELETE(s);
        }
        const std::string& t = tvtest::Trace();
        int rates = 0, bits = 0;
        for (size_t at = 0; (at = t.find("lower rate", at)) != std::string::npos; ++at)
            ++rates;
        for (size_t at = 0; (at = t.find("lower bit count", at)) != std::string::npos; ++at)
            ++bits;
        EXPECT_EQ(rates, c.lowerRates);
        EXPECT_EQ(bits, c.lowerBits);
        // Whatever the format, the tone keeps its pitch.
        Output out = Written();
        EXPECT_NEAR(out.Pitch(), 440, 6);
        EXPECT_NEAR(out.Level(true), 11585, c.bits == 8 ? 1000 : 600);
    }
}

TEST_F(DeviceTest, NoFormatAcceptedLeavesTheDeviceClosed)
{
    setenv("TVSND_REFUSE_FORMATS", "*", 1);
    auto* s = XNEW(CMilesSample);
    EXPECT_EQ(CMiles::m_bWaveDeviceOK, FALSE);
    EXPECT_EQ(CMiles::m_hDigDriver, nullptr);
    EXPECT_EQ(tvtest::LastError(),
              "CMiles::CMiles: Call to 'AIL_waveOutOpen' failed (Err: device refuses 11025 Hz "
              "at 8 bits).");
    // Tried: 44100, 32000, 22050, 11025 at 16 bits, then 11025 at 8, and no more.
    EXPECT_NE(tvtest::Trace().find("lower rate (Rate: 32000, Bits: 16)"), std::string::npos);
    EXPECT_NE(tvtest::Trace().find("lower bit count (Rate: 11025, Bits: 8)"), std::string::npos);
    EXPECT_EQ(CMiles::GetRate(), 11025u);
    EXPECT_EQ(s->GetLastError(), nullptr);
    EXPECT_FALSE(s->Load(const_cast<char*>("anything.wav")));
    EXPECT_EQ(tvtest::LastError(), "CMilesSample::Load: Sound system not initialized.");
    XDELETE(s);
}

TEST_F(DeviceTest, EmulatedDeviceSwitchesToWaveOut)
{
    setenv("TVSND_EMULATED", "1", 1);
    auto* s = XNEW(CMilesSample);
    EXPECT_EQ(CMiles::m_bWaveDeviceOK, TRUE);
    EXPECT_NE(tvtest::Trace().find("CMiles::CMiles: DirectX emulated, switching to software.\n"),
              std::string::npos);
    EXPECT_NE(tvtest::Trace().find("Using wave out: 1\n"), std::string::npos);
    XDELETE(s);
}

TEST_F(DeviceTest, FirstObjectStartsAndLastStopsTheBackEnd)
{
    auto* a = XNEW(CMilesSample);
    EXPECT_NE(CMilesApi::m_hMilesDLL, nullptr);
    EXPECT_NE(tvtest::Trace().find("Miles Sound system initiated!\n"), std::string::npos);
    auto* b = XNEW(CMilesMusic);
    EXPECT_EQ(CMiles::m_ulObjectCounter, 2u);
    XDELETE(a);
    EXPECT_NE(CMilesApi::m_hMilesDLL, nullptr);
    EXPECT_NE(b->GetLastError(), nullptr);
    XDELETE(b);
    EXPECT_EQ(CMilesApi::m_hMilesDLL, nullptr);
    EXPECT_EQ(CMiles::m_bWaveDeviceOK, FALSE);
    EXPECT_NE(tvtest::Trace().find("CMiles::~CMiles: Shutting down sound system.\n"), std::string::npos);
}

// SDL's own lines about the device (the disk driver announces itself when
// it opens) come through the debug trace, and none reaches standard error,
// where a program's own output line would be cut by them.
TEST_F(DeviceTest, SdlLogLinesComeThroughTheTrace)
{
    ::testing::internal::CaptureStderr();
    auto* s = XNEW(CMilesSample);
    SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "probe %d", 7);
    XDELETE(s);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("SDL"), std::string::npos) << err;
    EXPECT_EQ(err.find("probe"), std::string::npos) << err;
    EXPECT_NE(tvtest::Trace().find("SDL CRITICAL: You are using the SDL disk i/o audio driver!\n"),
              std::string::npos)
        << tvtest::Trace();
    EXPECT_NE(tvtest::Trace().find("SDL ERROR: probe 7\n"), std::string::npos);
}

} // namespace
