// SDL's own log lines. SDL writes them to standard error by default, where
// they cut into whatever a program prints on its terminal; routed here they
// go where the library's debug trace goes, one line at a time. SDL's log
// output is one setting for the whole process, so the sound back end's SDL
// (the same shared library) is routed too.
#include "platform.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace tvp
{

namespace
{

// SDL may log from its audio thread: the sink is read atomically.
std::atomic<void (*)(const char*)> g_sink{nullptr};
SDL_LogOutputFunction g_previous = nullptr;
void* g_previousData = nullptr;
bool g_routed = false;

const char* PriorityName(SDL_LogPriority p)
{
    switch (p) {
    case SDL_LOG_PRIORITY_VERBOSE:
        return "VERBOSE";
    case SDL_LOG_PRIORITY_DEBUG:
        return "DEBUG";
    case SDL_LOG_PRIORITY_INFO:
        return "INFO";
    case SDL_LOG_PRIORITY_WARN:
        return "WARN";
    case SDL_LOG_PRIORITY_ERROR:
        return "ERROR";
    case SDL_LOG_PRIORITY_CRITICAL:
        return "CRITICAL";
    default:
        return "LOG";
    }
}

void ToSink(void*, int, SDL_LogPriority priority, const char* message)
{
    auto* sink = g_sink.load();
    if (sink == nullptr || message == nullptr)
        return;
    char line[1024];
    int n = std::snprintf(line, sizeof line, "SDL %s: %s", PriorityName(priority), message);
    // SDL's messages may end in their own line break.
    size_t end = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof line - 1);
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r'))
        line[--end] = 0;
    sink(line);
}

} // namespace

void RouteSdlLog(void (*sink)(const char* line))
{
    if (sink != nullptr) {
        if (!g_routed) {
            SDL_LogGetOutputFunction(&g_previous, &g_previousData);
            SDL_LogSetOutputFunction(ToSink, nullptr);
            g_routed = true;
        }
        g_sink.store(sink);
        return;
    }
    g_sink.store(nullptr);
    if (g_routed) {
        SDL_LogSetOutputFunction(g_previous, g_previousData);
        g_routed = false;
    }
}

} // namespace tvp
