// Fuzz target: the reading of a load balancer's address header, on the
// whole input and on each of its first pieces as they would arrive. Checks
// that the reading agrees with itself: a piece of a header asks for more
// without asking past the header's end, a piece refused stays refused, a
// finished header lies inside what was read and names a printable address.
#include "comm/proxyheader.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 70000)
        return 0;
    // An exact-size copy: the sanitizers see any read past the bytes given.
    std::vector<uint8_t> bytes(data, data + size);
    const uint32_t n = static_cast<uint32_t>(size);
    SProxyHeader whole;
    xProxyReadHeader(bytes.empty() ? nullptr : bytes.data(), n, whole);
    switch (whole.result) {
    case PROXYHDR_MORE:
        if (whole.wanted == 0)
            __builtin_trap();
        break;
    case PROXYHDR_DONE:
        if (whole.consumed == 0 || whole.consumed > n)
            __builtin_trap();
        if (whole.hasAddress &&
            (std::strlen(whole.sourceText) < 2 || (whole.family != 4 && whole.family != 6)))
            __builtin_trap();
        break;
    case PROXYHDR_INVALID:
        break;
    default:
        __builtin_trap();
    }

    const uint32_t pieces = n < 300 ? n : 300;
    for (uint32_t k = 0; k < pieces; ++k) {
        std::vector<uint8_t> piece(bytes.begin(), bytes.begin() + k);
        SProxyHeader part;
        xProxyReadHeader(piece.empty() ? nullptr : piece.data(), k, part);
        if (part.result == PROXYHDR_INVALID && whole.result != PROXYHDR_INVALID)
            __builtin_trap();
        if (part.result == PROXYHDR_DONE &&
            (whole.result != PROXYHDR_DONE || whole.consumed != part.consumed))
            __builtin_trap();
        if (part.result == PROXYHDR_MORE && whole.result == PROXYHDR_DONE && k + part.wanted > whole.consumed)
            __builtin_trap();
    }
    return 0;
}
