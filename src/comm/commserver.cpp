// The local and the remote server: one implementation of the server steps
// (start-up, listening, accepting with the application's callback,
// stopping, closing down) that both classes run with their own message
// texts. A local server always listens on port 6001; a remote server on
// its configured port, optionally under SSL.
#include <tarvex/comm.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>

#include <cstdio>

// One message: recorded as it stands, with " (classname: %s objectname: %s)"
// behind it, or as a format that places the two names itself.
struct SCommServerText {
    enum Kind { kPlain, kSuffixed, kFormat };
    const char* text;
    Kind kind;
};

// [0] of a pair is the non-blocked operation's text, [1] the blocked one's.
// A null text: the class makes no such check.
struct SCommServerTexts {
    const char* className;
    SCommServerText startupRegister, startupSockets;
    SCommServerText listenNoStartup, listenPort, listenFailed;
    SCommServerText startHandlerNoStartup[2], startHandlerFailed[2];
    SCommServerText stopNoStartup, stopNotRunning;
    SCommServerText closedown;
};

namespace
{

using T = SCommServerText;
constexpr uint16_t kLocalPort = 6001;

constexpr SCommServerTexts kLocalTexts = {
    "CCommLocalServer",
    {"CCommLocalServer::Startup: RegisterLocalServer failed.", T::kPlain},
    {"CCommLocalServer::Startup: xStartupSockets returned FALSE.", T::kPlain},
    {"CCommLocalServer::StartListen: startupCode is zero, the object is not initialized.", T::kPlain},
    {nullptr, T::kPlain},
    {"CCommLocalServer::StartListen: xStartListenSocket failed.", T::kPlain},
    {{"CCommLocalServer::NonBlockedStartListenHandler: startupCode is zero, the object is not initialized.",
      T::kPlain},
     {"CCommLocalServer::BlockedStartListenHandler: startupCode is zero, the object is not initialized.",
      T::kPlain}},
    {{"CCommLocalServer::NonBlockedStartListenHandler:xNonBlockedStartListenHandler returned FALSE",
      T::kSuffixed},
     {"CCommLocalServer::BlockedStartListenHandler:xBlockedStartListenHandler returned FALSE", T::kSuffixed}},
    {"CCommLocalServer::StopListen: startupCode is zero, the object is not initialized.", T::kPlain},
    {"CCommLocalServer::StopListen: running is FALSE, this object was not listening", T::kSuffixed},
    {"CCommLocalServer::Closedown: xClosedownSockets failed.", T::kPlain},
};

constexpr SCommServerTexts kRemoteTexts = {
    "CCommRemoteServer",
    {"CCommRemoteServer::Startup: RegisterRemoteServer failed", T::kSuffixed},
    {"CCommRemoteServer::Startup: xStartupSockets failed", T::kSuffixed},
    {"CCommRemoteServer::StartListen: startupCode is zero, this object is not initialized", T::kSuffixed},
    {"CCommRemoteServer::StartListen: port is out of range", T::kSuffixed},
    {"CCommRemoteServer::StartListen: xStartListenSocket failed", T::kSuffixed},
    {{"CCommRemoteServer::NonBlockedStartListenHandler: startupCode is zero, this object is not initialized",
      T::kSuffixed},
     {"CCommRemoteServer::BlockedStartListenHandler: startupCode is zero, this object is not initialized",
      T::kSuffixed}},
    {{"CCommRemoteServer::NonBlockedStartListenHandler: xNonBlockedStartListenHandler returned FALSE",
      T::kSuffixed},
     {"CCommRemoteServer::BlockedStartListenHandler: xBlockedStartListenHandler returned FALSE",
      T::kSuffixed}},
    {"CCommRemoteServer::StopListen: startupCode is zero, this object is not initialized", T::kSuffixed},
    {"CCommRemoteServer::StopListen: running is FALSE, this object is not listening", T::kSuffixed},
    {"CCommRemoteServer::Closedown: xClosedownSockets function failed (classname:%s objectname: %s)",
     T::kFormat},
};

} // namespace

// The server steps, for S = CCommLocalServer or CCommRemoteServer.
struct SCommServerSteps {
    template <class S> static int32_t Say(S& s, const SCommServerText& t)
    {
        switch (t.kind) {
        case SCommServerText::kSuffixed:
            return s.Report(t.text);
        case SCommServerText::kFormat:
            return xErrorf(t.text, s.GetClassName(), s.GetObjName());
        default:
            return xErrorTxt_Func(t.text, __FILE__, __LINE__);
        }
    }

    // What only one of the classes does.
    static int32_t Register(CCommLocalServer& s) { return s.RegisterLocalServer(); }
    static int32_t Register(CCommRemoteServer& s) { return s.RegisterRemoteServer(); }
    static void Unregister(CCommLocalServer& s) { s.UnRegisterLocalServer(); }
    static void Unregister(CCommRemoteServer& s) { s.UnRegisterRemoteServer(); }
    static int32_t AddToSocketList(CCommLocalServer& s) { return LocalServer_socket_List_Add(&s); }
    static int32_t AddToSocketList(CCommRemoteServer& s) { return RemoteServer_socket_List_Add(&s); }
    static void RemoveFromSocketList(CCommLocalServer& s) { LocalServer_socket_List_Remove(&s); }
    static void RemoveFromSocketList(CCommRemoteServer& s) { RemoteServer_socket_List_Remove(&s); }
    static int32_t PortOf(CCommLocalServer&) { return kLocalPort; }
    static int32_t PortOf(CCommRemoteServer& s) { return s.port; }

    template <class S> static int32_t Startup(S& s, const SCommServerTexts& t)
    {
        s.closedDown = false;
        if (!Register(s))
            return Say(s, t.startupRegister);
        // A failed start is reported and the start-up goes on.
        if (!xStartupSockets(s.startupCode, 1, &s.cryptData))
            Say(s, t.startupSockets);
        return AddToSocketList(s);
    }

    template <class S> static int32_t StartListen(S& s, const SCommServerTexts& t)
    {
        if (s.startupCode == 0)
            return Say(s, t.listenNoStartup);
        int32_t port = PortOf(s);
        if (port < 0 || port > 65535)
            return Say(s, t.listenPort);
        if (!xStartListenSocket(static_cast<uint16_t>(port), s.listenSock, &s.listenAddr, &s.cryptData))
            return Say(s, t.listenFailed);
        return TRUE;
    }

    template <class S> static int32_t StartListenHandler(S& s, const SCommServerTexts& t, bool blocked)
    {
        if (s.startupCode == 0)
            return Say(s, t.startHandlerNoStartup[blocked]);
        int32_t ok =
            blocked ? xBlockedStartListenHandler(s.listenSock, s.acceptedSock, s.running, &s.cryptData)
                    : xNonBlockedStartListenHandler(s.listenSock, s.acceptedSock, s.running, &s.cryptData);
        if (!ok)
            return Say(s, t.startHandlerFailed[blocked]);
        return TRUE;
    }

    // Accepts what is waiting and hands it to the application's callback;
    // a refused connection is closed and the server keeps listening.
    template <class S> static int32_t ListenHandler(S& s, const SCommServerTexts& t, bool blocked)
    {
        const char* op = blocked ? "BlockedHandler" : "NonBlockedHandler";
        char text[160];
        if (s.startupCode == 0) {
            std::snprintf(text, sizeof text, "%s::%s: startupCode is zero, this object is not initialized",
                          t.className, op);
            return s.Report(text);
        }
        if (s.running != 1) {
            std::snprintf(text, sizeof text, "%s::%s: running is FALSE, this object is not listening",
                          t.className, op);
            return s.Report(text);
        }
        int32_t accepted = 0;
        int32_t ok = blocked ? xBlockedListenHandler(s.listenSock, s.acceptedSock, &s.peerAddr, s.running,
                                                     accepted, &s.cryptData)
                             : xNonBlockedListenHandler(s.listenSock, s.acceptedSock, &s.peerAddr, s.running,
                                                        accepted, &s.cryptData);
        if (!ok) {
            std::snprintf(text, sizeof text, "%s::%s: %s returned FALSE", t.className, op,
                          blocked ? "xBlockedListenHandler" : "xNonBlockedListenHandler");
            return s.Report(text);
        }
        if (s.acceptedSock != INVALID_SOCKET && !s.ExecuteCallback()) {
            dprintf("%s::%s: connection was rejected (classname: %s objectname: %s)\n", t.className, op,
                    s.GetClassName(), s.GetObjName());
            xCloseSocket(s.acceptedSock);
        }
        return TRUE;
    }

    template <class S> static void StopListen(S& s, const SCommServerTexts& t)
    {
        if (s.startupCode == 0) {
            Say(s, t.stopNoStartup);
            return;
        }
        if (s.running != 1) {
            Say(s, t.stopNotRunning);
            return;
        }
        xStopListenSocket(s.listenSock, s.running, &s.cryptData);
    }

    template <class S> static int32_t Closedown(S& s, const SCommServerTexts& t)
    {
        s.closedDown = true;
        int32_t result = TRUE;
        if (s.listenSock != INVALID_SOCKET)
            xStopListenSocket(s.listenSock, s.running, &s.cryptData);
        xCloseSocket(s.acceptedSock);
        RemoveFromSocketList(s);
        if (s.startupCode != 0 && !xClosedownSockets(s.startupCode, &s.cryptData))
            result = Say(s, t.closedown);
        Unregister(s);
        return result;
    }
};

using Steps = SCommServerSteps;

// ---------------------------------------------------------------- local server

CCommLocalServer::~CCommLocalServer()
{
    if (!closedDown)
        Closedown();
}

int32_t CCommLocalServer::Startup() { return Steps::Startup(*this, kLocalTexts); }
int32_t CCommLocalServer::StartListen() { return Steps::StartListen(*this, kLocalTexts); }
int32_t CCommLocalServer::BlockedStartListenHandler(int32_t)
{
    return Steps::StartListenHandler(*this, kLocalTexts, true);
}
int32_t CCommLocalServer::NonBlockedStartListenHandler()
{
    return Steps::StartListenHandler(*this, kLocalTexts, false);
}
int32_t CCommLocalServer::BlockedHandler(int32_t) { return Steps::ListenHandler(*this, kLocalTexts, true); }
int32_t CCommLocalServer::NonBlockedHandler() { return Steps::ListenHandler(*this, kLocalTexts, false); }
void CCommLocalServer::StopListen() { Steps::StopListen(*this, kLocalTexts); }
int32_t CCommLocalServer::Closedown() { return Steps::Closedown(*this, kLocalTexts); }

// ---------------------------------------------------------------- remote server

CCommRemoteServer::~CCommRemoteServer()
{
    if (!closedDown)
        Closedown();
}

void CCommRemoteServer::SetEncryption(int32_t enable, const char* key, const char* cert)
{
    encryption = enable;
    keyFile = key;
    certFile = cert;
}

int32_t CCommRemoteServer::Startup() { return Steps::Startup(*this, kRemoteTexts); }
int32_t CCommRemoteServer::StartListen() { return Steps::StartListen(*this, kRemoteTexts); }
int32_t CCommRemoteServer::BlockedStartListenHandler(int32_t)
{
    return Steps::StartListenHandler(*this, kRemoteTexts, true);
}
int32_t CCommRemoteServer::NonBlockedStartListenHandler()
{
    return Steps::StartListenHandler(*this, kRemoteTexts, false);
}
int32_t CCommRemoteServer::BlockedHandler(int32_t) { return Steps::ListenHandler(*this, kRemoteTexts, true); }
int32_t CCommRemoteServer::NonBlockedHandler() { return Steps::ListenHandler(*this, kRemoteTexts, false); }
void CCommRemoteServer::StopListen() { Steps::StopListen(*this, kRemoteTexts); }
int32_t CCommRemoteServer::Closedown() { return Steps::Closedown(*this, kRemoteTexts); }
