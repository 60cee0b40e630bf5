// Rectangles and the blit clipping rule. Coordinates wrap as 32-bit values;
// the clipping works in 64 bits so that spans near the integer limits
// cannot overflow.
#include <tarvex/rect.h>

#include <algorithm>

namespace
{
int32_t Add32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t Sub32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t Abs32(int32_t v)
{
    return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
}
} // namespace

void CRect::Set(int32_t l, int32_t t, int32_t r, int32_t b)
{
    left = l;
    top = t;
    right = r;
    bottom = b;
}

void CRect::SetXYWH(int32_t x, int32_t y, int32_t w, int32_t h)
{
    left = x;
    top = y;
    right = Sub32(Add32(x, w), 1);
    bottom = Sub32(Add32(y, h), 1);
}

int32_t CRect::Width() const
{
    return Abs32(Sub32(right, left));
}
int32_t CRect::Height() const
{
    return Abs32(Sub32(bottom, top));
}
void CRect::SetEmpty()
{
    left = top = right = bottom = 0;
}
int32_t CRect::IsEmpty() const
{
    return left == right && top == bottom ? TRUE : FALSE;
}
int32_t CRect::IsNull() const
{
    return left == 0 && top == 0 && right == 0 && bottom == 0 ? TRUE : FALSE;
}

int32_t CRect::IsPntInRect(int32_t x, int32_t y) const
{
    return left <= x && x <= right && top <= y && y <= bottom ? TRUE : FALSE;
}

void CRect::Copy(const CRect* from)
{
    if (from != nullptr)
        *this = *from;
}

int32_t CRect::IsEqual(const CRect* o) const
{
    return o != nullptr && left == o->left && top == o->top && right == o->right && bottom == o->bottom
               ? TRUE
               : FALSE;
}

void CRect::Inflate(int32_t dx, int32_t dy)
{
    left = Sub32(left, dx);
    right = Add32(right, dx);
    top = Sub32(top, dy);
    bottom = Add32(bottom, dy);
}

void CRect::Normalize()
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
}

void CRect::Move(int32_t dx, int32_t dy)
{
    left = Add32(left, dx);
    right = Add32(right, dx);
    top = Add32(top, dy);
    bottom = Add32(bottom, dy);
}

int32_t CRect::Intersect(CRect a, CRect b)
{
    a.Normalize();
    b.Normalize();
    if (a.right < b.left || a.left > b.right || a.bottom < b.top || a.top > b.bottom)
        return FALSE;
    // Meeting, each left edge lies before both right edges: the overlap runs
    // from the later left edge to the earlier right one.
    Set(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
        std::min(a.bottom, b.bottom));
    return TRUE;
}

void CRect::Union(CRect a, CRect b)
{
    a.Normalize();
    b.Normalize();
    Set(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
        std::max(a.bottom, b.bottom));
}

namespace
{
// Clips the span [pos, pos + len - 1] to [lo, hi], moving the partner
// coordinate by the same amount. False when nothing is left.
bool ClipSpan(int64_t& pos, int64_t& len, int64_t& partner, int64_t lo, int64_t hi)
{
    int64_t end = pos + len - 1;
    if (end < lo || pos > hi)
        return false;
    if (pos < lo) {
        partner += lo - pos;
        pos = lo;
    }
    len = std::min(end, hi) - pos + 1;
    return true;
}
} // namespace

int32_t xClipBlit(int32_t& sx, int32_t& sy, int32_t& w, int32_t& h, int32_t& dx, int32_t& dy, CRect src,
                  CRect clip)
{
    // An empty or negative size draws nothing; callers must not be handed
    // a span they would copy with a negative length.
    if (w <= 0 || h <= 0)
        return FALSE;
    int64_t x = sx, y = sy, ww = w, hh = h, tx = dx, ty = dy;
    if (!ClipSpan(x, ww, tx, src.left, src.right) || !ClipSpan(y, hh, ty, src.top, src.bottom))
        return FALSE;
    if (!ClipSpan(tx, ww, x, clip.left, clip.right) || !ClipSpan(ty, hh, y, clip.top, clip.bottom))
        return FALSE;
    sx = static_cast<int32_t>(x);
    sy = static_cast<int32_t>(y);
    w = static_cast<int32_t>(ww);
    h = static_cast<int32_t>(hh);
    dx = static_cast<int32_t>(tx);
    dy = static_cast<int32_t>(ty);
    return TRUE;
}
