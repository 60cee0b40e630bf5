// The relay proxy server: the listener with its restart after failures, the
// connections it owns, the statistics and history files, and the
// registration lists through which the frame's socket wait also watches
// proxy sockets. One process serves every connection; there are no threads.
//
// A failure of one connection (its TLS set-up, an allocation) ends that
// connection only. Accept failures that say nothing about the listener
// (the process ran out of descriptors, a client gave up before it was taken)
// pause accepting briefly instead of counting towards the give-up.
#include <tarvex/proxy.h>

#include <tarvex/error.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include "comm/proxyrecord.h"
#include "core/textcopy.h"
#include "platform/net.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

constexpr int32_t kMaxFailures = 40;
constexpr uint32_t kFailureForgetMs = 1800000;
constexpr uint32_t kRestartWaitMs = 30000;
constexpr uint32_t kStatisticsMs = 15000;
constexpr int32_t kHistoryLines = 20;
// How long accepting pauses after the process ran out of descriptors.
constexpr uint32_t kAcceptPauseMs = 250;

// A null text is stored as an empty one.
char* CopyText(const char* text) { return tvcore::CopyText(text != nullptr ? text : ""); }

using tvcore::FreeText;

int32_t Report(const char* text) { return xErrorTxt_Func(text, __FILE__, __LINE__); }

// Stores a copy of text in slot (null clears).
int32_t StoreText(char*& slot, const char* text)
{
    char* copy = nullptr;
    if (text != nullptr && (copy = CopyText(text)) == nullptr)
        return FALSE;
    FreeText(slot);
    slot = copy;
    return TRUE;
}

// Accept failures of the moment, after which the listener is still sound:
// out of descriptors or buffers, or a connection that went away before it
// was taken.
bool OutOfDescriptors(int32_t code) { return code == 10024 || code == 10055; }
bool TransientAcceptFailure(int32_t code)
{
    return code == 10053 || code == 10054 || code == 10050 || code == 10051 || code == 10064 ||
           code == 10065 || code == 10045 || code == 10042 || code == 71 /* EPROTO */ ||
           code == 64 /* ENONET */ || code == 10004;
}

int32_t ReadProxyConnection(void* object, uint32_t socks[2])
{
    return static_cast<const CProxyConnection*>(object)->WaitSockets(socks);
}

int32_t ReadProxyServer(void* object, uint32_t socks[2])
{
    uint32_t s = static_cast<const CCommProxyServer*>(object)->WaitSocket();
    if (s == INVALID_SOCKET)
        return 0;
    socks[0] = s;
    return 1;
}

int32_t RegListChange(const char* func, const char* listName, CLList* SGlobals::*member, void* object,
                      bool add)
{
    if (glb == nullptr)
        return xErrorf("%s:glb is NULL", func);
    CLList* list = glb->*member;
    if (list == nullptr)
        return xErrorf("%s:glb->%s is NULL", func, listName);
    if (add)
        return list->IfNotInsertLast(object) ? TRUE : FALSE;
    list->DeleteItem(object);
    return TRUE;
}

void FreeRanges(CLList& ranges)
{
    for (SLListNode* n = ranges.first; n != nullptr; n = n->next) {
        auto* r = static_cast<SProxyPortRange*>(n->data);
        FreeText(r->name);
        XFREE(r);
    }
    ranges.KillAll();
}

} // namespace

// ---------------------------------------------------------------- registration lists

int32_t ProxyConnection_Add(CProxyConnection* connection)
{
    xSetWaitSocketReader(XWAIT_PROXY_CONNECTION, ReadProxyConnection);
    return RegListChange("ProxyConnection_Add", "proxyConnRegList", &SGlobals::proxyConnRegList, connection,
                         true);
}

int32_t ProxyConnection_Remove(CProxyConnection* connection)
{
    return RegListChange("ProxyConnection_Remove", "proxyConnRegList", &SGlobals::proxyConnRegList,
                         connection, false);
}

int32_t ProxyServer_Add(CCommProxyServer* server)
{
    xSetWaitSocketReader(XWAIT_PROXY_SERVER, ReadProxyServer);
    return RegListChange("ProxyServer_Add", "proxyServRegList", &SGlobals::proxyServRegList, server, true);
}

int32_t ProxyServer_Remove(CCommProxyServer* server)
{
    return RegListChange("ProxyServer_Remove", "proxyServRegList", &SGlobals::proxyServRegList, server,
                         false);
}

// ---------------------------------------------------------------- settings

CCommProxyServer::CCommProxyServer() = default;

CCommProxyServer::~CCommProxyServer()
{
    if (startupCode != 0)
        Closedown();
    for (SLListNode* n = connections.first; n != nullptr; n = n->next) {
        auto* c = static_cast<CProxyConnection*>(n->data);
        XDELETE(c);
    }
    connections.KillAll();
    if (glb != nullptr && glb->proxyServRegList != nullptr)
        ProxyServer_Remove(this);
    FreeRanges(portRanges);
    for (SLListNode* n = history.first; n != nullptr; n = n->next)
        XFREE(n->data);
    history.KillAll();
    FreeText(name);
    FreeText(logFile);
    FreeText(historyLogFile);
    FreeText(keyFile);
    FreeText(certFile);
    FreeText(forwardHost);
}

int32_t CCommProxyServer::SetName(const char* text)
{
    return StoreText(name, text) ? TRUE : Report("CCommProxyServer::SetName: Out of memory.");
}

int32_t CCommProxyServer::SetLogFile(const char* text)
{
    return StoreText(logFile, text) ? TRUE : Report("CCommProxyServer::SetLogFile: Out of memory.");
}

int32_t CCommProxyServer::SetHistoryLogFile(const char* text)
{
    return StoreText(historyLogFile, text) ? TRUE
                                           : Report("CCommProxyServer::SetHistoryLogFile: Out of memory.");
}

int32_t CCommProxyServer::AddPortRange(const char* rangeName, int32_t firstPort, int32_t lastPort,
                                       int32_t extra)
{
    if (!xProxyAddPortRange(portRanges, rangeName, firstPort, lastPort, extra))
        return Report("Out of memory.");
    return TRUE;
}

int32_t CCommProxyServer::SetIncomingEncryption(int32_t enable, const char* key, const char* cert)
{
    if (key == nullptr || cert == nullptr)
        return Report("CCommProxyServer::SetIncomingEncryption: Input parameters is incorrect.");
    if (!xProxyStoreTlsFiles(keyFile, certFile, key, cert))
        return Report("CCommProxyServer::SetIncomingEncryption: Out of memory.");
    incomingEncryption = enable;
    return TRUE;
}

int32_t CCommProxyServer::SetOutgoingEncryption(int32_t enable)
{
    outgoingEncryption = enable;
    return TRUE;
}

int32_t CCommProxyServer::SetOnErrorForward(int32_t enable, const char* host, int32_t port)
{
    if (enable && host == nullptr)
        return Report(
            "CCommProxyServer::SetOnErrorForward: onErrorForwardFlag is TRUE but the ipIn is false.");
    if (enable && (port <= 0 || port > 65535))
        return Report("CCommProxyServer::SetOnErrorForward: Port is out of range.");
    if (!StoreText(forwardHost, host))
        return Report("CCommProxyServer::SetOnErrorForward: Out of memory.");
    forwardPort = port;
    forwardFlag = enable;
    return TRUE;
}

int32_t CCommProxyServer::SetProxyProtocol(int32_t enable)
{
    proxyProtocol = enable ? 1 : 0;
    return TRUE;
}

void CCommProxyServer::SetProcessSpawnCallback(void (*callback)(void)) { spawnCallback = callback; }

uint16_t CCommProxyServer::GetBoundPort() const { return ntohs(listenAddress.sin_port); }

uint32_t CCommProxyServer::WaitSocket() const
{
    if (!listening || restartMode || acceptPaused)
        return INVALID_SOCKET;
    return listenSocket;
}

// ---------------------------------------------------------------- start and stop

int32_t CCommProxyServer::Startup(uint16_t port, int32_t processes)
{
    listenPort = port;
    createProcesses = processes;
    if (!xStartupSockets(startupCode, 0, &cryptData))
        return FALSE;
    if (!xStartListenSocket(port, listenSocket, &listenAddress, &cryptData))
        return Report("CCommProxyServer::Startup: xStartListenSocket failed.");
    int32_t running = 0;
    uint32_t none = INVALID_SOCKET;
    while (!running)
        if (!xNonBlockedStartListenHandler(listenSocket, none, running, &cryptData))
            return Report("CCommProxyServer::Startup: xStartListenSocket failed.");
    listening = 1;
    if (glb != nullptr && glb->proxyServRegList != nullptr)
        ProxyServer_Add(this);

    char ranges[512];
    const char* rangeText = "port range: Accepts any outgoing port.";
    if (portRanges.first != nullptr) {
        uint32_t used = static_cast<uint32_t>(
            std::snprintf(ranges, sizeof ranges, "port range: Accepts outgoing connects on"));
        for (const SLListNode* n = portRanges.first; n != nullptr && used < sizeof ranges; n = n->next) {
            const auto* r = static_cast<const SProxyPortRange*>(n->data);
            used += static_cast<uint32_t>(
                std::snprintf(ranges + used, sizeof ranges - used, " [port %ld to port %ld]",
                              static_cast<long>(r->firstPort), static_cast<long>(r->lastPort)));
        }
        rangeText = ranges;
    }
    dprintf(
        "\n-ProxyServer\n-\nStartup parameters\n\tname: %s\n\tlistenport: %ld\n\tcreating new processes: "
        "%ld\n\tlogfile: %s\n\thistorylogfile: %s\n\tencrypt incoming: %s\n\tencrypt outgoing: %s\n\t%s.\n",
        name != nullptr ? name : "", static_cast<long>(GetBoundPort()), static_cast<long>(createProcesses),
        logFile != nullptr ? logFile : "", historyLogFile != nullptr ? historyLogFile : "",
        incomingEncryption ? "Yes" : "No", outgoingEncryption ? "Yes" : "No", rangeText);
    if (proxyProtocol)
        dprintf("\tPROXY protocol header: required.\n");
    return TRUE;
}

int32_t CCommProxyServer::Closedown()
{
    if (startupCode == 0)
        return Report("CCommProxyServer::Closedown: startupCode is zero, the object is not initialized.");
    if (listening) {
        listening = 0;
        int32_t running = 1;
        xStopListenSocket(listenSocket, running, &cryptData);
        if (!xClosedownSockets(startupCode, &cryptData))
            return Report("CCommProxyServer::Closedown: xClosedownSocket failed.");
    }
    return TRUE;
}

// ---------------------------------------------------------------- rounds

int32_t CCommProxyServer::Handler(int32_t& finished)
{
    finished = 0;
    previousListening = listening;
    LookAtSockets();
    int32_t listened = !listening || ListenHandler();
    listenIdle = 0;
    if (!listened)
        return Report("CCommProxyServer::ListenHandler returned FALSE, quit.");

    CLList deleteList;
    for (SLListNode* n = connections.first; n != nullptr; n = n->next) {
        auto* c = static_cast<CProxyConnection*>(n->data);
        if (!c->Handler() && !deleteList.InsertLast(c))
            return Report("CCommProxyServer::deleteList.InsertLast failed.");
    }
    for (SLListNode* n = deleteList.first; n != nullptr; n = n->next) {
        auto* c = static_cast<CProxyConnection*>(n->data);
        connections.DeleteItem(c);
        XDELETE(c);
    }
    LogInfo();
    if (connections.first == nullptr && !listening)
        finished = 1;
    return TRUE;
}

void CCommProxyServer::LookAtSockets()
{
    // One system call tells which sockets have something: idle sides are
    // not read and an idle listener is not asked to accept, which matters
    // with many connections and keeps the round trip short with few.
    static std::vector<uint32_t> socks;
    static std::vector<uint8_t> ready;
    socks.clear();
    socks.push_back(listening && !restartMode ? listenSocket : INVALID_SOCKET);
    for (const SLListNode* n = connections.first; n != nullptr; n = n->next) {
        auto* c = static_cast<CProxyConnection*>(n->data);
        socks.push_back(*c->GetClientSocketPtr());
        socks.push_back(*c->GetServerSocketPtr());
    }
    ready.resize(socks.size());
    if (!tvp::PollReadable(socks.data(), static_cast<uint32_t>(socks.size()), ready.data()))
        return;
    listenIdle = socks[0] != INVALID_SOCKET && !ready[0] ? 1 : 0;
    size_t i = 1;
    for (const SLListNode* n = connections.first; n != nullptr; n = n->next, i += 2)
        static_cast<CProxyConnection*>(n->data)->SetReadiness(socks[i], ready[i], socks[i + 1], ready[i + 1]);
}

int32_t CCommProxyServer::ListenFailed(const char* giveUp, const char* retry)
{
    if (failureCount > kMaxFailures)
        return Report(giveUp);
    Report(retry);
    ++failureCount;
    lastFailureTime = restartTime = xGetTime();
    restartMode = 1;
    return TRUE;
}

int32_t CCommProxyServer::ListenHandler()
{
    if (!listening)
        return TRUE;
    uint32_t now = xGetTime();
    if (failureCount > 0 && xTimeDiff(lastFailureTime, now) > kFailureForgetMs)
        failureCount = 0;
    if (restartMode)
        return Restart();
    if (acceptPaused) {
        if (xTimeDiff(acceptPauseStart, now) < kAcceptPauseMs)
            return TRUE;
        acceptPaused = 0;
    }
    if (listenIdle)
        return TRUE;

    uint32_t newSock = INVALID_SOCKET;
    sockaddr_in peer{};
    int32_t running = 1, accepted = 0;
    if (!xNonBlockedListenHandler(listenSocket, newSock, &peer, running, accepted, &cryptData)) {
        int32_t code = tvp::LastError();
        if (listenSocket != INVALID_SOCKET && OutOfDescriptors(code)) {
            dprintf("CCommProxyServer::ListenHandler: Out of descriptors, accepting again shortly.\n");
            acceptPaused = 1;
            acceptPauseStart = now;
            return TRUE;
        }
        if (listenSocket != INVALID_SOCKET && TransientAcceptFailure(code))
            return TRUE;
        return ListenFailed(
            "CCommProxyServer::ListenHandler: xNonBlockedListenHandler returned FALSE. Giving up.",
            "CCommProxyServer::ListenHandler: xNonBlockedListenHandler returned FALSE. Waiting a "
            "while before retrying.");
    }
    if (!accepted || newSock == INVALID_SOCKET)
        return TRUE;
    return TakeConnection(newSock, peer);
}

int32_t CCommProxyServer::Restart()
{
    uint32_t now = xGetTime();
    if (xTimeDiff(restartTime, now) <= kRestartWaitMs)
        return TRUE;
    dprintf("Trying to restart proxyserver\n");
    // The port bound first: a listener started on port 0 keeps its port.
    uint16_t port = listenPort != 0 ? listenPort : GetBoundPort();
    sockaddr_in addr{};
    if (!xStartListenSocket(port, listenSocket, &addr, &cryptData)) {
        if (failureCount > kMaxFailures)
            return Report("CCommProxyServer::Startup: xStartListenSocket failed. Giving up.");
        ++failureCount;
        lastFailureTime = restartTime = now;
        Report("CCommProxyServer::Startup: xStartListenSocket failed. Waiting a while before retrying.");
        return TRUE;
    }
    listenAddress = addr;
    restartMode = 0;
    int32_t running = 0;
    uint32_t none = INVALID_SOCKET;
    while (!running)
        if (!xNonBlockedStartListenHandler(listenSocket, none, running, &cryptData))
            return Report("CCommProxyServer::Startup: xStartListenSocket failed.");
    return TRUE;
}

int32_t CCommProxyServer::TakeConnection(uint32_t sock, const sockaddr_in& peer)
{
    if (createProcesses) {
        int32_t handleHere = 0, other = 0;
        if (!TryCreateNewProcess(handleHere, other)) {
            xCloseSocket(sock);
            return Report("CommProxyHandler::ListenHandler: Unable to create a new process.");
        }
        if (handleHere == 0) {
            // The new process serves this one connection and listens no more.
            if (spawnCallback != nullptr)
                spawnCallback();
            char title[XAPPNAME_SIZE + 8];
            std::snprintf(title, sizeof title, "%s|CHLD", GetApplicationName());
            SetApplicationName(title);
            listening = 0;
            int32_t running = 1;
            xStopListenSocket(listenSocket, running, &cryptData);
        } else if (handleHere != 1 && other != 0) {
            xCloseSocket(sock);
            return TRUE;
        }
    }

    auto* c = XNEW(CProxyConnection, sock, this, createProcesses);
    if (c == nullptr) {
        xCloseSocket(sock);
        Report("CCommProxyServer::ListenHandler: Out of memory.");
        return TRUE;
    }
    ++totalConnections;
    char address[32];
    const auto* b = reinterpret_cast<const uint8_t*>(&peer.sin_addr.s_addr);
    std::snprintf(address, sizeof address, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    c->SetClientInfo(address);
    for (const SLListNode* n = portRanges.first; n != nullptr; n = n->next) {
        const auto* r = static_cast<const SProxyPortRange*>(n->data);
        if (!c->AddPortRange(r->name, r->firstPort, r->lastPort, r->extra)) {
            XDELETE(c);
            return Report("CProxyConnection::AddPortRange failed.");
        }
    }
    if (incomingEncryption)
        c->SetIncomingEncryption(incomingEncryption, keyFile, certFile);
    if (outgoingEncryption)
        c->SetOutgoingEncryption(outgoingEncryption);
    c->SetProxyProtocol(proxyProtocol);
    if (!c->SetOnErrorForward(forwardFlag, forwardHost, forwardPort)) {
        XDELETE(c);
        return Report("CProxyConnection::SetOnErrorForward failed.");
    }
    // A connection that cannot start (a client whose TLS set-up failed) is
    // dropped; the server goes on.
    if (!c->Startup()) {
        XDELETE(c);
        Report("CProxyConnection::Startup failed.");
        return TRUE;
    }
    if (!connections.InsertLast(c)) {
        XDELETE(c);
        Report("CCommProxyServer::ListenHandler: Out of memory.");
    }
    return TRUE;
}

// ---------------------------------------------------------------- statistics and history

int32_t CCommProxyServer::LogInfo()
{
    if (createProcesses || logFile == nullptr)
        return TRUE;
    uint32_t now = xGetTime();
    if (!statisticsStarted) {
        statisticsStarted = 1;
        statisticsTime = now;
        return TRUE;
    }
    if (xTimeDiff(statisticsTime, now) <= kStatisticsMs)
        return TRUE;
    statisticsTime = now;
    CFile file;
    if (!file.Open(logFile, XFILE_WRITE | XFILE_CREATE_DIRS))
        return FALSE;
    file.Print("Proxyserver statistics.\n\n\nNumber of connections: %lu\n\n",
               static_cast<unsigned long>(connections.GetNumNodes()));
    unsigned long i = 1;
    for (const SLListNode* n = connections.first; n != nullptr; n = n->next, ++i) {
        const auto* c = static_cast<const CProxyConnection*>(n->data);
        uint64_t s2c = c->GetServerToClientBytes64(), c2s = c->GetClientToServerBytes64();
        file.Print("%lu clientIp: %s serverIp: %s \t Transfeered: server->client: %" PRIu64
                   " client->server: %" PRIu64 " total: %" PRIu64 ".\n",
                   i, c->GetClientIp(), c->GetServerHost(), s2c, c2s, s2c + c2s);
    }
    file.Print(
        "Total number of connections: %lu\nTotal number of bytes transfeered from server to client: %" PRIu64
        "\nTotal number of bytes transfeered from client to server: %" PRIu64
        "\nTotal number of bytes transfeered: %" PRIu64 ".\n",
        static_cast<unsigned long>(totalConnections), serverToClientBytes, clientToServerBytes,
        serverToClientBytes + clientToServerBytes);
    file.Close();
    return TRUE;
}

int32_t CCommProxyServer::AddHistoryConnection(CProxyConnection* c)
{
    if (createProcesses || c == nullptr)
        return TRUE;
    uint64_t s2c = c->GetServerToClientBytes64(), c2s = c->GetClientToServerBytes64();
    int n =
        std::snprintf(nullptr, 0,
                      "client ip:%s server ip:%s:%lu connecttime: %s disconnecttime: %s Transfeered: "
                      "server->client: %" PRIu64 " client->server: %" PRIu64 " total: %" PRIu64 ".\n",
                      c->GetClientIp(), c->GetServerHost(), static_cast<unsigned long>(c->GetServerPort()),
                      c->GetConnectTime(), c->GetDisconnectTime(), s2c, c2s, s2c + c2s);
    auto* line = static_cast<char*>(XALLOC(static_cast<uint32_t>(n) + 1));
    if (line == nullptr)
        return Report("CCommProxyServer::AddHistoryConnection: Out of memory.");
    std::snprintf(line, static_cast<size_t>(n) + 1,
                  "client ip:%s server ip:%s:%lu connecttime: %s disconnecttime: %s Transfeered: "
                  "server->client: %" PRIu64 " client->server: %" PRIu64 " total: %" PRIu64 ".\n",
                  c->GetClientIp(), c->GetServerHost(), static_cast<unsigned long>(c->GetServerPort()),
                  c->GetConnectTime(), c->GetDisconnectTime(), s2c, c2s, s2c + c2s);
    if (!history.InsertLast(line)) {
        XFREE(line);
        return Report("CCommProxyServer::AddHistoryConnection: Out of memory.");
    }
    while (history.GetNumNodes() > kHistoryLines) {
        XFREE(history.first->data);
        history.Unlink(history.first);
    }
    if (historyLogFile != nullptr) {
        CFile file;
        if (!xFileExists(historyLogFile))
            xCreateDirsForFile(historyLogFile);
        if (!file.Open(historyLogFile, XFILE_APPEND))
            return FALSE;
        file.Print("%s", line);
        file.Close();
    }
    return TRUE;
}
