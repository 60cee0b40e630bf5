// Byte reversal of a value's representation, shared by the byte-order
// conversions and the typed file reads and writes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tvcore
{

template <class T> inline T ReverseBytes(T v)
{
    if constexpr (sizeof(T) == 2) {
        return std::bit_cast<T>(__builtin_bswap16(std::bit_cast<uint16_t>(v)));
    } else if constexpr (sizeof(T) == 4) {
        return std::bit_cast<T>(__builtin_bswap32(std::bit_cast<uint32_t>(v)));
    } else {
        static_assert(sizeof(T) == 8);
        return std::bit_cast<T>(__builtin_bswap64(std::bit_cast<uint64_t>(v)));
    }
}

// From the processor's order to big-endian and back (the same operation).
template <class T> inline T ToBigEndian(T v)
{
    if constexpr (std::endian::native == std::endian::big)
        return v;
    else
        return ReverseBytes(v);
}

} // namespace tvcore
