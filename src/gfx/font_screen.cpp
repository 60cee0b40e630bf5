// The screen side of fonts (see font_screen.h), over the current screen:
// text can be drawn once a screen has an active mode; glyph pictures are
// brought into the mode's pixel format when they are made; glyphs are
// blitted with the colour key, on the screen through its ordinary blit
// (which registers the area, so the text reaches the window and is cleared
// with the frame) or on its GUI layer through the GUI blit plus a GUI clear
// area.
#include "gfx/font_screen.h"

#include <tarvex/screen.h>

namespace tvfont
{
namespace
{

CScreenBase* Current()
{
    CScreenBase* s = glb != nullptr ? glb->screen : nullptr;
    return s != nullptr && s->GetActiveMode() != nullptr ? s : nullptr;
}

} // namespace

int32_t ScreenReady(bool) { return Current() != nullptr ? TRUE : FALSE; }

int32_t ScreenSize(int32_t* width, int32_t* height)
{
    CScreenBase* s = Current();
    const SVmode* m = s != nullptr ? s->GetActiveMode() : nullptr;
    if (width != nullptr)
        *width = m != nullptr ? m->width : 0;
    if (height != nullptr)
        *height = m != nullptr ? m->height : 0;
    return m != nullptr ? TRUE : FALSE;
}

int32_t ScreenConvert(CBitmap* picture, bool variant)
{
    CScreenBase* s = Current();
    if (s == nullptr || picture == nullptr)
        return TRUE;
    if (!variant)
        return s->MakeScreenFormat(picture, 1);
    // A tinted copy: on 8-bit screens remapped to the screen's palette,
    // otherwise the screen's own bitmap form, else its pixel format.
    if (s->GetActiveMode()->palettized)
        return picture->ConvertIndex(-1, -1, 8, &s->palette, 1);
    return s->MakeScreenBitmap(picture, 1) || s->MakeScreenFormat(picture, 1) ? TRUE : FALSE;
}

void ScreenBlit(bool gui, CBitmap* source, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                int32_t h)
{
    CScreenBase* s = Current();
    if (s == nullptr || source == nullptr || w <= 0 || h <= 0)
        return;
    if (!gui) {
        s->DrawBitmapScreen(source, sx, sy, dx, dy, w, h, XBLT_COLORKEY, 0);
        return;
    }
    s->DrawBitmapScreenGui(source, sx, sy, dx, dy, w, h, XBLT_COLORKEY, 0);
    s->AddClearAreaGui(dx, dy, dx + w - 1, dy + h - 1);
}

} // namespace tvfont
