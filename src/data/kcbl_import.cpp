// KCBL import: reads the text form in one pass. Each logical line becomes
// one item, built in a reused scratch buffer and then copied into its own
// block; a line that breaks a rule stops the import with its message.
#include "data/kcbl_internal.h"

#include <tarvex/error.h>

#include <array>

using namespace kcbl;

namespace
{

enum Cls : uint8_t { C_PLAIN, C_BLANK, C_EOL, C_NUL, C_QUOTE, C_SEMI, C_SEP, C_LBRACE, C_RBRACE, C_BAD };

constexpr std::array<uint8_t, 256> kCls = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[c] = c >= 33 && c <= 126 ? C_PLAIN : C_BAD;
    t[' '] = t['\t'] = C_BLANK;
    t['\r'] = t['\n'] = C_EOL;
    t[0] = C_NUL;
    t['"'] = C_QUOTE;
    t[';'] = C_SEMI;
    t[','] = t['='] = C_SEP;
    t['{'] = C_LBRACE;
    t['}'] = C_RBRACE;
    return t;
}();

// Bytes that end a plain run inside quotes.
constexpr std::array<bool, 256> kQuoteStop = [] {
    std::array<bool, 256> t{};
    for (int c : {int('"'), int('\\'), int('\r'), int('\n'), 0, 0xFD, 0xFE, 0xFF})
        t[c] = true;
    return t;
}();

// Bytes that end a comment (or are refused inside one).
constexpr std::array<bool, 256> kCommentStop = [] {
    std::array<bool, 256> t{};
    for (int c : {int('\r'), int('\n'), 0, 0xFD, 0xFE, 0xFF})
        t[c] = true;
    return t;
}();

constexpr char kMissingQuote[] = "Missing terminating \" in string";
constexpr char kNoArray[] = "Trying to end array without starting one";
constexpr char kRawBinary[] = "Binary data detected in a rawdata ascii chunk";

bool Fail(const char* text)
{
    return xErrorTxt_Func(text, __FILE__, __LINE__) != 0;
}

class Reader
{
  public:
    Reader(CKCBL& k, const char* text)
        : m_k(k), m_p(reinterpret_cast<const uint8_t*>(text)),
          m_end(reinterpret_cast<const uint8_t*>(text + std::strlen(text)))
    {
    }

    bool Run()
    {
        while (*m_p != 0) {
            if (!Line())
                return false;
            if (*m_p == '\r')
                ++m_p;
            if (*m_p == '\n')
                ++m_p;
        }
        return true;
    }

  private:
    CKCBL& m_k;
    const uint8_t* m_p;
    const uint8_t* m_end; // the terminating zero
    // Small texts are read without any allocation beyond the item blocks.
    alignas(8) char m_textStore[2048];
    alignas(8) char m_offsStore[256];
    Buf m_text{m_textStore, sizeof m_textStore}; // keyword and values of the item being read
    Buf m_offs{m_offsStore, sizeof m_offsStore}; // uint32_t start of each value in m_text
    int32_t m_values = 0;

    static const char* Chars(const uint8_t* p) { return reinterpret_cast<const char*>(p); }
    // The first byte from m_p on that stop is true for; stop must hold for
    // the terminating zero.
    template <class Stop> const uint8_t* Find(const std::array<bool, 256>& table, Stop blockStop) const
    {
        return reinterpret_cast<const uint8_t*>(
            FindByte(Chars(m_p), Chars(m_end) + 1, [&table](uint8_t c) { return table[c]; }, blockStop));
    }

    void SkipBlanks()
    {
        while (*m_p == ' ' || *m_p == '\t')
            ++m_p;
    }
    void SkipToLineEnd()
    {
        while (*m_p != 0 && *m_p != '\r' && *m_p != '\n')
            ++m_p;
    }
    bool AddOffset(uint32_t off)
    {
        ++m_values;
        return m_offs.Append(&off, sizeof off);
    }
    // The comment at m_p up to the line end, appended with its terminator.
    bool Comment()
    {
        const uint8_t* s = m_p;
        m_p = Find(kCommentStop, [](uint8_t c) { return (c == 0) + (c == '\r') + (c == '\n') + (c >= 0xFD); });
        if (*m_p >= 0xFD)
            return Fail(kBinaryCorrupt);
        return m_text.Append(s, static_cast<uint32_t>(m_p - s)) && m_text.Push(0);
    }

    bool Line()
    {
        SkipBlanks();
        switch (*m_p) {
        case 0:
        case '\r':
        case '\n':
            return true;
        case '}':
            if (m_k.curChunk->parent != nullptr) {
                m_k.curChunk = m_k.curChunk->parent;
                if (m_k.depth > 0)
                    --m_k.depth;
            }
            SkipToLineEnd();
            return true;
        case ']':
            SkipToLineEnd();
            return true;
        case ';':
            m_text.size = 0;
            m_offs.size = 0;
            m_values = 0;
            return Comment() && Insert();
        default:
            return Item();
        }
    }

    bool Quoted()
    {
        ++m_p;
        for (;;) {
            const uint8_t* s = m_p;
            m_p = Find(kQuoteStop, [](uint8_t c) {
                return (c == 0) + (c == '"') + (c == '\\') + (c == '\r') + (c == '\n') + (c >= 0xFD);
            });
            if (m_p != s && !m_text.Append(s, static_cast<uint32_t>(m_p - s)))
                return false;
            uint8_t c = *m_p;
            if (c == '"') {
                ++m_p;
                return true;
            }
            if (c == '\\') {
                uint8_t e = m_p[1];
                if (e == 0 || e == '\r' || e == '\n')
                    return Fail(kMissingQuote);
                if (e >= 0xFD)
                    return Fail(kBinaryCorrupt);
                char out = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : static_cast<char>(e);
                if (!m_text.Push(out))
                    return false;
                m_p += 2;
                continue;
            }
            if (c >= 0xFD)
                return Fail(kBinaryCorrupt);
            return Fail(kMissingQuote);
        }
    }

    bool Item()
    {
        enum Sig { S_OTHER, S_COMMA, S_QUOTE };
        m_text.size = 0;
        m_offs.size = 0;
        m_values = 0;
        bool inKeyword = true;
        bool started = false; // the current token has text or a quote
        bool rawKeyword = false;
        bool inArray = false;
        int32_t nest = 0;
        uint32_t tokStart = 0;
        uint32_t arrayStart = 0;
        Sig sig = S_OTHER;

        // Ends the token in progress: the keyword, a value or an array element.
        auto endToken = [&]() -> bool {
            if (inArray) {
                if (started && !m_text.Push(0))
                    return false;
            } else if (inKeyword) {
                if (!m_text.Push(0))
                    return false;
                inKeyword = false;
                rawKeyword = m_text.data[0] == '[' && m_text.data[1] == 0;
            } else if (started) {
                if (!AddOffset(tokStart) || !m_text.Push(0))
                    return false;
            }
            started = false;
            tokStart = m_text.size;
            return true;
        };
        auto endArray = [&]() -> bool {
            if (!endToken())
                return false;
            inArray = false;
            if (!m_text.Push(static_cast<char>(KCBL_ARRAY_END)) || !m_text.Push(0) || !AddOffset(arrayStart))
                return false;
            tokStart = m_text.size;
            return true;
        };

        for (;;) {
            uint8_t c = *m_p;
            switch (kCls[c]) {
            case C_PLAIN: {
                const uint8_t* s = m_p;
                m_p = reinterpret_cast<const uint8_t*>(PlainEnd(Chars(m_p), Chars(m_end)));
                if (!m_text.Append(s, static_cast<uint32_t>(m_p - s)))
                    return false;
                started = true;
                sig = S_OTHER;
                continue;
            }
            case C_BLANK:
                ++m_p;
                continue;
            case C_QUOTE:
                if (!Quoted())
                    return false;
                started = true;
                sig = S_QUOTE;
                continue;
            case C_SEP:
                ++m_p;
                if (!endToken())
                    return false;
                sig = c == ',' ? S_COMMA : S_OTHER;
                continue;
            case C_SEMI:
                if (inArray) { // a comment inside an array is dropped
                    SkipToLineEnd();
                    continue;
                }
                if (!endToken() || !AddOffset(m_text.size) || !Comment())
                    return false;
                sig = m_p[-1] == ',' ? S_COMMA : S_OTHER;
                tokStart = m_text.size;
                continue;
            case C_LBRACE:
                ++m_p;
                if (inArray) {
                    ++nest;
                } else if (!inKeyword && !started) {
                    inArray = true;
                    nest = 0;
                    arrayStart = m_text.size;
                    if (!m_text.Push(static_cast<char>(KCBL_ARRAY_START)))
                        return false;
                    tokStart = m_text.size;
                } else {
                    if (!m_text.Push('{'))
                        return false;
                    started = true;
                }
                sig = S_OTHER;
                continue;
            case C_RBRACE:
                if (!inArray)
                    return Fail(kNoArray);
                ++m_p;
                if (nest > 0)
                    --nest;
                else if (!endArray())
                    return false;
                sig = S_OTHER;
                continue;
            case C_EOL:
                if (inArray) { // arrays run over several lines
                    ++m_p;
                    continue;
                }
                if (sig == S_COMMA) {
                    if (*m_p == '\r')
                        ++m_p;
                    if (*m_p == '\n')
                        ++m_p;
                    continue;
                }
                if (sig == S_QUOTE && !inKeyword && started && !rawKeyword) {
                    // A quoted piece on the next line continues this value.
                    const uint8_t* q = m_p;
                    if (*q == '\r')
                        ++q;
                    if (*q == '\n')
                        ++q;
                    while (*q == ' ' || *q == '\t')
                        ++q;
                    if (*q == '"') {
                        m_p = q;
                        continue;
                    }
                }
                break;
            case C_NUL:
                if (inArray && !endArray())
                    return false;
                break;
            default:
                return Fail(kBinaryCorrupt);
            }
            break;
        }
        if (!endToken())
            return false;
        if (rawKeyword && !RawBlock())
            return false;
        return Insert();
    }

    // The lines after a "[" item up to the "]" line become its last value.
    bool RawBlock()
    {
        if (m_values == 0)
            return Fail(kMalformedRaw);
        const char* last = m_text.data + reinterpret_cast<const uint32_t*>(m_offs.data)[m_values - 1];
        if (std::strncmp(last, "ASCIIDATA", 9) != 0 || *m_p == 0)
            return Fail(kMalformedRaw);
        if (*m_p == '\r')
            ++m_p;
        if (*m_p == '\n')
            ++m_p;
        const uint8_t* start = m_p;
        const uint8_t* line = m_p;
        for (;;) {
            const uint8_t* t = line;
            while (*t == ' ' || *t == '\t')
                ++t;
            if (*t == ']')
                break;
            for (; *t != 0 && *t != '\r' && *t != '\n'; ++t)
                if ((*t < 32 && *t != '\t') || *t > 126)
                    return Fail(kRawBinary);
            if (*t == 0)
                return Fail(kMalformedRaw);
            line = t + 1;
        }
        m_p = line;
        return AddOffset(m_text.size) && m_text.Append(start, static_cast<uint32_t>(line - start)) &&
               m_text.Push(0);
    }

    bool Insert()
    {
        TKCBLKeyword* item =
            MakeItem(m_text.data, m_text.size, reinterpret_cast<const uint32_t*>(m_offs.data), m_values);
        if (item == nullptr)
            return false;
        TKCBLChunk* chunk = m_k.curChunk;
        LinkLast(chunk->list, item);
        if (item->keyword[0] == '{' && item->keyword[1] == 0) {
            item->subChunk = NewChunk(chunk);
            if (item->subChunk == nullptr)
                return false;
            m_k.curChunk = item->subChunk;
            ++m_k.depth;
        }
        return true;
    }
};

} // namespace

int32_t CKCBL::Import(const char* text, int32_t)
{
    if (!Init())
        return FALSE;
    int32_t ok = TRUE;
    if (text != nullptr) {
        Reader r(*this, text);
        ok = r.Run() ? TRUE : FALSE;
    }
    MainChunk();
    FirstItem();
    return ok;
}
