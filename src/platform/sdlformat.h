// The SDL pixel format of a surface over the library's pixel memory, shared
// by the window sections and the full-screen surfaces: 8-bit indexed,
// blue-green-red 24-bit as the library's bitmaps hold it, and a 16-bit
// layout the caller picks (the sections' 5-5-5, the pages' mode masks).
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>

namespace tvp
{

// The format for bits per pixel; SDL_PIXELFORMAT_UNKNOWN for any other
// depth (or when format16 is unknown at 16 bits).
inline uint32_t SurfaceFormat(int32_t bits, uint32_t format16)
{
    switch (bits) {
    case 8:
        return SDL_PIXELFORMAT_INDEX8;
    case 16:
        return format16;
    case 24:
        return SDL_PIXELFORMAT_BGR24;
    default:
        return SDL_PIXELFORMAT_UNKNOWN;
    }
}

} // namespace tvp
