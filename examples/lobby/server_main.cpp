// tarvex_lobby_server: the lobby's server, headless, until interrupted.
//
//   tarvex_lobby_server [-c settings.kcbl] [-p port] [-t ping-timeout-ms] [-s seconds]
//
// Settings come from the KCBL file (see ServerSettings); -p and -t override
// it. The log goes through the library's debug output to standard output;
// its first line names the port (useful with -p 0, any free port).
#include "server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void Log(char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

int Usage()
{
    std::fprintf(stderr, "usage: tarvex_lobby_server [-c settings.kcbl] [-p port] [-t ping-timeout-ms] [-s seconds]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    static SGlobals globals;
    static SSysGlobals sysGlobals;
    glb = &globals;
    sglb = &sysGlobals;
    ThisInstance = nullptr;
    SetApplicationName("tarvex lobby server");
    if (!xCreateGlobals() || !CommBaseStartup()) {
        std::fprintf(stderr, "start-up failed: %s\n", glb->error.GetError());
        return 1;
    }
    xSetDprintfOutput(Log);

    int rc = 0;
    {
        lobby::ServerSettings settings;
        long seconds = 0, port = -1, timeout = 0;
        std::string error;
        for (int i = 1; i < argc; ++i) {
            bool more = i + 1 < argc;
            if (std::strcmp(argv[i], "-c") == 0 && more) {
                if (!settings.Load(argv[++i], error)) {
                    std::fprintf(stderr, "%s\n", error.c_str());
                    rc = 1;
                }
            } else if (std::strcmp(argv[i], "-p") == 0 && more) {
                port = std::strtol(argv[++i], nullptr, 10);
            } else if (std::strcmp(argv[i], "-t") == 0 && more) {
                timeout = std::strtol(argv[++i], nullptr, 10);
            } else if (std::strcmp(argv[i], "-s") == 0 && more) {
                seconds = std::strtol(argv[++i], nullptr, 10);
            } else {
                rc = Usage();
            }
        }
        if (port >= 0 && port <= 65535)
            settings.port = static_cast<int32_t>(port);
        if (timeout > 0)
            settings.pingTimeoutMs = static_cast<uint32_t>(timeout);
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        std::signal(SIGPIPE, SIG_IGN);
        // Frames wait on the sockets rather than sleep, so a message is
        // handled as soon as it arrives.
        xSetXHandlerWaitMode(1);
        SetMinimumFrameTime(10);
        auto* server = rc == 0 ? XNEW(lobby::Server, settings) : nullptr;
        if (server != nullptr && !server->Start(error)) {
            std::fprintf(stderr, "lobby server: %s\n", error.c_str());
            rc = 1;
        }
        uint32_t start = xGetTime();
        while (rc == 0 && !g_stop && (seconds <= 0 || xTimeDiff(start, xGetTime()) < seconds * 1000u)) {
            xHandler();
            server->Frame();
        }
        dprintf("lobby: stopping\n");
        XDELETE(server);
    }
    return lobby::FinishProgram(rc, true);
}
