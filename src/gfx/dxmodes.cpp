// Full-screen display modes: the SVmode rules for a described display mode
// and the list of modes offered for each display size.
#include <tarvex/dxscreen.h>

#include "../platform/platform.h"

#include <cstdio>
#include <cstring>

void CalcBitsAndShift(uint32_t mask, int32_t& bits, int32_t& shift)
{
    // Counted one bit at a time so no shift ever reaches 32.
    shift = 0;
    while (shift < 32 && (mask & (1u << shift)) == 0)
        ++shift;
    bits = 0;
    while (shift + bits < 32 && (mask & (1u << (shift + bits))) != 0)
        ++bits;
}

namespace
{
void SetName(SVmode& mode, const char* name) { std::snprintf(mode.name, sizeof(mode.name), "%s", name); }
} // namespace

int32_t FillModeStruc(const SDxModeDesc& desc, SVmode& mode)
{
    if (desc.width <= 0 || desc.height <= 0 || desc.pitch <= 0)
        return 1;
    SVmode m = {};
    m.width = desc.width;
    m.height = desc.height;
    m.pitch = desc.pitch;
    m.windowKind = XVMODE_FULLSCREEN;
    m.modeNumber = -1;
    SetName(m, "Direct X fullscreen");
    if (desc.indexed) {
        if (desc.bitsPerPixel != 8)
            return 1;
        m.palettized = 1;
        m.bytesPerPixel = 1;
        m.bitsPerPixel = 8;
        SetName(m, "Direct X fullscreen (8 bit colour, 256 colours)");
    } else if (desc.bitsPerPixel == 16) {
        CalcBitsAndShift(desc.redMask, m.redBits, m.redShift);
        CalcBitsAndShift(desc.greenMask, m.greenBits, m.greenShift);
        CalcBitsAndShift(desc.blueMask, m.blueBits, m.blueShift);
        if (m.redBits == 0 || m.greenBits == 0 || m.blueBits == 0)
            return 1;
        m.bytesPerPixel = 2;
        m.bitsPerPixel = 16;
        SetName(m, "Direct X fullscreen (16 bit colour, 32K or 64K colours)");
    } else if (desc.bitsPerPixel == 24) {
        const uint32_t masks[3] = {desc.redMask, desc.greenMask, desc.blueMask};
        int32_t shifts[3];
        for (int32_t i = 0; i < 3; ++i) {
            int32_t bits = 0;
            int32_t shift = 0;
            CalcBitsAndShift(masks[i], bits, shift);
            if (bits != 8 || (shift != 0 && shift != 8 && shift != 16))
                return 1;
            shifts[i] = 16 - shift;
        }
        if (shifts[0] == shifts[1] || shifts[1] == shifts[2] || shifts[0] == shifts[2])
            return 1;
        m.redBits = m.greenBits = m.blueBits = 8;
        m.redShift = shifts[0];
        m.greenShift = shifts[1];
        m.blueShift = shifts[2];
        m.bytesPerPixel = 3;
        m.bitsPerPixel = 24;
        SetName(m, "Direct X fullscreen (24 bit colour, 16M colours)");
    } else {
        return 1;
    }
    mode = m;
    return 0;
}

int32_t DescribeDisplayModes(int32_t width, int32_t height, SDxModeDesc* out, int32_t max)
{
    const SDxModeDesc all[3] = {
        {width, height, width, 8, 1, 0, 0, 0},
        {width, height, width * 2, 16, 0, 0xF800u, 0x07E0u, 0x001Fu},
        {width, height, width * 3, 24, 0, 0xFF0000u, 0x00FF00u, 0x0000FFu},
    };
    int32_t n = 0;
    for (const SDxModeDesc& d : all)
        if (n < max)
            out[n++] = d;
    return n;
}

int32_t AppendFullScreenModes(CLList& list)
{
    int32_t sizes[64][2];
    int32_t count = tvp::DisplaySizes(&sizes[0][0], 64);
    if (count <= 0) {
        int32_t w = 0, h = 0, bits = 0;
        if (!tvp::DesktopMode(w, h, bits))
            return 0;
        sizes[0][0] = w;
        sizes[0][1] = h;
        count = 1;
    }
    int32_t added = 0;
    for (int32_t i = 0; i < count; ++i) {
        SDxModeDesc descs[3];
        const int32_t n = DescribeDisplayModes(sizes[i][0], sizes[i][1], descs, 3);
        for (int32_t k = 0; k < n; ++k) {
            auto* m = static_cast<SVmode*>(XALLOC(sizeof(SVmode)));
            if (m == nullptr)
                return added;
            if (FillModeStruc(descs[k], *m) != 0 || !list.InsertLast(m)) {
                XFREE(m);
                continue;
            }
            ++added;
        }
    }
    return added;
}

int32_t xSetFullScreen(int32_t on)
{
    if (sglb == nullptr || sglb->mainWindow == nullptr)
        return FALSE;
    int32_t w = 0, h = 0;
    if (glb != nullptr && glb->screen != nullptr && glb->screen->GetActiveMode() != nullptr) {
        w = glb->screen->GetActiveMode()->width;
        h = glb->screen->GetActiveMode()->height;
    }
    if (on && (w <= 0 || h <= 0))
        return FALSE;
    if (!tvp::SetWindowFullScreen(sglb->mainWindow, on != 0, w, h))
        return FALSE;
    // The screen learns the new client size and shows its whole picture.
    int32_t cw = 0, ch = 0;
    if (tvp::GetClientSize(sglb->mainWindow, cw, ch))
        tvp::SendMessage(
            sglb->mainWindow, WM_SIZE, SIZE_RESTORED,
            static_cast<int32_t>((static_cast<uint32_t>(ch) << 16) | static_cast<uint32_t>(cw & 0xFFFF)));
    return TRUE;
}
