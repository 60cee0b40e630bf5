// a * b / d with a 128-bit product, rounded toward zero as C division is.
// The scaler needs it for rectangles from the far ends of the coordinate
// range, whose products pass 64 bits. Compilers with a 128-bit integer use
// it; elsewhere (32-bit targets) the product is formed from 32-bit halves
// and divided bit by bit: slow, but only those rare rectangles take it.
// The quotient must fit in 63 bits; d must not be 0.
#pragma once

#include <cstdint>

namespace tvgfx {

inline int64_t MulDivPortable(int64_t a, int64_t b, int64_t d)
{
    const bool negative = (a < 0) != (b < 0) ? d > 0 : d < 0;
    const uint64_t x = a < 0 ? 0 - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
    const uint64_t y = b < 0 ? 0 - static_cast<uint64_t>(b) : static_cast<uint64_t>(b);
    const uint64_t z = d < 0 ? 0 - static_cast<uint64_t>(d) : static_cast<uint64_t>(d);
    const uint64_t ll = (x & 0xFFFFFFFFu) * (y & 0xFFFFFFFFu);
    const uint64_t hl = (x >> 32) * (y & 0xFFFFFFFFu);
    const uint64_t lh = (x & 0xFFFFFFFFu) * (y >> 32);
    const uint64_t mid = (ll >> 32) + (hl & 0xFFFFFFFFu) + (lh & 0xFFFFFFFFu);
    const uint64_t hi = (x >> 32) * (y >> 32) + (hl >> 32) + (lh >> 32) + (mid >> 32);
    const uint64_t lo = (ll & 0xFFFFFFFFu) | (mid << 32);
    // Restoring division of hi:lo by z; the running remainder stays below
    // 2z, which fits while z is below 2^63.
    uint64_t q = 0, r = 0;
    for (int i = 127; i >= 0; --i) {
        const uint64_t bit = i >= 64 ? (hi >> (i - 64)) & 1u : (lo >> i) & 1u;
        const bool carry = (r >> 63) != 0;
        r = (r << 1) | bit;
        q <<= 1;
        if (carry || r >= z) {
            r -= z;
            q |= 1u;
        }
    }
    return negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
}

inline int64_t MulDiv(int64_t a, int64_t b, int64_t d)
{
#if defined(__SIZEOF_INT128__)
    __extension__ typedef __int128 Wide;
    return static_cast<int64_t>((static_cast<Wide>(a) * b) / d);
#else
    return MulDivPortable(a, b, d);
#endif
}

} // namespace tvgfx
