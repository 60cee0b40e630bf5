// Full-screen display modes: mask scanning and the SVmode rules over a table
// of pixel layouts.
#include <gtest/gtest.h>
#include <tarvex/dxscreen.h>

#include <cstring>

namespace
{

TEST(DxModes, CalcBitsAndShiftTable)
{
    struct Case {
        uint32_t mask;
        int32_t bits, shift;
    } cases[] = {
        {0xF800u, 5, 11}, {0x07E0u, 6, 5},      {0x001Fu, 5, 0},
        {0x7C00u, 5, 10}, {0x80000000u, 1, 31}, {0xFFFFFFFFu, 32, 0},
        {0u, 0, 32},      {0xFF000000u, 8, 24}, {0x00F0F000u, 4, 12}, // only the first run counts
    };
    for (const Case& c : cases) {
        int32_t bits = -1, shift = -1;
        CalcBitsAndShift(c.mask, bits, shift);
        EXPECT_EQ(bits, c.bits) << std::hex << c.mask;
        EXPECT_EQ(shift, c.shift) << std::hex << c.mask;
    }
}

TEST(DxModes, FillModeStrucTable)
{
    struct Case {
        SDxModeDesc desc;
        int32_t result;
        int32_t bytes, rs, gs, bs, rb, gb, bb, pal;
        const char* name;
    } cases[] = {
        {{640, 480, 640, 8, 1, 0, 0, 0},
         0,
         1,
         0,
         0,
         0,
         0,
         0,
         0,
         1,
         "Direct X fullscreen (8 bit colour, 256 colours)"},
        {{640, 480, 1280, 16, 0, 0xF800, 0x07E0, 0x001F},
         0,
         2,
         11,
         5,
         0,
         5,
         6,
         5,
         0,
         "Direct X fullscreen (16 bit colour, 32K or 64K colours)"},
        {{640, 480, 1280, 16, 0, 0x7C00, 0x03E0, 0x001F},
         0,
         2,
         10,
         5,
         0,
         5,
         5,
         5,
         0,
         "Direct X fullscreen (16 bit colour, 32K or 64K colours)"},
        // Blue at bit 0, green 8, red 16: red shift 0, green 8, blue 16.
        {{800, 600, 2400, 24, 0, 0xFF0000, 0x00FF00, 0x0000FF},
         0,
         3,
         0,
         8,
         16,
         8,
         8,
         8,
         0,
         "Direct X fullscreen (24 bit colour, 16M colours)"},
        {{800, 600, 2400, 24, 0, 0x0000FF, 0x00FF00, 0xFF0000},
         0,
         3,
         16,
         8,
         0,
         8,
         8,
         8,
         0,
         "Direct X fullscreen (24 bit colour, 16M colours)"},
        {{800, 600, 3200, 32, 0, 0xFF0000, 0x00FF00, 0x0000FF}, 1, 0, 0, 0, 0, 0, 0, 0, 0, ""}, // 32-bit: not
                                                                                                // listed
        {{800, 600, 2400, 24, 0, 0xFF000000u, 0x00FF00, 0x0000FF}, 1, 0, 0, 0, 0, 0, 0, 0, 0, ""}, // field at
                                                                                                   // bit 24
        {{800, 600, 2400, 24, 0, 0x00FFF0, 0x00000F, 0xFF0000}, 1, 0, 0, 0, 0, 0, 0, 0, 0, ""}, // not 8 bits
                                                                                                // wide
        {{800, 600, 2400, 24, 0, 0x00FF00, 0x00FF00, 0x0000FF}, 1, 0, 0, 0, 0, 0, 0, 0, 0, ""}, // overlapping
                                                                                                // fields
        {{640, 480, 1280, 16, 0, 0, 0x07E0, 0x001F}, 1, 0, 0, 0, 0, 0, 0, 0, 0, ""}, // no red field
        {{640, 480, 640, 16, 1, 0, 0, 0}, 1, 0, 0, 0, 0, 0, 0, 0, 0, ""},            // indexed, not 8-bit
        {{0, 480, 640, 8, 1, 0, 0, 0}, 1, 0, 0, 0, 0, 0, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SVmode m;
        std::memset(&m, 0x5A, sizeof(m));
        const int32_t r = FillModeStruc(c.desc, m);
        EXPECT_EQ(r != 0, c.result != 0) << c.desc.bitsPerPixel << " " << std::hex << c.desc.redMask;
        if (r != 0) {
            EXPECT_EQ(m.width, 0x5A5A5A5A); // untouched
            continue;
        }
        EXPECT_EQ(m.width, c.desc.width);
        EXPECT_EQ(m.height, c.desc.height);
        EXPECT_EQ(m.pitch, c.desc.pitch);
        EXPECT_EQ(m.windowKind, XVMODE_FULLSCREEN);
        EXPECT_EQ(m.modeNumber, -1);
        EXPECT_EQ(m.bytesPerPixel, c.bytes);
        EXPECT_EQ(m.bitsPerPixel, c.bytes * 8);
        EXPECT_EQ(m.palettized, c.pal);
        EXPECT_EQ(m.redShift, c.rs);
        EXPECT_EQ(m.greenShift, c.gs);
        EXPECT_EQ(m.blueShift, c.bs);
        EXPECT_EQ(m.redBits, c.rb);
        EXPECT_EQ(m.greenBits, c.gb);
        EXPECT_EQ(m.blueBits, c.bb);
        EXPECT_STREQ(m.name, c.name);
    }
}

TEST(DxModes, EveryDescribedModeIsUsable)
{
    SDxModeDesc descs[4];
    ASSERT_EQ(DescribeDisplayModes(1024, 768, descs, 4), 3);
    const int32_t depths[3] = {8, 16, 24};
    for (int32_t i = 0; i < 3; ++i) {
        SVmode m{};
        ASSERT_EQ(FillModeStruc(descs[i], m), 0);
        EXPECT_EQ(m.bitsPerPixel, depths[i]);
        EXPECT_EQ(m.width, 1024);
        EXPECT_EQ(m.pitch, 1024 * m.bytesPerPixel);
    }
    EXPECT_EQ(DescribeDisplayModes(1024, 768, descs, 2), 2);
}

} // namespace
