// One relayed connection of the proxy server, and the chunks it queues. A
// connection waits for the client's location record, connects to the
// destination it names (or to the fallback), then copies bytes both ways,
// 4096 at a time per side and round, until one side has gone and everything
// queued for the other has been delivered.
//
// Bounded on purpose: a side is not read while more than PROXY_QUEUE_LIMIT
// bytes wait for the other side (a peer that does not read cannot make the
// proxy's memory grow), and delivering what is left after one side went away
// ends after PROXY_DRAIN_LIMIT_MS. Byte counts are 64-bit inside.
//
// Behind a load balancer the connection first takes the balancer's address
// header (when the listener asks for it), in the clear and before any TLS
// of the client's, read no further than the header's end and under the
// location record's time-out; a connection without a valid one is closed.
#include <tarvex/proxy.h>

#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include "core/textcopy.h"
#include "comm/proxyheader.h"
#include "comm/proxyrecord.h"
#include "platform/net.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace
{

// The relay lingers this long after it is done before closing, and the
// closing states take as long again.
constexpr uint32_t kDoneWaitMs = 2000;
constexpr uint32_t kStateStepMs = 1000;
constexpr uint32_t kLocationTimeoutMs = 15000;
constexpr uint32_t kConnectTimeoutMs = 15000;
// The address header comes under the same time-out as the record after it.
constexpr uint32_t kHeaderTimeoutMs = kLocationTimeoutMs;
// The header buffer's first size: every text header, and binary ones up to
// a socket path's addresses without extensions; longer binary headers
// (at most 16 + 65535 bytes) grow it to their length.
constexpr uint32_t kHeaderBufferSize = 232;
// Reads of the header in one round: the text form is read a few bytes at a
// time so as not to pass its end, so a whole one may take a few dozen.
constexpr int32_t kHeaderReadsPerRound = 128;

// The first connection of the process to finish waits the full time.
bool g_closeDownInit = false;

// A null text is stored as an empty one.
char* CopyText(const char* text) { return tvcore::CopyText(text != nullptr ? text : ""); }

using tvcore::FreeText;

int32_t Report(const char* text) { return xErrorTxt_Func(text, __FILE__, __LINE__); }

} // namespace

// ---------------------------------------------------------------- CProxyData

CProxyData::~CProxyData() { Clear(); }

void CProxyData::Clear()
{
    FreeText(host);
    FreeText(data);
    port = 0;
    size = 0;
    type = 0;
}

int32_t CProxyData::SetTypeConnect(const char* hostName, uint16_t portNumber)
{
    Clear();
    host = CopyText(hostName);
    if (host == nullptr)
        return FALSE;
    port = portNumber;
    type = PROXYDATA_CONNECT;
    return TRUE;
}

int32_t CProxyData::SetTypeDisconnect()
{
    Clear();
    type = PROXYDATA_DISCONNECT;
    return TRUE;
}

int32_t CProxyData::SetTypeData(const char* bytes, uint32_t n)
{
    Clear();
    if (bytes == nullptr && n != 0)
        return FALSE;
    data = static_cast<char*>(XALLOC(n == 0 ? 1 : n));
    if (data == nullptr)
        return FALSE;
    if (n != 0)
        std::memcpy(data, bytes, n);
    size = n;
    type = PROXYDATA_DATA;
    return TRUE;
}

int32_t CProxyData::GetTypeConnect(char*& hostOut, uint16_t& portOut) const
{
    if (type != PROXYDATA_CONNECT)
        return FALSE;
    char* copy = CopyText(host);
    if (copy == nullptr)
        return FALSE;
    hostOut = copy;
    portOut = port;
    return TRUE;
}

int32_t CProxyData::GetTypeData(char*& out, uint32_t& n) const
{
    if (type != PROXYDATA_DATA || data == nullptr)
        return FALSE;
    auto* copy = static_cast<char*>(XALLOC(size == 0 ? 1 : size));
    if (copy == nullptr)
        return FALSE;
    std::memcpy(copy, data, size);
    out = copy;
    n = size;
    return TRUE;
}

int32_t CProxyData::TakeTypeData(char*& out, uint32_t& n)
{
    if (type != PROXYDATA_DATA || data == nullptr)
        return FALSE;
    out = data;
    n = size;
    data = nullptr;
    size = 0;
    return TRUE;
}

// ---------------------------------------------------------------- construction and settings

CProxyConnection::CProxyConnection(uint32_t sock, CCommProxyServer* owner, int32_t title)
    : server(owner), clientSocket(sock), processTitle(title)
{
    stateTime = xGetTime();
    connectTime = GetFormattedDateString();
    std::memset(static_cast<void*>(&location), 0, sizeof location);
}

CProxyConnection::~CProxyConnection()
{
    if (clientSocket != INVALID_SOCKET || serverSocket != INVALID_SOCKET || clientStartupCode != 0 ||
        serverStartupCode != 0)
        Closedown();
    if (glb != nullptr && glb->proxyConnRegList != nullptr)
        ProxyConnection_Remove(this);
    FreeQueue(toClient, queuedForClient);
    FreeQueue(toServer, queuedForServer);
    for (SLListNode* n = portRanges.first; n != nullptr; n = n->next) {
        auto* r = static_cast<SProxyPortRange*>(n->data);
        FreeText(r->name);
        XFREE(r);
    }
    portRanges.KillAll();
    FreeText(serverHost);
    FreeText(clientAddress);
    FreeText(connectTime);
    FreeText(disconnectTime);
    FreeText(forwardHost);
    FreeText(keyFile);
    FreeText(certFile);
    if (headerBuffer != nullptr)
        XFREE(headerBuffer);
    // Closedown also released the sides' TLS state.
}

int32_t CProxyConnection::AddPortRange(const char* rangeName, int32_t firstPort, int32_t lastPort,
                                       int32_t extra)
{
    if (!xProxyAddPortRange(portRanges, rangeName, firstPort, lastPort, extra))
        return Report("Out of memory.");
    portRangesInForce = 1;
    return TRUE;
}

int32_t CProxyConnection::SetIncomingEncryption(int32_t enable, const char* key, const char* cert)
{
    if (key == nullptr || cert == nullptr)
        return Report("CProxyConnection::SetIncomingEncryption: Input parameters is incorrect.");
    if (!xProxyStoreTlsFiles(keyFile, certFile, key, cert))
        return Report("CProxyConnection::SetIncomingEncryption: Out of memory.");
    incomingEncryption = enable;
    return TRUE;
}

int32_t CProxyConnection::SetOutgoingEncryption(int32_t enable)
{
    outgoingEncryption = enable;
    return TRUE;
}

int32_t CProxyConnection::SetOnErrorForward(int32_t enable, const char* host, int32_t port)
{
    if (enable && host == nullptr)
        return Report(
            "CProxyConnection::SetOnErrorForward: onErrorForwardFlag is TRUE but the ipIn is false.");
    if (enable && (port <= 0 || port > 65535))
        return Report("CProxyConnection::SetOnErrorForward: Port is out of range.");
    char* copy = nullptr;
    if (host != nullptr && (copy = CopyText(host)) == nullptr)
        return Report("CProxyConnection::SetOnErrorForward: Out of memory.");
    FreeText(forwardHost);
    forwardHost = copy;
    forwardPort = port;
    forwardFlag = enable;
    return TRUE;
}

int32_t CProxyConnection::SetProxyProtocol(int32_t enable)
{
    proxyProtocol = enable ? 1 : 0;
    return TRUE;
}

int32_t CProxyConnection::SetServerInfo(const char* host, uint32_t port)
{
    char* copy = CopyText(host);
    if (copy == nullptr)
        return Report("CProxyConnection::SetServerInfo: Out of memory.");
    FreeText(serverHost);
    serverHost = copy;
    serverPort = port;
    return TRUE;
}

int32_t CProxyConnection::SetClientInfo(const char* address)
{
    char* copy = CopyText(address);
    if (copy == nullptr)
        return Report("CProxyConnection::SetClientInfo: Out of memory.");
    FreeText(clientAddress);
    clientAddress = copy;
    return TRUE;
}

int32_t CProxyConnection::ShouldForward(const CProxyLocation& record, uint32_t received) const
{
    return (forwardFlag && received >= 4 && !record.HeaderOk()) ? TRUE : FALSE;
}

char* CProxyConnection::GetFormattedDateString()
{
    int32_t sec, min, hour, mday, mon, year, wday, yday, isdst;
    if (!xGetDateInfo(sec, min, hour, mday, mon, year, wday, yday, isdst))
        return nullptr;
    char text[80];
    std::snprintf(text, sizeof text, "%lu-%lu-%lu %lu:%lu:%lu", static_cast<unsigned long>(year),
                  static_cast<unsigned long>(mon), static_cast<unsigned long>(mday),
                  static_cast<unsigned long>(hour), static_cast<unsigned long>(min),
                  static_cast<unsigned long>(sec));
    return CopyText(text);
}

// ---------------------------------------------------------------- start and stop

int32_t CProxyConnection::Startup()
{
    if (!xStartupSockets(clientStartupCode, 1, &clientCrypt))
        return Report("CProxyConnection::Startup: xStartupSockets returned FALSE.");
    if (!xStartupSockets(serverStartupCode, 1, &serverCrypt))
        return Report("CProxyConnection::Startup: xStartupSockets returned FALSE.");
    if (proxyProtocol) {
        // The header comes first and in the clear; TLS starts after it.
        headerBuffer = static_cast<uint8_t*>(XALLOC(kHeaderBufferSize));
        if (headerBuffer == nullptr)
            return Report("CProxyConnection::Startup: Out of memory.");
        headerCapacity = kHeaderBufferSize;
        state = PROXYCONN_WAIT_HEADER;
    } else if (!StartIncomingTls()) {
        return FALSE;
    }
    if (!MakeSocketNonBlocking(clientSocket, clientConnected, &clientCrypt))
        return FALSE;
    // The relay adds no delay of its own: what a side writes goes on at once.
    tvp::SetNoDelay(clientSocket, true);
    if (outgoingEncryption && !xSetClientEncryption(&serverCrypt))
        return FALSE;
    stateTime = xGetTime();
    if (glb != nullptr && glb->proxyConnRegList != nullptr)
        ProxyConnection_Add(this);
    return TRUE;
}

int32_t CProxyConnection::StartIncomingTls()
{
    if (!incomingEncryption) {
        dprintf("Making a new non-encrypted connection to proxy.\n");
        return TRUE;
    }
    // A client that cannot set up TLS is not served in the clear.
    return xMakeGivenServerSocketEncrypted(clientSocket, keyFile, certFile, &clientCrypt) &&
                   clientCrypt.ssl != nullptr
               ? TRUE
               : FALSE;
}

int32_t CProxyConnection::Closedown()
{
    if (clientCrypt.initialised)
        xDisconnectSocket(clientSocket, clientConnected, &clientCrypt);
    else
        xCloseSocket(clientSocket);
    if (serverCrypt.initialised)
        xDisconnectSocket(serverSocket, serverConnected, &serverCrypt);
    else
        xCloseSocket(serverSocket);
    clientSocket = serverSocket = INVALID_SOCKET;
    if (clientStartupCode != 0)
        xClosedownSockets(clientStartupCode, &clientCrypt);
    if (serverStartupCode != 0)
        xClosedownSockets(serverStartupCode, &serverCrypt);
    clientConnected = serverConnected = 0;
    FreeText(toServerBuffer);
    FreeText(toClientBuffer);
    toServerSize = toServerSent = toClientSize = toClientSent = 0;
    return TRUE;
}

int32_t CProxyConnection::ConnectionError(const char* text)
{
    Closedown();
    xErrorTxt_Func(text, __FILE__, __LINE__);
    return FALSE;
}

void CProxyConnection::EnterState(int32_t newState)
{
    state = newState;
    substate = 0;
    stateTime = xGetTime();
}

void CProxyConnection::FreeQueue(CLList& queue, uint32_t& queued)
{
    for (SLListNode* n = queue.first; n != nullptr; n = n->next) {
        auto* d = static_cast<CProxyData*>(n->data);
        XDELETE(d);
    }
    queue.KillAll();
    queued = 0;
}

const char* CProxyConnection::PortRangeText(char* buf, uint32_t size) const
{
    if (!portRangesInForce)
        return "port range: Accepts any outgoing port.";
    uint32_t used =
        static_cast<uint32_t>(std::snprintf(buf, size, "port range: Accepts outgoing connects on"));
    for (const SLListNode* n = portRanges.first; n != nullptr && used < size; n = n->next) {
        const auto* r = static_cast<const SProxyPortRange*>(n->data);
        used += static_cast<uint32_t>(std::snprintf(buf + used, size - used, " [port %ld to port %ld]",
                                                    static_cast<long>(r->firstPort),
                                                    static_cast<long>(r->lastPort)));
    }
    return buf;
}

int32_t CProxyConnection::WaitSockets(uint32_t socks[2]) const
{
    if ((state < PROXYCONN_WAIT_LOCATION || state > PROXYCONN_ROUTING) && state != PROXYCONN_WAIT_HEADER)
        return 0;
    int32_t n = 0;
    // A side whose reading is paused is left out, or its unread bytes would
    // wake the wait at once, round after round.
    bool routing = state == PROXYCONN_ROUTING;
    if (clientConnected && clientSocket != INVALID_SOCKET &&
        !(routing && queuedForServer > PROXY_QUEUE_LIMIT))
        socks[n++] = clientSocket;
    if (serverSocket != INVALID_SOCKET && (state == PROXYCONN_CONNECTING || serverConnected) &&
        !(routing && queuedForClient > PROXY_QUEUE_LIMIT))
        socks[n++] = serverSocket;
    return n;
}

// ---------------------------------------------------------------- the states

void CProxyConnection::SetReadiness(uint32_t clientSock, int32_t clientReady, uint32_t serverSock,
                                    int32_t serverReady)
{
    lookedClient = clientSock;
    lookedServer = serverSock;
    clientIdle = clientReady ? 0 : 1;
    serverIdle = serverReady ? 0 : 1;
}

bool CProxyConnection::Idle(bool serverSide) const
{
    if (serverSide)
        return serverSocket != INVALID_SOCKET && serverSocket == lookedServer && serverIdle &&
               !serverCrypt.encrypted;
    return clientSocket != INVALID_SOCKET && clientSocket == lookedClient && clientIdle &&
           !clientCrypt.encrypted;
}

int32_t CProxyConnection::Handler()
{
    int32_t result = Step();
    // A look holds for one round only.
    lookedClient = lookedServer = INVALID_SOCKET;
    return result;
}

int32_t CProxyConnection::Step()
{
    switch (state) {
    case PROXYCONN_WAIT_HEADER:
        return WaitForHeader();
    case PROXYCONN_WAIT_LOCATION:
        return WaitForLocation();
    case PROXYCONN_CONNECTING:
        return ConnectToServer();
    case PROXYCONN_ROUTING:
        return RouteData();
    case PROXYCONN_CLOSING:
        EnterState(PROXYCONN_CLOSEDOWN);
        return TRUE;
    case PROXYCONN_CLOSEDOWN:
        if (xTimeDiff(stateTime, xGetTime()) > kStateStepMs) {
            Closedown();
            state = PROXYCONN_LINGER;
        }
        return TRUE;
    case PROXYCONN_LINGER:
        if (xTimeDiff(stateTime, xGetTime()) > 2 * kStateStepMs)
            state = PROXYCONN_FINISHED;
        return TRUE;
    default:
        return FALSE;
    }
}

int32_t CProxyConnection::WaitForHeader()
{
    SProxyHeader header;
    xProxyReadHeader(headerBuffer, headerReceived, header);
    // Only what the header still needs is read: the bytes behind it are the
    // client's own (its location record, or its TLS hello).
    for (int32_t i = 0; header.result == PROXYHDR_MORE && i < kHeaderReadsPerRound; ++i) {
        if (i == 0 && Idle(false))
            break;
        uint32_t wanted = headerReceived + header.wanted;
        if (wanted > headerCapacity) {
            auto* grown = static_cast<uint8_t*>(XALLOC(wanted));
            if (grown == nullptr)
                return ConnectionError("CProxyConnection(Wait for header): Out of memory.\n");
            std::memcpy(grown, headerBuffer, headerReceived);
            XFREE(headerBuffer);
            headerBuffer = grown;
            headerCapacity = wanted;
        }
        uint32_t before = headerReceived, none = 0;
        auto* into = reinterpret_cast<char*>(headerBuffer);
        if (!xSocketHandler(clientSocket, clientConnected, into, headerReceived, wanted, nullptr, none, 0,
                            &clientCrypt) ||
            !clientConnected)
            return ConnectionError("CProxyConnection(Wait for header): Lost connection to client.\n");
        if (headerReceived == before)
            break;
        xProxyReadHeader(headerBuffer, headerReceived, header);
    }

    if (header.result == PROXYHDR_INVALID)
        return ConnectionError(
            "CProxyConnection(Wait for header): Not a valid PROXY protocol header. Dropping connection.\n");
    if (header.result == PROXYHDR_MORE) {
        if (xTimeDiff(stateTime, xGetTime()) > kHeaderTimeoutMs)
            return ConnectionError(
                "CProxyConnection(Wait for header): Timeout, didn't receive the PROXY protocol header.\n");
        return TRUE;
    }
    // A header that names nobody (a balancer's health check) leaves the
    // connection's own address.
    if (header.hasAddress && !SetClientInfo(header.sourceText))
        return ConnectionError("CProxyConnection(Wait for header): Out of memory.\n");
    XFREE(headerBuffer);
    headerBuffer = nullptr;
    headerReceived = headerCapacity = 0;
    if (!StartIncomingTls())
        return ConnectionError("CProxyConnection(Wait for header): Unable to start TLS with the client.\n");
    EnterState(PROXYCONN_WAIT_LOCATION);
    // The record may have come with the header.
    return WaitForLocation();
}

int32_t CProxyConnection::WaitForLocation()
{
    if (!clientConnected)
        return ConnectionError("CProxyConnection(Wait for IP/port): Lost connection to client "
                               "(clientConnected flag is FALSE).\n");
    uint32_t none = 0;
    if (!Idle(false) &&
        !xSocketHandler(clientSocket, clientConnected, reinterpret_cast<char*>(&location), locationReceived,
                        PROXY_LOCATION_SIZE, nullptr, none, 0, &clientCrypt))
        return ConnectionError("CProxyConnection(Wait for IP/port): Lost connection to client "
                               "(xBlockedHandler returned FALSE).\n");
    if (!clientConnected)
        return ConnectionError("CProxyConnection(Wait for IP/port): Lost connection to client "
                               "(clientConnected flag is FALSE).\n");

    SProxyRecordDecision d;
    xProxyReadLocation(location, locationReceived, forwardFlag, &portRanges, portRangesInForce, d);
    switch (d.action) {
    case PROXYREC_FORWARD:
        return StartForward();
    case PROXYREC_DROP:
        return ConnectionError(d.message);
    case PROXYREC_MORE:
        if (xTimeDiff(stateTime, xGetTime()) > kLocationTimeoutMs)
            return ConnectionError(
                "CProxyConnection(Wait for IP/port): Timeout, didn't receive initial remote IP/port.\n");
        return TRUE;
    default:
        break;
    }

    if (processTitle) {
        const char* rangeName = d.range != nullptr ? d.range->name : "";
        size_t n = std::strlen(GetApplicationName()) + 1 + std::strlen(rangeName) + 1;
        auto* title = static_cast<char*>(XALLOC(n));
        if (title == nullptr) {
            XFREE(d.host);
            return ConnectionError("CProxyConnection(Wait for IP/port): Out of memory.\n");
        }
        std::snprintf(title, n, "%s|%s", GetApplicationName(), rangeName);
        SetApplicationName(title);
        XFREE(title);
    }
    if (!xConnectSocket(d.host, d.port, nullptr, 0, serverSocket, &serverAddress, &serverCrypt)) {
        XFREE(d.host);
        return ConnectionError("CProxyConnection(Wait for IP/port): xConnectSocket failed.\n");
    }
    char ranges[512];
    dprintf(
        "\n-\nProxy connection\n-\n\tserver ip: %s\n\tserver port: %lu\n\tclient ip: %s\n\tencrypt incoming: "
        "%s\n\tencrypt outgoing: %s\n\t%s.\n",
        d.host, static_cast<unsigned long>(d.port), GetClientIp(), incomingEncryption ? "Yes" : "No",
        outgoingEncryption ? "Yes" : "No", PortRangeText(ranges, sizeof ranges));
    int32_t ok = SetServerInfo(d.host, d.port);
    XFREE(d.host);
    if (!ok)
        return ConnectionError("CProxyConnection(Wait for IP/port): Out of memory.\n");
    EnterState(PROXYCONN_CONNECTING);
    return TRUE;
}

int32_t CProxyConnection::StartForward()
{
    if (!xConnectSocket(forwardHost, static_cast<uint16_t>(forwardPort), nullptr, 0, serverSocket,
                        &serverAddress, &serverCrypt))
        return ConnectionError("CProxyConnection(Wait for IP/port): xConnectSocket failed.\n");
    dprintf("CProxyConnection(Wait for IP/port): Not a valid header, forwarding to IP: %s Port: %lu\n",
            forwardHost, static_cast<unsigned long>(forwardPort));
    if (!SetServerInfo(forwardHost, static_cast<uint32_t>(forwardPort)))
        return ConnectionError("CProxyConnection(Forwarding): Out of memory.\n");
    // The bytes taken so far are the start of the client's own traffic.
    auto* chunk = XNEW(CProxyData);
    if (chunk == nullptr || !chunk->SetTypeData(reinterpret_cast<const char*>(&location), locationReceived) ||
        !toServer.InsertLast(chunk)) {
        XDELETE(chunk);
        return ConnectionError("CProxyConnection(Forwarding): Out of memory.\n");
    }
    queuedForServer += locationReceived;
    EnterState(PROXYCONN_CONNECTING);
    return TRUE;
}

int32_t CProxyConnection::ConnectToServer()
{
    if (!xNonBlockedConnectHandler(serverHost, static_cast<uint16_t>(serverPort), nullptr, 0, serverSocket,
                                   serverConnected, &serverCrypt))
        return ConnectionError("CProxyConnection(Connecting to server): Unable to connect to server.\n");
    if (serverConnected) {
        tvp::SetNoDelay(serverSocket, true);
        state = PROXYCONN_ROUTING;
        dprintf("Starting to route data.\n");
        return TRUE;
    }
    if (xTimeDiff(stateTime, xGetTime()) > kConnectTimeoutMs)
        return ConnectionError(
            "CProxyConnection(Connecting to server): Timeout, wasn't able to connect to server.\n");
    return TRUE;
}

// ---------------------------------------------------------------- relaying

int32_t CProxyConnection::Receive(bool fromServer)
{
    uint32_t& sock = fromServer ? serverSocket : clientSocket;
    int32_t& up = fromServer ? serverConnected : clientConnected;
    SCryptData& cd = fromServer ? serverCrypt : clientCrypt;
    int32_t& otherUp = fromServer ? clientConnected : serverConnected;
    CLList& queue = fromServer ? toClient : toServer;
    uint32_t& queued = fromServer ? queuedForClient : queuedForServer;
    if (!up || queued > PROXY_QUEUE_LIMIT || Idle(fromServer))
        return TRUE;

    char buf[PROXY_CHUNK_SIZE];
    uint32_t got = 0, none = 0;
    // A failing step has closed the socket and cleared up: the side is gone.
    xSocketHandler(sock, up, buf, got, sizeof buf, nullptr, none, 0, &cd);
    if (!up)
        dprintf(fromServer ? "CProxyConnection(Routing data): Server closed the connection.\n"
                           : "CProxyConnection(Routing data): Client closed the connection.\n");
    if (got == 0 || !otherUp)
        return TRUE;
    auto* chunk = XNEW(CProxyData);
    if (chunk == nullptr || !chunk->SetTypeData(buf, got) || !queue.InsertLast(chunk)) {
        XDELETE(chunk);
        return ConnectionError(fromServer ? "CProxyConnection(Routing data:Recvserver): Out of memory.\n"
                                          : "CProxyConnection(Routing data:Recvclient): Out of memory.\n");
    }
    queued += got;
    return TRUE;
}

int32_t CProxyConnection::Send(bool toServerSide)
{
    uint32_t& sock = toServerSide ? serverSocket : clientSocket;
    int32_t& up = toServerSide ? serverConnected : clientConnected;
    SCryptData& cd = toServerSide ? serverCrypt : clientCrypt;
    CLList& queue = toServerSide ? toServer : toClient;
    uint32_t& queued = toServerSide ? queuedForServer : queuedForClient;
    char*& buffer = toServerSide ? toServerBuffer : toClientBuffer;
    uint32_t& size = toServerSide ? toServerSize : toClientSize;
    uint32_t& sent = toServerSide ? toServerSent : toClientSent;
    if (!up)
        return TRUE;
    if (buffer == nullptr) {
        if (queue.first == nullptr)
            return TRUE;
        auto* chunk = static_cast<CProxyData*>(queue.first->data);
        queue.Unlink(queue.first);
        int32_t ok = chunk->TakeTypeData(buffer, size);
        XDELETE(chunk);
        sent = 0;
        if (!ok)
            return ConnectionError(toServerSide ? "CProxyConnection(Routing data:Sendserver): Unable to get "
                                                  "proxydata (proxyData->GetTypeData).\n"
                                                : "CProxyConnection(Routing data:Sendclient): Unable to get "
                                                  "proxydata (proxyData->GetTypeData).\n");
    }
    uint32_t none = 0;
    xSocketHandler(sock, up, nullptr, none, 0, buffer, sent, size, &cd);
    if (!up) {
        dprintf(toServerSide ? "CProxyConnection(Routing data): Lost connection to server.\n"
                             : "CProxyConnection(Routing data): Lost connection to client.\n");
        return TRUE;
    }
    if (sent == size) {
        if (toServerSide) {
            clientToServerBytes += size;
            server->AddFromClientToServerBytes(size);
        } else {
            serverToClientBytes += size;
            server->AddFromServerToClientBytes(size);
        }
        queued -= size;
        FreeText(buffer);
        size = sent = 0;
    }
    return TRUE;
}

int32_t CProxyConnection::RouteData()
{
    if (!Receive(true) || !Receive(false) || !Send(true) || !Send(false))
        return FALSE;
    // Nothing more can reach a side that has gone.
    if (!serverConnected && (queuedForServer != 0 || toServerBuffer != nullptr)) {
        FreeQueue(toServer, queuedForServer);
        FreeText(toServerBuffer);
        toServerSize = toServerSent = 0;
    }
    if (!clientConnected && (queuedForClient != 0 || toClientBuffer != nullptr)) {
        FreeQueue(toClient, queuedForClient);
        FreeText(toClientBuffer);
        toClientSize = toClientSent = 0;
    }
    if (serverConnected && clientConnected)
        return TRUE;

    uint32_t now = xGetTime();
    if (!draining) {
        draining = 1;
        drainStart = now;
    }
    if (queuedForServer != 0 || queuedForClient != 0) {
        if (xTimeDiff(drainStart, now) <= PROXY_DRAIN_LIMIT_MS)
            return TRUE;
        dprintf("CProxyConnection(Routing data): Gave up delivering %" PRIu32 " bytes.\n",
                queuedForServer + queuedForClient);
        FreeQueue(toServer, queuedForServer);
        FreeQueue(toClient, queuedForClient);
        FreeText(toServerBuffer);
        FreeText(toClientBuffer);
        toServerSize = toServerSent = toClientSize = toClientSent = 0;
    }
    if (!g_closeDownInit) {
        g_closeDownInit = true;
        dprintf("Should close down init.\n");
        stateTime = now;
    }
    if (xTimeDiff(stateTime, now) <= kDoneWaitMs)
        return TRUE;
    FreeText(disconnectTime);
    disconnectTime = GetFormattedDateString();
    server->AddHistoryConnection(this);
    state = PROXYCONN_CLOSING;
    return TRUE;
}
