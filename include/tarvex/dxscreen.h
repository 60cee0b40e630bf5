// Full-screen display modes: a small portable description of a display mode
// (size, pitch, depth and the colour masks of its pixel format) and the rules
// that turn one into the library's SVmode record. Real displays offer only
// 32-bit modes, so the list the full-screen screen offers is described here
// for each display size: 8-bit indexed, 16-bit 5-6-5 and 24-bit. Keeping the
// description apart from the window system makes the rules testable alone.
//
// CDxScreen is the full-screen screen: the main window takes the whole
// display, every frame is drawn in software into the back one of two page
// buffers and shown by flipping, and screen bitmaps get surfaces of their
// own in the screen's format for fast (colour-keyed) copies.
#pragma once

#include <tarvex/export.h>

#include <tarvex/screen.h>

namespace tvp
{
struct PixelSurface;
}

// A display mode as the display reports it.
struct TARVEX_API SDxModeDesc {
    int32_t width;
    int32_t height;
    int32_t pitch; // bytes per line
    int32_t bitsPerPixel;
    int32_t indexed; // 1: palette-indexed pixels, masks unused
    uint32_t redMask, greenMask, blueMask;
};

// Shift = zero bits below the field, bits = consecutive one bits from there;
// both count at most 32 and a mask of 0 gives 32 and 0.
TARVEX_API void CalcBitsAndShift(uint32_t mask, int32_t& bits, int32_t& shift);

// Fills mode from desc; 0 for a usable mode, non-zero otherwise (mode is
// then left as it was).
TARVEX_API int32_t FillModeStruc(const SDxModeDesc& desc, SVmode& mode);

// The three modes offered for a display of the given size: 8-bit indexed,
// 16-bit 5-6-5 and 24-bit (blue in the lowest byte). Returns the count.
TARVEX_API int32_t DescribeDisplayModes(int32_t width, int32_t height, SDxModeDesc* out, int32_t max);

// Appends a tracked SVmode to list for every usable mode of every display
// (the desktop size when the display lists no modes). Returns the count added.
TARVEX_API int32_t AppendFullScreenModes(CLList& list);

// Takes the whole display with the main window for the active screen mode:
// an exclusive display mode of that size when the display offers one, else
// the desktop-sized full screen with the picture centred. 0 gives the
// window back. TRUE when the window changed as asked.
TARVEX_API int32_t xSetFullScreen(int32_t on);

class TARVEX_API CDxScreen : public CScreenBase, public CWinMsg, public CMsgSys
{
  public:
    uint8_t paletteEntries[256][4] = {}; // red, green, blue, flags of the display palette
    int32_t hardwarePalette = 0;         // 1 once the display palette was made
    int32_t backLost = 0;                // the surface is marked lost
    int32_t frontLost = 0;
    uint8_t deviceId[16] = {}; // written only by OutputDeviceEnumCallback
    SVmode* mode = nullptr;    // the active mode record, owned
    CBitmap* pages[2] = {};    // the two page buffers; pages[page] is the back one
    int32_t offsetX = 0;       // where the picture lies on the display
    int32_t offsetY = 0;

    CDxScreen();
    ~CDxScreen() override;

    int32_t ScreenAvailable() override;
    int32_t GetVideoModes() override;
    int32_t ModeAvailable() override { return TRUE; }
    int32_t InitMode() override;
    int32_t ExitMode() override;
    int32_t AddWindowVideoMode(int32_t, int32_t, int32_t, int32_t) override { return FALSE; }
    int32_t SetScreenWindowProperties(int32_t) override { return TRUE; }
    int32_t SetDefaultScreenWindowProperties(int32_t) override { return TRUE; }
    int32_t GetDepth() override;
    int32_t SetFlipScreen(int32_t on) override;
    int32_t SetPalette(CPalette* pal) override;
    int32_t SetSystemPalette() override;
    int32_t MakeScreenBitmap(CBitmap* bmp, int32_t keep) override;
    int32_t MakeScreenTexture(CBitmap*, int32_t) override { return FALSE; }
    int32_t DrawBitmapScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                             int32_t h, int32_t flags, int32_t extra) override;
    int32_t DrawBitmapScreenGui(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                int32_t h, int32_t flags, int32_t extra) override;
    int32_t DrawSpriteScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                             int32_t h, int32_t flags, int32_t extra) override;
    int32_t RestoreSpriteScreen(CBitmap* restore, int32_t x, int32_t y, int32_t w, int32_t h) override;
    int32_t UpdateSpriteRestore(int32_t x, int32_t y, int32_t w, int32_t h, int32_t unused, int32_t flags,
                                CBitmap* restore) override;
    int32_t SetTexture(CBitmap* bmp) override;
    int32_t DrawPolygonScreen(CRect*& out) override;
    int32_t DrawShadowPolygonScreen(CRect*& out) override;
    int32_t UpdateFromBackgroundToPersistent(int32_t l, int32_t t, int32_t r, int32_t b) override;
    CBitmap* LockPersistentBitmap(int32_t, int32_t, int32_t, int32_t) override { return persistent; }
    int32_t UnlockPersistentBitmap() override { return TRUE; }
    CBitmap* LockBackgroundBitmap(int32_t, int32_t, int32_t, int32_t) override { return background; }
    int32_t UnlockBackgroundBitmap() override { return TRUE; }
    uint8_t* LockScreenBuffer() override;
    int32_t ReleaseScreenBuffer() override { return TRUE; }
    int32_t FlipPage() override;
    int32_t ClearBuffer() override;
    int32_t Validate() override;
    CBitmap* GetScreenBitmap() override;

    int32_t MsgHandler(uint32_t msg, int32_t p1, int32_t p2) override;
    int32_t WinMsgHandler(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam) override;

    // TRUE when the screen is active and neither page is marked lost.
    int32_t OkToDrawToScreen();
    // Restores a lost page and repaints it from the persistent picture.
    void ValidateFrontBuffer();
    void ValidateBackBuffer();
    int32_t MakeBitmapSurface(CBitmap* bmp);
    int32_t CopyBitmapToSurface(CBitmap* bmp);
    // Stores the device identifier (all zero for the primary display).
    static int32_t OutputDeviceEnumCallback(const uint8_t* guid, char* description, char* name, void* screen,
                                            void* monitor);
    // The display takes the pages away, as it does while another program
    // owns it: both are marked lost by the window system and their pixels
    // are spoiled. For tests of the repaint.
    void LoseSurfaces();
    // The window system's page surfaces (for tests and the screen bitmaps).
    tvp::PixelSurface* PageSurface(int32_t n) { return n == 0 || n == 1 ? pageSurfaces[n] : nullptr; }

  private:
    tvp::PixelSurface* pageSurfaces[2] = {};
    int32_t registered = 0; // window and draw messages registered

    CBitmap* Back() { return pages[page & 1]; }
    // Restores and repaints page n; clears lost when it worked.
    void ValidatePage(int32_t n, int32_t& lost);
    void FreePages();
    void ReleaseBitmapSurface(CBitmap* bmp);
    // Clips and draws onto the back page; false when nothing was drawn.
    bool DrawInternal(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t& w, int32_t& h,
                      int32_t flags);
    void CopyArea(CBitmap* to, const CBitmap* from, const CRect& r);
};
