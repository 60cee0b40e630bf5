// Fonts: the layout (sizes, wrapping, single lines, centring, control codes,
// line limits) on a small made-up font, drawing and clipping into bitmaps,
// colour variants, the XBF file (round trip, damaged files), and golden
// hashes of text drawn with the committed DejaVu Sans font.
#include "tarvex_test.h"

#include <tarvex/font.h>
#include <tarvex/pictype.h>
#include <tarvex/xiff.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const std::string kFontFile = std::string(TARVEX_SOURCE_DIR) + "/data/fonts/dejavusans16.xbf";

// Control codes of the made-up font.
constexpr char kRight10[] = "\x01";  // move right 10
constexpr char kLeft3[] = "\x02";    // move left 3
constexpr char kDown5[] = "\x03";    // move down 5
constexpr char kUp2[] = "\x04";      // move up 2
constexpr char kRightN[] = "\x05";   // move right by the next byte
constexpr char kNewLineN[] = "\x06"; // new line, advance from the next byte

class FontTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        bmpType = XNEW(CBMPPic); // registers itself: fonts store their picture as BMP
    }
    void TearDown() override
    {
        XDELETE(bmpType);
        TarvexTest::TearDown();
    }

    // A font of height 10 and spacing 1 whose glyphs 'a'..'z' are 5 pixels
    // wide (6 with the spacing); the blank moves 4, the new line 12. Each
    // glyph is a solid block of grey 200 with a black column at its right.
    void MakeFont(CFont& font, CBitmap& picture)
    {
        ASSERT_TRUE(picture.CreateRGB(1 + 26 * 5, 10, 24, 8, 8, 8, 16, 8, 0, 0));
        TRGBA ink(200, 200, 200);
        for (int i = 0; i < 26; ++i)
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 4; ++x)
                    picture.PutPixel(1 + i * 5 + x, y, &ink);
        TCharData list[27];
        for (int i = 0; i < 26; ++i)
            list[i] = TCharData{static_cast<int16_t>(1 + i * 5), 0, 5};
        list[26] = TCharData{0, 0, -1};
        ASSERT_TRUE(font.SetFont(&picture, list, 'a', 10, 1));
        ASSERT_TRUE(font.SetBasic(1, XCHAR_RIGHT, 10));
        ASSERT_TRUE(font.SetBasic(2, XCHAR_LEFT, 3));
        ASSERT_TRUE(font.SetBasic(3, XCHAR_DOWN, 5));
        ASSERT_TRUE(font.SetBasic(4, XCHAR_UP, 2));
        ASSERT_TRUE(font.SetCtrlCode(5, XCHAR_RIGHT));
        ASSERT_TRUE(font.SetCtrlCode(6, XCHAR_NEWLINE));
    }

    CBMPPic* bmpType = nullptr;
};

bool Make24(CBitmap& b, int w, int h) { return b.CreateRGB(w, h, 24, 8, 8, 8, 16, 8, 0, 0) == TRUE; }

// The smallest rectangle holding every pixel that differs from (0, 0, 0);
// empty (right < left) when there is none.
CRect Ink(const CBitmap& b)
{
    CRect r(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            TRGBA c(0, 0, 0);
            b.GetPixel(x, y, &c);
            if (c.r != 0 || c.g != 0 || c.b != 0) {
                r.left = std::min(r.left, x);
                r.top = std::min(r.top, y);
                r.right = std::max(r.right, x);
                r.bottom = std::max(r.bottom, y);
            }
        }
    return r;
}

// FNV-1a over the pixel bytes of each line (padding excluded).
uint32_t Hash(const CBitmap& b)
{
    uint32_t h = 2166136261u;
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t i = 0; i < b.width * b.bytesPerPixel; ++i) {
            h ^= b.data[y * b.pitch + i];
            h *= 16777619u;
        }
    return h;
}

std::string Hex(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        char buf[8];
        std::snprintf(buf, sizeof buf, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
        out += buf;
    }
    return out;
}

// ---------------------------------------------------------------- layout

TEST_F(FontTest, SizesOfTexts)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    const std::string moveUp12 = std::string(6, kUp2[0]);
    struct Case {
        std::string text;
        int16_t w;
        int32_t flags;
        int32_t width, height;
    } cases[] = {
        {"", -1, 0, 0, 10},
        {"a b", -1, 0, 16, 10},                    // 6 + 4 + 6
        {"abc def", 40, 0, 40, 10},                // exactly as wide as the box
        {"abc def", 39, 0, 22, 22},                // "def" moves to line 2
        {"abcdefghij", 30, 0, 60, 10},             // wider than the box: stays, clipped
        {"ab abcdefghij", 30, 0, 60, 22},          // the long word starts its own line
        {"ab abcdefghij cd", 30, 0, 64, 34},       // and the next word moves on
        {"abc def", 30, XTEXT_SINGLELINE, 30, 10}, // no room: the width takes the box's rest
        {"abc def", 30, XTEXT_SINGLELINE | XTEXT_NOROOM, 22, 10},
        {"abc def ghi", 0, 0, 22, 34}, // an empty box: one word per line
        {"ab\ncd", -1, 0, 12, 22},
        {"ab\ncdef\ng", 100, 0, 24, 34},
        {std::string("a") + kRight10 + "b", -1, 0, 22, 10},
        {std::string("a") + kLeft3 + "b", -1, 0, 9, 10},
        {std::string("a") + kDown5 + "b", -1, 0, 12, 15},
        {std::string("a") + kUp2 + "b", -1, 0, 12, 8},
        {std::string("a") + kRightN + "\x07" + "b", -1, 0, 19, 10},
        {std::string("a") + kNewLineN + "\x20" + "b", -1, 0, 6, 42},
        // A control code at the very end takes no parameter from past the text.
        {std::string("a") + kRightN, -1, 0, 6, 10},
        {std::string("a") + kNewLineN, -1, 0, 6, 10},
        // Byte 255 has no entry and is skipped.
        {"a\xff"
         "b",
         -1, 0, 12, 10},
        // Negative sizes clamp to 0 instead of spilling into the other half.
        {"ab" + moveUp12, -1, 0, 12, 0},
        {std::string(11000, 'a'), -1, 0, 65535, 10},
    };
    for (const auto& c : cases) {
        uint32_t size = font.GetTextSize(c.text.c_str(), c.w, -1, c.flags);
        EXPECT_EQ(size & 0xFFFF, static_cast<uint32_t>(c.width)) << Hex(c.text) << " in " << c.w;
        EXPECT_EQ(size >> 16, static_cast<uint32_t>(c.height)) << Hex(c.text) << " in " << c.w;
        EXPECT_EQ(font.GetTextWidth(c.text.c_str(), c.w, -1, c.flags), c.width);
        EXPECT_EQ(font.GetTextHeight(c.text.c_str(), c.w, -1, c.flags), c.height);
    }
}

TEST_F(FontTest, TextInfoOfLayouts)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    struct Case {
        std::string text;
        int16_t x, y, w;
        int32_t flags;
        TTextInfo want; // endX, endY, width, height, lastLineWidth, lastIndex, lastLineStart
    } cases[] = {
        // Pen after "a b": width(a) + spacing + 4 + width(b) + spacing.
        {"a b", 0, 0, 100, 0, {16, 0, 16, 10, 16, 2, 0}},
        {"a b", 7, 3, 100, 0, {23, 3, 16, 10, 16, 2, 0}},
        {"abc def", 0, 0, 39, 0, {18, 12, 22, 22, 18, 6, 4}},
        // Ending in blanks: the blanks count.
        {"ab  ", 0, 0, 100, 0, {20, 0, 20, 10, 20, 3, 0}},
        // A single line cut in "def": "d" is the last character that fits whole.
        {"abc def", 0, 0, 30, XTEXT_SINGLELINE, {34, 0, 30, 10, 30, 4, 0}},
        // Centred: (100 - 16) / 2 = 42 of room.
        {"a b", 0, 0, 100, XTEXT_CENTERH, {58, 0, 16, 10, 16, 2, 0}},
        // Each line centred on its own: line 2 "cd" starts at (40 - 12) / 2.
        {"ab ab\ncd", 0, 0, 40, XTEXT_CENTERH, {26, 12, 28, 22, 12, 7, 6}},
        {"ab\ncd", 0, 0, 100, 0, {12, 12, 12, 22, 12, 4, 3}},
    };
    for (const auto& c : cases) {
        TTextInfo info;
        std::memset(&info, 0x55, sizeof info);
        uint32_t size = font.Text(XTEXT_MEASURE, c.text.c_str(), c.x, c.y, c.w, -1, nullptr, &info, c.flags);
        const TTextInfo& w = c.want;
        std::string where = Hex(c.text) + " flags " + std::to_string(c.flags);
        EXPECT_EQ(info.endX, w.endX) << where;
        EXPECT_EQ(info.endY, w.endY) << where;
        EXPECT_EQ(info.width, w.width) << where;
        EXPECT_EQ(info.height, w.height) << where;
        EXPECT_EQ(info.lastLineWidth, w.lastLineWidth) << where;
        EXPECT_EQ(info.lastIndex, w.lastIndex) << where;
        EXPECT_EQ(info.lastLineStart, w.lastLineStart) << where;
        EXPECT_EQ(size, static_cast<uint32_t>(w.height) << 16 | static_cast<uint32_t>(w.width)) << where;
    }
}

TEST_F(FontTest, LineIndexOfALineLimit)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    // Lines in a box 30 wide: "ab cd " (0-5), "ef gh " (6-11), "ij" (12-13).
    const char* text = "ab cd ef gh ij";
    struct Case {
        const char* text;
        int32_t maxLines;
        int16_t result, lastIndex, lineStart;
        size_t wraps; // "WORDWRAP" traces
    } cases[] = {
        {text, 1, 1, 5, 0, 1},     {text, 2, 1, 11, 6, 2},    {text, 3, 0, 0, 0, 2}, {text, 9, 0, 0, 0, 2},
        {"ab\ncd", 1, 1, 2, 0, 0}, {"ab\ncd", 2, 0, 0, 0, 0}, {"", 1, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        tvtest::Trace().clear();
        xSetDprintfOutput(tvtest::CollectTrace);
        TTextInfo info{};
        int16_t r = font.GetLineIndex(c.text, 30, -1, c.maxLines, &info, 0);
        xSetDprintfOutput(nullptr);
        EXPECT_EQ(r, c.result) << c.text << " / " << c.maxLines;
        EXPECT_EQ(info.lastIndex, c.lastIndex) << c.text << " / " << c.maxLines;
        EXPECT_EQ(info.lastLineStart, c.lineStart) << c.text << " / " << c.maxLines;
        size_t wraps = 0;
        for (size_t at = tvtest::Trace().find("WORDWRAP\n"); at != std::string::npos;
             at = tvtest::Trace().find("WORDWRAP\n", at + 1))
            ++wraps;
        EXPECT_EQ(wraps, c.wraps) << c.text << " / " << c.maxLines;
    }
}

TEST_F(FontTest, TableOperations)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    EXPECT_EQ(font.lineAdvance, 12);
    EXPECT_EQ(font.chars[10].type, XCHAR_NEWLINE);
    EXPECT_EQ(font.chars[32].type, XCHAR_RIGHT);
    EXPECT_EQ(font.chars[32].value, 4);
    EXPECT_EQ(font.chars[0].type, XCHAR_END);
    EXPECT_EQ(font.chars[uint8_t('z')].width, 5);
    EXPECT_EQ(font.chars['z' + 1].width, 0);

    // 255 is the parameter marker, and byte 255 has no entry.
    EXPECT_FALSE(font.SetBasic('a', XCHAR_RIGHT, 255));
    EXPECT_EQ(font.chars[uint8_t('a')].type, XCHAR_GLYPH);
    EXPECT_FALSE(font.SetBasic(255, XCHAR_RIGHT, 3));
    EXPECT_FALSE(font.SetCtrlCode(255, XCHAR_RIGHT));
    // A control entry keeps its glyph rectangle.
    ASSERT_TRUE(font.SetBasic('b', XCHAR_NEWLINE, 20));
    EXPECT_EQ(font.lineAdvance, 20);
    EXPECT_EQ(font.chars[uint8_t('b')].x, 6);
    EXPECT_EQ(font.chars[uint8_t('b')].width, 5);
    ASSERT_TRUE(font.SetCtrlCode('c', XCHAR_DOWN));
    EXPECT_EQ(font.chars[uint8_t('c')].value, 255);

    // The first code must have an entry.
    for (int16_t first : {-1, 255, 300}) {
        EXPECT_FALSE(font.SetFont(&picture, nullptr, first, 10, 0)) << first;
        EXPECT_EQ(font.image, &picture) << "a refused SetFont keeps the font";
    }
    TCharData one[] = {{1, 0, 5}, {0, 0, -1}};
    ASSERT_TRUE(font.SetFont(&picture, one, 254, 10, 0));
    EXPECT_EQ(font.chars[254].width, 5);
    EXPECT_EQ(font.lineAdvance, 12);

    EXPECT_FALSE(font.Create(8, 8, 8, nullptr));
    EXPECT_EQ(glb->error.GetErrCode(), XERR_NOT_IMPLEMENTED);
}

// ---------------------------------------------------------------- drawing

TEST_F(FontTest, DrawingStaysInTheBox)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    ASSERT_TRUE(font.CreateColor(TRGBA(255, 255, 255)));
    TRGBA white(255, 255, 255);
    struct Case {
        const char* text;
        int16_t x, y, w, h;
        int32_t flags;
        CRect ink; // where the glyphs land
    } cases[] = {
        // Two lines at (10, 5); each glyph is 4 pixels of ink plus a gap.
        {"abc def", 10, 5, 30, 40, 0, CRect(10, 5, 25, 26)},
        // The long word on its own line, cut at the box's right edge (41).
        {"ab abcdefghij", 10, 5, 32, 40, 0, CRect(10, 5, 41, 26)},
        // One line: "def" is cut at the right edge, nothing after it drawn.
        {"abc def ghi", 10, 5, 30, 40, XTEXT_SINGLELINE, CRect(10, 5, 39, 14)},
        // The box's bottom cuts the glyphs of the first line; line 2 is out.
        {"abc def", 10, 5, 30, 6, 0, CRect(10, 5, 25, 10)},
        // Text block of 10 in a box 40 high: down by 15.
        {"abc", 10, 5, 30, 40, XTEXT_CENTERV, CRect(10, 20, 25, 29)},
        // Measured as a single line when drawn as one: down by 15, not 9.
        {"abc def", 10, 5, 30, 40, XTEXT_CENTERV | XTEXT_SINGLELINE, CRect(10, 20, 39, 29)},
        // Centred: "abc" is 18 wide, 6 of room on each side.
        {"abc", 10, 5, 30, 40, XTEXT_CENTERH, CRect(16, 5, 31, 14)},
        // Pen moves above the box: that glyph is not drawn.
        {"\x04"
         "ab",
         10, 5, 30, 40, 0, CRect(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN)},
        // Width -1: the bitmap's width and a single line, cut by the bitmap.
        {"abc def ghi", 40, 0, -1, -1, 0, CRect(40, 0, 77, 9)},
    };
    for (const auto& c : cases) {
        CBitmap dest;
        ASSERT_TRUE(Make24(dest, 80, 60));
        font.Text(&dest, c.text, c.x, c.y, c.w, c.h, &white, nullptr, c.flags);
        CRect ink = Ink(dest);
        EXPECT_TRUE(ink.IsEqual(&c.ink)) << Hex(c.text) << " flags " << c.flags << ": ink " << ink.left << ","
                                         << ink.top << " - " << ink.right << "," << ink.bottom;
    }
}

TEST_F(FontTest, ColourVariants)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    // Without a variant the font from SetFont has nothing to draw with.
    CBitmap dest;
    ASSERT_TRUE(Make24(dest, 40, 12));
    TRGBA red(255, 0, 0);
    EXPECT_EQ(font.Text(&dest, "ab", 0, 0, 40, 12, &red, nullptr, 0), (10u << 16) | 12u);
    EXPECT_EQ(Ink(dest).right, INT32_MIN);

    ASSERT_TRUE(font.CreateColor(red));
    EXPECT_FALSE(font.CreateColor(TRGBA(255, 0, 0, 77))) << "alpha does not make another colour";
    EXPECT_EQ(font.colourFonts.GetNumNodes(), 1);
    ASSERT_TRUE(font.CreateColor(TRGBA(0, 0, 0)));
    EXPECT_EQ(font.colourFonts.GetNumNodes(), 2);

    // Intensity 200 tinted: 255 * 200 / 255.
    font.Text(&dest, "ab", 0, 0, 40, 12, &red, nullptr, 0);
    TRGBA c(1, 1, 1);
    ASSERT_TRUE(dest.GetPixel(0, 0, &c));
    EXPECT_TRUE(c == TRGBA(200, 0, 0)) << int(c.r) << " " << int(c.g) << " " << int(c.b);
    ASSERT_TRUE(dest.GetPixel(4, 0, &c));
    EXPECT_TRUE(c == TRGBA(0, 0, 0)) << "the glyph's black column is transparent";

    // Black text is drawn (as the nearest colour distinct from the key).
    CBitmap white;
    ASSERT_TRUE(Make24(white, 40, 12));
    TRGBA w(255, 255, 255), black(0, 0, 0);
    white.Fill(&w);
    font.Text(&white, "ab", 0, 0, 40, 12, &black, nullptr, 0);
    ASSERT_TRUE(white.GetPixel(1, 1, &c));
    EXPECT_LE(c.r + c.g + c.b, 1);
    ASSERT_TRUE(white.GetPixel(4, 1, &c));
    EXPECT_TRUE(c == w);

    // Rectangles beyond the picture (SetFont takes them as given) tint as background.
    CFont wide;
    TCharData far[] = {{1, 0, 5}, {1000, 0, 5}, {0, 0, -1}};
    ASSERT_TRUE(wide.SetFont(&picture, far, 'a', 10, 1));
    ASSERT_TRUE(wide.CreateColor(red));
    SFontColor* v = wide.FindColor(red);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->bitmap->width, 1005);
    ASSERT_TRUE(v->bitmap->GetPixel(1002, 3, &c));
    EXPECT_TRUE(c == TRGBA(0, 0, 0));
    CBitmap small;
    ASSERT_TRUE(Make24(small, 20, 12));
    wide.Text(&small, "ab", 0, 0, 20, 12, &red, nullptr, 0);
    EXPECT_EQ(Ink(small).right, 3) << "only the glyph inside the picture has ink";

    // A font without a picture cannot be tinted.
    CFont empty;
    EXPECT_FALSE(empty.CreateColor(red));
}

TEST_F(FontTest, DestinationsWithoutPixels)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    TTextInfo info{};
    // The screen and its GUI layer join with the screen module.
    EXPECT_EQ(font.Text(XTEXT_SCREEN, "ab", 0, 0, 100, 20, nullptr, &info, 0), 0u);
    EXPECT_NE(tvtest::LastError().find("no screen"), std::string::npos);
    EXPECT_EQ(font.Text(XTEXT_GUI, "ab", 0, 0, 100, 20, nullptr, &info, 0), 0u);
    // A bitmap without pixels gets nothing, but the text is measured.
    CBitmap none;
    EXPECT_EQ(font.Text(&none, "ab", 0, 0, 100, 20, nullptr, &info, 0), (10u << 16) | 12u);
    // Measuring needs none; an empty text answers 1 at once.
    EXPECT_EQ(font.Text(XTEXT_MEASURE, "ab", 0, 0, -1, -1, nullptr, &info, 0), (10u << 16) | 12u);
    EXPECT_EQ(font.Text(XTEXT_MEASURE, "", 0, 0, -1, -1, nullptr, &info, 0), 1u);
    EXPECT_EQ(font.Text(&none, nullptr, 0, 0, -1, -1, nullptr, &info, 0), 1u);
}

// ---------------------------------------------------------------- files

TEST_F(FontTest, SaveAndLoadRoundTrip)
{
    CFont font;
    CBitmap picture;
    MakeFont(font, picture);
    ASSERT_TRUE(font.Save("made.xbf", 0)) << tvtest::LastError();

    CFont loaded;
    ASSERT_TRUE(loaded.Load("made.xbf", 0)) << tvtest::LastError();
    EXPECT_EQ(loaded.height, 10);
    EXPECT_EQ(loaded.spacing, 1);
    EXPECT_EQ(loaded.lineAdvance, 12);
    EXPECT_EQ(std::memcmp(loaded.chars, font.chars, sizeof font.chars), 0);
    EXPECT_EQ(loaded.flags & XFONT_OWNS_IMAGE, XFONT_OWNS_IMAGE);
    ASSERT_NE(loaded.image, nullptr);
    ASSERT_NE(loaded.screenImage, nullptr);
    EXPECT_EQ(loaded.image->width, picture.width);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            TRGBA a(0, 0, 0), b(0, 0, 0);
            picture.GetPixel(x, y, &a);
            loaded.screenImage->GetPixel(x, y, &b);
            ASSERT_TRUE(a == b) << x << "," << y;
        }
    // Saved again, the file is the same byte for byte.
    ASSERT_TRUE(loaded.Save("again.xbf", 0));
    uint32_t n1 = 0, n2 = 0;
    ASSERT_TRUE(xFileSize("made.xbf", &n1) && xFileSize("again.xbf", &n2));
    ASSERT_EQ(n1, n2);
    std::vector<char> a(n1), b(n2);
    ASSERT_TRUE(xReadFile("made.xbf", a.data(), n1) && xReadFile("again.xbf", b.data(), n2));
    EXPECT_EQ(a, b);

    // An 8-bit picture is stored as 24 bits, which is what Load accepts.
    CPalette pal;
    pal.colors[7] = TRGBA(200, 200, 200);
    CBitmap indexed;
    ASSERT_TRUE(indexed.CreateIndex(8, 10, 8, &pal, 0));
    indexed.data[1] = 7;
    TCharData one[] = {{1, 0, 5}, {0, 0, -1}};
    CFont small;
    ASSERT_TRUE(small.SetFont(&indexed, one, 'a', 10, 0));
    ASSERT_TRUE(small.Save("indexed.xbf", 0));
    ASSERT_TRUE(small.Load("indexed.xbf", 0)) << tvtest::LastError();
    TRGBA c(0, 0, 0);
    ASSERT_TRUE(small.image->GetPixel(1, 0, &c));
    EXPECT_TRUE(c == TRGBA(200, 200, 200));

    // Copies are deep.
    ASSERT_TRUE(loaded.CreateColor(TRGBA(0, 255, 0)));
    CFont copy(loaded);
    ASSERT_NE(copy.image, loaded.image);
    EXPECT_EQ(copy.colourFonts.GetNumNodes(), 1);
    loaded.Free();
    CBitmap dest;
    ASSERT_TRUE(Make24(dest, 20, 10));
    TRGBA green(0, 255, 0);
    copy.Text(&dest, "a", 0, 0, 20, 10, &green, nullptr, 0);
    ASSERT_TRUE(dest.GetPixel(0, 0, &c));
    EXPECT_TRUE(c == TRGBA(0, 200, 0));
}

// The parts of a hand-made XBF file; each case damages one.
struct XbfParts {
    bool xbf = true, header = true, letters = true, bitmap = true;
    int version = 1;
    int headerBytes = 7;
    int16_t height = 10;
    int entries = 255;
    TCharEntry entry{1, 0, 5, 0, 0}; // written for 'a'
    int bits = 24;                   // of the picture
    bool garbagePicture = false;
};

bool WriteXbf(const char* name, const XbfParts& p)
{
    CXIFF f;
    if (!f.Open(name, XFILE_WRITE | XFILE_LITTLE_ENDIAN))
        return false;
    f.AddChunk(p.xbf ? "XBF" : "XBX", 0);
    if (p.header) {
        f.AddChunk("HEADER", 0);
        uint8_t h[7] = {static_cast<uint8_t>(p.version),
                        static_cast<uint8_t>(p.height),
                        static_cast<uint8_t>(p.height >> 8),
                        1,
                        0,
                        12,
                        0};
        f.Write(h, static_cast<uint32_t>(p.headerBytes));
        f.EndChunk();
    }
    if (p.letters) {
        f.AddChunk("LETTER DATA", 0);
        for (int i = 0; i < p.entries; ++i) {
            TCharEntry e = i == 'a' ? p.entry : TCharEntry{0, 0, 0, 0, 0};
            f.WriteWord(e.x);
            f.WriteWord(e.y);
            f.WriteWord(e.width);
            f.WriteByte(static_cast<int8_t>(e.type));
            f.WriteByte(static_cast<int8_t>(e.value));
        }
        f.EndChunk();
    }
    if (p.bitmap) {
        f.AddChunk("FONT BITMAP", 0);
        if (p.garbagePicture) {
            f.Write("not a picture", 13);
        } else {
            CBitmap b;
            if (p.bits == 8)
                b.CreateIndex(16, 10, 8, nullptr, 0);
            else
                b.CreateRGB(16, 10, 24, 8, 8, 8, 16, 8, 0, 0);
            CBMPPic* type = static_cast<CBMPPic*>(glb->picTypes->GetType("x.bmp"));
            type->Save(&f, &b, nullptr, nullptr, 0);
        }
        f.EndChunk();
    }
    f.EndChunk();
    f.Close();
    return true;
}

TEST_F(FontTest, DamagedFilesAreRefused)
{
    struct Case {
        const char* what;
        XbfParts parts;
        const char* error; // part of the error text
    };
    auto with = [](auto change) {
        XbfParts p;
        change(p);
        return p;
    };
    const Case cases[] = {
        {"sound", XbfParts{}, nullptr},
        {"no XBF chunk", with([](XbfParts& p) { p.xbf = false; }), "Not a XBF file"},
        {"no header", with([](XbfParts& p) { p.header = false; }), "Header chunk missing in XBF file"},
        {"version 2", with([](XbfParts& p) { p.version = 2; }), "Unsupported XBF version"},
        {"short header", with([](XbfParts& p) { p.headerBytes = 4; }), "header chunk is too short"},
        {"empty header", with([](XbfParts& p) { p.headerBytes = 0; }), "header chunk is too short"},
        {"height 0", with([](XbfParts& p) { p.height = 0; }), "height is not positive"},
        {"height -3", with([](XbfParts& p) { p.height = -3; }), "height is not positive"},
        {"no letters", with([](XbfParts& p) { p.letters = false; }), "Letter data chunk missing in XBF file"},
        {"short letters", with([](XbfParts& p) { p.entries = 254; }), "letter data chunk is too short"},
        {"no bitmap", with([](XbfParts& p) { p.bitmap = false; }), "Bitmap chunk missing in XBF file"},
        {"glyph past the right", with([](XbfParts& p) {
             p.entry = {12, 0, 5, 0, 0};
         }),
         "outside the font bitmap"},
        {"glyph at the edge", with([](XbfParts& p) {
             p.entry = {11, 0, 5, 0, 0};
         }),
         nullptr},
        {"negative width", with([](XbfParts& p) {
             p.entry = {8, 0, -5, 0, 0};
         }),
         "outside the font bitmap"},
        {"negative x", with([](XbfParts& p) {
             p.entry = {-1, 0, 5, 0, 0};
         }),
         "outside the font bitmap"},
        {"glyph below", with([](XbfParts& p) {
             p.entry = {1, 1, 5, 0, 0};
         }),
         "outside the font bitmap"},
        {"taller than the bitmap", with([](XbfParts& p) { p.height = 11; }), "outside the font bitmap"},
        {"8-bit picture", with([](XbfParts& p) { p.bits = 8; }), "not a 24-bit picture"},
        {"no picture", with([](XbfParts& p) { p.garbagePicture = true; }), "BMP - "},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteXbf("case.xbf", c.parts)) << c.what;
        // Each load replaces a sound font loaded before it.
        CFont font;
        ASSERT_TRUE(WriteXbf("sound.xbf", XbfParts{}));
        ASSERT_TRUE(font.Load("sound.xbf", 0)) << tvtest::LastError();
        glb->error.Clear();
        int32_t ok = font.Load("case.xbf", 0);
        if (c.error == nullptr) {
            EXPECT_TRUE(ok) << c.what << ": " << tvtest::LastError();
            continue;
        }
        EXPECT_FALSE(ok) << c.what;
        EXPECT_NE(tvtest::LastError().find(c.error), std::string::npos)
            << c.what << ": " << tvtest::LastError();
        EXPECT_EQ(font.image, nullptr) << c.what;
        EXPECT_EQ(font.screenImage, nullptr) << c.what;
        EXPECT_EQ(font.flags & XFONT_OWNS_IMAGE, 0) << c.what;
        // What is left measures without drawing and draws nothing.
        CBitmap dest;
        ASSERT_TRUE(Make24(dest, 20, 12));
        font.Text(&dest, "aaa", 0, 0, 20, 12, nullptr, nullptr, 0);
        EXPECT_EQ(Ink(dest).right, INT32_MIN) << c.what;
    }
    CFont font;
    EXPECT_FALSE(font.Load("missing.xbf", 0));
    ASSERT_TRUE(xWriteFile("plain.xbf", "plain text", 10));
    EXPECT_FALSE(font.Load("plain.xbf", 0));
    EXPECT_NE(tvtest::LastError().find("isnt a XIFF file"), std::string::npos);
}

TEST_F(FontTest, NoPictureTypeNoFile)
{
    XDELETE(bmpType);
    bmpType = nullptr;
    CFont font;
    EXPECT_FALSE(font.Load(kFontFile.c_str(), 0));
    EXPECT_EQ(glb->error.GetErrCode(), XERR_PICTURE_FORMAT);
    EXPECT_FALSE(font.Save("x.xbf", 0));
    EXPECT_FALSE(xFileExists("x.xbf"));
}

// ---------------------------------------------------------------- golden pictures

struct Golden {
    const char* name;
    uint32_t hash;
};

// Compares a picture with its golden hash; on a mismatch writes it as a BMP
// beside the test output for a look.
void ExpectGolden(CBitmap& b, const Golden& g)
{
    uint32_t h = Hash(b);
    EXPECT_EQ(h, g.hash) << g.name;
    if (h != g.hash) {
        std::string file = std::string(TARVEX_BINARY_DIR) + "/tests/font_" + g.name + ".bmp";
        b.Save(file.c_str(), nullptr, nullptr, nullptr, 0);
        ADD_FAILURE() << "written " << file;
    }
}

const char* const kParagraph = "Fonts draw text from one picture of glyphs. Long lines wrap at the "
                               "box's edge, words that are wider than the box are cut,\nand every "
                               "line may be centred. 0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";

void DrawScene(CFont& font, CBitmap& dest)
{
    TRGBA navy(20, 30, 90), white(255, 255, 255), gold(250, 200, 40), black(0, 0, 0);
    dest.Fill(&navy);
    font.Text(&dest, kParagraph, 8, 4, 224, 160, &white, nullptr, 0);
    font.Text(&dest, "Centred in gold", 0, 164, 240, 40, &gold, nullptr, XTEXT_CENTERH | XTEXT_CENTERV);
    font.Text(&dest, "Cut at the edge of a single line", 8, 204, 150, 20, &black, nullptr, XTEXT_SINGLELINE);
    font.Text(&dest, "Grey default: Jump, Yak, Tick", 8, 226, -1, -1, nullptr, nullptr, 0);
}

TEST_F(FontTest, GoldenHashesWithTheCommittedFont)
{
    CFont font;
    ASSERT_TRUE(font.Load(kFontFile.c_str(), 0)) << tvtest::LastError();
    EXPECT_EQ(font.height, 19);
    for (TRGBA c : {TRGBA(255, 255, 255), TRGBA(250, 200, 40), TRGBA(0, 0, 0)})
        ASSERT_TRUE(font.CreateColor(c));

    CBitmap rgb24, rgb16, idx8;
    ASSERT_TRUE(Make24(rgb24, 240, 250));
    ASSERT_TRUE(rgb16.CreateRGB(240, 250, 16, 5, 6, 5, 11, 5, 0, 0));
    CPalette cube; // 6 x 6 x 6 colours, then greys
    for (int i = 0; i < 256; ++i)
        cube.colors[i] = i < 216
                             ? TRGBA(static_cast<uint8_t>(i % 6 * 51), static_cast<uint8_t>(i / 6 % 6 * 51),
                                     static_cast<uint8_t>(i / 36 * 51))
                             : TRGBA(static_cast<uint8_t>((i - 216) * 6), static_cast<uint8_t>((i - 216) * 6),
                                     static_cast<uint8_t>((i - 216) * 6));
    ASSERT_TRUE(idx8.CreateIndex(240, 250, 8, &cube, 0));

    DrawScene(font, rgb24);
    DrawScene(font, rgb16);
    DrawScene(font, idx8);
    ExpectGolden(rgb24, {"rgb24", 1328514887u});
    ExpectGolden(rgb16, {"rgb16", 3768434133u});
    ExpectGolden(idx8, {"idx8", 2678591569u});
    // Eight lines; the widest is the cut word of signs.
    EXPECT_EQ(font.GetTextSize(kParagraph, 224, -1, 0), (152u << 16) | 279u);
}

} // namespace
