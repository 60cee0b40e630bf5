// The main tarvex demonstration: starts the library as an application does,
// runs paced frames for about two seconds and reports what the frame did.
#include <tarvex/tarvex.h>

#include <cstdio>
#include <string>

namespace
{

// The tracker writes its leak list through the trace channel when it is
// released; collect it.
std::string g_trace;
void CollectTrace(char* text) { g_trace += text; }

// Counts timer calls to show the frame's timers at work.
class Heartbeat : public CTimer
{
  public:
    uint32_t beats = 0;
    void TimerHandler(uint32_t) override { ++beats; }
};

} // namespace

int main(int argc, char** argv)
{
    static SGlobals globals;
    static SSysGlobals sysGlobals;
    glb = &globals;
    sglb = &sysGlobals;
    ThisInstance = nullptr;

    SetApplicationName("tarvex demo");
    if (!xCreateGlobals() || !xInit(argc, argv)) {
        char text[2048];
        glb->error.CreateErrorString(text, sizeof text);
        std::fprintf(stderr, "start-up failed: %s\n", text);
        return 1;
    }

    SetMinimumFrameTime(16); // about 60 frames a second
    SetUpdateTime(10);       // logic runs at 100 ticks a second

    int32_t frames = 0, ticks = 0, minTicks = 1 << 30, maxTicks = 0;
    uint32_t beats = 0;
    {
        Heartbeat heartbeat;
        heartbeat.AddTimer(100);
        const uint32_t start = xGetTime();
        while (xTimeDiff(start, xGetTime()) < 2000 && !xDoUserWantToQuit()) {
            if (xHandler() != 0)
                break;
            ++frames;
            ticks += glb->updateTicks;
            if (glb->updateTicks < minTicks)
                minTicks = glb->updateTicks;
            if (glb->updateTicks > maxTicks)
                maxTicks = glb->updateTicks;
        }
        beats = heartbeat.beats;
    }

    std::printf("tarvex demo: %d frames, %d update ticks (%.2f per frame, min %d, max %d), %u timer calls\n",
                frames, ticks, frames ? static_cast<double>(ticks) / frames : 0.0, minTicks, maxTicks, beats);

    xExit();
    xSetDprintfOutput(CollectTrace);
    xFreeGlobals();
    xSetDprintfOutput(nullptr);
    if (!g_trace.empty()) {
        std::printf("leak list:%s", g_trace.c_str());
        return 1;
    }
    std::printf("leak list: empty\n");
    return 0;
}
