// Shared pieces of the KCBL container: the item block builder, the growable
// scratch buffer, value helpers and the character rules of the text form.
#pragma once

#include <tarvex/kcbl.h>
#include <tarvex/memory.h>

#include <array>
#include <cstring>

namespace kcbl
{

inline constexpr const char kDummyKeyword[] = "; I don't exist";
inline constexpr const char kBinaryCorrupt[] =
    "Binary/corrupt data detected while trying to add it to a kbcl list";
inline constexpr const char kMalformedRaw[] = "Malformed rawdata string";

// Growable tracked byte buffer for building item texts and export lines.
// It may start in caller storage (usually on the stack), so that a small
// item costs no allocation; it moves to a tracked block once that is full.
class Buf
{
  public:
    char* data = nullptr;
    uint32_t size = 0;
    uint32_t cap = 0;

    Buf() = default;
    Buf(char* storage, uint32_t n) : data(storage), cap(n), m_local(storage) {}
    Buf(const Buf&) = delete;
    Buf& operator=(const Buf&) = delete;
    ~Buf()
    {
        if (data != nullptr && data != m_local)
            XFREE(data);
    }
    bool Reserve(uint32_t extra) { return size + static_cast<uint64_t>(extra) <= cap || Grow(extra); }
    bool Append(const void* p, uint32_t n)
    {
        if (!Reserve(n))
            return false;
        std::memcpy(data + size, p, n);
        size += n;
        return true;
    }
    bool Push(char c)
    {
        if (!Reserve(1))
            return false;
        data[size++] = c;
        return true;
    }
    bool Grow(uint32_t extra);

  private:
    char* m_local = nullptr;
};

// ---------------------------------------------------------------- scanning

// The first byte in [p, end) for which stop is true, or end. Short runs
// are the common case and are walked byte by byte with stop (best a table
// lookup); past the first bytes, whole blocks are tested with blockStop
// (the same test as arithmetic) and no branch per byte, which compilers turn
// into vector code when blockStop adds its byte tests (|| would branch, and
// a chain of | over small constants may become a bit-mask test); the byte
// loop then finds the place inside the block that stopped.
template <class Stop, class BlockStop>
inline const char* FindByte(const char* p, const char* end, Stop stop, BlockStop blockStop)
{
    constexpr ptrdiff_t kHead = 16;
    constexpr ptrdiff_t kBlock = 32;
    const char* head = end - p > kHead ? p + kHead : end;
    for (; p < head; ++p)
        if (stop(static_cast<uint8_t>(*p)))
            return p;
    while (end - p >= kBlock) {
        uint8_t any = 0;
        for (ptrdiff_t i = 0; i < kBlock; ++i)
            any |= static_cast<uint8_t>(blockStop(static_cast<uint8_t>(p[i])));
        if (any != 0)
            break;
        p += kBlock;
    }
    while (p < end && !stop(static_cast<uint8_t>(*p)))
        ++p;
    return p;
}

// Plain characters: 33-126 except the six the reader takes for syntax. A
// value of plain characters only is written and read back as it stands.
inline constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> t{};
    for (int c = 33; c <= 126; ++c)
        t[c] = true;
    for (char c : {',', '=', '{', '}', '"', ';'})
        t[static_cast<uint8_t>(c)] = false;
    return t;
}();

inline bool NotPlain(uint8_t c)
{
    return (static_cast<uint8_t>(c - 33) > 93) | (c == ',') | (c == '=') | (c == '{') | (c == '}') | (c == '"') |
           (c == ';');
}

// The first byte in [p, end) that is not plain, or end. Some byte in
// [p, end] must not be plain (a terminator), which lets the first bytes,
// where most runs end, go without a bounds test.
inline const char* PlainEnd(const char* p, const char* end)
{
    for (int i = 0; i < 16; ++i, ++p)
        if (!kPlain[static_cast<uint8_t>(*p)])
            return p;
    return FindByte(p, end, [](uint8_t c) { return !kPlain[c]; }, NotPlain);
}

// Whether [s, s + n) holds a marker byte.
inline bool HasMarker(const char* s, size_t n)
{
    uint8_t any = 0;
    for (size_t i = 0; i < n; ++i)
        any |= static_cast<uint8_t>(static_cast<uint8_t>(s[i]) >= KCBL_ARRAY_START);
    return any != 0;
}

// Item blocks. text holds the keyword and the values, each zero-terminated
// (arrays with their markers); offsets the start of each value in text.
TKCBLKeyword* MakeItem(const char* text, uint32_t textLen, const uint32_t* offsets, int32_t n);
// Releases an item and, for a chunk item, its whole subtree.
void FreeItem(TKCBLKeyword* item);
// Releases every item of a chunk (subtrees included); the list ends empty.
void ClearChunk(TKCBLChunk* chunk);
// A new chunk with its dummy item, or null (error recorded).
TKCBLChunk* NewChunk(TKCBLChunk* parent);
TKCBLKeyword* MakeDummy();
// Deep copy of an item (and its subtree), or null.
TKCBLKeyword* CopyItem(const TKCBLKeyword* item, TKCBLChunk* parent);

// Each item block carries its own list node right behind the header, so a
// chunk list costs no extra allocation and a walk touches one block per item.
// These nodes are never released by the list: items leave through Detach.
inline SLListNode* NodeOf(TKCBLKeyword* k)
{
    return reinterpret_cast<SLListNode*>(k + 1);
}
inline void LinkLast(CLList& l, TKCBLKeyword* k)
{
    l.InsertLast(NodeOf(k), 1);
}
inline void LinkAfter(CLList& l, TKCBLKeyword* k)
{
    l.InsertAfter(NodeOf(k), 1);
}
void Detach(CLList& l, SLListNode* n);

inline const char* TextEnd(const TKCBLKeyword* k)
{
    return k->keyword + k->dataSize;
}
inline bool IsArray(const char* v)
{
    return static_cast<uint8_t>(v[0]) == KCBL_ARRAY_START;
}
inline bool IsMarker(uint8_t c)
{
    return c >= KCBL_ARRAY_START;
}

// Walks the elements of an array value; false at the end. Bounded by the
// item's text area so a malformed value can never run past it.
struct ArrayCursor {
    const char* p;
    const char* end;
    ArrayCursor(const char* v, const char* e) : p(v + 1), end(e) {}
    bool Next(const char*& elem, uint32_t& len)
    {
        if (p >= end || static_cast<uint8_t>(*p) == KCBL_ARRAY_END)
            return false;
        const char* z = static_cast<const char*>(std::memchr(p, 0, static_cast<size_t>(end - p)));
        if (z == nullptr)
            return false;
        elem = p;
        len = static_cast<uint32_t>(z - p);
        p = z + 1;
        return true;
    }
};

} // namespace kcbl

// Private access for the import and export modules.
struct KcblAccess {
    static int32_t Init(CKCBL& k) { return k.Init(); }
};
