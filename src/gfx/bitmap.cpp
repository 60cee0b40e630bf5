// CBitmap: creation in indexed and RGB layouts, release, deep copies, pixel
// access, and loading and saving through the picture types.
#include "gfx/pixel.h"
#include "gfx/savename.h"
#include "platform/platform.h"

#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>
#include <tarvex/pictype.h>

#include <cstdio>
#include <cstring>

using namespace tvgfx;

namespace
{
// Bitmaps stay below 2 GiB so that every byte offset fits a signed 32-bit
// value.
constexpr int64_t kMaxBitmapBytes = 0x7FFFFFFF;
} // namespace

int32_t xBitmapPitch(int32_t width, int32_t bytesPerPixel)
{
    if (width < 0 || bytesPerPixel < 0)
        return -1;
    int64_t pitch = (static_cast<int64_t>(bytesPerPixel) * width + 3) & ~int64_t{3};
    return pitch > kMaxBitmapBytes ? -1 : static_cast<int32_t>(pitch);
}

CBitmap::CBitmap(const CBitmap& other) : CBitmapBase(other)
{
    *this = other;
}

CBitmap& CBitmap::operator=(const CBitmap& other)
{
    if (this == &other)
        return *this;
    Free();
    uint8_t* copy = nullptr;
    CPalette* pal = nullptr;
    size_t size = static_cast<size_t>(other.pitch > 0 ? other.pitch : 0) *
                  static_cast<size_t>(other.height > 0 ? other.height : 0);
    if (other.data != nullptr) {
        copy = static_cast<uint8_t*>(XALLOC(size));
        if (copy == nullptr)
            return *this;
        std::memcpy(copy, other.data, size);
    }
    if (other.palette != nullptr) {
        pal = XNEW(CPalette, *other.palette);
        if (pal == nullptr) {
            if (copy != nullptr)
                XFREE(copy);
            return *this;
        }
    }
    CBitmapBase::operator=(other);
    width = other.width;
    height = other.height;
    bits = other.bits;
    pitch = other.pitch;
    bytesPerPixel = other.bytesPerPixel;
    redBits = other.redBits;
    greenBits = other.greenBits;
    blueBits = other.blueBits;
    alphaBits = other.alphaBits;
    redShift = other.redShift;
    greenShift = other.greenShift;
    blueShift = other.blueShift;
    alphaShift = other.alphaShift;
    data = copy;
    trueColor = other.trueColor;
    changed = other.changed;
    palette = pal;
    surface = nullptr; // a surface belongs to the one bitmap the screen made it for
    screenFormat = other.screenFormat;
    return *this;
}

CBitmap::~CBitmap()
{
    Free();
}

int32_t CBitmap::Free()
{
    if (data != nullptr)
        XFREE(data);
    data = nullptr;
    // A screen bitmap's surface goes with its pixels.
    tvp::DestroyPixelSurface(static_cast<tvp::PixelSurface*>(surface));
    surface = nullptr;
    XDELETE(palette);
    palette = nullptr;
    width = height = pitch = 0;
    bounds.Set(0, 0, -1, -1);
    return TRUE;
}

int32_t CBitmap::Allocate(int32_t w, int32_t h, int32_t bpp, const char* who)
{
    int32_t p = xBitmapPitch(w, bpp);
    if (w < 0 || h < 0 || bpp <= 0 || p < 0 || static_cast<int64_t>(p) * h > kMaxBitmapBytes)
        return xErrorf("%s: Invalid bitmap size %dx%d with %d bytes per pixel.", who, w, h, bpp);
    size_t size = static_cast<size_t>(p) * static_cast<size_t>(h);
    Free();
    auto* mem = static_cast<uint8_t*>(XALLOC(size));
    if (mem == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    std::memset(mem, 0, size);
    data = mem;
    width = w;
    height = h;
    pitch = p;
    bytesPerPixel = bpp;
    bounds.Set(0, 0, w - 1, h - 1);
    changed = 1;
    screenFormat = 0;
    return TRUE;
}

int32_t CBitmap::CreateIndex(int32_t w, int32_t h, int32_t nbits, CPalette* pal, int32_t)
{
    if (nbits <= 0 || nbits > 255)
        return xErrorf("CBitmap::CreateIndex: Invalid number of bits (%d).", nbits);
    if (!Allocate(w, h, (nbits + 7) / 8, "CBitmap::CreateIndex"))
        return FALSE;
    bits = nbits;
    trueColor = 0;
    redBits = greenBits = blueBits = alphaBits = 0;
    redShift = greenShift = blueShift = alphaShift = 0;
    if (pal != nullptr) {
        palette = XNEW(CPalette);
        if (palette == nullptr || !palette->Clone(pal)) {
            Free();
            return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        }
    }
    return TRUE;
}

int32_t CBitmap::CreateRGB(int32_t w, int32_t h, int32_t nbits, int32_t rb, int32_t gb, int32_t bb,
                           int32_t rs, int32_t gs, int32_t bs, int32_t flags)
{
    return CreateRGBA(w, h, nbits, rb, gb, bb, 0, rs, gs, bs, 0, flags);
}

int32_t CBitmap::CreateRGBA(int32_t w, int32_t h, int32_t nbits, int32_t rb, int32_t gb, int32_t bb,
                            int32_t ab, int32_t rs, int32_t gs, int32_t bs, int32_t as, int32_t)
{
    if (nbits != 8 && nbits != 16 && nbits != 24 && nbits != 32)
        return FALSE;
    if (!Allocate(w, h, nbits / 8, "CBitmap::CreateRGBA"))
        return FALSE;
    bits = nbits;
    redBits = rb;
    greenBits = gb;
    blueBits = bb;
    alphaBits = ab;
    redShift = rs;
    greenShift = gs;
    blueShift = bs;
    alphaShift = as;
    trueColor = 1;
    return TRUE;
}

// ---------------------------------------------------------------- pixel access

namespace
{
bool ValidOffset(const CBitmap& b, int64_t offset)
{
    return b.data != nullptr && b.bytesPerPixel >= 1 && b.bytesPerPixel <= 4 && offset >= 0 &&
           offset + b.bytesPerPixel <= static_cast<int64_t>(b.pitch) * b.height;
}
int64_t OffsetOf(const CBitmap& b, int32_t x, int32_t y)
{
    if (x < 0 || y < 0 || x >= b.width || y >= b.height)
        return -1;
    return static_cast<int64_t>(y) * b.pitch + static_cast<int64_t>(x) * b.bytesPerPixel;
}
} // namespace

uint32_t CBitmap::PackColor(const TRGBA* c) const
{
    Format f = FormatOf(*this);
    if (!f.indexed)
        return Encode(f, *c);
    if (palette != nullptr)
        return static_cast<uint32_t>(palette->FindMatch(c));
    CPalette grey;
    return static_cast<uint32_t>(grey.FindMatch(c));
}

int32_t CBitmap::GetPixel(int32_t offset, TRGBA* c) const
{
    if (c == nullptr || !ValidOffset(*this, offset))
        return FALSE;
    Format f = FormatOf(*this);
    TRGBA v = Decode(f, LoadRaw(data + offset, bytesPerPixel));
    if (f.indexed) {
        *c = v;
        return TRUE;
    }
    c->r = v.r;
    c->g = v.g;
    c->b = v.b;
    if (bytesPerPixel == 4)
        c->a = v.a;
    return TRUE;
}

int32_t CBitmap::GetPixel(int32_t x, int32_t y, TRGBA* c) const
{
    int64_t off = OffsetOf(*this, x, y);
    return off < 0 ? FALSE : GetPixel(static_cast<int32_t>(off), c);
}

int32_t CBitmap::PutPixel(int32_t offset, const TRGBA* c)
{
    if (c == nullptr || !ValidOffset(*this, offset))
        return FALSE;
    StoreRaw(data + offset, PackColor(c), bytesPerPixel);
    changed = 1;
    return TRUE;
}

int32_t CBitmap::PutPixel(int32_t x, int32_t y, const TRGBA* c)
{
    int64_t off = OffsetOf(*this, x, y);
    return off < 0 ? FALSE : PutPixel(static_cast<int32_t>(off), c);
}

int32_t CBitmap::Fill(const TRGBA* c)
{
    if (c == nullptr || data == nullptr || bytesPerPixel < 1 || bytesPerPixel > 4)
        return FALSE;
    uint32_t v = PackColor(c);
    int32_t bpp = bytesPerPixel;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* line = data + static_cast<ptrdiff_t>(y) * pitch;
        if (bpp == 1) {
            std::memset(line, static_cast<int>(v), static_cast<size_t>(width));
            continue;
        }
        for (int32_t x = 0; x < width; ++x)
            StoreRaw(line + static_cast<ptrdiff_t>(x) * bpp, v, bpp);
    }
    changed = 1;
    return TRUE;
}

// ---------------------------------------------------------------- files

int32_t CBitmap::Load(const char* fileName, int32_t)
{
    CPicType* type = glb != nullptr && glb->picTypes != nullptr ? glb->picTypes->GetType(fileName) : nullptr;
    if (type == nullptr)
        return xError_Func(XERR_PICTURE_FORMAT, __FILE__, __LINE__);
    if (!type->Load(fileName, this, nullptr)) {
        // Without a text of its own the type has already recorded the failure.
        const char* text = type->GetError();
        return text != nullptr ? xErrorTxt_Func(text, __FILE__, __LINE__) : FALSE;
    }
    changed = 1;
    bounds.Set(0, 0, width - 1, height - 1);
    return TRUE;
}

int32_t CBitmap::Save(const char* fileName, CPicType* type, void* options, CRect* area, int32_t flags)
{
    if (type == nullptr)
        type = glb != nullptr && glb->picTypes != nullptr ? glb->picTypes->GetType(fileName) : nullptr;
    if (type == nullptr || fileName == nullptr)
        return xError_Func(XERR_PICTURE_FORMAT, __FILE__, __LINE__);
    char numbered[1024];
    if ((flags & XSAVE_NUMBERED) != 0) {
        const char* ext = nullptr;
        if (!type->GetDesc(&ext, nullptr) || ext == nullptr ||
            !xMakeNumberedName(fileName, ext, numbered, static_cast<int32_t>(sizeof numbered)))
            return FALSE;
        fileName = numbered;
    }
    if (!type->Save(fileName, this, options, area, flags)) {
        const char* text = type->GetError();
        return text != nullptr ? xErrorTxt_Func(text, __FILE__, __LINE__) : FALSE;
    }
    return TRUE;
}

int32_t xMakeNumberedName(const char* name, const char* ext, char* out, int32_t size)
{
    if (name == nullptr || ext == nullptr || out == nullptr || size <= 0)
        return FALSE;
    const char* dot = std::strrchr(name, '.');
    int32_t baseLen = dot != nullptr ? static_cast<int32_t>(dot - name) : 0;
    int32_t sec, min, hour, mday, mon, year, wday, yday, isdst;
    if (!xGetDateInfo(sec, min, hour, mday, mon, year, wday, yday, isdst))
        return FALSE;
    for (int32_t n = 1; n <= 101; ++n) {
        int len = std::snprintf(out, static_cast<size_t>(size), "%.*s%04d-%02d-%02d_%02d.%s", baseLen, name,
                                year + 1900, mon + 1, mday, n, ext);
        if (len < 0 || len >= size)
            return FALSE;
        if (!xFileExists(out))
            return TRUE;
    }
    return FALSE;
}
