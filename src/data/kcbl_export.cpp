// KCBL export: writes the container as text, one line per item, depth first,
// directly into the caller's buffer (or only counting). The output is built
// so that the reader gives back the same items: anything the reader would
// split, join or take for syntax is quoted.
#include "data/kcbl_internal.h"

#include <tarvex/error.h>

#include <array>

using namespace kcbl;

namespace
{

// Characters written as a backslash pair inside quotes.
constexpr std::array<char, 256> kEscape = [] {
    std::array<char, 256> t{};
    t['\t'] = 't';
    t['\n'] = 'n';
    t['\r'] = 'r';
    t['"'] = '"';
    t['\\'] = '\\';
    return t;
}();

bool AllPlain(const char* s, uint32_t n)
{
    return PlainEnd(s, s + n) == s + n;
}

// Length of a zero-terminated string inside an item's text (which ends at
// end) and whether it is all plain, in one pass over the plain part.
size_t ScanPlain(const char* s, const char* end, bool& plain)
{
    const char* p = PlainEnd(s, end);
    plain = p < end && *p == 0 && p != s;
    if (p < end && *p != 0)
        p += std::strlen(p);
    return static_cast<size_t>(p - s);
}

bool HasLineBreak(const char* s, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        if (s[i] == '\n' || s[i] == '\r')
            return true;
    return false;
}

// Output into a bounded buffer, or counting only.
struct Out {
    char* buf;
    int64_t size; // bytes available when writing
    bool write;
    bool overflow = false;
    int64_t pos = 0;
    int64_t lineStart = 0;
    char last = 0;
    char lineEnd = 0; // the last character of the previous line

    int64_t Col() const { return pos - lineStart; }
    void Put(const char* s, size_t n)
    {
        if (n == 0)
            return;
        if (write) {
            if (pos + static_cast<int64_t>(n) <= size)
                std::memcpy(buf + pos, s, n);
            else
                overflow = true;
        }
        pos += static_cast<int64_t>(n);
        last = s[n - 1];
    }
    void Put(char c) { Put(&c, 1); }
    void Put(const char* s) { Put(s, std::strlen(s)); }
    void NewLine()
    {
        lineEnd = last;
        Put('\n');
        lineStart = pos;
    }
    void Spaces(int64_t n)
    {
        static const char sp[] = "                                                                ";
        while (n > 0) {
            size_t k = n > 64 ? 64 : static_cast<size_t>(n);
            Put(sp, k);
            n -= static_cast<int64_t>(k);
        }
    }
};

// A quoted string; with split, long text continues on further lines
// (closing quote, LF, indentation to valueCol, opening quote).
void PutQuoted(Out& o, const char* s, size_t n, bool split, int64_t maxLen, int64_t valueCol)
{
    o.Put('"');
    size_t j = 0;
    while (j < n) {
        if (split && j > 0 && o.Col() > maxLen - 2) {
            o.Put('"');
            o.NewLine();
            o.Spaces(valueCol);
            o.Put('"');
        }
        uint8_t c = static_cast<uint8_t>(s[j]);
        if (kEscape[c] != 0) {
            char pair[2] = {'\\', kEscape[c]};
            o.Put(pair, 2);
            ++j;
            continue;
        }
        // A run of plain characters up to the next escape or split point.
        size_t room = n - j;
        if (split) {
            int64_t allowed = maxLen - 2 - o.Col() + 1;
            if (allowed < 1)
                allowed = 1;
            if (static_cast<uint64_t>(allowed) < room)
                room = static_cast<size_t>(allowed);
        }
        const char* stop = FindByte(s + j + 1, s + j + room, [](uint8_t b) { return kEscape[b] != 0; }, [](uint8_t b) {
            return (b == '\t') + (b == '\n') + (b == '\r') + (b == '"') + (b == '\\');
        });
        size_t k = static_cast<size_t>(stop - (s + j));
        o.Put(s + j, k);
        j += k;
    }
    o.Put('"');
}

void PutElement(Out& o, const char* s, uint32_t n)
{
    if (n != 0 && AllPlain(s, n))
        o.Put(s, n);
    else
        PutQuoted(o, s, n, false, 0, 0);
}

// A comment value is written as it stands only where the reader takes it
// back the same: on one line, ending with "," exactly when values follow.
bool CommentOut(const char* v, bool last)
{
    if (v[0] != ';')
        return false;
    size_t n = std::strlen(v);
    if (HasLineBreak(v, static_cast<uint32_t>(n)))
        return false;
    return (v[n - 1] == ',') != last;
}

bool WriteItem(Out& o, const CKCBL& k, const TKCBLKeyword* item, int32_t level)
{
    const char* kw = item->keyword;
    bool kwAllPlain;
    size_t kwLen = ScanPlain(kw, TextEnd(item), kwAllPlain);
    bool raw = kw[0] == '[' && kw[1] == 0;
    int32_t n = item->numStrings;
    int32_t lineValues = n;
    if (raw) {
        if (n < 2 || std::strncmp(item->strings[n - 2], "ASCIIDATA", 9) != 0) {
            xErrorTxt_Func(kMalformedRaw, __FILE__, __LINE__);
            return false;
        }
        lineValues = n - 1;
    }

    // The keyword: "{", "[" and lone comments as they stand, else quoted
    // when the reader would not give it back.
    bool kwPlain = (kw[0] == '{' || kw[0] == '[') && kw[1] == 0;
    if (!kwPlain && kw[0] == ';')
        kwPlain = n == 0 && !HasLineBreak(kw, static_cast<uint32_t>(kwLen));
    if (!kwPlain)
        kwPlain = kwAllPlain && kw[0] != ']';
    // A line starting with a quote right after one ending with a quote would
    // be joined to it; a blank line keeps them apart.
    if (!kwPlain && o.lineEnd == '"')
        o.NewLine();
    o.Spaces(static_cast<int64_t>(level) * 4);
    if (kwPlain)
        o.Put(kw, kwLen);
    else
        PutQuoted(o, kw, kwLen, false, 0, 0);

    auto isComment = [&](int32_t i) { return CommentOut(item->strings[i], i == lineValues - 1); };
    if (lineValues > 0 && !isComment(0))
        o.Put(" = ");
    int64_t valueCol = 0;
    int64_t maxLen = k.maxLineLength;
    for (int32_t i = 0; i < lineValues; ++i) {
        bool comment = isComment(i);
        if (i > 0) {
            if (isComment(i - 1)) {
                o.NewLine();
                o.Put('\t');
            } else if (!comment) {
                o.Put(", ");
            }
        }
        if (comment) {
            if (i + 1 < lineValues)
                o.Put(", ");
            o.Put("\t\t");
        }
        if (i == 0) {
            valueCol = o.Col();
            if (maxLen < valueCol + 3)
                maxLen = valueCol + 3;
        }
        const char* v = item->strings[i];
        if (comment) {
            o.Put(v);
        } else if (IsArray(v)) {
            ArrayCursor c(v, TextEnd(item));
            const char* e;
            uint32_t len;
            o.Put("{ ");
            bool first = true;
            while (c.Next(e, len)) {
                if (!first)
                    o.Put(", ");
                first = false;
                PutElement(o, e, len);
            }
            o.Put('}');
        } else {
            bool plain;
            size_t len = ScanPlain(v, TextEnd(item), plain);
            if (plain && o.Col() + static_cast<int64_t>(len) <= maxLen)
                o.Put(v, len);
            else
                PutQuoted(o, v, len, !raw, maxLen, valueCol);
        }
    }
    o.NewLine();
    if (raw) {
        const char* text = item->strings[n - 1];
        size_t len = std::strlen(text);
        o.Put(text, len);
        if (len != 0 && text[len - 1] != '\n' && text[len - 1] != '\r')
            o.Put('\n');
        o.lineStart = o.pos;
        o.Spaces(static_cast<int64_t>(level) * 4);
        o.Put(']');
        o.NewLine();
    }
    return true;
}

} // namespace

int32_t CKCBL::Export(char* buffer, int32_t size, int32_t* length, int32_t sizeOnly)
{
    int32_t dummy = 0;
    if (length == nullptr)
        length = &dummy;
    bool write = sizeOnly == 0 && buffer != nullptr;
    if (size == 0 || !hasData) {
        *length = 1;
        if (write && size > 0)
            buffer[0] = 0;
        return TRUE;
    }
    if (write && size < 0) {
        *length = -1;
        return FALSE;
    }
    Out o{buffer, write ? size : 0, write};
    Buf stack; // chunk items whose chunk is being written
    const TKCBLChunk* chunk = &mainChunk;
    const SLListNode* n = chunk->list.first != nullptr ? chunk->list.first->next : nullptr;
    int32_t level = 0;
    for (;;) {
        if (n == nullptr) {
            if (stack.size == 0)
                break;
            stack.size -= sizeof(SLListNode*);
            const SLListNode* owner;
            std::memcpy(&owner, stack.data + stack.size, sizeof owner);
            --level;
            o.Spaces(static_cast<int64_t>(level) * 4);
            o.Put('}');
            o.NewLine();
            n = owner->next;
            chunk = chunk->parent;
        } else {
            auto* item = static_cast<const TKCBLKeyword*>(n->data);
            // Items are separate blocks: fetch the next one while this one is written.
            if (n->next != nullptr) {
                __builtin_prefetch(n->next);
                __builtin_prefetch(reinterpret_cast<const char*>(n->next) + 64);
            }
            if (!WriteItem(o, *this, item, level)) {
                *length = -1;
                return FALSE;
            }
            if (item->subChunk != nullptr) {
                if (!stack.Append(&n, sizeof n)) {
                    *length = -1;
                    return FALSE;
                }
                chunk = item->subChunk;
                ++level;
                n = chunk->list.first != nullptr ? chunk->list.first->next : nullptr;
            } else {
                n = n->next;
            }
        }
        if (o.overflow || o.pos > 0x7FFFFFFF) {
            *length = -1;
            return FALSE;
        }
    }
    *length = static_cast<int32_t>(o.pos);
    if (write && o.pos < size)
        buffer[o.pos] = 0;
    return TRUE;
}

int32_t CKCBL::ExportSize(int32_t* length)
{
    return Export(nullptr, -1, length, 1);
}
