// Shade tables shared by all screens: the 5-5-5 shade and light cubes with
// their pointer tables, the shadow map, the 24-bit level table and the
// 5-5-5-to-screen table. The application builds them after choosing a mode;
// the screens only read them (through the globals).
#pragma once

#include <tarvex/export.h>

#include <tarvex/frame.h>

// Geometry of the shade cube: channel values -32..63, 96 per axis.
constexpr int32_t XSHADE_SIDE = 96;
constexpr int32_t XSHADE_RED_STEP = 96 * 96; // 9216
constexpr int32_t XSHADE_GREEN_STEP = 96;
constexpr int32_t XSHADE_ALL_STEP = 96 * 96 + 96 + 1; // 9313
constexpr int32_t XLIGHT_SIDE = 64;

// 5-5-5 packing of 8-bit channel values.
constexpr uint16_t XRGB555(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint16_t>(((r & 0xF8) << 7) | ((g & 0xF8) << 2) | (b >> 3));
}

TARVEX_API int32_t PreCalcShade();
TARVEX_API void PreCalcShade24();
TARVEX_API void CalcShadow(float factor);
// Arguments: red shift, 8 - red bits, green shift, 8 - green bits, blue
// shift, 8 - blue bits of the screen's 16-bit layout.
TARVEX_API int32_t Set16Bit(int32_t redShift, int32_t redLoss, int32_t greenShift, int32_t greenLoss, int32_t blueShift,
                 int32_t blueLoss);
TARVEX_API void DeleteShade();

// A 5-5-5 colour q darkened by level k (0..31): each channel minus k,
// clamped at 0. Needs PreCalcShade.
inline uint16_t xShade555(uint16_t q, int32_t k) { return *(glb->shadePointers[q] - k * XSHADE_ALL_STEP); }
// A byte darkened by level d (0..255): q - d clamped at 0. Needs PreCalcShade24.
inline uint8_t xShade24(uint8_t q, int32_t d) { return glb->shadeLevel24[256 - d + q]; }
// A pixel of the screen's 16-bit layout (Set16Bit) as 5-5-5, and back.
inline uint16_t xScreenTo555(uint16_t p)
{
    const int32_t* l = glb->shadeLayout16;
    uint32_t r = (p >> (l[0] - l[1] + 3)) & 31;
    uint32_t g = (p >> (l[2] - l[3] + 3)) & 31;
    uint32_t b = (p >> (l[4] - l[5] + 3)) & 31;
    return static_cast<uint16_t>((r << 10) | (g << 5) | b);
}
inline uint16_t xScreenFrom555(uint16_t q) { return glb->rgb555ToScreen[q & 0x7FFF]; }
