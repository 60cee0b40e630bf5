// The JPEG decoder against an independent reference: a corpus encoded at run
// time (several qualities, samplings, greyscale, restart intervals,
// optimised tables, odd sizes, another encoder's output) must decode to the
// same pixels as the reference decoder with the accurate integer inverse
// DCT and replication upsampling. Also the refused frame types, scrambled
// files, the load-data callback and damaged files.
#include "tarvex_test.h"

#include "gfx/jpegdec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using tvtest::LastError;

namespace {

struct Image {
    int w = 0, h = 0, channels = 3;
    std::vector<uint8_t> px; // RGB or grey, packed
};

bool HaveTool(const char* name)
{
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

bool Shell(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()) == 0; }

std::vector<uint8_t> ReadAll(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Photo-like and deterministic: smooth gradients, a few edges, noise.
void WritePnm(const std::string& name, int w, int h, bool grey, uint32_t seed)
{
    std::string head = std::string(grey ? "P5\n" : "P6\n") + std::to_string(w) + " " + std::to_string(h) +
                       "\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    uint32_t r = seed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < (grey ? 1 : 3); ++c) {
                r = r * 1664525u + 1013904223u;
                int v = (x * (3 + c) + y * (5 - c)) % 256;
                if (((x / 9) + (y / 7) + c) % 5 == 0)
                    v = 255 - v;
                v += static_cast<int>((r >> 24) % 25) - 12;
                bytes.push_back(static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v));
            }
    WriteAll(name, bytes);
}

// Reads a binary PPM/PGM as written by the reference decoder.
bool ReadPnm(const std::string& name, Image* img)
{
    std::vector<uint8_t> b = ReadAll(name);
    size_t p = 0;
    auto token = [&]() {
        while (p < b.size() && (b[p] == ' ' || b[p] == '\n' || b[p] == '\r' || b[p] == '\t'))
            ++p;
        std::string t;
        while (p < b.size() && b[p] > ' ')
            t += static_cast<char>(b[p++]);
        return t;
    };
    std::string magic = token();
    if (magic != "P5" && magic != "P6")
        return false;
    img->channels = magic == "P6" ? 3 : 1;
    img->w = std::atoi(token().c_str());
    img->h = std::atoi(token().c_str());
    token();
    ++p;
    size_t n = static_cast<size_t>(img->w) * img->h * img->channels;
    if (b.size() < p + n)
        return false;
    img->px.assign(b.begin() + static_cast<long>(p), b.begin() + static_cast<long>(p + n));
    return true;
}

struct Decoded {
    int32_t ok = FALSE;
    std::string error; // the type's text, or the globals' text
    int w = 0, h = 0;
    std::vector<uint8_t> bgr; // pitch = 3 * w + padding
    int32_t pitch = 0;
};

Decoded DecodeFile(const std::string& name)
{
    Decoded d;
    CFile f;
    if (!f.Open(name.c_str(), XFILE_READ | XFILE_BIG_ENDIAN)) {
        d.error = "open";
        return d;
    }
    int32_t scrambled = xIsFileCrypt(&f);
    CJpegDecoder dec;
    glb->error.Clear();
    if (dec.ReadHeader(&f, scrambled)) {
        d.w = dec.Width();
        d.h = dec.Height();
        d.pitch = (3 * d.w + 3) & ~3;
        d.bgr.assign(static_cast<size_t>(d.pitch) * d.h + 1, 0xCD); // one guard byte
        SJpegImage out{d.w, d.h, d.bgr.data(), d.pitch};
        d.ok = dec.Decode(out);
        EXPECT_EQ(d.bgr.back(), 0xCD);
    }
    if (!d.ok)
        d.error = dec.GetError() != nullptr ? dec.GetError() : LastError();
    return d;
}

// Pixels equal to the reference's output, channel by channel.
::testing::AssertionResult SamePixels(const Decoded& d, const Image& ref)
{
    if (!d.ok)
        return ::testing::AssertionFailure() << "decode failed: " << d.error;
    if (d.w != ref.w || d.h != ref.h)
        return ::testing::AssertionFailure() << "size " << d.w << "x" << d.h << " vs " << ref.w << "x" << ref.h;
    for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x) {
            const uint8_t* o = &d.bgr[static_cast<size_t>(y) * d.pitch + 3 * x];
            uint8_t r, g, b;
            if (ref.channels == 3) {
                const uint8_t* p = &ref.px[(static_cast<size_t>(y) * ref.w + x) * 3];
                r = p[0], g = p[1], b = p[2];
            } else {
                r = g = b = ref.px[static_cast<size_t>(y) * ref.w + x];
            }
            if (o[2] != r || o[1] != g || o[0] != b)
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << ": ours " << int(o[2]) << "," << int(o[1]) << ","
                       << int(o[0]) << " reference " << int(r) << "," << int(g) << "," << int(b);
        }
    return ::testing::AssertionSuccess();
}

class JpegTest : public tvtest::TarvexTest {
protected:
    void SetUp() override
    {
        tvtest::TarvexTest::SetUp();
        if (!HaveTool("cjpeg") || !HaveTool("djpeg"))
            GTEST_SKIP() << "cjpeg/djpeg not installed (libjpeg-turbo-progs)";
    }
    // Encodes a generated picture with the given cjpeg options.
    std::string Encode(int w, int h, bool grey, const std::string& opts, const std::string& name)
    {
        std::string src = name + (grey ? ".pgm" : ".ppm");
        WritePnm(src, w, h, grey, static_cast<uint32_t>(w * 131 + h));
        std::string jpg = name + ".jpg";
        EXPECT_TRUE(Shell("cjpeg " + opts + " -outfile " + jpg + " " + src)) << opts;
        return jpg;
    }
    // With the widest vector code, with SSE2 only and without vector code.
    void ExpectMatchesReference(const std::string& jpg, const std::string& what)
    {
        std::string ref = jpg + ".pnm";
        ASSERT_TRUE(Shell("djpeg -nosmooth -dct int -pnm -outfile " + ref + " " + jpg)) << what;
        Image img;
        ASSERT_TRUE(ReadPnm(ref, &img)) << what;
        EXPECT_TRUE(SamePixels(DecodeFile(jpg), img)) << what;
        CJpegDecoder::EnableSimd(JPEG_SIMD_SSE2);
        EXPECT_TRUE(SamePixels(DecodeFile(jpg), img)) << what << " (SSE2)";
        CJpegDecoder::EnableSimd(FALSE);
        EXPECT_TRUE(SamePixels(DecodeFile(jpg), img)) << what << " (scalar)";
        CJpegDecoder::EnableSimd(TRUE);
    }
};

} // namespace

TEST_F(JpegTest, CorpusMatchesTheReferenceDecoder)
{
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{1, 1}, {7, 13}, {33, 17}, {250, 171}};
    const char* samplings[] = {"1x1", "2x1", "2x2", "4x1", "1x2"};
    const int qualities[] = {30, 75, 95, 100};
    int n = 0;
    for (const Size& sz : sizes)
        for (const char* smp : samplings)
            for (int q : qualities) {
                std::string opts = std::string("-baseline -quality ") + std::to_string(q) + " -sample " + smp;
                std::string what = opts + " " + std::to_string(sz.w) + "x" + std::to_string(sz.h);
                std::string jpg = Encode(sz.w, sz.h, false, opts, "c" + std::to_string(n++));
                ExpectMatchesReference(jpg, what);
            }
    const char* variants[] = {"-grayscale -quality 80",
                              "-grayscale -sample 2x2 -quality 80 -restart 2",
                              "-quality 85 -restart 1",
                              "-quality 85 -sample 2x2 -restart 3B",
                              "-quality 85 -sample 2x1 -restart 1 -optimize",
                              "-quality 60 -optimize",
                              "-quality 90 -sample 4x1 -optimize -restart 2"};
    for (const Size& sz : sizes)
        for (const char* v : variants) {
            std::string what = std::string(v) + " " + std::to_string(sz.w) + "x" + std::to_string(sz.h);
            std::string jpg = Encode(sz.w, sz.h, false, v, "v" + std::to_string(n++));
            ExpectMatchesReference(jpg, what);
        }
    // Greyscale source pictures too.
    ExpectMatchesReference(Encode(250, 171, true, "-quality 70", "g1"), "grey source");
    ExpectMatchesReference(Encode(33, 17, true, "-quality 70 -restart 1", "g2"), "grey source, restarts");
}

TEST_F(JpegTest, OtherEncoderMatchesTheReferenceDecoder)
{
    if (!HaveTool("convert"))
        GTEST_SKIP() << "ImageMagick not installed";
    WritePnm("im.ppm", 123, 77, false, 99);
    const char* opts[] = {"-quality 85", "-quality 92 -sampling-factor 4:2:0",
                          "-quality 50 -sampling-factor 4:2:2", "-quality 75 -colorspace Gray"};
    int n = 0;
    for (const char* o : opts) {
        std::string jpg = "im" + std::to_string(n++) + ".jpg";
        ASSERT_TRUE(Shell(std::string("convert im.ppm ") + o + " " + jpg)) << o;
        ExpectMatchesReference(jpg, o);
    }
}

TEST_F(JpegTest, OtherFrameTypesAreRefused)
{
    std::vector<std::string> files = {Encode(40, 30, false, "-progressive -quality 80", "prog")};
    WritePnm("a.ppm", 40, 30, false, 1);
    if (Shell("cjpeg -arithmetic -outfile arith.jpg a.ppm"))
        files.push_back("arith.jpg");
    // Extended sequential: 16-bit quantisation tables make cjpeg write SOF1.
    files.push_back(Encode(40, 30, false, "-quality 5", "ext"));
    for (const std::string& f : files) {
        std::vector<uint8_t> b = ReadAll(f);
        ASSERT_GT(b.size(), 4u);
        Decoded d = DecodeFile(f);
        EXPECT_EQ(d.ok, FALSE) << f;
        EXPECT_EQ(d.error, JPGERR_BASELINE) << f;
    }
}

TEST_F(JpegTest, ScrambledFileDecodesLikeThePlainFile)
{
    std::string jpg = Encode(61, 29, false, "-quality 80 -sample 2x2", "plain");
    std::vector<uint8_t> b = ReadAll(jpg);
    const char* mark = "XICRYPTEDFILE";
    b.insert(b.end(), mark, mark + 13);
    xDecrypt(b.data(), static_cast<uint32_t>(b.size()));
    WriteAll("scr.jpg", b);
    Decoded plain = DecodeFile(jpg), scr = DecodeFile("scr.jpg");
    ASSERT_EQ(plain.ok, TRUE) << plain.error;
    ASSERT_EQ(scr.ok, TRUE) << scr.error;
    EXPECT_EQ(plain.bgr, scr.bgr);
}

namespace {
int g_calls = 0;
void CountCall() { ++g_calls; }
} // namespace

TEST_F(JpegTest, LoadDataCallbackEveryThirtyTwoRows)
{
    std::string jpg = Encode(20, 200, false, "-quality 80 -sample 2x2", "tall");
    g_calls = 0;
    SetLoadDataCallback(CountCall);
    ASSERT_EQ(DecodeFile(jpg).ok, TRUE);
    // Once at the start, then after rows 48, 96, 144, 192 (16-row MCU rows).
    EXPECT_EQ(g_calls, 5);
    SetLoadDataCallback(nullptr);
}

TEST_F(JpegTest, DamagedFilesFailCleanly)
{
    std::string jpg = Encode(45, 37, false, "-quality 90 -sample 2x2 -restart 1", "dmg");
    const std::vector<uint8_t> good = ReadAll(jpg);
    ASSERT_EQ(DecodeFile(jpg).ok, TRUE);

    // Every truncation fails with a text (the end of the image needs the
    // last entropy bytes; only the EOI marker itself may go).
    for (size_t n = 0; n + 2 < good.size(); n += (n < 700 ? 1 : 7)) {
        WriteAll("t.jpg", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
        Decoded d = DecodeFile("t.jpg");
        EXPECT_EQ(d.ok, FALSE) << n;
        EXPECT_FALSE(d.error.empty()) << n;
    }
    // Byte changes anywhere: any result, but a failure always has a text,
    // and the vector and scalar paths agree even on absurd coefficients.
    uint32_t r = 7;
    for (int i = 0; i < 400; ++i) {
        std::vector<uint8_t> b = good;
        for (int k = 0; k < 1 + i % 3; ++k) {
            r = r * 1103515245u + 12345u;
            b[(r >> 8) % b.size()] = static_cast<uint8_t>(r >> 20);
        }
        WriteAll("c.jpg", b);
        Decoded d = DecodeFile("c.jpg");
        if (!d.ok) {
            EXPECT_FALSE(d.error.empty()) << i;
            continue;
        }
        CJpegDecoder::EnableSimd(FALSE);
        Decoded scalar = DecodeFile("c.jpg");
        CJpegDecoder::EnableSimd(JPEG_SIMD_SSE2);
        Decoded sse2 = DecodeFile("c.jpg");
        CJpegDecoder::EnableSimd(TRUE);
        EXPECT_EQ(scalar.ok, TRUE) << i;
        EXPECT_TRUE(d.bgr == scalar.bgr) << i;
        EXPECT_TRUE(sse2.bgr == scalar.bgr) << i;
    }
}

TEST_F(JpegTest, HeaderChecksBeforeAllocating)
{
    std::string jpg = Encode(16, 16, false, "-quality 80 -sample 1x1", "hdr");
    const std::vector<uint8_t> good = ReadAll(jpg);
    size_t sof = 0;
    for (size_t i = 0; i + 1 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    ASSERT_NE(sof, 0u);
    struct Case {
        int h, w;
        const char* error;
    };
    // Height at +5, width at +7 from the marker.
    const Case cases[] = {{65500, 65500, JPGERR_TOO_LARGE}, {65501, 16, JPGERR_SIZE},
                          {16, 0, JPGERR_SIZE},             {0, 16, JPGERR_SIZE}};
    for (const Case& c : cases) {
        std::vector<uint8_t> b = good;
        b[sof + 5] = static_cast<uint8_t>(c.h >> 8);
        b[sof + 6] = static_cast<uint8_t>(c.h);
        b[sof + 7] = static_cast<uint8_t>(c.w >> 8);
        b[sof + 8] = static_cast<uint8_t>(c.w);
        WriteAll("h.jpg", b);
        Decoded d = DecodeFile("h.jpg");
        EXPECT_EQ(d.ok, FALSE);
        EXPECT_EQ(d.error, c.error) << c.w << "x" << c.h;
    }
    // Not a JPEG, and a JPEG without the JFIF segment.
    WriteAll("x.jpg", {'B', 'M', 0, 0});
    EXPECT_EQ(DecodeFile("x.jpg").error, JPGERR_NOT_JPEG);
    std::vector<uint8_t> nojfif = {0xFF, 0xD8};
    nojfif.insert(nojfif.end(), good.begin() + 20, good.end()); // SOI + APP0 are 20 bytes
    WriteAll("y.jpg", nojfif);
    EXPECT_EQ(DecodeFile("y.jpg").error, JPGERR_NOT_JFIF);
}
