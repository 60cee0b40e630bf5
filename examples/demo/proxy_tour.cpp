// The relay proxy's part of the main example: a proxy restricted to one
// port range, a server inside the range, and a client that names the server
// in its location record and talks to it through the proxy. Everything runs
// in the frame's rounds, in this one process.
#include "proxy_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <string>

namespace
{

struct Relayed {
    CCommProxyServer proxy;
    CCommRemoteServer server;
    CCommRemoteClient accepted;
    CCommRemoteClient client;
    uint16_t serverPort = 0;

    static int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
    {
        return static_cast<Relayed*>(user)->accepted.SetConnectFromServer(s);
    }

    template <class F> bool Frames(F done)
    {
        for (int i = 0; i < 300; ++i) {
            int32_t finished = 0;
            if (!proxy.Handler(finished))
                return false;
            if (!client.IsConnected())
                client.NonBlockedConnectHandler();
            server.NonBlockedHandler();
            xHandler();
            if (done())
                return true;
        }
        return false;
    }

    static bool Take(CCommBase& c, std::string& text)
    {
        char* data = nullptr;
        uint32_t size = 0;
        if (!c.RecvRawData(data, size))
            return false;
        text.assign(data, size);
        XFREE(data);
        return true;
    }

    bool Run()
    {
        // A location record names ports below 32768: the server takes the
        // first free one from 27000 on, and the proxy relays to that range only.
        if (!server.Startup())
            return false;
        for (uint16_t p = 27000; p < 27100 && serverPort == 0; ++p) {
            server.SetPort(p);
            if (server.StartListen() && server.NonBlockedStartListenHandler())
                serverPort = p;
        }
        if (serverPort == 0 || !proxy.AddPortRange("demo", 27000, 27099, 0) || !proxy.Startup(0, 0))
            return false;
        server.SetCallbackFunction(Take, this, 0);
        accepted.SetPacketTypes(1, 1);
        client.SetPacketTypes(1, 1);
        if (!accepted.Startup() || !client.Startup() || !client.SetRemoteLocation("127.0.0.1", serverPort) ||
            !client.SetProxy("127.0.0.1", proxy.GetBoundPort()) || !client.Connect())
            return false;
        if (!Frames([&] { return client.IsConnected() && accepted.IsConnected(); }))
            return false;
        const char hello[] = "hello through the relay";
        std::string got, reply;
        bool ok = client.SendRawData(hello, sizeof hello - 1) &&
                  Frames([&] { return Take(accepted, got); }) && accepted.SendRawData("relayed back", 12) &&
                  Frames([&] { return Take(client, reply); });
        client.Disconnect();
        accepted.Disconnect();
        server.StopListen();
        // The proxy notices both ends are gone and writes its history line.
        ok = ok && Frames([&] { return proxy.GetHistory()->GetNumNodes() == 1; });
        std::printf("proxy: port %u relayed \"%s\" and \"%s\" to port %u\nproxy history: %s",
                    proxy.GetBoundPort(), got.c_str(), reply.c_str(), serverPort,
                    ok ? static_cast<const char*>(proxy.GetHistory()->first->data) : "(none)\n");
        proxy.Closedown();
        return ok && got == hello && reply == "relayed back";
    }
};

} // namespace

bool ProxyTour()
{
    if (!CommBaseStartup())
        return false;
    xSetXHandlerWaitMode(1);
    bool ok;
    {
        Relayed* r = XNEW(Relayed);
        ok = r != nullptr && r->Run();
        XDELETE(r);
    }
    xSetXHandlerWaitMode(0);
    CommBaseExit();
    return ok;
}
