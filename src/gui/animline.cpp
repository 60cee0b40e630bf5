// Animation lines of a control: named sequences of steps, each a picture
// travelling along a straight line inside the control, driven by a timer
// object of their own at a fixed tick. Kept apart from the state-bound frame
// animations of control.cpp, whose timers are keyed by their frame delay: a
// line timer sharing that key would advance both on every tick of either.
#include <tarvex/control.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/window.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace
{

// Ticks a step lasts: one per pixel along the longer axis, end included.
int32_t StepTicks(const TAnimLineStep* s)
{
    int64_t dx = std::llabs(static_cast<int64_t>(s->x1) - s->x0);
    int64_t dy = std::llabs(static_cast<int64_t>(s->y1) - s->y0);
    int64_t n = (dx > dy ? dx : dy) + 1;
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

void PlaceAt(TAnimLine* l, const TAnimLineStep* s)
{
    int32_t span = StepTicks(s) - 1;
    if (span == 0) {
        l->px = s->x0;
        l->py = s->y0;
        return;
    }
    l->px = static_cast<int32_t>(s->x0 + (static_cast<int64_t>(s->x1) - s->x0) * l->tick / span);
    l->py = static_cast<int32_t>(s->y0 + (static_cast<int64_t>(s->y1) - s->y0) * l->tick / span);
}

void Rewind(TAnimLine* l)
{
    l->steps.First();
    l->tick = 0;
    l->animMs = 0;
    if (auto* s = static_cast<TAnimLineStep*>(l->steps.Get()))
        PlaceAt(l, s);
}

bool NameFits(const char* n) { return n != nullptr && n[0] != 0 && std::strlen(n) <= 31; }

} // namespace

void CAnimLineTicker::TimerHandler(uint32_t interval)
{
    if (interval == XANIMLINE_TICK && owner != nullptr)
        owner->AnimLineHandlerAll();
}

int32_t CControlBase::SetAnimLine_InsertNewAnimLine(CLList* lines, char* name)
{
    if (lines == nullptr || !NameFits(name))
        return 0;
    auto* l = XNEW(TAnimLine);
    if (l == nullptr)
        return 0;
    std::strcpy(l->name, name);
    l->state = 0;
    l->tick = 0;
    l->animMs = 0;
    l->px = l->py = 0;
    if (!lines->InsertLast(l)) {
        XDELETE(l);
        return 0;
    }
    return 1;
}

int32_t CControlBase::SetAnimLine(int32_t forState, char* line, int32_t x0, int32_t y0, TCntrlAnim* anim,
                                  int32_t x1, int32_t y1, char* object, CBitmap* normal, CBitmap* pressed,
                                  CBitmap* highlight, CBitmap* disabled)
{
    if (!NameFits(line) || (object != nullptr && std::strlen(object) > 31))
        return 0;
    // A frame delay below 1 ms would never let the frame move on.
    if (anim != nullptr && anim->interval < 1)
        return 0;
    TAnimLine* l = nullptr;
    for (SLListNode* n = animLines.first; n != nullptr; n = n->next) {
        auto* c = static_cast<TAnimLine*>(n->data);
        if (c->state == forState && strcasecmp(c->name, line) == 0) {
            l = c;
            break;
        }
    }
    if (l == nullptr) {
        if (!SetAnimLine_InsertNewAnimLine(&animLines, line))
            return 0;
        l = static_cast<TAnimLine*>(animLines.last->data);
        l->state = forState;
    }
    auto* s = XNEW(TAnimLineStep);
    if (s == nullptr)
        return 0;
    std::memset(s, 0, sizeof *s);
    if (object != nullptr)
        std::strcpy(s->name, object);
    s->x0 = x0;
    s->y0 = y0;
    s->x1 = x1;
    s->y1 = y1;
    s->anim = anim;
    s->bitmaps[0] = normal;
    s->bitmaps[1] = pressed;
    s->bitmaps[2] = highlight;
    s->bitmaps[3] = disabled;
    if (!l->steps.InsertLast(s)) {
        XDELETE(s);
        return 0;
    }
    if (l->steps.GetNumNodes() == 1)
        Rewind(l);
    if (!animLineTicker.AddTimer(XANIMLINE_TICK))
        return 0;
    Validate();
    return 1;
}

int32_t CControlBase::AnimLineHandler(TAnimLine* l)
{
    if (l == nullptr || l->steps.GetNumNodes() == 0)
        return 0;
    if (!l->steps.Exists())
        Rewind(l);
    auto* s = static_cast<TAnimLineStep*>(l->steps.Get());
    int32_t oldX = l->px, oldY = l->py;
    CBitmap* oldPic = nullptr;
    if (s->anim != nullptr && s->anim->frames.GetNumNodes() > 0)
        oldPic = static_cast<CBitmap*>(
            s->anim->frames.Get((l->animMs / s->anim->interval) % s->anim->frames.GetNumNodes()));
    if (l->tick + 1 < StepTicks(s)) {
        ++l->tick;
        l->animMs += XANIMLINE_TICK;
    } else {
        // The step is done: the next one starts from its own beginning.
        l->steps.Next();
        if (!l->steps.Exists())
            l->steps.First();
        s = static_cast<TAnimLineStep*>(l->steps.Get());
        l->tick = 0;
        l->animMs = 0;
    }
    PlaceAt(l, s);
    CBitmap* pic = nullptr;
    if (s->anim != nullptr && s->anim->frames.GetNumNodes() > 0)
        pic = static_cast<CBitmap*>(
            s->anim->frames.Get((l->animMs / s->anim->interval) % s->anim->frames.GetNumNodes()));
    return oldX != l->px || oldY != l->py || oldPic != pic ? 1 : 0;
}

int32_t CControlBase::AnimLineHandlerAll()
{
    if (parent != nullptr && parent->IsHidden())
        return 0;
    int32_t changed = 0;
    for (SLListNode* n = animLines.first; n != nullptr; n = n->next) {
        auto* l = static_cast<TAnimLine*>(n->data);
        if (l->state != 0 && l->state != state) {
            if (l->tick != 0 || l->animMs != 0 || l->steps.current != l->steps.first)
                Rewind(l);
            continue;
        }
        changed |= AnimLineHandler(l);
    }
    if (changed)
        Validate();
    return changed;
}

int32_t CControlBase::DrawAnimLines(int32_t wx, int32_t wy)
{
    CScreenBase* scr = glb != nullptr ? glb->screen : nullptr;
    if (scr == nullptr || animLines.GetNumNodes() == 0 || width <= 0 || height <= 0)
        return 0;
    int32_t drawn = 0;
    const int32_t ax = wx + x, ay = wy + y;
    scr->PushClip();
    scr->SetSubClip(ax, ay, ax + width - 1, ay + height - 1);
    for (SLListNode* n = animLines.first; n != nullptr; n = n->next) {
        auto* l = static_cast<TAnimLine*>(n->data);
        auto* s = static_cast<TAnimLineStep*>(l->steps.Get());
        if (s == nullptr || (l->state != 0 && l->state != state))
            continue;
        CBitmap* b = nullptr;
        int32_t how = (flags & CNTRL_BMTRANS) != 0 ? XBLT_COLORKEY : 0;
        if (s->anim != nullptr && s->anim->frames.GetNumNodes() > 0) {
            b = static_cast<CBitmap*>(
                s->anim->frames.Get((l->animMs / s->anim->interval) % s->anim->frames.GetNumNodes()));
            if (s->anim->transparent)
                how = XBLT_COLORKEY;
        } else {
            b = s->bitmaps[StateIndex(state)] != nullptr ? s->bitmaps[StateIndex(state)] : s->bitmaps[0];
        }
        if (b == nullptr)
            continue; // a wait
        scr->DrawBitmapScreenGui(b, 0, 0, ax + l->px, ay + l->py, b->width, b->height, how, 0);
        drawn = 1;
    }
    scr->PopClip();
    return drawn;
}

void CControlBase::FreeAnimLines()
{
    animLineTicker.RemoveAllTimers();
    for (SLListNode* n = animLines.first; n != nullptr; n = n->next) {
        auto* l = static_cast<TAnimLine*>(n->data);
        for (SLListNode* m = l->steps.first; m != nullptr; m = m->next)
            XDELETE(static_cast<TAnimLineStep*>(m->data));
        l->steps.KillAll();
        XDELETE(l);
    }
    animLines.KillAll();
}
