// CFont text layout and drawing: one layout engine serves Text (drawing into
// a bitmap or onto the screen), the measuring calls and GetLineIndex, so
// what is measured is exactly what is drawn.
//
// The engine walks the text once: runs of special characters (end, new
// line, pen moves, the blank) act on the pen; a run of glyphs is a word,
// which wraps to a new line when it does not fit. Pen positions are kept in
// 64 bits, so no text can overflow them; results are clamped to their
// 16-bit fields. The zero byte always ends a text, whatever its table entry
// says, and byte 255 (no entry) is skipped.
#include "gfx/font_screen.h"

#include <tarvex/font.h>
#include <tarvex/frame.h>

#include <algorithm>
#include <cstring>

namespace
{

using tvfont::ScreenBlit;

int16_t Clamp16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX)); }
uint32_t PackSize(int64_t width, int64_t height)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(height, 0, 65535)) << 16 |
           static_cast<uint32_t>(std::clamp<int64_t>(width, 0, 65535));
}

bool BltSupports(const CBitmap& dest, const CBitmap& src)
{
    if (dest.bytesPerPixel != dest.bits / 8 || src.bytesPerPixel != src.bits / 8)
        return false;
    if (dest.bits == 8)
        return src.bits == 8;
    return (dest.bits == 16 || dest.bits == 24) && (src.bits == 8 || src.bits == 16 || src.bits == 24);
}

// Where the glyphs go.
class CTarget
{
  public:
    enum Kind { kBitmap, kScreen, kGui };

    CTarget(Kind kind, CBitmap* dest, CBitmap* source, int32_t ox, int32_t oy)
        : m_kind(kind), m_dest(dest), m_source(source), m_ox(ox), m_oy(oy)
    {
        std::memset(m_cacheUsed, 0, sizeof m_cacheUsed);
    }

    // Draws the glyph pixels at (gx, gy) of the font picture, w x h, to
    // (dx, dy); pixels equal to the source's top-left pixel are left out.
    void Glyph(int32_t gx, int32_t gy, int32_t dx, int32_t dy, int32_t w, int32_t h)
    {
        if (m_source == nullptr || m_source->data == nullptr)
            return;
        int32_t sx = gx - m_ox, sy = gy - m_oy;
        if (m_kind != kBitmap) {
            ScreenBlit(m_kind == kGui, m_source, sx, sy, dx, dy, w, h);
            return;
        }
        if (BltSupports(*m_dest, *m_source)) {
            m_dest->Blt(m_source, sx, sy, dx, dy, w, h, XBLT_COLORKEY, 0, 0);
            return;
        }
        Matched(sx, sy, dx, dy, w, h);
    }

  private:
    // Depth pairs that Blt does not copy (true colour onto 8 bits, 32-bit
    // pictures): pixel by pixel, onto 8-bit bitmaps through their palette.
    void Matched(int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h)
    {
        CBitmap& d = *m_dest;
        const CBitmap& s = *m_source;
        if (d.data == nullptr || s.bytesPerPixel < 1 || s.bytesPerPixel > 4 || d.bytesPerPixel < 1 ||
            d.bytesPerPixel > 4 || s.width <= 0 || s.height <= 0)
            return;
        CRect srcArea, dstArea;
        if (!srcArea.Intersect(s.bounds, CRect(0, 0, s.width - 1, s.height - 1)) ||
            !dstArea.Intersect(d.bounds, CRect(0, 0, d.width - 1, d.height - 1)) ||
            !xClipBlit(sx, sy, w, h, dx, dy, srcArea, dstArea))
            return;
        const int32_t sb = s.bytesPerPixel;
        const bool indexed = d.trueColor == 0 && d.bytesPerPixel == 1;
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* sp =
                s.data + static_cast<ptrdiff_t>(sy + y) * s.pitch + static_cast<ptrdiff_t>(sx) * sb;
            for (int32_t x = 0; x < w; ++x, sp += sb) {
                if (std::memcmp(sp, s.data, static_cast<size_t>(sb)) == 0)
                    continue;
                TRGBA c(0, 0, 0);
                s.GetPixel(sx + x, sy + y, &c);
                if (indexed)
                    d.data[static_cast<ptrdiff_t>(dy + y) * d.pitch + dx + x] = Index(c);
                else
                    d.PutPixel(dx + x, dy + y, &c);
            }
        }
        d.changed = 1;
    }

    // Palette index of a colour, through a small cache: a glyph picture has
    // few distinct colours.
    uint8_t Index(const TRGBA& c)
    {
        uint32_t rgb = static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
        uint32_t slot = (rgb * 2654435761u) >> 24;
        if (m_cacheUsed[slot] && m_cacheKey[slot] == rgb)
            return m_cacheIndex[slot];
        CPalette grey;
        const CPalette* pal = m_dest->palette != nullptr ? m_dest->palette : &grey;
        auto index = static_cast<uint8_t>(pal->FindMatch(&c));
        m_cacheUsed[slot] = true;
        m_cacheKey[slot] = rgb;
        m_cacheIndex[slot] = index;
        return index;
    }

    Kind m_kind;
    CBitmap* m_dest;
    CBitmap* m_source;
    int32_t m_ox, m_oy;
    bool m_cacheUsed[256];
    uint32_t m_cacheKey[256] = {};
    uint8_t m_cacheIndex[256] = {};
};

// One layout of a text in a box. A box side below 0 is unbounded.
class CLayout
{
  public:
    CLayout(const CFont& font, const uint8_t* text, int64_t x, int64_t y, int64_t w, int64_t h, int32_t flags)
        : m_font(font), m_text(text), m_x(x), m_y(y), m_w(w), m_h(h), m_flags(flags)
    {
    }

    int32_t maxLines = 0;       // > 0: stop where line maxLines + 1 would start
    CTarget* target = nullptr;  // null: measure only
    bool firstLineOnly = false; // stop at the end of the first line

    // Results.
    int64_t penX = 0, penY = 0;
    int64_t width = 0;      // the widest line
    int64_t lineWidth = 0;  // width of the last line
    int64_t lastIndex = -1; // last character laid out (that fits)
    int64_t lineStart = 0;  // where the last line starts
    bool needsMoreLines = false;

    int64_t Height() const { return penY - m_y + m_font.height; }

    void Run(int64_t start)
    {
        const TCharEntry* chars = m_font.chars;
        int64_t pos = start;
        penX = m_x + Room(pos);
        penY = m_y;
        lineStart = start;
        lastIndex = start - 1;
        m_lines = 1;
        for (;;) {
            if (!Specials(pos))
                break;
            // A word: the glyphs up to the next special character.
            int64_t end = pos;
            int64_t wordWidth = 0;
            while (IsGlyph(m_text[end]))
                wordWidth += chars[m_text[end++]].width + m_font.spacing;
            if (Wraps(pos, end)) {
                if (maxLines > 0)
                    dprintf("WORDWRAP\n");
                if (!NewLine(m_font.lineAdvance, pos))
                    break;
            }
            const bool clipped = Single() && Bounded() && lineWidth + wordWidth > m_w;
            const int64_t right = m_x + m_w;
            for (int64_t i = pos; i < end; ++i) {
                const TCharEntry& e = chars[m_text[i]];
                if (clipped && penX >= right)
                    break;
                Draw(e);
                if (!clipped || penX + e.width <= right)
                    lastIndex = i;
                penX += e.width + m_font.spacing;
                if (!clipped)
                    lineWidth += e.width + m_font.spacing;
            }
            if (clipped) {
                // The line ends with the word that does not fit.
                if ((m_flags & XTEXT_NOROOM) == 0)
                    lineWidth += std::max<int64_t>(0, m_w - lineWidth);
                break;
            }
            pos = end;
        }
        width = std::max(width, lineWidth);
    }

  private:
    bool Single() const { return (m_flags & XTEXT_SINGLELINE) != 0; }
    bool Bounded() const { return m_w >= 0; }
    bool IsGlyph(uint8_t c) const { return c != 0 && c != 255 && m_font.chars[c].type == XCHAR_GLYPH; }

    // Acts on the special characters at pos; false when the text ends.
    bool Specials(int64_t& pos)
    {
        for (;;) {
            const uint8_t c = m_text[pos];
            if (c == 0)
                return false;
            if (c == 255) { // no table entry
                lastIndex = pos++;
                continue;
            }
            const TCharEntry& e = m_font.chars[c];
            if (e.type == XCHAR_GLYPH)
                return true;
            ++pos;
            int64_t v = e.value;
            if (v == XCHAR_FROMTEXT) {
                if (m_text[pos] == 0)
                    return false; // a control code without its parameter ends the text
                v = m_text[pos++];
            }
            if (e.type == XCHAR_END)
                return false;
            lastIndex = pos - 1;
            switch (e.type) {
            case XCHAR_NEWLINE:
                if (!NewLine(v, pos))
                    return false;
                break;
            case XCHAR_UP:
                penY -= v;
                break;
            case XCHAR_DOWN:
                penY += v;
                break;
            case XCHAR_LEFT:
                penX -= v;
                lineWidth -= v;
                break;
            case XCHAR_RIGHT:
                penX += v;
                lineWidth += v;
                break;
            default:
                break;
            }
        }
    }

    // Whether the word [pos, end) moves to a new line: as soon as the line
    // and the word so far exceed the box, unless the word so far is already
    // as wide as the box on its own (it is then clipped where it stands).
    bool Wraps(int64_t pos, int64_t end) const
    {
        if (Single() || !Bounded())
            return false;
        int64_t partial = 0;
        for (int64_t i = pos; i < end; ++i) {
            partial += m_font.chars[m_text[i]].width + m_font.spacing;
            if (lineWidth + partial > m_w)
                return partial < m_w || lineWidth > m_w;
        }
        return false;
    }

    // Starts the line that begins at next, advance pixels down; false when
    // the layout stops instead.
    bool NewLine(int64_t advance, int64_t next)
    {
        width = std::max(width, lineWidth);
        if (firstLineOnly)
            return false;
        if (maxLines > 0 && m_lines >= maxLines) {
            needsMoreLines = true;
            lastIndex = next - 1;
            return false;
        }
        ++m_lines;
        penY += advance;
        lineWidth = 0;
        lineStart = next;
        penX = m_x + Room(next);
        return true;
    }

    // With centring, the pen's offset from the left edge for the line that
    // starts at pos: half the room the line leaves (never negative).
    int64_t Room(int64_t pos) const
    {
        if ((m_flags & XTEXT_CENTERH) == 0 || !Bounded())
            return 0;
        int32_t flags = m_flags & ~(XTEXT_CENTERH | XTEXT_CENTERV);
        if (Single())
            flags |= XTEXT_NOROOM;
        CLayout line(m_font, m_text, 0, 0, m_w, -1, flags);
        line.firstLineOnly = true;
        line.Run(pos);
        return std::max<int64_t>(0, (m_w - line.width) / 2);
    }

    // Draws one glyph at the pen, cut to the box.
    void Draw(const TCharEntry& e)
    {
        if (target == nullptr || e.width <= 0 || m_font.height <= 0)
            return;
        if (m_h >= 0 && (penY < m_y || penY >= m_y + m_h))
            return;
        int64_t x0 = penX, y0 = penY, x1 = penX + e.width, y1 = penY + m_font.height;
        if (Bounded()) {
            x0 = std::max(x0, m_x);
            x1 = std::min(x1, m_x + m_w);
        }
        if (m_h >= 0)
            y1 = std::min(y1, m_y + m_h);
        // Far outside any picture: nothing to draw (and no 32-bit overflow).
        constexpr int64_t kFar = 1 << 30;
        if (x0 >= x1 || y0 >= y1 || x0 < -kFar || x0 > kFar || y0 < -kFar || y0 > kFar)
            return;
        target->Glyph(static_cast<int32_t>(e.x + (x0 - penX)), static_cast<int32_t>(e.y + (y0 - penY)),
                      static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                      static_cast<int32_t>(y1 - y0));
    }

    const CFont& m_font;
    const uint8_t* m_text;
    int64_t m_x, m_y, m_w, m_h;
    int32_t m_flags;
    int32_t m_lines = 1;
};

// Box sides: -1 is unbounded; other negative sizes are an empty box.
int64_t Side(int16_t v) { return v == -1 ? -1 : std::max<int64_t>(v, 0); }

void Fill(TTextInfo* info, const CLayout& l)
{
    if (info == nullptr)
        return;
    info->endX = Clamp16(l.penX);
    info->endY = Clamp16(l.penY);
    info->width = Clamp16(l.width);
    info->height = Clamp16(l.Height());
    info->lastLineWidth = Clamp16(l.lineWidth);
    info->lastIndex = Clamp16(l.lastIndex);
    info->lastLineStart = Clamp16(l.lineStart);
}

const uint8_t* Bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

} // namespace

uint32_t CFont::Text(CBitmap* dest, const char* text, int16_t x, int16_t y, int16_t w, int16_t h,
                     TRGBA* colour, TTextInfo* info, int32_t flags)
{
    current = screenImage;
    if (text == nullptr || text[0] == 0)
        return TRUE;
    const bool screen = dest == XTEXT_SCREEN || dest == XTEXT_GUI;
    if (screen && !tvfont::ScreenReady(dest == XTEXT_GUI))
        return xErrorTxt_Func("CFont::Text: There is no screen to draw on.", __FILE__, __LINE__);

    int64_t bx = x, by = y, bw = Side(w), bh = Side(h);
    if ((flags & XTEXT_CENTERV) != 0 && h != -1) {
        int64_t free = bh - GetTextHeight(text, w, h, flags & XTEXT_SINGLELINE);
        if (free > 0) {
            by += free / 2;
            bh -= free / 2;
        }
    }
    int32_t modeW = 0, modeH = 0;
    if (screen)
        tvfont::ScreenSize(&modeW, &modeH);
    if (w == -1) {
        if (screen)
            bw = modeW;
        else if (dest != XTEXT_MEASURE)
            bw = dest->width;
        flags |= XTEXT_SINGLELINE;
    }
    if (h == -1) {
        if (screen)
            bh = modeH;
        else if (dest != XTEXT_MEASURE)
            bh = dest->height;
    }

    int32_t ox = 0, oy = 0;
    if (colour != nullptr) {
        if (SFontColor* v = FindColor(*colour)) {
            current = v->bitmap;
            ox = v->x;
            oy = v->y;
        }
    }
    CTarget target(dest == XTEXT_SCREEN ? CTarget::kScreen
                   : dest == XTEXT_GUI  ? CTarget::kGui
                                        : CTarget::kBitmap,
                   screen ? nullptr : dest, current, ox, oy);
    CLayout layout(*this, Bytes(text), bx, by, bw, bh, flags);
    if (dest != XTEXT_MEASURE)
        layout.target = &target;
    layout.Run(0);
    Fill(info, layout);
    return PackSize(layout.width, layout.Height());
}

uint32_t CFont::GetTextSize(const char* text, int16_t w, int16_t h, int32_t flags)
{
    if (text == nullptr)
        return 0;
    CLayout layout(*this, Bytes(text), 0, 0, Side(w), Side(h), flags);
    layout.Run(0);
    return PackSize(layout.width, layout.Height());
}

int32_t CFont::GetTextWidth(const char* text, int16_t w, int16_t h, int32_t flags)
{
    return static_cast<int32_t>(GetTextSize(text, w, h, flags) & 0xFFFF);
}

int32_t CFont::GetTextHeight(const char* text, int16_t w, int16_t h, int32_t flags)
{
    return static_cast<int32_t>(GetTextSize(text, w, h, flags) >> 16);
}

int16_t CFont::GetLineIndex(const char* text, int16_t w, int16_t h, int32_t maxLines, TTextInfo* info,
                            int32_t flags)
{
    if (text == nullptr)
        return 0;
    CLayout layout(*this, Bytes(text), 0, 0, Side(w), Side(h), flags);
    layout.maxLines = maxLines;
    layout.Run(0);
    Fill(info, layout);
    if (!layout.needsMoreLines) {
        if (info != nullptr)
            info->lastIndex = info->lastLineStart = 0;
        return 0;
    }
    return 1;
}
