// Comm objects: one end of a packet connection (CCommBase) with its queues,
// acknowledgement and routing switches, the registry of nodes the peer has
// announced, the ping bookkeeping and the log file; the step-wise transfer
// of packets over a socket (PacketTransferHandler); and the concrete local
// and remote clients and servers with the process-wide registries that tie
// them together.
#pragma once

#include <tarvex/export.h>
#include <tarvex/llist.h>
#include <tarvex/packet.h>
#include <tarvex/socket.h>
#include <tarvex/types.h>

#include <tarvex/netaddr.h>

class CCommNode;
class CCommBase;
class CCommLocalClientBase;
class CCommRemoteClientBase;
class CCommRemoteServerBase;

// Receive and send states of the transfer step.
enum : int32_t {
    COMM_RECV_IDLE = 1000,
    COMM_RECV_HEADER = 1001,
    COMM_RECV_BODY = 1002,
    COMM_SEND_IDLE = 2000,
    COMM_SEND_SENDING = 2001,
};

// Most bytes one transfer step moves in each direction.
constexpr uint32_t COMM_STEP_LIMIT = 1024000u;
// Most transfer steps per handler round.
constexpr int32_t COMM_STEPS_PER_ROUND = 256;
// Ping interval and time-out (ms).
constexpr uint32_t COMM_PING_INTERVAL = 15000u;
constexpr uint32_t COMM_PING_TIMEOUT = 30000u;

// What a peer can make one connection hold is bounded; past a bound the
// connection is dropped with an error naming it (docs/network-limits.md):
// a packet header must be whole this long after its first bytes (ms),
constexpr uint32_t COMM_HEADER_TIMEOUT_MS = 10000u;
// raw packets waiting for RecvRawData, by number and by bytes,
constexpr uint32_t COMM_RECV_QUEUE_MAX_PACKETS = 65536u;
constexpr uint32_t COMM_RECV_QUEUE_MAX_BYTES = 64u * 1024u * 1024u;
// distinct nodes the peer has announced,
constexpr uint32_t COMM_OTHER_SIDE_NODES_MAX = 4096u;
// and packets read but not yet handed on (a split run waiting for its rest
// holds back what comes behind it), by number and by bytes (one packet of
// any allowed size is always taken).
constexpr uint32_t COMM_TRANSFER_IN_MAX_PACKETS = 4096u;
constexpr uint32_t COMM_TRANSFER_IN_MAX_BYTES = 64u * 1024u * 1024u;
// Node traffic routed into a connection from the others waits in its send
// queues (sendQue and transferOut) until the peer reads it: past these, by
// number and by bytes, that connection is dropped (a peer that never reads).
constexpr uint32_t COMM_SEND_QUEUE_MAX_PACKETS = 65536u;
constexpr uint32_t COMM_SEND_QUEUE_MAX_BYTES = 64u * 1024u * 1024u;

// How the comm objects reach comm nodes. The node module installs these;
// until it does, no node can exist and the node paths see none.
struct TARVEX_API SCommNodeHooks {
    uint32_t (*getId)(CCommNode* node);
    const char* (*getName)(CCommNode* node); // never null
    uint32_t (*getType)(CCommNode* node);
    int32_t (*recvIncomingFromComm)(CCommNode* node, SXPacket* packet);
    int32_t (*addCommObject)(CCommNode* node, CCommBase* comm);
    void (*deleteCommObject)(CCommNode* node, CCommBase* comm);
    int32_t (*addLocalCommToCommNode)(CCommLocalClientBase* comm);
    int32_t (*addRemoteCommToCommNode)(CCommRemoteClientBase* comm);
    void (*removeLocalCommFromCommNode)(CCommLocalClientBase* comm);
    void (*removeRemoteCommFromCommNode)(CCommRemoteClientBase* comm);
    // 1 when the node's receive queue is at its bound (it refuses more).
    int32_t (*recvQueueFull)(CCommNode* node);
};
// Installs the hooks (copied); null removes them.
TARVEX_API void xSetCommNodeHooks(const SCommNodeHooks* hooks);
TARVEX_API const SCommNodeHooks* xGetCommNodeHooks();

// A node announced by the peer.
struct TARVEX_API SOtherSideNode {
    uint32_t nodeId = 0;
    uint32_t nodeType = 0;
    char* name = nullptr; // tracked copy, zero-terminated
    int32_t refCount = 0; // registrations minus unregistrations
};

using XCommPacketCallback = int32_t (*)(SXPacket* packet, SXPacketCNode* node, int32_t& keep);

struct SPtrIndex;

class TARVEX_API CCommBase
{
  public:
    CCommBase();
    virtual ~CCommBase();
    // The queues own their packets: a field-by-field copy would free them
    // twice, so comm objects are not copied.
    CCommBase(const CCommBase&) = delete;
    CCommBase& operator=(const CCommBase&) = delete;

    virtual int32_t IsRemote() = 0;
    virtual int32_t BlockedHandler(int32_t wait) = 0;
    virtual int32_t NonBlockedHandler() = 0;
    virtual const char* GetClassName() = 0;

    // Names and switches.
    int32_t SetObjName(const char* name);
    int32_t SetObjName(const char* name, uint32_t n);
    int32_t SetObjName(const char* a, const char* b);
    int32_t SetObjName(const char* a, const char* b, uint32_t n);
    const char* GetObjName() const { return objName != nullptr ? objName : ""; }
    int32_t SetLogFileName(const char* name);
    const char* GetLogFileName() const { return logFileName; }
    void SetLog(int32_t on) { logEnabled = on; }
    void SetPacketTypes(int32_t raw, int32_t node)
    {
        acceptRaw = raw;
        acceptNode = node;
    }
    int32_t GetAcceptRaw() const { return acceptRaw; }
    int32_t GetAcceptNode() const { return acceptNode; }
    int32_t AcceptNodes() const { return acceptNode; }
    void SetInAckMode(int32_t on) { inAckMode = on; }
    void SetOutAckMode(int32_t on) { outAckMode = on; }
    void AckInData() { inDataAcked = 1; }
    void AckOutData() { outDataAcked = 1; }
    int32_t IsConnected() const { return connected; }
    void SetPacketCallbackSend(XCommPacketCallback cb);
    void SetPacketCallbackRecv(XCommPacketCallback cb);
    void SetNeverRouteNode_To_Client(uint8_t v) { neverRouteNodeToClient = v; }
    void SetNeverRouteNode_To_Server(uint8_t v) { neverRouteNodeToServer = v; }
    void SetNeverRouteNode_From_Client(uint8_t v) { neverRouteNodeFromClient = v; }
    void SetNeverRouteNode_From_Server(uint8_t v) { neverRouteNodeFromServer = v; }
    uint8_t GetNeverRouteNode_To_Client() const { return neverRouteNodeToClient; }
    uint8_t GetNeverRouteNode_To_Server() const { return neverRouteNodeToServer; }
    uint8_t GetNeverRouteNode_From_Client() const { return neverRouteNodeFromClient; }
    uint8_t GetNeverRouteNode_From_Server() const { return neverRouteNodeFromServer; }
    // The text of the library's last error ("" without globals).
    const char* GetErrorMessage();

    // Queue iteration. The Delete operations remove the current entry
    // together with its packet.
    int16_t SendQueFirst() { return sendQue.First(); }
    int16_t SendQueNext() { return sendQue.Next(); }
    int16_t SendQueExists() { return sendQue.Exists(); }
    SXPacket* SendQueGetPacket() { return static_cast<SXPacket*>(sendQue.Get()); }
    int32_t SendQueDelete();
    int32_t NumSendQuePackets() const { return sendQue.GetNumNodes(); }
    // Bytes of the packets in sendQue and transferOut.
    uint32_t SendQueBytes() const { return sendQueBytes; }
    int16_t RecvQueFirst() { return recvQue.First(); }
    int16_t RecvQueNext() { return recvQue.Next(); }
    int16_t RecvQueExists() { return recvQue.Exists(); }
    SXPacket* RecvQueGetPacket() { return static_cast<SXPacket*>(recvQue.Get()); }
    int32_t RecvQueDelete();
    int32_t NumRecvQuePackets() const { return recvQue.GetNumNodes(); }
    int16_t ThisSideNodes_First() { return thisSideNodes.First(); }
    int16_t ThisSideNodes_Exists() { return thisSideNodes.Exists(); }
    int16_t ThisSideNodes_Next() { return thisSideNodes.Next(); }
    CCommNode* ThisSideNodes_Get() { return static_cast<CCommNode*>(thisSideNodes.Get()); }
    int16_t OtherSideNodes_First() { return otherSideNodes.First(); }
    int16_t OtherSideNodes_Exists() { return otherSideNodes.Exists(); }
    int16_t OtherSideNodes_Next() { return otherSideNodes.Next(); }
    SOtherSideNode* OtherSideNodes_Get() { return static_cast<SOtherSideNode*>(otherSideNodes.Get()); }
    int32_t NumTransferOut() const { return transferOut.GetNumNodes(); }
    int32_t NumTransferIn() const { return transferIn.GetNumNodes(); }

    // Traffic.
    int32_t SendPacket(SXPacket* packet);
    int32_t SendQueAdd(SXPacket* packet);
    // Whether a routed packet of size bytes fits the send queues; when it
    // does not, reports the bound, empties them and marks the connection to
    // be dropped by its next handler round (FALSE from then on).
    int32_t RoomToRoute(uint32_t size);
    int32_t SendRawData(const char* data, uint32_t size);
    int32_t SendCommNodeData(const char* nodeName, uint32_t nodeId, uint32_t nodeType, uint32_t sessionIndex,
                             const char* data, uint32_t size);
    int32_t RecvRawData(char*& data, uint32_t& size);
    int32_t RecvPacketFromRemote(SXPacket* packet);
    int32_t SendHandler();
    int32_t RecvHandler();
    int32_t PingHandler(int32_t& timedOut);

    // Nodes.
    int32_t RegisterCommNode(CCommNode* node);
    int32_t UnregisterCommNode(CCommNode* node);
    int32_t SendOtherSideNodes(CCommBase* target);
    int32_t HasOtherSideNode(const char* name, uint32_t nameLength, uint32_t nodeId, uint32_t wantedType);
    // Empties thisSideNodes (each node lets go of this object too) and frees
    // every SOtherSideNode.
    void Cleanup();
    // Whether node is in thisSideNodes.
    int32_t IsCommNodeRegistered(CCommNode* node);
    // Takes node out of thisSideNodes without telling the peer: for a node
    // that goes away while this object no longer accepts nodes.
    void ForgetCommNode(CCommNode* node);

    // Log file.
    void LogData(const char* label, const void* data, uint32_t size);
    void LogRoute(CCommBase* from, const char* label, const void* data, uint32_t size);

  protected:
    // Frees every packet of the four lists.
    void FreeAllPackets();
    void ReleaseThisSideNodes();
    void EmptyList(CLList& list);
    int32_t Report(const char* text); // text + " (classname: %s objectname: %s)"

    int32_t acceptRaw = 0;
    int32_t acceptNode = 0;
    CLList thisSideNodes;
    CLList otherSideNodes;
    CLList sendQue;
    CLList transferOut;
    CLList recvQue;
    uint32_t recvQueBytes = 0; // bytes of the packets in recvQue
    void TakeFromRecvQueBytes(SXPacket* packet);
    uint32_t sendQueBytes = 0; // bytes of the packets in sendQue and transferOut
    uint8_t sendQueOver = 0;   // the send queues passed their bound: drop the connection
    void AddToSendQueBytes(SXPacket* packet);
    void TakeFromSendQueBytes(uint32_t n);
    CLList transferIn;
    int32_t connected = 0;
    int32_t inDataAcked = 1;
    int32_t outDataAcked = 1;
    int32_t inAckMode = 0;
    int32_t outAckMode = 0;
    char* objName = nullptr;
    char* logFileName = nullptr;
    int32_t logEnabled = 0;
    uint32_t lastPingTime = 0;
    uint8_t pingTimeSet = 0;
    uint8_t pingPending = 0;
    uint8_t neverRouteNodeToClient = 0;
    uint8_t neverRouteNodeToServer = 0;
    uint8_t neverRouteNodeFromClient = 0;
    uint8_t neverRouteNodeFromServer = 0;
    XCommPacketCallback sendCallback;
    XCommPacketCallback recvCallback;
    SPtrIndex* thisSideIndex = nullptr; // lookup into thisSideNodes once it is long

    friend int32_t SendCommNodeRegToAllComm(CCommBase* from, SXPacket* packet);
    friend int32_t SendCommNodeToAllComm(CCommBase* from, SXPacket* packet);
    friend int32_t SendOtherSideNodesRouted(CCommBase* from, CCommBase* target, bool applyBars);
};

// One step of moving packets over a socket: the receive side reads the
// 12-byte header, then the body, and appends each complete packet to
// transferIn; the send side writes the first packet of transferOut.
TARVEX_API int32_t PacketTransferHandler(int32_t& progress, int32_t blocked, uint32_t& sock, int32_t& connected,
                              SXPacket*& recvPacket, uint32_t& recvCount, int32_t& recvStatus,
                              SXPacket*& sendPacket, uint32_t& sendCount, int32_t& sendStatus,
                              CLList* transferIn, CLList* transferOut, SCryptData* cd);

// Routing of registrations and node data to the other client comm objects.
TARVEX_API int32_t SendCommNodeRegToAllComm(CCommBase* from, SXPacket* packet);
TARVEX_API int32_t SendCommNodeToAllComm(CCommBase* from, SXPacket* packet);

// ---------------------------------------------------------------- registries

TARVEX_API int32_t CommBaseStartup();
TARVEX_API void CommBaseExit();
TARVEX_API int32_t LocalClientList_Add(CCommLocalClientBase* obj);
TARVEX_API int32_t LocalClientList_Remove(CCommLocalClientBase* obj);
TARVEX_API int32_t RemoteClientList_Add(CCommRemoteClientBase* obj);
TARVEX_API int32_t RemoteClientList_Remove(CCommRemoteClientBase* obj);
class CCommLocalServerBase;
TARVEX_API int32_t LocalServerList_Add(CCommLocalServerBase* obj);
TARVEX_API int32_t LocalServerList_Remove(CCommLocalServerBase* obj);
TARVEX_API int32_t RemoteServerList_Add(CCommRemoteServerBase* obj);
TARVEX_API int32_t RemoteServerList_Remove(CCommRemoteServerBase* obj);
TARVEX_API int32_t AddCommNodeToComm(CCommNode* node);
TARVEX_API int32_t RemoveCommNodeFromComm(CCommNode* node);
TARVEX_API int32_t SendOtherSideNodesToComm(CCommBase* comm);
// Runs the registered clients' handlers (as xHandler does), rounds times;
// returns the number of packets that came in meanwhile.
TARVEX_API int32_t xCommClientRounds(int32_t rounds);

// ---------------------------------------------------------------- clients

class TARVEX_API CCommLocalClientBase : public CCommBase
{
  public:
    int32_t IsRemote() override { return 0; }
    const char* GetClassName() override { return "CCommLocalClientBase"; }
    virtual int32_t Startup() = 0;
    virtual int32_t Closedown() = 0;
    virtual int32_t Connect() = 0;
    virtual void Disconnect() = 0;
    virtual int32_t BlockedConnectHandler(int32_t wait) = 0;
    virtual int32_t NonBlockedConnectHandler() = 0;
    virtual int32_t IsFlushed() = 0;
    int32_t RegisterLocalClient();
    void UnRegisterLocalClient();
};

class TARVEX_API CCommRemoteClientBase : public CCommBase
{
  public:
    ~CCommRemoteClientBase() override;
    int32_t IsRemote() override { return 1; }
    const char* GetClassName() override { return "CCommRemoteClientBase"; }
    virtual int32_t Startup() = 0;
    virtual int32_t Closedown() = 0;
    virtual int32_t Connect() = 0;
    virtual void Disconnect() = 0;
    virtual int32_t BlockedConnectHandler(int32_t wait) = 0;
    virtual int32_t NonBlockedConnectHandler() = 0;
    virtual int32_t SetConnectFromServer(CCommRemoteServerBase* server) = 0;
    virtual int32_t IsFlushed() = 0;
    virtual void SetEncryption(int32_t on) = 0;
    int32_t RegisterRemoteClient();
    void UnRegisterRemoteClient();
    int32_t SetRemoteLocation(const char* host, int32_t port);

  protected:
    char* remoteHost = nullptr;
    int32_t remotePort = 0;
};

// The client side of one connection: the socket and the transfer state.
struct TARVEX_API SCommLink {
    uint32_t sock = INVALID_SOCKET;
    sockaddr_in addr{};
    SXPacket* recvPacket = nullptr;
    SXPacket* sendPacket = nullptr;
    uint32_t recvCount = 0;
    uint32_t sendCount = 0;
    int32_t sendStatus = COMM_SEND_IDLE;
    int32_t recvStatus = COMM_RECV_IDLE;
    int32_t startupCode = 0;
    SCryptData cryptData;
    // Bytes read from the socket beyond the packet being received: a small
    // packet's header and body, and the packets behind it, come in with one
    // read. aheadBegin..aheadEnd is what is not yet taken.
    char* ahead = nullptr;
    uint32_t aheadBegin = 0;
    uint32_t aheadEnd = 0;
    // The socket's mode as the handler rounds last set it (-1 unknown,
    // 0 blocking, 1 non-blocking): a round sets it only when it changes.
    int32_t sockMode = -1;
    // When several small queued packets go out with one write, sendPacket
    // holds them one after the other and sendBatch is their total size
    // (0: sendPacket is one packet).
    uint32_t sendBatch = 0;
    // The last step moved bytes: the connection is evidently up, and the
    // next round skips its connection check.
    int32_t lastMoved = 0;
    // When the first bytes of the packet header now coming in arrived: the
    // header must be whole within COMM_HEADER_TIMEOUT_MS of them.
    uint32_t headerStart = 0;
    // The read pass (see commtransfer.h) in which a read found nothing more
    // waiting on the socket: later steps of that pass do not read again.
    uint32_t drainedPass = 0;
    // Frees the packets in transfer and what was read ahead, and resets the
    // states.
    void ResetTransfer();
};

// The client and server steps shared by the local and remote classes.
struct SCommClientSteps;
struct SCommServerSteps;

class TARVEX_API CCommLocalClient : public CCommLocalClientBase
{
    friend struct SCommClientSteps;

  public:
    CCommLocalClient() = default;
    ~CCommLocalClient() override;
    int32_t BlockedHandler(int32_t wait) override;
    int32_t NonBlockedHandler() override;
    const char* GetClassName() override { return "CCommLocalClient"; }
    int32_t Startup() override;
    int32_t Closedown() override;
    int32_t Connect() override;
    void Disconnect() override;
    int32_t BlockedConnectHandler(int32_t wait) override;
    int32_t NonBlockedConnectHandler() override;
    int32_t IsFlushed() override;
    uint32_t GetSocket() const { return link.sock; }
    uint32_t* GetSocketPtr() { return &link.sock; }

  protected:
    int32_t ConnectInit();
    int32_t ConnectExit();
    int32_t Handler(int32_t blocked, int32_t wait);
    SCommLink link;
};

class TARVEX_API CCommRemoteClient : public CCommRemoteClientBase
{
    friend struct SCommClientSteps;

  public:
    CCommRemoteClient() = default;
    ~CCommRemoteClient() override;
    int32_t BlockedHandler(int32_t wait) override;
    int32_t NonBlockedHandler() override;
    const char* GetClassName() override { return "CCommRemoteClient"; }
    int32_t Startup() override;
    int32_t Closedown() override;
    int32_t Connect() override;
    void Disconnect() override;
    int32_t BlockedConnectHandler(int32_t wait) override;
    int32_t NonBlockedConnectHandler() override;
    int32_t SetConnectFromServer(CCommRemoteServerBase* server) override;
    int32_t IsFlushed() override;
    void SetEncryption(int32_t on) override { encryption = on; }
    virtual int32_t Handler(int32_t blocked, int32_t wait);
    int32_t SetProxy(const char* host, uint16_t port);
    uint32_t GetSocket() const { return link.sock; }
    uint32_t* GetSocketPtr() { return &link.sock; }
    // Opt-in verification of the server's certificate (see xSetClientVerification).
    int32_t SetVerification(const char* caFile, const char* hostName);

  protected:
    int32_t ConnectInit();
    int32_t ConnectExit();
    void EmptyQues();
    SCommLink link;
    int32_t encryption = 0;
    char* proxyHost = nullptr;
    uint16_t proxyPort = 0;
};

// ---------------------------------------------------------------- servers

class TARVEX_API CCommBaseServer
{
  public:
    CCommBaseServer();
    virtual ~CCommBaseServer();
    CCommBaseServer(const CCommBaseServer&) = delete;
    CCommBaseServer& operator=(const CCommBaseServer&) = delete;
    virtual const char* GetClassName() = 0;
    int32_t SetObjName(const char* name);
    int32_t SetObjName(const char* name, uint32_t n);
    int32_t SetObjName(const char* a, const char* b);
    int32_t SetObjName(const char* a, const char* b, uint32_t n);
    const char* GetObjName() const { return objName != nullptr ? objName : ""; }

  protected:
    int32_t Report(const char* text);
    char* objName = nullptr;
};

class TARVEX_API CCommLocalServerBase : public CCommBaseServer
{
  public:
    using Callback = int32_t (*)(CCommLocalServerBase* server, void* user, int32_t param);
    CCommLocalServerBase();
    const char* GetClassName() override { return "CCommLocalServerBase"; }
    virtual int32_t Startup() = 0;
    virtual int32_t Closedown() = 0;
    virtual int32_t StartListen() = 0;
    virtual void StopListen() = 0;
    virtual int32_t BlockedStartListenHandler(int32_t wait) = 0;
    virtual int32_t NonBlockedStartListenHandler() = 0;
    virtual int32_t BlockedHandler(int32_t wait) = 0;
    virtual int32_t NonBlockedHandler() = 0;
    int32_t RegisterLocalServer();
    void UnRegisterLocalServer();
    void SetCallbackFunction(Callback cb, void* u, int32_t p);
    int32_t ExecuteCallback();
    int32_t LocalServerRunning() const { return running; }

  protected:
    Callback callback;
    void* user = nullptr;
    int32_t param = 0;
    int32_t running = 0;
    CLList list;
};

class TARVEX_API CCommRemoteServerBase : public CCommBaseServer
{
  public:
    using Callback = int32_t (*)(CCommRemoteServerBase* server, void* user, int32_t param);
    CCommRemoteServerBase();
    const char* GetClassName() override { return "CCommRemoteServerBase"; }
    virtual int32_t Startup() = 0;
    virtual int32_t Closedown() = 0;
    virtual int32_t StartListen() = 0;
    virtual void StopListen() = 0;
    virtual int32_t BlockedStartListenHandler(int32_t wait) = 0;
    virtual int32_t NonBlockedStartListenHandler() = 0;
    virtual int32_t BlockedHandler(int32_t wait) = 0;
    virtual int32_t NonBlockedHandler() = 0;
    virtual void SetEncryption(int32_t enable, const char* keyFile, const char* certFile) = 0;
    virtual int32_t GetEncryption() = 0;
    // What SetConnectFromServer takes over.
    virtual uint32_t GetConnectedSocket() const = 0;
    virtual void ForgetConnectedSocket() = 0;
    virtual const char* GetKeyFile() const = 0;
    virtual const char* GetCertFile() const = 0;
    int32_t RegisterRemoteServer();
    void UnRegisterRemoteServer();
    void SetCallbackFunction(Callback cb, void* u, int32_t p);
    int32_t ExecuteCallback();
    void SetPort(int32_t p) { port = p; }
    int32_t RemoteServerRunning() const { return running; }

  protected:
    int32_t port = 0;
    Callback callback;
    void* user = nullptr;
    int32_t param = 0;
    int32_t running = 0;
};

class TARVEX_API CCommLocalServer : public CCommLocalServerBase
{
    friend struct SCommServerSteps;

  public:
    CCommLocalServer() = default;
    ~CCommLocalServer() override;
    const char* GetClassName() override { return "CCommLocalServer"; }
    int32_t Startup() override;
    int32_t Closedown() override;
    int32_t StartListen() override;
    void StopListen() override;
    int32_t BlockedStartListenHandler(int32_t wait) override;
    int32_t NonBlockedStartListenHandler() override;
    int32_t BlockedHandler(int32_t wait) override;
    int32_t NonBlockedHandler() override;
    uint32_t GetListeningSocket() const { return listenSock; }
    uint32_t* GetListeningSocketPtr() { return &listenSock; }
    uint32_t GetConnectedSocket() const { return acceptedSock; }
    void CloseConnectedSocket() { xCloseSocket(acceptedSock); }

  protected:
    int32_t ListenHandler(bool blocked);
    uint32_t listenSock = INVALID_SOCKET;
    sockaddr_in listenAddr{};
    uint32_t acceptedSock = INVALID_SOCKET;
    sockaddr_in peerAddr{};
    int32_t startupCode = 0;
    SCryptData cryptData;
    bool closedDown = false;
};

class TARVEX_API CCommRemoteServer : public CCommRemoteServerBase
{
    friend struct SCommServerSteps;

  public:
    CCommRemoteServer() = default;
    ~CCommRemoteServer() override;
    const char* GetClassName() override { return "CCommRemoteServer"; }
    int32_t Startup() override;
    int32_t Closedown() override;
    int32_t StartListen() override;
    void StopListen() override;
    int32_t BlockedStartListenHandler(int32_t wait) override;
    int32_t NonBlockedStartListenHandler() override;
    int32_t BlockedHandler(int32_t wait) override;
    int32_t NonBlockedHandler() override;
    void SetEncryption(int32_t enable, const char* keyFile, const char* certFile) override;
    int32_t GetEncryption() override { return encryption; }
    uint32_t GetConnectedSocket() const override { return acceptedSock; }
    void ForgetConnectedSocket() override { acceptedSock = INVALID_SOCKET; }
    const char* GetKeyFile() const override { return keyFile; }
    const char* GetCertFile() const override { return certFile; }
    uint32_t GetListeningSocket() const { return listenSock; }
    uint32_t* GetListeningSocketPtr() { return &listenSock; }
    void CloseConnectedSocket() { xCloseSocket(acceptedSock); }
    // The bound port (useful when listening on port 0).
    uint16_t GetBoundPort() const { return ntohs(listenAddr.sin_port); }

  protected:
    int32_t ListenHandler(bool blocked);
    uint32_t listenSock = INVALID_SOCKET;
    sockaddr_in listenAddr{};
    uint32_t acceptedSock = INVALID_SOCKET;
    sockaddr_in peerAddr{};
    int32_t startupCode = 0;
    int32_t encryption = 0;
    const char* keyFile = nullptr;
    const char* certFile = nullptr;
    SCryptData cryptData;
    bool closedDown = false;
};
