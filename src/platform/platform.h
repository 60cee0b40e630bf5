// The platform layer: the only code that talks to the operating system and to
// SDL2. Everything above it sees these small interfaces; the Linux
// implementation lives beside this header (clock.cpp, window.cpp, files.cpp,
// shell.cpp). Private to the library and its tests.
#pragma once

#include <tarvex/types.h>

#include <cstdint>
#include <ctime>

struct SDL_Window;

namespace tvp {

// ---------------------------------------------------------------- clock, process, heap

// Millisecond tick from a monotonic clock, truncated to 32 bits (it wraps).
uint32_t Tick();
// Sleeps for ms milliseconds (under the test clock: advances it instead).
void Sleep(uint32_t ms);
uint32_t ProcessId();
// The local broken-down time of now; false when the conversion fails.
bool LocalTime(std::tm& out);
// The runtime heap under every allocation of the library.
void* HeapAlloc(size_t n);
void HeapFree(void* p);

// ---------------------------------------------------------------- SDL's log

// Sends SDL's own log lines (from any user of SDL in the process) to sink,
// one line without a line break, instead of standard error; null gives
// them back to the output SDL had before.
void RouteSdlLog(void (*sink)(const char* line));

// ---------------------------------------------------------------- main window and messages

struct Msg {
    HWND hwnd;
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
    uint32_t time; // Tick() when the message was queued
};

// Starts the window system on first use (SDL video and events). Without a
// display (no DISPLAY / WAYLAND_DISPLAY) SDL's offscreen driver is chosen,
// or the dummy one where offscreen is missing. Safe to call repeatedly.
bool VideoStartup();
// Releases the window system when no window and no class remain.
void VideoShutdown();

// Registers a window class; returns its non-zero atom, 0 on failure (a name
// already registered fails, as classes are unique by name).
uint16_t RegisterClass(const char* name, TvWndProc proc, uint32_t style);
bool UnregisterClass(const char* name);

// Creates a window of a registered class; null on failure. The window is
// hidden until ShowWindow. WS_POPUP windows have no border.
HWND CreateWindow(const char* className, const char* title, uint32_t style, int32_t x, int32_t y, int32_t w,
                  int32_t h);
bool DestroyWindow(HWND hwnd);
bool IsWindow(HWND hwnd);
void ShowWindow(HWND hwnd, int32_t cmd);
void UpdateWindow(HWND hwnd);
bool SetWindowPos(HWND hwnd, int32_t x, int32_t y, int32_t w, int32_t h);
bool SetWindowText(HWND hwnd, const char* title);
HDC GetDC(HWND hwnd);
void ReleaseDC(HWND hwnd, HDC dc);
// The SDL window behind a handle, for the screens; null for none.
SDL_Window* SdlWindow(HWND hwnd);
HWND WindowFromDC(HDC dc);

// Takes the next message of the queue (SDL events are pumped and translated
// into messages first). With remove false the message stays queued.
bool PeekMessage(Msg& out, bool remove);
// Adds WM_CHAR messages for text typed with a key press (SDL text input).
void TranslateMessage(const Msg& msg);
// Calls the window procedure of the message's window; 0 when it has none.
int32_t DispatchMessage(const Msg& msg);
int32_t DefWindowProc(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam);
void PostQuitMessage(int32_t exitCode);
bool PostMessage(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam);
// Calls the window procedure at once (like a sent message).
int32_t SendMessage(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam);

// ---------------------------------------------------------------- pointer, cursors, clipboard
// (cursor.cpp, clipboard.cpp)

// True when a pointing device can be used: the window system is running.
bool HasMouse();
// The pointer position in a window's client area; false for no window.
bool GetMousePos(HWND hwnd, int32_t& x, int32_t& y);
// Moves the pointer to a point of a window's client area.
bool WarpMouse(HWND hwnd, int32_t x, int32_t y);
// The size of a window's client area; false for no window.
bool GetClientSize(HWND hwnd, int32_t& w, int32_t& h);

// Cursors are small positive handles (0 = none). A handle stays valid until
// FreeCursor or until the window system stops; a stale handle is ignored.
// Drivers without cursors (offscreen) answer 0 / false throughout.
enum class SystemCursor { Arrow, Hand, IBeam };
int32_t LoadSystemCursor(SystemCursor kind);
// A colour cursor from w x h pixels of 4 bytes each (r, g, b, alpha).
int32_t CreateColorCursor(const uint8_t* rgba, int32_t w, int32_t h, int32_t hotX, int32_t hotY);
void FreeCursor(int32_t cursor);
// Makes the cursor the pointer's picture; false for an unknown handle.
bool SetCursor(int32_t cursor);
// The handle SetCursor last accepted (0 for none).
int32_t GetCursor();
void ShowCursor(bool show);
bool IsCursorShown();
// Frees every cursor; the window system calls it before it stops.
void ReleaseCursors();

// The clipboard's text in the library's 8-bit character set (Latin-1;
// characters beyond it become '?'). Writes at most size - 1 bytes and a
// closing zero to out (which may be null for size 0) and returns the full
// length; -1 when the clipboard holds no text.
int32_t GetClipboardText(char* out, int32_t size);
// Puts 8-bit text on the clipboard.
bool SetClipboardText(const char* latin1);
// The conversions at the clipboard's border, with GetClipboardText's
// contract for out and size (-1 for null text).
int32_t ClipboardLatin1FromUtf8(const char* utf8, char* out, int32_t size);
int32_t ClipboardUtf8FromLatin1(const char* latin1, char* out, int32_t size);

// ---------------------------------------------------------------- drawing surfaces

// Pixel memory of the library shown in windows: a surface over memory the
// caller keeps. Bits 8 (palette indices), 16 (5-5-5: red at bit 10) or 24
// (blue, green, red in memory order).
struct Section;
Section* CreateSection(uint8_t* pixels, int32_t width, int32_t height, int32_t pitch, int32_t bits);
void DestroySection(Section* section);
// 8-bit sections: count entries of 4 bytes (red, green, blue, unused) from first.
bool SetSectionColors(Section* section, const uint8_t* rgbx, int32_t first, int32_t count);
struct CopyRect {
    int32_t x, y, w, h;
};
// Copies each rectangle of the section to the window's client area at
// (offsetX + x, offsetY + y) and shows them all with one update. False when
// the window has no drawing surface or a copy fails.
bool CopySectionToWindow(Section* section, HWND hwnd, const CopyRect* rects, int32_t count, int32_t offsetX,
                         int32_t offsetY);
// The primary display's size and bits per pixel.
bool DesktopMode(int32_t& width, int32_t& height, int32_t& bits);
// Full screen (fullscreen.cpp): the distinct sizes of the primary display's
// modes as width, height pairs, largest first; returns the count (0 without
// video or modes).
int32_t DisplaySizes(int32_t* pairs, int32_t max);
// Takes the display with the window at width x height (an exact mode when the
// display has one, else the desktop-sized full screen); off restores the window.
bool SetWindowFullScreen(HWND hwnd, bool on, int32_t width, int32_t height);
// Full-screen pages and screen bitmaps (dxsurface.cpp): surfaces in a screen
// format, over the caller's memory (pixels given) or their own (pixels
// null). Bits 8 (indices; every 8-bit surface shares one palette, so indices
// copy unchanged), 16 (the three masks) or 24 (blue, green, red in memory).
// A surface can be marked lost (its pixels are then garbage until restored),
// as the window system may do while the display belongs to another program.
struct PixelSurface;
PixelSurface* CreatePixelSurface(uint8_t* pixels, int32_t width, int32_t height, int32_t pitch, int32_t bits,
                                 uint32_t redMask, uint32_t greenMask, uint32_t blueMask);
void DestroyPixelSurface(PixelSurface* surface);
// Copies height lines of width pixels from pixels (with its pitch) into the surface.
bool FillPixelSurface(PixelSurface* surface, const uint8_t* pixels, int32_t pitch);
// Source colour key: pixels equal to key are not copied (on false: none).
bool SetPixelSurfaceKey(PixelSurface* surface, bool on, uint32_t key);
// Copies (sx, sy, w, h) of src to (dx, dy) of dst.
bool BlitPixelSurface(PixelSurface* src, int32_t sx, int32_t sy, int32_t w, int32_t h, PixelSurface* dst,
                      int32_t dx, int32_t dy);
// The shared colours of every 8-bit surface: count entries of 4 bytes
// (red, green, blue, unused) from first.
bool SetPixelSurfaceColors(const uint8_t* rgbx, int32_t first, int32_t count);
// Shows the whole surface centred in the window's client area (the rest
// black); offsets receive where its top-left pixel landed.
bool PresentPixelSurface(PixelSurface* surface, HWND hwnd, int32_t& offsetX, int32_t& offsetY);
bool IsPixelSurfaceLost(const PixelSurface* surface);
void MarkPixelSurfaceLost(PixelSurface* surface);
// Gives a lost surface its memory back (contents undefined); true when restored.
bool RestorePixelSurface(PixelSurface* surface);
// Border (caption and frame) and whether the user may size the window.
void SetWindowFrame(HWND hwnd, bool border, bool resizable);
// Window position and client size.
bool GetWindowRect(HWND hwnd, int32_t& x, int32_t& y, int32_t& w, int32_t& h);
// The system's arrow cursor over the library's windows.
void SetArrowCursor();

// ---------------------------------------------------------------- files and directories

// Current directory into buf (size n); false when it does not fit.
bool GetCwd(char* buf, size_t n);
bool ChDir(const char* dir);
// Creates one directory; 0 on success, else the errno value.
int32_t MkDir(const char* dir);
// Last-write time as the 64-bit file time (100 ns units since 1601-01-01 UTC).
bool FileWriteTime(const char* name, uint32_t& low, uint32_t& high);
// True when path exists and is a directory; exists tells whether it exists at all.
bool IsDirectory(const char* path, bool* exists = nullptr);
// Adds the owner's write permission. False when the file is missing.
bool SetWritable(const char* name);
// Removes a file: 0 on success, else the errno value.
int32_t RemoveFile(const char* name);
// Renames: 0 on success, else the errno value.
int32_t RenameFile(const char* oldName, const char* newName);
// Temporary folder with a trailing "/".
bool TempDir(char* buf, size_t n);

// Walks the entries of a folder matching a pattern ("*", "*.txt", fnmatch
// rules). The callback gets the name and whether it is a directory; hidden
// entries (names starting with ".") are reported with hidden = true.
// Returns false when the folder cannot be read. The callback returns false to stop.
using DirVisitor = bool (*)(void* ctx, const char* name, bool isDir, bool hidden);
bool ListFolder(const char* folder, const char* pattern, DirVisitor visit, void* ctx);

// Drives. Linux has no drive letters: drive 0 is the root filesystem ("/"),
// followed by mounted removable media and remote filesystems in mount order.
enum DriveType : int32_t { DRIVE_NONE = 0, DRIVE_REMOVABLE = 2, DRIVE_FIXED = 3, DRIVE_REMOTE = 4, DRIVE_CDROM = 5 };
struct DriveInfo {
    char root[256];  // mount point, ends in "/"
    char label[128]; // volume label or empty
    int32_t type;    // DriveType
};
// Fills up to max drives; returns how many.
int32_t ListDrives(DriveInfo* out, int32_t max);

// Hands a file or address to the desktop's handler (xdg-open through
// fork/exec with an argument vector). Returns a value above 32 on success,
// else one of the classic failure answers (0, 2 file not found, 3 path not
// found, 5 access denied, 31 no association).
int32_t ShellOpen(const char* file, const char* params);

// ---------------------------------------------------------------- modules and audio

// Run-time loaded modules (shared libraries): null / false on failure, with
// the loader's reason in ModuleError().
void* LoadModule(const char* path);
void* ModuleSymbol(void* module, const char* name);
void FreeModule(void* module);
const char* ModuleError();
// The folder that holds libtarvex.so itself, with a trailing "/".
bool LibraryFolder(char* buf, size_t n);
// Whether an audio output driver is there at all (the sound module's probe
// before it opens the device). On failure, why says which step failed:
// 1 no audio subsystem, 2 no output driver.
bool AudioProbe(int32_t* why);

// ---------------------------------------------------------------- test interface

// Tests drive the clock: with the manual clock on, Tick() returns the set
// value and Sleep() advances it instead of sleeping.
void TestSetManualClock(bool on, uint32_t start = 0);
void TestAdvanceClock(uint32_t ms);
// Posts an input message to the queue as if it came from the window system.
bool TestPostMessage(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam);
// The helper program that ShellOpen starts ("xdg-open" by default).
void TestSetShellOpener(const char* program);

} // namespace tvp
