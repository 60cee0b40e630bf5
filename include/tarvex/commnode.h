// Comm nodes: named message endpoints. A node is addressed by (id, name) and
// has a type (CNODE_ANY / CNODE_SERVER / CNODE_CLIENT); it sends byte packets
// or whole KCBL containers to every node with the same address, in this
// process at once and in other processes through the comm objects it is
// registered with, and queues what it receives until the application polls.
// On top of the plain transport a node adds session indices (a server can
// start a new session and drop late packets of the old one), private mode,
// a second "snooping" reader, acknowledgement flags, send and receive
// callbacks and a text log file. All nodes of the process stand in one
// global list (SGlobals::commNodes), created on first use.
#pragma once

#include <tarvex/export.h>

#include <tarvex/comm.h>
#include <tarvex/kcbl.h>
#include <tarvex/llist.h>
#include <tarvex/packet.h>
#include <tarvex/types.h>

class CFile;
class CCommNode;

// Called on every outgoing (send) or incoming (receive) packet. May replace
// data and size; a result of 0 is an error; keep = 0 swallows the packet.
// A replaced buffer stays the callback's: the node never frees it.
using XCommNodeCallback = int32_t (*)(CCommNode* node, char*& data, uint32_t& size, int32_t& keep);

// One received packet in a node's queue.
struct TARVEX_API SCommNodePacket {
    char* data;    // owned; one byte longer than size, that byte zero
    uint32_t size; // bytes of payload
    uint8_t snooped;
};

// Bounds of a node's receive queue (packets waiting for the application).
constexpr uint32_t COMMNODE_RECV_QUEUE_MAX_PACKETS = 65536u;
constexpr uint32_t COMMNODE_RECV_QUEUE_MAX_BYTES = 64u * 1024u * 1024u;

struct SPtrIndex;

class TARVEX_API CCommNode
{
  public:
    CCommNode();
    ~CCommNode();
    // A node is listed by address in the global list and in comm objects:
    // a copy would be a second node under the same pointer's registrations
    // and would free the same strings twice, so nodes are not copied.
    CCommNode(const CCommNode&) = delete;
    CCommNode& operator=(const CCommNode&) = delete;

    CKCBL sendKCBL; // filled by the application between SendInit and SendKCBLPacket()
    CKCBL recvKCBL; // filled by RecvKCBLPacket / SnoopRecvKCBLPacket

    // Set-up.
    void SetId(uint32_t id);
    int32_t SetName(const char* name);
    int32_t SetName(const char* a, const char* b);
    int32_t SetName(const char* name, uint32_t first, uint32_t second, uint32_t third);
    int32_t SetName(const char* a, const char* b, uint32_t first, uint32_t second, uint32_t third);
    int32_t SetObjName(const char* name);
    int32_t SetObjName(const char* a, const char* b);
    int32_t SetObjName(const char* a, uint32_t n);
    int32_t SetObjName(const char* a, const char* b, uint32_t n);
    int32_t SetLogFileName(const char* name);
    void SetLog(int32_t on) { logEnabled = on; }
    void SetPrivate(int32_t on) { privateNode = on; }
    int32_t IsPrivate() const { return privateNode; }
    void SetUseSessionIndex(int32_t on) { sessionIndex = on ? 1u : 0u; }
    void SetDebugSessionIndex(int32_t on) { debugSessionIndex = on; }
    void SetPacketCallbackSend(XCommNodeCallback cb);
    void SetPacketCallbackRecv(XCommNodeCallback cb);
    void SetInAckMode(int32_t on) { inAckMode = on; }
    void SetOutAckMode(int32_t on) { outAckMode = on; }
    void AckInData() { inAcked = TRUE; }
    void AckOutData() { outAcked = TRUE; }
    uint32_t GetId() const { return nodeId; }
    const char* GetName() const { return nodeName != nullptr ? nodeName : ""; }
    const char* GetObjName() const { return objectName != nullptr ? objectName : ""; }
    uint32_t GetType() const { return nodeType; }
    uint32_t GetSessionIndex() const { return sessionIndex; }
    const char* GetLogFileName() const { return logFileName; }
    int32_t IsInitialized() const { return commNodeInit; }

    // Life cycle.
    int32_t InitCommNode(uint32_t type);
    void ExitCommNode();
    void NewSessionIndex();

    // Sending.
    int32_t SendInit();
    int32_t SendPacket(char* data, uint32_t size);
    int32_t SendKCBLPacket(CKCBL* kcbl);
    int32_t SendKCBLPacket() { return SendKCBLPacket(&sendKCBL); }

    // Receiving. The queue has no length limit: a node that is not read
    // keeps everything it is sent.
    int32_t IsDataAvailable();
    int32_t RecvPacket(char*& data, uint32_t& size); // the caller owns data (XFREE)
    int32_t RecvKCBLPacket();
    void RecvFree() { recvAllocated = FALSE; }
    void RecvKCBLFree();
    int32_t NumQueuedPackets() const { return recvQue.GetNumNodes(); }
    // The last packet offered was refused because the receive queue had no
    // room for it (COMMNODE_RECV_QUEUE_MAX_PACKETS, _BYTES): the connection
    // that brought it is dropped.
    int32_t RecvQueueFull() const { return recvQueRefused; }

    // Snooping: a second reader that sees each packet before the ordinary one.
    void SnoopSetSnooping(int32_t on) { snooping = on; }
    int32_t SnoopIsDataAvailable();
    int32_t SnoopRecvPacket(char*& data, uint32_t& size); // data stays the queue's
    int32_t SnoopRecvKCBLPacket();
    void SnoopFree();
    void SnoopFreeKCBL();
    void SnoopDeletePacket();

    // Called by the comm layer.
    int32_t RecvIncomingFromComm(SXPacket* packet);
    int32_t AddCommObject(CCommBase* comm);
    void DeleteCommObject(CCommBase* comm);
    int32_t NumCommObjects() const { return commObjects.GetNumNodes(); }
    int32_t HasCommObject(CCommBase* comm);

  protected:
    // Records text + " (id:%lu name:%s type:%lu objectname:%s" on the
    // library error; returns 0.
    int32_t Fail(const char* text);
    int32_t RecvPacketInternal(char*& data, uint32_t& size, int32_t extract);
    int32_t InsertNodePacket(const char* data, uint32_t size);
    // Queues data (size + 1 bytes, the last one zero) as it is; frees it on
    // failure.
    int32_t QueueNodePacket(char* data, uint32_t size);
    int32_t ExtractNodePacket(char*& data, uint32_t& size);
    int32_t GetNextPacket(char*& data, uint32_t& size);
    int32_t DeleteNextPacket();
    void EmptyRecvQue();
    int32_t DeliverLocal(const char* data, uint32_t size);
    // Session index rules for one packet from a peer of peerType; false drops it.
    bool SessionIndexPasses(uint32_t peerType, uint32_t packetIndex);
    // Takes the node off every comm object that still lists it.
    void LeaveCommObjects();

    // Log file.
    void LogFileRead(const char* data, uint32_t size);
    void LogFileWrite(const char* data, uint32_t size);
    void LogFileInit();
    void LogFileExit();
    void LogFileWriteData(const char* tag, const char* data, uint32_t size);
    void LogFileWriteNodeType(CFile* file);

    int32_t commNodeInit = FALSE;
    int32_t nameSet = FALSE;
    int32_t idSet = FALSE;
    int32_t privateNode = TRUE;
    CLList recvQue; // SCommNodePacket*, oldest first
    uint32_t recvQueBytes = 0;
    int32_t recvQueRefused = FALSE;
    int32_t snooping = FALSE;
    CLList commObjects; // CCommBase*, borrowed
    char* objectName = nullptr;
    char* logFileName = nullptr;
    int32_t logEnabled = FALSE;
    uint32_t nodeId = 0;
    char* nodeName = nullptr;
    uint32_t sessionIndex = 0; // 0 = sessions not used
    int32_t debugSessionIndex = FALSE;
    uint32_t nodeType = 0;
    int32_t inAcked = TRUE;
    int32_t outAcked = TRUE;
    int32_t inAckMode = TRUE;
    int32_t outAckMode = TRUE;
    int32_t recvAllocated = FALSE;
    int32_t sendAllocated = FALSE;
    XCommNodeCallback sendPacketCallback;
    XCommNodeCallback recvPacketCallback;
    bool exited = false;            // ExitCommNode ran and nothing was set up since
    int32_t lastExportSize = 0;     // buffer size that held the last KCBL message
    SPtrIndex* commIndex = nullptr; // lookup into commObjects once it is long
};

// Called by client comm objects as they start and stop (see comm.h): the
// starting object registers every node of the global list with itself.
TARVEX_API int32_t AddLocalCommToCommNode(CCommLocalClientBase* comm);
TARVEX_API int32_t AddRemoteCommToCommNode(CCommRemoteClientBase* comm);
TARVEX_API void RemoveLocalCommFromCommNode(CCommLocalClientBase* comm);
TARVEX_API void RemoveRemoteCommFromCommNode(CCommRemoteClientBase* comm);

// Installs the node side's hooks into the comm objects (done by the first
// node, and when the library loads).
TARVEX_API void xInstallCommNodeHooks();

// Hubs joined through Redis. A hub (a process whose remote server hands
// every accepted connection to a comm object of its own and routes node
// traffic between them) can join other hubs through one Redis server: each
// hub keeps its own clients; the nodes its connections announce and its own
// initialised nodes are listed under the hub's key in Redis with a time to
// live that the hub refreshes; a node packet for a node on another hub is
// published on that hub's channel and routed there as if it had come in on
// one of its own connections. A hub that stops refreshing drops out of the
// others' view once its key expires. Everything runs in the frame's comm
// rounds over non-blocking connections; a lost Redis link is reported and
// retried. One bridge per process.
//   redisAddress  "host:port" of the Redis server (resolved once, here)
//   prefix        names the group of hubs: keys and channels start with it
//   hubId         this hub's id within the group, unique among live hubs
// Prefix and hub id are 1..64 characters of [A-Za-z0-9_.-]. Returns 1, or 0
// with an error (bad arguments, already joined, or a library built without
// hiredis). Leave before the comm layer stops (CommBaseExit).
constexpr uint32_t COMMNODE_REDIS_TTL_MS = 10000u;
constexpr uint32_t COMMNODE_REDIS_REFRESH_MS = 3000u;
TARVEX_API int32_t xCommNodeJoinRedis(const char* redisAddress, const char* prefix, const char* hubId);
TARVEX_API void xCommNodeLeaveRedis();
// Time to live of the hub's key and the interval of its refresh (which is
// also how often the other hubs' lists are read); refresh < ttl. Takes effect
// with the next refresh. Returns 0 for values that do not fit.
TARVEX_API int32_t xCommNodeSetRedisTimes(uint32_t ttlMs, uint32_t refreshMs);
// 1 while both Redis connections of the bridge are up.
TARVEX_API int32_t xCommNodeRedisLinked();
// 1 when another hub of the group lists a node with this id and name.
TARVEX_API int32_t xCommNodeRedisHasNode(uint32_t id, const char* name);
