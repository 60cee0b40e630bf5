// Windows and the GUI root. A window (CWindowBase) keeps geometry, flags,
// its controls and the focus and routes the root's messages to them;
// CWindow adds the owned titlebar and frame and draws everything. CWinCtrl is
// the single GUI root kept in the globals: it holds the windows front to
// back, draws them back to front each frame, routes mouse and keyboard, keeps
// the z-order (groups, always-last, modal) and holds the default look.
#pragma once

#include <tarvex/export.h>

#include <tarvex/control.h>
#include <tarvex/frame.h>
#include <tarvex/resdata.h>

class CScreenBase;
class CMouseBase;

constexpr uint32_t XWIN_HIDDEN = 0x40000000u;
constexpr uint32_t XWIN_DRAGGING = 0x80000000u;
constexpr int32_t XTITLEBAR_HEIGHT = 16; // at least; taller for a taller default font
constexpr int32_t XTITLEBAR_CLOSEBOX = 0x80000;

// The key record of message 0: a key code, then flags (bit 0: pressed).
struct TARVEX_API TGuiKey {
    uint16_t key;
    uint8_t flags;
};

class TARVEX_API CWindowBase
{
  public:
    int32_t width = 0, height = 0;
    int32_t id = 0;
    uint32_t flags = 0;
    int32_t dragX = 0, dragY = 0;
    int32_t staticCntrls = 0;
    CRect screenRect;
    int32_t x = 0, y = 0;
    int32_t active = 0;
    CControlBase* focus = nullptr;
    CControlBase* underMouse = nullptr;
    CLList cntrls; // CControlBase*, not owned

    CWindowBase() = default;
    CWindowBase(const CWindowBase&) = delete;
    CWindowBase& operator=(const CWindowBase&) = delete;
    virtual ~CWindowBase();

    virtual int32_t Create(int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int32_t flags);
    virtual int32_t SetPos(int32_t px, int32_t py);
    virtual int32_t GetPos(int32_t& px, int32_t& py);
    virtual int32_t SetSize(int32_t w, int32_t h);
    virtual int32_t GetSize(int32_t& w, int32_t& h);
    virtual int32_t GetID() { return id; }
    virtual int32_t SetID(int32_t newId);
    virtual int32_t SetFlag(int32_t f);
    virtual int32_t RemoveFlag(int32_t f);
    virtual int32_t GetFlags() { return static_cast<int32_t>(flags); }
    virtual int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data);
    virtual int32_t StaticWindowCntrls(int32_t on);
    virtual int32_t ToFront();
    virtual int32_t Enable(int32_t on);
    virtual int32_t HideWindow();
    virtual int32_t ShowWindow();
    virtual int32_t SetFocus(CControlBase* f);
    virtual int32_t AddCntrl(CControlBase* c);
    virtual int32_t RemoveCntrl(CControlBase* c);
    virtual int32_t RemoveAllCntrl();
    virtual int32_t CntrlFirst() { return cntrls.First(); }
    virtual int32_t CntrlNext() { return cntrls.Next(); }
    virtual int32_t CntrlExists() { return cntrls.Exists(); }
    virtual int32_t NumCntrls() { return cntrls.GetNumNodes(); }
    virtual CControlBase* GetCntrl() { return static_cast<CControlBase*>(cntrls.Get()); }
    virtual int32_t Destroy();
    virtual int32_t Draw(int32_t page);
    virtual int32_t Validate(CRect* r, int32_t how);
    virtual int32_t Validate();
    // The titlebar and frame of a CWindow; null for a bare window.
    virtual CControlBase* TitlebarCntrl() { return nullptr; }
    virtual CControlBase* FrameCntrl() { return nullptr; }
    int32_t IsHidden() const { return (flags & XWIN_HIDDEN) != 0 ? 1 : 0; }

  protected:
    void UpdateScreenRect();
    int32_t KeyMessage(TGuiKey* key);
    int32_t MouseMessage(int32_t mx, int32_t my, int32_t buttons);
    int32_t Paste(const char* text);
};

// The window's background and border: fill, extruded bevel, state bitmap.
class TARVEX_API CFrame : public CControlBase
{
  public:
    int32_t prevButtons = 0; // buttons of the last mouse message
    int32_t Create(const char* text, int32_t w, int32_t h, CWindowBase* win);
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    using CControlBase::Create;

  protected:
    // Fill, bevel and bitmap of the rectangle (l, t, w, h) in screen pixels.
    void DrawLook(int32_t l, int32_t t, int32_t w, int32_t h);
};

// The window's title: drags the window, shows the caption and the close box.
class TARVEX_API CTitlebar : public CFrame
{
  public:
    int32_t closeDown = 0;
    int32_t dragging = 0;
    CBitmap* caption = nullptr; // owned: the title drawn once in the screen's format
    CFont* captionFont = nullptr;
    const char* captionText = nullptr;
    int32_t captionBits = 0;
    ~CTitlebar() override;
    int32_t Destroy() override;
    int32_t Create(const char* title, int32_t w, int32_t h, CWindowBase* win, int32_t tflags);
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    // The close box in window coordinates.
    CRect CloseRect() const;
    int32_t SwapLook(const void* from, void* to) override;
    using CControlBase::Create;

  private:
    void MakeCaption(CFont* f, CScreenBase* s);
};

class TARVEX_API CWindow : public CWindowBase
{
  public:
    CTitlebar* titlebar = nullptr; // owned
    CFrame* frame = nullptr;       // owned

    ~CWindow() override;
    using CWindowBase::Create;
    virtual int32_t Create(int32_t id, char* title, int32_t x, int32_t y, int32_t w, int32_t h,
                           int32_t flags);
    int32_t Destroy() override;
    CControlBase* TitlebarCntrl() override { return titlebar; }
    CControlBase* FrameCntrl() override { return frame; }
};

using XGuiCallback = void (*)(int32_t msg, int32_t windowId, int32_t controlId, int32_t arg, void* data);

struct TARVEX_API SWinEntry {
    CWindowBase* window;
    XGuiCallback callback;
    void* user;
    int32_t removed; // taken out during a pass; freed when the pass ends
};

class TARVEX_API CWinCtrl : public CMsgSys
{
  public:
    int32_t groupCounter = 0;
    CLList windows; // SWinEntry*, owned, front to back
    TCntrlColor* defFrame[4] = {};
    TCntrlColor* defTitlebar[4] = {};
    TCntrlColor* defButton[4] = {};
    TCntrlColor* defStatic[4] = {};
    TCntrlColor colorBlocks[8] = {}; // sets A-H
    CFont* defFont = nullptr;        // lent
    CBitmap* defCaret = nullptr;     // owned when made by the look generator
    CBitmap* defCheck = nullptr;
    CBitmap* defClose[4] = {};
    CBitmap* defDrop[4] = {};
    CBitmap* defArrowUp[4] = {};
    CBitmap* defArrowDown[4] = {};
    uint32_t defCursor = 0;
    // The controls whose look later buttons and statics copy (lent; a
    // control clears its entry when it is destroyed).
    CControlBase* defButtonCntrl = nullptr;
    CControlBase* defStaticCntrl = nullptr;
    int32_t passDepth = 0;      // >0 while a message pass walks the list
    int32_t ownsLook = 0;       // the default bitmaps are ours to free
    CLList notes;               // notifications waiting for the pass to end
    TResDefaults builtIn{};     // the generated look bitmaps (owned while ownsLook)
    CResData* lender = nullptr; // resource data whose defaults are in use
    TResDefaults beforeLoan{};  // what the lent defaults replaced

    CWinCtrl() = default;
    CWinCtrl(const CWinCtrl&) = delete;
    CWinCtrl& operator=(const CWinCtrl&) = delete;
    ~CWinCtrl() override;

    int32_t Create();
    int32_t MsgHandler(uint32_t msg, int32_t p1, int32_t p2) override;
    int32_t AddWindow(CWindowBase* win, XGuiCallback callback, void* user);
    int32_t RemoveWindow(int32_t id);
    int32_t RemoveAll();
    CWindowBase* GetWindow();
    CWindowBase* FindWindow(int32_t id);
    CWindowBase* FrontWindow();
    int32_t ToFront(int32_t id);
    int32_t SendMessage(int32_t msg, int32_t windowId, int32_t controlId, int32_t system, void* data);
    int32_t Validate(CRect* r, int32_t how);
    int32_t Validate();
    int32_t SetDefaultFrame(TCntrlColor* a, TCntrlColor* b, TCntrlColor* c, TCntrlColor* d);
    int32_t SetDefaultTitlebar(TCntrlColor* a, TCntrlColor* b, TCntrlColor* c, TCntrlColor* d);
    int32_t SetDefaultButton(TCntrlColor* a, TCntrlColor* b, TCntrlColor* c, TCntrlColor* d);
    int32_t SetDefaultFont(CFont* f);
    int32_t SetDefaultCaret(CBitmap* b);
    int32_t SetDefaultCheck(CBitmap* b);
    int32_t SetDefaultClose(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d);
    int32_t SetDefaultDrop(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d);
    int32_t SetDefaultArrowUp(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d);
    int32_t SetDefaultArrowDown(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d);
    int32_t SetupColors(TCntrlColor* set, TRGBA* c0, TRGBA* c1, TRGBA* c2, TRGBA* c3, TRGBA* c4, TRGBA* c5,
                        TRGBA* c6, TRGBA* c7);
    TRGBA& MakeCol(int32_t r, int32_t g, int32_t b, int32_t a, TRGBA& out);
    int32_t RemapDefaults();
    // Draws the default-look bitmaps (caret, check, close, drop, arrows in
    // four states) in 24 bits; resource data may replace them through the
    // SetDefault* calls, which lend theirs.
    int32_t MakeDefaultLook();
    void FreeDefaultLook();
    // Takes the "Defaults" of resource data as the default look (0 when it
    // has none); a loan held before ends first. The resource data ends the
    // loan when it is freed: the look falls back to what the loan replaced,
    // and every control of every window lets go of the lent objects.
    int32_t BorrowDefaults(CResData* res);
    void EndDefaultsLoan();
    // Ends a pass: drops the windows removed during it and delivers the
    // notifications it queued. Controls that change several controls at
    // once open a pass (++passDepth) and end it this way, so no handler
    // runs while they work.
    void EndPass();

  private:
    SWinEntry* Entry(int32_t id);
    void RouteMouse(CMouseBase* mouse, int32_t mx, int32_t my, int32_t buttons);
};

// The GUI root in the globals: created on demand, freed by xFreeGuiRoot
// (and by xExit when the application forgot).
TARVEX_API CWinCtrl* xCreateGuiRoot();
TARVEX_API void xFreeGuiRoot();
