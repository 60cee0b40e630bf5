// TPoint: a point in pixels, used where a list of corners is passed — the
// animation frames of sprites and mouse cursors inside their bitmap (a list
// ends at the first entry whose x or y is -1).
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

struct TARVEX_API TPoint {
    int32_t x;
    int32_t y;
};
