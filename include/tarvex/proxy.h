// The relay proxy server: a TCP relay that lets clients reach servers they
// cannot reach directly. The server listens on one port; each accepted client
// sends the 48-byte location record (proxyloc.h) naming its real destination,
// the proxy connects there and copies bytes both ways, unchanged, until one
// side goes away. Either side may run under TLS independently ("incoming":
// client to proxy, "outgoing": proxy to destination). A client that sends no
// location record can be forwarded to a fixed fallback destination.
//
// Everything runs in the application's thread and process: the application
// calls CCommProxyServer::Handler once per round, and may sleep between
// rounds in xWaitTimeOrSockets, which also wakes for proxy traffic.
//
// An open proxy relays anywhere. Without port ranges (AddPortRange) every
// destination port is accepted, on any host the proxy can reach, including
// hosts on the proxy's own network. Restrict a proxy that others can reach
// with AddPortRange: a destination port must then lie inside one of the
// ranges, or the connection is dropped.
#pragma once

#include <tarvex/export.h>

#include <tarvex/llist.h>
#include <tarvex/proxyloc.h>
#include <tarvex/socket.h>

class CCommProxyServer;
class CFile;

// CProxyData types.
enum : uint8_t {
    PROXYDATA_CONNECT = 1,
    PROXYDATA_DISCONNECT = 2,
    PROXYDATA_DATA = 3,
};

// One queued chunk of the relay.
class TARVEX_API CProxyData
{
  public:
    uint8_t type = 0;
    char* host = nullptr; // owned
    uint16_t port = 0;
    char* data = nullptr; // owned
    uint32_t size = 0;

    CProxyData() = default;
    ~CProxyData();
    // Owns its buffers: not copied.
    CProxyData(const CProxyData&) = delete;
    CProxyData& operator=(const CProxyData&) = delete;

    int32_t SetTypeConnect(const char* host, uint16_t port);
    int32_t SetTypeDisconnect();
    // Copies the data.
    int32_t SetTypeData(const char* data, uint32_t size);
    int32_t GetDataType() const { return type; }
    // Each gives a new tracked copy owned by the caller; 0 when the type
    // does not match.
    int32_t GetTypeConnect(char*& host, uint16_t& port) const;
    int32_t GetTypeData(char*& data, uint32_t& size) const;
    // The relay's own use: hands the data buffer over without a copy.
    int32_t TakeTypeData(char*& data, uint32_t& size);

  private:
    void Clear();
};

// An allowed range of destination ports.
struct TARVEX_API SProxyPortRange {
    char* name;        // owned; "" when none was given
    int32_t firstPort; // first <= port <= last
    int32_t lastPort;
    int32_t extra; // kept with the range, not used by the relay
};

// Connection states.
enum : int32_t {
    PROXYCONN_FINISHED0 = 0,
    PROXYCONN_FINISHED1 = 1,
    PROXYCONN_WAIT_LOCATION = 2,
    PROXYCONN_CONNECTING = 3,
    PROXYCONN_ROUTING = 4,
    PROXYCONN_CLOSING = 5,
    PROXYCONN_CLOSEDOWN = 6,
    PROXYCONN_LINGER = 7,
    PROXYCONN_FINISHED = 8,
    // Before the location record, when the listener takes the load
    // balancer's address header (SetProxyProtocol).
    PROXYCONN_WAIT_HEADER = 9,
};

// Bounds of one connection: reading a side stops while more than this is
// queued for the other side, and draining after one side has gone ends after
// the drain limit whatever is still queued.
constexpr uint32_t PROXY_QUEUE_LIMIT = 256 * 1024;
constexpr uint32_t PROXY_DRAIN_LIMIT_MS = 30000;
// Bytes read from each side per round.
constexpr uint32_t PROXY_CHUNK_SIZE = 4096;

class TARVEX_API CProxyConnection
{
  public:
    // sock: the accepted client socket (owned from now on).
    CProxyConnection(uint32_t clientSocket, CCommProxyServer* server, int32_t processTitle);
    ~CProxyConnection();
    CProxyConnection(const CProxyConnection&) = delete;
    CProxyConnection& operator=(const CProxyConnection&) = delete;

    int32_t AddPortRange(const char* name, int32_t firstPort, int32_t lastPort, int32_t extra);
    int32_t SetIncomingEncryption(int32_t enable, const char* keyFile, const char* certFile);
    int32_t SetOutgoingEncryption(int32_t enable);
    int32_t SetOnErrorForward(int32_t enable, const char* host, int32_t port);
    // The connection starts with the load balancer's address header.
    int32_t SetProxyProtocol(int32_t enable);
    int32_t Startup();
    // One step; 1 to stay, 0 when the connection is to be deleted.
    int32_t Handler();
    int32_t Closedown();
    // Closes down, reports text, returns 0.
    int32_t ConnectionError(const char* text);
    int32_t SetServerInfo(const char* host, uint32_t port);
    int32_t SetClientInfo(const char* address);
    const char* GetClientIp() const { return clientAddress != nullptr ? clientAddress : ""; }
    const char* GetConnectTime() const { return connectTime != nullptr ? connectTime : ""; }
    const char* GetDisconnectTime() const { return disconnectTime != nullptr ? disconnectTime : ""; }
    // The byte counts as 32-bit values (they wrap); the 64-bit forms do not.
    uint32_t GetServerToClientBytes() const { return static_cast<uint32_t>(serverToClientBytes); }
    uint32_t GetClientToServerBytes() const { return static_cast<uint32_t>(clientToServerBytes); }
    uint64_t GetServerToClientBytes64() const { return serverToClientBytes; }
    uint64_t GetClientToServerBytes64() const { return clientToServerBytes; }
    int32_t ShouldForward(const CProxyLocation& location, uint32_t received) const;
    // "year-month-day hour:minute:second" as the date services give them
    // (year from 1900, month from 0); a new tracked string, null on failure.
    static char* GetFormattedDateString();
    uint32_t* GetClientSocketPtr() { return &clientSocket; }
    uint32_t* GetServerSocketPtr() { return &serverSocket; }
    const char* GetServerHost() const { return serverHost != nullptr ? serverHost : ""; }
    uint32_t GetServerPort() const { return serverPort; }
    int32_t GetState() const { return state; }
    // Bytes queued (and in the current buffer) for each side.
    uint32_t GetQueuedForServer() const { return queuedForServer; }
    uint32_t GetQueuedForClient() const { return queuedForClient; }
    // The sockets the frame's socket wait should watch now (at most two).
    int32_t WaitSockets(uint32_t socks[2]) const;
    // The server's look at this connection's sockets just before Handler: a
    // side whose socket had nothing to read is not read in that round (a TLS
    // side always is, its layer may hold bytes already taken in). Without a
    // look every side is read.
    void SetReadiness(uint32_t clientSock, int32_t clientReady, uint32_t serverSock, int32_t serverReady);

  private:
    int32_t Step();
    bool Idle(bool serverSide) const;
    int32_t WaitForHeader();
    int32_t StartIncomingTls();
    int32_t WaitForLocation();
    int32_t ConnectToServer();
    int32_t RouteData();
    int32_t StartForward();
    void EnterState(int32_t newState);
    const char* PortRangeText(char* buf, uint32_t size) const;
    int32_t Receive(bool fromServer);
    int32_t Send(bool toServer);
    void FreeQueue(CLList& queue, uint32_t& queued);
    void Finish();

    CCommProxyServer* server;
    char* serverHost = nullptr;
    uint32_t serverPort = 0;
    char* clientAddress = nullptr;
    uint32_t clientSocket;
    uint32_t serverSocket = INVALID_SOCKET;
    sockaddr_in serverAddress{};
    int32_t clientStartupCode = 0;
    int32_t serverStartupCode = 0;
    int32_t clientConnected = 1;
    int32_t serverConnected = 0;
    int32_t state = PROXYCONN_WAIT_LOCATION;
    int32_t substate = 0;
    uint32_t stateTime = 0;
    uint32_t locationReceived = 0;
    char* toServerBuffer = nullptr;
    uint32_t toServerSize = 0;
    uint32_t toServerSent = 0;
    char* toClientBuffer = nullptr;
    uint32_t toClientSize = 0;
    uint32_t toClientSent = 0;
    int32_t incomingEncryption = 0;
    SCryptData clientCrypt;
    int32_t outgoingEncryption = 0;
    SCryptData serverCrypt;
    uint64_t clientToServerBytes = 0;
    uint64_t serverToClientBytes = 0;
    char* connectTime = nullptr;
    char* disconnectTime = nullptr;
    CLList toClient; // CProxyData*, owned
    CLList toServer;
    CProxyLocation location;
    CLList portRanges; // SProxyPortRange*, owned
    int32_t portRangesInForce = 0;
    int32_t processTitle;
    int32_t forwardFlag = 0;
    char* forwardHost = nullptr;
    int32_t forwardPort = 0;
    char* keyFile = nullptr;
    char* certFile = nullptr;
    // Beside the fields above: what is queued for each side, the start of
    // the drain after a side went away, and whether sockets were started.
    uint32_t queuedForServer = 0;
    uint32_t queuedForClient = 0;
    uint32_t drainStart = 0;
    int32_t draining = 0;
    uint32_t lookedClient = INVALID_SOCKET; // SetReadiness, for one round
    uint32_t lookedServer = INVALID_SOCKET;
    uint8_t clientIdle = 0;
    uint8_t serverIdle = 0;
    // The load balancer's address header: taken first when on, read into
    // the buffer no further than its end.
    int32_t proxyProtocol = 0;
    uint8_t* headerBuffer = nullptr;
    uint32_t headerReceived = 0;
    uint32_t headerCapacity = 0;
};

class TARVEX_API CCommProxyServer
{
  public:
    CCommProxyServer();
    ~CCommProxyServer();
    CCommProxyServer(const CCommProxyServer&) = delete;
    CCommProxyServer& operator=(const CCommProxyServer&) = delete;

    // Each stores a copy; null clears.
    int32_t SetName(const char* name);
    int32_t SetLogFile(const char* name);
    int32_t SetHistoryLogFile(const char* name);
    // Restricts the destination ports to the ranges added (see the top of
    // this file: without ranges the proxy relays to any port).
    int32_t AddPortRange(const char* name, int32_t firstPort, int32_t lastPort, int32_t extra);
    int32_t SetIncomingEncryption(int32_t enable, const char* keyFile, const char* certFile);
    int32_t SetOutgoingEncryption(int32_t enable);
    // Clients whose first four bytes are no location record go to host:port.
    int32_t SetOnErrorForward(int32_t enable, const char* host, int32_t port);
    // For a listener behind a load balancer that sends the PROXY protocol
    // header (text or binary form) first on every connection. On: each
    // connection must start with a valid header within the location
    // time-out, or it is closed; the client address in the header is the
    // one the history and statistics name (a header that names nobody, such
    // as a health check's, leaves the connection's own). Off (the default):
    // a header is never trusted, its bytes are the client's like any others.
    int32_t SetProxyProtocol(int32_t enable);
    int32_t GetProxyProtocol() const { return proxyProtocol; }
    void SetProcessSpawnCallback(void (*callback)(void));
    int32_t Startup(uint16_t port, int32_t createProcesses);
    // One round: accept, relay, statistics. finished = 1 once the server
    // neither listens nor has a connection left.
    int32_t Handler(int32_t& finished);
    int32_t ListenHandler();
    int32_t Closedown();
    int32_t IsListening() const { return listening; }
    uint32_t* GetListeningSocketPtr() { return &listenSocket; }
    // The port the listener is bound to (the chosen one for port 0).
    uint16_t GetBoundPort() const;
    void AddFromClientToServerBytes(uint32_t bytes) { clientToServerBytes += bytes; }
    void AddFromServerToClientBytes(uint32_t bytes) { serverToClientBytes += bytes; }
    int32_t LogInfo();
    int32_t AddHistoryConnection(CProxyConnection* connection);

    uint32_t GetTotalConnections() const { return totalConnections; }
    uint64_t GetServerToClientBytes64() const { return serverToClientBytes; }
    uint64_t GetClientToServerBytes64() const { return clientToServerBytes; }
    CLList* GetConnections() { return &connections; }
    CLList* GetHistory() { return &history; }
    int32_t GetFailureCount() const { return failureCount; }
    int32_t InRestart() const { return restartMode; }
    // The listening socket when the socket wait should watch it, else
    // INVALID_SOCKET.
    uint32_t WaitSocket() const;

  private:
    int32_t Restart();
    void LookAtSockets();
    int32_t ListenFailed(const char* giveUp, const char* retry);
    int32_t TakeConnection(uint32_t sock, const sockaddr_in& peer);

    char* name = nullptr;
    uint32_t listenSocket = INVALID_SOCKET;
    sockaddr_in listenAddress{};
    int32_t startupCode = 0;
    uint32_t statisticsTime = 0;
    uint16_t listenPort = 0;
    int32_t createProcesses = 0;
    int32_t listening = 1;
    int32_t previousListening = 0;
    uint32_t totalConnections = 0;
    uint64_t serverToClientBytes = 0;
    uint64_t clientToServerBytes = 0;
    CLList connections; // CProxyConnection*, owned
    char* logFile = nullptr;
    char* historyLogFile = nullptr;
    int32_t incomingEncryption = 0;
    char* keyFile = nullptr;
    char* certFile = nullptr;
    int32_t outgoingEncryption = 0;
    CLList portRanges; // SProxyPortRange*, owned
    CLList history;    // char*, owned, at most 20 lines
    SCryptData cryptData;
    void (*spawnCallback)(void) = nullptr;
    int32_t forwardFlag = 0;
    char* forwardHost = nullptr;
    int32_t forwardPort = 0;
    int32_t restartMode = 0;
    int32_t failureCount = 0;
    uint32_t lastFailureTime = 0;
    uint32_t restartTime = 0;
    // Beside the fields above: the statistics clock has started, and accepts
    // pause for a moment after the process ran out of descriptors.
    int32_t statisticsStarted = 0;
    int32_t acceptPaused = 0;
    uint32_t acceptPauseStart = 0;
    // Handler's look at the listener: nothing to accept this round.
    int32_t listenIdle = 0;
    int32_t proxyProtocol = 0;
};

// The registration lists the socket wait reads (borrowed pointers).
TARVEX_API int32_t ProxyConnection_Add(CProxyConnection* connection);
TARVEX_API int32_t ProxyConnection_Remove(CProxyConnection* connection);
TARVEX_API int32_t ProxyServer_Add(CCommProxyServer* server);
TARVEX_API int32_t ProxyServer_Remove(CCommProxyServer* server);
