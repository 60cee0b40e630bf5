// Comm nodes in the main example: this process plays the game server (a
// SERVER node and the clock service's server), a forked process plays a
// client (a CLIENT node and the clock client), each running its own frames.
// The client says hello in a KCBL message, the server welcomes it, the
// client measures its clock offset and reports it back.
#include "commnode_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>

#ifdef _WIN32

// The client side is a forked copy of this process, which Windows does not
// have.
bool CommNodeTour()
{
    std::printf("nodes: skipped on Windows (the client node runs in a forked process)\n");
    return true;
}

#else

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

constexpr uint32_t kLobbyId = 1;
constexpr uint32_t kClockId = 2;

// Runs frames until done() holds, for at most about four seconds.
template <class F> bool Frames(F done)
{
    for (int i = 0; i < 800; ++i) {
        xHandler();
        if (done())
            return true;
    }
    return false;
}

bool Send(CCommNode& node, const char* key, int32_t a, int32_t b)
{
    return node.SendInit() && node.sendKCBL.NewItem(key, KLONG, a, KLONG, b, KEND) && node.SendKCBLPacket();
}

// The next message: its first item's keyword and two numbers.
bool Receive(CCommNode& node, std::string& key, int32_t& a, int32_t& b)
{
    if (!node.IsDataAvailable() || !node.RecvKCBLPacket())
        return false;
    const char* k = node.recvKCBL.GetKeyword();
    key = k != nullptr ? k : "";
    a = b = 0;
    node.recvKCBL.GetLong(0, &a);
    node.recvKCBL.GetLong(1, &b);
    node.RecvKCBLFree();
    return true;
}

// The client process: globals of its own, a CLIENT node, the clock client.
[[noreturn]] void ClientProcess(uint16_t port)
{
    alarm(20);
    glb = new SGlobals;
    sglb = new SSysGlobals;
    if (!xCreateGlobals() || !CommBaseStartup())
        _exit(2);
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(5);
    CCommNode lobby;
    lobby.SetId(kLobbyId);
    lobby.SetName("lobby");
    CTimeDiffClient clock;
    clock.SetId(kClockId);
    clock.SetName("clock");
    auto* link = new CCommRemoteClient;
    link->SetPacketTypes(1, 1);
    if (!lobby.InitCommNode(CNODE_CLIENT) || !clock.Init(0) || !link->Startup() ||
        !link->SetRemoteLocation("127.0.0.1", port) || !link->Connect())
        _exit(3);
    if (!Frames([&] { return link->IsConnected() || !link->NonBlockedConnectHandler(); }) ||
        !Frames([&] { return link->HasOtherSideNode("lobby", 5, kLobbyId, CNODE_CLIENT) == TRUE; }))
        _exit(4);
    if (!Send(lobby, "hello", static_cast<int32_t>(getpid()), 120))
        _exit(5);
    std::string key;
    int32_t a = 0, b = 0;
    if (!Frames([&] { return Receive(lobby, key, a, b); }) || key != "welcome")
        _exit(6);
    uint32_t start = xGetTime();
    if (!Frames([&] { return !clock.Handler() || clock.IsClientDone(); }) || !clock.IsClientDone())
        _exit(7);
    int32_t signedOffset = clock.GetDiffSign() == 1 ? static_cast<int32_t>(clock.GetOffset())
                                                    : -static_cast<int32_t>(clock.GetOffset());
    if (!Send(lobby, "offset", signedOffset, static_cast<int32_t>(xTimeDiff(start, xGetTime()))))
        _exit(8);
    Frames([&] { return link->IsFlushed() || !link->IsConnected(); });
    _exit(0);
}

struct Server {
    CCommRemoteServer listener;
    CCommRemoteClient link; // takes over the client's connection
    CCommNode lobby;
    CTimeDiffServer clock;

    static int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
    {
        return static_cast<Server*>(user)->link.SetConnectFromServer(s);
    }

    bool Run()
    {
        listener.SetPort(0); // any free port
        if (!listener.Startup() || !listener.StartListen() || !listener.NonBlockedStartListenHandler())
            return false;
        listener.SetCallbackFunction(Take, this, 0);
        link.SetPacketTypes(1, 1);
        lobby.SetId(kLobbyId);
        lobby.SetName("lobby");
        lobby.SetObjName("demo lobby");
        clock.SetId(kClockId);
        clock.SetName("clock");
        if (!link.Startup() || !lobby.InitCommNode(CNODE_SERVER) || !clock.Init(0))
            return false;
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0)
            ClientProcess(listener.GetBoundPort());

        std::string key;
        int32_t from = 0, score = 0, offset = 0, roundTrip = 0;
        bool ok = Frames([&] {
                      listener.NonBlockedHandler();
                      return Receive(lobby, key, from, score);
                  }) &&
                  key == "hello";
        ok = ok && Send(lobby, "welcome", from, 0);
        // The clock service answers while the lobby waits for the report.
        ok = ok && Frames([&] {
                 clock.Handler();
                 return Receive(lobby, key, offset, roundTrip);
             }) &&
             key == "offset";
        int status = -1;
        for (int i = 0; i < 400 && waitpid(pid, &status, WNOHANG) == 0; ++i)
            xHandler();
        if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 && clock.IsClientDone();
        std::printf(
            "nodes: lobby got \"hello\" from process %d (score %d) and welcomed it; the client's clock "
            "offset: %d ms (measured in %d ms)\n",
            from, score, offset, roundTrip);
        if (link.IsConnected())
            link.Disconnect();
        listener.StopListen();
        return ok;
    }
};

} // namespace

bool CommNodeTour()
{
    if (!CommBaseStartup())
        return false;
    xSetXHandlerWaitMode(1);
    bool ok;
    {
        Server* s = XNEW(Server);
        ok = s != nullptr && s->Run();
        XDELETE(s);
    }
    xSetXHandlerWaitMode(0);
    CommBaseExit();
    return ok;
}

#endif
