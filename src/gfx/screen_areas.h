// The frame steps the full-screen and the windowed screen take alike: the
// clear step's walk over a page's persistent and clear lists, the validate
// step's hand-over of the restored areas to the GUI, and drawing a polygon
// into a picture of the screen's layout with the drawn rectangle registered
// and handed back. What each screen does with a restored or redrawn
// rectangle differs (pages versus the section and its layer list), so the
// caller passes that in.
#pragma once

#include <tarvex/screen.h>

#include "gfx/screenhooks.h"

namespace tvscreen
{

// An area list entry that holds at least one pixel.
inline bool ValidArea(const CRect& r) { return r.right >= r.left && r.bottom >= r.top; }

// The clear step: every valid area of the page's persistent list, then of
// its clear list, is marked with ASA and handed to restore(r) (which copies
// it back from the persistent picture); both lists end empty.
template <class F> void RestoreAreas(CScreenBase& s, F restore)
{
    for (int32_t i = 0; i < s.persistentCount[s.page]; ++i) {
        const CRect r = s.persistentAreas[s.page][i];
        if (!ValidArea(r))
            continue;
        s.ASA(r.left, r.top, r.right, r.bottom);
        restore(r);
    }
    s.persistentCount[s.page] = 0;
    for (int32_t i = 0; i < s.clearCount[s.page]; ++i) {
        const CRect r = s.clearAreas[s.page][i];
        if (!ValidArea(r))
            continue;
        s.ASA(r.left, r.top, r.right, r.bottom);
        restore(r);
    }
    s.clearCount[s.page] = 0;
}

// The validate step: every valid clear area of the page is marked with ASA;
// then each valid shadow area of the page is handed to the GUI root, which
// redraws itself there, and drawn(r) hears of those it drew; the page's
// shadow list ends empty.
template <class F> void ValidateAreas(CScreenBase& s, F drawn)
{
    for (int32_t i = 0; i < s.clearCount[s.page]; ++i) {
        const CRect r = s.clearAreas[s.page][i];
        if (ValidArea(r))
            s.ASA(r.left, r.top, r.right, r.bottom);
    }
    // The root only takes the areas into its controls' clip lists, so the
    // list does not change while it is walked.
    for (int32_t i = 0; i < s.shadowCount[s.page]; ++i) {
        CRect r = s.shadowAreas[s.page][i];
        if (ValidArea(r) && ValidateGui(r, i))
            drawn(r);
    }
    s.shadowCount[s.page] = 0;
}

// Draws the screen's polygon (shadow: its shadow polygon) into pixels laid
// out with pitch, height and bytes per pixel, cut to the screen's clip;
// registers the drawn rectangle as a clear area and stores it in *out when
// out is set. The drawn rectangle is reported in the caller's record, not
// a fresh allocation the caller would have to free. FALSE when nothing was
// drawn.
inline int32_t DrawPolygon(CScreenBase& s, bool shadow, uint8_t* pixels, int32_t pitch, int32_t height,
                           int32_t bytesPerPixel, CRect*& out)
{
    CRect drawn;
    if (shadow) {
        if (!s.DrawShadowPolygonInto(pixels, s.clip, pitch, height, bytesPerPixel, drawn))
            return FALSE;
    } else {
        CRect* drawnPtr = &drawn;
        CRect* noBounds = nullptr;
        if (!s.DrawPolygonSoftware(pixels, &s.clip, pitch, height, bytesPerPixel, drawnPtr, noBounds))
            return FALSE;
    }
    s.AddClearArea(drawn.left, drawn.top, drawn.right + 1, drawn.bottom + 1);
    if (out != nullptr)
        *out = drawn;
    return TRUE;
}

} // namespace tvscreen
