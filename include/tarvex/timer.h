// Timers: objects called back at a fixed interval from the frame. Whole
// periods fire; the fraction carries to the next frame. Additions and
// removals made while timers run are staged and applied between passes.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

class TARVEX_API CTimer
{
  public:
    CTimer() = default;
    CTimer(const CTimer&) {}
    CTimer& operator=(const CTimer&) { return *this; }
    virtual void TimerHandler(uint32_t interval);
    virtual ~CTimer(); // removes every timer of the object

    int32_t AddTimer(uint32_t interval);
    void RemoveTimer(uint32_t interval);
    void RemoveAllTimers();
};

struct TARVEX_API STimerEntry {
    CTimer* object; // null marks an entry removed during a pass
    uint32_t interval;
    float remainder;
    uint32_t last;
    uint32_t now;
};

struct TARVEX_API SPendingTimer {
    CTimer* object;
    uint32_t interval;
};

struct TARVEX_API TDate {
    uint16_t second;
    uint16_t minute;
    uint16_t hour;
    uint16_t day;     // day of month
    uint16_t month;   // 1-12
    uint16_t year;    // four digits
    uint16_t weekday; // 0 Sunday .. 6 Saturday
    uint16_t yearDay; // 0-365
};

// FALSE for an interval of 0 (not a valid period) or when out of memory.
TARVEX_API int32_t xAddTimer(CTimer* obj, uint32_t interval);
TARVEX_API void xRemoveTimer(CTimer* obj, uint32_t interval);
TARVEX_API void xRemoveTimerAll(CTimer* obj);
TARVEX_API void xUpdateObjTimers();
TARVEX_API void ValidateTimerList();
TARVEX_API void xRemoveNotActiveTimers();
TARVEX_API void xAddPendingTimers();
TARVEX_API void GetCurrentDate(TDate* date);
