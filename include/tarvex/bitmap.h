// Pixel data: the colour value TRGBA, the 256-colour CPalette with its
// ".pal" loader and colour matching, and the in-memory image CBitmap
// (indexed and RGB layouts, conversion between them, blits with a colour
// key, pixel access, loading and saving through the picture types).
#pragma once

#include <tarvex/export.h>

#include <tarvex/rect.h>

class CPicType;

struct TARVEX_API TRGBA {
    uint8_t r;
    uint8_t g;
    uint8_t b;
    uint8_t a;

    // Leaves the bytes as they are, like a plain record.
    TRGBA() = default;
    TRGBA(uint8_t red, uint8_t green, uint8_t blue) : r(red), g(green), b(blue), a(0) {}
    TRGBA(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) : r(red), g(green), b(blue), a(alpha) {}
    TRGBA(const TRGBA&) = default;
    TRGBA& operator=(const TRGBA&) = default;

    void Set(uint8_t red, uint8_t green, uint8_t blue)
    {
        r = red;
        g = green;
        b = blue;
        a = 0;
    }
    void Set(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha)
    {
        r = red;
        g = green;
        b = blue;
        a = alpha;
    }
    bool operator==(const TRGBA& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const TRGBA& o) const { return !(*this == o); }
};

class TARVEX_API CPalette
{
  public:
    uint8_t firstIndex = 0;  // first index FindMatch may answer
    uint8_t lastIndex = 255; // FindMatch stops before it, FindSecondBest includes it
    TRGBA colors[256];       // default: grey ramp (i, i, i, 0)
    char* name = nullptr;    // owned; ".pal" until Load names it

    CPalette();
    // Copies are deep: each palette owns its name.
    CPalette(const CPalette& other);
    CPalette& operator=(const CPalette& other);
    virtual ~CPalette();

    // Reads a ".pal" file: 24 header bytes, then 256 entries (r, g, b, flags).
    int32_t Load(const char* fileName);
    int32_t Clone(const CPalette* from);
    // Copies all four bytes of 256 entries.
    void SetPalette(const TRGBA* entries);
    int32_t SetIndex(const TRGBA* c, uint32_t index);
    int32_t GetIndex(TRGBA* c, uint32_t index) const;
    // Nearest colour in [firstIndex, lastIndex); ties keep the lower index.
    int32_t FindMatch(const TRGBA* c) const;
    // Nearest colour in [firstIndex, lastIndex] other than FindMatch's answer.
    int32_t FindSecondBest(const TRGBA* c) const;

  private:
    int32_t SetName(const char* text, const char* failText);
};

class TARVEX_API CBitmapBase
{
  public:
    CRect bounds{0, 0, -1, -1};

    CBitmapBase() = default;
    CBitmapBase(const CBitmapBase&) = default;
    CBitmapBase& operator=(const CBitmapBase&) = default;
    virtual ~CBitmapBase() = default;

    virtual int32_t CreateIndex(int32_t width, int32_t height, int32_t bits, CPalette* palette,
                                int32_t flags) = 0;
    virtual int32_t CreateRGB(int32_t width, int32_t height, int32_t bits, int32_t redBits, int32_t greenBits,
                              int32_t blueBits, int32_t redShift, int32_t greenShift, int32_t blueShift,
                              int32_t flags) = 0;
    virtual int32_t CreateRGBA(int32_t width, int32_t height, int32_t bits, int32_t redBits,
                               int32_t greenBits, int32_t blueBits, int32_t alphaBits, int32_t redShift,
                               int32_t greenShift, int32_t blueShift, int32_t alphaShift, int32_t flags) = 0;
    virtual int32_t Load(const char* fileName, int32_t flags) = 0;
    virtual int32_t Save(const char* fileName, CPicType* type, void* options, CRect* area, int32_t flags) = 0;
    virtual int32_t ConvertIndex(int32_t a, int32_t b, int32_t bits, CPalette* palette, int32_t flags) = 0;
    virtual int32_t ConvertRGB(int32_t a, int32_t b, int32_t bits, int32_t redBits, int32_t greenBits,
                               int32_t blueBits, int32_t redShift, int32_t greenShift, int32_t blueShift,
                               int32_t flags) = 0;
    virtual int32_t Blt(CBitmapBase* source, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                        int32_t h, int32_t flags, int32_t extra, int32_t extra2) = 0;
    virtual int32_t BltScale(CBitmapBase* source, CRect* src, CRect* dst, int32_t flags) = 0;
    virtual int32_t Free() = 0;
    virtual int32_t LockBitmapData() = 0;
    virtual int32_t ReleaseBitmapData() = 0;
    virtual int32_t ScreenLockBitmapData() = 0;
    virtual int32_t ScreenReleaseBitmapData() = 0;
};

// Flags of the conversions and blits.
enum : int32_t {
    XBLT_COLORKEY = 1,     // Blt: skip source pixels equal to the source's top-left pixel
    XCONV_NO_COLORKEY = 2, // ConvertIndex / ConvertRGB: no colour-key pass
    XSAVE_NUMBERED = 1,    // Save: number the file name with today's date
};

class TARVEX_API CBitmap : public CBitmapBase
{
  public:
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;
    int32_t pitch = 0; // bytes per line
    int32_t bytesPerPixel = 0;
    int32_t redBits = 0, greenBits = 0, blueBits = 0, alphaBits = 0;
    // 16-bit: bit position in the pixel word; 24/32-bit: bit position in the
    // pixel read as a big-endian number (byte = bytesPerPixel - 1 - shift / 8).
    int32_t redShift = 0, greenShift = 0, blueShift = 0, alphaShift = 0;
    uint8_t* data = nullptr;     // owned, pitch x height bytes, top line first
    uint8_t trueColor = 1;       // 1 RGB layout, 0 indexed
    int32_t changed = 1;         // pixels changed since the screen took a copy
    CPalette* palette = nullptr; // owned, indexed bitmaps only
    void* surface = nullptr;     // screen-side surface handle (full-screen screen)
    uint8_t screenFormat = 0;    // 1 once brought into the screen's format

    CBitmap() = default;
    // Copies are deep (pixels and palette); a failed allocation leaves the
    // copy empty.
    CBitmap(const CBitmap& other);
    CBitmap& operator=(const CBitmap& other);
    ~CBitmap() override;

    int32_t CreateIndex(int32_t width, int32_t height, int32_t bits, CPalette* palette,
                        int32_t flags) override;
    int32_t CreateRGB(int32_t width, int32_t height, int32_t bits, int32_t redBits, int32_t greenBits,
                      int32_t blueBits, int32_t redShift, int32_t greenShift, int32_t blueShift,
                      int32_t flags) override;
    int32_t CreateRGBA(int32_t width, int32_t height, int32_t bits, int32_t redBits, int32_t greenBits,
                       int32_t blueBits, int32_t alphaBits, int32_t redShift, int32_t greenShift,
                       int32_t blueShift, int32_t alphaShift, int32_t flags) override;
    int32_t Load(const char* fileName, int32_t flags) override;
    int32_t Save(const char* fileName, CPicType* type, void* options, CRect* area, int32_t flags) override;
    int32_t ConvertIndex(int32_t a, int32_t b, int32_t bits, CPalette* palette, int32_t flags) override;
    int32_t ConvertRGB(int32_t a, int32_t b, int32_t bits, int32_t redBits, int32_t greenBits,
                       int32_t blueBits, int32_t redShift, int32_t greenShift, int32_t blueShift,
                       int32_t flags) override;
    int32_t Blt(CBitmapBase* source, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h,
                int32_t flags, int32_t extra, int32_t extra2) override;
    // Nearest-neighbour copy of src (null: the whole source) onto dst (null:
    // the whole bitmap), cut to both bitmaps; XBLT_COLORKEY as for Blt.
    // FALSE for depth pairs Blt does not take and for reversed rectangles.
    int32_t BltScale(CBitmapBase* source, CRect* src, CRect* dst, int32_t flags) override;
    int32_t Free() override;
    int32_t LockBitmapData() override { return TRUE; }
    int32_t ReleaseBitmapData() override
    {
        changed = 1;
        return TRUE;
    }
    int32_t ScreenLockBitmapData() override { return TRUE; }
    int32_t ScreenReleaseBitmapData() override
    {
        changed = 0;
        return TRUE;
    }

    // Pixel access; FALSE outside the pixel data. The one-argument forms
    // take a byte offset into the data.
    int32_t Fill(const TRGBA* c);
    int32_t PutPixel(int32_t offset, const TRGBA* c);
    int32_t PutPixel(int32_t x, int32_t y, const TRGBA* c);
    int32_t GetPixel(int32_t offset, TRGBA* c) const;
    int32_t GetPixel(int32_t x, int32_t y, TRGBA* c) const;

  private:
    int32_t Allocate(int32_t w, int32_t h, int32_t bpp, const char* who);
    uint32_t PackColor(const TRGBA* c) const;
    void StorePixel(uint8_t* p, uint32_t v) const;
    uint32_t LoadPixel(const uint8_t* p) const;
};

// Bytes per line for a width and bytes per pixel: lines are 4-byte aligned.
// -1 when the result does not fit 31 bits.
TARVEX_API int32_t xBitmapPitch(int32_t width, int32_t bytesPerPixel);
// Releases the cached colour-match table (the screens call it when their
// palette changes; the frame at shut-down).
TARVEX_API void xDiscardColorMatch();
