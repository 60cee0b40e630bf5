// The mouse: position, buttons with went-down and went-up bits, motion in
// relative mode, an update callback, and cursors. CMouseBase holds the state
// and the queries; CMouse feeds it from the main window's mouse messages
// (and, in full-screen modes, from the pointer every 20 ms) and shows
// cursors: the system's arrow, I-beam and hand in a window, or pictures cut
// from bitmaps that the library draws itself in full-screen modes.
#pragma once

#include <tarvex/export.h>

#include <tarvex/frame.h>
#include <tarvex/point.h>
#include <tarvex/timer.h>

class CBitmap;
class CSprite;

// Button state bits: down now, went down and went up since the last GetBtnState.
enum : uint32_t {
    XMOUSE_LEFT = 0x1,
    XMOUSE_RIGHT = 0x2,
    XMOUSE_MIDDLE = 0x4,
    XMOUSE_LEFT_WENTDOWN = 0x100,
    XMOUSE_RIGHT_WENTDOWN = 0x200,
    XMOUSE_MIDDLE_WENTDOWN = 0x400,
    XMOUSE_LEFT_WENTUP = 0x10000,
    XMOUSE_RIGHT_WENTUP = 0x20000,
    XMOUSE_MIDDLE_WENTUP = 0x40000,
};
// Mode bits: relative motion wanted, full-screen screen.
enum : uint32_t { XMOUSE_RELATIVE = 0x1, XMOUSE_FULLSCREEN = 0x2 };
// Cursor ids that show the system's I-beam and hand in a window.
enum : uint32_t { XCURSOR_IBEAM = 2, XCURSOR_FINGER = 3 };
// Cursor picture flags (the sprite base flags the cursor's picture uses).
enum : uint32_t { XCURSOR_ANIM_MASK = 0x3F, XCURSOR_SAVEEARLY = 0x40, XCURSOR_SHOWN = 0x80 };

// Called with the position and the button state whenever the mouse changes.
using XMouseCallback = void (*)(int32_t x, int32_t y, int32_t buttons);

// One cursor: frames cut from a bitmap, a hot spot, and the state of its
// picture. In full-screen modes the picture is drawn by the library as a
// sprite at (x, y); in a window the current frame becomes a colour cursor.
struct TARVEX_API SMouseCursor {
    uint32_t id;
    CSprite* sprite; // the drawn picture in full-screen modes (owned)
    int16_t hotX;
    int16_t hotY;
    CBitmap* bitmap;    // the frames' source
    int32_t ownsBitmap; // loaded by AllocCursor(file): released with the cursor
    TPoint* frames;     // owned copy of the frame corners
    int32_t frameCount;
    int32_t width; // of one frame
    int32_t height;
    int32_t frame;      // current frame
    uint32_t flags;     // XCURSOR_* (animation mode in the low bits)
    int32_t frameDelay; // frames between animation steps, 0 = every frame
    int32_t animStatus; // 0 stopped, 1 running
    int32_t x;          // top-left of the picture: the position less the hot spot
    int32_t y;
    int32_t colorCursor; // platform cursor made from `colorFrame` (0 none yet, -1 none possible)
    int32_t colorFrame;
};

// A delta handler's record.
struct TARVEX_API SDeltaHandler {
    int32_t id;
    int32_t x;
    int32_t y;
};

class TARVEX_API CMouseBase
{
  public:
    CLList cursors;       // SMouseCursor*, owned
    CLList deltaHandlers; // SDeltaHandler*, owned
    SMouseCursor* current = nullptr;
    uint32_t buttons = 0;     // XMOUSE_* state bits
    uint32_t prevButtons = 0; // down bits of the last message
    int32_t deltaX = 0;       // motion gathered since the last GetDelta
    int32_t deltaY = 0;
    float sensitivity = 1.0f; // kept for the application; motion is not scaled
    uint32_t mode = 0;        // XMOUSE_RELATIVE, XMOUSE_FULLSCREEN
    int32_t nextDeltaId = 1;
    int32_t addX = 0; // where the screen's picture starts in the window
    int32_t addY = 0;
    int32_t setCursorCalled = 0;
    uint32_t nextCursorId = 1;
    XMouseCallback callback = nullptr;
    int32_t x = 320;
    int32_t y = 240;
    uint8_t rightDown = 0; // of the last message
    uint8_t leftDown = 0;
    uint8_t middleDown = 0;

    CMouseBase() = default;
    CMouseBase(const CMouseBase&) = default;
    CMouseBase& operator=(const CMouseBase&) = default;
    virtual ~CMouseBase();

    // Any pointer may be null; buttons gets the low byte of the state.
    int32_t GetState(int32_t* x, int32_t* y, int8_t* buttons);
    // The whole state; then the went-down and went-up bits are cleared.
    int32_t GetBtnState(int32_t* state);
    // The motion gathered since the last call, which is then zeroed.
    int32_t GetDelta(int32_t* dx, int32_t* dy, int8_t* buttons);
    // Sets the position; the gathered motion is discarded.
    void SetPos(int32_t x, int32_t y);
    // Where the screen's picture starts inside the window's client area.
    void SetMouseAdd(int32_t x, int32_t y);
    void SetUpdateCallback(XMouseCallback cb);
    void IsFullScreen(int32_t on);
    void NeedDelta(int32_t on);
    void SetSensitivity(float s);
    float GetSensitivity();
    void ShowCursor(int32_t show);

    // A cursor from a picture file or a bitmap (borrowed; it must outlive
    // the cursor). frames: frame corners ending at the first x or y of -1;
    // null or empty: one frame at (0, 0). w, h: frame size (0 = the
    // bitmap's). Returns the new cursor id, 0 on failure. The first cursor
    // becomes current.
    uint32_t AllocCursor(const char* file, const TPoint* frames, int32_t w, int32_t h, int16_t hotX,
                         int16_t hotY);
    uint32_t AllocCursor(CBitmap* bitmap, const TPoint* frames, int32_t w, int32_t h, int16_t hotX,
                         int16_t hotY);
    int32_t FreeCursor(uint32_t id);
    void FreeAllCursors();
    // Full-screen: shows cursor id (frame when non-zero) and hides the others.
    virtual void SetCursor(uint32_t id, int32_t frame);
    // Selects cursor id (when non-zero), sets its frame delay (when not 0.0)
    // and the flag (when non-zero) and starts its animation.
    void StartAnim(uint32_t id, int32_t flag, float delay);
    void StopAnim();
    // Whether SetCursor was called since ClearSetCursorCalled.
    int32_t SetCursorCalled();
    void ClearSetCursorCalled();
    int32_t GetDeltaHandler(int32_t* id);
    // Frees every cursor and delta-handler record.
    void Exit();
    // For the GUI root: the down bits (XMOUSE_LEFT/RIGHT/MIDDLE) of the
    // buttons that went down since its last call, which it clears. A latch
    // of its own, so the root never takes the application's went-down bits
    // and a press released within one frame still reaches the controls.
    uint32_t TakeGuiPresses();

  protected:
    SMouseCursor* FindCursor(uint32_t id);
    // Takes the down bits of a message's key flags (MK_*), sets the
    // went-down and went-up bits against the last message, calls back.
    void TakeButtons(uint32_t keyFlags);
    // The current cursor's picture follows the position.
    void PlaceCursor();
    void Notify();
    void ReleaseCursor(SMouseCursor* c);
    // The cursor's sprite is shown exactly when the cursor is.
    void ShowSprite(SMouseCursor* c);

  private:
    uint32_t guiPresses = 0; // down bits gone down since TakeGuiPresses
};

class TARVEX_API CMouse : public CMouseBase, public CWinMsg, public CMsgSys, public CTimer
{
  public:
    int32_t arrowCursor = 0; // platform cursors, 0 where the driver has none
    int32_t fingerCursor = 0;
    int32_t ibeamCursor = 0;

    // Registers for the mouse messages of the main window.
    CMouse();
    CMouse(const CMouse&) = default;
    CMouse& operator=(const CMouse&) = default;
    ~CMouse() override;

    // FALSE when there is no mouse. Follows the current screen's mode
    // (SetWindowKind) once there is a screen with an active mode; the
    // screens call it themselves whenever they open a mode.
    virtual int32_t Init();
    // Window kind 1 (a window): system cursors, positions from the messages.
    // Any other kind (0 full screen, 2): the library draws the cursor and
    // follows the pointer every 20 ms as well.
    void SetWindowKind(int32_t kind);
    // In a window: id 2 the I-beam, id 3 the hand, the id of an allocated
    // cursor its picture, anything else the arrow.
    void SetCursor(uint32_t id, int32_t frame) override;
    int32_t WinMsgHandler(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam) override;
    void TimerHandler(uint32_t interval) override;
    // Without a system hand cursor, the finger shows the picture of the
    // allocated cursor with this id (this platform's stand-in for a cursor
    // resource of the program).
    void SetFingerResourceId(uint32_t id);

  private:
    void LoadSystemCursors();
    // Where relative mode keeps the pointer: the middle of the window.
    bool Centre(HWND hwnd, int32_t& cx, int32_t& cy);
    // The pointer at (px, py) in the window's client area moves the mouse.
    void TakePointer(HWND hwnd, int32_t px, int32_t py);

    bool m_seenMove = false;
    bool m_fingerIsArrow = false;
    int32_t m_ownFinger = 0; // a finger made by SetFingerResourceId
};
