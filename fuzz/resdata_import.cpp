// Fuzz target for resource data: the bytes are a resource file image. One
// starting with "PRES" goes through the packed path (header check, bounded
// expansion, zero-byte check), anything else is imported as script text.
// Whatever was set up must answer every look-up, parse every value as
// flags, hotkey and colour without harm, and free without leaving a block.
#include "fuzz_globals.h"

#include <tarvex/tarvex.h>

#include <cstring>
#include <vector>

namespace
{

[[noreturn]] void Die(const char* what) { fuzzglb::Stop("resdata_import", what); }

void Exercise(CResData& res)
{
    // The look-ups move the lists' own cursors: walk the nodes instead.
    for (const SLListNode* n = res.defines.first; n != nullptr; n = n->next) {
        auto* d = static_cast<TResDefine*>(n->data);
        int32_t id = 0;
        if (!res.GetResId(d->name, &id))
            Die("a define is not found by its own name");
        res.GetResName(d->id);
        res.GetResString(d->id, "");
        res.GetResValue(d->id);
    }
    for (const SLListNode* n = res.colors.first; n != nullptr; n = n->next) {
        auto* c = static_cast<TResColor*>(n->data);
        TRGBA out;
        if (c->count > 0 && !res.GetCol(c->name, &out, c->count - 1))
            Die("a colour list does not give its last entry");
        res.GetCntrlColor(c->name);
    }
    // Every value of every item left in the container, through each parser.
    res.MainChunk();
    res.FirstItem();
    for (int32_t guard = 0; guard < 100000 && res.ItemExists(); ++guard) {
        for (int32_t i = 0; i < res.GetNumStrings() && i < 16; ++i) {
            int32_t flags = 0;
            int16_t key = 0;
            TRGBA c;
            res.GetResFlags(i, &flags);
            res.GetHotkey(i, &key);
            res.GetColor(i, &c, i);
            res.GetFont(i);
            res.GetBitmap(i);
            res.GetAnim(i);
        }
        if (!res.NextItem(1) && !res.ItemExists())
            break;
    }
    if (res.EnterDataChunk())
        res.ExitDataChunk();
}

void Check(const uint8_t* data, size_t size)
{
    CResData* res = XNEW(CResData);
    if (res == nullptr)
        Die("no memory");
    if (size >= 12 && std::memcmp(data, "PRES", 4) == 0) {
        uint32_t n = data[4] | data[5] << 8 | data[6] << 16 | static_cast<uint32_t>(data[7]) << 24;
        if (static_cast<uint64_t>(n) + 12 == size) {
            uint32_t length = 0;
            char* text = xUnpackRes(reinterpret_cast<const char*>(data) + 12, n, &length, nullptr);
            if (text != nullptr) {
                if (std::strlen(text) != length)
                    Die("unpacked text length disagrees");
                res->Import(text);
                XFREE(text);
            }
        }
    } else {
        std::vector<char> text(size + 1);
        if (size != 0)
            std::memcpy(text.data(), data, size);
        text[size] = 0;
        res->Import(text.data());
    }
    Exercise(*res);
    XDELETE(res);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzglb::RunWithGlobals("resdata_import", false, Check, data, size);
}
