// tarvex_fontbuild: makes an XBF font from a TrueType or OpenType font
// through FreeType, so applications need no font files from elsewhere.
//
// Every glyph is rendered at the requested pixel size into a cell as wide as
// its advance and as tall as the font's ascent plus descent (ink beyond the
// advance is moved into the cell where it fits); the cells sit
// in rows of one 24-bit picture as grey coverage (black background, so the
// picture's top-left pixel is the colour key and CFont::CreateColor can tint
// it). The blank and the new line become control entries with the font's
// own advance and line height, the zero byte ends the text. The file is
// written by CFont::Save, so it always has the format CFont::Load reads, and
// the same input always gives the same bytes.
#include "../toolutil.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

const char* const kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Options {
    std::string font = kDefaultFont;
    std::string output;
    int size = 16;
    int spacing = 0;
    int pictureWidth = 256;
    bool latin1 = false;
    bool mono = false;
};

void Usage()
{
    std::fprintf(stderr,
                 "usage: tarvex_fontbuild [options] OUTPUT.xbf\n"
                 "  -f FILE   TrueType or OpenType font (default %s)\n"
                 "  -s N      pixel size (default 16)\n"
                 "  -p N      extra pixels after every glyph (default 0)\n"
                 "  -r RANGE  ascii (32-126, default) or latin1 (also 160-254)\n"
                 "  -m        monochrome glyphs (default: antialiased)\n"
                 "  -w N      width of the glyph picture (default 256)\n",
                 kDefaultFont);
}

bool Number(const char* text, int low, int high, int& out)
{
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "-m") {
            o.mono = true;
        } else if (a == "-f" && hasValue) {
            o.font = argv[++i];
        } else if (a == "-s" && hasValue) {
            if (!Number(argv[++i], 4, 200, o.size))
                return false;
        } else if (a == "-p" && hasValue) {
            if (!Number(argv[++i], -16, 64, o.spacing))
                return false;
        } else if (a == "-w" && hasValue) {
            if (!Number(argv[++i], 16, 4096, o.pictureWidth))
                return false;
        } else if (a == "-r" && hasValue) {
            std::string r = argv[++i];
            if (r != "ascii" && r != "latin1")
                return false;
            o.latin1 = r == "latin1";
        } else if (!a.empty() && a[0] != '-' && o.output.empty()) {
            o.output = a;
        } else {
            return false;
        }
    }
    return !o.output.empty();
}

int Ceil26(FT_Pos v) { return static_cast<int>((v + 63) >> 6); }

// One rendered glyph: its advance and coverage cut to its cell.
struct Glyph {
    int code = 0;
    int advance = 0;
    std::vector<uint8_t> cover; // advance x height
};

class CBuilder
{
  public:
    explicit CBuilder(const Options& o) : m_o(o) {}
    ~CBuilder()
    {
        if (m_face != nullptr)
            FT_Done_Face(m_face);
        if (m_lib != nullptr)
            FT_Done_FreeType(m_lib);
    }

    bool Open()
    {
        if (FT_Init_FreeType(&m_lib) != 0)
            return Fail("FreeType could not be started");
        if (FT_New_Face(m_lib, m_o.font.c_str(), 0, &m_face) != 0)
            return Fail("cannot open the font " + m_o.font);
        FT_Select_Charmap(m_face, FT_ENCODING_UNICODE);
        if (FT_Set_Pixel_Sizes(m_face, 0, static_cast<FT_UInt>(m_o.size)) != 0)
            return Fail("the font has no size " + std::to_string(m_o.size));
        const FT_Size_Metrics& m = m_face->size->metrics;
        m_ascent = Ceil26(m.ascender);
        m_height = m_ascent + Ceil26(-m.descender);
        m_lineAdvance = std::clamp(std::max(m_height, static_cast<int>((m.height + 32) >> 6)), 1, 254);
        if (m_height <= 0 || m_height > 32767)
            return Fail("the font has no usable height");
        return true;
    }

    // Renders one character into its cell.
    bool Render(int code, Glyph& g)
    {
        FT_Int32 flags = m_o.mono ? FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME
                                  : FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL;
        g.code = code;
        if (FT_Load_Char(m_face, static_cast<FT_ULong>(code), flags) != 0)
            return Fail("cannot render character " + std::to_string(code));
        FT_GlyphSlot slot = m_face->glyph;
        g.advance = std::clamp(static_cast<int>((slot->advance.x + 32) >> 6), 0, 32767);
        g.cover.assign(static_cast<size_t>(g.advance) * m_height, 0);
        const FT_Bitmap& bm = slot->bitmap;
        // Ink that pokes out of the cell by a bearing is moved in, as far as
        // it fits; ink wider than the cell keeps its place and is cut.
        const int inkWidth = static_cast<int>(bm.width);
        const int left = std::clamp(slot->bitmap_left, std::min(0, g.advance - inkWidth),
                                    std::max(0, g.advance - inkWidth));
        for (unsigned row = 0; row < bm.rows; ++row) {
            int y = m_ascent - slot->bitmap_top + static_cast<int>(row);
            if (y < 0 || y >= m_height)
                continue;
            const uint8_t* line = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
            for (unsigned col = 0; col < bm.width; ++col) {
                int x = left + static_cast<int>(col);
                if (x < 0 || x >= g.advance)
                    continue;
                uint8_t v = bm.pixel_mode == FT_PIXEL_MODE_MONO
                                ? ((line[col >> 3] >> (7 - (col & 7))) & 1) * 255
                                : line[col];
                uint8_t& c = g.cover[static_cast<size_t>(y) * g.advance + x];
                c = std::max(c, v);
            }
        }
        return true;
    }

    int SpaceAdvance()
    {
        Glyph g;
        return Render(' ', g) ? std::clamp(g.advance, 0, 254) : 4;
    }

    bool Build()
    {
        std::vector<int> codes;
        for (int c = 33; c <= 126; ++c)
            codes.push_back(c);
        if (m_o.latin1)
            for (int c = 160; c <= 254; ++c)
                codes.push_back(c);
        std::vector<Glyph> glyphs(codes.size());
        for (size_t i = 0; i < codes.size(); ++i)
            if (!Render(codes[i], glyphs[i]))
                return false;

        // Cells in rows; column 0 stays empty so the top-left pixel is background.
        struct Place {
            int x, y;
        };
        std::vector<Place> places(glyphs.size());
        int x = 1, y = 0;
        for (size_t i = 0; i < glyphs.size(); ++i) {
            if (x + glyphs[i].advance > m_o.pictureWidth && x > 1) {
                x = 1;
                y += m_height;
            }
            places[i] = {x, y};
            x += glyphs[i].advance;
        }
        int pictureHeight = y + m_height;
        int pictureWidth = m_o.pictureWidth;
        for (size_t i = 0; i < glyphs.size(); ++i)
            pictureWidth = std::max(pictureWidth, places[i].x + glyphs[i].advance);
        if (pictureWidth > 32767 || pictureHeight > 32767)
            return Fail("the glyphs do not fit a picture of 32767 x 32767 pixels");

        CBitmap* picture = XNEW(CBitmap);
        if (picture == nullptr ||
            !picture->CreateRGB(pictureWidth, pictureHeight, 24, 8, 8, 8, 16, 8, 0, 0)) {
            XDELETE(picture);
            return Fail("no memory for the glyph picture");
        }
        for (size_t i = 0; i < glyphs.size(); ++i)
            for (int gy = 0; gy < m_height; ++gy)
                for (int gx = 0; gx < glyphs[i].advance; ++gx) {
                    uint8_t v = glyphs[i].cover[static_cast<size_t>(gy) * glyphs[i].advance + gx];
                    uint8_t* p = picture->data + static_cast<ptrdiff_t>(places[i].y + gy) * picture->pitch +
                                 static_cast<ptrdiff_t>(places[i].x + gx) * 3;
                    p[0] = p[1] = p[2] = v;
                }

        // The table from the blank on: every code up to the last one gets an
        // entry (codes without a glyph are empty).
        int last = codes.back();
        std::vector<TCharData> list(static_cast<size_t>(last - 32 + 2), TCharData{0, 0, 0});
        for (size_t i = 0; i < glyphs.size(); ++i)
            list[static_cast<size_t>(codes[i] - 32)] =
                TCharData{static_cast<int16_t>(places[i].x), static_cast<int16_t>(places[i].y),
                          static_cast<int16_t>(glyphs[i].advance)};
        list.back().width = -1;

        CFont* font = XNEW(CFont);
        bool ok = font != nullptr &&
                  font->SetFont(picture, list.data(), 32, static_cast<int16_t>(m_height),
                                static_cast<int16_t>(m_o.spacing)) &&
                  font->SetBasic(' ', XCHAR_RIGHT, static_cast<uint8_t>(SpaceAdvance())) &&
                  font->SetBasic('\n', XCHAR_NEWLINE, static_cast<uint8_t>(m_lineAdvance)) &&
                  font->SetBasic(0, XCHAR_END, 0) && font->Save(m_o.output.c_str(), 0);
        if (!ok)
            Fail(std::string("cannot write ") + m_o.output + ": " + glb->error.GetError());
        XDELETE(font);
        XDELETE(picture);
        if (ok)
            std::printf("%s: %zu glyphs, height %d, line advance %d, picture %dx%d\n", m_o.output.c_str(),
                        glyphs.size(), m_height, m_lineAdvance, pictureWidth, pictureHeight);
        return ok;
    }

  private:
    bool Fail(const std::string& text)
    {
        std::fprintf(stderr, "tarvex_fontbuild: %s\n", text.c_str());
        return false;
    }

    const Options& m_o;
    FT_Library m_lib = nullptr;
    FT_Face m_face = nullptr;
    int m_ascent = 0;
    int m_height = 0;
    int m_lineAdvance = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        Usage();
        return 2;
    }
    tvtool::Globals globals;
    if (!globals.ok)
        return 1;
    CBMPPic* bmp = XNEW(CBMPPic); // the picture type that stores the glyphs
    bool ok = false;
    {
        CBuilder builder(o);
        ok = bmp != nullptr && builder.Open() && builder.Build();
    }
    XDELETE(bmp);
    return ok ? 0 : 1;
}
