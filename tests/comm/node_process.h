// Helpers of the tests whose comm nodes run in forked processes: paced
// frames as an application runs them, the forked side's start, a dialled
// connection, and KCBL messages of one item.
#pragma once

#include "comm_util.h"
#include "../support/comm_helpers.h"

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace tvtest
{

// Frames as an application runs them (xHandler waits on the comm sockets),
// with the server's accept step; until done() or the frames are used up.
inline bool Frames(const std::function<bool()>& done, Hub* hub = nullptr, int frames = 4000)
{
    for (int i = 0; i < frames; ++i) {
        if (hub != nullptr)
            hub->server.NonBlockedHandler();
        xHandler();
        if (done())
            return true;
    }
    return false;
}

// The forked side: fresh globals, comm layer started, paced frames.
[[noreturn]] inline void Child(const std::function<int()>& body)
{
    alarm(60); // a child never outlives a stuck test
    glb = new SGlobals;
    sglb = new SSysGlobals;
    if (!xCreateGlobals() || !CommBaseStartup())
        _exit(90);
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(5);
    _exit(body());
}

using tvhelp::Dial;

inline bool Flush(CCommRemoteClient* c)
{
    return Frames([&] { return !c->IsConnected() || c->IsFlushed(); });
}

inline bool SendItem(CCommNode& node, const char* key, int32_t value)
{
    return node.SendInit() == TRUE && node.sendKCBL.NewItem(key, KLONG, value, KEND) == TRUE &&
           node.SendKCBLPacket() == TRUE;
}

// The next message's first item; false when none is waiting.
inline bool RecvItem(CCommNode& node, std::string& key, int32_t& value)
{
    if (!node.IsDataAvailable() || !node.RecvKCBLPacket())
        return false;
    const char* k = node.recvKCBL.GetKeyword();
    key = k != nullptr ? k : "";
    value = 0;
    node.recvKCBL.GetLong(0, &value);
    node.RecvKCBLFree();
    return true;
}

inline int WaitChild(pid_t pid)
{
    int status = -1;
    for (int i = 0; i < 3000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(10000);
    if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Paced frames that wait on the comm sockets, as in the client processes.
class NodeProcessTest : public CommTest
{
  protected:
    void SetUp() override
    {
        CommTest::SetUp();
        xSetXHandlerWaitMode(1);
        SetMinimumFrameTime(5);
    }
    void TearDown() override
    {
        SetMinimumFrameTime(0);
        xSetXHandlerWaitMode(0);
        CommTest::TearDown();
    }
};

} // namespace tvtest
