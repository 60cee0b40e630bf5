// The clipboard over SDL2. SDL speaks UTF-8; the library's text is 8-bit
// (Latin-1), so text is converted at this border in both directions. A
// character Latin-1 lacks becomes '?' rather than vanishing, so pasted text
// keeps its length and the reader sees that something was there.
#include "platform/platform.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <climits>
#include <string>

namespace tvp
{

namespace
{

// UTF-8 as Latin-1. Broken sequences and characters above U+00FF become
// '?'; over-long forms are broken sequences.
std::string ToLatin1(const char* utf8)
{
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p != 0) {
        const unsigned char lead = *p;
        int len = lead < 0x80             ? 1
                  : (lead & 0xE0) == 0xC0 ? 2
                  : (lead & 0xF0) == 0xE0 ? 3
                  : (lead & 0xF8) == 0xF0 ? 4
                                          : 0;
        if (len == 0) {
            out.push_back('?');
            ++p;
            continue;
        }
        uint32_t cp = len == 1 ? lead : lead & (0x7Fu >> len);
        int k = 1;
        for (; k < len; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (p[k] & 0x3Fu);
        }
        const bool whole = k == len;
        const bool overlong =
            (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        out.push_back(whole && !overlong && cp <= 0xFF ? static_cast<char>(cp) : '?');
        p += k; // a broken sequence resumes at the byte that broke it
    }
    return out;
}

std::string ToUtf8(const char* latin1)
{
    std::string out;
    for (const auto* p = reinterpret_cast<const unsigned char*>(latin1); *p != 0; ++p) {
        if (*p < 0x80) {
            out.push_back(static_cast<char>(*p));
        } else {
            out.push_back(static_cast<char>(0xC0 | (*p >> 6)));
            out.push_back(static_cast<char>(0x80 | (*p & 0x3F)));
        }
    }
    return out;
}

// Copies text into out as GetClipboardText promises; returns the full length.
int32_t CopyOut(const std::string& text, char* out, int32_t size)
{
    if (out != nullptr && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        text.copy(out, n);
        out[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
}

} // namespace

int32_t ClipboardLatin1FromUtf8(const char* utf8, char* out, int32_t size)
{
    return utf8 != nullptr ? CopyOut(ToLatin1(utf8), out, size) : -1;
}

int32_t ClipboardUtf8FromLatin1(const char* latin1, char* out, int32_t size)
{
    return latin1 != nullptr ? CopyOut(ToUtf8(latin1), out, size) : -1;
}

int32_t GetClipboardText(char* out, int32_t size)
{
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0 || !SDL_HasClipboardText())
        return -1;
    char* utf8 = SDL_GetClipboardText();
    if (utf8 == nullptr)
        return -1;
    const std::string text = ToLatin1(utf8);
    SDL_free(utf8);
    return CopyOut(text, out, size);
}

bool SetClipboardText(const char* latin1)
{
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0 || latin1 == nullptr)
        return false;
    return SDL_SetClipboardText(ToUtf8(latin1).c_str()) == 0;
}

} // namespace tvp
