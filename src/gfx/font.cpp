// CFont: building a font (SetFont, SetBasic, SetCtrlCode), the XBF file
// (Load, Save), the tinted copies of the glyph picture (CreateColor), copies
// and release. Layout and drawing live in font_text.cpp.
//
// Font files come from outside: every read is checked, and a file whose
// glyph rectangles leave the picture, whose height is not positive or whose
// picture is not 24-bit is refused, so that drawing and tinting can trust
// the table. A failed load leaves the font empty.
#include "gfx/font_screen.h"

#include <tarvex/font.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>
#include <tarvex/pictype.h>
#include <tarvex/xiff.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace
{

constexpr uint8_t kVersion = 1;
constexpr int32_t kOrder = XFILE_LITTLE_ENDIAN; // XBF numbers are little-endian on every machine

// The picture type that stores the glyph picture inside the file.
CPicType* BitmapType()
{
    return glb != nullptr && glb->picTypes != nullptr ? glb->picTypes->GetType("x.bmp") : nullptr;
}

// A new 24-bit bitmap with red in the first byte of a pixel (red at bit 16
// of the pixel read as a big-endian number).
bool MakeRGB24(CBitmap& b, int32_t w, int32_t h)
{
    return b.CreateRGB(w, h, 24, 8, 8, 8, 16, 8, 0, 0) == TRUE;
}

// The intensity that tints a pixel: the pixel's third byte in 24- and
// 32-bit pictures; for 8- and 16-bit pictures, which have no third byte, the
// red channel (the channel a 24-bit picture from a BMP file keeps there).
// Outside the picture: 0.
uint8_t Intensity(const CBitmap& b, int32_t x, int32_t y)
{
    if (b.data == nullptr || x < 0 || y < 0 || x >= b.width || y >= b.height)
        return 0;
    if (b.bytesPerPixel >= 3 && b.bytesPerPixel <= 4 &&
        static_cast<int64_t>(b.pitch) >= static_cast<int64_t>(b.width) * b.bytesPerPixel)
        return b.data[static_cast<ptrdiff_t>(y) * b.pitch + static_cast<ptrdiff_t>(x) * b.bytesPerPixel + 2];
    TRGBA c(0, 0, 0);
    return b.GetPixel(x, y, &c) ? c.r : 0;
}

void Tint(const TRGBA& colour, uint8_t v, uint8_t* out)
{
    out[0] = static_cast<uint8_t>(colour.r * v / 255);
    out[1] = static_cast<uint8_t>(colour.g * v / 255);
    out[2] = static_cast<uint8_t>(colour.b * v / 255);
}

CBitmap* CopyBitmap(const CBitmap* from)
{
    if (from == nullptr)
        return nullptr;
    CBitmap* b = XNEW(CBitmap, *from);
    if (b != nullptr && from->data != nullptr && b->data == nullptr) {
        XDELETE(b);
        return nullptr;
    }
    return b;
}

} // namespace

// ---------------------------------------------------------------- life

CFont::CFont(const CFont& other) { *this = other; }

CFont& CFont::operator=(const CFont& other)
{
    if (this == &other)
        return *this;
    Free();
    height = other.height;
    spacing = other.spacing;
    reserved = other.reserved;
    lineAdvance = other.lineAdvance;
    std::memcpy(chars, other.chars, sizeof chars);
    if ((other.flags & XFONT_OWNS_IMAGE) != 0) {
        image = CopyBitmap(other.image);
        if (image != nullptr)
            flags |= XFONT_OWNS_IMAGE;
    } else {
        image = other.image;
    }
    screenImage = CopyBitmap(other.screenImage);
    auto& variants = const_cast<CLList&>(other.colourFonts);
    variants.Push();
    for (variants.First(); variants.Exists(); variants.Next()) {
        auto* from = static_cast<const SFontColor*>(variants.Get());
        CBitmap* b = CopyBitmap(from->bitmap);
        auto* v = b != nullptr ? XNEW(SFontColor, *from) : nullptr;
        if (v == nullptr) {
            XDELETE(b);
            continue;
        }
        v->bitmap = b;
        colourFonts.InsertLast(v);
    }
    variants.Pop();
    return *this;
}

CFont::~CFont() { Free(); }

int32_t CFont::Free()
{
    for (colourFonts.First(); colourFonts.Exists(); colourFonts.Next()) {
        auto* v = static_cast<SFontColor*>(colourFonts.Get());
        XDELETE(v->bitmap);
        XDELETE(v);
    }
    colourFonts.KillAll();
    extras.KillAll();
    if ((flags & XFONT_OWNS_IMAGE) != 0)
        XDELETE(image);
    flags &= static_cast<uint8_t>(~XFONT_OWNS_IMAGE);
    image = nullptr;
    XDELETE(screenImage);
    screenImage = nullptr;
    current = nullptr;
    return TRUE;
}

int32_t CFont::Create(int16_t, int16_t, int16_t, CPalette*)
{
    return xError_Func(XERR_NOT_IMPLEMENTED, __FILE__, __LINE__);
}

// ---------------------------------------------------------------- table

int32_t CFont::SetFont(CBitmap* picture, TCharData* list, int16_t first, int16_t h, int16_t sp)
{
    if (first < 0 || first >= XFONT_CHARS)
        return xErrorf("CFont::SetFont: The first character (%d) lies outside 0-254.", first);
    // What the font held before (a loaded picture, its screen copy, tinted
    // copies of it) belongs to the old picture.
    Free();
    height = h;
    spacing = sp;
    image = picture;
    std::memset(chars, 0, sizeof chars);
    if (list != nullptr)
        for (int32_t code = first; code < XFONT_CHARS && list->width != -1; ++code, ++list) {
            chars[code].x = list->x;
            chars[code].y = list->y;
            chars[code].width = list->width;
        }
    SetBasic(10, XCHAR_NEWLINE, static_cast<uint8_t>(h + 2));
    SetBasic(32, XCHAR_RIGHT, 4);
    SetBasic(0, XCHAR_END, 0);
    flags &= static_cast<uint8_t>(~XFONT_OWNS_IMAGE);
    return TRUE;
}

int32_t CFont::SetBasic(uint8_t code, uint8_t type, uint8_t value)
{
    if (code >= XFONT_CHARS)
        return xErrorTxt_Func("CFont::SetBasic: Character 255 has no table entry.", __FILE__, __LINE__);
    if (value == XCHAR_FROMTEXT)
        return FALSE; // 255 marks a parameter taken from the text
    if (type == XCHAR_NEWLINE)
        lineAdvance = value;
    chars[code].type = type;
    chars[code].value = value;
    return TRUE;
}

int32_t CFont::SetCtrlCode(uint8_t code, uint8_t type)
{
    if (code >= XFONT_CHARS)
        return xErrorTxt_Func("CFont::SetCtrlCode: Character 255 has no table entry.", __FILE__, __LINE__);
    chars[code].type = type;
    chars[code].value = XCHAR_FROMTEXT;
    return TRUE;
}

// ---------------------------------------------------------------- XBF files

namespace
{

// A failed load leaves nothing behind.
int32_t Fail(CFont& font, const char* text)
{
    font.Free();
    return xErrorTxt_Func(text, __FILE__, __LINE__);
}

// Enters the chunk of that name in the current level. Reads inside a chunk
// are not stopped at its end, so its length is checked against what the
// caller will read.
bool EnterNamed(CXIFF& file, const char* name, uint32_t* length = nullptr)
{
    uint32_t n = 0;
    if (!file.FindChunk(name, &n, FALSE) || !file.EnterChunk())
        return false;
    if (length != nullptr)
        *length = n;
    return true;
}

constexpr uint32_t kHeaderBytes = 7;
constexpr uint32_t kLetterBytes = 8 * XFONT_CHARS;

} // namespace

int32_t CFont::Load(const char* fileName, int16_t)
{
    Free();
    CPicType* type = BitmapType();
    if (type == nullptr)
        return xError_Func(XERR_PICTURE_FORMAT, __FILE__, __LINE__);
    CXIFF file;
    if (fileName == nullptr || !file.Open(fileName, XFILE_READ | kOrder))
        return FALSE;
    image = XNEW(CBitmap);
    if (image == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    flags |= XFONT_OWNS_IMAGE;

    if (!EnterNamed(file, "XBF"))
        return Fail(*this, "Not a XBF file");

    uint32_t length = 0;
    if (!EnterNamed(file, "HEADER", &length))
        return Fail(*this, "Header chunk missing in XBF file");
    int8_t version = 0;
    int16_t words[3] = {};
    if (length < kHeaderBytes || !file.ReadByte(&version))
        return Fail(*this, "CFont::Load: The header chunk is too short.");
    if (static_cast<uint8_t>(version) != kVersion)
        return Fail(*this, "Unsupported XBF version");
    for (int16_t& w : words)
        if (!file.ReadWord(&w))
            return Fail(*this, "CFont::Load: The header chunk is too short.");
    height = words[0];
    spacing = words[1];
    lineAdvance = words[2];
    if (height <= 0)
        return Fail(*this, "CFont::Load: The font height is not positive.");
    file.ExitChunk();

    if (!EnterNamed(file, "LETTER DATA", &length))
        return Fail(*this, "Letter data chunk missing in XBF file");
    if (length < kLetterBytes)
        return Fail(*this, "CFont::Load: The letter data chunk is too short.");
    for (TCharEntry& e : chars) {
        int8_t type8 = 0, value8 = 0;
        if (!file.ReadWord(&e.x) || !file.ReadWord(&e.y) || !file.ReadWord(&e.width) ||
            !file.ReadByte(&type8) || !file.ReadByte(&value8))
            return Fail(*this, "CFont::Load: The letter data chunk is too short.");
        e.type = static_cast<uint8_t>(type8);
        e.value = static_cast<uint8_t>(value8);
    }
    file.ExitChunk();

    if (!EnterNamed(file, "FONT BITMAP"))
        return Fail(*this, "Bitmap chunk missing in XBF file");
    if (!type->Load(&file, image, nullptr)) {
        const char* text = type->GetError();
        return Fail(*this, text != nullptr ? text : "CFont::Load: The font bitmap could not be read.");
    }
    file.Close();
    if (image->data == nullptr || image->bits != 24 || image->bytesPerPixel != 3 || image->trueColor == 0)
        return Fail(*this, "CFont::Load: The font bitmap is not a 24-bit picture.");
    for (const TCharEntry& e : chars)
        if (e.x < 0 || e.y < 0 || e.width < 0 || e.x + e.width > image->width || e.y + height > image->height)
            return Fail(*this, "CFont::Load: A glyph rectangle lies outside the font bitmap.");
    image->bounds.Set(0, 0, image->width - 1, image->height - 1);

    screenImage = XNEW(CBitmap);
    if (screenImage == nullptr || !MakeRGB24(*screenImage, image->width, image->height))
        return Fail(*this, "CFont::Load: No memory for the screen copy of the font bitmap.");
    screenImage->Blt(image, 0, 0, 0, 0, -1, -1, 0, 0, 0);
    if (!tvfont::ScreenConvert(screenImage, false)) {
        Free();
        return FALSE;
    }
    screenImage->bounds.Set(0, 0, screenImage->width - 1, screenImage->height - 1);
    return TRUE;
}

int32_t CFont::Save(const char* fileName, int16_t)
{
    CPicType* type = BitmapType();
    if (type == nullptr)
        return xError_Func(XERR_PICTURE_FORMAT, __FILE__, __LINE__);
    if (image == nullptr || image->data == nullptr)
        return xErrorTxt_Func("CFont::Save: The font has no bitmap.", __FILE__, __LINE__);
    // The file always holds a 24-bit picture, which is what Load accepts.
    CBitmap rgb;
    const CBitmap* picture = image;
    if (image->bits != 24 || image->trueColor == 0) {
        if (!MakeRGB24(rgb, image->width, image->height))
            return FALSE;
        if (image->bits != 32)
            rgb.Blt(image, 0, 0, 0, 0, -1, -1, 0, 0, 0);
        else
            for (int32_t y = 0; y < image->height; ++y)
                for (int32_t x = 0; x < image->width; ++x) {
                    TRGBA c(0, 0, 0);
                    image->GetPixel(x, y, &c);
                    rgb.PutPixel(x, y, &c);
                }
        picture = &rgb;
    }
    CXIFF file;
    if (fileName == nullptr || !file.Open(fileName, XFILE_WRITE | XFILE_CREATE_DIRS | kOrder))
        return FALSE;
    bool ok = file.AddChunk("XBF", 0) && file.AddChunk("HEADER", 0) &&
              file.WriteByte(static_cast<int8_t>(kVersion)) && file.WriteWord(height) &&
              file.WriteWord(spacing) && file.WriteWord(lineAdvance) && file.EndChunk() &&
              file.AddChunk("LETTER DATA", 0);
    for (const TCharEntry& e : chars)
        ok = ok && file.WriteWord(e.x) && file.WriteWord(e.y) && file.WriteWord(e.width) &&
             file.WriteByte(static_cast<int8_t>(e.type)) && file.WriteByte(static_cast<int8_t>(e.value));
    ok = ok && file.EndChunk() && file.AddChunk("FONT BITMAP", 0) &&
         type->Save(&file, const_cast<CBitmap*>(picture), nullptr, nullptr, 0) && file.EndChunk() &&
         file.EndChunk();
    file.Close();
    if (!ok)
        return xErrorf("CFont::Save: Failed to write \"%s\".", fileName);
    return TRUE;
}

// ---------------------------------------------------------------- colours

SFontColor* CFont::FindColor(const TRGBA& colour)
{
    for (colourFonts.First(); colourFonts.Exists(); colourFonts.Next()) {
        auto* v = static_cast<SFontColor*>(colourFonts.Get());
        if (v->color.r == colour.r && v->color.g == colour.g && v->color.b == colour.b)
            return v;
    }
    return nullptr;
}

int32_t CFont::CreateColor(TRGBA colour)
{
    if (FindColor(colour) != nullptr)
        return FALSE;
    if (image == nullptr || image->data == nullptr)
        return xErrorTxt_Func("CFont::CreateColor: The font has no bitmap.", __FILE__, __LINE__);
    // The area that holds glyphs: the bounding box of every rectangle.
    int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;
    for (const TCharEntry& e : chars) {
        x0 = std::min<int32_t>(x0, e.x);
        y0 = std::min<int32_t>(y0, e.y);
        x1 = std::max<int32_t>(x1, e.x + e.width);
        y1 = std::max<int32_t>(y1, e.y + height);
    }
    CBitmap* variant = XNEW(CBitmap);
    if (variant == nullptr || x1 <= x0 || y1 <= y0 || !MakeRGB24(*variant, x1 - x0, y1 - y0)) {
        XDELETE(variant);
        return xErrorTxt_Func("Couldn't allocate bitmap for new font!\n", __FILE__, __LINE__);
    }
    // The picture is an intensity mask. Drawing skips pixels that equal the
    // copy's top-left pixel (the background), so a glyph pixel whose tint
    // comes out equal to it (any pixel of black text) is moved to the
    // nearest distinct colour rather than vanish.
    const uint8_t keyV = Intensity(*image, x0, y0);
    uint8_t key[3];
    Tint(colour, keyV, key);
    for (int32_t y = 0; y < variant->height; ++y) {
        uint8_t* p = variant->data + static_cast<ptrdiff_t>(y) * variant->pitch;
        for (int32_t x = 0; x < variant->width; ++x, p += 3) {
            uint8_t v = Intensity(*image, x0 + x, y0 + y);
            Tint(colour, v, p);
            if (v != keyV && std::memcmp(p, key, 3) == 0)
                p[2] ^= 1;
        }
    }
    if (!tvfont::ScreenConvert(variant, true)) {
        XDELETE(variant);
        return FALSE;
    }
    variant->bounds.Set(0, 0, variant->width - 1, variant->height - 1);
    auto* entry = XNEW(SFontColor);
    if (entry == nullptr) {
        XDELETE(variant);
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    }
    entry->x = static_cast<int16_t>(x0);
    entry->y = static_cast<int16_t>(y0);
    entry->bitmap = variant;
    entry->color = colour;
    colourFonts.InsertLast(entry);
    return TRUE;
}
