// The system's socket address record (sockaddr_in) and byte-order calls
// (htons, ntohs, ...) that the socket records of the interface use.
#pragma once

#ifdef _WIN32
// <winsock2.h> brings <windows.h>, whose handle types HWND, HDC and
// HINSTANCE are names of this library's own (types.h): Windows' ones are read
// here under other names. Include <windows.h> after the library's headers.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// The library's own code and tests name virtual keys themselves (the same
// numbers); a program gets Windows' VK_ names as usual.
#if defined(TARVEX_BUILDING) && !defined(NOVIRTUALKEYCODES)
#define NOVIRTUALKEYCODES
#endif
#define HWND TvSysHWND
#define HDC TvSysHDC
#define HINSTANCE TvSysHINSTANCE
#include <winsock2.h>
#include <ws2tcpip.h>
#undef HWND
#undef HDC
#undef HINSTANCE
// Windows' ANSI/Unicode switch macros would rename the library's own
// functions of the same names.
#undef CreateWindow
#undef RegisterClass
#undef UnregisterClass
#undef PeekMessage
#undef DispatchMessage
#undef DefWindowProc
#undef PostMessage
#undef SendMessage
#undef SetWindowText
#undef GetMessage
#undef MessageBox
#undef LoadCursor
#undef DrawText
#undef GetObject
#undef CreateFont
#undef TextOut
#undef LoadBitmap
#undef LoadImage
#undef CopyFile
#undef DeleteFile
#undef MoveFile
#undef CreateDirectory
#undef RemoveDirectory
#undef GetCurrentDirectory
#undef SetCurrentDirectory
#undef GetTempPath
#undef GetClassName
#undef FindWindow
#undef GetUserName
#undef GetComputerName
#undef CreateFile
#undef GetFileAttributes
#undef LoadLibrary
#undef FreeModule
#undef GetModuleFileName
#undef ShellExecute
#undef CreateEvent
#undef OpenFile
#undef CreateMutex
#undef ERROR
// The library's INVALID_SOCKET is its own 32-bit constant (socket.h).
#undef INVALID_SOCKET
// Drive kinds are the library's own constants (same values).
#undef DRIVE_REMOVABLE
#undef DRIVE_FIXED
#undef DRIVE_REMOTE
#undef DRIVE_CDROM
#undef DELETE
#undef interface
#undef small
#undef near
#undef far
#else
#include <netinet/in.h>
#endif
