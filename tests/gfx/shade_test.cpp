// Shade tables: darkening and lightening through the cubes, the shadow map,
// the 24-bit level table and the 5-5-5-to-screen table.
#include "tarvex_test.h"

#include <tarvex/shade.h>

namespace
{

class ShadeTest : public tvtest::TarvexTest
{
};

uint16_t Sub555(uint16_t q, int k)
{
    auto ch = [k](int v) { return v - k < 0 ? 0 : v - k; };
    return static_cast<uint16_t>((ch((q >> 10) & 31) << 10) | (ch((q >> 5) & 31) << 5) | ch(q & 31));
}

TEST_F(ShadeTest, CubesAndShadow)
{
    ASSERT_TRUE(PreCalcShade());
    ASSERT_TRUE(PreCalcShade()); // once only
    for (uint32_t q = 0; q < 32768; q += 7)
        for (int k : {0, 1, 7, 16, 31}) {
            ASSERT_EQ(xShade555(static_cast<uint16_t>(q), k), Sub555(static_cast<uint16_t>(q), k))
                << q << " " << k;
            // The unused top bit does not lead outside the cube.
            ASSERT_EQ(xShade555(static_cast<uint16_t>(q | 0x8000), k), Sub555(static_cast<uint16_t>(q), k));
        }
    EXPECT_EQ(glb->shadeSteps[0][3], 3 * 9216);
    EXPECT_EQ(glb->shadeSteps[1][3], 3 * 96);
    EXPECT_EQ(glb->shadeSteps[2][3], 3);
    EXPECT_EQ(glb->shadeSteps[3][31], 31 * 9313);
    // Single channels step through the level rows.
    uint16_t q = (20 << 10) | (2 << 5) | 9;
    EXPECT_EQ(*(glb->shadePointers[q] - glb->shadeSteps[0][5]), (15 << 10) | (2 << 5) | 9);
    EXPECT_EQ(*(glb->shadePointers[q] - glb->shadeSteps[1][5]), (20 << 10) | (0 << 5) | 9);
    // Lightening: channels up to 63 clamp at 31.
    const int32_t up = 64 * 64 + 64 + 1;
    EXPECT_EQ(*(glb->lightPointers[q] + 12 * up), (31 << 10) | (14 << 5) | 21);
    EXPECT_EQ(*(glb->lightPointers[0x7FFF] + 32 * up), 0x7FFF);

    // The shadow map halves by default; other factors truncate.
    EXPECT_EQ(glb->shadowMap[(31 << 10) | (17 << 5) | 1], (15 << 10) | (8 << 5) | 0);
    CalcShadow(3.0f);
    EXPECT_EQ(glb->shadowMap[(31 << 10) | (17 << 5) | 2], (10 << 10) | (5 << 5) | 0);
    CalcShadow(0.0f); // meaningless: ignored
    EXPECT_EQ(glb->shadowMap[(31 << 10) | (17 << 5) | 2], (10 << 10) | (5 << 5) | 0);
    CalcShadow(0.5f); // brightening clamps at 31
    EXPECT_EQ(glb->shadowMap[(20 << 10) | (10 << 5) | 1], (31 << 10) | (20 << 5) | 2);
    DeleteShade();
    EXPECT_EQ(glb->shadeCube, nullptr);
    EXPECT_EQ(glb->shadowMap, nullptr);
    ASSERT_TRUE(PreCalcShade()); // builds again after DeleteShade
    DeleteShade();
}

TEST_F(ShadeTest, Level24AndScreenLayout)
{
    PreCalcShade24();
    EXPECT_EQ(xShade24(100, 30), 70);
    EXPECT_EQ(xShade24(10, 30), 0);
    EXPECT_EQ(xShade24(200, 0), 200);
    EXPECT_EQ(xShade24(255, 255), 0);
    EXPECT_EQ(glb->shadeLevel24[256 + 200 + 100], 255); // q + d clamps at 255

    ASSERT_TRUE(Set16Bit(11, 3, 5, 2, 0, 3)); // 5-6-5
    EXPECT_EQ(xScreenFrom555(0x7FFF), 0xFFFF);
    EXPECT_EQ(xScreenFrom555((16 << 10) | (16 << 5) | 16), (16 << 11) | (32 << 5) | 16);
    EXPECT_EQ(xScreenFrom555((1 << 5)), 2 << 5); // 1 * 63 / 31 = 2
    EXPECT_EQ(xScreenTo555((16 << 11) | (33 << 5) | 7), (16 << 10) | (16 << 5) | 7);
    ASSERT_TRUE(Set16Bit(10, 3, 5, 3, 0, 3)); // 5-5-5 maps onto itself
    for (uint32_t q = 0; q < 32768; q += 13)
        ASSERT_EQ(xScreenFrom555(static_cast<uint16_t>(q)), q);
    DeleteShade();
    EXPECT_EQ(glb->rgb555ToScreen, nullptr);
}

} // namespace
