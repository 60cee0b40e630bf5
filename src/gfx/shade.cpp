// The shade tables: darkening and lightening 5-5-5 colours by table look-up
// (cubes indexed by channel values beyond 0..31 that hold the clamped
// colour), the shadow map, the 24-bit level table and the table that turns
// 5-5-5 colours into the screen's 16-bit layout.
#include <tarvex/shade.h>

#include <tarvex/memory.h>

#include <cmath>

namespace
{
constexpr int32_t kShadeCubeEntries = XSHADE_SIDE * XSHADE_SIDE * XSHADE_SIDE;
constexpr int32_t kLightCubeEntries = XLIGHT_SIDE * XLIGHT_SIDE * XLIGHT_SIDE;
constexpr int32_t kColors555 = 32768;
constexpr int32_t kPointerEntries = 65536;

inline int32_t Clamp31(int32_t v)
{
    return v < 0 ? 0 : (v > 31 ? 31 : v);
}
inline uint16_t Pack(int32_t r, int32_t g, int32_t b)
{
    return static_cast<uint16_t>((r << 10) | (g << 5) | b);
}

template <class T> void Release(T*& p)
{
    if (p != nullptr)
        XFREE(p);
    p = nullptr;
}
} // namespace

int32_t PreCalcShade()
{
    if (glb == nullptr)
        return FALSE;
    if (glb->shadeReady)
        return TRUE;
    glb->shadeCube = static_cast<uint16_t*>(XALLOC(sizeof(uint16_t) * kShadeCubeEntries));
    glb->shadePointers = static_cast<uint16_t**>(XALLOC(sizeof(uint16_t*) * kPointerEntries));
    glb->lightCube = static_cast<uint16_t*>(XALLOC(sizeof(uint16_t) * kLightCubeEntries));
    glb->lightPointers = static_cast<uint16_t**>(XALLOC(sizeof(uint16_t*) * kPointerEntries));
    if (glb->shadowMap == nullptr)
        glb->shadowMap = static_cast<uint16_t*>(XALLOC(sizeof(uint16_t) * kColors555));
    if (glb->shadeCube == nullptr || glb->shadePointers == nullptr || glb->lightCube == nullptr ||
        glb->lightPointers == nullptr || glb->shadowMap == nullptr) {
        Release(glb->shadeCube);
        Release(glb->shadePointers);
        Release(glb->lightCube);
        Release(glb->lightPointers);
        Release(glb->shadowMap);
        return xErrorTxt_Func("Couldn't allocate memory for alpha channel table", __FILE__, __LINE__);
    }

    uint16_t* cube = glb->shadeCube;
    for (int32_t r = -32; r < 64; ++r)
        for (int32_t g = -32; g < 64; ++g)
            for (int32_t b = -32; b < 64; ++b)
                *cube++ = Pack(Clamp31(r), Clamp31(g), Clamp31(b));
    uint16_t* light = glb->lightCube;
    for (int32_t r = 0; r < 64; ++r)
        for (int32_t g = 0; g < 64; ++g)
            for (int32_t b = 0; b < 64; ++b)
                *light++ = Pack(Clamp31(r), Clamp31(g), Clamp31(b));
    // Pixels with the unused top bit set shade as the colour without it, so
    // no look-up can land outside a cube.
    for (int32_t q = 0; q < kPointerEntries; ++q) {
        int32_t r = (q >> 10) & 31, g = (q >> 5) & 31, b = q & 31;
        glb->shadePointers[q] =
            glb->shadeCube + (r + 32) * XSHADE_RED_STEP + (g + 32) * XSHADE_GREEN_STEP + (b + 32);
        glb->lightPointers[q] = glb->lightCube + r * XLIGHT_SIDE * XLIGHT_SIDE + g * XLIGHT_SIDE + b;
    }
    for (int32_t k = 0; k < 32; ++k) {
        glb->shadeSteps[0][k] = k * XSHADE_RED_STEP;
        glb->shadeSteps[1][k] = k * XSHADE_GREEN_STEP;
        glb->shadeSteps[2][k] = k;
        glb->shadeSteps[3][k] = k * XSHADE_ALL_STEP;
    }
    glb->shadeReady = 1;
    CalcShadow(2.0f);
    return TRUE;
}

void PreCalcShade24()
{
    if (glb == nullptr)
        return;
    for (int32_t i = 0; i < 768; ++i)
        glb->shadeLevel24[i] = static_cast<uint8_t>(i < 256 ? 0 : (i < 512 ? i - 256 : 255));
}

void CalcShadow(float factor)
{
    // A factor that is not positive has no meaningful shadow.
    if (glb == nullptr || !(factor > 0.0f))
        return;
    if (glb->shadowMap == nullptr)
        glb->shadowMap = static_cast<uint16_t*>(XALLOC(sizeof(uint16_t) * kColors555));
    if (glb->shadowMap == nullptr)
        return;
    for (int32_t q = 0; q < kColors555; ++q) {
        auto part = [factor](int32_t v) {
            float s = std::trunc(static_cast<float>(v) / factor);
            return s >= 31.0f ? 31 : static_cast<int32_t>(s);
        };
        glb->shadowMap[q] = Pack(part((q >> 10) & 31), part((q >> 5) & 31), part(q & 31));
    }
}

int32_t Set16Bit(int32_t redShift, int32_t redLoss, int32_t greenShift, int32_t greenLoss, int32_t blueShift,
                 int32_t blueLoss)
{
    if (glb == nullptr)
        return FALSE;
    if (glb->rgb555ToScreen == nullptr)
        glb->rgb555ToScreen = static_cast<uint16_t*>(XALLOC(sizeof(uint16_t) * kColors555));
    if (glb->rgb555ToScreen == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    const int32_t layout[6] = {redShift, redLoss, greenShift, greenLoss, blueShift, blueLoss};
    for (int i = 0; i < 6; ++i)
        glb->shadeLayout16[i] = layout[i];
    // Each channel v of 0..31 becomes v x (2^width - 1) / 31 at its shift;
    // widths and shifts outside a 16-bit word contribute nothing.
    auto place = [](int32_t v, int32_t shift, int32_t loss) -> uint32_t {
        int32_t width = 8 - loss;
        if (width <= 0 || width > 16 || shift < 0 || shift >= 16)
            return 0;
        uint32_t scaled = static_cast<uint32_t>(v) * ((1u << width) - 1) / 31;
        return scaled << shift;
    };
    for (int32_t q = 0; q < kColors555; ++q)
        glb->rgb555ToScreen[q] = static_cast<uint16_t>(place((q >> 10) & 31, redShift, redLoss) |
                                                       place((q >> 5) & 31, greenShift, greenLoss) |
                                                       place(q & 31, blueShift, blueLoss));
    return TRUE;
}

void DeleteShade()
{
    if (glb == nullptr)
        return;
    Release(glb->shadeCube);
    Release(glb->shadePointers);
    Release(glb->lightCube);
    Release(glb->lightPointers);
    Release(glb->shadowMap);
    Release(glb->rgb555ToScreen);
    glb->shadeReady = 0;
}
