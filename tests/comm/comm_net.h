// Helpers of the socket tests: a fixture with started sockets, bounded
// polling, and a loopback listener.
#pragma once

#include "tarvex_test.h"

#include <chrono>
#include <thread>

namespace tvtest
{

// Calls step until it returns true, at most tries times with a short pause.
template <class F> bool Until(F step, int tries = 3000)
{
    for (int i = 0; i < tries; ++i) {
        if (step())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

inline uint32_t ElapsedMs(std::chrono::steady_clock::time_point from)
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from)
            .count());
}

class SocketTest : public TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        ASSERT_EQ(xStartupSockets(code, 1, &cd), TRUE);
    }
    void TearDown() override
    {
        xCloseSocket(listenSock);
        xCloseSocket(clientSock);
        xCloseSocket(serverSock);
        xClosedownSockets(code, &cd);
        TarvexTest::TearDown();
    }

    // A listener on a free loopback port; returns the port.
    uint16_t Listen()
    {
        sockaddr_in addr{};
        if (!xStartListenSocket(0, listenSock, &addr, &cd))
            return 0;
        int32_t running = 0;
        uint32_t none = INVALID_SOCKET;
        xNonBlockedStartListenHandler(listenSock, none, running, &cd);
        return ntohs(addr.sin_port);
    }

    // Connects clientSock to the listener and accepts serverSock.
    bool ConnectPair(uint16_t port)
    {
        if (!xConnectSocket("127.0.0.1", port, nullptr, 0, clientSock, nullptr, &cd))
            return false;
        bool ok = Until([&] {
            int32_t running = 1, accepted = 0;
            if (serverSock == INVALID_SOCKET)
                xNonBlockedListenHandler(listenSock, serverSock, nullptr, running, accepted, &cd);
            if (!clientUp &&
                !xNonBlockedConnectHandler("127.0.0.1", port, nullptr, 0, clientSock, clientUp, &cd))
                return true;
            return clientUp == 1 && serverSock != INVALID_SOCKET;
        });
        serverUp = serverSock != INVALID_SOCKET ? 1 : 0;
        return ok && clientUp == 1 && serverUp == 1;
    }

    SCryptData cd;
    int32_t code = 0;
    uint32_t listenSock = INVALID_SOCKET;
    uint32_t clientSock = INVALID_SOCKET;
    uint32_t serverSock = INVALID_SOCKET;
    int32_t clientUp = 0;
    int32_t serverUp = 0;
};

} // namespace tvtest
