// KCBL container: item blocks, chunks, building from variadic value lists,
// navigation and the typed getters. The text form lives in kcbl_import.cpp
// and kcbl_export.cpp.
#include "data/kcbl_internal.h"

#include <tarvex/error.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

using namespace kcbl;

// ---------------------------------------------------------------- blocks

bool Buf::Grow(uint32_t extra)
{
    uint64_t want = static_cast<uint64_t>(size) + extra;
    uint64_t next = cap < 256 ? 256 : static_cast<uint64_t>(cap) * 2;
    while (next < want)
        next *= 2;
    if (next > 0x7FFFFFF0u) {
        if (want > 0x7FFFFFF0u) {
            xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
            return false;
        }
        next = want;
    }
    auto* p = static_cast<char*>(XALLOC(next));
    if (p == nullptr)
        return false;
    if (size != 0)
        std::memcpy(p, data, size);
    if (data != nullptr && data != m_local)
        XFREE(data);
    data = p;
    cap = static_cast<uint32_t>(next);
    return true;
}

TKCBLKeyword* kcbl::MakeItem(const char* text, uint32_t textLen, const uint32_t* offsets, int32_t n)
{
    uint64_t total =
        sizeof(TKCBLKeyword) + sizeof(SLListNode) + static_cast<uint64_t>(n) * sizeof(char*) + textLen + 1;
    if (total > 0x7FFFFFF0u) {
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    auto* block = static_cast<char*>(XALLOC(total));
    if (block == nullptr)
        return nullptr;
    auto* k = reinterpret_cast<TKCBLKeyword*>(block);
    auto** table = reinterpret_cast<char**>(block + sizeof(TKCBLKeyword) + sizeof(SLListNode));
    *NodeOf(k) = {nullptr, nullptr, k};
    char* txt = reinterpret_cast<char*>(table + n);
    std::memcpy(txt, text, textLen);
    txt[textLen] = static_cast<char>(KCBL_TEXT_END);
    k->keyword = txt;
    k->strings = table;
    k->numStrings = n;
    k->dataSize = static_cast<int32_t>(textLen + 1);
    k->subChunk = nullptr;
    for (int32_t i = 0; i < n; ++i)
        table[i] = txt + offsets[i];
    return k;
}

void kcbl::Detach(CLList& l, SLListNode* n) { l.Detach(n); }

TKCBLKeyword* kcbl::MakeDummy()
{
    return MakeItem(kDummyKeyword, sizeof kDummyKeyword, nullptr, 0);
}

TKCBLChunk* kcbl::NewChunk(TKCBLChunk* parent)
{
    TKCBLChunk* c = XNEW(TKCBLChunk);
    if (c == nullptr)
        return nullptr;
    c->parent = parent;
    TKCBLKeyword* dummy = MakeDummy();
    if (dummy == nullptr) {
        XDELETE(c);
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    LinkLast(c->list, dummy);
    return c;
}

// Iterative so that deeply nested input cannot exhaust the stack.
void kcbl::ClearChunk(TKCBLChunk* root)
{
    TKCBLChunk* cur = root;
    for (;;) {
        SLListNode* n = cur->list.last;
        if (n == nullptr) {
            if (cur == root)
                break;
            TKCBLChunk* parent = cur->parent;
            XDELETE(cur);
            cur = parent;
            continue;
        }
        auto* item = static_cast<TKCBLKeyword*>(n->data);
        if (n->prev != nullptr)
            __builtin_prefetch(n->prev);
        Detach(cur->list, n);
        TKCBLChunk* sub = item->subChunk;
        XFREE(item);
        if (sub != nullptr) {
            sub->parent = cur;
            cur = sub;
        }
    }
    root->list.current = nullptr;
    root->list.index = 0;
}

void kcbl::FreeItem(TKCBLKeyword* item)
{
    TKCBLChunk* sub = item->subChunk;
    XFREE(item);
    if (sub != nullptr) {
        ClearChunk(sub);
        XDELETE(sub);
    }
}

static TKCBLKeyword* CloneBlock(const TKCBLKeyword* src, Buf& offs)
{
    offs.size = 0;
    if (!offs.Reserve(static_cast<uint32_t>(src->numStrings) * 4u + 4u))
        return nullptr;
    auto* o = reinterpret_cast<uint32_t*>(offs.data);
    for (int32_t i = 0; i < src->numStrings; ++i)
        o[i] = static_cast<uint32_t>(src->strings[i] - src->keyword);
    return MakeItem(src->keyword, static_cast<uint32_t>(src->dataSize - 1), o, src->numStrings);
}

// Copies the items of src (after its dummy) behind the dummy of dst, subtrees
// included; the chunk items being copied are kept on a stack, not searched for.
static bool CopyChunkInto(const TKCBLChunk* src, TKCBLChunk* dst)
{
    Buf offs, stack;
    TKCBLChunk* d = dst;
    const SLListNode* n = src->list.first != nullptr ? src->list.first->next : nullptr;
    for (;;) {
        if (n == nullptr) {
            if (stack.size == 0)
                return true;
            stack.size -= sizeof n;
            std::memcpy(&n, stack.data + stack.size, sizeof n);
            n = n->next;
            d = d->parent;
            continue;
        }
        auto* item = static_cast<const TKCBLKeyword*>(n->data);
        TKCBLKeyword* copy = CloneBlock(item, offs);
        if (copy == nullptr)
            return false;
        LinkLast(d->list, copy);
        if (item->subChunk == nullptr) {
            n = n->next;
            continue;
        }
        copy->subChunk = NewChunk(d);
        if (copy->subChunk == nullptr || !stack.Append(&n, sizeof n))
            return false;
        d = copy->subChunk;
        n = item->subChunk->list.first != nullptr ? item->subChunk->list.first->next : nullptr;
    }
}

// ---------------------------------------------------------------- life

CKCBL::CKCBL() : curChunk(&mainChunk)
{
    std::strcpy(floatFormat, "%f");
    std::strcpy(doubleFormat, "%lf");
}

CKCBL::CKCBL(const CKCBL& other) : CKCBL()
{
    *this = other;
}

CKCBL& CKCBL::operator=(const CKCBL& other)
{
    if (this == &other)
        return *this;
    Free();
    std::memcpy(floatFormat, other.floatFormat, sizeof floatFormat);
    std::memcpy(doubleFormat, other.doubleFormat, sizeof doubleFormat);
    maxLineLength = other.maxLineLength;
    restartMode = other.restartMode;
    if (other.hasData && Init())
        CopyChunkInto(&other.mainChunk, &mainChunk);
    MainChunk();
    FirstItem();
    return *this;
}

CKCBL::~CKCBL()
{
    Free();
}

void CKCBL::Free()
{
    ClearChunk(&mainChunk);
    curChunk = &mainChunk;
    depth = 0;
    hasData = 0;
}

int32_t CKCBL::Init()
{
    Free();
    TKCBLKeyword* dummy = MakeDummy();
    if (dummy == nullptr)
        return FALSE;
    LinkLast(mainChunk.list, dummy);
    hasData = 1;
    return TRUE;
}

// ---------------------------------------------------------------- building

namespace
{

// Appends the decimal form of v.
bool PutULong(Buf& b, uint32_t v, bool neg)
{
    char tmp[12];
    char* e = tmp + sizeof tmp;
    char* s = e;
    do {
        *--s = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (neg)
        *--s = '-';
    return b.Append(s, static_cast<uint32_t>(e - s));
}

bool PutLong(Buf& b, int32_t v)
{
    uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    return PutULong(b, u, v < 0);
}

bool PutFloat(Buf& b, const char* format, float f)
{
    if (f == 0.0f)
        return b.Append("0", 1);
    char tmp[400];
    int n = std::snprintf(tmp, sizeof tmp, format, static_cast<double>(f));
    if (n < 0)
        n = 0;
    if (n >= static_cast<int>(sizeof tmp))
        n = sizeof tmp - 1;
    // Trailing zeros only go when they follow a decimal point ("%.0f" of
    // 100 stays 100).
    if (std::memchr(tmp, '.', static_cast<size_t>(n)) != nullptr) {
        while (n > 0 && tmp[n - 1] == '0')
            --n;
        if (n > 0 && tmp[n - 1] == '.')
            --n;
    }
    return b.Append(tmp, static_cast<uint32_t>(n));
}

bool PutDouble(Buf& b, const char* format, double d)
{
    char tmp[400];
    int n = std::snprintf(tmp, sizeof tmp, format, d);
    if (n < 0)
        n = 0;
    if (n >= static_cast<int>(sizeof tmp))
        n = sizeof tmp - 1;
    return b.Append(tmp, static_cast<uint32_t>(n));
}

const char* KeywordText(const char* keyword)
{
    return keyword != nullptr ? keyword : "(null)";
}

} // namespace

// Renders keyword and values into text / offsets. The list starts with
// type and continues in ap. Errors are recorded here.
static bool RenderItem(const CKCBL& k, const char* keyword, uint32_t type, va_list ap, Buf& text, Buf& offs,
                       int32_t& n)
{
    n = 0;
    if (keyword == nullptr) {
        xErrorf("Tried to add NULL string in keyword \"%s\"", KeywordText(keyword));
        return false;
    }
    size_t kwLen = std::strlen(keyword);
    if (HasMarker(keyword, kwLen)) {
        xErrorTxt_Func(kBinaryCorrupt, __FILE__, __LINE__);
        return false;
    }
    if (!text.Append(keyword, static_cast<uint32_t>(kwLen) + 1))
        return false;
    for (;; type = va_arg(ap, uint32_t)) {
        if (type == KEND)
            return true;
        uint32_t off = text.size;
        if (!offs.Append(&off, sizeof off))
            return false;
        ++n;
        bool ok = true;
        switch (type) {
        case KBOOL:
            ok = va_arg(ap, int32_t) != 0 ? text.Append("TRUE", 4) : text.Append("FALSE", 5);
            break;
        case KLONG:
            ok = PutLong(text, va_arg(ap, int32_t));
            break;
        case KULONG:
            ok = PutULong(text, va_arg(ap, uint32_t), false);
            break;
        case KFLOAT:
            ok = PutFloat(text, k.floatFormat, static_cast<float>(va_arg(ap, double)));
            break;
        case KDOUBLE:
            ok = PutDouble(text, k.doubleFormat, va_arg(ap, double));
            break;
        case KSTRING: {
            const char* s = va_arg(ap, const char*);
            if (s == nullptr) {
                xErrorf("Tried to add NULL string in keyword \"%s\"", keyword);
                return false;
            }
            size_t len = std::strlen(s);
            if (HasMarker(s, len)) {
                xErrorTxt_Func(kBinaryCorrupt, __FILE__, __LINE__);
                return false;
            }
            ok = text.Append(s, static_cast<uint32_t>(len));
            break;
        }
        case KBOOLARRAY:
        case KLONGARRAY:
        case KULONGARRAY:
        case KFLOATARRAY:
        case KDOUBLEARRAY: {
            int32_t count = va_arg(ap, int32_t);
            const void* data = va_arg(ap, const void*);
            if (count > 0 && data == nullptr) {
                xErrorf("Tried to add NULL string in keyword \"%s\"", keyword);
                return false;
            }
            ok = text.Push(static_cast<char>(KCBL_ARRAY_START));
            for (int32_t i = 0; ok && i < count; ++i) {
                switch (type) {
                case KBOOLARRAY:
                    ok = static_cast<const int32_t*>(data)[i] != 0 ? text.Append("TRUE", 4)
                                                                   : text.Append("FALSE", 5);
                    break;
                case KLONGARRAY:
                    ok = PutLong(text, static_cast<const int32_t*>(data)[i]);
                    break;
                case KULONGARRAY:
                    ok = PutULong(text, static_cast<const uint32_t*>(data)[i], false);
                    break;
                case KFLOATARRAY:
                    ok = PutFloat(text, k.floatFormat, static_cast<const float*>(data)[i]);
                    break;
                default:
                    ok = PutDouble(text, k.doubleFormat, static_cast<const double*>(data)[i]);
                    break;
                }
                ok = ok && text.Push(0);
            }
            ok = ok && text.Push(static_cast<char>(KCBL_ARRAY_END));
            break;
        }
        default:
            xErrorf("Unknown data type (Missing KEND?) in keyword \"%s\"", keyword);
            return false;
        }
        if (!ok || !text.Push(0))
            return false;
    }
}

// Inserts a rendered item after the current one (or at the end of the
// chunk) and, for "{", creates and enters its chunk.
static int32_t InsertItem(CKCBL& k, Buf& text, Buf& offs, int32_t n)
{
    TKCBLKeyword* item = MakeItem(text.data, text.size, reinterpret_cast<const uint32_t*>(offs.data), n);
    if (item == nullptr)
        return FALSE;
    CLList& list = k.curChunk->list;
    LinkAfter(list, item);
    if (std::strcmp(item->keyword, "{") == 0) {
        item->subChunk = NewChunk(k.curChunk);
        if (item->subChunk == nullptr)
            return FALSE;
        k.curChunk = item->subChunk;
        k.curChunk->list.First();
        ++k.depth;
    }
    return TRUE;
}

// Rendering space for one item: most items fit on the stack and cost no
// allocation beyond their own block.
struct ItemScratch {
    alignas(8) char textStore[2048];
    alignas(8) char offsStore[256];
    Buf text{textStore, sizeof textStore};
    Buf offs{offsStore, sizeof offsStore};
};

static int32_t CreateItem(CKCBL& k, const char* keyword, uint32_t type, va_list ap)
{
    if (!k.hasData && !KcblAccess::Init(k))
        return FALSE;
    ItemScratch s;
    int32_t n = 0;
    if (!RenderItem(k, keyword, type, ap, s.text, s.offs, n))
        return FALSE;
    return InsertItem(k, s.text, s.offs, n);
}

int32_t CKCBL::NewItem(const char* keyword, ...)
{
    va_list ap;
    va_start(ap, keyword);
    uint32_t type = va_arg(ap, uint32_t);
    int32_t r = CreateItem(*this, keyword, type, ap);
    va_end(ap);
    return r;
}

int32_t CKCBL::NewChunk(uint32_t type, ...)
{
    va_list ap;
    va_start(ap, type);
    int32_t r = CreateItem(*this, "{", type, ap);
    va_end(ap);
    return r;
}

int32_t CKCBL::ReplaceItem(const char* keyword, ...)
{
    Buf name;
    if (keyword == nullptr) {
        TKCBLKeyword* cur = GetCurKeyword();
        if (cur == nullptr)
            return FALSE;
        if (!name.Append(cur->keyword, static_cast<uint32_t>(std::strlen(cur->keyword)) + 1))
            return FALSE;
        keyword = name.data;
    } else if (!FindItem(keyword)) {
        return FALSE;
    }
    // Render first, so a bad value list leaves the old item in place.
    va_list ap;
    va_start(ap, keyword);
    uint32_t type = va_arg(ap, uint32_t);
    ItemScratch s;
    int32_t n = 0;
    bool ok = RenderItem(*this, keyword, type, ap, s.text, s.offs, n);
    va_end(ap);
    if (!ok || !KillItem())
        return FALSE;
    return InsertItem(*this, s.text, s.offs, n);
}

int32_t CKCBL::KillItem()
{
    CLList& list = curChunk->list;
    if (GetCurKeyword() == nullptr)
        return FALSE;
    SLListNode* node = list.current;
    SLListNode* prev = node->prev;
    int32_t index = list.index - 1;
    auto* item = static_cast<TKCBLKeyword*>(node->data);
    Detach(list, node);
    FreeItem(item);
    list.current = prev;
    list.index = index;
    return TRUE;
}

// ---------------------------------------------------------------- reading

TKCBLKeyword* CKCBL::GetCurKeyword()
{
    CLList& list = curChunk->list;
    if (list.current == nullptr || list.current == list.first)
        return nullptr;
    return static_cast<TKCBLKeyword*>(list.current->data);
}

char* CKCBL::GetKeyword()
{
    TKCBLKeyword* k = GetCurKeyword();
    return k != nullptr ? k->keyword : nullptr;
}

int32_t CKCBL::GetNumStrings()
{
    TKCBLKeyword* k = GetCurKeyword();
    return k != nullptr ? k->numStrings : 0;
}

char* CKCBL::GetString(int32_t i)
{
    TKCBLKeyword* k = GetCurKeyword();
    if (k == nullptr || i < 0 || i >= k->numStrings)
        return nullptr;
    return k->strings[i];
}

namespace
{

bool ParseLong(const char* s, int32_t* out)
{
    long v = 0;
    if (std::sscanf(s, "%ld", &v) != 1)
        return false;
    *out = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(v)));
    return true;
}
bool ParseULong(const char* s, uint32_t* out)
{
    unsigned long v = 0;
    if (std::sscanf(s, "%lu", &v) != 1)
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}
bool ParseFloat(const char* s, float* out)
{
    return std::sscanf(s, "%f", out) == 1;
}
bool ParseDouble(const char* s, double* out)
{
    return std::sscanf(s, "%lf", out) == 1;
}
bool ParseBool(const char* s, int32_t* out)
{
    if (strcasecmp(s, "TRUE") == 0 || strcasecmp(s, "1") == 0 || strcasecmp(s, "YES") == 0) {
        *out = 1;
        return true;
    }
    if (strcasecmp(s, "FALSE") == 0 || strcasecmp(s, "0") == 0 || strcasecmp(s, "NO") == 0) {
        *out = 0;
        return true;
    }
    return false;
}

template <class T> int32_t GetScalar(CKCBL& k, int32_t i, T* out, bool (*parse)(const char*, T*))
{
    const char* s = k.GetString(i);
    if (s == nullptr || out == nullptr || IsArray(s))
        return FALSE;
    return parse(s, out) ? TRUE : FALSE;
}

template <class T> int32_t GetArray(CKCBL& k, int32_t i, T* out, int32_t n, bool (*parse)(const char*, T*))
{
    if (n < 1)
        return TRUE;
    const char* s = k.GetString(i);
    if (s == nullptr || out == nullptr || !IsArray(s))
        return FALSE;
    ArrayCursor c(s, TextEnd(k.GetCurKeyword()));
    const char* e;
    uint32_t len;
    for (int32_t j = 0; j < n; ++j)
        if (!c.Next(e, len) || !parse(e, &out[j]))
            return FALSE;
    return TRUE;
}

} // namespace

int32_t CKCBL::GetLong(int32_t i, int32_t* out)
{
    return GetScalar(*this, i, out, ParseLong);
}
int32_t CKCBL::GetULong(int32_t i, uint32_t* out)
{
    return GetScalar(*this, i, out, ParseULong);
}
int32_t CKCBL::GetFloat(int32_t i, float* out)
{
    return GetScalar(*this, i, out, ParseFloat);
}
int32_t CKCBL::GetDouble(int32_t i, double* out)
{
    return GetScalar(*this, i, out, ParseDouble);
}
int32_t CKCBL::GetBool(int32_t i, int32_t* out)
{
    return GetScalar(*this, i, out, ParseBool);
}
int32_t CKCBL::GetLongArray(int32_t i, int32_t* out, int32_t n)
{
    return GetArray(*this, i, out, n, ParseLong);
}
int32_t CKCBL::GetULongArray(int32_t i, uint32_t* out, int32_t n)
{
    return GetArray(*this, i, out, n, ParseULong);
}
int32_t CKCBL::GetFloatArray(int32_t i, float* out, int32_t n)
{
    return GetArray(*this, i, out, n, ParseFloat);
}
int32_t CKCBL::GetDoubleArray(int32_t i, double* out, int32_t n)
{
    return GetArray(*this, i, out, n, ParseDouble);
}
int32_t CKCBL::GetBoolArray(int32_t i, int32_t* out, int32_t n)
{
    return GetArray(*this, i, out, n, ParseBool);
}

int32_t CKCBL::GetNumArrayItems(int32_t i, int32_t* n)
{
    const char* s = GetString(i);
    if (s == nullptr || n == nullptr || !IsArray(s))
        return FALSE;
    ArrayCursor c(s, TextEnd(GetCurKeyword()));
    const char* e;
    uint32_t len;
    int32_t count = 0;
    while (c.Next(e, len))
        ++count;
    *n = count;
    return TRUE;
}

int32_t CKCBL::GetDataType(int32_t i)
{
    if (GetCurKeyword() == nullptr)
        return 0;
    const char* s = GetString(i);
    if (s == nullptr)
        return 2;
    if (IsArray(s))
        return 3;
    return s[0] == ';' ? 1 : 2;
}

int32_t CKCBL::IsComment()
{
    const char* k = GetKeyword();
    if (k == nullptr)
        return FALSE;
    return k[0] == ';' || k[0] == ' ' || k[0] == '\t' || k[0] == 0 ? TRUE : FALSE;
}

int32_t CKCBL::ItemExists()
{
    return GetCurKeyword() != nullptr ? TRUE : FALSE;
}

int32_t CKCBL::ItemType()
{
    TKCBLKeyword* k = GetCurKeyword();
    if (k == nullptr)
        return 0;
    return k->subChunk != nullptr ? 2 : 1;
}

int32_t CKCBL::GetItem(const char* keyword, ...)
{
    if (keyword != nullptr && !FindItem(keyword))
        return FALSE;
    TKCBLKeyword* item = GetCurKeyword();
    if (item == nullptr)
        return FALSE;
    va_list ap;
    va_start(ap, keyword);
    int32_t result = TRUE;
    for (int32_t i = 0;; ++i) {
        uint32_t type = va_arg(ap, uint32_t);
        if (type == KEND)
            break;
        bool ok = i < item->numStrings;
        switch (type) {
        case KBOOL:
            ok = GetBool(i, va_arg(ap, int32_t*)) && ok;
            break;
        case KLONG:
            ok = GetLong(i, va_arg(ap, int32_t*)) && ok;
            break;
        case KULONG:
            ok = GetULong(i, va_arg(ap, uint32_t*)) && ok;
            break;
        case KFLOAT:
            ok = GetFloat(i, va_arg(ap, float*)) && ok;
            break;
        case KDOUBLE:
            ok = GetDouble(i, va_arg(ap, double*)) && ok;
            break;
        case KSTRING: {
            int32_t max = va_arg(ap, int32_t);
            char* out = va_arg(ap, char*);
            const char* s = GetString(i);
            // max is the buffer size: the text and its terminator must fit.
            size_t len = s != nullptr ? std::strlen(s) : 0;
            ok = ok && s != nullptr && out != nullptr && !IsArray(s) && max > 0 && max <= 65535 &&
                 len < static_cast<size_t>(max);
            if (ok)
                std::memcpy(out, s, len + 1);
            break;
        }
        case KBOOLARRAY:
        case KLONGARRAY:
        case KULONGARRAY:
        case KFLOATARRAY:
        case KDOUBLEARRAY: {
            int32_t count = va_arg(ap, int32_t);
            void* out = va_arg(ap, void*);
            ok = ok && count <= 65535;
            if (ok) {
                switch (type) {
                case KBOOLARRAY:
                    ok = GetBoolArray(i, static_cast<int32_t*>(out), count);
                    break;
                case KLONGARRAY:
                    ok = GetLongArray(i, static_cast<int32_t*>(out), count);
                    break;
                case KULONGARRAY:
                    ok = GetULongArray(i, static_cast<uint32_t*>(out), count);
                    break;
                case KFLOATARRAY:
                    ok = GetFloatArray(i, static_cast<float*>(out), count);
                    break;
                default:
                    ok = GetDoubleArray(i, static_cast<double*>(out), count);
                    break;
                }
            }
            break;
        }
        default:
            xErrorf("Unknown data type (Missing KEND?) in keyword \"%s\"", item->keyword);
            va_end(ap);
            return FALSE;
        }
        if (!ok) {
            result = FALSE;
            break;
        }
    }
    va_end(ap);
    return result;
}

// ---------------------------------------------------------------- navigation

void CKCBL::MainChunk()
{
    curChunk = &mainChunk;
    depth = 0;
}

int32_t CKCBL::FirstItem()
{
    CLList& list = curChunk->list;
    if (!list.First())
        return FALSE;
    return list.Next() ? TRUE : FALSE;
}

// Positions the parent of the current chunk on the chunk's own item.
static bool ToParent(CKCBL& k)
{
    TKCBLChunk* child = k.curChunk;
    TKCBLChunk* parent = child->parent;
    if (parent == nullptr)
        return false;
    CLList& list = parent->list;
    auto owns = [&](SLListNode* n) {
        return n != nullptr && static_cast<TKCBLKeyword*>(n->data)->subChunk == child;
    };
    if (!owns(list.current)) {
        int32_t i = 0;
        SLListNode* n = list.first;
        while (n != nullptr && !owns(n)) {
            n = n->next;
            ++i;
        }
        list.current = n;
        list.index = i;
    }
    k.curChunk = parent;
    if (k.depth > 0)
        --k.depth;
    return true;
}

int32_t CKCBL::EnterChunk()
{
    TKCBLKeyword* k = GetCurKeyword();
    if (k == nullptr || k->subChunk == nullptr)
        return FALSE;
    curChunk = k->subChunk;
    ++depth;
    curChunk->list.First();
    curChunk->list.Next();
    return TRUE;
}

int32_t CKCBL::ExitChunk()
{
    return ToParent(*this) ? TRUE : FALSE;
}

int32_t CKCBL::NextItem(int32_t deep)
{
    CLList& list = curChunk->list;
    if (deep == 0)
        return list.Next() ? TRUE : FALSE;
    if (ItemType() == 2)
        return EnterChunk();
    if (list.Next())
        return TRUE;
    if (ToParent(*this))
        curChunk->list.Next();
    return FALSE;
}

int32_t CKCBL::FindItem(const char* keyword, const char* s1, const char* s2, const char* s3)
{
    CLList& list = curChunk->list;
    if (keyword == nullptr || list.first == nullptr)
        return FALSE;
    if (list.current == nullptr && !restartMode)
        return FALSE;
    const char* crit[3];
    int32_t nc = 0;
    for (const char* s : {s1, s2, s3})
        if (s != nullptr)
            crit[nc++] = s;
    SLListNode* firstItem = list.first->next;
    SLListNode* start = list.current;
    int32_t index = list.index;
    if (start == nullptr || start == list.first) {
        start = firstItem;
        index = 1;
    }
    if (start == nullptr)
        return FALSE;
    SLListNode* n = start;
    do {
        auto* item = static_cast<TKCBLKeyword*>(n->data);
        bool match = strcasecmp(item->keyword, keyword) == 0 && item->numStrings >= nc;
        for (int32_t i = 0; match && i < nc; ++i)
            match = strcasecmp(item->strings[i], crit[i]) == 0;
        if (match) {
            list.current = n;
            list.index = index;
            return TRUE;
        }
        n = n->next;
        ++index;
        if (n == nullptr) {
            if (!restartMode)
                return FALSE;
            n = firstItem;
            index = 1;
        }
    } while (n != start);
    return FALSE;
}

int32_t CKCBL::FindSubChunk(const char* s1, const char* s2, const char* s3)
{
    return FindItem("{", s1, s2, s3);
}
int32_t CKCBL::FindRawdata(const char* s1, const char* s2, const char* s3)
{
    return FindItem("[", s1, s2, s3);
}
int32_t CKCBL::GetRawdata(void*&, const char*, const char*, const char*)
{
    return TRUE;
}

// ---------------------------------------------------------------- settings and files

void CKCBL::SetMaxLineLength(int32_t n)
{
    if (n == 0)
        maxLineLength = 1000000;
    else if (n > 0)
        maxLineLength = n;
}

void CKCBL::SetFloatPrecision(int32_t p)
{
    if (p >= 11)
        p = 10;
    if (p < 0)
        std::strcpy(floatFormat, "%f");
    else
        std::snprintf(floatFormat, sizeof floatFormat, "%%.%ldf", static_cast<long>(p));
}

void CKCBL::SetDoublePrecision(int32_t p)
{
    if (p >= 11)
        p = 10;
    if (p < 0)
        std::strcpy(doubleFormat, "%lf");
    else
        std::snprintf(doubleFormat, sizeof doubleFormat, "%%.%ldlf", static_cast<long>(p));
}

int32_t CKCBL::Load(const char* fileName)
{
    uint32_t size = 0;
    if (fileName == nullptr || !xFileSize(fileName, &size) || size == 0 || size > 0x7FFFFF00u)
        return FALSE;
    auto* buf = static_cast<char*>(XALLOC(size + 1));
    if (buf == nullptr)
        return FALSE;
    int32_t r = xReadFile(fileName, buf, size);
    if (r) {
        buf[size] = 0;
        r = Import(buf, static_cast<int32_t>(size));
    }
    XFREE(buf);
    return r;
}

int32_t CKCBL::Save(const char* fileName)
{
    int32_t len = 0;
    if (fileName == nullptr || !ExportSize(&len))
        return FALSE;
    auto* buf = static_cast<char*>(XALLOC(static_cast<uint32_t>(len) + 1));
    if (buf == nullptr)
        return FALSE;
    int32_t r = Export(buf, len + 1, &len);
    if (r)
        r = xWriteFile(fileName, buf, hasData && len > 0 ? static_cast<uint32_t>(len) : 0u);
    XFREE(buf);
    return r;
}
