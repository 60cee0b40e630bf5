// Streams of the back end that decode as they play: PCM WAV files of
// several forms (read from the file a block at a time, converted to the
// device's rate) and the whole-decoded fall-back for ADPCM, played through
// SDL's disk driver with a loop count.
#include "sound_fixture.h"

using namespace sndtest;

namespace
{

class StreamTest : public SoundTest
{
};

TEST_F(StreamTest, WavStreamsPlayAtTheirPitchAndRepeat)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    } cases[] = {
        {"16-bit mono at 22050 Hz", ToneWav(440, 0.5, 22050, 1)},
        {"8-bit stereo at 44100 Hz", ToneWav(440, 0.5, 44100, 2, 0.5, 0, 8)},
        {"16-bit stereo at 32000 Hz", ToneWav(440, 0.5, 32000, 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile("tone.wav", c.file);
        std::remove("out.raw");
        {
            auto* m = XNEW(CMilesMusic); // starts the back end and its device
            ASSERT_TRUE(CMiles::m_bWaveDeviceOK);
            HSTREAM s = CMilesApi::AIL_open_stream(CMiles::m_hDigDriver, "tone.wav", 0);
            ASSERT_NE(s, nullptr) << CMilesApi::AIL_last_error();
            CMilesApi::AIL_set_stream_loop_count(s, 2);
            CMilesApi::AIL_start_stream(s);
            EXPECT_TRUE(WaitWhile([&] { return CMilesApi::AIL_stream_status(s) == SMP_PLAYING; }));
            CMilesApi::AIL_close_stream(s);
            XDELETE(m);
        }
        Output out = Written();
        EXPECT_NEAR(out.Pitch(), 440, 4);
        EXPECT_NEAR(out.SoundingSeconds(), 1.0, 0.08); // twice round, without a gap
        EXPECT_EQ(out.Bursts(), 1);
    }
}

TEST_F(StreamTest, BadStreamFilesFail)
{
    WriteFile("garbage.wav", std::vector<uint8_t>(300, 0x41));
    std::vector<uint8_t> cut = ToneWav(440, 0.1);
    cut.resize(30);
    WriteFile("cut.wav", cut);
    auto* m = XNEW(CMilesMusic);
    for (const char* file : {"garbage.wav", "cut.wav", "missing.wav"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(CMilesApi::AIL_open_stream(CMiles::m_hDigDriver, file, 0), nullptr);
        EXPECT_STRNE(CMilesApi::AIL_last_error(), "");
    }
    XDELETE(m);
}

} // namespace
