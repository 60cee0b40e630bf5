// Push buttons and their two relatives. CButton is the pattern most
// controls follow: fill, bevel, state bitmap and text by state; the mouse
// phases (over, pressed, clicked, left) and the hotkey; a transparent bitmap
// button is hit only where its picture is not the key colour. CDragbutton is
// moved with the mouse inside a drag area (it is the slider's thumb).
// CURL opens its address when clicked.
#pragma once

#include <tarvex/export.h>

#include <tarvex/window.h>

// Notifications of the standard controls to their window.
enum : int32_t {
    XNOTE_KEY = 0,
    XNOTE_PRESSED = 1,
    XNOTE_CLICKED = 2,
    XNOTE_ENTERED = 3,
    XNOTE_CHECKED = 6,
    XNOTE_UNCHECKED = 7,
    XNOTE_GROUPSELECT = 13,
    XNOTE_VALUE = 14,
    XNOTE_SELECTION = 15,
    XNOTE_LEFT = 19,
    XNOTE_TEXT = 20,
};

// The extruded look of a rectangle (screen pixels): outer border, lit and
// shaded bevel lines and corners from the colour set; no fill.
TARVEX_API void xDrawCntrlBevel(int32_t l, int32_t t, int32_t w, int32_t h, const TCntrlColor* set, int32_t bevel);

class TARVEX_API CButton : public CControlBase
{
  public:
    CButton() = default;
    ~CButton() override;
    using CControlBase::Create;
    int32_t Create(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int16_t hotkey,
                   int32_t flags);
    int32_t Destroy() override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    // Makes this button the look that later buttons copy.
    int32_t SetDefault() override;
    // 1 when the window-relative point hits the button: inside its mouse
    // area and, for a transparent bitmap button, on a pixel of its picture
    // that differs from the picture's top-left pixel.
    int32_t IsHit(int32_t mx, int32_t my);

  protected:
    // What every Create does: id, text, geometry, hotkey, flags, mouse area,
    // phase 0, the root's colour sets (sets), font and cursor; then the
    // look of model (the root's default control of the kind) when set.
    void Setup(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int16_t hotkey,
               int32_t flags, TCntrlColor* const* sets, CControlBase* model);
    // Fill, bevel, bitmap and text of the state (steps shared by kinds).
    void DrawFace(int32_t wx, int32_t wy);
    // The text in the box (screen pixels), clipped to it; extra adds text
    // flags to those of the control's centring flags.
    void DrawCaption(const char* t, int32_t l, int32_t tp, int32_t w, int32_t h, int32_t shift,
                     int32_t extra = 0);
    // The colour set and bitmap of the current state (normal as fall-back).
    TCntrlColor* StateColors();
    CBitmap* StateBitmap();
    // The hotkey: down presses (1), up in phase 2 releases (2). Pending
    // notifications go to notes; returns 1 when the key was the hotkey.
    int32_t HotkeyPhase(const void* data, int32_t* notes, int32_t& count);
    // Called when a click completes, before the window hears of it.
    virtual void Clicked() {}
    // Sends the notes after every change to this control is done: a handler
    // may destroy the control's window (and the control) on any of them.
    void SendNotes(const int32_t* notes, int32_t count);
    int32_t prevButtons = 0; // buttons of the previous mouse message
};

// Axes a drag button moves along.
enum : int32_t {
    XDRAG_X = 1,
    XDRAG_Y = 2,
};

// Grabbed with the left button (1), dragged, released (2). The button moves
// along its axes and stays inside its drag area (window-relative; empty:
// anywhere). Its place is read as an offset from the area's top-left.
class TARVEX_API CDragbutton : public CButton
{
  public:
    int32_t dragAxis = XDRAG_X | XDRAG_Y;
    CRect dragArea;
    int32_t grabbed = 0;
    int32_t grabX = 0, grabY = 0; // the mouse's offset into the button while grabbed
    int32_t moved = 0;

    using CButton::Create;
    int32_t Create(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int16_t hotkey,
                   int32_t flags);
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    // axis: XDRAG_X, XDRAG_Y or both; area null or empty: no bounds. The
    // button is moved inside the area at once.
    int32_t SetDragArea(int32_t axis, CRect* area);
    // Offset of the button's top-left from the area's top-left.
    int32_t GetDragOffset(int32_t& dx, int32_t& dy);
    // Places the button at an offset from the area's top-left (clamped).
    int32_t SetDragOffset(int32_t dx, int32_t dy);
    // The room to move: area size minus button size per axis (0 or more).
    int32_t GetDragRoom(int32_t& rx, int32_t& ry);
    int32_t IsGrabbed() { return grabbed; }
    // 1 once after the button was dragged to a new place.
    int32_t TakeMoved();

  private:
    void MoveTo(int32_t px, int32_t py);
};

// A button with an address; a click opens it (xShowURL), an e-mail address
// is opened as "mailto:" followed by it (xExecuteFile).
class TARVEX_API CURL : public CButton
{
  public:
    char* url = nullptr; // owned copy
    ~CURL() override;
    using CButton::Create;
    int32_t Create(int32_t id, const char* text, const char* url, int32_t x, int32_t y, int32_t w, int32_t h,
                   int16_t hotkey, int32_t flags);
    int32_t Destroy() override;
    int32_t SetURL(const char* address);
    char* GetURL() { return url; }
    // 1 when the address is an e-mail address (a '@' and no scheme).
    int32_t IsMail();
    // Opens the address as a click does; the opener's result.
    int32_t Open();

  protected:
    void Clicked() override;
};
