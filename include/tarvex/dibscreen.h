// The windowed screen: the library's software-rendered picture shown in an
// ordinary desktop window. CDib is the picture's pixel memory (a bitmap of
// the library wrapped in a drawing surface of the window system), CDIBPal
// the colours an 8-bit picture is shown with, and CDibScreen the screen that
// draws into the section and copies each frame's changed rectangles to the
// window.
#pragma once

#include <tarvex/export.h>

#include <tarvex/screen.h>

namespace tvp
{
struct Section;
}

// The section's header: the classic 40-byte bitmap header.
struct TARVEX_API SDibHeader {
    uint32_t size;
    int32_t width;
    int32_t height; // negative: top line first
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};
// One colour-table entry, in the header's order.
struct TARVEX_API SDibColor {
    uint8_t blue, green, red, reserved;
};

class TARVEX_API CDib
{
  public:
    SDibHeader* header = nullptr; // owned, followed by the colour table
    uint8_t* pixels = nullptr;    // first byte of the top line
    tvp::Section* section = nullptr;
    int32_t ownsPixels = 0; // 1 when the pixels came from Create(width, height, bits)
    char errorText[64] = {};
    CBitmap image; // the pixels as a bitmap of the library (its data are the pixels)

    CDib() = default;
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;
    ~CDib() { Exit(); }

    int32_t Create(int32_t width, int32_t height, int32_t bits);
    // Copies the header with its colour table; takes the pixels without owning them.
    int32_t Create(const SDibHeader* hdr, uint8_t* memory);
    void Exit();
    int32_t GetWidth() const;
    int32_t GetHeight() const;
    int32_t GetNumColorEntries() const;
    SDibColor* GetColTabAddress() const;
    int32_t GetPitch() const { return image.pitch; }
};

class TARVEX_API CDIBPal
{
  public:
    TRGBA* colors = nullptr; // 256 entries, owned; the platform palette

    CDIBPal() = default;
    CDIBPal(const CDIBPal&) = delete;
    CDIBPal& operator=(const CDIBPal&) = delete;
    ~CDIBPal() { Exit(); }

    int32_t Create(CDib* dib);
    int32_t Create(CPalette* pal);
    // Makes the palette the identity of the system palette; a desktop of
    // true colour has none, so nothing changes there.
    int32_t SetSysPalColors(HDC dc);
    void Exit();
};

// Window property flags.
enum : int32_t { XSCREEN_CAPTION = 1, XSCREEN_FRAME = 2, XSCREEN_OVERLAPPED = 3 };

class TARVEX_API CDibScreen : public CScreenBase, public CWinMsg, public CMsgSys
{
  public:
    CRect layerAreas[XSCREEN_PAGES][XSCREEN_AREAS]; // copied to the window at the next flip
    int32_t layerCount[XSCREEN_PAGES] = {};
    int32_t offsetX = 0; // where the picture's top-left pixel lies in the client area
    int32_t offsetY = 0;
    CDIBPal* dibPal = nullptr;
    int32_t nextModeNumber = 1024;
    int32_t windowFlags = 0;
    int32_t defaultWindowFlags = XSCREEN_OVERLAPPED;
    CDib* dib = nullptr;
    SDibHeader* indexHeader = nullptr; // header followed by 256 16-bit indices 0..255
    SVmode* mode = nullptr;            // the screen's own copy of the active mode
    int32_t windowStyle = 0;           // 0 plain pop-up, else the flags the window was given

    CDibScreen();
    ~CDibScreen() override;

    int32_t InitMode() override;
    int32_t ExitMode() override;
    int32_t GetVideoModes() override;
    int32_t AddWindowVideoMode(int32_t width, int32_t height, int32_t bits, int32_t number) override;
    int32_t SetScreenWindowProperties(int32_t flags) override;
    int32_t SetDefaultScreenWindowProperties(int32_t flags) override;
    int32_t ModeAvailable() override { return TRUE; }
    int32_t ScreenAvailable() override { return TRUE; }
    int32_t GetDepth() override;
    int32_t SetFlipScreen(int32_t on) override;
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
    int32_t AddClearArea(int32_t l, int32_t t, int32_t r, int32_t b) override;
    int32_t AddClearAreaGui(int32_t l, int32_t t, int32_t r, int32_t b) override;
    int32_t SetPalette(CPalette* pal) override;
    int32_t GetScreenPos(int32_t* x, int32_t* y, int32_t* w, int32_t* h) override;
    int32_t SetScreenPos(int32_t x, int32_t y) override;
    int32_t SetScreenSize(int32_t w, int32_t h) override;
    int32_t SetSystemPalette() override;
    CBitmap* GetScreenBitmap() override;

    int32_t MsgHandler(uint32_t msg, int32_t p1, int32_t p2) override;
    int32_t WinMsgHandler(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam) override;

    // Adds a rectangle of the section to this page's copy list.
    void AddLayerArea(int32_t l, int32_t t, int32_t r, int32_t b);

  private:
    void RecomputeWindow();
    // Gives the mouse the picture's offset in the client area.
    void TellMouse();
    // Copies a rectangle between two pictures of the screen's layout.
    void CopyArea(CBitmap* to, const CBitmap* from, const CRect& r);
    int32_t BlitToSection(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t& w,
                          int32_t& h, int32_t flags);
};

// (Re)creates the main window: a 1 x 1 pop-up that the screens size and show.
TARVEX_API int32_t ShowScreenWindow();
