// Rectangles with inclusive corners, and the clipping rule that every blit
// of the library applies before it touches pixels.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

class TARVEX_API CRect
{
  public:
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    CRect() = default;
    CRect(int32_t l, int32_t t, int32_t r, int32_t b) : left(l), top(t), right(r), bottom(b) {}
    CRect(const CRect&) = default;
    CRect& operator=(const CRect&) = default;

    void Set(int32_t l, int32_t t, int32_t r, int32_t b);
    // right = x + w - 1, bottom = y + h - 1.
    void SetXYWH(int32_t x, int32_t y, int32_t w, int32_t h);
    // Distance between the edges: one less than the pixel count.
    int32_t Width() const;
    int32_t Height() const;
    void SetEmpty();
    int32_t IsEmpty() const;
    int32_t IsNull() const;
    int32_t IsPntInRect(int32_t x, int32_t y) const;
    void Copy(const CRect* from);
    int32_t IsEqual(const CRect* other) const;
    void Inflate(int32_t dx, int32_t dy);
    void Normalize();
    void Move(int32_t dx, int32_t dy);
    // This := the common part of a and b (corners shared count); FALSE and
    // this untouched when they do not meet.
    int32_t Intersect(CRect a, CRect b);
    // This := the smallest rectangle holding a and b.
    void Union(CRect a, CRect b);
};

// Clips a blit of w x h pixels from (sx, sy) to (dx, dy) against the source
// bounds and the destination clip. TRUE with the six values adjusted to the
// visible part; FALSE (values untouched) when nothing is visible.
TARVEX_API int32_t xClipBlit(int32_t& sx, int32_t& sy, int32_t& w, int32_t& h, int32_t& dx, int32_t& dy, CRect src,
                  CRect clip);
