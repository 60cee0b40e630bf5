// Basic types shared by every tarvex module: the 32-bit result convention,
// the opaque handles of the window system, and the window-message numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Opaque handles of the window system (see the platform layer).
struct TvWindow;
struct TvDC;
using HWND = TvWindow*;
using HDC = TvDC*;
using HINSTANCE = void*;

// Window messages keep their classic numbers and wParam/lParam packing.
enum : uint32_t {
    WM_NULL = 0x0000,
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ERASEBKGND = 0x0014,
    WM_SHOWWINDOW = 0x0018,
    WM_ACTIVATEAPP = 0x001C,
    WM_SETCURSOR = 0x0020,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_SYSKEYDOWN = 0x0104,
    WM_SYSKEYUP = 0x0105,
    WM_SYSCHAR = 0x0106,
    WM_TIMER = 0x0113,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_RBUTTONDBLCLK = 0x0206,
    WM_MBUTTONDOWN = 0x0207,
    WM_MBUTTONUP = 0x0208,
    WM_MBUTTONDBLCLK = 0x0209,
    WM_MOUSEWHEEL = 0x020A,
    WM_USER = 0x0400,
};

// wParam key-state bits of the mouse messages.
enum : uint32_t {
    MK_LBUTTON = 0x0001,
    MK_RBUTTON = 0x0002,
    MK_SHIFT = 0x0004,
    MK_CONTROL = 0x0008,
    MK_MBUTTON = 0x0010,
};

// WM_SIZE wParam values, WM_ACTIVATE low words.
enum : uint32_t { SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2 };
enum : uint32_t { WA_INACTIVE = 0, WA_ACTIVE = 1 };

// Window styles and show commands used by the library.
enum : uint32_t {
    WS_POPUP = 0x80000000u,
    WS_VISIBLE = 0x10000000u,
    CS_VREDRAW = 0x0001,
    CS_HREDRAW = 0x0002,
    CS_DBLCLKS = 0x0008,
};
enum : int32_t {
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOW = 5,
    SW_MINIMIZE = 6,
    SW_RESTORE = 9,
    SW_SHOWDEFAULT = 10
};

// lParam packing of coordinates: low word x, high word y (signed 16-bit each).
constexpr int32_t MAKELPARAM(int32_t lo, int32_t hi)
{
    return static_cast<int32_t>((static_cast<uint32_t>(lo) & 0xFFFFu) |
                                ((static_cast<uint32_t>(hi) & 0xFFFFu) << 16));
}
constexpr int16_t GET_X_LPARAM(int32_t lp)
{
    return static_cast<int16_t>(static_cast<uint32_t>(lp) & 0xFFFFu);
}
constexpr int16_t GET_Y_LPARAM(int32_t lp) { return static_cast<int16_t>(static_cast<uint32_t>(lp) >> 16); }
constexpr uint16_t LOWORD(uint32_t v) { return static_cast<uint16_t>(v & 0xFFFFu); }
constexpr uint16_t HIWORD(uint32_t v) { return static_cast<uint16_t>(v >> 16); }

// The window procedure signature: (window, message, wParam, lParam) -> result.
using TvWndProc = int32_t (*)(HWND, uint32_t, uint32_t, int32_t);
