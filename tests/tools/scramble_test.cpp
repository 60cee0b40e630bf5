// The scrambler: files it scrambles load through the library's own BMP,
// JPEG and WAV loaders exactly like the originals, unscrambling gives the
// original bytes back, the output depends only on the input, and a file
// scrambled already (or not scrambled, for unscramble) is refused with a
// message naming it.
#include "../sound/sound_fixture.h"
#include "tool_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

#ifdef TARVEX_SCRAMBLE
const char* const kScrambler = TARVEX_SCRAMBLE;
#else
const char* const kScrambler = nullptr;
#endif

using sndtest::ReadFile;
using sndtest::WriteFile;
using tvtest::RunTool;
using tvtest::ToolRun;
using Bytes = std::vector<uint8_t>;

// The scrambler with args; standard error goes with the output.
ToolRun Scrambler(const std::string& args) { return RunTool(std::string(kScrambler) + " " + args + " 2>&1"); }

// Scrambles plain into scrambled, checks what the tool says of both, and
// that unscrambling gives plain back byte for byte.
void RoundTrip(const std::string& plain, const std::string& scrambled)
{
    ToolRun r = Scrambler("scramble " + plain + " " + scrambled);
    ASSERT_EQ(r.rc, 0) << r.out;
    Bytes original = ReadFile(plain), mixed = ReadFile(scrambled);
    ASSERT_EQ(mixed.size(), original.size() + XCRYPT_MARKER_SIZE);
    EXPECT_NE(Bytes(mixed.begin(), mixed.begin() + static_cast<long>(original.size())), original);
    r = Scrambler("check " + plain + " " + scrambled);
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(r.out, plain + ": not scrambled\n" + scrambled + ": scrambled\n");
    r = Scrambler("unscramble " + scrambled + " back.bin");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(ReadFile("back.bin"), original);
    // Same input, same bytes.
    ASSERT_EQ(Scrambler("scramble " + plain + " again.bin").rc, 0);
    EXPECT_EQ(ReadFile("again.bin"), mixed);
}

class ScrambleTest : public sndtest::SoundTest
{
  protected:
    void SetUp() override
    {
        if (kScrambler == nullptr)
            GTEST_SKIP() << "the scrambler is not built (TARVEX_TOOLS=OFF)";
        SoundTest::SetUp();
    }
};

void ExpectSamePicture(const std::string& plain, const std::string& scrambled)
{
    CBitmap a, b;
    ASSERT_TRUE(a.Load(plain.c_str(), 0)) << tvtest::LastError();
    ASSERT_TRUE(b.Load(scrambled.c_str(), 0)) << tvtest::LastError();
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    ASSERT_EQ(a.bits, b.bits);
    for (int32_t y = 0; y < a.height; ++y)
        ASSERT_EQ(std::memcmp(a.data + y * a.pitch, b.data + y * b.pitch,
                              static_cast<size_t>(a.width * a.bits / 8)),
                  0)
            << scrambled << " row " << y;
}

TEST_F(ScrambleTest, ScrambledPicturesLoadLikeTheOriginals)
{
    CBMPPic* bmp = XNEW(CBMPPic); // the picture types register themselves
    CJPGPic* jpg = XNEW(CJPGPic);
    CBitmap pic;
    ASSERT_TRUE(pic.CreateRGB(37, 21, 24, 8, 8, 8, 0, 8, 16, 0));
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            TRGBA c(static_cast<uint8_t>(x * 7), static_cast<uint8_t>(y * 11), static_cast<uint8_t>(x ^ y));
            ASSERT_TRUE(pic.PutPixel(x, y, &c));
        }
    ASSERT_TRUE(pic.Save("plain.bmp", nullptr, nullptr, nullptr, 0)) << tvtest::LastError();
    RoundTrip("plain.bmp", "scrambled.bmp");
    ExpectSamePicture("plain.bmp", "scrambled.bmp");

    if (std::system("command -v cjpeg >/dev/null 2>&1") == 0) {
        ASSERT_EQ(std::system("cjpeg -quality 80 -outfile plain.jpg plain.bmp 2>/dev/null"), 0);
        RoundTrip("plain.jpg", "scrambled.jpg");
        ExpectSamePicture("plain.jpg", "scrambled.jpg");
    } else {
        ADD_FAILURE() << "cjpeg is not installed (libjpeg-turbo-progs, scripts/setup.sh)";
    }
    XDELETE(jpg);
    XDELETE(bmp);
}

// A sample that shows the file image its loader kept.
class ImageProbe : public CMilesSample
{
  public:
    using CMilesSample::CMilesSample;
    Bytes Image() const
    {
        const auto* p = static_cast<const uint8_t*>(m_pFileImage);
        return p != nullptr ? Bytes(p, p + m_ulFileSize) : Bytes();
    }
};

TEST_F(ScrambleTest, ScrambledSoundLoadsLikeTheOriginal)
{
    WriteFile("plain.wav", sndtest::ToneWav(440, 0.05));
    RoundTrip("plain.wav", "scrambled.wav");
    for (const char* file : {"plain.wav", "scrambled.wav"}) {
        auto* s = XNEW(ImageProbe, const_cast<char*>(file));
        EXPECT_TRUE(s->SampleOK()) << file << ": " << tvtest::LastError();
        EXPECT_EQ(s->Image(), ReadFile("plain.wav")) << file;
        XDELETE(s);
    }
}

TEST_F(ScrambleTest, RefusesWhatItCannotDoAndNamesTheFile)
{
    WriteFile("plain.txt", Bytes{'a', 'b', 'c'});
    ASSERT_EQ(Scrambler("scramble plain.txt once.bin").rc, 0);
    WriteFile("short.bin", Bytes{1, 2});
    WriteFile("empty.bin", Bytes{});
    std::system("mkdir -p adir");
    struct Case {
        const char* args;
        int rc;
        const char* said;   // a part of what the tool says
        const char* absent; // a file that must not have been made, or null
    } cases[] = {
        {"scramble once.bin twice.bin", 1, "once.bin is already scrambled", "twice.bin"},
        {"unscramble plain.txt out.txt", 1, "plain.txt is not scrambled", "out.txt"},
        {"unscramble short.bin out.txt", 1, "short.bin is not scrambled", "out.txt"},
        {"scramble missing.bin out.bin", 1, "cannot read missing.bin", "out.bin"},
        {"scramble adir out.bin", 1, "cannot read adir", "out.bin"},
        {"scramble plain.txt nodir/out.bin", 1, "cannot write nodir/out.bin", nullptr},
        {"check plain.txt missing.bin once.bin", 1, "cannot read missing.bin", nullptr},
        {"scramble plain.txt", 2, "usage:", nullptr},
        {"check", 2, "usage:", nullptr},
        {"shuffle a b", 2, "usage:", nullptr},
    };
    for (const Case& c : cases) {
        ToolRun r = Scrambler(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.args << ": " << r.out;
        if (c.absent != nullptr) {
            EXPECT_NE(access(c.absent, F_OK), 0) << c.args;
        }
    }
    // A failed check still reports the files it could read; short and empty files are plain.
    ToolRun r = Scrambler("check plain.txt missing.bin once.bin short.bin empty.bin");
    EXPECT_NE(r.out.find("plain.txt: not scrambled\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("once.bin: scrambled\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("short.bin: not scrambled\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("empty.bin: not scrambled\n"), std::string::npos) << r.out;
    // Empty data scrambles to the marker alone and back.
    ASSERT_EQ(Scrambler("scramble empty.bin e.scr").rc, 0);
    EXPECT_EQ(ReadFile("e.scr").size(), XCRYPT_MARKER_SIZE);
    ASSERT_EQ(Scrambler("unscramble e.scr e.back").rc, 0);
    EXPECT_TRUE(ReadFile("e.back").empty());
    // In place: in and out may be one file.
    ASSERT_EQ(Scrambler("scramble plain.txt plain.txt").rc, 0);
    EXPECT_EQ(ReadFile("plain.txt"), ReadFile("once.bin"));
    ASSERT_EQ(Scrambler("unscramble plain.txt plain.txt").rc, 0);
    EXPECT_EQ(ReadFile("plain.txt"), (Bytes{'a', 'b', 'c'}));
}

} // namespace
