// The look records and flag names shared by the resource data and the GUI
// controls: a control's colour set, its frame animation, and the flag,
// state and animation-mode constants that resource scripts name in text.
// Kept apart from the controls so resource data can be loaded and checked
// without them.
#pragma once

#include <tarvex/export.h>

#include <tarvex/bitmap.h>
#include <tarvex/llist.h>

// Control flags.
enum : int32_t {
    CNTRL_EXTRUDED = 0x1,
    CNTRL_TRANSPARENT = 0x2,
    CNTRL_HASBITMAP = 0x4,
    CNTRL_TILED = 0x8,
    CNTRL_ANIMNORMAL = 0x10,
    CNTRL_ANIMPRESSED = 0x20,
    CNTRL_ANIMHIGHLIGHT = 0x40,
    CNTRL_ALPHA = 0x80,
    CNTRL_BMTRANS = 0x100,
    CNTRL_CHECKED = 0x200,
    CNTRL_HSLIDER = 0x400,
    CNTRL_CENTERH = 0x800,
    CNTRL_CENTERV = 0x1000,
    CNTRL_MULTILINE = 0x2000,
    CNTRL_READONLY = 0x4000,
    CNTRL_TABSTOP = 0x8000,
    CNTRL_BUTTONBORDER = 0x10000,
    CNTRL_EDITVSLIDER = 0x20000,
    CNTRL_EDITHSLIDER = 0x40000,
    CNTRL_PASSWORD = 0x200000,
    CNTRL_NOWORDWRAP = 0x400000,
    CNTRL_BTNTRANSCLICK = 0x800000,
};

// Control states.
enum : int32_t {
    XGUI_PRESSED = 1,
    XGUI_RELEASED = 2,
    XGUI_HIGHLIGHT = 3,
    XGUI_DISABLED = 4,
    XGUI_HIDDEN = 5,
};

// Animation modes.
enum : int32_t {
    ANIM_ONCE = 1,
    ANIM_LOOP = 2,
    ANIM_PINGPONG = 4,
};

// Window flags.
enum : int32_t {
    XWIN_TITLEBAR = 0x1,
    XWIN_FRAME = 0x2,
    XWIN_CLOSE = 0x4,
    XWIN_MODAL = 0x8,
    XWIN_SIZE = 0x10,
    XWIN_DRAG = 0x20,
    XWIN_CENTER = 0x40,
    XWIN_POPUP = 0x80,
    XWIN_AUTORESIZE = 0x100,
    XWIN_BORDER = 0x200,
    XWIN_ALPHA = 0x400,
    XWIN_HIGHLIGHTIFINACTIVE = 0x800,
    XWIN_SYSTEMWINDOW = 0x1000,
    XWIN_ZORDERFIRST = 0x2000,
    XWIN_ZORDERLAST = 0x4000,
    XWIN_ZORDER = 0x8000,
    XWIN_ALWAYSLAST = 0x10000,
};

// The close box of a titlebar.
constexpr int32_t XCNTRL_CLOSE = 1002;

// Eight colours: 0 outer border, 1 lit bevel, 2 face, 3 shaded bevel,
// 4 top-left corner, 5 top-right and bottom-left corners, 6 bottom-right
// corner, 7 free for the control kinds.
struct TARVEX_API TCntrlColor {
    TRGBA colors[8];
};

// A frame animation: the frames in order (CBitmap*, owned by the
// animation), the frame interval in milliseconds, whether frames are drawn
// with their colour key (the top-left pixel), and an optional text object of
// a text animation (not owned).
struct TARVEX_API TCntrlAnim {
    CLList frames;
    uint32_t interval = 0;
    int32_t transparent = 0;
    void* text = nullptr;
};

// Fills a colour set from eight colours (a null one leaves its entry); the
// one filler of colour sets, used by the resource data and the GUI root.
TARVEX_API void xSetupCntrlColors(TCntrlColor* set, const TRGBA* const colors[8]);
// A new animation of columns x rows frames of w x h pixels cut by rows from
// the top-left corner of sheet; with transparent set every frame keeps the
// sheet's colour key (its top-left pixel). Null when the grid does not fit
// the sheet, a size is below 1, or memory runs out (recorded on the error).
TARVEX_API TCntrlAnim* xCreateCntrlAnim(CBitmap* sheet, int32_t w, int32_t h, int32_t columns, int32_t rows,
                             int32_t transparent, uint32_t interval);
// Releases an animation made by xCreateCntrlAnim with its frames.
TARVEX_API void xFreeCntrlAnim(TCntrlAnim* anim);
