// Palettes: ".pal" loading, matching ties and index ranges, copies.
#include "tarvex_test.h"

#include <tarvex/bitmap.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace
{

class PaletteTest : public tvtest::TarvexTest
{
};

void WritePal(const char* name, int entries, uint8_t flags)
{
    std::vector<uint8_t> bytes(24, 0);
    std::memcpy(bytes.data(), "RIFF", 4);
    for (int i = 0; i < entries; ++i) {
        bytes.push_back(static_cast<uint8_t>(255 - i));
        bytes.push_back(static_cast<uint8_t>(i / 2));
        bytes.push_back(static_cast<uint8_t>(i * 7));
        bytes.push_back(flags);
    }
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(PaletteTest, DefaultsAndIndexAccess)
{
    CPalette p;
    EXPECT_EQ(p.firstIndex, 0);
    EXPECT_EQ(p.lastIndex, 255);
    EXPECT_STREQ(p.name, ".pal");
    EXPECT_TRUE(p.colors[77] == TRGBA(77, 77, 77, 0));

    TRGBA c(1, 2, 3, 4);
    EXPECT_TRUE(p.SetIndex(&c, 9));
    EXPECT_TRUE(p.colors[9] == TRGBA(1, 2, 3, 0)); // alpha is not copied
    EXPECT_TRUE(p.SetIndex(&c, 256));              // ignored, still TRUE
    TRGBA out(9, 9, 9, 9);
    EXPECT_TRUE(p.GetIndex(&out, 9));
    EXPECT_TRUE(out == TRGBA(1, 2, 3, 9));
    EXPECT_FALSE(p.GetIndex(&out, 300));
    EXPECT_TRUE(out == TRGBA(0, 0, 0, 9));

    TRGBA table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = TRGBA(static_cast<uint8_t>(i), 0, 0, static_cast<uint8_t>(i));
    p.SetPalette(table);
    EXPECT_TRUE(p.colors[200] == TRGBA(200, 0, 0, 200));
}

TEST_F(PaletteTest, MatchingTiesAndRanges)
{
    CPalette p; // grey ramp
    TRGBA white(255, 255, 255);
    EXPECT_EQ(p.FindMatch(&white), 254); // the last index is never a match
    EXPECT_EQ(p.FindSecondBest(&white), 255);
    TRGBA grey(100, 101, 99);
    EXPECT_EQ(p.FindMatch(&grey), 100);
    EXPECT_EQ(p.FindSecondBest(&grey), 99); // 99 and 101 tie: the lower wins

    // Equal colours: the lower index is the match, the higher the second best.
    TRGBA red(200, 10, 10);
    p.SetIndex(&red, 30);
    p.SetIndex(&red, 12);
    EXPECT_EQ(p.FindMatch(&red), 12);
    EXPECT_EQ(p.FindSecondBest(&red), 30);

    p.firstIndex = 40;
    p.lastIndex = 50;
    TRGBA black(0, 0, 0);
    EXPECT_EQ(p.FindMatch(&black), 40);
    EXPECT_EQ(p.FindMatch(&white), 49);
    EXPECT_EQ(p.FindSecondBest(&white), 50);

    p.firstIndex = p.lastIndex = 60; // empty match range
    EXPECT_EQ(p.FindMatch(&white), 60);
    EXPECT_EQ(p.FindSecondBest(&white), 60);
    p.firstIndex = 70;
    p.lastIndex = 60; // reversed
    EXPECT_EQ(p.FindMatch(&white), 70);
    EXPECT_EQ(p.FindSecondBest(&white), 70);
}

TEST_F(PaletteTest, LoadCloneAndCopy)
{
    WritePal("good.pal", 256, 0xEE);
    WritePal("short.pal", 10, 0);
    CPalette p;
    p.colors[5].a = 42;
    ASSERT_TRUE(p.Load("good.pal"));
    EXPECT_STREQ(p.name, "good.pal");
    EXPECT_TRUE(p.colors[5] == TRGBA(250, 2, 35, 42)); // flags byte ignored, alpha kept
    EXPECT_TRUE(p.colors[255] == TRGBA(0, 127, static_cast<uint8_t>(255 * 7), 0));

    CPalette s;
    EXPECT_FALSE(s.Load("short.pal"));
    EXPECT_TRUE(s.colors[9] == TRGBA(246, 4, 63, 0));  // entries read are kept
    EXPECT_TRUE(s.colors[10] == TRGBA(10, 10, 10, 0)); // the rest untouched
    EXPECT_FALSE(s.Load("missing.pal"));
    EXPECT_EQ(tvtest::LastError(), "Palette - Unable to open file");

    CPalette c;
    EXPECT_FALSE(c.Clone(nullptr));
    p.firstIndex = 3;
    p.lastIndex = 200;
    ASSERT_TRUE(c.Clone(&p));
    EXPECT_EQ(c.firstIndex, 3);
    EXPECT_EQ(c.lastIndex, 200);
    EXPECT_STREQ(c.name, "good.pal");
    EXPECT_NE(c.name, p.name);
    EXPECT_EQ(std::memcmp(c.colors, p.colors, sizeof c.colors), 0);

    CPalette copy(p); // copies own their names
    EXPECT_STREQ(copy.name, "good.pal");
    EXPECT_NE(copy.name, p.name);
    copy = s;
    EXPECT_STREQ(copy.name, "short.pal");
}

} // namespace
