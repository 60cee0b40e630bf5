// tarvex_lobby: the lobby's client.
//
//   tarvex_lobby [--server host:port] [--proxy host:port] [--tls]
//                [--user name] [--password text] [--console] [--seconds n]
//
// With --console it reads commands from standard input and reports on
// standard output (see console.h).
#include "console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

int Usage()
{
    std::fprintf(stderr, "usage: tarvex_lobby [--server host:port] [--proxy host:port] [--tls]\n"
                         "                    [--user name] [--password text] [--console] [--seconds n]\n");
    return 2;
}

// "host:port" into its parts; false when the port is missing or out of range.
bool HostPort(const char* text, std::string& host, long& port)
{
    const char* colon = std::strrchr(text, ':');
    if (colon == nullptr || colon == text)
        return false;
    host.assign(text, colon);
    char* end = nullptr;
    port = std::strtol(colon + 1, &end, 10);
    return *end == 0 && port > 0 && port <= 65535;
}

} // namespace

int main(int argc, char** argv)
{
    lobby::ClientOptions options;
    std::string user, password;
    bool console = false;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        bool more = i + 1 < argc;
        long port = 0;
        if (std::strcmp(a, "--server") == 0 && more) {
            if (!HostPort(argv[++i], options.host, port))
                return Usage();
            options.port = static_cast<int32_t>(port);
        } else if (std::strcmp(a, "--proxy") == 0 && more) {
            if (!HostPort(argv[++i], options.proxyHost, port))
                return Usage();
            options.proxyPort = static_cast<uint16_t>(port);
        } else if (std::strcmp(a, "--tls") == 0) {
            options.tls = true;
        } else if (std::strcmp(a, "--user") == 0 && more) {
            user = argv[++i];
        } else if (std::strcmp(a, "--password") == 0 && more) {
            password = argv[++i];
        } else if (std::strcmp(a, "--console") == 0) {
            console = true;
        } else if (std::strcmp(a, "--seconds") == 0 && more) {
            seconds = std::strtol(argv[++i], nullptr, 10);
        } else {
            return Usage();
        }
    }

    static SGlobals globals;
    static SSysGlobals sysGlobals;
    glb = &globals;
    sglb = &sysGlobals;
    ThisInstance = nullptr;
    SetApplicationName("tarvex lobby");
    if (!xCreateGlobals() || !CommBaseStartup()) {
        std::fprintf(stderr, "start-up failed: %s\n", glb->error.GetError());
        return 1;
    }
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(10);
    (void)console;
    int rc = lobby::RunConsole(options, user, password, seconds);
    CommBaseExit();
    xExit();
    static bool leaked = false;
    xSetDprintfOutput([](char* t) {
        leaked = true;
        std::fputs(t, stderr);
    });
    xFreeGlobals();
    xSetDprintfOutput(nullptr);
    return leaked ? 1 : rc;
}
