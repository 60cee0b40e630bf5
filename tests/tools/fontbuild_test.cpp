// The font builder: its fonts load, their widths are FreeType's own advance
// widths, their glyphs hold FreeType's coverage, the same input gives the
// same bytes, and bad arguments are refused.
#include "tarvex_test.h"

#include <tarvex/font.h>
#include <tarvex/pictype.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace
{

const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

#ifdef TARVEX_FONTBUILD
const char* const kBuilder = TARVEX_FONTBUILD;
#else
const char* const kBuilder = nullptr;
#endif

int RunBuilder(const std::string& args)
{
    std::string cmd = std::string(kBuilder) + " " + args + " >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<char> Bytes(const char* name)
{
    uint32_t n = 0;
    if (!xFileSize(name, &n))
        return {};
    std::vector<char> data(n);
    if (n != 0 && !xReadFile(name, data.data(), n))
        return {};
    return data;
}

class FontBuildTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        if (kBuilder == nullptr)
            GTEST_SKIP() << "the font builder is not built (TARVEX_TOOLS=OFF)";
        if (!xFileExists(kDejaVu))
            GTEST_SKIP() << kDejaVu << " is missing (Debian package fonts-dejavu-core)";
        TarvexTest::SetUp();
        bmpType = XNEW(CBMPPic);
        ASSERT_EQ(FT_Init_FreeType(&lib), 0);
        ASSERT_EQ(FT_New_Face(lib, kDejaVu, 0, &face), 0);
    }
    void TearDown() override
    {
        if (face != nullptr)
            FT_Done_Face(face);
        if (lib != nullptr)
            FT_Done_FreeType(lib);
        if (bmpType == nullptr)
            return;
        XDELETE(bmpType);
        TarvexTest::TearDown();
    }

    // Checks a built font against FreeType at that size with those flags.
    void Compare(const CFont& font, int size, FT_Int32 loadFlags, int first, int last)
    {
        ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)), 0);
        const FT_Size_Metrics& m = face->size->metrics;
        int ascent = static_cast<int>((m.ascender + 63) >> 6);
        EXPECT_EQ(font.height, ascent + static_cast<int>((-m.descender + 63) >> 6));
        for (int code = first; code <= last; ++code) {
            ASSERT_EQ(FT_Load_Char(face, static_cast<FT_ULong>(code), loadFlags), 0) << code;
            FT_GlyphSlot g = face->glyph;
            int advance = static_cast<int>((g->advance.x + 32) >> 6);
            const TCharEntry& e = font.chars[code];
            if (code == ' ') {
                EXPECT_EQ(e.type, XCHAR_RIGHT);
                EXPECT_EQ(e.value, advance);
                continue;
            }
            EXPECT_EQ(e.type, XCHAR_GLYPH) << code;
            EXPECT_EQ(e.width, advance) << code;
            // Glyphs whose ink fits their cell keep all of it.
            const FT_Bitmap& bm = g->bitmap;
            int top = ascent - g->bitmap_top;
            if (static_cast<int>(bm.width) > advance || top < 0 ||
                top + static_cast<int>(bm.rows) > font.height)
                continue;
            uint64_t want = 0, have = 0;
            for (unsigned r = 0; r < bm.rows; ++r)
                for (unsigned c = 0; c < bm.width; ++c)
                    want += bm.pixel_mode == FT_PIXEL_MODE_MONO
                                ? ((bm.buffer[r * bm.pitch + (c >> 3)] >> (7 - (c & 7))) & 1) * 255
                                : bm.buffer[r * bm.pitch + c];
            for (int y = 0; y < font.height; ++y)
                for (int x = 0; x < e.width; ++x) {
                    TRGBA px(0, 0, 0);
                    font.image->GetPixel(e.x + x, e.y + y, &px);
                    have += px.r;
                }
            EXPECT_EQ(have, want) << "coverage of " << code;
        }
        EXPECT_EQ(font.chars[0].type, XCHAR_END);
        EXPECT_EQ(font.chars[uint8_t('\n')].type, XCHAR_NEWLINE);
        EXPECT_EQ(font.chars[uint8_t('\n')].value, font.lineAdvance);
        EXPECT_GE(font.lineAdvance, font.height);
    }

    CBMPPic* bmpType = nullptr;
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
};

TEST_F(FontBuildTest, AsciiAntialiasedMatchesFreeType)
{
    ASSERT_EQ(RunBuilder("-s 16 built.xbf"), 0);
    CFont font;
    ASSERT_TRUE(font.Load("built.xbf", 0)) << tvtest::LastError();
    Compare(font, 16, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL, 32, 126);
    EXPECT_EQ(font.chars[127].width, 0);
    EXPECT_EQ(font.chars[200].width, 0);
    // The picture's top-left pixel is background: the colour key.
    TRGBA key(1, 1, 1);
    ASSERT_TRUE(font.image->GetPixel(0, 0, &key));
    EXPECT_TRUE(key == TRGBA(0, 0, 0));

    // The same input, the same bytes.
    ASSERT_EQ(RunBuilder("-s 16 again.xbf"), 0);
    std::vector<char> a = Bytes("built.xbf"), b = Bytes("again.xbf");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);
}

// The committed font is the builder's output for DejaVu Sans at 16 pixels.
// Other FreeType versions may render other pixels (which is why the font is
// committed), so the check runs with the version that made it.
TEST_F(FontBuildTest, CommittedFontIsTheBuildersOutput)
{
    FT_Int major = 0, minor = 0, patch = 0;
    FT_Library_Version(lib, &major, &minor, &patch);
    if (major != 2 || minor != 12 || patch != 1)
        GTEST_SKIP() << "FreeType " << major << "." << minor << "." << patch
                     << " is not the 2.12.1 that made data/fonts/dejavusans16.xbf";
    ASSERT_EQ(RunBuilder("-s 16 committed.xbf"), 0);
    std::string committed = std::string(TARVEX_SOURCE_DIR) + "/data/fonts/dejavusans16.xbf";
    std::vector<char> built = Bytes("committed.xbf");
    ASSERT_FALSE(built.empty());
    EXPECT_EQ(built, Bytes(committed.c_str()));
}

TEST_F(FontBuildTest, Latin1MonochromeMatchesFreeType)
{
    ASSERT_EQ(RunBuilder("-s 12 -r latin1 -m -p 1 -w 128 latin.xbf"), 0);
    CFont font;
    ASSERT_TRUE(font.Load("latin.xbf", 0)) << tvtest::LastError();
    EXPECT_EQ(font.spacing, 1);
    EXPECT_LE(font.image->width, 128);
    const FT_Int32 mono = FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME;
    Compare(font, 12, mono, 32, 126);
    Compare(font, 12, mono, 160, 254);
    for (int code = 127; code < 160; ++code)
        EXPECT_EQ(font.chars[code].width, 0) << code;
    // Monochrome glyphs hold only full coverage.
    for (int y = 0; y < font.image->height; ++y)
        for (int x = 0; x < font.image->width; ++x) {
            TRGBA px(0, 0, 0);
            font.image->GetPixel(x, y, &px);
            ASSERT_TRUE(px.r == 0 || px.r == 255) << x << "," << y;
        }
}

TEST_F(FontBuildTest, BadArgumentsAreRefused)
{
    struct Case {
        const char* args;
        int rc;
    } cases[] = {
        {"", 2},
        {"-s 0 out.xbf", 2},
        {"-s x out.xbf", 2},
        {"-r cyrillic out.xbf", 2},
        {"-q out.xbf", 2},
        {"a.xbf b.xbf", 2},
        {"-f /nonexistent/font.ttf out.xbf", 1},
        {"-s 16 /proc/out.xbf", 1}, // cannot be written
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunBuilder(c.args), c.rc) << c.args;
    EXPECT_FALSE(xFileExists("out.xbf"));
}

} // namespace
