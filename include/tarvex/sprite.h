// Sprites: moving, optionally animated pictures drawn over the current screen
// each frame without disturbing what lies beneath. Before the flip a sprite
// saves the screen area under it into a restore picture of the page and then
// draws its current frame; before the next clear it puts the saved area
// back. The steps hang on the screen's library messages (draw, clear) at
// fixed priorities, so sprites draw after the GUI and around the screen's
// grey conversion without the application calling them.
#pragma once

#include <tarvex/export.h>

#include <tarvex/bitmap.h>
#include <tarvex/frame.h>
#include <tarvex/point.h>
#include <tarvex/rect.h>
#include <tarvex/screen.h>

// Base flags: the animation mode (bits 0-5), saving early, visibility and
// the clip area.
enum : uint32_t {
    XSPRITE_LOOP = 1,           // forward, after the last frame back to frame 0
    XSPRITE_ONCE = 2,           // forward, stops on the last frame
    XSPRITE_ONCE_REWIND = 4,    // forward, from the last frame to frame 0 and stops
    XSPRITE_PINGPONG = 8,       // forward to the last frame, backward to frame 0, again
    XSPRITE_PINGPONG_ONCE = 16, // forward to the last frame, backward, stops at frame 0
    XSPRITE_MODE_MASK = 0x3F,
    XSPRITE_SAVEEARLY = 0x40, // draws after the screen's grey conversion (cursors)
    XSPRITE_VISIBLE = 0x80,
    XSPRITE_CLIPAREA = 0x100,
};
// Animation status.
enum : int32_t { XSPRITE_STOPPED = 0, XSPRITE_FORWARD = 1, XSPRITE_BACKWARD = 2 };
// Message priorities of the sprite's steps.
enum : int32_t {
    XSPRITE_PRIO_SAVE = -100,
    XSPRITE_PRIO_DRAW = -101,
    XSPRITE_PRIO_DRAW_LATE = -103,
    XSPRITE_PRIO_RESTORE = 100,
};

class TARVEX_API CSprite : public CMsgSys
{
  public:
    CBitmap* bitmap = nullptr;                // the frames' source (borrowed)
    CBitmap* restore[XSCREEN_PAGES] = {};     // what lies under the sprite, per page (owned)
    int32_t restoreValid[XSCREEN_PAGES] = {}; // the page's restore picture holds this flip's area
    int32_t drawn[XSCREEN_PAGES] = {};        // the sprite is on the page and must be restored
    uint32_t baseFlags = 0;                   // XSPRITE_* flags
    int32_t drawFlags = 0;                    // passed to the screen's sprite blit (1 = colour key)
    TPoint* frames = nullptr;                 // owned copy of the frame corners
    int32_t frameCount = 0;
    int32_t frame = 0;
    int32_t width = 0; // of one frame
    int32_t height = 0;
    int32_t restoreWidth = 0;
    int32_t restoreHeight = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t frameDelay = 0; // flips between animation steps, 0 = every flip
    int32_t delayCount = 0;
    int32_t animStatus = XSPRITE_STOPPED;
    CRect restoreRect[XSCREEN_PAGES]; // where each page's saved area lies
    CRect clipArea;

    CSprite() = default;
    // A sprite owns pictures and registrations: it is not copied.
    CSprite(const CSprite&) = delete;
    CSprite& operator=(const CSprite&) = delete;
    ~CSprite() override;

    // bitmap: the frames' source, which must outlive the sprite. frames: the
    // top-left corners of the frames, ending at the first x or y of -1; null
    // or empty: one frame at (0, 0). w, h: the frame size (0 or less: the
    // bitmap's). delay: flips between animation steps (0 or less: every
    // flip). The sprite starts visible on frame 0, animating forward when
    // flags hold a mode. A sprite created again drops what it had.
    int32_t Create(CBitmap* bitmap, const TPoint* frames, int32_t w, int32_t h, int32_t x, int32_t y,
                   uint32_t flags, int32_t delay, int32_t drawFlags);
    void SetPosition(int32_t nx, int32_t ny);
    void SetRelativePosition(int32_t dx, int32_t dy);
    // New frame size; the restore pictures are made anew for it.
    void SetSize(int32_t w, int32_t h);
    void SetCurrentFrame(int32_t f);    // ignored unless 0 <= f < frame count
    void SetFrameDelay(int32_t d);      // ignored unless d > 0
    void SetAnimationStatus(int32_t s); // ignored unless 0 <= s < 3
    void SetBaseFlag(uint32_t flags);
    void ClearBaseFlag(uint32_t flags);
    int32_t CheckBaseFlag(uint32_t flags); // TRUE when any of the bits is set
    void SetSpriteClipArea(CRect area);
    int32_t GetPositionX() { return x; }
    int32_t GetPositionY() { return y; }
    int32_t GetWidth() { return width; }
    int32_t GetHeight() { return height; }
    int32_t GetCurrentFrame() { return frame; }
    int32_t GetAnimationStatus() { return animStatus; }

    int32_t MsgHandler(uint32_t msg, int32_t p1, int32_t p2) override;

  protected:
    void Draw();
    void UpdateRestoreBuffer();
    void Restore();
    void Free();
    // One animation step by the mode; the frame never leaves the frame list.
    void Step();
    // Makes the page's restore picture match the screen's layout and the
    // restore size; false when there is nothing to save into.
    bool EnsureRestore(int32_t page);
};
