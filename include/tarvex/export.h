// TARVEX_API marks the names the library exports; everything else in it is
// built hidden and is not part of its binary interface.
#pragma once

#if defined(_WIN32)
#if defined(TARVEX_BUILDING)
#define TARVEX_API __declspec(dllexport)
#else
#define TARVEX_API __declspec(dllimport)
#endif
#else
#define TARVEX_API __attribute__((visibility("default")))
#endif
