// The BMP picture type: hand-built files for the refusals, the colour table,
// row padding, run-length escapes, scrambling and hostile headers; files
// written by ImageMagick must load to ImageMagick's own decoding of them,
// and files we save must read back the same in ImageMagick.
#include "tarvex_test.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using tvtest::LastError;

namespace
{

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

struct BmpSpec {
    int32_t w = 1, h = 1;
    int bits = 8;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    uint32_t infoSize = 40;
    int paletteEntries = 256; // entries actually written
};

// Headers, a colour table whose entry i is (blue i, green 255 - i, red i / 2),
// then data as given.
Bytes MakeBmp(const BmpSpec& s, const Bytes& data)
{
    Bytes b(14 + 40, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 14, s.infoSize);
    Put32(b, 18, static_cast<uint32_t>(s.w));
    Put32(b, 22, static_cast<uint32_t>(s.h));
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<uint32_t>(s.bits));
    Put32(b, 30, s.compression);
    Put32(b, 46, s.colorsUsed);
    if (s.bits <= 8)
        for (int i = 0; i < s.paletteEntries; ++i) {
            b.push_back(static_cast<uint8_t>(i));
            b.push_back(static_cast<uint8_t>(255 - i));
            b.push_back(static_cast<uint8_t>(i / 2));
            b.push_back(0);
        }
    Put32(b, 10, static_cast<uint32_t>(b.size()));
    b.insert(b.end(), data.begin(), data.end());
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    return b;
}

void WriteAll(const std::string& name, const Bytes& bytes)
{
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadAll(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes Scrambled(Bytes b)
{
    static const char marker[] = "XICRYPTEDFILE";
    b.insert(b.end(), marker, marker + 13);
    for (auto& c : b)
        c ^= XCRYPT_KEY;
    return b;
}

bool HaveConvert() { return std::system("command -v convert >/dev/null 2>&1") == 0; }
bool Shell(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()) == 0; }

struct Ppm {
    int w = 0, h = 0;
    Bytes rgb;
};

bool ReadPpm(const std::string& name, Ppm& out)
{
    Bytes b = ReadAll(name);
    std::string text(b.begin(), b.end());
    int maxval = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &out.w, &out.h, &maxval, &consumed) != 3 || maxval != 255)
        return false;
    size_t at = static_cast<size_t>(consumed) + 1;
    size_t n = static_cast<size_t>(out.w) * out.h * 3;
    if (b.size() < at + n)
        return false;
    out.rgb.assign(b.begin() + static_cast<ptrdiff_t>(at), b.begin() + static_cast<ptrdiff_t>(at + n));
    return true;
}

// Every pixel of bm (read through GetPixel, so indexed bitmaps go through
// their palette) against the PPM.
void ExpectSamePixels(const CBitmap& bm, const Ppm& ppm, const std::string& what)
{
    ASSERT_EQ(bm.width, ppm.w) << what;
    ASSERT_EQ(bm.height, ppm.h) << what;
    int bad = 0;
    for (int y = 0; y < ppm.h; ++y)
        for (int x = 0; x < ppm.w; ++x) {
            TRGBA c(0, 0, 0);
            ASSERT_TRUE(bm.GetPixel(x, y, &c));
            const uint8_t* p = &ppm.rgb[(static_cast<size_t>(y) * ppm.w + x) * 3];
            if ((c.r != p[0] || c.g != p[1] || c.b != p[2]) && bad++ < 5)
                ADD_FAILURE() << what << " pixel " << x << "," << y << ": " << int(c.r) << " " << int(c.g)
                              << " " << int(c.b) << " expected " << int(p[0]) << " " << int(p[1]) << " "
                              << int(p[2]);
        }
    EXPECT_EQ(bad, 0) << what;
}

class BmpTest : public tvtest::TarvexTest
{
  protected:
    // Loads bytes written to a file through the type; the error text on failure.
    std::string LoadBytes(const Bytes& bytes, CBitmap& bm)
    {
        WriteAll("t.bmp", bytes);
        if (type->Load("t.bmp", &bm, nullptr))
            return "";
        return type->GetError() != nullptr ? type->GetError() : LastError();
    }
    void SetUp() override
    {
        TarvexTest::SetUp();
        type = XNEW(CBMPPic); // registers in the globals' list
        ASSERT_NE(type, nullptr);
    }
    void TearDown() override
    {
        XDELETE(type);
        TarvexTest::TearDown();
    }
    CBMPPic* type = nullptr;
};

TEST_F(BmpTest, RefusedHeaders)
{
    BmpSpec four;
    four.bits = 4;
    four.paletteEntries = 16;
    Bytes notBm = MakeBmp(BmpSpec{}, Bytes(4, 0));
    notBm[0] = 'P';
    BmpSpec core;
    core.infoSize = 12;
    BmpSpec v5;
    v5.infoSize = 124;
    BmpSpec rle24;
    rle24.bits = 24;
    rle24.compression = 1;
    BmpSpec bitfields;
    bitfields.bits = 16;
    bitfields.compression = 3;
    BmpSpec bits12;
    bits12.bits = 12;
    BmpSpec zeroW;
    zeroW.w = 0;
    BmpSpec hugeW;
    hugeW.w = 0x7FFFFFFF;
    BmpSpec minH;
    minH.h = INT32_MIN;
    BmpSpec rleTopDown;
    rleTopDown.compression = 1;
    rleTopDown.h = -2;
    BmpSpec big; // claims far more pixel data than the file holds
    big.w = 4000;
    big.h = 4000;
    BmpSpec bigRle;
    bigRle.w = 40000;
    bigRle.h = 40000;
    bigRle.compression = 1;
    Bytes shortTable = MakeBmp(BmpSpec{}, {});
    shortTable.resize(100);
    struct Case {
        const char* what;
        Bytes bytes;
        const char* text;
    } cases[] = {
        {"4-bit", MakeBmp(four, Bytes(4, 0)), "BMP - Unsupported number of colors (<256)"},
        {"not BM", notBm, "BMP - Not a (windows) bitmap file"},
        {"OS/2 core header", MakeBmp(core, Bytes(4, 0)),
         "BMP - Unsupported bitmap file format. (BITMAPCOREHEADER)"},
        {"V5 header", MakeBmp(v5, Bytes(4, 0)), "BMP - Unsupported bitmap file format."},
        {"24-bit run-length", MakeBmp(rle24, Bytes(4, 0)),
         "BMP - There is no support for compressed bitmaps which aren't 8bit"},
        {"bit fields", MakeBmp(bitfields, Bytes(4, 0)),
         "BMP - There is no support for compressed bitmaps which aren't 8bit"},
        {"12 bits", MakeBmp(bits12, Bytes(4, 0)), "BMP - Unsupported number of bits per pixel"},
        {"zero width", MakeBmp(zeroW, Bytes(4, 0)), "BMP - Invalid image size"},
        {"huge width", MakeBmp(hugeW, Bytes(4, 0)), "BMP - Invalid image size"},
        {"height INT32_MIN", MakeBmp(minH, Bytes(4, 0)), "BMP - Invalid image size"},
        {"top-down run-length", MakeBmp(rleTopDown, Bytes{0, 1}), "BMP - Invalid image size"},
        {"data beyond the file", MakeBmp(big, Bytes(64, 0)), "BMP - Image size does not fit the file size"},
        {"run-length beyond the file", MakeBmp(bigRle, Bytes{0, 1}),
         "BMP - Image size does not fit the file size"},
        {"short header", Bytes{'B', 'M', 0, 0}, "BMP - Failed to read file header"},
        {"short colour table", shortTable, "BMP - Failed to read colortable"},
    };
    for (const auto& c : cases) {
        CBitmap bm;
        EXPECT_EQ(LoadBytes(c.bytes, bm), c.text) << c.what;
        EXPECT_EQ(bm.data, nullptr) << c.what;
    }
}

TEST_F(BmpTest, ColourTableAndPadding)
{
    // colours-used 0 means a full table: index 200 must come from entry 200.
    // 3 pixels of 8 bits: one padding byte per row.
    BmpSpec s;
    s.w = 3;
    s.h = 2;
    Bytes data = {10, 200, 255, 0xEE, 1, 2, 3, 0xEE}; // bottom row first
    CBitmap bm;
    ASSERT_EQ(LoadBytes(MakeBmp(s, data), bm), "");
    EXPECT_EQ(bm.bits, 8);
    EXPECT_EQ(bm.trueColor, 0);
    ASSERT_NE(bm.palette, nullptr);
    EXPECT_EQ(bm.palette->colors[200], TRGBA(100, 55, 200, 255));
    EXPECT_EQ(bm.palette->colors[255], TRGBA(127, 0, 255, 255));
    EXPECT_EQ(bm.data[0], 1); // top row = last in the file
    EXPECT_EQ(bm.data[2], 3);
    EXPECT_EQ(bm.data[bm.pitch + 1], 200);
    EXPECT_EQ(bm.bounds.right, 2);
    EXPECT_EQ(bm.bounds.bottom, 1);

    // 1 pixel of 24 bits: 3-byte rows, 1 padding byte each; the last row's
    // padding may be missing. Top-down when the height is negative.
    BmpSpec t;
    t.bits = 24;
    t.h = 3;
    Bytes rows = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE, 7, 8, 9};
    ASSERT_EQ(LoadBytes(MakeBmp(t, rows), bm), "");
    EXPECT_EQ(bm.bits, 24);
    TRGBA c(0, 0, 0);
    ASSERT_TRUE(bm.GetPixel(0, 0, &c));
    EXPECT_EQ(c, TRGBA(9, 8, 7, 0));
    ASSERT_TRUE(bm.GetPixel(0, 2, &c));
    EXPECT_EQ(c, TRGBA(3, 2, 1, 0));
    t.h = -3;
    ASSERT_EQ(LoadBytes(MakeBmp(t, rows), bm), "");
    EXPECT_EQ(bm.height, 3);
    ASSERT_TRUE(bm.GetPixel(0, 0, &c));
    EXPECT_EQ(c, TRGBA(3, 2, 1, 0));

    // 32 bits: blue, green, red, unused.
    t.bits = 32;
    t.h = 1;
    ASSERT_EQ(LoadBytes(MakeBmp(t, {30, 20, 10, 99}), bm), "");
    ASSERT_TRUE(bm.GetPixel(0, 0, &c));
    EXPECT_EQ(c, TRGBA(10, 20, 30, 0));

    // 16 bits: 5-5-5 words.
    t.bits = 16;
    ASSERT_EQ(LoadBytes(MakeBmp(t, {0x1F, 0x7C, 0, 0}), bm), "");
    ASSERT_TRUE(bm.GetPixel(0, 0, &c));
    EXPECT_EQ(c.r, 0xF8);
    EXPECT_EQ(c.g, 0);
    EXPECT_EQ(c.b, 0xF8);
}

TEST_F(BmpTest, RunLengthEscapes)
{
    BmpSpec s;
    s.w = 6;
    s.h = 4;
    s.compression = 1;
    Bytes rle = {
        3, 7,             // bottom row: 7 7 7
        0, 3, 1, 2, 3, 0, // absolute run of 3 with its padding byte
        0, 0,             // end of row
        0, 2, 2, 1,       // delta: 2 right, 1 up (skips row 1 from the bottom)
        9, 5,             // run of 9 from column 2: clipped at the width
        0, 0,             // end of row
        0, 4, 1, 2, 3, 4, // absolute run of 4 (even: no padding)
        0, 1,             // end of picture
        0, 0, 9, 9,       // never read
    };
    CBitmap bm;
    ASSERT_EQ(LoadBytes(MakeBmp(s, rle), bm), "");
    auto row = [&](int y) { return Bytes(bm.data + y * bm.pitch, bm.data + y * bm.pitch + 6); };
    EXPECT_EQ(row(3), (Bytes{7, 7, 7, 1, 2, 3}));
    EXPECT_EQ(row(2), (Bytes{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(row(1), (Bytes{0, 0, 5, 5, 5, 5}));
    EXPECT_EQ(row(0), (Bytes{1, 2, 3, 4, 0, 0}));

    // Runs and deltas past the image, a truncated absolute run.
    Bytes wild = {0, 2, 255, 255, 0, 200, 1, 2};
    ASSERT_EQ(LoadBytes(MakeBmp(s, wild), bm), "");
    Bytes cut = {0, 5, 1, 2};
    EXPECT_EQ(LoadBytes(MakeBmp(s, cut), bm), "Error reading file");
    EXPECT_EQ(bm.data, nullptr);
}

TEST_F(BmpTest, ScrambledCopyLoadsTheSamePixels)
{
    BmpSpec s;
    s.w = 5;
    s.h = 3;
    s.bits = 24;
    Bytes data;
    for (int i = 0; i < 3 * 16; ++i)
        data.push_back(static_cast<uint8_t>(i * 37 + 11));
    Bytes plain = MakeBmp(s, data);
    CBitmap a, b;
    ASSERT_EQ(LoadBytes(plain, a), "");
    ASSERT_EQ(LoadBytes(Scrambled(plain), b), "");
    EXPECT_TRUE(type->scrambled);
    ASSERT_EQ(a.height * a.pitch, b.height * b.pitch);
    EXPECT_EQ(std::memcmp(a.data, b.data, static_cast<size_t>(a.height * a.pitch)), 0);

    // The same through CBitmap::Load and an 8-bit run-length file.
    s.bits = 8;
    s.compression = 1;
    Bytes rle = MakeBmp(s, {5, 9, 0, 0, 0, 3, 4, 5, 6, 0, 0, 1});
    WriteAll("p.bmp", rle);
    WriteAll("s.bmp", Scrambled(rle));
    ASSERT_TRUE(a.Load("p.bmp", 0));
    ASSERT_TRUE(b.Load("s.bmp", 0));
    EXPECT_EQ(std::memcmp(a.data, b.data, static_cast<size_t>(a.height * a.pitch)), 0);
    EXPECT_EQ(b.data[b.pitch * 2 + 4], 9);
}

TEST_F(BmpTest, LoadsWhatImageMagickWrites)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick convert not installed";
    struct Case {
        const char* name;
        const char* args;
        int bits;
    } cases[] = {
        {"p8", "-size 21x19 -seed 3 plasma: -colors 100 -type Palette -compress None BMP3:", 8},
        {"rle", "-size 21x19 -seed 3 plasma: -colors 100 -type Palette -compress RLE BMP3:", 8},
        {"rle_wide", "-size 301x5 gradient:red-blue -type Palette -compress RLE BMP3:", 8},
        {"t24", "-size 13x7 -seed 5 plasma: -type TrueColor BMP3:", 24},
        {"t24_odd", "-size 1x5 -seed 6 plasma: -type TrueColor BMP3:", 24},
        {"t32",
         "-size 11x6 -seed 7 plasma: -alpha set -channel A -fx 0.5 +channel -define bmp3:alpha=true BMP3:",
         32},
    };
    for (const auto& c : cases) {
        std::string bmp = std::string(c.name) + ".bmp", ppm = std::string(c.name) + ".ppm";
        ASSERT_TRUE(Shell(std::string("convert ") + c.args + bmp)) << c.name;
        ASSERT_TRUE(Shell("convert " + bmp + " -depth 8 " + ppm)) << c.name;
        Ppm ref;
        ASSERT_TRUE(ReadPpm(ppm, ref)) << c.name;
        CBitmap bm;
        ASSERT_TRUE(bm.Load(bmp.c_str(), 0)) << c.name << ": " << LastError();
        EXPECT_EQ(bm.bits, c.bits) << c.name;
        ExpectSamePixels(bm, ref, c.name);
    }
}

TEST_F(BmpTest, ImageMagickReadsWhatWeSave)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick convert not installed";
    // 8-bit indexed with a palette, 24-bit, and 16/32-bit sources written
    // as 24-bit; odd widths so that rows need padding.
    CPalette pal;
    for (int i = 0; i < 256; ++i)
        pal.colors[i].Set(static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                          static_cast<uint8_t>(i * 7));
    CBitmap b8, b16, b24, b32;
    ASSERT_TRUE(b8.CreateIndex(7, 5, 8, &pal, 0));
    ASSERT_TRUE(b16.CreateRGB(9, 4, 16, 5, 6, 5, 11, 5, 0, 0));
    ASSERT_TRUE(b24.CreateRGB(5, 3, 24, 8, 8, 8, 0, 8, 16, 0));
    ASSERT_TRUE(b32.CreateRGB(3, 6, 32, 8, 8, 8, 0, 8, 16, 0));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            b8.data[y * b8.pitch + x] = static_cast<uint8_t>(x * 31 + y * 17);
    CBitmap* rgb[] = {&b16, &b24, &b32};
    for (CBitmap* b : rgb)
        for (int y = 0; y < b->height; ++y)
            for (int x = 0; x < b->width; ++x) {
                TRGBA c(static_cast<uint8_t>(x * 40), static_cast<uint8_t>(y * 50),
                        static_cast<uint8_t>(x * y * 9));
                ASSERT_TRUE(b->PutPixel(x, y, &c));
            }
    struct Case {
        const char* name;
        CBitmap* bm;
    } cases[] = {{"s8.bmp", &b8}, {"s16.bmp", &b16}, {"s24.bmp", &b24}, {"s32.bmp", &b32}};
    for (const auto& c : cases) {
        ASSERT_TRUE(c.bm->Save(c.name, nullptr, nullptr, nullptr, 0)) << c.name << ": " << LastError();
        std::string ppm = std::string(c.name) + ".ppm";
        ASSERT_TRUE(Shell(std::string("convert ") + c.name + " -depth 8 " + ppm)) << c.name;
        Ppm ref;
        ASSERT_TRUE(ReadPpm(ppm, ref)) << c.name;
        ExpectSamePixels(*c.bm, ref, c.name);
        // And our own reader agrees.
        CBitmap back;
        ASSERT_TRUE(back.Load(c.name, 0)) << c.name;
        ExpectSamePixels(back, ref, std::string(c.name) + " reloaded");
    }

    // A sub-rectangle: columns 2..4, rows 1..3 of the 8-bit bitmap.
    CRect area(2, 1, 4, 3);
    ASSERT_TRUE(b8.Save("area.bmp", nullptr, nullptr, &area, 0));
    ASSERT_TRUE(Shell("convert area.bmp -depth 8 area.ppm"));
    Ppm ref;
    ASSERT_TRUE(ReadPpm("area.ppm", ref));
    CBitmap part;
    ASSERT_TRUE(part.CreateIndex(3, 3, 8, &pal, 0));
    ASSERT_TRUE(part.Blt(&b8, 2, 1, 0, 0, 3, 3, 0, 0, 0));
    ExpectSamePixels(part, ref, "area");
}

TEST_F(BmpTest, SaveFailures)
{
    CBitmap empty;
    EXPECT_FALSE(empty.Save("e.bmp", nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(LastError(), "BMP - Feature isnt implemented yet");
    CBitmap b;
    ASSERT_TRUE(b.CreateIndex(2, 2, 4, nullptr, 0));
    EXPECT_FALSE(b.Save("four.bmp", nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(LastError(), "BMP - Feature isnt implemented yet");
    ASSERT_TRUE(b.CreateIndex(2, 2, 8, nullptr, 0));
    CRect outside(5, 5, 9, 9);
    EXPECT_FALSE(b.Save("o.bmp", nullptr, nullptr, &outside, 0));
    WriteAll("dir", Bytes{1});
    EXPECT_FALSE(b.Save("dir/x.bmp", nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(LastError(), "BMP - Unable to open file");
    // A file opened for reading only cannot take the header.
    WriteAll("ro.bmp", Bytes{1});
    CFile f;
    ASSERT_TRUE(f.Open("ro.bmp", XFILE_READ));
    EXPECT_FALSE(type->Save(&f, &b, nullptr, nullptr, 0));
    EXPECT_STREQ(type->GetError(), "BMP - Failed to write the file header");
    f.Close();
    // Numbered names take the type's extension.
    ASSERT_TRUE(b.Save("shot.png.bmp", type, nullptr, nullptr, XSAVE_NUMBERED));
    CBitmap missing;
    EXPECT_FALSE(missing.Load("nothere.bmp", 0));
    EXPECT_EQ(LastError(), "BMP - Unable to open \"nothere.bmp\"");
}

} // namespace
