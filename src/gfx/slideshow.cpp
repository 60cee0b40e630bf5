// Slide shows: the slide and effect lists, moving between slides, the timer
// that waits a random time per slide and steps the transitions, and the two
// transitions (a cut and a cross-fade computed per pixel through TRGBA, so
// every bitmap layout fades the same way).
#include <tarvex/error.h>
#include <tarvex/memory.h>
#include <tarvex/slideshow.h>

#include <cstdlib>

namespace
{
constexpr uint32_t kDefaultTick = 10; // ms between timer calls when Start() names none
}

CSlideShow::~CSlideShow()
{
    RemoveAllTimers();
    RemoveAll();
}

void CSlideShow::RemoveAll()
{
    for (int16_t ok = slides.First(); ok; ok = slides.Next())
        XFREE(slides.Get());
    slides.KillAll();
    for (int16_t ok = effects.First(); ok; ok = effects.Next())
        XFREE(effects.Get());
    effects.KillAll();
    current = previous = next = -1;
}

int32_t CSlideShow::CreateEmpty(CBitmap* to, int32_t x, int32_t y, int32_t suspend)
{
    Stop();
    RemoveAll();
    target = to;
    posX = x;
    posY = y;
    suspended = suspend != 0 ? 1 : 0;
    return TRUE;
}

int32_t CSlideShow::AddEffect(const TEFFECTDATA& effect)
{
    auto* e = static_cast<TEFFECTDATA*>(XALLOC(sizeof(TEFFECTDATA)));
    if (e == nullptr)
        return -1;
    *e = effect;
    if (!effects.InsertLast(e)) {
        XFREE(e);
        return -1;
    }
    AssignEffect();
    return effects.GetNumNodes() - 1;
}

TEFFECTDATA* CSlideShow::GetEffect(int32_t n)
{
    if (n < 0 || n >= effects.GetNumNodes())
        return nullptr;
    return static_cast<TEFFECTDATA*>(effects.Get(static_cast<uint32_t>(n)));
}

void CSlideShow::AssignEffect()
{
    for (int16_t ok = slides.First(); ok; ok = slides.Next()) {
        auto* s = static_cast<TSLIDE*>(slides.Get());
        s->effect = GetEffect(s->effectIndex);
    }
}

int32_t CSlideShow::AddEntry(uint32_t value1, uint32_t value2, uint32_t minTime, uint32_t maxTime,
                             CBitmap* bitmap, int32_t effectIndex)
{
    auto* s = static_cast<TSLIDE*>(XALLOC(sizeof(TSLIDE)));
    if (s == nullptr)
        return xErrorf("CSlideShow::AddEntry(): Unable to create data object.");
    *s = TSLIDE{1, value1, value2, bitmap, minTime, maxTime, effectIndex, nullptr};
    if (!slides.InsertLast(s)) {
        XFREE(s);
        return xErrorf("CSlideShow::AddEntry(): Unable to create data object.");
    }
    AssignEffect();
    const int32_t count = slides.GetNumNodes();
    if (current < 0)
        current = 0;
    next = (current + 1) % count;
    return TRUE;
}

TSLIDE* CSlideShow::Slide(int32_t n)
{
    if (n < 0 || n >= slides.GetNumNodes())
        return nullptr;
    return static_cast<TSLIDE*>(slides.Get(static_cast<uint32_t>(n)));
}

CBitmap* CSlideShow::GetEntryBitmap(int32_t n)
{
    TSLIDE* s = Slide(n);
    return s != nullptr ? s->bitmap : nullptr;
}

int32_t CSlideShow::RemovePicture(int32_t n)
{
    TSLIDE* s = Slide(n);
    if (s == nullptr)
        return FALSE;
    slides.DeleteItem(s);
    XFREE(s);
    const int32_t count = slides.GetNumNodes();
    if (count == 0) {
        Stop();
        current = previous = next = -1;
        return TRUE;
    }
    if (current > n || current >= count)
        current = current > n ? current - 1 : 0;
    previous = -1;
    next = (current + 1) % count;
    if (state == XSLIDE_TRANSITION) {
        state = XSLIDE_SHOWING;
        Draw(current);
        BeginSlide();
    }
    return TRUE;
}

int32_t CSlideShow::RemoveCurrentEntry(int32_t) { return RemovePicture(current); }

int32_t CSlideShow::Start() { return Start(timerInterval != 0 ? timerInterval : kDefaultTick); }

int32_t CSlideShow::Start(uint32_t interval)
{
    if (current < 0 || suspended)
        return FALSE;
    RemoveAllTimers();
    timerInterval = interval != 0 ? interval : 1;
    hidden = 0;
    state = XSLIDE_SHOWING;
    if (!AddTimer(timerInterval)) {
        state = XSLIDE_STOPPED;
        return FALSE;
    }
    Draw(current);
    BeginSlide();
    return TRUE;
}

void CSlideShow::Stop()
{
    RemoveAllTimers();
    state = XSLIDE_STOPPED;
    const int32_t count = slides.GetNumNodes();
    if (count > 0) {
        current = 0;
        next = count > 1 ? 1 : 0;
    }
}

void CSlideShow::StopAndHide()
{
    Stop();
    hidden = 1;
}

void CSlideShow::BeginSlide()
{
    elapsed = 0;
    step = 0;
    TSLIDE* s = Slide(current);
    dwell = s != nullptr ? RandomLong(s->minTime, s->maxTime) : 0;
    if (dwell == 0)
        dwell = defaultInterval;
    if (state == XSLIDE_TRANSITION)
        state = XSLIDE_SHOWING;
}

void CSlideShow::MoveTo(int32_t n)
{
    const int32_t count = slides.GetNumNodes();
    previous = current;
    current = n;
    next = (n + 1) % count;
    Draw(current);
    BeginSlide();
}

int32_t CSlideShow::Next()
{
    const int32_t count = slides.GetNumNodes();
    if (count == 0)
        return FALSE;
    MoveTo((current + 1) % count);
    return TRUE;
}

int32_t CSlideShow::Prev()
{
    const int32_t count = slides.GetNumNodes();
    if (count == 0)
        return FALSE;
    MoveTo((current + count - 1) % count);
    return TRUE;
}

int32_t CSlideShow::Goto(int32_t n)
{
    if (n < 0 || n >= slides.GetNumNodes())
        return FALSE;
    MoveTo(n);
    return TRUE;
}

void CSlideShow::Exchange()
{
    if (state == XSLIDE_TRANSITION)
        MoveTo(next);
    else if (current >= 0)
        Draw(current);
}

uint32_t CSlideShow::RandomLong(uint32_t min, uint32_t max)
{
    if (max < min) {
        const uint32_t t = min;
        min = max;
        max = t;
    }
    if (min == max)
        return min;
    const uint64_t r = static_cast<uint64_t>(std::rand() & 0x7FFF);
    return min + static_cast<uint32_t>(r * (max - min) / 32767u);
}

void CSlideShow::TimerHandler(uint32_t interval)
{
    if (state == XSLIDE_STOPPED || slides.GetNumNodes() == 0)
        return;
    elapsed += interval;
    if (state == XSLIDE_SHOWING) {
        if (elapsed < dwell)
            return;
        TSLIDE* to = Slide(next);
        const TEFFECTDATA* e = to != nullptr ? to->effect : nullptr;
        if (e == nullptr || e->kind == XEFFECT_CUT || e->steps <= 1) {
            MoveTo(next);
            return;
        }
        state = XSLIDE_TRANSITION;
        elapsed = 0;
        step = 0;
        return;
    }
    // Transition: one step per step time (every call when it is 0).
    TSLIDE* to = Slide(next);
    const TEFFECTDATA* e = to != nullptr ? to->effect : nullptr;
    if (e == nullptr) {
        MoveTo(next);
        return;
    }
    if (elapsed < e->stepTime)
        return;
    elapsed = 0;
    ++step;
    if (step >= e->steps)
        MoveTo(next);
    else
        Blend(current, next, step, e->steps);
}

void CSlideShow::Draw(int32_t n)
{
    TSLIDE* s = Slide(n);
    if (target == nullptr || hidden || s == nullptr || s->bitmap == nullptr)
        return;
    target->Blt(s->bitmap, 0, 0, posX, posY, s->bitmap->width, s->bitmap->height, 0, 0, 0);
}

void CSlideShow::Blend(int32_t from, int32_t to, int32_t num, int32_t den)
{
    TSLIDE* a = Slide(from);
    TSLIDE* b = Slide(to);
    if (target == nullptr || hidden || a == nullptr || b == nullptr || a->bitmap == nullptr ||
        b->bitmap == nullptr || den <= 0)
        return;
    // Where the new picture lies over the target; beyond the old picture
    // the fade starts from what the target holds.
    for (int32_t y = 0; y < b->bitmap->height; ++y) {
        for (int32_t x = 0; x < b->bitmap->width; ++x) {
            TRGBA pb;
            TRGBA pa;
            if (!b->bitmap->GetPixel(x, y, &pb))
                continue;
            if (!a->bitmap->GetPixel(x, y, &pa) && !target->GetPixel(posX + x, posY + y, &pa))
                continue;
            auto mix = [num, den](uint8_t p, uint8_t q) {
                return static_cast<uint8_t>(p + (static_cast<int32_t>(q) - p) * num / den);
            };
            TRGBA out(mix(pa.r, pb.r), mix(pa.g, pb.g), mix(pa.b, pb.b), mix(pa.a, pb.a));
            target->PutPixel(posX + x, posY + y, &out);
        }
    }
}
