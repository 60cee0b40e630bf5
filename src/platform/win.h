// The Windows headers the platform layer's *_win.cpp files use, read with
// Windows' handle types under other names (see tarvex/netaddr.h).
#pragma once

#include <tarvex/netaddr.h>

#define HWND TvSysHWND
#define HDC TvSysHDC
#define HINSTANCE TvSysHINSTANCE
#include <shellapi.h>
#undef HWND
#undef HDC
#undef HINSTANCE
#undef ShellExecute
