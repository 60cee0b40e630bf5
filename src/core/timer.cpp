// Timers. Active entries are visited once per frame; each fires once per
// whole period elapsed, and the fraction carries over as a 32-bit float.
// Removal during a pass only marks an entry (its object set to null), so
// the walk stays valid; marked entries are dropped between passes.
#include <tarvex/frame.h>
#include <tarvex/timer.h>

#include "platform/platform.h"

void CTimer::TimerHandler(uint32_t) {}
CTimer::~CTimer() { xRemoveTimerAll(this); }
int32_t CTimer::AddTimer(uint32_t interval) { return xAddTimer(this, interval); }
void CTimer::RemoveTimer(uint32_t interval) { xRemoveTimer(this, interval); }
void CTimer::RemoveAllTimers() { xRemoveTimerAll(this); }

void ValidateTimerList()
{
    if (glb == nullptr)
        return;
    if (glb->activeTimers == nullptr)
        glb->activeTimers = XNEW(CLList);
    if (glb->pendingTimers == nullptr)
        glb->pendingTimers = XNEW(CLList);
}

int32_t xAddTimer(CTimer* obj, uint32_t interval)
{
    if (obj == nullptr || interval == 0)
        return FALSE;
    ValidateTimerList();
    if (glb == nullptr || glb->activeTimers == nullptr || glb->pendingTimers == nullptr)
        return FALSE;
    for (SLListNode* n = glb->pendingTimers->first; n != nullptr; n = n->next) {
        auto* p = static_cast<SPendingTimer*>(n->data);
        if (p->object == obj && p->interval == interval)
            return TRUE;
    }
    for (SLListNode* n = glb->activeTimers->first; n != nullptr; n = n->next) {
        auto* a = static_cast<STimerEntry*>(n->data);
        if (a->object == obj && a->interval == interval)
            return TRUE;
    }
    auto* p = static_cast<SPendingTimer*>(XALLOC(sizeof(SPendingTimer)));
    if (p == nullptr)
        return FALSE;
    *p = {obj, interval};
    if (!glb->pendingTimers->InsertLast(p)) {
        XFREE(p);
        return FALSE;
    }
    return TRUE;
}

namespace
{
template <class Pred> void Remove(CTimer* obj, Pred matches, bool firstActiveOnly)
{
    if (glb == nullptr || obj == nullptr)
        return;
    if (CLList* active = glb->activeTimers)
        for (SLListNode* n = active->first; n != nullptr; n = n->next) {
            auto* a = static_cast<STimerEntry*>(n->data);
            if (a->object == obj && matches(a->interval)) {
                a->object = nullptr;
                if (firstActiveOnly)
                    break;
            }
        }
    if (CLList* pending = glb->pendingTimers)
        for (SLListNode* n = pending->first; n != nullptr;) {
            SLListNode* next = n->next;
            auto* p = static_cast<SPendingTimer*>(n->data);
            if (p->object == obj && matches(p->interval)) {
                pending->Unlink(n);
                XFREE(p);
            }
            n = next;
        }
}
} // namespace

void xRemoveTimer(CTimer* obj, uint32_t interval)
{
    Remove(
        obj, [&](uint32_t i) { return i == interval; }, true);
}

void xRemoveTimerAll(CTimer* obj)
{
    Remove(
        obj, [](uint32_t) { return true; }, false);
}

void xRemoveNotActiveTimers()
{
    if (glb == nullptr || glb->activeTimers == nullptr)
        return;
    CLList* active = glb->activeTimers;
    for (SLListNode* n = active->first; n != nullptr;) {
        SLListNode* next = n->next;
        auto* a = static_cast<STimerEntry*>(n->data);
        if (a->object == nullptr) {
            active->Unlink(n);
            XFREE(a);
        }
        n = next;
    }
}

void xAddPendingTimers()
{
    if (glb == nullptr || glb->activeTimers == nullptr || glb->pendingTimers == nullptr)
        return;
    CLList* pending = glb->pendingTimers;
    for (SLListNode* n = pending->first; n != nullptr;) {
        SLListNode* next = n->next;
        auto* p = static_cast<SPendingTimer*>(n->data);
        auto* a = static_cast<STimerEntry*>(XALLOC(sizeof(STimerEntry)));
        if (a != nullptr) {
            *a = {p->object, p->interval, 0.0f, 0, 0};
            if (glb->activeTimers->InsertLast(a)) {
                pending->Unlink(n);
                XFREE(p);
            } else {
                XFREE(a);
            }
        }
        n = next;
    }
}

void xUpdateObjTimers()
{
    ValidateTimerList();
    if (glb == nullptr || glb->activeTimers == nullptr)
        return;
    xRemoveNotActiveTimers();
    xAddPendingTimers();
    // Entries are only marked (never unlinked) during the walk, and new
    // timers go to the pending list, so the node chain stays valid.
    for (SLListNode* n = glb->activeTimers->first; n != nullptr; n = n->next) {
        auto* a = static_cast<STimerEntry*>(n->data);
        if (a->object == nullptr)
            continue;
        uint32_t now = xGetTime();
        a->now = now;
        if (a->last == 0) {
            a->last = now;
            a->remainder = 0.0f;
        }
        uint32_t elapsed = now - a->last;
        a->last = now;
        double t = static_cast<double>(elapsed) + static_cast<double>(a->remainder);
        auto fires = static_cast<uint32_t>(t / a->interval);
        a->remainder = static_cast<float>(t - static_cast<double>(fires) * a->interval);
        for (uint32_t i = 0; i < fires && a->object != nullptr; ++i)
            a->object->TimerHandler(a->interval);
    }
    xRemoveNotActiveTimers();
    xAddPendingTimers();
}

void GetCurrentDate(TDate* date)
{
    if (date == nullptr)
        return;
    std::tm t{};
    if (!tvp::LocalTime(t))
        return;
    date->second = static_cast<uint16_t>(t.tm_sec);
    date->minute = static_cast<uint16_t>(t.tm_min);
    date->hour = static_cast<uint16_t>(t.tm_hour);
    date->day = static_cast<uint16_t>(t.tm_mday);
    date->month = static_cast<uint16_t>(t.tm_mon + 1);
    date->year = static_cast<uint16_t>(t.tm_year + 1900);
    date->weekday = static_cast<uint16_t>(t.tm_wday);
    date->yearDay = static_cast<uint16_t>(t.tm_yday);
}
