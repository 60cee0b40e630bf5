// Shared by the relay benchmarks: a listening socket on loopback, our proxy
// run in a process of its own, and peer programs (socat, haproxy) started
// with their output discarded.
#pragma once

#include <tarvex/tarvex.h>

#include "../tests/support/comm_helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// A listening socket on 127.0.0.1; port 0 picks a free one (returned).
inline int Listen(uint16_t& port, int backlog = 16) { return tvhelp::ListenLoopback(port, backlog); }

// Our proxy in this process, until killed; taking the load balancer's
// address header first when asked.
[[noreturn]] inline void OurProxy(uint16_t port, bool proxyProtocol = false)
{
    static SGlobals g;
    static SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals() || !CommBaseStartup())
        _exit(1);
    auto* proxy = XNEW(CCommProxyServer);
    proxy->SetProxyProtocol(proxyProtocol ? 1 : 0);
    if (!proxy->Startup(port, 0))
        _exit(2);
    for (;;) {
        int32_t finished;
        proxy->Handler(finished);
        xWaitTimeOrSockets(10);
    }
}

inline pid_t Spawn(const std::vector<std::string>& args)
{
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}
