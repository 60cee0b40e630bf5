// Sprites (see sprite.h): the frame list, the animation modes and the three
// steps on the current screen's messages.
//
// Each flip the sprite's draw handler runs twice: the first call (priority
// -100) saves the area under the sprite, the second (-101, or -103 when it
// must come after the screen's grey conversion) draws the frame there. The
// clear message (priority 100) puts the saved area back before the screen
// restores its own areas, so a sprite never leaves a trail.
//
// The restore pictures follow the screen: they are made in the layout of the
// screen's picture and the sprite's restore size when a save needs them, so
// a new size or a new screen mode never saves into a picture of another
// shape. Replacing a picture at save time is safe: the page's previous area
// has been put back by the clear that came before.
#include <tarvex/sprite.h>

#include <algorithm>
#include <cstring>

CSprite::~CSprite() { Free(); }

int32_t CSprite::Create(CBitmap* bmp, const TPoint* list, int32_t w, int32_t h, int32_t px, int32_t py,
                        uint32_t flags, int32_t delay, int32_t blitFlags)
{
    Free();
    if (bmp == nullptr || bmp->data == nullptr)
        return xErrorTxt_Func("CSprite::Create: No bitmap given.", __FILE__, __LINE__);
    int32_t count = 0;
    if (list != nullptr)
        while (list[count].x != -1 && list[count].y != -1)
            ++count;
    const int32_t stored = count > 0 ? count : 1;
    frames = static_cast<TPoint*>(XALLOC(sizeof(TPoint) * static_cast<uint32_t>(stored)));
    if (frames == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    if (count > 0)
        std::memcpy(frames, list, sizeof(TPoint) * static_cast<size_t>(count));
    else
        frames[0] = TPoint{0, 0};
    frameCount = stored;
    frame = 0;
    bitmap = bmp;
    width = w > 0 ? w : bmp->width;
    height = h > 0 ? h : bmp->height;
    restoreWidth = width;
    restoreHeight = height;
    x = px;
    y = py;
    baseFlags = flags | XSPRITE_VISIBLE;
    drawFlags = blitFlags;
    frameDelay = delay > 0 ? delay : 0;
    delayCount = frameDelay;
    animStatus = (flags & XSPRITE_MODE_MASK) != 0 ? XSPRITE_FORWARD : XSPRITE_STOPPED;
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p) {
        restoreValid[p] = drawn[p] = 0;
        EnsureRestore(p);
    }
    if (!RegisterMsg(this, XMSG_DRAW,
                     (flags & XSPRITE_SAVEEARLY) != 0 ? XSPRITE_PRIO_DRAW_LATE : XSPRITE_PRIO_DRAW) ||
        !RegisterMsg(this, XMSG_DRAW, XSPRITE_PRIO_SAVE) ||
        !RegisterMsg(this, XMSG_CLEAR, XSPRITE_PRIO_RESTORE)) {
        Free();
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    }
    return TRUE;
}

void CSprite::Free()
{
    UnRegisterMsgAll(this);
    if (frames != nullptr)
        XFREE(frames);
    frames = nullptr;
    frameCount = 0;
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p) {
        if (restore[p] != nullptr)
            XDELETE(restore[p]);
        restore[p] = nullptr;
        restoreValid[p] = drawn[p] = 0;
    }
}

bool CSprite::EnsureRestore(int32_t p)
{
    CScreenBase* screen = glb != nullptr ? glb->screen : nullptr;
    CBitmap* section = screen != nullptr ? screen->GetScreenBitmap() : nullptr;
    if (section == nullptr || restoreWidth <= 0 || restoreHeight <= 0)
        return false;
    CBitmap* r = restore[p];
    if (r != nullptr && r->width == restoreWidth && r->height == restoreHeight && r->bits == section->bits &&
        r->trueColor == section->trueColor && r->redShift == section->redShift &&
        r->greenShift == section->greenShift && r->blueShift == section->blueShift &&
        r->redBits == section->redBits && r->greenBits == section->greenBits)
        return true;
    if (r != nullptr)
        XDELETE(r);
    restore[p] = nullptr;
    r = XNEW(CBitmap);
    if (r == nullptr)
        return false;
    const int32_t ok =
        section->trueColor
            ? r->CreateRGB(restoreWidth, restoreHeight, section->bits, section->redBits, section->greenBits,
                           section->blueBits, section->redShift, section->greenShift, section->blueShift, 0)
            : r->CreateIndex(restoreWidth, restoreHeight, 8,
                             section->palette != nullptr ? section->palette : &screen->palette, 0);
    if (!ok) {
        XDELETE(r);
        return false;
    }
    restore[p] = r;
    return true;
}

// ---------------------------------------------------------------- setters

void CSprite::SetPosition(int32_t nx, int32_t ny)
{
    x = nx;
    y = ny;
}

void CSprite::SetRelativePosition(int32_t dx, int32_t dy)
{
    x += dx;
    y += dy;
}

void CSprite::SetSize(int32_t w, int32_t h)
{
    if (w <= 0 || h <= 0)
        return;
    width = restoreWidth = w;
    height = restoreHeight = h;
    // A page still showing the sprite keeps its picture until its clear has
    // put the area back; the next save makes it anew.
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p) {
        restoreValid[p] = 0;
        if (!drawn[p])
            EnsureRestore(p);
    }
}

void CSprite::SetCurrentFrame(int32_t f)
{
    if (f >= 0 && f <= frameCount - 1)
        frame = f;
}

void CSprite::SetFrameDelay(int32_t d)
{
    if (d > 0) {
        frameDelay = d;
        delayCount = d;
    }
}

void CSprite::SetAnimationStatus(int32_t s)
{
    if (s >= 0 && s < 3)
        animStatus = s;
}

void CSprite::SetBaseFlag(uint32_t flags) { baseFlags |= flags; }

void CSprite::ClearBaseFlag(uint32_t flags) { baseFlags &= ~flags; }

int32_t CSprite::CheckBaseFlag(uint32_t flags) { return (baseFlags & flags) != 0 ? TRUE : FALSE; }

void CSprite::SetSpriteClipArea(CRect area)
{
    clipArea = area;
    baseFlags |= XSPRITE_CLIPAREA;
}

// ---------------------------------------------------------------- animation

void CSprite::Step()
{
    if (frameCount <= 0)
        return;
    const int32_t last = frameCount - 1;
    frame = std::clamp(frame, 0, last);
    // The lowest mode bit rules; with none (a cursor started without one)
    // the animation loops.
    const uint32_t bits = baseFlags & XSPRITE_MODE_MASK;
    const uint32_t mode = bits != 0 ? (bits & (~bits + 1)) : XSPRITE_LOOP;
    const bool pingPong = mode == XSPRITE_PINGPONG || mode == XSPRITE_PINGPONG_ONCE;
    if (animStatus == XSPRITE_FORWARD) {
        if (pingPong) {
            // At the last frame the direction turns.
            frame = std::min(frame + 1, last);
            if (frame == last)
                animStatus = last > 0 ? XSPRITE_BACKWARD : (mode == XSPRITE_PINGPONG ? animStatus : 0);
        } else if (frame < last) {
            ++frame;
            if (mode == XSPRITE_ONCE && frame == last)
                animStatus = XSPRITE_STOPPED;
        } else if (mode == XSPRITE_LOOP) {
            frame = 0;
        } else {
            // Once: stays on the last frame; once with rewind: back to frame 0.
            if (mode == XSPRITE_ONCE_REWIND)
                frame = 0;
            animStatus = XSPRITE_STOPPED;
        }
    } else if (animStatus == XSPRITE_BACKWARD) {
        if (frame > 0) {
            --frame;
            if (frame == 0 && pingPong)
                animStatus = mode == XSPRITE_PINGPONG ? XSPRITE_FORWARD : XSPRITE_STOPPED;
        } else if (mode == XSPRITE_LOOP) {
            frame = last; // played backward, the loop wraps to the last frame
        } else if (pingPong) {
            animStatus = mode == XSPRITE_PINGPONG ? XSPRITE_FORWARD : XSPRITE_STOPPED;
        } else {
            animStatus = XSPRITE_STOPPED;
        }
    }
}

// ---------------------------------------------------------------- the three steps

void CSprite::UpdateRestoreBuffer()
{
    CScreenBase* screen = glb != nullptr ? glb->screen : nullptr;
    if (screen == nullptr)
        return;
    const int32_t p = screen->page;
    if (p < 0 || p >= XSCREEN_PAGES || !EnsureRestore(p))
        return;
    screen->UpdateSpriteRestore(x, y, restoreWidth, restoreHeight, 0, 0, restore[p]);
    restoreValid[p] = 1;
}

void CSprite::Draw()
{
    CScreenBase* screen = glb != nullptr ? glb->screen : nullptr;
    if (screen == nullptr || bitmap == nullptr || frame < 0 || frame >= frameCount)
        return;
    const int32_t p = screen->page;
    if (p < 0 || p >= XSCREEN_PAGES)
        return;
    const bool clipped = (baseFlags & XSPRITE_CLIPAREA) != 0;
    if (clipped) {
        screen->PushClip();
        screen->SetClip(clipArea.left, clipArea.top, clipArea.right, clipArea.bottom);
    }
    screen->DrawSpriteScreen(bitmap, frames[frame].x, frames[frame].y, x, y, width, height, drawFlags, 0);
    if (clipped)
        screen->PopClip();
    restoreRect[p].Set(x, y, x + restoreWidth - 1, y + restoreHeight - 1);
    restoreValid[p] = 0;
    drawn[p] = 1;
    if ((frameDelay == 0 || delayCount == 0) && animStatus != XSPRITE_STOPPED)
        Step();
    if (delayCount == 0)
        delayCount = frameDelay;
    else
        --delayCount;
}

void CSprite::Restore()
{
    CScreenBase* screen = glb != nullptr ? glb->screen : nullptr;
    if (screen == nullptr)
        return;
    const int32_t p = screen->page;
    if (p < 0 || p >= XSCREEN_PAGES || restore[p] == nullptr)
        return;
    const CRect& r = restoreRect[p];
    const int32_t w = std::min(r.right - r.left + 1, restore[p]->width);
    const int32_t h = std::min(r.bottom - r.top + 1, restore[p]->height);
    if (w > 0 && h > 0)
        screen->RestoreSpriteScreen(restore[p], r.left, r.top, w, h);
    drawn[p] = 0;
}

int32_t CSprite::MsgHandler(uint32_t msg, int32_t, int32_t)
{
    CScreenBase* screen = glb != nullptr ? glb->screen : nullptr;
    if (screen == nullptr)
        return 0;
    const int32_t p = screen->page;
    if (p < 0 || p >= XSCREEN_PAGES)
        return 0;
    if (msg == XMSG_DRAW) {
        if ((baseFlags & XSPRITE_VISIBLE) == 0)
            drawn[p] = 0;
        else if (!restoreValid[p])
            UpdateRestoreBuffer();
        else
            Draw();
    } else if (msg == XMSG_CLEAR && drawn[p]) {
        Restore();
    }
    return 0;
}
