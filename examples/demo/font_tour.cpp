// The fonts part of the main example: a font made by the font builder is
// loaded, tinted in two colours and used to draw a centred title and a
// wrapped paragraph into a bitmap, which is saved as a BMP file.
#include "font_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace
{

const char* const kFont = "data/fonts/dejavusans16.xbf";

// The font beside the working directory, or in the source tree the program
// was built in (looked for above the program's own folder).
std::string FindFont()
{
    std::error_code ec;
    if (std::filesystem::exists(kFont, ec))
        return kFont;
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path()) {
        std::filesystem::path candidate = dir / kFont;
        if (std::filesystem::exists(candidate, ec))
            return candidate.string();
        if (dir == dir.parent_path())
            break;
    }
    return kFont;
}

} // namespace

bool FontTour(const std::string& folder)
{
    const std::string fontFile = FindFont();
    CFont* font = XNEW(CFont);
    CBitmap* page = XNEW(CBitmap);
    TRGBA paper(245, 240, 225), ink(40, 40, 60), title(170, 40, 30);
    bool ok = font->Load(fontFile.c_str(), 0) && font->CreateColor(ink) && font->CreateColor(title) &&
              page->CreateRGB(320, 200, 24, 8, 8, 8, 16, 8, 0, 0) && page->Fill(&paper);
    uint32_t size = 0;
    if (ok) {
        const char* text = "Text is laid out in a box: lines wrap between words, each line may be "
                           "centred, and whatever leaves the box is cut off at its edge.\n"
                           "One picture holds every glyph; each colour gets one tinted copy.";
        font->Text(page, "tarvex fonts", 0, 8, 320, 24, &title, nullptr, XTEXT_CENTERH | XTEXT_CENTERV);
        TTextInfo info{};
        size = font->Text(page, text, 12, 40, 296, 150, &ink, &info, 0);
        std::string file = folder + "/text.bmp";
        ok = page->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
        std::printf("fonts: %s, %d pixels high; a paragraph of %u x %u pixels drawn into %s\n",
                    fontFile.c_str(), font->height, size & 0xFFFF, size >> 16, file.c_str());
    }
    XDELETE(page);
    XDELETE(font);
    return ok;
}
