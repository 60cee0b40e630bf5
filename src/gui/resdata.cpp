// CResData: reading a resource file (plain script or "PRES"-packed), the
// set-up that turns the media sections into look-up lists, the look-ups by
// id and name, the error list and the loans of the default look. The
// section readers live in resdata_media.cpp (palette, fonts, bitmaps,
// animations) and resdata_names.cpp (colours, flags, hotkeys, defaults).
//
// A packed file is outside input: it is expanded with the bounded LZSS form
// and must hold exactly one zero-free text, so nothing the file says can
// make the loader read or write outside its buffers.
#include "gui/resdata_internal.h"

#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/lzss.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/strings.h>
#include <tarvex/window.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{
// The default hooks reach the current screen when they are called: with no
// screen, or one without a mode, the pictures stay as they were loaded, so
// tools and tests load resources headless.
int32_t CurrentScreenPalette(CPalette* palette)
{
    CScreenBase* s = glb != nullptr ? glb->screen : nullptr;
    if (s == nullptr || s->activeMode == nullptr)
        return TRUE;
    return s->SetPalette(palette);
}
int32_t CurrentScreenBitmap(CBitmap* bitmap, int32_t keep)
{
    CScreenBase* s = glb != nullptr ? glb->screen : nullptr;
    if (s == nullptr || s->activeMode == nullptr)
        return TRUE;
    return s->MakeScreenBitmap(bitmap, keep);
}
constexpr SResScreenHooks kCurrentScreen{CurrentScreenPalette, CurrentScreenBitmap};
SResScreenHooks g_screenHooks = kCurrentScreen;

char* CopyText(const char* s)
{
    size_t n = std::strlen(s) + 1;
    auto* p = static_cast<char*>(XALLOC(n));
    if (p != nullptr)
        std::memcpy(p, s, n);
    return p;
}

template <class T> void FreeList(CLList& list, void (*release)(T*))
{
    for (list.First(); list.Exists(); list.Next())
        release(static_cast<T*>(list.Get()));
    list.KillAll();
}

struct SLoan {
    void* borrower;
    XResLoanEnd onEnd;
};

// The predefined ids, entered before a "Defines" section's own.
constexpr struct {
    const char* name;
    int32_t id;
} kPredefinedIds[] = {{"IDS_NONE", 0}, {"IDB_NONE", 0}, {"IDP_NONE", 0},
                      {"IDG_NONE", 0}, {"IDL_NONE", 0}, {"XCNTRL_CLOSE", XCNTRL_CLOSE}};

} // namespace

void xSetResScreenHooks(const SResScreenHooks* hooks)
{
    g_screenHooks = hooks != nullptr ? *hooks : kCurrentScreen;
}

const SResScreenHooks& tvres::ScreenHooks() { return g_screenHooks; }

bool tvres::CopyName(char (&dst)[XRES_NAME_MAX + 1], const char* src)
{
    if (src == nullptr || std::strlen(src) > static_cast<size_t>(XRES_NAME_MAX))
        return false;
    std::strcpy(dst, src);
    return true;
}

// ---------------------------------------------------------------- life

CResData::CResData(const CResData& other) : CKCBL(other) {}

CResData& CResData::operator=(const CResData& other)
{
    if (this != &other) {
        Free();
        CKCBL::operator=(other);
    }
    return *this;
}

CResData::~CResData() { Free(); }

void CResData::ClearLists()
{
    FreeList<TResDefine>(defines, [](TResDefine* d) { XDELETE(d); });
    FreeList<TResValue>(values, [](TResValue* v) { XDELETE(v); });
    FreeList<TResString>(strings, [](TResString* s) {
        if (s->text != nullptr)
            XFREE(s->text);
        XDELETE(s);
    });
    FreeList<TResFont>(fonts, [](TResFont* f) {
        XDELETE(f->font);
        XDELETE(f);
    });
    FreeList<TResBitmap>(bitmaps, [](TResBitmap* b) {
        XDELETE(b->bitmap);
        XDELETE(b);
    });
    FreeList<TResAnim>(anims, [](TResAnim* a) {
        xFreeCntrlAnim(a->anim);
        XDELETE(a);
    });
    FreeList<TResColor>(colors, [](TResColor* c) {
        if (c->colors != nullptr)
            XFREE(c->colors);
        XDELETE(c);
    });
    FreeList<TResCntrlColor>(cntrlColors, [](TResCntrlColor* c) {
        XDELETE(c->set);
        XDELETE(c);
    });
    FreeList<TResError>(errors, [](TResError* e) {
        if (e->text != nullptr)
            XFREE(e->text);
        XDELETE(e);
    });
    XDELETE(palette);
    palette = nullptr;
}

void CResData::Free()
{
    // Borrowers first: they must let go before the objects they point at go.
    for (loans.First(); loans.Exists(); loans.Next()) {
        auto* loan = static_cast<SLoan*>(loans.Get());
        if (loan->onEnd != nullptr)
            loan->onEnd(loan->borrower, &defaults);
        XDELETE(loan);
    }
    loans.KillAll();
    defaults = TResDefaults{};
    hasDefaults = 0;
    ClearLists();
    CKCBL::Free();
    restartMode = 1;
    m_section = "Load";
}

// ---------------------------------------------------------------- errors

// Records the message on the error object and in the error list (section
// of the step that is running).
int32_t CResData::Note(const char* format, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    xErrorf("%s", text);
    auto* e = XNEW(TResError);
    if (e == nullptr)
        return FALSE;
    std::snprintf(e->section, sizeof e->section, "%s", m_section);
    e->text = CopyText(text);
    if (e->text == nullptr || !errors.InsertLast(e)) {
        if (e->text != nullptr)
            XFREE(e->text);
        XDELETE(e);
    }
    return FALSE;
}

// As Note, but the error list also keeps what the failing lower call
// recorded (the error object gets the message alone).
int32_t CResData::NoteLower(const char* format, ...)
{
    char lower[512];
    std::snprintf(lower, sizeof lower, "%s", glb != nullptr ? glb->error.GetError() : "");
    char text[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    Note("%s [%s]", text, lower);
    xErrorf("%s", text);
    return FALSE;
}

// ---------------------------------------------------------------- loading

int32_t CResData::Load(const char* file)
{
    Free();
    m_section = "Load";
    uint32_t size = 0;
    if (file == nullptr || !xFileExists(file))
        return Note("CResData::Load: Res file do not exist.");
    if (!xFileSize(file, &size))
        return Note("CResData::Load: Unable to get res filesize.");
    CFile f;
    if (size > 8) {
        char head[8];
        if (!f.Open(file, XFILE_READ) || !f.Read(head, 8))
            return Note("CResData::Load: (ASCII RES) Unable to read header.");
        f.Close();
        if (strncasecmp(head, "; script", 8) == 0) {
            if (!CKCBL::Load(file))
                return NoteLower("CResData::Load: (ASCII RES) Unable to load kcbl packet data.");
            return Setup();
        }
    }
    if (size > 12) {
        uint8_t head[12];
        if (!f.Open(file, XFILE_READ) || !f.Read(head, 12))
            return Note("CResData::Load: (PRES RES) Unable to read header.");
        f.Close();
        if (std::memcmp(head, "PRES", 4) == 0) {
            uint32_t n = head[4] | head[5] << 8 | head[6] << 16 | static_cast<uint32_t>(head[7]) << 24;
            if (static_cast<uint64_t>(n) + 12 != size)
                return Note("CResData::Load: (PRES RES) Unable to read file, the packed filesize is not "
                            "correct.");
            auto* packed = static_cast<char*>(XALLOC(size));
            if (packed == nullptr)
                return Note("CResData::Load: (PRES RES) Unable to allocate memory (packed data).");
            if (!xReadFile(file, packed, size)) {
                XFREE(packed);
                return Note("CResData::Load: (PRES RES) Unable to read packed data.");
            }
            int32_t oom = 0;
            char* text = xUnpackRes(packed + 12, n, nullptr, &oom);
            XFREE(packed);
            if (text == nullptr)
                return oom ? Note("CResData::Load: (PRES RES) Unable to allocate memory (unpacked data).")
                           : NoteLower("CResData::Load: (PRES RES) Unable to unpack data.");
            int32_t ok = CKCBL::Import(text);
            XFREE(text);
            if (!ok)
                return NoteLower("CResData::Load: (PRES RES) Unable to import kcbl packet data.");
            return Setup();
        }
    }
    return Note("CResData::Load: The file specified is not a valid res file.");
}

char* xUnpackRes(const char* src, uint32_t srcSize, uint32_t* length, int32_t* outOfMemory)
{
    if (outOfMemory != nullptr)
        *outOfMemory = 0;
    auto oom = [&]() -> char* {
        if (outOfMemory != nullptr)
            *outOfMemory = 1;
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    };
    CLzss* lzss = XNEW(CLzss);
    if (lzss == nullptr)
        return oom();
    glb->error.Clear();
    uint32_t size = 0; // counting pass
    lzss->ExpandBuffer(src, srcSize, nullptr, &size);
    if (size == 0 && glb->error.GetErrCode() != XERR_NONE) { // no end mark
        XDELETE(lzss);
        return nullptr;
    }
    auto* buf = static_cast<char*>(XALLOC(static_cast<uint64_t>(size) + 1));
    if (buf == nullptr) {
        XDELETE(lzss);
        return oom();
    }
    std::memset(buf, 0, static_cast<size_t>(size) + 1);
    uint32_t got = size;
    int32_t ok = size == 0 || lzss->ExpandBuffer(src, srcSize, buf, &got);
    XDELETE(lzss);
    if (!ok || got != size) {
        XFREE(buf);
        xErrorTxt_Func("xUnpackRes: The packed text does not expand.", __FILE__, __LINE__);
        return nullptr;
    }
    if (std::memchr(buf, 0, size) != nullptr) {
        XFREE(buf);
        xErrorTxt_Func("xUnpackRes: The packed text holds a zero byte.", __FILE__, __LINE__);
        return nullptr;
    }
    if (length != nullptr)
        *length = size;
    return buf;
}

char* xPackRes(const char* text, uint32_t length, uint32_t* fileSize)
{
    if (text == nullptr || fileSize == nullptr || std::memchr(text, 0, length) != nullptr) {
        xErrorTxt_Func("xPackRes: The text is missing or holds a zero byte.", __FILE__, __LINE__);
        return nullptr;
    }
    CLzss* lzss = XNEW(CLzss);
    if (lzss == nullptr) {
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    uint32_t n = length;
    char* packed = length != 0 ? lzss->CompressBuffer(text, &n) : nullptr;
    XDELETE(lzss);
    if (length != 0 && packed == nullptr)
        return nullptr;
    if (length == 0)
        n = 0;
    auto* out = static_cast<char*>(XALLOC(static_cast<uint64_t>(n) + 12));
    if (out == nullptr) {
        if (packed != nullptr)
            XFREE(packed);
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    std::memcpy(out, "PRES", 4);
    // Bytes 4-7 the packed length, 8-11 the text length (the loader only
    // checks the first); both little-endian.
    for (int32_t b = 0; b < 4; ++b) {
        out[4 + b] = static_cast<char>(n >> (8 * b));
        out[8 + b] = static_cast<char>(length >> (8 * b));
    }
    if (packed != nullptr) {
        std::memcpy(out + 12, packed, n);
        XFREE(packed);
    }
    *fileSize = n + 12;
    return out;
}

int32_t CResData::Import(const char* text)
{
    Free();
    m_section = "Load";
    if (text == nullptr)
        return Note("CResData::Import: Missing text.");
    if (!CKCBL::Import(text))
        return NoteLower("CResData::Import: Unable to import kcbl data.");
    return Setup();
}

// ---------------------------------------------------------------- set-up

// Calls step for each item of every section with that name, in file order;
// a failing step ends its section (a later section of the same name is
// still read).
int32_t tvres::ForEachItem(CResData& r, const char* section, bool (*step)(CResData&, void*), void* ctx)
{
    int32_t found = 0;
    r.MainChunk();
    for (bool more = r.FirstItem() != 0; more; more = r.NextItem(0) != 0) {
        TKCBLKeyword* k = r.GetCurKeyword();
        if (k == nullptr || k->subChunk == nullptr || k->numStrings < 1 ||
            std::strcmp(k->keyword, "{") != 0 || strcasecmp(k->strings[0], section) != 0)
            continue;
        ++found;
        if (!r.EnterChunk())
            continue;
        bool ok = true;
        for (bool item = r.ItemExists() != 0; item && ok; item = r.NextItem(0) != 0) {
            if (r.IsComment())
                continue;
            ok = step(r, ctx);
        }
        r.ExitChunk();
    }
    return found;
}

namespace
{
bool StepDefine(CResData& r, void*)
{
    const char* name = r.GetKeyword();
    auto* d = XNEW(TResDefine);
    if (d == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__), false;
    if (!tvres::CopyName(d->name, name)) {
        XDELETE(d);
        return tvres::Fail(r, "Define name to big : \"%s\"", name);
    }
    if (!r.GetLong(0, &d->id)) {
        XDELETE(d);
        return tvres::Fail(r, "Unable to get define id for \"%s\"", name);
    }
    r.defines.InsertLast(d);
    return true;
}

bool StepString(CResData& r, void*)
{
    const char* name = r.GetKeyword();
    int32_t id = 0;
    if (std::strlen(name) > static_cast<size_t>(XRES_NAME_MAX))
        return tvres::Fail(r, "Define name to big : \"%s\"", name);
    if (!r.GetLong(0, &id) || r.GetNumStrings() < 2 || r.GetString(1) == nullptr)
        return tvres::Fail(r, "Unable to get id/string for \"%s\"", name);
    auto* s = XNEW(TResString);
    if (s == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__), false;
    tvres::CopyName(s->name, name);
    s->id = id;
    s->text = CopyText(r.GetString(1));
    if (s->text == nullptr) {
        XDELETE(s);
        return tvres::Fail(r, "Out of memory");
    }
    r.strings.InsertLast(s);
    return true;
}

bool StepValue(CResData& r, void*)
{
    const char* name = r.GetKeyword();
    int32_t id = 0, value = 0;
    if (std::strlen(name) > static_cast<size_t>(XRES_NAME_MAX))
        return tvres::Fail(r, "Define name to big : \"%s\"", name);
    if (!r.GetLong(0, &id) || !r.GetLong(1, &value))
        return tvres::Fail(r, "Unable to get id/value for \"%s\"", name);
    auto* v = XNEW(TResValue);
    if (v == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__), false;
    tvres::CopyName(v->name, name);
    v->id = id;
    v->value = value;
    r.values.InsertLast(v);
    return true;
}

bool HasSection(CResData& r, const char* section)
{
    r.MainChunk();
    for (bool more = r.FirstItem() != 0; more; more = r.NextItem(0) != 0) {
        TKCBLKeyword* k = r.GetCurKeyword();
        if (k != nullptr && k->subChunk != nullptr && k->numStrings >= 1 &&
            std::strcmp(k->keyword, "{") == 0 && strcasecmp(k->strings[0], section) == 0)
            return true;
    }
    return false;
}

void RemoveSections(CResData& r)
{
    static constexpr const char* kGone[] = {"Defines", "Strings",    "Values", "Palette",
                                            "Bitmaps", "Animations", "Colors"};
    r.MainChunk();
    for (bool more = r.FirstItem() != 0; more;) {
        TKCBLKeyword* k = r.GetCurKeyword();
        bool gone = false;
        if (k != nullptr && k->subChunk != nullptr && k->numStrings >= 1 && std::strcmp(k->keyword, "{") == 0)
            for (const char* s : kGone)
                gone = gone || strcasecmp(k->strings[0], s) == 0;
        if (gone)
            r.KillItem();
        more = r.NextItem(0) != 0;
    }
}
} // namespace

bool tvres::Fail(CResData& r, const char* format, ...)
{
    char text[768];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    r.Note("%s", text);
    return false;
}

bool tvres::FailLower(CResData& r, const char* format, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    r.NoteLower("%s", text);
    return false;
}

int32_t CResData::Setup()
{
    RestartMode(0);
    m_section = "Defines";
    if (HasSection(*this, "Defines")) {
        for (const auto& p : kPredefinedIds) {
            auto* d = XNEW(TResDefine);
            if (d == nullptr)
                break;
            d->id = p.id;
            tvres::CopyName(d->name, p.name);
            defines.InsertLast(d);
        }
    }
    tvres::ForEachItem(*this, "Defines", StepDefine, nullptr);
    m_section = "Strings";
    tvres::ForEachItem(*this, "Strings", StepString, nullptr);
    m_section = "Values";
    tvres::ForEachItem(*this, "Values", StepValue, nullptr);
    tvres::SetupPalette(*this);
    tvres::SetupFonts(*this);
    tvres::SetupBitmaps(*this);
    tvres::SetupAnims(*this);
    tvres::SetupColors(*this);
    tvres::SetupDefaults(*this);
    // A GUI root that exists takes the default look at once.
    if (hasDefaults && glb != nullptr && glb->rootWindow != nullptr)
        glb->rootWindow->BorrowDefaults(this);
    RemoveSections(*this);
    RestartMode(1);
    MainChunk();
    FirstItem();
    m_section = "Load";
    return TRUE;
}

// ---------------------------------------------------------------- look-ups

const char* CResData::GetResName(int32_t id)
{
    for (defines.First(); defines.Exists(); defines.Next()) {
        auto* d = static_cast<TResDefine*>(defines.Get());
        if (d->id == id)
            return d->name;
    }
    return nullptr;
}

const char* CResData::GetResString(int32_t id)
{
    for (strings.First(); strings.Exists(); strings.Next()) {
        auto* s = static_cast<TResString*>(strings.Get());
        if (s->id == id)
            return s->text;
    }
    return nullptr;
}

const char* CResData::GetResString(int32_t id, const char* fallback)
{
    const char* s = GetResString(id);
    return s != nullptr ? s : fallback;
}

int32_t CResData::GetResValue(int32_t id)
{
    for (values.First(); values.Exists(); values.Next()) {
        auto* v = static_cast<TResValue*>(values.Get());
        if (v->id == id)
            return v->value;
    }
    return xErrorTxt_Func("No value associated with this is", __FILE__, __LINE__);
}

int32_t CResData::GetResId(const char* name, int32_t* id)
{
    if (name == nullptr || id == nullptr)
        return FALSE;
    for (defines.First(); defines.Exists(); defines.Next()) {
        auto* d = static_cast<TResDefine*>(defines.Get());
        if (strcasecmp(d->name, name) == 0) {
            *id = d->id;
            return TRUE;
        }
    }
    return FALSE;
}

CFont* CResData::GetFont(const char* name)
{
    for (fonts.First(); name != nullptr && fonts.Exists(); fonts.Next()) {
        auto* f = static_cast<TResFont*>(fonts.Get());
        if (strcasecmp(f->name, name) == 0)
            return f->font;
    }
    xErrorf("The \"%s\" font hasn't been preloaded in the res file", name != nullptr ? name : "");
    return nullptr;
}

CBitmap* CResData::GetBm(const char* name)
{
    for (bitmaps.First(); name != nullptr && bitmaps.Exists(); bitmaps.Next()) {
        auto* b = static_cast<TResBitmap*>(bitmaps.Get());
        if (strcasecmp(b->name, name) == 0)
            return b->bitmap;
    }
    xErrorf("Unable to find the \"%s\" bitmap in the res file", name != nullptr ? name : "");
    return nullptr;
}

TCntrlAnim* CResData::GetAnim(const char* name)
{
    for (anims.First(); name != nullptr && anims.Exists(); anims.Next()) {
        auto* a = static_cast<TResAnim*>(anims.Get());
        if (strcasecmp(a->name, name) == 0)
            return a->anim;
    }
    xErrorf("Unable to find the \"%s\" anim in the res file", name != nullptr ? name : "");
    return nullptr;
}

CFont* CResData::GetFont(int32_t i) { return GetFont(GetString(i)); }
CBitmap* CResData::GetBitmap(int32_t i) { return GetBm(GetString(i)); }
TCntrlAnim* CResData::GetAnim(int32_t i) { return GetAnim(GetString(i)); }

int32_t CResData::GetResFlags(int32_t i, int32_t* flags) { return ParseFlags(GetString(i), flags); }
int32_t CResData::GetHotkey(int32_t i, int16_t* key) { return ParseHotkey(GetString(i), key); }
int32_t CResData::GetColor(int32_t i, TRGBA* out, int32_t entry)
{
    return ParseColor(GetString(i), out, entry);
}
TCntrlColor* CResData::GetCntrlColor(int32_t i) { return GetCntrlColor(GetString(i)); }

// ---------------------------------------------------------------- data section

int32_t CResData::EnterDataChunk()
{
    MainChunk();
    RestartMode(1);
    FirstItem();
    if (!FindItem("{", "Data"))
        return FALSE;
    return EnterChunk();
}

void CResData::ExitDataChunk() { ExitChunk(); }

// ---------------------------------------------------------------- loans

const TResDefaults* CResData::LendDefaults(void* borrower, XResLoanEnd onEnd)
{
    if (!hasDefaults)
        return nullptr;
    EndLoan(borrower);
    auto* loan = XNEW(SLoan);
    if (loan == nullptr) {
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    loan->borrower = borrower;
    loan->onEnd = onEnd;
    if (!loans.InsertLast(loan)) {
        XDELETE(loan);
        return nullptr;
    }
    return &defaults;
}

void CResData::EndLoan(void* borrower)
{
    for (loans.First(); loans.Exists();) {
        auto* loan = static_cast<SLoan*>(loans.Get());
        if (loan->borrower == borrower) {
            XDELETE(loan);
            loans.Delete();
        } else {
            loans.Next();
        }
    }
}
