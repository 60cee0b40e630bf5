// Fuzz target: CFont::Load of arbitrary XBF files. A font that loads must
// hold a 24-bit picture with every glyph inside it, tint, lay out and draw
// every byte value into 8- and 24-bit bitmaps, and save and load again to
// the same table.
#include <tarvex/tarvex.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <unistd.h>

namespace
{

void Die(const char* what)
{
    std::fprintf(stderr, "font_load: %s\n", what);
    std::abort();
}

void Exercise(CFont& font, const std::string& name)
{
    if (font.image == nullptr || font.image->bits != 24 || font.screenImage == nullptr || font.height <= 0)
        Die("loaded without a 24-bit picture");
    for (const TCharEntry& e : font.chars)
        if (e.x < 0 || e.y < 0 || e.width < 0 || e.x + e.width > font.image->width ||
            e.y + font.height > font.image->height)
            Die("a glyph lies outside the picture");

    // Every byte value, control codes at the end included.
    char text[300];
    for (int i = 0; i < 255; ++i)
        text[i] = static_cast<char>(i + 1);
    text[255] = 0;
    TRGBA colour(200, 120, 40);
    font.CreateColor(colour);
    CBitmap rgb, idx;
    rgb.CreateRGB(64, 40, 24, 8, 8, 8, 16, 8, 0, 0);
    idx.CreateIndex(64, 40, 8, nullptr, 0);
    TTextInfo info;
    for (int32_t flags : std::initializer_list<int32_t>{0, XTEXT_SINGLELINE, XTEXT_CENTERH | XTEXT_CENTERV,
                                                        XTEXT_SINGLELINE | XTEXT_NOROOM}) {
        font.Text(&rgb, text, -5, 3, 50, 30, &colour, &info, flags);
        font.Text(&idx, text + 100, 2, -4, -1, -1, nullptr, &info, flags);
        font.GetTextSize(text + 200, 20, -1, flags);
        font.GetLineIndex(text, 30, 30, 2, &info, flags);
    }

    if (!font.Save(name.c_str(), 0))
        Die("a loaded font does not save");
    CFont again;
    if (!again.Load(name.c_str(), 0))
        Die("a saved font does not load");
    if (std::memcmp(again.chars, font.chars, sizeof font.chars) != 0 || again.height != font.height ||
        again.spacing != font.spacing || again.lineAdvance != font.lineAdvance)
        Die("the round trip changed the font");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals())
        return 0;
    std::string name = "/tmp/tarvex_fuzz_font_" + std::to_string(getpid());
    std::string in = name + ".xbf", out = name + "_out.xbf";
    CBMPPic* type = XNEW(CBMPPic);
    if (xWriteFile(in.c_str(), data, static_cast<uint32_t>(size))) {
        CFont* font = XNEW(CFont);
        if (font->Load(in.c_str(), 0))
            Exercise(*font, out);
        else if (font->image != nullptr || font->screenImage != nullptr)
            Die("a failed load kept a picture");
        XDELETE(font);
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    XDELETE(type);
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
