// The named values of resource scripts: flag words and key names (looked up
// in full, ignoring case), colour values (four channel numbers or a colour
// list name with an entry), colour lists with the predefined colours,
// colour sets built from them, and the "Defaults" section that collects the
// GUI's default look for the GUI root to take.
#include "gui/resdata_internal.h"

#include <tarvex/frame.h>
#include <tarvex/keyboard.h>
#include <tarvex/memory.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <strings.h>

namespace
{
struct SName {
    const char* name;
    int32_t value;
};

#define TV_NAME(n)                                                                                           \
    {                                                                                                        \
#n, n                                                                                                \
    }
constexpr SName kFlagNames[] = {
    TV_NAME(XWIN_TITLEBAR),      TV_NAME(XWIN_FRAME),        TV_NAME(XWIN_CLOSE),
    TV_NAME(XWIN_MODAL),         TV_NAME(XWIN_SIZE),         TV_NAME(XWIN_DRAG),
    TV_NAME(XWIN_CENTER),        TV_NAME(XWIN_POPUP),        TV_NAME(XWIN_AUTORESIZE),
    TV_NAME(XWIN_BORDER),        TV_NAME(XWIN_ALPHA),        TV_NAME(XWIN_HIGHLIGHTIFINACTIVE),
    TV_NAME(XWIN_SYSTEMWINDOW),  TV_NAME(XWIN_ZORDERFIRST),  TV_NAME(XWIN_ZORDERLAST),
    TV_NAME(XWIN_ZORDER),        TV_NAME(XWIN_ALWAYSLAST),   TV_NAME(CNTRL_EXTRUDED),
    TV_NAME(CNTRL_TRANSPARENT),  TV_NAME(CNTRL_HASBITMAP),   TV_NAME(CNTRL_TILED),
    TV_NAME(CNTRL_ANIMNORMAL),   TV_NAME(CNTRL_ANIMPRESSED), TV_NAME(CNTRL_ANIMHIGHLIGHT),
    TV_NAME(CNTRL_ALPHA),        TV_NAME(CNTRL_BMTRANS),     TV_NAME(CNTRL_CHECKED),
    TV_NAME(CNTRL_HSLIDER),      TV_NAME(CNTRL_CENTERH),     TV_NAME(CNTRL_CENTERV),
    TV_NAME(CNTRL_MULTILINE),    TV_NAME(CNTRL_READONLY),    TV_NAME(CNTRL_TABSTOP),
    TV_NAME(CNTRL_BUTTONBORDER), TV_NAME(CNTRL_EDITVSLIDER), TV_NAME(CNTRL_EDITHSLIDER),
    TV_NAME(CNTRL_PASSWORD),     TV_NAME(CNTRL_NOWORDWRAP),  TV_NAME(CNTRL_BTNTRANSCLICK),
    TV_NAME(XGUI_PRESSED),       TV_NAME(XGUI_RELEASED),     TV_NAME(XGUI_HIGHLIGHT),
    TV_NAME(XGUI_DISABLED),      TV_NAME(XGUI_HIDDEN),       TV_NAME(ANIM_ONCE),
    TV_NAME(ANIM_LOOP),          TV_NAME(ANIM_PINGPONG),
};

// Keys with names of their own; the digit, letter, number-pad digit and
// function-key families are recognised by pattern in KeyValue.
constexpr SName kKeyNames[] = {
    {"NULL", 0},           TV_NAME(XKEY_NONE),     TV_NAME(XKEY_BSPACE),     TV_NAME(XKEY_TAB),
    TV_NAME(XKEY_ENTER),   TV_NAME(XKEY_ESC),      TV_NAME(XKEY_SPACE),      TV_NAME(XKEY_MULTIPLY),
    TV_NAME(XKEY_ADD),     TV_NAME(XKEY_DECIMAL),  TV_NAME(XKEY_SUBTRACT),   TV_NAME(XKEY_DOT),
    TV_NAME(XKEY_DIVIDE),  TV_NAME(XKEY_TILDE),    TV_NAME(XKEY_INSERT),     TV_NAME(XKEY_DELETE),
    TV_NAME(XKEY_HOME),    TV_NAME(XKEY_END),      TV_NAME(XKEY_PAGEUP),     TV_NAME(XKEY_PAGEDOWN),
    TV_NAME(XKEY_LEFT),    TV_NAME(XKEY_UP),       TV_NAME(XKEY_RIGHT),      TV_NAME(XKEY_DOWN),
    TV_NAME(XKEY_SHIFT),   TV_NAME(XKEY_LSHIFT),   TV_NAME(XKEY_RSHIFT),     TV_NAME(XKEY_CTRL),
    TV_NAME(XKEY_LCTRL),   TV_NAME(XKEY_RCTRL),    TV_NAME(XKEY_ALT),        TV_NAME(XKEY_LALT),
    TV_NAME(XKEY_RALT),    TV_NAME(XKEY_WIN),      TV_NAME(XKEY_LWIN),       TV_NAME(XKEY_RWIN),
    TV_NAME(XKEY_NUMLOCK), TV_NAME(XKEY_NPDIVIDE), TV_NAME(XKEY_NPMULTIPLY), TV_NAME(XKEY_NPSUBTRACT),
    TV_NAME(XKEY_NPADD),   TV_NAME(XKEY_NPENTER),  TV_NAME(XKEY_NPDECIMAL),  TV_NAME(XKEY_PRINTSCR),
    TV_NAME(XKEY_SCROLL),  TV_NAME(XKEY_BREAK),    TV_NAME(XKEY_CAPSLOCK),
};
#undef TV_NAME

bool TableValue(const SName* table, size_t n, const char* word, size_t len, int32_t* out)
{
    for (size_t i = 0; i < n; ++i)
        if (std::strlen(table[i].name) == len && strncasecmp(table[i].name, word, len) == 0) {
            *out = table[i].value;
            return true;
        }
    return false;
}

bool FlagValue(const char* word, size_t len, int32_t* out)
{
    return TableValue(kFlagNames, std::size(kFlagNames), word, len, out);
}

bool KeyValue(const char* word, size_t len, int32_t* out)
{
    if (TableValue(kKeyNames, std::size(kKeyNames), word, len, out))
        return true;
    if (len < 6 || strncasecmp(word, "XKEY_", 5) != 0)
        return false;
    const char* rest = word + 5;
    size_t n = len - 5;
    auto number = [](const char* s, size_t k, int32_t lo, int32_t hi, int32_t* v) {
        if (k == 0 || k > 2)
            return false;
        int32_t x = 0;
        for (size_t i = 0; i < k; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(s[i])))
                return false;
            x = x * 10 + (s[i] - '0');
        }
        if (x < lo || x > hi || (k == 2 && s[0] == '0'))
            return false;
        *v = x;
        return true;
    };
    int32_t v = 0;
    if (n == 1 && std::isdigit(static_cast<unsigned char>(rest[0]))) {
        *out = XKEY_0 + (rest[0] - '0');
        return true;
    }
    if (n == 1 && std::isalpha(static_cast<unsigned char>(rest[0]))) {
        *out = XKEY_A + (std::toupper(static_cast<unsigned char>(rest[0])) - 'A');
        return true;
    }
    if (n == 3 && strncasecmp(rest, "NP", 2) == 0 && number(rest + 2, 1, 0, 9, &v)) {
        *out = XKEY_NP0 + v;
        return true;
    }
    if (n >= 2 && (rest[0] == 'F' || rest[0] == 'f') && number(rest + 1, n - 1, 1, 24, &v)) {
        *out = XKEY_F1 + v - 1;
        return true;
    }
    return false;
}

// Or-s the values of the words of text (split at blanks, tabs and "|").
int32_t ParseWords(const char* text, int32_t* out, bool (*lookup)(const char*, size_t, int32_t*))
{
    if (text == nullptr || out == nullptr)
        return xErrorTxt_Func("Unknown flag", __FILE__, __LINE__);
    if (std::strcmp(text, "0") == 0) {
        *out = 0;
        return TRUE;
    }
    int32_t value = 0;
    bool any = false;
    for (const char* p = text; *p != 0;) {
        while (*p == ' ' || *p == '\t' || *p == '|')
            ++p;
        const char* start = p;
        while (*p != 0 && *p != ' ' && *p != '\t' && *p != '|')
            ++p;
        if (p == start)
            break;
        int32_t v = 0;
        if (!lookup(start, static_cast<size_t>(p - start), &v))
            return xErrorTxt_Func("Unknown flag", __FILE__, __LINE__);
        value |= v;
        any = true;
    }
    if (!any)
        return xErrorTxt_Func("Unknown flag", __FILE__, __LINE__);
    *out = value;
    return TRUE;
}

bool IsSep(char c) { return c == ' ' || c == '\t' || c == ','; }

// A channel number of the four-number form: 0..255 and nothing else.
bool Channel(const char*& p, uint8_t* out)
{
    while (IsSep(*p))
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p)) && *p != '-' && *p != '+')
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || v < 0 || v > 255 || (*end != 0 && !IsSep(*end)))
        return false;
    *out = static_cast<uint8_t>(v);
    p = end;
    return true;
}

bool AddColorList(CResData& r, const char* name, const TRGBA* colors, int32_t count)
{
    auto* c = XNEW(TResColor);
    if (c == nullptr)
        return false;
    tvres::CopyName(c->name, name);
    c->count = count;
    c->colors = static_cast<TRGBA*>(XALLOC(sizeof(TRGBA) * static_cast<size_t>(count > 0 ? count : 1)));
    if (c->colors == nullptr) {
        XDELETE(c);
        return false;
    }
    for (int32_t i = 0; i < count; ++i)
        c->colors[i] = colors[i];
    r.colors.InsertLast(c);
    return true;
}

bool StepColor(CResData& r, void*)
{
    const char* name = r.GetKeyword();
    if (std::strlen(name) > static_cast<size_t>(XRES_NAME_MAX))
        return tvres::Fail(r, "Color define name to big : \"%s\"", name);
    const int32_t n = r.GetNumStrings();
    if (n < 1)
        return tvres::Fail(r, "Unable to find the specified color (\"%s\")", name);
    auto* list = static_cast<TRGBA*>(XALLOC(sizeof(TRGBA) * static_cast<size_t>(n)));
    if (list == nullptr)
        return tvres::Fail(r, "Out of memory");
    bool ok = true;
    for (int32_t i = 0; i < n && ok; ++i)
        ok = r.GetColor(i, &list[i], 0) != 0;
    if (ok)
        ok = AddColorList(r, name, list, n) || tvres::Fail(r, "Out of memory");
    else
        r.Note("%s", glb->error.GetError()); // the colour message, under this section
    XFREE(list);
    return ok;
}

bool Bitmaps4(CResData& r, CBitmap* out[4], const char* failText)
{
    for (int32_t i = 0; i < 4; ++i) {
        const char* name = r.GetString(i);
        out[i] = name != nullptr ? r.GetBm(name) : nullptr;
        if (out[i] == nullptr) {
            for (int32_t j = 0; j < 4; ++j)
                out[j] = nullptr;
            return tvres::FailLower(r, "%s", failText);
        }
    }
    return true;
}

bool Sets4(CResData& r, TCntrlColor* out[4])
{
    TCntrlColor* got[4];
    for (int32_t i = 0; i < 4; ++i) {
        got[i] = r.GetCntrlColor(i);
        if (got[i] == nullptr)
            return tvres::Fail(r, "%s", glb->error.GetError());
    }
    for (int32_t i = 0; i < 4; ++i)
        out[i] = got[i];
    return true;
}

bool StepDefault(CResData& r, void*)
{
    const char* k = r.GetKeyword();
    if (k == nullptr)
        return tvres::Fail(r, "GetKeyword returned error.");
    TResDefaults& d = r.defaults;
    auto is = [k](const char* s) { return strcasecmp(k, s) == 0; };
    if (is("Font")) {
        d.font = r.GetFont(0);
        return d.font != nullptr || tvres::FailLower(r, "Unable to get the default font");
    }
    if (is("Caret")) {
        d.caret = r.GetBitmap(0);
        return d.caret != nullptr || tvres::FailLower(r, "Unable to get the default caret bitmap");
    }
    if (is("Check")) {
        d.check = r.GetBitmap(0);
        return d.check != nullptr || tvres::FailLower(r, "Unable to get the default check bitmap");
    }
    if (is("Close"))
        return Bitmaps4(r, d.close, "Unable to get the default close bitmaps");
    if (is("Drop"))
        return Bitmaps4(r, d.drop, "Unable to get the default drop bitmaps");
    if (is("ArrowUp"))
        return Bitmaps4(r, d.arrowUp, "Unable to get the default arrow up bitmaps");
    if (is("ArrowDown"))
        return Bitmaps4(r, d.arrowDown, "Unable to get the default arrow down bitmaps");
    if (is("Titlebar"))
        return Sets4(r, d.titlebar);
    if (is("Frame"))
        return Sets4(r, d.frame);
    if (is("Button"))
        return Sets4(r, d.button);
    if (is("Static"))
        return Sets4(r, d.statics);
    // Other keywords are left for newer readers.
    return true;
}
} // namespace

int32_t CResData::ParseFlags(const char* text, int32_t* flags) { return ParseWords(text, flags, FlagValue); }

int32_t CResData::ParseHotkey(const char* text, int16_t* key)
{
    int32_t v = 0;
    if (key == nullptr || !ParseWords(text, &v, KeyValue))
        return FALSE;
    *key = static_cast<int16_t>(v);
    return TRUE;
}

int32_t CResData::ParseColor(const char* text, TRGBA* out, int32_t entry)
{
    if (text == nullptr || out == nullptr)
        return xErrorf("Unable to find the specified color (\"%s\")", text != nullptr ? text : "");
    const char* p = text;
    while (IsSep(*p))
        ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        // A name, optionally followed by the entry's index.
        char name[XRES_NAME_MAX + 2];
        size_t n = 0;
        while (p[n] != 0 && !IsSep(p[n]))
            ++n;
        if (n > static_cast<size_t>(XRES_NAME_MAX))
            return xErrorf("Unable to find the specified color (\"%s\")", text);
        std::memcpy(name, p, n);
        name[n] = 0;
        const char* q = p + n;
        while (IsSep(*q))
            ++q;
        if (*q != 0) {
            char* end = nullptr;
            errno = 0;
            long v = std::strtol(q, &end, 10);
            while (end != nullptr && IsSep(*end))
                ++end;
            if (end == q || errno != 0 || *end != 0 || v < 0 || v > 0x7FFFFFFF)
                return xErrorf("Unable to find the specified color (\"%s\")", text);
            entry = static_cast<int32_t>(v);
        }
        return GetCol(name, out, entry);
    }
    TRGBA c;
    if (!Channel(p, &c.r) || !Channel(p, &c.g) || !Channel(p, &c.b) || !Channel(p, &c.a))
        return xErrorf("Unable to read the color \"%s\": four numbers 0-255 are needed", text);
    while (IsSep(*p))
        ++p;
    if (*p != 0)
        return xErrorf("Unable to read the color \"%s\": four numbers 0-255 are needed", text);
    *out = c;
    return TRUE;
}

int32_t CResData::GetCol(const char* name, TRGBA* out, int32_t entry)
{
    if (name != nullptr && out != nullptr && entry >= 0)
        for (colors.First(); colors.Exists(); colors.Next()) {
            auto* c = static_cast<TResColor*>(colors.Get());
            if (strcasecmp(c->name, name) == 0 && c->count > entry) {
                *out = c->colors[entry];
                return TRUE;
            }
        }
    return xErrorf("Unable to find the specified color (\"%s\")", name != nullptr ? name : "");
}

TCntrlColor* CResData::GetCntrlColor(const char* name)
{
    if (name == nullptr) {
        xErrorf("Unable to find the specified color (\"%s\")", "");
        return nullptr;
    }
    for (cntrlColors.First(); cntrlColors.Exists(); cntrlColors.Next()) {
        auto* s = static_cast<TResCntrlColor*>(cntrlColors.Get());
        if (strcasecmp(s->name, name) == 0)
            return s->set;
    }
    TRGBA entries[8];
    const TRGBA* ptrs[8];
    for (int32_t i = 0; i < 8; ++i) {
        if (!GetCol(name, &entries[i], i))
            return nullptr;
        ptrs[i] = &entries[i];
    }
    auto* rec = XNEW(TResCntrlColor);
    auto* set = XNEW(TCntrlColor);
    if (rec == nullptr || set == nullptr || !tvres::CopyName(rec->name, name)) {
        XDELETE(rec);
        XDELETE(set);
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    xSetupCntrlColors(set, ptrs);
    rec->set = set;
    if (!cntrlColors.InsertLast(rec)) {
        XDELETE(rec);
        XDELETE(set);
        return nullptr;
    }
    return set;
}

void tvres::SetupColors(CResData& r)
{
    r.SetSection("Colors");
    static const struct {
        const char* name;
        TRGBA c;
    } kPredefined[] = {{"black", TRGBA(1, 1, 1, 0)},      {"white", TRGBA(255, 255, 255, 0)},
                       {"grey", TRGBA(128, 128, 128, 0)}, {"red", TRGBA(255, 0, 0, 0)},
                       {"green", TRGBA(0, 255, 0, 0)},    {"blue", TRGBA(0, 0, 255, 0)}};
    for (const auto& p : kPredefined)
        if (!AddColorList(r, p.name, &p.c, 1))
            Fail(r, "Out of memory");
    ForEachItem(r, "Colors", StepColor, nullptr);
}

void tvres::SetupDefaults(CResData& r)
{
    r.SetSection("Defaults");
    if (ForEachItem(r, "Defaults", StepDefault, nullptr) > 0)
        r.hasDefaults = 1;
}
