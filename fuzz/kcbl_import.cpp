// Fuzz target for the KCBL reader: any bytes must import (or fail) cleanly,
// and whatever was read must export and read back to the same items, values
// and chunk structure, with the export text stable from then on.
#include "fuzz_globals.h"

#include <tarvex/tarvex.h>

#include <cstring>
#include <vector>

namespace
{

[[noreturn]] void Die(const char* what) { fuzzglb::Stop("kcbl_import", what); }

// Same items (keyword and value bytes) and the same tree, walked without recursion.
bool SameTree(const TKCBLChunk* a, const TKCBLChunk* b)
{
    std::vector<std::pair<const SLListNode*, const SLListNode*>> stack;
    const SLListNode* x = a->list.first != nullptr ? a->list.first->next : nullptr;
    const SLListNode* y = b->list.first != nullptr ? b->list.first->next : nullptr;
    for (;;) {
        if (x == nullptr || y == nullptr) {
            if (x != y)
                return false;
            if (stack.empty())
                return true;
            x = stack.back().first->next;
            y = stack.back().second->next;
            stack.pop_back();
            continue;
        }
        auto* i = static_cast<const TKCBLKeyword*>(x->data);
        auto* j = static_cast<const TKCBLKeyword*>(y->data);
        if (i->numStrings != j->numStrings || i->dataSize != j->dataSize ||
            std::memcmp(i->keyword, j->keyword, static_cast<size_t>(i->dataSize)) != 0 ||
            (i->subChunk == nullptr) != (j->subChunk == nullptr))
            return false;
        if (i->subChunk != nullptr) {
            stack.emplace_back(x, y);
            x = i->subChunk->list.first->next;
            y = j->subChunk->list.first->next;
        } else {
            x = x->next;
            y = y->next;
        }
    }
}

std::vector<char> ExportText(CKCBL& k)
{
    int32_t len = 0;
    if (!k.ExportSize(&len) || len < 0)
        Die("ExportSize failed on read text");
    std::vector<char> text(static_cast<size_t>(len) + 1);
    int32_t got = 0;
    if (!k.Export(text.data(), len + 1, &got) || got != len || text[static_cast<size_t>(len)] != 0)
        Die("Export failed or disagreed with ExportSize");
    if (len > 0) { // one byte short must fail, not overrun
        std::vector<char> small(static_cast<size_t>(len) - 1 + 1);
        int32_t l2 = 0;
        if (k.Export(small.data(), len - 1, &l2) || l2 != -1)
            Die("Export into a short buffer did not fail");
    }
    return text;
}

void Check(const uint8_t* data, size_t size)
{
    std::vector<char> text(size + 1);
    if (size != 0)
        std::memcpy(text.data(), data, size);
    text[size] = 0;

    CKCBL a;
    a.Import(text.data(), static_cast<int32_t>(size));
    // A short maximum line length (from the first byte) makes long strings split.
    int32_t maxLine = size != 0 && data[0] % 2 == 0 ? 1 + data[0] % 48 : 0;
    a.SetMaxLineLength(maxLine);
    // Items read before a failing line stay; they must round-trip as well.
    std::vector<char> out = ExportText(a);
    CKCBL b;
    b.SetMaxLineLength(maxLine);
    if (!b.Import(out.data(), static_cast<int32_t>(out.size())))
        Die("exported text does not import");
    if (!SameTree(&a.mainChunk, &b.mainChunk))
        Die("exported text imports to different items");
    std::vector<char> again = ExportText(b);
    if (again != out)
        Die("export is not stable");
    // Navigation over whatever was read stays bounded.
    a.MainChunk();
    a.FirstItem();
    for (int32_t guard = 0; guard < 1000000 && (a.NextItem(1) || a.ItemExists()); ++guard) {
    }
    CKCBL c(b);
    if (!SameTree(&b.mainChunk, &c.mainChunk))
        Die("copy differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzglb::RunWithGlobals("kcbl_import", false, Check, data, size);
}
