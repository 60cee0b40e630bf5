// Fuzz target: any bytes as the clipboard's UTF-8 text, brought into the
// library's 8-bit set. The result is never longer than the input, a short
// buffer is cut and closed, and the 8-bit text survives the way back.
#include "platform/platform.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string utf8(reinterpret_cast<const char*>(data), size); // cut at the first zero below
    const char* in = utf8.c_str();
    const int32_t n = tvp::ClipboardLatin1FromUtf8(in, nullptr, 0);
    if (n < 0 || static_cast<size_t>(n) > std::strlen(in))
        __builtin_trap();
    std::vector<char> latin1(static_cast<size_t>(n) + 1, 'x');
    if (tvp::ClipboardLatin1FromUtf8(in, latin1.data(), n + 1) != n || latin1[static_cast<size_t>(n)] != '\0')
        __builtin_trap();
    char small[4];
    tvp::ClipboardLatin1FromUtf8(in, small, sizeof small);
    if (std::strlen(small) > 3 || std::strncmp(small, latin1.data(), std::strlen(small)) != 0)
        __builtin_trap();

    // Latin-1 to UTF-8 and back is the identity.
    const int32_t m = tvp::ClipboardUtf8FromLatin1(latin1.data(), nullptr, 0);
    if (m < n || m > 2 * n)
        __builtin_trap();
    std::vector<char> back(static_cast<size_t>(m) + 1);
    tvp::ClipboardUtf8FromLatin1(latin1.data(), back.data(), m + 1);
    std::vector<char> again(static_cast<size_t>(n) + 1);
    if (tvp::ClipboardLatin1FromUtf8(back.data(), again.data(), n + 1) != n ||
        std::strcmp(again.data(), latin1.data()) != 0)
        __builtin_trap();
    return 0;
}
