// The mouse: state and queries (CMouseBase) and the main window's mouse
// messages, the full-screen pointer timer and the cursors (CMouse).
//
// Positions are in the screen's picture: the pointer's place in the window's
// client area less the picture's offset in it (SetMouseAdd). The message
// path and the full-screen timer map positions the same way. In relative
// mode the pointer is kept in the middle of the window: every message that
// finds it elsewhere adds the difference to the position and to the gathered
// motion and moves the pointer back; a pointer found in the middle moves
// nothing.
//
// Cursors keep their frames, hot spot and animation state here. In a window
// the system's cursors are shown (or a colour cursor made from a cursor's
// current frame); in full-screen modes the picture is the library's to draw:
// each cursor owns a sprite that saves early and draws over everything,
// hidden outside full-screen modes. Position, visibility, frame and
// animation go to the sprite as they change here.
#include <tarvex/bitmap.h>
#include <tarvex/mouse.h>
#include <tarvex/screen.h>
#include <tarvex/sprite.h>

#include "gfx/screenhooks.h"
#include "platform/platform.h"

#include <cstring>
#include <vector>

namespace
{

constexpr uint32_t kTimerMs = 20;
constexpr uint32_t kDownBits = XMOUSE_LEFT | XMOUSE_RIGHT | XMOUSE_MIDDLE;

// A colour cursor of one frame: pixels equal to the bitmap's top-left pixel
// (the colour key of every blit) are transparent.
int32_t MakeColorCursor(const SMouseCursor& c, int32_t frame)
{
    const CBitmap* b = c.bitmap;
    if (b == nullptr || b->data == nullptr || frame < 0 || frame >= c.frameCount || c.width <= 0 ||
        c.height <= 0 || c.width > 1024 || c.height > 1024)
        return 0;
    TRGBA key{0, 0, 0, 0};
    b->GetPixel(0, 0, &key);
    const TPoint at = c.frames[frame];
    std::vector<uint8_t> rgba(static_cast<size_t>(c.width) * static_cast<size_t>(c.height) * 4, 0);
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            TRGBA p{0, 0, 0, 0};
            if (!b->GetPixel(at.x + x, at.y + y, &p))
                continue; // outside the bitmap: transparent
            if (p.r == key.r && p.g == key.g && p.b == key.b)
                continue;
            uint8_t* o =
                &rgba[(static_cast<size_t>(y) * static_cast<size_t>(c.width) + static_cast<size_t>(x)) * 4];
            o[0] = p.r;
            o[1] = p.g;
            o[2] = p.b;
            o[3] = 255;
        }
    return tvp::CreateColorCursor(rgba.data(), c.width, c.height, c.hotX, c.hotY);
}

} // namespace

// ---------------------------------------------------------------- CMouseBase: state

CMouseBase::~CMouseBase() { Exit(); }

int32_t CMouseBase::GetState(int32_t* px, int32_t* py, int8_t* pb)
{
    if (px != nullptr)
        *px = x;
    if (py != nullptr)
        *py = y;
    if (pb != nullptr)
        *pb = static_cast<int8_t>(buttons & 0xFF);
    return TRUE;
}

int32_t CMouseBase::GetBtnState(int32_t* state)
{
    if (state != nullptr)
        *state = static_cast<int32_t>(buttons);
    buttons &= kDownBits;
    return TRUE;
}

uint32_t CMouseBase::TakeGuiPresses()
{
    const uint32_t pressed = guiPresses;
    guiPresses = 0;
    return pressed;
}

int32_t CMouseBase::GetDelta(int32_t* dx, int32_t* dy, int8_t* pb)
{
    if (dx != nullptr)
        *dx = deltaX;
    if (dy != nullptr)
        *dy = deltaY;
    if (pb != nullptr)
        *pb = static_cast<int8_t>(buttons & 0xFF);
    deltaX = deltaY = 0;
    return TRUE;
}

void CMouseBase::SetPos(int32_t nx, int32_t ny)
{
    x = nx;
    y = ny;
    deltaX = deltaY = 0;
    PlaceCursor();
}

void CMouseBase::SetMouseAdd(int32_t ax, int32_t ay)
{
    addX = ax;
    addY = ay;
}

void CMouseBase::SetUpdateCallback(XMouseCallback cb) { callback = cb; }

void CMouseBase::IsFullScreen(int32_t on)
{
    mode = on ? (mode | XMOUSE_FULLSCREEN) : (mode & ~XMOUSE_FULLSCREEN);
}

void CMouseBase::NeedDelta(int32_t on) { mode = on ? (mode | XMOUSE_RELATIVE) : (mode & ~XMOUSE_RELATIVE); }

void CMouseBase::SetSensitivity(float s) { sensitivity = s; }

float CMouseBase::GetSensitivity() { return sensitivity; }

void CMouseBase::ShowCursor(int32_t) {}

int32_t CMouseBase::SetCursorCalled() { return setCursorCalled; }

void CMouseBase::ClearSetCursorCalled() { setCursorCalled = 0; }

int32_t CMouseBase::GetDeltaHandler(int32_t* id)
{
    if (id == nullptr)
        return FALSE;
    auto* rec = static_cast<SDeltaHandler*>(XALLOC(sizeof(SDeltaHandler)));
    if (rec == nullptr)
        return FALSE;
    *rec = SDeltaHandler{nextDeltaId, 0, 0};
    if (!deltaHandlers.InsertLast(rec)) {
        XFREE(rec);
        return FALSE;
    }
    *id = nextDeltaId++;
    return TRUE;
}

void CMouseBase::Exit()
{
    FreeAllCursors();
    deltaHandlers.KillAllData();
}

void CMouseBase::TakeButtons(uint32_t keyFlags)
{
    leftDown = (keyFlags & MK_LBUTTON) ? 1 : 0;
    rightDown = (keyFlags & MK_RBUTTON) ? 1 : 0;
    middleDown = (keyFlags & MK_MBUTTON) ? 1 : 0;
    const uint32_t now =
        (leftDown ? XMOUSE_LEFT : 0u) | (rightDown ? XMOUSE_RIGHT : 0u) | (middleDown ? XMOUSE_MIDDLE : 0u);
    const uint32_t wentDown = now & ~prevButtons & kDownBits;
    const uint32_t wentUp = prevButtons & ~now & kDownBits;
    buttons = (buttons & ~kDownBits) | now | (wentDown << 8) | (wentUp << 16);
    guiPresses |= wentDown;
    prevButtons = now;
}

void CMouseBase::PlaceCursor()
{
    if (current == nullptr)
        return;
    current->x = x - current->hotX;
    current->y = y - current->hotY;
    if (current->sprite != nullptr)
        current->sprite->SetPosition(current->x, current->y);
}

void CMouseBase::ShowSprite(SMouseCursor* c)
{
    if (c->sprite == nullptr)
        return;
    if (c->flags & XCURSOR_SHOWN)
        c->sprite->SetBaseFlag(XSPRITE_VISIBLE);
    else
        c->sprite->ClearBaseFlag(XSPRITE_VISIBLE);
}

void CMouseBase::Notify()
{
    if (callback != nullptr)
        callback(x, y, static_cast<int32_t>(buttons));
}

// ---------------------------------------------------------------- CMouseBase: cursors

SMouseCursor* CMouseBase::FindCursor(uint32_t id)
{
    for (SLListNode* n = cursors.first; n != nullptr; n = n->next)
        if (static_cast<SMouseCursor*>(n->data)->id == id)
            return static_cast<SMouseCursor*>(n->data);
    return nullptr;
}

uint32_t CMouseBase::AllocCursor(const char* file, const TPoint* frames, int32_t w, int32_t h, int16_t hotX,
                                 int16_t hotY)
{
    if (file == nullptr)
        return 0;
    CBitmap* bitmap = XNEW(CBitmap);
    if (bitmap == nullptr)
        return 0;
    // The picture is drawn by the current screen: in its pixel format.
    CScreenBase* screen = glb != nullptr ? glb->screen : nullptr;
    if (!bitmap->Load(file, 0) ||
        (screen != nullptr && screen->GetActiveMode() != nullptr && !screen->MakeScreenFormat(bitmap, 0))) {
        dprintf("Failed to convert bitmap, Mouse pointer\n");
        XDELETE(bitmap);
        return 0;
    }
    const uint32_t id = AllocCursor(bitmap, frames, w, h, hotX, hotY);
    SMouseCursor* c = id != 0 ? FindCursor(id) : nullptr;
    if (c == nullptr) {
        XDELETE(bitmap);
        return 0;
    }
    c->ownsBitmap = 1;
    return id;
}

uint32_t CMouseBase::AllocCursor(CBitmap* bitmap, const TPoint* frames, int32_t w, int32_t h, int16_t hotX,
                                 int16_t hotY)
{
    if (bitmap == nullptr || bitmap->data == nullptr)
        return 0;
    int32_t count = 0;
    if (frames != nullptr)
        while (frames[count].x != -1 && frames[count].y != -1)
            ++count;
    const int32_t stored = count > 0 ? count : 1;
    auto* c = static_cast<SMouseCursor*>(XALLOC(sizeof(SMouseCursor)));
    auto* list = static_cast<TPoint*>(XALLOC(sizeof(TPoint) * static_cast<uint32_t>(stored)));
    if (c == nullptr || list == nullptr) {
        if (c != nullptr)
            XFREE(c);
        if (list != nullptr)
            XFREE(list);
        return 0;
    }
    std::memset(c, 0, sizeof *c);
    if (count > 0)
        std::memcpy(list, frames, sizeof(TPoint) * static_cast<size_t>(count));
    else
        list[0] = TPoint{0, 0};
    c->id = nextCursorId;
    c->hotX = hotX;
    c->hotY = hotY;
    c->bitmap = bitmap;
    c->frames = list;
    c->frameCount = stored;
    c->width = w > 0 ? w : bitmap->width;
    c->height = h > 0 ? h : bitmap->height;
    // Shown only where the library draws cursors: in full-screen modes.
    c->flags = XCURSOR_SAVEEARLY | ((mode & XMOUSE_FULLSCREEN) ? XCURSOR_SHOWN : 0u);
    c->x = x - hotX;
    c->y = y - hotY;
    c->sprite = XNEW(CSprite);
    if (c->sprite == nullptr ||
        !c->sprite->Create(bitmap, count > 0 ? frames : nullptr, c->width, c->height, c->x, c->y,
                           XCURSOR_SAVEEARLY, 20, XBLT_COLORKEY) ||
        !cursors.InsertLast(c)) {
        if (c->sprite != nullptr)
            XDELETE(c->sprite);
        XFREE(list);
        XFREE(c);
        return 0;
    }
    c->frameDelay = c->sprite->frameDelay;
    ShowSprite(c);
    ++nextCursorId;
    if (current == nullptr)
        current = c;
    return c->id;
}

void CMouseBase::ReleaseCursor(SMouseCursor* c)
{
    if (current == c)
        current = nullptr;
    tvp::FreeCursor(c->colorCursor);
    if (c->sprite != nullptr)
        XDELETE(c->sprite);
    if (c->ownsBitmap && c->bitmap != nullptr)
        XDELETE(c->bitmap);
    XFREE(c->frames);
    XFREE(c);
}

int32_t CMouseBase::FreeCursor(uint32_t id)
{
    for (SLListNode* n = cursors.first; n != nullptr; n = n->next) {
        auto* c = static_cast<SMouseCursor*>(n->data);
        if (c->id == id) {
            cursors.Unlink(n);
            ReleaseCursor(c);
            return TRUE;
        }
    }
    return FALSE;
}

void CMouseBase::FreeAllCursors()
{
    while (cursors.first != nullptr) {
        auto* c = static_cast<SMouseCursor*>(cursors.first->data);
        cursors.Unlink(cursors.first);
        ReleaseCursor(c);
    }
    current = nullptr;
}

void CMouseBase::SetCursor(uint32_t id, int32_t frame)
{
    for (SLListNode* n = cursors.first; n != nullptr; n = n->next) {
        auto* c = static_cast<SMouseCursor*>(n->data);
        if (c->id != id) {
            c->flags &= ~XCURSOR_SHOWN;
            ShowSprite(c);
            continue;
        }
        c->flags |= XCURSOR_SHOWN;
        current = c;
        if (frame > 0 && frame < c->frameCount)
            c->frame = frame;
        c->animStatus = 0;
        ShowSprite(c);
        if (c->sprite != nullptr) {
            c->sprite->SetCurrentFrame(c->frame);
            c->sprite->SetAnimationStatus(XSPRITE_STOPPED);
        }
    }
    PlaceCursor();
    setCursorCalled = 1;
}

void CMouseBase::StartAnim(uint32_t id, int32_t flag, float delay)
{
    if (id != 0)
        SetCursor(id, 0);
    SMouseCursor* c = id != 0 ? FindCursor(id) : current;
    if (c == nullptr)
        return;
    if (delay != 0.0f)
        c->frameDelay = static_cast<int32_t>(delay);
    if (flag != 0)
        c->flags |= static_cast<uint32_t>(flag);
    c->animStatus = 1;
    if (c->sprite != nullptr) {
        c->sprite->SetFrameDelay(c->frameDelay);
        if (flag != 0)
            c->sprite->SetBaseFlag(static_cast<uint32_t>(flag));
        c->sprite->SetAnimationStatus(XSPRITE_FORWARD);
    }
}

void CMouseBase::StopAnim()
{
    if (current == nullptr)
        return;
    current->animStatus = 0;
    if (current->sprite != nullptr) {
        current->sprite->SetAnimationStatus(XSPRITE_STOPPED);
        current->frame = current->sprite->GetCurrentFrame();
    }
}

// ---------------------------------------------------------------- CMouse

CMouse::CMouse()
{
    for (uint32_t msg : {WM_LBUTTONUP, WM_LBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDOWN, WM_MOUSEMOVE,
                         WM_ACTIVATEAPP, WM_SETCURSOR,
                         // The middle button's own messages, and the second
                         // press of a double click, which the main window's
                         // class turns into a double-click message.
                         WM_MBUTTONDOWN, WM_MBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK})
        RegisterWinMsg(this, msg);
    LoadSystemCursors();
}

CMouse::~CMouse()
{
    Exit();
    UnRegisterWinMsgAll(this);
    tvp::FreeCursor(m_ownFinger);
    if (fingerCursor != arrowCursor)
        tvp::FreeCursor(fingerCursor);
    tvp::FreeCursor(arrowCursor);
    tvp::FreeCursor(ibeamCursor);
}

void CMouse::LoadSystemCursors()
{
    // Before the window system runs there are none yet; they are looked
    // for again when one is needed.
    if (arrowCursor == 0)
        arrowCursor = tvp::LoadSystemCursor(tvp::SystemCursor::Arrow);
    if (ibeamCursor == 0)
        ibeamCursor = tvp::LoadSystemCursor(tvp::SystemCursor::IBeam);
    if (fingerCursor == 0 || m_fingerIsArrow) {
        const int32_t hand = tvp::LoadSystemCursor(tvp::SystemCursor::Hand);
        m_fingerIsArrow = hand == 0;
        fingerCursor = hand != 0 ? hand : arrowCursor;
    }
}

int32_t CMouse::Init()
{
    if (!tvp::HasMouse())
        return FALSE;
    // The screen's active mode decides the window kind; with no screen, or
    // no mode, nothing changes.
    CScreenBase* screen = glb != nullptr ? glb->screen : nullptr;
    const SVmode* m = screen != nullptr ? screen->GetActiveMode() : nullptr;
    if (m != nullptr)
        SetWindowKind(m->windowKind);
    return TRUE;
}

void CMouse::SetWindowKind(int32_t kind)
{
    if (kind == 1) {
        IsFullScreen(0);
        RemoveTimer(kTimerMs);
        tvp::ShowCursor(true);
    } else {
        IsFullScreen(1);
        tvp::ShowCursor(false);
        RemoveTimer(kTimerMs);
        AddTimer(kTimerMs);
    }
    // In a window the library draws no cursor picture; in full-screen modes
    // SetCursor chooses the one to show.
    if (kind == 1)
        for (SLListNode* n = cursors.first; n != nullptr; n = n->next) {
            auto* c = static_cast<SMouseCursor*>(n->data);
            c->flags &= ~XCURSOR_SHOWN;
            ShowSprite(c);
        }
}

void CMouse::SetCursor(uint32_t id, int32_t frame)
{
    if (mode & XMOUSE_FULLSCREEN) {
        CMouseBase::SetCursor(id, frame);
        return;
    }
    for (SLListNode* n = cursors.first; n != nullptr; n = n->next) {
        static_cast<SMouseCursor*>(n->data)->flags &= ~XCURSOR_SHOWN;
        ShowSprite(static_cast<SMouseCursor*>(n->data));
    }
    if (arrowCursor == 0 || ibeamCursor == 0 || m_fingerIsArrow)
        LoadSystemCursors();
    int32_t handle = arrowCursor;
    SMouseCursor* c = nullptr;
    if (id == XCURSOR_IBEAM) {
        handle = ibeamCursor;
    } else if (id == XCURSOR_FINGER) {
        handle = m_ownFinger != 0 ? m_ownFinger : fingerCursor;
    } else if ((c = FindCursor(id)) != nullptr) {
        if (frame > 0 && frame < c->frameCount)
            c->frame = frame;
        if (c->colorCursor == 0 || c->colorFrame != c->frame) {
            tvp::FreeCursor(c->colorCursor);
            // -1: this frame cannot be a cursor here; not tried again.
            const int32_t made = MakeColorCursor(*c, c->frame);
            c->colorCursor = made != 0 ? made : -1;
            c->colorFrame = c->frame;
        }
        if (c->colorCursor > 0)
            handle = c->colorCursor;
    }
    // A driver without cursors keeps whatever it shows.
    if (!tvp::SetCursor(handle))
        tvp::SetCursor(arrowCursor);
    setCursorCalled = 1;
}

void CMouse::SetFingerResourceId(uint32_t id)
{
    LoadSystemCursors();
    if (!m_fingerIsArrow)
        return;
    SMouseCursor* c = FindCursor(id);
    if (c == nullptr)
        return;
    const int32_t made = MakeColorCursor(*c, c->frame);
    if (made == 0)
        return;
    tvp::FreeCursor(m_ownFinger);
    m_ownFinger = made;
}

bool CMouse::Centre(HWND hwnd, int32_t& cx, int32_t& cy)
{
    int32_t w = 0, h = 0;
    if (!tvp::GetClientSize(hwnd, w, h))
        return false;
    cx = w / 2;
    cy = h / 2;
    return true;
}

void CMouse::TakePointer(HWND hwnd, int32_t px, int32_t py)
{
    int32_t cx = 0, cy = 0;
    if ((mode & XMOUSE_RELATIVE) && Centre(hwnd, cx, cy)) {
        if (px != cx || py != cy) {
            x += px - cx;
            y += py - cy;
            deltaX += px - cx;
            deltaY += py - cy;
            tvp::WarpMouse(hwnd, cx, cy);
        }
    } else {
        x = px - addX;
        y = py - addY;
    }
    PlaceCursor();
}

int32_t CMouse::WinMsgHandler(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    switch (msg) {
    case WM_ACTIVATEAPP: {
        int32_t cx = 0, cy = 0;
        if (wParam != 0 && (mode & (XMOUSE_RELATIVE | XMOUSE_FULLSCREEN)) && Centre(hwnd, cx, cy))
            tvp::WarpMouse(hwnd, cx, cy);
        return 0;
    }
    case WM_MOUSEMOVE:
        // The first move only tells where the pointer was when we started.
        if (!m_seenMove) {
            m_seenMove = true;
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
        break;
    default:
        return 0;
    }
    TakePointer(hwnd, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    TakeButtons(wParam);
    Notify();
    return 0;
}

void CMouse::TimerHandler(uint32_t)
{
    // In relative mode the messages move the mouse; reading the pointer here
    // as well would count the same motion twice.
    HWND hwnd = sglb != nullptr ? sglb->mainWindow : nullptr;
    int32_t px = 0, py = 0;
    if (!(mode & XMOUSE_RELATIVE) && tvp::GetMousePos(hwnd, px, py))
        TakePointer(hwnd, px, py);
    Notify();
}

namespace
{
// The screens reach the mouse through these: where the picture sits in the
// window, and the mode it shows.
void ScreenMouseAdd(int32_t x, int32_t y)
{
    if (glb != nullptr && glb->mouse != nullptr)
        glb->mouse->SetMouseAdd(x, y);
}

void ScreenModeChanged()
{
    if (glb != nullptr && glb->mouse != nullptr)
        glb->mouse->Init();
}

void ScreenWindowKind(int32_t kind)
{
    if (glb != nullptr && glb->mouse != nullptr)
        glb->mouse->SetWindowKind(kind);
}

[[maybe_unused]] const bool kScreenHooksFilled = [] {
    g_screenInputHooks.setMouseAdd = ScreenMouseAdd;
    g_screenInputHooks.followMode = ScreenModeChanged;
    g_screenInputHooks.setWindowKind = ScreenWindowKind;
    return true;
}();
} // namespace
