// What fonts need of the current screen, in one place: whether text can be
// drawn on it (and on its GUI layer), the size of its active mode, bringing
// a glyph picture into its format, and blitting one glyph onto it. Without
// a screen in an active mode there is no screen to draw on.
#pragma once

#include <tarvex/bitmap.h>

namespace tvfont
{

// TRUE when text can be drawn on the screen (gui: on its GUI layer).
int32_t ScreenReady(bool gui);
// The active mode's size; FALSE without a screen.
int32_t ScreenSize(int32_t* width, int32_t* height);
// Brings a glyph picture into the screen's format (variant: a tinted copy,
// remapped to the palette on 8-bit screens); TRUE when there is no screen.
int32_t ScreenConvert(CBitmap* picture, bool variant);
// Draws w x h pixels of source at (sx, sy) to (dx, dy) with the colour key.
void ScreenBlit(bool gui, CBitmap* source, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                int32_t h);

} // namespace tvfont
