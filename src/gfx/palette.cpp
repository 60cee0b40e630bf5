// The 256-colour palette: ".pal" loading, colour matching over the squares
// table, and the colour-match table (5-5-5 colour -> palette index) that
// conversions to 8 bits use, cached beside the palette in a ".tab" file and
// in the globals.
#include "gfx/pixel.h"

#include <tarvex/bitmap.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstdio>
#include <cstring>

namespace
{
constexpr int32_t kPalHeader = 24;
constexpr int32_t kNoDistance = 0x30000;

// i * i for |i| < 256, from the globals' table when it exists.
inline int32_t Square(int32_t d)
{
    if (d < 0)
        d = -d;
    if (glb != nullptr && glb->squares != nullptr)
        return glb->squares[d];
    return d * d;
}

inline int32_t Distance(const TRGBA& a, const TRGBA& b)
{
    return Square(a.r - b.r) + Square(a.g - b.g) + Square(a.b - b.b);
}
} // namespace

CPalette::CPalette()
{
    for (int i = 0; i < 256; ++i)
        colors[i] = TRGBA(static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0);
    SetName(".pal", nullptr);
}

CPalette::CPalette(const CPalette& other)
{
    Clone(&other);
}

CPalette& CPalette::operator=(const CPalette& other)
{
    Clone(&other);
    return *this;
}

CPalette::~CPalette()
{
    if (name != nullptr)
        XFREE(name);
    name = nullptr;
}

int32_t CPalette::SetName(const char* text, const char* failText)
{
    if (text == nullptr)
        text = "";
    if (name != nullptr && std::strcmp(name, text) == 0)
        return TRUE;
    size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(XALLOC(n));
    if (copy == nullptr)
        return failText != nullptr ? xErrorTxt_Func(failText, __FILE__, __LINE__) : FALSE;
    std::memcpy(copy, text, n);
    if (name != nullptr)
        XFREE(name);
    name = copy;
    return TRUE;
}

int32_t CPalette::Load(const char* fileName)
{
    CFile file;
    if (fileName == nullptr || !file.Open(fileName, XFILE_READ))
        return xErrorTxt_Func("Palette - Unable to open file", __FILE__, __LINE__);
    if (!SetName(fileName, "CPalette::Load: Memory allocation for palette name failed."))
        return FALSE;
    if (!file.Seek(kPalHeader, XSEEK_SET))
        return FALSE;
    for (auto& c : colors) {
        uint8_t entry[4];
        if (!file.Read(entry, 4))
            return FALSE; // a short file keeps what was read
        c.r = entry[0];
        c.g = entry[1];
        c.b = entry[2];
    }
    file.Close();
    return TRUE;
}

int32_t CPalette::Clone(const CPalette* from)
{
    if (from == nullptr)
        return FALSE;
    if (from == this)
        return TRUE;
    firstIndex = from->firstIndex;
    lastIndex = from->lastIndex;
    std::memcpy(colors, from->colors, sizeof colors);
    return SetName(from->name, "CPalette::Clone: Memory allocation for palette name failed.");
}

void CPalette::SetPalette(const TRGBA* entries)
{
    if (entries != nullptr)
        std::memcpy(colors, entries, sizeof colors);
}

int32_t CPalette::SetIndex(const TRGBA* c, uint32_t index)
{
    if (c == nullptr || index >= 256)
        return TRUE;
    colors[index].r = c->r;
    colors[index].g = c->g;
    colors[index].b = c->b;
    return TRUE;
}

int32_t CPalette::GetIndex(TRGBA* c, uint32_t index) const
{
    if (c == nullptr)
        return FALSE;
    if (index >= 256) {
        c->r = c->g = c->b = 0;
        return FALSE;
    }
    c->r = colors[index].r;
    c->g = colors[index].g;
    c->b = colors[index].b;
    return TRUE;
}

int32_t CPalette::FindMatch(const TRGBA* c) const
{
    int32_t best = firstIndex;
    if (c == nullptr)
        return best;
    int32_t bestDist = kNoDistance;
    for (int32_t i = firstIndex; i < lastIndex; ++i) {
        int32_t d = Distance(*c, colors[i]);
        if (d == 0)
            return i;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

int32_t CPalette::FindSecondBest(const TRGBA* c) const
{
    int32_t best = firstIndex;
    if (c == nullptr || firstIndex > lastIndex)
        return best;
    int32_t first = FindMatch(c);
    int32_t bestDist = kNoDistance;
    for (int32_t i = firstIndex; i <= lastIndex; ++i) {
        if (i == first)
            continue;
        int32_t d = Distance(*c, colors[i]);
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

// ---------------------------------------------------------------- colour-match table

namespace
{
bool SamePalette(const CPalette* a, const CPalette* b)
{
    if (a->firstIndex != b->firstIndex || a->lastIndex != b->lastIndex)
        return false;
    for (int i = 0; i < 256; ++i)
        if (a->colors[i].r != b->colors[i].r || a->colors[i].g != b->colors[i].g ||
            a->colors[i].b != b->colors[i].b)
            return false;
    const char* na = a->name != nullptr ? a->name : "";
    const char* nb = b->name != nullptr ? b->name : "";
    return std::strcmp(na, nb) == 0;
}

uint8_t MatchEntry(const CPalette* pal, uint32_t i)
{
    TRGBA c(static_cast<uint8_t>(((i >> 10) & 31) << 3), static_cast<uint8_t>(((i >> 5) & 31) << 3),
            static_cast<uint8_t>((i & 31) << 3));
    return static_cast<uint8_t>(pal->FindMatch(&c));
}

// A table file written for another palette of the same name would map every
// colour wrongly; a spread of spot checks catches that and rebuilds it.
bool TableFits(const CPalette* pal, const uint8_t* table, uint32_t count)
{
    for (uint32_t i = 0; i < count; i += 521)
        if (table[i] != MatchEntry(pal, i))
            return false;
    return true;
}

void BuildTable(const CPalette* pal, uint8_t* table)
{
    char tabName[1024];
    const char* base = pal->name != nullptr ? pal->name : "";
    bool named = std::strlen(base) + 5 <= sizeof tabName;
    if (named)
        std::snprintf(tabName, sizeof tabName, "%s.tab", base);

    uint32_t have = 0;
    if (named && xFileExists(tabName)) {
        CFile file;
        uint32_t size = 0;
        if (file.Open(tabName, XFILE_READ) && file.GetSize(&size)) {
            have = size < kColorMatchSize ? size : kColorMatchSize;
            if (!file.Read(table, have) || !TableFits(pal, table, have))
                have = 0;
        }
    }
    if (have == kColorMatchSize)
        return;
    // A short file keeps its entries; the rest is computed.
    for (uint32_t i = have; i < kColorMatchSize; ++i)
        table[i] = MatchEntry(pal, i);
    if (named) {
        CFile out;
        if (out.Open(tabName, XFILE_WRITE))
            out.Write(table, kColorMatchSize);
    }
}
} // namespace

const uint8_t* xGetColorMatch(const CPalette* pal)
{
    if (glb == nullptr || pal == nullptr)
        return nullptr;
    if (glb->colorMatch != nullptr && glb->currentPalette != nullptr && SamePalette(glb->currentPalette, pal))
        return glb->colorMatch;
    xDiscardColorMatch();
    auto* table = static_cast<uint8_t*>(XALLOC(kColorMatchSize));
    CPalette* copy = XNEW(CPalette);
    if (table == nullptr || copy == nullptr || !copy->Clone(pal)) {
        if (table != nullptr)
            XFREE(table);
        XDELETE(copy);
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    BuildTable(pal, table);
    glb->colorMatch = table;
    glb->currentPalette = copy;
    return table;
}

void xDiscardColorMatch()
{
    if (glb == nullptr)
        return;
    if (glb->colorMatch != nullptr)
        XFREE(glb->colorMatch);
    glb->colorMatch = nullptr;
    XDELETE(glb->currentPalette);
    glb->currentPalette = nullptr;
}
