// A relay proxy from the command line: listens on a port and relays each
// client to the destination its location record names, in this one process,
// until interrupted (Ctrl-C) or the given number of seconds has passed.
//
//   tarvex_proxy [-p port] [-r name:first-last]... [-f host:port]
//                [-i keyfile certfile] [-o] [-l statsfile] [-y historyfile]
//                [-s seconds] [-v] [--proxy-protocol]
//
// Without -r the proxy is open: it relays to any port of any host it can
// reach. Each -r adds an allowed range of destination ports.
// --proxy-protocol: the proxy sits behind a load balancer that starts each
// connection with the PROXY protocol header (text or binary form); a
// connection without one is closed, and the history and statistics name
// the client the header names.
#include <tarvex/tarvex.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void Print(char* text) { std::fputs(text, stderr); }

int Usage()
{
    std::fprintf(stderr, "usage: tarvex_proxy [-p port] [-r name:first-last]... [-f host:port]\n"
                         "                    [-i keyfile certfile] [-o] [-l statsfile] [-y historyfile]\n"
                         "                    [-s seconds] [-v] [--proxy-protocol]\n");
    return 2;
}

// "name:first-last" or "first-last".
bool ParseRange(char* text, const char*& name, long& first, long& last)
{
    char* colon = std::strrchr(text, ':');
    name = "";
    if (colon != nullptr) {
        *colon = 0;
        name = text;
        text = colon + 1;
    }
    char* end = nullptr;
    first = std::strtol(text, &end, 10);
    if (end == text)
        return false;
    last = first;
    if (*end == '-')
        last = std::strtol(end + 1, &end, 10);
    return *end == 0 && first >= 1 && last <= 65535 && first <= last;
}

int Run(CCommProxyServer& proxy, int argc, char** argv)
{
    long port = 0, seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        bool more = i + 1 < argc;
        if (std::strcmp(a, "-p") == 0 && more) {
            port = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(a, "-r") == 0 && more) {
            const char* name;
            long first, last;
            if (!ParseRange(argv[++i], name, first, last))
                return Usage();
            proxy.AddPortRange(name, static_cast<int32_t>(first), static_cast<int32_t>(last), 0);
        } else if (std::strcmp(a, "-f") == 0 && more) {
            char* host = argv[++i];
            char* colon = std::strrchr(host, ':');
            if (colon == nullptr)
                return Usage();
            *colon = 0;
            if (!proxy.SetOnErrorForward(1, host, static_cast<int32_t>(std::strtol(colon + 1, nullptr, 10))))
                return Usage();
        } else if (std::strcmp(a, "-i") == 0 && i + 2 < argc) {
            proxy.SetIncomingEncryption(1, argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (std::strcmp(a, "-o") == 0) {
            proxy.SetOutgoingEncryption(1);
        } else if (std::strcmp(a, "-l") == 0 && more) {
            proxy.SetLogFile(argv[++i]);
        } else if (std::strcmp(a, "-y") == 0 && more) {
            proxy.SetHistoryLogFile(argv[++i]);
        } else if (std::strcmp(a, "-s") == 0 && more) {
            seconds = std::strtol(argv[++i], nullptr, 10);
        } else if (std::strcmp(a, "--proxy-protocol") == 0) {
            proxy.SetProxyProtocol(1);
        } else if (std::strcmp(a, "-v") == 0) {
            xSetDprintfOutput(Print);
        } else {
            return Usage();
        }
    }
    if (port < 0 || port > 65535)
        return Usage();
    if (!proxy.Startup(static_cast<uint16_t>(port), 0)) {
        std::fprintf(stderr, "tarvex_proxy: %s\n", glb->error.GetError());
        return 1;
    }
    std::printf("listening on port %u\n", static_cast<unsigned>(proxy.GetBoundPort()));
    std::fflush(stdout);

    uint32_t start = xGetTime();
    while (!g_stop &&
           (seconds == 0 || xTimeDiff(start, xGetTime()) < static_cast<uint32_t>(seconds) * 1000)) {
        int32_t finished = 0;
        if (!proxy.Handler(finished)) {
            std::fprintf(stderr, "tarvex_proxy: %s\n", glb->error.GetError());
            return 1;
        }
        if (finished)
            break;
        // Sleeps until traffic on any proxy socket, at most 10 ms.
        xWaitTimeOrSockets(10);
    }
    proxy.Closedown();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    static SGlobals globals;
    static SSysGlobals sysGlobals;
    glb = &globals;
    sglb = &sysGlobals;
    SetApplicationName("tarvex_proxy");
    if (!xCreateGlobals() || !CommBaseStartup())
        return 1;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    auto* proxy = XNEW(CCommProxyServer);
    int rc = proxy != nullptr ? Run(*proxy, argc, argv) : 1;
    XDELETE(proxy);
    CommBaseExit();
    xSetDprintfOutput(Print); // the leak list, if any
    xFreeGlobals();
    return rc;
}
