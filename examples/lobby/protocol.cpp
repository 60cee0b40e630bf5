// Helpers shared by the lobby's server and client (see protocol.h).
#include "protocol.h"

#include <cstdio>

namespace lobby
{

std::string ClockNodeName(uint32_t token) { return std::string(kClockNodeName) + "_" + std::to_string(token); }

std::string Text(CKCBL& k, int32_t i)
{
    if (i >= k.GetNumStrings())
        return {};
    const char* s = k.GetString(i);
    return s != nullptr ? s : "";
}

uint32_t Number(CKCBL& k, int32_t i)
{
    uint32_t v = 0;
    if (i >= k.GetNumStrings() || !k.GetULong(i, &v))
        return 0;
    return v;
}

std::string Clean(const std::string& text, size_t max)
{
    std::string out;
    for (unsigned char c : text)
        if (c >= 0x20 && c != 0x7F)
            out += static_cast<char>(c);
    if (out.size() > max) {
        size_t n = max;
        // Back up over continuation bytes to the start of the cut sequence.
        while (n > 0 && (static_cast<unsigned char>(out[n]) & 0xC0) == 0x80)
            --n;
        out.resize(n);
    }
    return out;
}

int FinishProgram(int rc, bool withFrame)
{
    CommBaseExit();
    if (withFrame)
        xExit();
    // The tracker writes what was never released through the debug output.
    static bool leaked = false;
    xSetDprintfOutput([](char* t) {
        leaked = true;
        std::fputs(t, stderr);
    });
    xFreeGlobals();
    xSetDprintfOutput(nullptr);
    return leaked ? 1 : rc;
}

} // namespace lobby
