// The screen base: the video-mode record SVmode, the abstract screen
// CScreenBase (modes, the clip rectangle and its stack, the per-page dirty
// area lists that drive the frame cycle, the persistent, background and alpha
// pictures, the drawing primitives and the software polygon rasteriser) and
// the library's list of screens. Everything that depends on the output
// surface is virtual and implemented by the derived screens; the rest lives
// here once, so every screen draws and keeps its books the same way.
#pragma once

#include <tarvex/export.h>

#include <tarvex/bitmap.h>
#include <tarvex/frame.h>
#include <tarvex/llist.h>

// One video mode: fourteen 32-bit values and a display name.
struct TARVEX_API SVmode {
    int32_t width;
    int32_t pitch; // bytes per line
    int32_t height;
    int32_t bytesPerPixel;
    int32_t bitsPerPixel;
    int32_t redBits, greenBits, blueBits;
    // 16-bit: bit position of the field's lowest bit; 24-bit: bit position in
    // the pixel read as a big-endian number (red 0, green 8, blue 16 is the
    // blue-green-red byte order).
    int32_t redShift, greenShift, blueShift;
    int32_t palettized; // 1 for 8-bit modes
    int32_t windowKind; // 0 full screen, 1 window of the mode's size, 2 desktop-sized window
    int32_t modeNumber;
    char name[128];
};

// Window kinds of SVmode.
enum : int32_t { XVMODE_FULLSCREEN = 0, XVMODE_WINDOW = 1, XVMODE_DESKTOP = 2 };

constexpr int32_t XSCREEN_PAGES = 3;
constexpr int32_t XSCREEN_AREAS = 128;
constexpr int32_t XSCREEN_CLIPSTACK = 32;
constexpr int32_t XSCREEN_SCANLINES = 2048;

// A polygon vertex: x and y in half pixels; z is kept for hardware screens.
struct TARVEX_API SPolyVertex {
    int32_t x;
    int32_t y;
    float z;
};

class TARVEX_API CScreenBase
{
  public:
    // The fields are public so that tests and the derived screens can see
    // the books the frame keeps.
    CBitmap* persistent = nullptr; // owned
    int32_t page = 0;              // selects the per-page area lists
    CRect clip;                    // every drawing operation is cut to it
    int32_t clipEmpty = 1;         // the clip holds no pixel: every draw does nothing
    CRect shadowAreas[XSCREEN_PAGES][XSCREEN_AREAS];
    int32_t active = 0;
    int32_t greyRequest = 0;
    int32_t flipScreen = 1;
    CPalette palette;        // the screen palette
    CPalette defaultPalette; // grey ramp (i, i, i, 255); also the alpha buffer's palette
    SVmode* activeMode = nullptr;
    int32_t pageCount = 0;
    CLList modes; // SVmode*, owned
    int32_t persistentMode = 0;
    CBitmap* background = nullptr; // owned
    int32_t backgroundMode = 0;
    int32_t polygonFilter = 0;
    int32_t polygonMode = 0;
    CBitmap* texture = nullptr; // not owned
    int32_t texU[4] = {};       // 16.16 texel positions per vertex
    int32_t texV[4] = {};
    CBitmap* alphaBuffer = nullptr; // owned, 8 bits per pixel
    int32_t alphaMode = 0;
    CRect clearAreas[XSCREEN_PAGES][XSCREEN_AREAS];
    int32_t clearCount[XSCREEN_PAGES] = {};
    CRect persistentAreas[XSCREEN_PAGES][XSCREEN_AREAS];
    int32_t persistentCount[XSCREEN_PAGES] = {};
    int32_t shadowCount[XSCREEN_PAGES] = {};
    CRect clipStack[XSCREEN_CLIPSTACK];
    int32_t clipDepth = 0;
    int32_t clipStackEmpty[XSCREEN_CLIPSTACK] = {};
    SPolyVertex polygon[4] = {};
    CRect scratch[2];
    int32_t firstLine = 0;
    int32_t lastLine = -1;
    // Scan-line tables: x in whole pixels, u and v as texture coordinates.
    int32_t scanLeftX[XSCREEN_SCANLINES];
    int32_t scanRightX[XSCREEN_SCANLINES];
    int32_t scanLeftU[XSCREEN_SCANLINES];
    int32_t scanRightU[XSCREEN_SCANLINES];
    int32_t scanLeftV[XSCREEN_SCANLINES];
    int32_t scanRightV[XSCREEN_SCANLINES];

    CScreenBase();
    // A screen owns pictures and modes: it is not copied.
    CScreenBase(const CScreenBase&) = delete;
    CScreenBase& operator=(const CScreenBase&) = delete;
    virtual ~CScreenBase();

    // ---- modes
    virtual int32_t InitMode() = 0;
    virtual int32_t InitModeRez(int32_t width, int32_t height, int32_t bits, int32_t kind);
    virtual int32_t InitModeMode(SVmode* mode);
    virtual SVmode* GetActiveMode();
    virtual int32_t ExitMode() = 0;
    virtual int32_t GetVideoModes() = 0;
    virtual int32_t AddWindowVideoMode(int32_t width, int32_t height, int32_t bits, int32_t number) = 0;
    virtual int32_t SetScreenWindowProperties(int32_t flags) = 0;
    virtual int32_t SetDefaultScreenWindowProperties(int32_t flags) = 0;
    virtual int32_t ModeFirst();
    virtual int32_t ModeExists();
    virtual int32_t ModeNext();
    virtual SVmode* ModeGet();
    virtual int32_t ModeAvailable() = 0;
    virtual int32_t ScreenAvailable() = 0;
    virtual int32_t GetDepth() = 0;
    virtual int32_t Activate();
    virtual int32_t DeActivate();
    virtual int32_t SetFlipScreen(int32_t on) = 0;
    virtual int32_t IsFullScreen();

    // ---- bitmaps
    virtual int32_t MakeScreenFormat(CBitmap* bmp, int32_t keep);
    virtual int32_t MakeScreenBitmap(CBitmap* bmp, int32_t keep) = 0;
    virtual int32_t MakeScreenTexture(CBitmap* bmp, int32_t keep) = 0;
    virtual int32_t DrawBitmapScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                     int32_t h, int32_t flags, int32_t extra) = 0;
    virtual int32_t DrawBitmapPersistent(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                                         int32_t w, int32_t h, int32_t flags, int32_t extra);
    virtual int32_t DrawBitmapPersistentScale(CBitmap* bmp, CRect* src, CRect* dst, int32_t flags);
    virtual int32_t DrawBitmapScreenGui(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                                        int32_t w, int32_t h, int32_t flags, int32_t extra) = 0;
    virtual int32_t DrawSpriteScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                     int32_t h, int32_t flags, int32_t extra) = 0;
    virtual int32_t RestoreSpriteScreen(CBitmap* restore, int32_t x, int32_t y, int32_t w, int32_t h) = 0;
    // Copies the screen rectangle (x, y, w, h) into restore at (0, 0).
    virtual int32_t UpdateSpriteRestore(int32_t x, int32_t y, int32_t w, int32_t h, int32_t unused,
                                        int32_t flags, CBitmap* restore) = 0;

    // ---- polygons
    virtual int32_t SetTexture(CBitmap* bmp) = 0;
    virtual int32_t SetTextureCoords(int32_t u0, int32_t v0, int32_t u1, int32_t v1, int32_t u2, int32_t v2,
                                     int32_t u3, int32_t v3);
    virtual int32_t SetPolygon(int32_t x0, int32_t y0, float f0, int32_t x1, int32_t y1, float f1, int32_t x2,
                               int32_t y2, float f2, int32_t x3, int32_t y3, float f3);
    virtual int32_t SetPolygonMode(int32_t mode, int32_t filter);
    virtual int32_t DrawPolygonScreen(CRect*& out) = 0;
    virtual int32_t DrawPolygonPersistent(CRect*& out);
    virtual int32_t DrawPolygonBitmap(CBitmap* bmp, CRect*& out);
    virtual int32_t DrawShadowPolygonScreen(CRect*& out) = 0;
    virtual int32_t DrawShadowPolygonPersistent(CRect*& out);
    virtual int32_t DrawShadowPolygonBitmap(CBitmap* bmp, CRect*& out);
    // Scan-convert the stored polygon; the stored polygon itself never changes.
    virtual int32_t MakeDrawList(int32_t& minX, int32_t& minY, int32_t& maxX, int32_t& maxY);
    virtual int32_t MakeFilterDrawList(int32_t& offX, int32_t& offY, int32_t& minX, int32_t& minY,
                                       int32_t& maxX, int32_t& maxY);
    virtual int32_t CalcDrawList(int32_t& minX, int32_t& minY, int32_t& maxX, int32_t& maxY);
    // 2 x 2 box filter of rows of a double-size span buffer into dst at (x, y).
    virtual void CopyFiltered(int32_t x, int32_t y, uint8_t* dst, int32_t dstPitch, int32_t unused,
                              const uint8_t* src, int32_t srcPitch, int32_t rows);

    // ---- persistent, background and alpha pictures
    virtual int32_t SetPersistent(int32_t on);
    virtual int32_t SetPersistentMode(int32_t on);
    virtual int32_t SetBackground(int32_t on);
    virtual int32_t SetBackgroundMode(int32_t on);
    virtual int32_t SetPersistentToBackground();
    virtual int32_t UpdateFromBackgroundToPersistent(int32_t l, int32_t t, int32_t r, int32_t b) = 0;
    virtual CBitmap* LockPersistentBitmap(int32_t l, int32_t t, int32_t r, int32_t b) = 0;
    virtual int32_t UnlockPersistentBitmap() = 0;
    virtual CBitmap* LockBackgroundBitmap(int32_t l, int32_t t, int32_t r, int32_t b) = 0;
    virtual int32_t UnlockBackgroundBitmap() = 0;
    virtual uint8_t* LockScreenBuffer() = 0;
    virtual int32_t ReleaseScreenBuffer() = 0;
    virtual int32_t CachePersistentBitmap();
    virtual int32_t SetAlphaBuffer(int32_t on);
    virtual int32_t SetAlphaBufferMode(int32_t on);
    virtual int32_t DrawBitmapAlpha(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                    int32_t h, int32_t flags, int32_t extra);
    virtual int32_t ClearAlpha(int32_t value, int32_t l, int32_t t, int32_t r, int32_t b);

    // ---- frame
    virtual int32_t FlipPage() = 0;
    virtual int32_t ClearBuffer() = 0;
    virtual int32_t Validate() = 0;
    // Textured polygon into dst (pitch, height, bytes per pixel), cut to clip.
    virtual int32_t DrawPolygonSoftware(uint8_t* dst, CRect* clip, int32_t pitch, int32_t height,
                                        int32_t bytesPerPixel, CRect*& drawn, CRect*& bounds);
    // Shadow polygon into the screen buffer; see DrawShadowPolygonInto.
    virtual int32_t DrawShadowPolygonSoftware(uint8_t* dst, CRect*& out);

    // ---- areas and clip
    virtual int32_t AddClearArea(int32_t l, int32_t t, int32_t r, int32_t b);
    virtual int32_t AddClearAreaGui(int32_t l, int32_t t, int32_t r, int32_t b);
    virtual int32_t AddClearAreaPersistent(int32_t l, int32_t t, int32_t r, int32_t b);
    virtual int32_t AddShadowArea(int32_t l, int32_t t, int32_t r, int32_t b);
    virtual int32_t ASA(int32_t l, int32_t t, int32_t r, int32_t b);
    virtual uint32_t ClipLine(int32_t& x1, int32_t& y1, int32_t& x2, int32_t& y2);
    virtual int32_t SetClip(int32_t l, int32_t t, int32_t r, int32_t b);
    virtual int32_t SetSubClip(int32_t l, int32_t t, int32_t r, int32_t b);
    virtual int32_t PushClip();
    virtual int32_t PopClip();

    // ---- palette and window
    virtual int32_t SetPalette(CPalette* pal);
    virtual CPalette* GetPalette();
    virtual int32_t GetScreenPos(int32_t* x, int32_t* y, int32_t* w, int32_t* h);
    virtual int32_t SetScreenPos(int32_t x, int32_t y);
    virtual int32_t SetScreenSize(int32_t w, int32_t h);
    virtual int32_t SetSystemPalette();

    // ---- primitives (each registers the rectangle it touched)
    void FillRect(int32_t x, int32_t y, int32_t w, int32_t h, TRGBA color);
    void FillRectAlpha(int32_t x, int32_t y, int32_t w, int32_t h, int32_t percent);
    void DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, TRGBA color);
    int32_t SetScreenToPersistentGrey();

    // ---- accessors for the modules that draw through the screen (fonts,
    // sprites, the GUI): the screen's own picture and its layers.
    // The picture that screen drawing goes to (the section of a windowed
    // screen); null when no mode is active.
    virtual CBitmap* GetScreenBitmap() { return nullptr; }
    CBitmap* GetPersistentBitmap() { return persistent; }
    CBitmap* GetBackgroundBitmap() { return background; }
    CBitmap* GetAlphaBitmap() { return alphaBuffer; }
    const CRect& GetClip() const { return clip; }
    int32_t IsClipEmpty() const { return clipEmpty; }
    // The whole mode rectangle (0, 0, width - 1, height - 1); empty without a mode.
    CRect ScreenRect() const;
    // The pixel value of a colour in the active mode (8-bit: the palette index).
    uint32_t ScreenColor(TRGBA color);

    // Shadow polygon into any destination with its own pitch, height and clip.
    int32_t DrawShadowPolygonInto(uint8_t* dst, const CRect& clip, int32_t pitch, int32_t height,
                                  int32_t bytesPerPixel, CRect& drawn);

  protected:
    int32_t CompOutCode(int32_t x, int32_t y);
    void CleanUp();
    void ScreenToPersistentGray();
    // After a mode change: pictures of another size or layout are made anew.
    void MatchBuffersToMode();
    // The merge and overflow rule of every area list.
    void AddArea(CRect* list, int32_t& count, CRect r, bool skipEqual);
    // Cuts a rectangle to the screen; false when nothing is left.
    bool ClipToScreen(CRect& r) const;
    // Builds the shade tables that darkening pixels of this size needs.
    bool EnsureShadeTables(int32_t bytesPerPixel);
    // Copies (sx, sy, w, h) of bmp, already clipped, to (dx, dy) of a
    // picture in the screen's layout; RGB pixels onto an 8-bit picture go
    // through the screen palette's colour match. Keyed: pixels equal to the
    // top-left one are skipped.
    bool BlitToScreenPicture(CBitmap* to, CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                             int32_t w, int32_t h, bool keyed);

  private:
    SPolyVertex m_work[4] = {};     // the polygon as scan-converted
    uint8_t* m_filterBuf = nullptr; // span buffer of the filter path
    int32_t m_filterSize = 0;
    int32_t CalcDrawListFrom(const SPolyVertex* v, int32_t& minX, int32_t& minY, int32_t& maxX,
                             int32_t& maxY);
    // Spans of the scan tables into dst; alpha values are read at
    // (ax0 + x >> scale, ay0 + y >> scale) when alpha is on.
    int32_t RenderSpans(uint8_t* dst, int32_t pitch, int32_t height, int32_t bpp, const CRect& clip,
                        bool alpha, int32_t ax0, int32_t ay0, int32_t scale, CRect& drawn);
    int32_t DrawFiltered(uint8_t* dst, const CRect& clip, int32_t pitch, int32_t height, int32_t bpp,
                         CRect& drawn, CRect& bounds);
    void ApplyAlpha(uint8_t* p, int32_t bpp, int32_t x, int32_t y);
};

// The library's list of screens (borrowed, not owned).
class TARVEX_API CScreenBaseList
{
  public:
    CLList list;

    CScreenBaseList() = default;
    CScreenBaseList(const CScreenBaseList&) = delete;
    CScreenBaseList& operator=(const CScreenBaseList&) = delete;
    ~CScreenBaseList();

    int32_t Register(CScreenBase* screen);
    int32_t Unregister(CScreenBase* screen);
    int32_t UnregisterAll();
    int16_t First() { return list.First(); }
    int16_t Next() { return list.Next(); }
    int16_t Exists() const { return list.Exists(); }
    CScreenBase* Get() const { return static_cast<CScreenBase*>(list.Get()); }
};
