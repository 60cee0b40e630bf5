// The local and the remote client: one implementation of the client steps
// (start-up, connecting, the handler rounds, disconnecting, closing down)
// that both classes run with their own message texts, so a fix lands once.
// What differs is small and stays with each class: where a local client
// connects (always 127.0.0.1:6001, never SSL), the remote client's port
// check, encryption and proxy, its taking over of a server's socket, and
// which registration and socket lists each joins.
#include "core/textcopy.h"
#include "commtransfer.h"

#include <tarvex/comm.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstring>

namespace
{

constexpr const char* kLocalHost = "127.0.0.1";
constexpr uint16_t kLocalPort = 6001;

using tvcore::CopyText;

} // namespace

// One message: recorded as it stands, or with " (classname: %s objectname:
// %s)" behind it.
struct SCommText {
    const char* text;
    bool suffixed;
};

// The texts of one client class; [0] of a pair is the non-blocked
// operation's, [1] the blocked one's. A null text: the class makes no such
// check.
struct SCommClientTexts {
    SCommText startup;
    SCommText connectNoStartup, connectConnected, connectFailed;
    SCommText connectHandlerNoStartup[2], connectHandlerConnected[2], connectHandlerFailed[2],
        connectHandlerInit[2];
    SCommText handlerNoStartup, handlerNotConnected, handlerTransfer, handlerSend, handlerRecv;
    SCommText roundNoStartup[2], roundNotConnected[2], roundFailed[2];
    SCommText disconnectNoStartup, disconnectNotConnected, disconnectStill;
    SCommText closedown;
    SCommText flushedNotConnected;
};

namespace
{

constexpr SCommClientTexts kLocalTexts = {
    {"CCommLocalClient::Startup: xStartupSockets failed", false},
    {"CCommLocalClient::Connect: startupCode is not set, this object is not initialized", false},
    {"CCommLocalClient::Connect: connected is TRUE, this object is already connected", false},
    {"CCommLocalClient::Connect: xConnectSocket failed", false},
    {{"CCommLocalClient::NonBlockedConnectHandler: startupCode is not set, this object is not initialized",
      false},
     {"CCommLocalClient::BlockedConnectHandler: startupCode is not set, this object is not initialized",
      false}},
    {{nullptr, false}, {nullptr, false}},
    {{"CCommLocalClient::NonBlockedConenctHandler: xNonBlockedConnectHandler returned FALSE", false},
     {"CCommLocalClient::BlockedConenctHandler: xBlockedConnectHandler returned FALSE", false}},
    {{"CCommLocalClient::NonBlockedConnectHandler: ConnectInit failed", false},
     {"CCommLocalClient::BlockedConnectHandler: ConnectInit failed", false}},
    {"CCommLocalClient::Handler: startupCode is zero (uninitialized object)", false},
    {"CCommLocalClient::Handler:LocalClient is not connected (connected = FALSE)", false},
    {"CCommLocalClient::Handler: PacketTransferHandler failed.", false},
    {"CCommLocalClient::Handler: SendHandler failed.", false},
    {"CCommLocalClient::Handler: RecvCommProtocolHandler failed.", false},
    {{"CCommLocalClient::NonBlockedHandler:Localclient has no valid startup code", false},
     {"CCommLocalClient::BlockedHandler: Localclient has no valid startup code", false}},
    {{"CCommLocalClient::NonBlockedHandler:LocalClient is not connected (connected = FALSE)", false},
     {"CCommLocalClient::BlockedHandler: LocalClient is not connected (connected = FALSE)", false}},
    {{"CCommLocalClient::NonBlockedHandler: Handler returned FALSE", false},
     {"CCommLocalClient::BlockedHandler: Handler returned FALSE", false}},
    {"CCommLocalClient::Disconnect: startupCode is not set, this object is not initialized", false},
    {"CCommLocalClient::Disconnect: connected is FALSE, this object is not connected", false},
    {nullptr, false},
    {"CCommLocalClient::Closedown: xClosedownSockets failed", false},
    {nullptr, false},
};

constexpr SCommClientTexts kRemoteTexts = {
    {"CCommRemoteClient::Startup: xStartupSockets returned FALSE", true},
    {"CCommRemoteClient::Connect: startupCode is zero, this object is not initialized", true},
    {"CCommRemoteClient::Connect: connected is TRUE, this object is already connected", true},
    {"CCommRemoteClient::Connect: xConnectSocket returned FALSE", true},
    {{"CCommRemoteClient::NonBlockedConnectHandler: startupCode is zero, this object is not initialized",
      true},
     {"CCommRemoteClient::BlockedConnectHandler: startupCode is zero, this object is not initialized", true}},
    {{"CCommRemoteClient::NonBlockedConnectHandler: connected is TRUE, this object is already connected",
      true},
     {"CCommRemoteClient::BlockedConnectHandler: connected is TRUE, this object is already connected", true}},
    {{"CCommRemoteClient::NonBlockedConnectHandler: xNonBlockedConnectHandler returned FALSE", true},
     {"CCommRemoteClient::BlockedConnectHandler: xBlockedConnectHandler returned FALSE", true}},
    {{"CCommRemoteClient::NonBlockedConnectHandler: ConnectInit failed", true},
     {"CCommRemoteClient::BlockedConnectHandler: ConnectInit failed", true}},
    {"CCommRemoteClient:: Handler: startupCode is zero, this object is not initialized", true},
    {"CCommRemoteClient:: Handler: connected is FALSE, this object is not connected", true},
    {"CCommRemoteClient::Handler: PacketTransferHandler function failed", true},
    {"CCommRemoteClient::Handler: SendHandler failed.", false},
    {"CCommRemoteClient::Handler: RecvHandler failed.", false},
    {{"CCommRemoteClient::NonBlockedHandler: startupCode is zero, this object is not initialized", true},
     {"CCommRemoteClient::BlockedHandler: startupCode is zero, this object is not initialized", true}},
    {{"CCommRemoteClient::NonBlockedHandler: connected is zero, this object is not connected", true},
     {"CCommRemoteClient::BlockedHandler: connected is zero, this object is not connected", true}},
    {{"CCommRemoteClient::NonBlockedHandler: Handler returned FALSE", true},
     {"CCommRemoteClient::BlockedHandler: Handler returned FALSE", true}},
    {"CCommRemoteClient::Disconnect: startupCode is zero, this object is not initialized", true},
    {"CCommRemoteClient::Disconnect: connected is not TRUE, this object is not connected", true},
    {"CCommRemoteClient::Disconnect: connected is still TRUE, unable to disconnect?", false},
    {"CCommRemoteClient::Closedown: xClosedownSockets failed", true},
    {"CCommRemoteClient::IsFlushed: connected is FALSE, this object is not connected", true},
};

} // namespace

// The client steps, for C = CCommLocalClient or CCommRemoteClient.
struct SCommClientSteps {
    template <class C> static int32_t Say(C& c, const SCommText& t)
    {
        return t.suffixed ? c.Report(t.text) : xErrorTxt_Func(t.text, __FILE__, __LINE__);
    }

    // What only one of the classes does.
    static int32_t AddToSocketList(CCommLocalClient& c) { return LocalClient_socket_List_Add(&c); }
    static int32_t AddToSocketList(CCommRemoteClient& c) { return RemoteClient_socket_List_Add(&c); }
    static void RemoveFromSocketList(CCommLocalClient& c) { LocalClient_socket_List_Remove(&c); }
    static void RemoveFromSocketList(CCommRemoteClient& c) { RemoteClient_socket_List_Remove(&c); }
    static int32_t Register(CCommLocalClient& c) { return c.RegisterLocalClient(); }
    static int32_t Register(CCommRemoteClient& c) { return c.RegisterRemoteClient(); }
    static void Unregister(CCommLocalClient& c) { c.UnRegisterLocalClient(); }
    static void Unregister(CCommRemoteClient& c) { c.UnRegisterRemoteClient(); }
    struct Target {
        const char* host;
        uint16_t port;
        const char* proxyHost;
        uint16_t proxyPort;
    };
    static Target TargetOf(CCommLocalClient&) { return {kLocalHost, kLocalPort, nullptr, 0}; }
    static Target TargetOf(CCommRemoteClient& c)
    {
        return {c.remoteHost, static_cast<uint16_t>(c.remotePort), c.proxyHost, c.proxyPort};
    }
    // Checks and set-up before connecting.
    static int32_t BeforeConnect(CCommLocalClient&) { return TRUE; }
    static int32_t BeforeConnect(CCommRemoteClient& c)
    {
        if (c.remotePort < 0 || c.remotePort > 65535)
            return c.Report("CCommRemoteClient::Connect: port is out of range");
        // The location record a relay proxy reads holds ports below 32768
        // only: a record it cannot hold would reach the proxy empty, which
        // drops the connection after Connect had reported success.
        if (c.proxyHost != nullptr && c.remotePort >= 32768)
            return c.Report("CCommRemoteClient::Connect: the proxy cannot relay to a port above 32767");
        if (c.encryption == 1 && !xSetClientEncryption(&c.link.cryptData))
            return c.Report("CCommRemoteClient::Connect: xSetClientEncryption returned FALSE");
        return TRUE;
    }

    template <class C> static int32_t Startup(C& c, const SCommClientTexts& t)
    {
        if (!xStartupSockets(c.link.startupCode, 1, &c.link.cryptData))
            return Say(c, t.startup);
        c.LogData(">Startup<", nullptr, 0);
        return AddToSocketList(c);
    }

    template <class C> static int32_t Connect(C& c, const SCommClientTexts& t)
    {
        if (c.link.startupCode == 0)
            return Say(c, t.connectNoStartup);
        if (c.connected)
            return Say(c, t.connectConnected);
        if (!BeforeConnect(c))
            return FALSE;
        Target to = TargetOf(c);
        if (!xConnectSocket(to.host, to.port, to.proxyHost, to.proxyPort, c.link.sock, &c.link.addr,
                            &c.link.cryptData))
            return Say(c, t.connectFailed);
        return TRUE;
    }

    template <class C>
    static int32_t ConnectHandler(C& c, const SCommClientTexts& t, bool blocked, int32_t wait)
    {
        if (c.link.startupCode == 0)
            return Say(c, t.connectHandlerNoStartup[blocked]);
        if (c.connected && t.connectHandlerConnected[blocked].text != nullptr)
            return Say(c, t.connectHandlerConnected[blocked]);
        if (c.link.sock == INVALID_SOCKET)
            return FALSE;
        Target to = TargetOf(c);
        int32_t ok = blocked ? xBlockedConnectHandler(to.host, to.port, to.proxyHost, to.proxyPort,
                                                      c.link.sock, c.connected, wait, &c.link.cryptData)
                             : xNonBlockedConnectHandler(to.host, to.port, to.proxyHost, to.proxyPort,
                                                         c.link.sock, c.connected, &c.link.cryptData);
        if (!ok)
            return Say(c, t.connectHandlerFailed[blocked]);
        if (!c.connected)
            return TRUE;
        if (!c.ConnectInit()) {
            c.ConnectExit();
            return Say(c, t.connectHandlerInit[blocked]);
        }
        return TRUE;
    }

    template <class C> static int32_t ConnectInit(C& c)
    {
        // A new connection starts with a clean transfer state.
        c.link.ResetTransfer();
        c.pingTimeSet = c.pingPending = 0;
        c.sendQueOver = 0;
        if (!Register(c))
            return FALSE;
        c.LogData(">ConnectInit<", nullptr, 0);
        return TRUE;
    }

    template <class C> static int32_t ConnectExit(C& c)
    {
        // Whatever ended the connection, its socket is closed and
        // half-moved packets are dropped.
        if (c.link.sock != INVALID_SOCKET)
            xDisconnectSocket(c.link.sock, c.connected, &c.link.cryptData);
        c.connected = 0;
        c.link.ResetTransfer();
        Unregister(c);
        c.LogData(">ConnectExit<", nullptr, 0);
        return TRUE;
    }

    // One handler round: queue to transfer, up to COMM_STEPS_PER_ROUND
    // transfer steps while they make progress, then the received packets.
    template <class C> static int32_t Handler(C& c, const SCommClientTexts& t, int32_t blocked)
    {
        if (c.link.startupCode == 0)
            return Say(c, t.handlerNoStartup);
        if (c.connected != 1)
            return Say(c, t.handlerNotConnected);
        if (c.sendQueOver != 0) {
            c.ConnectExit();
            return c.Report(kSendQueueFullText);
        }
        SCommLink& link = c.link;
        if (!CommInReadPass())
            CommBeginReadPass();
        bool transferFailed = false;
        bool sendFailed = !c.SendHandler();
        if (!sendFailed) {
            for (int32_t i = 0; i < COMM_STEPS_PER_ROUND; ++i) {
                int32_t progress = 0;
                uint32_t taken = 0;
                const int32_t stepped = PacketTransferStep(i == 0, progress, blocked, link, c.connected,
                                                           &c.transferIn, &c.transferOut, taken);
                c.TakeFromSendQueBytes(taken);
                if (!stepped) {
                    transferFailed = true;
                    break;
                }
                if (progress == 0 || c.connected == 0)
                    break;
            }
        }
        bool recvFailed = !c.RecvHandler();
        if (transferFailed || c.connected == 0) {
            c.ConnectExit();
            return Say(c, t.handlerTransfer);
        }
        if (sendFailed)
            return Say(c, t.handlerSend);
        if (recvFailed)
            return Say(c, t.handlerRecv);
        return TRUE;
    }

    template <class C> static int32_t Round(C& c, const SCommClientTexts& t, bool blocked, int32_t wait)
    {
        if (c.link.startupCode == 0)
            return Say(c, t.roundNoStartup[blocked]);
        if (c.connected != 1)
            return Say(c, t.roundNotConnected[blocked]);
        if (!c.Handler(blocked ? 1 : 0, wait))
            return Say(c, t.roundFailed[blocked]);
        return TRUE;
    }

    template <class C> static void Disconnect(C& c, const SCommClientTexts& t)
    {
        if (c.link.startupCode == 0) {
            Say(c, t.disconnectNoStartup);
            return;
        }
        if (c.connected != 1) {
            Say(c, t.disconnectNotConnected);
            return;
        }
        xDisconnectSocket(c.link.sock, c.connected, &c.link.cryptData);
        if (c.connected && t.disconnectStill.text != nullptr)
            Say(c, t.disconnectStill);
        c.ConnectExit();
    }

    template <class C> static int32_t Closedown(C& c, const SCommClientTexts& t)
    {
        if (c.connected)
            c.ConnectExit();
        if (c.link.sock != INVALID_SOCKET)
            xDisconnectSocket(c.link.sock, c.connected, &c.link.cryptData);
        RemoveFromSocketList(c);
        if (c.link.startupCode != 0 && !xClosedownSockets(c.link.startupCode, &c.link.cryptData))
            return Say(c, t.closedown);
        c.LogData(">Closedown<", nullptr, 0);
        return TRUE;
    }

    template <class C> static int32_t IsFlushed(C& c, const SCommClientTexts& t)
    {
        if (!c.connected && t.flushedNotConnected.text != nullptr) {
            Say(c, t.flushedNotConnected);
            return TRUE;
        }
        return c.link.sendPacket == nullptr && c.link.sendCount == 0 && c.sendQue.GetNumNodes() == 0 &&
                       c.transferOut.GetNumNodes() == 0
                   ? TRUE
                   : FALSE;
    }

    // The registries never keep a destroyed object.
    static void Forget(CLList* registration, CLList* sockets, void* c)
    {
        if (registration != nullptr && registration->DeleteItem(c))
            CommNoteClientListRemoval();
        if (sockets != nullptr)
            sockets->DeleteItem(c);
    }
};

using Steps = SCommClientSteps;

// ---------------------------------------------------------------- local client

CCommLocalClient::~CCommLocalClient()
{
    if (link.startupCode != 0 || link.sock != INVALID_SOCKET)
        Closedown();
    if (connected)
        ConnectExit();
    link.ResetTransfer();
    if (glb != nullptr)
        Steps::Forget(glb->localClients, glb->localClient_socket_RegList, this);
}

int32_t CCommLocalClient::Startup() { return Steps::Startup(*this, kLocalTexts); }
int32_t CCommLocalClient::Connect() { return Steps::Connect(*this, kLocalTexts); }
int32_t CCommLocalClient::BlockedConnectHandler(int32_t wait)
{
    return Steps::ConnectHandler(*this, kLocalTexts, true, wait);
}
int32_t CCommLocalClient::NonBlockedConnectHandler()
{
    return Steps::ConnectHandler(*this, kLocalTexts, false, 0);
}
int32_t CCommLocalClient::ConnectInit() { return Steps::ConnectInit(*this); }
int32_t CCommLocalClient::ConnectExit() { return Steps::ConnectExit(*this); }
int32_t CCommLocalClient::Handler(int32_t blocked, int32_t)
{
    return Steps::Handler(*this, kLocalTexts, blocked);
}
int32_t CCommLocalClient::BlockedHandler(int32_t wait)
{
    return Steps::Round(*this, kLocalTexts, true, wait);
}
int32_t CCommLocalClient::NonBlockedHandler() { return Steps::Round(*this, kLocalTexts, false, 0); }
void CCommLocalClient::Disconnect() { Steps::Disconnect(*this, kLocalTexts); }
int32_t CCommLocalClient::Closedown() { return Steps::Closedown(*this, kLocalTexts); }
int32_t CCommLocalClient::IsFlushed() { return Steps::IsFlushed(*this, kLocalTexts); }

// ---------------------------------------------------------------- remote client

CCommRemoteClient::~CCommRemoteClient()
{
    link.ResetTransfer();
    EmptyQues();
    if (link.startupCode != 0 || link.sock != INVALID_SOCKET)
        Closedown();
    if (connected)
        ConnectExit();
    if (proxyHost != nullptr)
        XFREE(proxyHost);
    if (glb != nullptr)
        Steps::Forget(glb->remoteClients, glb->remoteClient_socket_RegList, this);
}

int32_t CCommRemoteClient::Startup() { return Steps::Startup(*this, kRemoteTexts); }
int32_t CCommRemoteClient::Connect() { return Steps::Connect(*this, kRemoteTexts); }
int32_t CCommRemoteClient::BlockedConnectHandler(int32_t wait)
{
    return Steps::ConnectHandler(*this, kRemoteTexts, true, wait);
}
int32_t CCommRemoteClient::NonBlockedConnectHandler()
{
    return Steps::ConnectHandler(*this, kRemoteTexts, false, 0);
}
int32_t CCommRemoteClient::ConnectInit() { return Steps::ConnectInit(*this); }
int32_t CCommRemoteClient::ConnectExit() { return Steps::ConnectExit(*this); }
int32_t CCommRemoteClient::Handler(int32_t blocked, int32_t)
{
    return Steps::Handler(*this, kRemoteTexts, blocked);
}
int32_t CCommRemoteClient::BlockedHandler(int32_t wait)
{
    return Steps::Round(*this, kRemoteTexts, true, wait);
}
int32_t CCommRemoteClient::NonBlockedHandler() { return Steps::Round(*this, kRemoteTexts, false, 0); }
void CCommRemoteClient::Disconnect() { Steps::Disconnect(*this, kRemoteTexts); }
int32_t CCommRemoteClient::Closedown() { return Steps::Closedown(*this, kRemoteTexts); }
int32_t CCommRemoteClient::IsFlushed() { return Steps::IsFlushed(*this, kRemoteTexts); }

void CCommRemoteClient::EmptyQues()
{
    EmptyList(sendQue);
    EmptyList(recvQue);
}

int32_t CCommRemoteClient::SetProxy(const char* host, uint16_t port)
{
    char* copy = host != nullptr ? CopyText(host) : nullptr;
    if (host != nullptr && copy == nullptr)
        return FALSE;
    if (proxyHost != nullptr)
        XFREE(proxyHost);
    proxyHost = copy;
    proxyPort = port;
    return TRUE;
}

int32_t CCommRemoteClient::SetVerification(const char* caFile, const char* hostName)
{
    return xSetClientVerification(&link.cryptData, caFile, hostName);
}

int32_t CCommRemoteClient::SetConnectFromServer(CCommRemoteServerBase* server)
{
    if (link.startupCode == 0)
        return Report("CCommRemoteClient::SetConnectFromServer: startupCode is zero, this object is not "
                      "initialized");
    if (connected)
        return Report("CCommRemoteClient::SetConnectFromServer: connected is TRUE,  this object is already "
                      "connected");
    if (server == nullptr || server->GetConnectedSocket() == INVALID_SOCKET)
        return Report("CCommRemoteClient::SetConnectFromServer: the server has no accepted socket");
    if (link.sock != INVALID_SOCKET)
        xDisconnectSocket(link.sock, connected, &link.cryptData);
    link.sock = server->GetConnectedSocket();
    // The socket is ours now: the server no longer closes it.
    server->ForgetConnectedSocket();
    connected = 1;
    link.ResetTransfer();
    EmptyQues();
    pingTimeSet = pingPending = 0;
    if (server->GetEncryption() == 1) {
        encryption = 1;
        if (!xMakeGivenServerSocketEncrypted(link.sock, server->GetKeyFile(), server->GetCertFile(),
                                             &link.cryptData) ||
            link.cryptData.ssl == nullptr) {
            xDisconnectSocket(link.sock, connected, &link.cryptData);
            return Report(
                "CCommRemoteClient::SetConnectFromServer: Unable to get encryption data from server "
                "object");
        }
    }
    if (!ConnectInit()) {
        ConnectExit();
        return Report("CCommRemoteClient::SetConnectFromServer: ConnectInit failed");
    }
    return TRUE;
}
