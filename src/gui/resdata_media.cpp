// The media sections of the resource data: the palette, fonts, bitmaps
// (whole files, rectangles of files, pieces cut from sheets) and frame
// animations, plus the animation records themselves. Every rectangle, cut
// and grid is checked against the picture in 64-bit arithmetic before a
// pixel is touched, so a script cannot make the loader copy outside a
// picture.
#include "gui/resdata_internal.h"

#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstdio>
#include <cstring>

namespace
{
// The section a bitmap item's error goes under; the screen hook's result.
void ToScreenFormat(CResData& r, CBitmap* b, const char* failText)
{
    const SResScreenHooks& hooks = tvres::ScreenHooks();
    if (hooks.makeScreenBitmap != nullptr && !hooks.makeScreenBitmap(b, 1))
        tvres::FailLower(r, "%s", failText);
}

// A rectangle (x, y, w, h) with w, h >= 1 lying wholly inside the picture.
bool InsidePicture(const CBitmap& pic, int32_t x, int32_t y, int32_t w, int32_t h)
{
    return x >= 0 && y >= 0 && w >= 1 && h >= 1 &&
           static_cast<int64_t>(x) + w <= static_cast<int64_t>(pic.width) &&
           static_cast<int64_t>(y) + h <= static_cast<int64_t>(pic.height);
}

// A size given for a bitmap: -1 (whole file) or at least 1.
bool ValidSize(int32_t v) { return v == -1 || v >= 1; }

// The record's bitmap: a 24-bit copy of (x, y, w, h) of pic, or, when w or
// h is -1, a copy of the whole picture.
CBitmap* MakeBitmap(CResData& r, const char* name, CBitmap& pic, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (!ValidSize(w) || !ValidSize(h))
        return tvres::Fail(r, "Invalid size %dx%d for bitmap \"%s\"", w, h, name), nullptr;
    CBitmap* b = nullptr;
    if (w != -1 && h != -1) {
        if (!InsidePicture(pic, x, y, w, h))
            return tvres::Fail(r, "The rectangle of bitmap \"%s\" lies outside its %dx%d picture", name,
                               pic.width, pic.height),
                   nullptr;
        b = XNEW(CBitmap);
        if (b == nullptr || !b->CreateRGB(w, h, 24, 8, 8, 8, 16, 8, 0, 1)) {
            XDELETE(b);
            return tvres::FailLower(r, "Unable to create bitmap \"%s\"", name), nullptr;
        }
        b->Blt(&pic, x, y, 0, 0, w, h, 0, 0, 0);
    } else {
        b = XNEW(CBitmap, pic);
        if (b == nullptr || b->data == nullptr) {
            XDELETE(b);
            return tvres::Fail(r, "Unable to create bitmap \"%s\"", name), nullptr;
        }
    }
    return b;
}

bool AddBitmap(CResData& r, const char* name, const char* file, CBitmap* b)
{
    auto* rec = XNEW(TResBitmap);
    if (rec == nullptr) {
        XDELETE(b);
        return tvres::Fail(r, "Out of memory"), false;
    }
    tvres::CopyName(rec->name, name);
    std::snprintf(rec->fileName, sizeof rec->fileName, "%s", file);
    rec->bitmap = b;
    r.bitmaps.InsertLast(rec);
    ToScreenFormat(r, b, "Can't convert bitmap to screen mode");
    return true;
}

bool StepPalette(CResData& r, void*)
{
    const char* file = r.GetString(0);
    if (file == nullptr)
        return tvres::Fail(r, "Unable to get string for \"%s\"", r.GetKeyword());
    CBitmap* pic = XNEW(CBitmap);
    if (pic == nullptr || !pic->Load(file, 0)) {
        XDELETE(pic);
        return tvres::FailLower(r, "Unable to load the palette picture \"%s\"", file);
    }
    if (pic->palette == nullptr) {
        XDELETE(pic);
        return tvres::Fail(r, "The picture \"%s\" has no palette", file);
    }
    // The name: the file name after the last "/" up to its first ".".
    const char* base = std::strrchr(file, '/');
    base = base != nullptr ? base + 1 : file;
    char name[XRES_FILE_MAX + 1];
    std::snprintf(name, sizeof name, "%s", base);
    if (char* dot = std::strchr(name, '.'))
        *dot = 0;
    CPalette* pal = pic->palette;
    pic->palette = nullptr;
    XDELETE(pic);
    size_t n = std::strlen(name) + 1;
    auto* copy = static_cast<char*>(XALLOC(n));
    if (copy == nullptr) {
        XDELETE(pal);
        return tvres::Fail(r, "CResData::SetupPalette: Allocation of memory for palette name failed.");
    }
    std::memcpy(copy, name, n);
    if (pal->name != nullptr)
        XFREE(pal->name);
    pal->name = copy;
    XDELETE(r.palette);
    r.palette = pal;
    const SResScreenHooks& hooks = tvres::ScreenHooks();
    if (hooks.setPalette != nullptr)
        hooks.setPalette(pal);
    return true;
}

bool StepFont(CResData& r, void*)
{
    const char* name = r.GetKeyword();
    if (std::strlen(name) > static_cast<size_t>(XRES_NAME_MAX))
        return tvres::Fail(r, "Bitmap define name to big : \"%s\"", name);
    const char* file = r.GetString(0);
    if (file == nullptr)
        return tvres::Fail(r, "fname is invalid");
    auto* rec = XNEW(TResFont);
    CFont* font = XNEW(CFont);
    if (rec == nullptr || font == nullptr || !font->Load(file, 0)) {
        XDELETE(rec);
        XDELETE(font);
        return tvres::FailLower(r, "Unable to load the font \"%s\" from \"%s\"", name, file);
    }
    tvres::CopyName(rec->name, name);
    rec->font = font;
    r.fonts.InsertLast(rec);
    return true;
}

// The items of a sheet chunk: name = x, y, w, h.
bool StepSheet(CResData& r, const char* file)
{
    CBitmap* sheet = XNEW(CBitmap);
    if (sheet == nullptr || !sheet->Load(file, 0)) {
        XDELETE(sheet);
        return tvres::FailLower(r, "Couldn't load bitmap");
    }
    bool ok = true;
    if (r.EnterChunk()) {
        for (bool item = r.ItemExists() != 0; item && ok; item = r.NextItem(0) != 0) {
            if (r.IsComment())
                continue;
            const char* name = r.GetKeyword();
            int32_t v[4];
            if (std::strlen(name) > static_cast<size_t>(XRES_NAME_MAX)) {
                ok = tvres::Fail(r, "Bitmap define name to big : \"%s\"", name);
                break;
            }
            if (!r.GetLong(0, &v[0]) || !r.GetLong(1, &v[1]) || !r.GetLong(2, &v[2]) ||
                !r.GetLong(3, &v[3])) {
                ok = tvres::Fail(r, "Failed to read in the x,y,w,h data fields for bitmap");
                break;
            }
            CBitmap* b = MakeBitmap(r, name, *sheet, v[0], v[1], v[2], v[3]);
            ok = b != nullptr && AddBitmap(r, name, file, b);
        }
        r.ExitChunk();
    }
    XDELETE(sheet);
    return ok;
}

bool StepBitmap(CResData& r, void*)
{
    if (r.ItemType() == 2) {
        const char* file = r.GetString(0);
        if (file == nullptr)
            return tvres::Fail(r, "fname is invalid");
        return StepSheet(r, file);
    }
    const char* name = r.GetKeyword();
    if (std::strlen(name) > static_cast<size_t>(XRES_NAME_MAX))
        return tvres::Fail(r, "Bitmap define name to big : \"%s\"", name);
    const char* file = r.GetString(0);
    if (file == nullptr)
        return tvres::Fail(r, "fname is invalid");
    if (std::strlen(file) > static_cast<size_t>(XRES_FILE_MAX))
        return tvres::Fail(r, "Bitmap filename to big : \"%s\"", file);
    int32_t x, y, w, h;
    if (!r.GetLong(1, &x) || !r.GetLong(2, &y) || !r.GetLong(3, &w) || !r.GetLong(4, &h))
        return tvres::Fail(r, "Failed to read in the x,y,w,h data fields for bitmap \"%s\"", name);
    if (!ValidSize(w) || !ValidSize(h))
        return tvres::Fail(r, "Invalid size %dx%d for bitmap \"%s\"", w, h, name);
    CBitmap pic;
    if (!pic.Load(file, 0))
        return tvres::FailLower(r, "Couldn't load bitmap");
    CBitmap* b = MakeBitmap(r, name, pic, x, y, w, h);
    return b != nullptr && AddBitmap(r, name, file, b);
}

bool StepAnim(CResData& r, void*)
{
    const char* name = r.GetKeyword();
    if (name == nullptr || name[0] == 0)
        return tvres::Fail(r, "defName is invalid");
    if (std::strlen(name) > static_cast<size_t>(XRES_NAME_MAX))
        return tvres::Fail(r, "Bitmap define name to big : \"%s\"", name);
    const char* file = r.GetString(0);
    if (file == nullptr)
        return tvres::Fail(r, "fname is invalid");
    int32_t v[8];
    for (int32_t i = 0; i < 8; ++i)
        if (!r.GetLong(i + 1, &v[i]))
            return tvres::Fail(r,
                               "Failed to read in the frame delay,x,y,w,h,col,row,transFlag data fields for "
                               "animation \"%s\"",
                               name);
    const int32_t delay = v[0], w = v[3], h = v[4], cols = v[5], rows = v[6];
    if (delay < 1)
        return tvres::Fail(r, "The frame delay of animation \"%s\" is below 1 ms", name);
    if (w < 1 || h < 1 || cols < 1 || rows < 1)
        return tvres::Fail(r, "Invalid frame size or grid for animation \"%s\"", name);
    CBitmap pic;
    if (!pic.Load(file, 0))
        return tvres::FailLower(r, "Failed to load temporary bitmap for anim\n");
    const SResScreenHooks& hooks = tvres::ScreenHooks();
    if (hooks.makeScreenBitmap != nullptr && !hooks.makeScreenBitmap(&pic, 1))
        return tvres::FailLower(r, "Failed to make screen bitmap for anim\n");
    TCntrlAnim* anim = xCreateCntrlAnim(&pic, w, h, cols, rows, v[7], static_cast<uint32_t>(delay));
    if (anim == nullptr)
        return tvres::FailLower(r, "Failed to create the \"%s\" animation", name);
    auto* rec = XNEW(TResAnim);
    if (rec == nullptr) {
        xFreeCntrlAnim(anim);
        return tvres::Fail(r, "Out of memory");
    }
    tvres::CopyName(rec->name, name);
    rec->anim = anim;
    r.anims.InsertLast(rec);
    return true;
}
} // namespace

void tvres::SetupPalette(CResData& r)
{
    r.SetSection("Palette");
    ForEachItem(r, "Palette", StepPalette, nullptr);
}

void tvres::SetupFonts(CResData& r)
{
    r.SetSection("Fonts");
    ForEachItem(r, "Fonts", StepFont, nullptr);
}

void tvres::SetupBitmaps(CResData& r)
{
    r.SetSection("Bitmaps");
    ForEachItem(r, "Bitmaps", StepBitmap, nullptr);
}

void tvres::SetupAnims(CResData& r)
{
    r.SetSection("Animations");
    ForEachItem(r, "Animations", StepAnim, nullptr);
}

// ---------------------------------------------------------------- animations

TCntrlAnim* xCreateCntrlAnim(CBitmap* sheet, int32_t w, int32_t h, int32_t columns, int32_t rows,
                             int32_t transparent, uint32_t interval)
{
    if (sheet == nullptr || sheet->data == nullptr || w < 1 || h < 1 || columns < 1 || rows < 1 ||
        interval < 1 || static_cast<int64_t>(w) * columns > sheet->width ||
        static_cast<int64_t>(h) * rows > sheet->height) {
        xErrorTxt_Func("xCreateCntrlAnim: The frame grid does not fit the picture.", __FILE__, __LINE__);
        return nullptr;
    }
    auto* anim = XNEW(TCntrlAnim);
    if (anim == nullptr) {
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    anim->interval = interval;
    anim->transparent = transparent != 0 ? 1 : 0;
    const size_t rowBytes = static_cast<size_t>(w) * static_cast<size_t>(sheet->bytesPerPixel);
    for (int32_t row = 0; row < rows; ++row)
        for (int32_t col = 0; col < columns; ++col) {
            CBitmap* f = XNEW(CBitmap);
            int32_t ok = f != nullptr;
            if (ok && sheet->trueColor)
                ok = f->CreateRGBA(w, h, sheet->bits, sheet->redBits, sheet->greenBits, sheet->blueBits,
                                   sheet->alphaBits, sheet->redShift, sheet->greenShift, sheet->blueShift,
                                   sheet->alphaShift, 1);
            else if (ok)
                ok = f->CreateIndex(w, h, sheet->bits, sheet->palette, 1);
            if (ok && f->bytesPerPixel != sheet->bytesPerPixel)
                ok = FALSE;
            if (!ok || !anim->frames.InsertLast(f)) {
                XDELETE(f);
                xFreeCntrlAnim(anim);
                xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
                return nullptr;
            }
            const uint8_t* src = sheet->data + static_cast<ptrdiff_t>(row) * h * sheet->pitch +
                                 static_cast<ptrdiff_t>(col) * static_cast<ptrdiff_t>(rowBytes);
            for (int32_t y = 0; y < h; ++y)
                std::memcpy(f->data + static_cast<ptrdiff_t>(y) * f->pitch,
                            src + static_cast<ptrdiff_t>(y) * sheet->pitch, rowBytes);
            f->screenFormat = sheet->screenFormat;
        }
    return anim;
}

void xFreeCntrlAnim(TCntrlAnim* anim)
{
    if (anim == nullptr)
        return;
    for (anim->frames.First(); anim->frames.Exists(); anim->frames.Next())
        XDELETE(static_cast<CBitmap*>(anim->frames.Get()));
    anim->frames.KillAll();
    XDELETE(anim);
}

void xSetupCntrlColors(TCntrlColor* set, const TRGBA* const colors[8])
{
    if (set == nullptr || colors == nullptr)
        return;
    for (int32_t i = 0; i < 8; ++i)
        if (colors[i] != nullptr)
            set->colors[i] = *colors[i];
}
