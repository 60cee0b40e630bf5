// Full-screen display modes: a small portable description of a display mode
// (size, pitch, depth and the colour masks of its pixel format) and the rules
// that turn one into the library's SVmode record. Real displays offer only
// 32-bit modes, so the list the full-screen screen offers is described here
// for each display size: 8-bit indexed, 16-bit 5-6-5 and 24-bit. Keeping the
// description apart from the window system makes the rules testable alone.
#pragma once

#include <tarvex/screen.h>

// A display mode as the display reports it.
struct SDxModeDesc {
    int32_t width;
    int32_t height;
    int32_t pitch; // bytes per line
    int32_t bitsPerPixel;
    int32_t indexed; // 1: palette-indexed pixels, masks unused
    uint32_t redMask, greenMask, blueMask;
};

// Shift = zero bits below the field, bits = consecutive one bits from there;
// both count at most 32 and a mask of 0 gives 32 and 0.
void CalcBitsAndShift(uint32_t mask, int32_t& bits, int32_t& shift);

// Fills mode from desc; 0 for a usable mode, non-zero otherwise (mode is
// then left as it was).
int32_t FillModeStruc(const SDxModeDesc& desc, SVmode& mode);

// The three modes offered for a display of the given size: 8-bit indexed,
// 16-bit 5-6-5 and 24-bit (blue in the lowest byte). Returns the count.
int32_t DescribeDisplayModes(int32_t width, int32_t height, SDxModeDesc* out, int32_t max);

// Appends a tracked SVmode to list for every usable mode of every display
// (the desktop size when the display lists no modes). Returns the count added.
int32_t AppendFullScreenModes(CLList& list);

// Takes the whole display with the main window for the active screen mode:
// an exclusive display mode of that size when the display offers one, else
// the desktop-sized full screen with the picture centred. 0 gives the
// window back. TRUE when the window changed as asked.
int32_t xSetFullScreen(int32_t on);
