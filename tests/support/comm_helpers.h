// Small comm helpers shared by the tests and the benchmarks (no GoogleTest
// here: the benchmarks include it too).
#pragma once

#include <tarvex/tarvex.h>

#include <string>
#include <unistd.h>

namespace tvhelp
{

// The next message waiting at the node, or false.
inline bool TakeMessage(CCommNode& node, std::string& out)
{
    char* data = nullptr;
    uint32_t size = 0;
    if (!node.IsDataAvailable() || !node.RecvPacket(data, size))
        return false;
    node.RecvFree();
    out.assign(data, size);
    XFREE(data);
    return true;
}

// A remote comm client (raw and node packets) connected to 127.0.0.1:port
// within about 5 s, or null. The caller frees it with XDELETE.
inline CCommRemoteClient* Dial(uint16_t port)
{
    auto* c = XNEW(CCommRemoteClient);
    c->SetPacketTypes(1, 1);
    if (c->Startup() && c->SetRemoteLocation("127.0.0.1", port) && c->Connect())
        for (int i = 0; i < 5000 && !c->IsConnected(); ++i) {
            if (!c->NonBlockedConnectHandler())
                break;
            usleep(1000);
        }
    if (c->IsConnected())
        return c;
    XDELETE(c);
    return nullptr;
}

} // namespace tvhelp
