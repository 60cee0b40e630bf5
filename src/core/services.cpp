// Small services beside the frame: time and dates, random numbers, unique
// identifiers, global flags, process and priority.
#include <tarvex/frame.h>

#include "platform/platform.h"

#include <cmath>
#include <cstdio>

// ---------------------------------------------------------------- time

uint32_t xGetTime() { return tvp::Tick(); }
void xSleep(uint32_t ms) { tvp::Sleep(ms); }

uint32_t xTimeDiff(uint32_t from, uint32_t to)
{
    if (to >= from)
        return to - from;
    return to - from - 1; // the counter wrapped
}

char* xGetDateString()
{
    auto* s = static_cast<char*>(XALLOC(128));
    if (s == nullptr)
        return nullptr;
    std::tm t{};
    if (!tvp::LocalTime(t) || std::strftime(s, 128, "%Y-%m-%d", &t) == 0)
        s[0] = 0;
    return s;
}

int32_t xGetDateInfo(int32_t& sec, int32_t& min, int32_t& hour, int32_t& mday, int32_t& mon, int32_t& year,
                     int32_t& wday, int32_t& yday, int32_t& isdst)
{
    std::tm t{};
    if (!tvp::LocalTime(t))
        return FALSE;
    sec = t.tm_sec;
    min = t.tm_min;
    hour = t.tm_hour;
    mday = t.tm_mday;
    mon = t.tm_mon;
    year = t.tm_year;
    wday = t.tm_wday;
    yday = t.tm_yday;
    isdst = t.tm_isdst;
    return TRUE;
}

// ---------------------------------------------------------------- random numbers

namespace
{
thread_local uint32_t g_randState = 1;
}

void xSeedRandomizer(int32_t seed) { g_randState = static_cast<uint32_t>(seed); }

uint32_t xSysRand()
{
    g_randState = g_randState * 214013u + 2531011u;
    return (g_randState >> 16) & 0x7FFFu;
}

uint32_t xRand32()
{
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i)
        r |= (xSysRand() & 0xFFu) << (8 * i);
    return r;
}

uint32_t xRand(uint32_t n)
{
    if (n == 0)
        return 0;
    const double limit = std::floor(4294967295.0 / n) * n;
    uint32_t v;
    do {
        v = xRand32();
    } while (static_cast<double>(v) > limit);
    return v % n;
}

void xGetUID(uint32_t& a, uint32_t& b, uint32_t& c)
{
    if (glb != nullptr) {
        if (++glb->uidCounter == 0)
            glb->uidCounter = 1;
        a = glb->uidCounter;
    } else {
        a = xRand(32768);
        if (a == 0)
            a = 1;
    }
    b = tvp::ProcessId();
    uint32_t r1 = xRand(32768);
    uint32_t r2 = xRand(32768);
    c = ((r1 + r2) << 10) + xRand(32768);
}

// ---------------------------------------------------------------- global flags

namespace
{
// Checks the index; reports with the operation's own name.
bool ValidVar(int32_t i, const char* op)
{
    char text[80];
    if (glb == nullptr) {
        std::snprintf(text, sizeof text, "%s: glb->globalVars is NULL.", op);
        xErrorf("%s", text);
        return false;
    }
    if (i < 1 || i >= XGLOBAL_VARS) {
        std::snprintf(text, sizeof text, "%s: Index is invalid (should be 1-4095)", op);
        xErrorf("%s", text);
        return false;
    }
    return true;
}
} // namespace

int32_t GlobalVar_IsFalse(int32_t i)
{
    if (!ValidVar(i, "GlobalVar_IsFalse"))
        return FALSE;
    return glb->globalVars[i] == 0 ? TRUE : FALSE;
}

int32_t GlobalVar_IsTrue(int32_t i)
{
    if (!ValidVar(i, "GlobalVar_IsTrue"))
        return FALSE;
    return glb->globalVars[i] != 0 ? TRUE : FALSE;
}

void GlobalVar_SetFalse(int32_t i)
{
    if (ValidVar(i, "GlobalVar_SetFalse"))
        glb->globalVars[i] = 0;
}

void GlobalVar_SetTrue(int32_t i)
{
    if (ValidVar(i, "GlobalVar_SetTrue"))
        glb->globalVars[i] = 1;
}

// ---------------------------------------------------------------- process and priority

uint32_t xGetProcessId() { return tvp::ProcessId(); }

int32_t TryCreateNewProcess(int32_t& a, int32_t& b)
{
    a = 1;
    b = 0;
    return TRUE;
}

int32_t xGetPriority(int32_t& p)
{
    p = 50;
    return TRUE;
}

int32_t xSetPriority(int32_t) { return TRUE; }

namespace
{
int32_t ChangePriority(int32_t d)
{
    int32_t p = 0;
    if (!xGetPriority(p))
        return xErrorTxt_Func("xIncPriority: xGetPriority failed.", nullptr, 0);
    p += d;
    if (p > 100)
        p = 100;
    if (p < 0)
        p = 0;
    if (!xSetPriority(p))
        return xErrorTxt_Func("xIncPriority: xSetPriority failed.", nullptr, 0);
    return TRUE;
}
} // namespace

int32_t xIncPriority(int32_t d) { return ChangePriority(d); }
int32_t xDecPriority(int32_t d) { return ChangePriority(-d); }
