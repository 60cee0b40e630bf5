// The screen side of fonts (see font_screen.h). The library has no screen
// module yet: text for the screen or its GUI layer is refused by CFont::Text,
// and glyph pictures stay in the 24-bit layout they were made in.
#include "gfx/font_screen.h"

namespace tvfont
{

int32_t ScreenReady(bool) { return FALSE; }

int32_t ScreenSize(int32_t* width, int32_t* height)
{
    if (width != nullptr)
        *width = 0;
    if (height != nullptr)
        *height = 0;
    return FALSE;
}

int32_t ScreenConvert(CBitmap*, bool) { return TRUE; }

void ScreenBlit(bool, CBitmap*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}

} // namespace tvfont
