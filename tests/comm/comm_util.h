// Helpers of the comm-object tests: a fixture with the comm registries
// started, a connected pair of remote clients over loopback, and pumping.
#pragma once

#include "comm_net.h"

#include <platform/net.h>
#include <platform/platform.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tvtest
{

class CommTest : public TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        ASSERT_EQ(CommBaseStartup(), TRUE);
    }
    void TearDown() override
    {
        CommBaseExit();
        TarvexTest::TearDown();
    }
};

inline bool InGlbList(CLList* list, void* obj)
{
    if (list == nullptr)
        return false;
    for (SLListNode* n = list->first; n != nullptr; n = n->next)
        if (n->data == obj)
            return true;
    return false;
}

// A listening remote server whose callback hands each accepted socket to
// the client object `accepted`.
struct Listener {
    CCommRemoteServer server;
    CCommRemoteClient accepted;
    int32_t takeResult = -1;

    static int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
    {
        auto* self = static_cast<Listener*>(user);
        self->takeResult = self->accepted.SetConnectFromServer(s);
        return self->takeResult;
    }

    bool Start(bool tls = false)
    {
        server.SetPort(0);
        if (tls)
            server.SetEncryption(1, "key.pem", "cert.pem");
        if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
            return false;
        server.SetCallbackFunction(Take, this, 0);
        accepted.SetPacketTypes(1, 1);
        accepted.SetObjName("accepted");
        return accepted.Startup() == TRUE;
    }
    uint16_t Port() const { return server.GetBoundPort(); }
    // Polls the server until `accepted` holds a connection.
    bool Accept(int tries = 3000)
    {
        return Until(
            [&] {
                server.NonBlockedHandler();
                return accepted.IsConnected() == 1;
            },
            tries);
    }
};

// A listener and a client connected to it in this process.
struct Pair : Listener {
    CCommRemoteClient client;
    bool Open()
    {
        if (!Start())
            return false;
        client.SetPacketTypes(1, 1);
        client.SetObjName("client");
        if (!client.Startup() || !client.SetRemoteLocation("127.0.0.1", Port()) || !client.Connect())
            return false;
        return Until([&] {
                   if (!client.IsConnected() && !client.NonBlockedConnectHandler())
                       return true;
                   server.NonBlockedHandler();
                   return client.IsConnected() == 1 && accepted.IsConnected() == 1;
               }) &&
               client.IsConnected() == 1 && accepted.IsConnected() == 1;
    }
};

// Runs the client rounds until done() or the tries are used up.
template <class F> bool Pump(F done, int tries = 5000)
{
    for (int i = 0; i < tries; ++i) {
        xCommClientRounds(1);
        if (done())
            return true;
        xWaitTimeOrSockets(2);
    }
    return false;
}

inline std::string TakeRaw(CCommBase& c)
{
    char* data = nullptr;
    uint32_t size = 0;
    if (!c.RecvRawData(data, size))
        return "<none>";
    std::string s(data, size);
    xFreeMem(data, __FILE__, __LINE__);
    return s;
}

// A plain blocking TCP socket connected to 127.0.0.1:port (the system's
// sockets through the platform layer); -1 when it cannot connect.
inline int RawConnect(uint16_t port)
{
    const uint32_t fd = tvp::Socket();
    if (fd == tvp::XINVALID_SOCKET)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (tvp::Connect(fd, a) != 0) {
        tvp::Close(fd);
        return -1;
    }
    return static_cast<int>(fd);
}

// Sends all of s on a RawConnect socket; false when it fails.
inline bool RawSend(int fd, const std::string& s)
{
    size_t done = 0;
    while (done < s.size()) {
        const int32_t n = tvp::Send(static_cast<uint32_t>(fd), s.data() + done, static_cast<uint32_t>(s.size() - done));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

inline void RawClose(int fd) { tvp::Close(static_cast<uint32_t>(fd)); }

// The 12 header bytes of a packet of the given type and size.
inline std::string Header(uint8_t type, uint32_t size, const char* magic = "PCKT")
{
    std::string h(magic, 4);
    h += static_cast<char>(type);
    h += std::string(3, '\0');
    h += static_cast<char>(size >> 24);
    h += static_cast<char>(size >> 16);
    h += static_cast<char>(size >> 8);
    h += static_cast<char>(size);
    return h;
}

// A hub as a program runs one: every connection the server accepts gets a
// comm object of its own (named objName and its index), and node traffic is
// routed between them. The objects are tracked and freed with the hub.
struct Hub {
    CCommRemoteServer server;
    std::vector<CCommRemoteClient*> accepted;
    const char* objName = "accepted";

    static int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
    {
        auto* self = static_cast<Hub*>(user);
        auto* c = XNEW(CCommRemoteClient);
        c->SetPacketTypes(1, 1);
        c->SetObjName(self->objName, static_cast<uint32_t>(self->accepted.size()));
        if (!c->Startup() || !c->SetConnectFromServer(s)) {
            XDELETE(c);
            return FALSE;
        }
        self->accepted.push_back(c);
        return TRUE;
    }
    bool Start()
    {
        server.SetPort(0);
        if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
            return false;
        server.SetCallbackFunction(Take, this, 0);
        return true;
    }
    uint16_t Port() const { return server.GetBoundPort(); }
    ~Hub()
    {
        for (CCommRemoteClient* c : accepted)
            XDELETE(c);
    }
};

} // namespace tvtest
