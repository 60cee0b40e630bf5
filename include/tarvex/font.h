// Bitmap fonts: one picture holds every glyph, and a table of 255 entries
// says for each byte value where its glyph lies, how wide it is, or which
// action the byte stands for (end of text, new line, pen moves). Text is laid
// out in a box with word wrap, centring and clipping, and drawn into a bitmap
// or onto the screen; the same layout measures text without drawing. Tinted
// copies of the glyph picture (one per colour) give coloured text. Fonts are
// stored as XBF files: an XIFF file with the chunks "XBF" > "HEADER",
// "LETTER DATA", "FONT BITMAP".
#pragma once

#include <tarvex/export.h>

#include <tarvex/bitmap.h>
#include <tarvex/llist.h>

// The table covers the byte values 0..254; byte 255 has no entry.
constexpr int32_t XFONT_CHARS = 255;

// One table entry. The glyph's rectangle in the picture is (x, y, width,
// the font's height).
struct TARVEX_API TCharEntry {
    int16_t x;
    int16_t y;
    int16_t width;
    uint8_t type;  // XCHAR_*
    uint8_t value; // parameter of a control type; 255: taken from the next text byte
};

// An input glyph of SetFont; a list ends with an entry of width -1.
struct TARVEX_API TCharData {
    int16_t x;
    int16_t y;
    int16_t width;
};

// What Text and GetLineIndex report about a layout.
struct TARVEX_API TTextInfo {
    int16_t endX;          // pen x at the end
    int16_t endY;          // pen y at the end
    int16_t width;         // text width (the widest line)
    int16_t height;        // text height
    int16_t lastLineWidth; // width of the last line
    int16_t lastIndex;     // index of the last character that fits
    int16_t lastLineStart; // index where the last line laid out starts
};

// Entry types.
enum : uint8_t {
    XCHAR_GLYPH = 0,
    XCHAR_END = 1,
    XCHAR_NEWLINE = 3,   // pen to the line start, down by the value
    XCHAR_UP = 100,      // pen y -= value
    XCHAR_DOWN = 101,    // pen y += value
    XCHAR_LEFT = 102,    // pen x -= value, the line narrows
    XCHAR_RIGHT = 103,   // pen x += value, the line widens (the blank)
    XCHAR_FROMTEXT = 255 // as a value: the parameter is the next byte of the text
};

// Text flags.
enum : int32_t {
    XTEXT_SINGLELINE = 1, // no wrapping (set by Text when the width is -1)
    XTEXT_CENTERH = 2,    // centre each line in the box
    XTEXT_CENTERV = 4,    // centre the block vertically in the box
    XTEXT_NOROOM = 0x400, // single line: a word that does not fit adds nothing to the width
};

// Font flags.
enum : uint8_t {
    XFONT_OWNS_IMAGE = 1, // image was made by Load and is released by Free
};

// Destinations of Text besides a bitmap.
CBitmap* const XTEXT_SCREEN = nullptr;
CBitmap* const XTEXT_GUI = reinterpret_cast<CBitmap*>(static_cast<intptr_t>(-1));
CBitmap* const XTEXT_MEASURE = reinterpret_cast<CBitmap*>(static_cast<intptr_t>(-2));

// A tinted copy of the glyph picture, covering the area (x, y) ... of it
// that holds glyphs.
struct TARVEX_API SFontColor {
    int16_t x;
    int16_t y;
    CBitmap* bitmap; // owned by the font
    TRGBA color;     // compared by red, green and blue
};

class TARVEX_API CFont
{
  public:
    int16_t height = 0;  // glyph height in pixels
    int16_t spacing = 0; // extra pixels after every glyph
    int16_t reserved = 0;
    int16_t lineAdvance = 0;        // pixels from one line to the next (the new-line value)
    CBitmap* image = nullptr;       // glyph picture as loaded or given
    CBitmap* screenImage = nullptr; // image in the screen's format; the default drawing source (owned)
    TCharEntry chars[XFONT_CHARS] = {};
    CLList colourFonts;         // SFontColor*, owned
    CLList extras;              // emptied by Free
    uint8_t flags = 0;          // XFONT_*
    CBitmap* current = nullptr; // drawing source of the current Text call

    CFont() = default;
    // Copies are deep, except a picture the caller owns (SetFont), which
    // both share; a failed allocation leaves the copy without that part.
    CFont(const CFont& other);
    CFont& operator=(const CFont& other);
    virtual ~CFont();

    // Not supported: records error code 1.
    int32_t Create(int16_t width, int16_t height, int16_t bits, CPalette* palette);
    int32_t Load(const char* fileName, int16_t unused);
    int32_t Save(const char* fileName, int16_t unused);
    // A font over a picture the caller keeps owning: list entries become the
    // glyphs of the codes first, first + 1, ...; then new line (10), blank
    // (32) and end of text (0) get their defaults.
    int32_t SetFont(CBitmap* picture, TCharData* list, int16_t first, int16_t height, int16_t spacing);
    int32_t SetBasic(uint8_t code, uint8_t type, uint8_t value);
    int32_t SetCtrlCode(uint8_t code, uint8_t type);
    // Makes the tinted copy for a colour; 0 when it exists already.
    int32_t CreateColor(TRGBA colour);
    // Lays out and draws text in the box (x, y, w, h): dest is a bitmap,
    // XTEXT_SCREEN, XTEXT_GUI or XTEXT_MEASURE. Returns (height << 16) |
    // width, each clamped to 0..65535; 0 when the destination cannot be
    // drawn on.
    uint32_t Text(CBitmap* dest, const char* text, int16_t x, int16_t y, int16_t w, int16_t h, TRGBA* colour,
                  TTextInfo* info, int32_t flags);
    uint32_t GetTextSize(const char* text, int16_t w, int16_t h, int32_t flags);
    int32_t GetTextWidth(const char* text, int16_t w, int16_t h, int32_t flags);
    int32_t GetTextHeight(const char* text, int16_t w, int16_t h, int32_t flags);
    // 1 when the text needs more than maxLines lines: info then holds the
    // index of the last character on line maxLines and where that line
    // starts. 0 (both indices 0) when it fits.
    int16_t GetLineIndex(const char* text, int16_t w, int16_t h, int32_t maxLines, TTextInfo* info,
                         int32_t flags);
    int32_t Free();

    // The colour variant for the colour's red, green and blue; null if none.
    SFontColor* FindColor(const TRGBA& colour);
};
