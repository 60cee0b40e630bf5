// The base of every GUI control: id, parent window, text buffer (owned or
// borrowed), geometry, hotkey, flags, the four state looks (bitmaps and
// colour sets), animations, the clip list of regions to redraw, and the
// state machine with its pending state. Windows (window.h) hold controls and
// the GUI root routes input to them; the drawing of a kind belongs to the
// derived control.
#pragma once

#include <tarvex/export.h>

#include <tarvex/bitmap.h>
#include <tarvex/font.h>
#include <tarvex/guilook.h>
#include <tarvex/llist.h>
#include <tarvex/rect.h>
#include <tarvex/timer.h>

class CWindowBase;

// Kept here beside the shared look records: the backward flag of an
// animation slot, the titlebar's control id, the state of a control that
// remembers none, and the length of a control's clip list.
enum : int32_t { ANIM_BACKWARD = 16 };
constexpr int32_t XCNTRL_TITLEBAR = 1003;
constexpr int32_t XGUI_NOSTATE = 21; // no state remembered across disabling
constexpr int32_t XCNTRL_CLIPS = 100;
// The tick of animation lines in milliseconds. Lines run on a timer object of
// their own, so an animation whose frame delay is also 20 ms keeps its timer.
constexpr uint32_t XANIMLINE_TICK = 20;

// One step of an animation line: a picture travelling inside the control from
// (x0, y0) to (x1, y1), one pixel along the longer axis per tick. It shows
// the animation's frames (at the animation's own interval) or, without one,
// the bitmap of the control's state (normal, pressed, highlight, disabled;
// a missing one falls back to the first). A step with neither is a wait of
// max(|x1 - x0|, |y1 - y0|) + 1 ticks. Pictures are borrowed.
struct TARVEX_API TAnimLineStep {
    char name[32];
    int32_t x0, y0, x1, y1;
    TCntrlAnim* anim;
    CBitmap* bitmaps[4];
};

// A named animation line: its steps (TAnimLineStep*, owned) run in order and
// loop while the control is in the line's state (0: in every state). Leaving
// the state rewinds the line.
struct TARVEX_API TAnimLine {
    char name[32];
    int32_t state;
    CLList steps;
    int32_t tick;    // ticks into the current step
    uint32_t animMs; // time into the current step's animation
    int32_t px, py;  // current position inside the control
};

class CControlBase;
// The timer object of a control's animation lines.
class TARVEX_API CAnimLineTicker : public CTimer
{
  public:
    explicit CAnimLineTicker(CControlBase* c) : owner(c) {}
    void TimerHandler(uint32_t interval) override;
    CControlBase* owner;
};

class TARVEX_API CControlBase : public CTimer
{
  public:
    int32_t id = 0;
    int32_t parentId = 0;
    CWindowBase* parent = nullptr;
    char* text = nullptr; // owned (textOwned) or borrowed from Create/SetText, then never written
    int32_t x = 0, y = 0, width = 0, height = 0;
    int16_t hotkey = 0;
    int32_t flags = 0;
    CRect mouseArea;
    int32_t hotkeyPhase = 0;
    int32_t inactiveHighlight = 0;
    int32_t textOwned = 0;
    int32_t textSize = 0; // bytes of an owned buffer, terminator included
    int32_t rememberedState = XGUI_NOSTATE;
    int32_t needsRedraw = 0;
    CBitmap* bitmaps[4] = {};    // normal, pressed, highlight, disabled
    TCntrlColor* colors[4] = {}; // same order
    TCntrlAnim* anims[3] = {};   // normal, pressed, highlight
    int32_t animModes[3] = {ANIM_LOOP, ANIM_LOOP, ANIM_LOOP};
    int32_t animBackward[3] = {};
    int32_t bitmapX = 0, bitmapY = 0;
    int32_t bevel = 0;
    int32_t alpha = 25;
    TRGBA textColor{255, 255, 255};
    CFont* font = nullptr;
    int32_t textFrame[2] = {};
    CRect bkgClip;
    int32_t visible = 1;
    int32_t messagingSystem = 0;
    int32_t state = XGUI_RELEASED;
    int32_t pendingState = XGUI_RELEASED;
    uint32_t cursor = 0;
    CRect clips[XCNTRL_CLIPS];
    int32_t clipCount = 0;
    CLList animLines; // TAnimLine*, owned
    CAnimLineTicker animLineTicker{this};

    CControlBase();
    CControlBase(const CControlBase&) = delete;
    CControlBase& operator=(const CControlBase&) = delete;
    ~CControlBase() override;

    void TimerHandler(uint32_t timerId) override;
    virtual int32_t Create(int32_t id);
    virtual int32_t Destroy();
    virtual int32_t Copy(CControlBase* from);
    virtual int32_t LoseHotKey();
    virtual int32_t SetFont(CFont* f, TRGBA* color);
    virtual int32_t SetTextColor(TRGBA color);
    virtual int32_t SetBitmap(CBitmap* normal, CBitmap* pressed, CBitmap* highlight, CBitmap* disabled);
    virtual int32_t SetColors(TCntrlColor* normal, TCntrlColor* pressed, TCntrlColor* highlight,
                              TCntrlColor* disabled);
    virtual int32_t SetBevelSize(int32_t size);
    virtual int32_t SetDefault() { return 1; }
    virtual int32_t SetID(int32_t newId);
    virtual int32_t GetID() { return id; }
    virtual int32_t GetPos(int32_t& px, int32_t& py);
    virtual int32_t SetPos(int32_t px, int32_t py);
    virtual int32_t GetSize(int32_t& w, int32_t& h);
    virtual int32_t SetSize(int32_t w, int32_t h);
    virtual int32_t SetHotkey(int16_t key);
    virtual int32_t SetFlag(int32_t f);
    virtual int32_t GetFlags() { return flags; }
    virtual int32_t GetParent(int32_t* pid, CWindowBase** win);
    virtual int32_t SetParent(int32_t pid, CWindowBase* win);
    virtual int32_t RemoveFlag(int32_t f);
    // Input and notifications; the base answers the hotkey protocol only.
    virtual int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data);
    virtual int32_t Draw(int32_t wx, int32_t wy, int32_t how);
    virtual int32_t Invalidate();
    virtual int32_t Validate();
    virtual int32_t Validate(CRect* r, int32_t how);
    virtual int32_t SetState(int32_t s);
    virtual int32_t GetState() { return state; }
    virtual int32_t SetAlpha(int32_t a);
    virtual int32_t SetCntrlMessagingSystem(int32_t sys);
    virtual int32_t ClearClipListIndex();
    virtual int32_t DrawBitmap(CBitmap* b, int32_t wx, int32_t wy);
    virtual int32_t SetAnimBitmap(TCntrlAnim* anim, int32_t forState, int32_t mode);
    // Appends a step to the line of that name and state (made when missing)
    // and starts the line timer. 0 for an empty or over-long name (31
    // characters at most), an animation with a frame delay below 1 ms, or
    // out of memory.
    virtual int32_t SetAnimLine(int32_t forState, char* line, int32_t x0, int32_t y0, TCntrlAnim* anim,
                                int32_t x1, int32_t y1, char* object, CBitmap* normal = nullptr,
                                CBitmap* pressed = nullptr, CBitmap* highlight = nullptr,
                                CBitmap* disabled = nullptr);
    // Appends a new, empty line named name to lines; 1/0.
    virtual int32_t SetAnimLine_InsertNewAnimLine(CLList* lines, char* name);
    virtual int32_t SetFrameRate(int32_t which, int32_t ms);
    virtual int32_t GetTextBufferSize() { return textSize; }
    virtual char* GetTextBuffer(int32_t refresh);
    virtual char* AllocBuffer(int32_t size);
    // The control borrows the text (it keeps the pointer, so the text must
    // outlive the control or the next SetText) and copies it before any change.
    virtual int32_t SetText(char* p);
    // Literals and other constant texts: the same call (overrides of the
    // char* form receive it; they must not write through it either).
    int32_t SetText(const char* p) { return SetText(const_cast<char*>(p)); }
    // Takes text pasted into the control (its window has checked it holds
    // no control characters). The base copies it into the text buffer, cut
    // at the buffer's capacity; controls that keep their text elsewhere
    // (rows, a caret) take it their own way.
    virtual int32_t PasteText(const char* p);
    virtual int32_t GetSelected() { return 0; }
    virtual int32_t SetSelected(int32_t) { return 1; }
    virtual int32_t GetMouseArea(CRect* out);
    // One tick of one line: 1 when its picture or position changed.
    virtual int32_t AnimLineHandler(TAnimLine* line);
    // One tick of every line (lines of other states are rewound).
    virtual int32_t AnimLineHandlerAll();
    // Replaces every font, bitmap or colour-set pointer equal to from with to
    // (look objects that are going away); controls holding further controls
    // pass it on. Returns how many were replaced.
    virtual int32_t SwapLook(const void* from, void* to);

    // Draws the current picture of every running line (called by the window
    // after the control's own look); 1 when anything was drawn.
    int32_t DrawAnimLines(int32_t wx, int32_t wy);
    // Frees every line and stops the line timer.
    void FreeAnimLines();

    void SetBkgClip(CRect* r);
    CRect* GetBkgClip() { return &bkgClip; }
    // Makes the text writable: a borrowed text is copied into an owned
    // buffer of at least minSize bytes first. Returns the buffer or null.
    char* MakeTextWritable(int32_t minSize);
    // Sends a notification for this control through the GUI root.
    int32_t Notify(int32_t msg);
    // The control's rectangle on the screen (window position added).
    CRect ScreenRect() const;

  protected:
    int32_t StateIndex(int32_t s) const;
    int32_t AnimFlag(int32_t slot) const;
};
