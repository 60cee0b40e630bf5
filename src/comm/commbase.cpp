// The comm object: queues, sending and receiving packets, acknowledgement,
// the registry of nodes the peer announced, routing between comm objects,
// ping and the log file.
#include <tarvex/comm.h>
#include <tarvex/error.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include "core/textcopy.h"
#include "comm/ptrindex.h"
#include "comm/commtransfer.h"
#include "comm/objname.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{

constexpr const char* kDefaultObjName = "default comm object";
constexpr const char* kDefaultLogName = "comm.log";

SCommNodeHooks g_hooks{};
bool g_hooksSet = false;

int32_t DefaultCallback(SXPacket*, SXPacketCNode*, int32_t& keep)
{
    keep = 1;
    return TRUE;
}

using tvcore::CopyText;

void FreePacket(SXPacket* p)
{
    if (p != nullptr)
        XFREE(p);
}

uint32_t PacketSizeOf(const SXPacket* p)
{
    uint32_t size = 0;
    p->GetPacketSize(size);
    return size;
}

// Takes the current entry out of a list, leaving the cursor on the next one.
void DeleteCurrent(CLList& list) { list.Delete(); }

} // namespace

void xSetCommNodeHooks(const SCommNodeHooks* hooks)
{
    if (hooks != nullptr) {
        g_hooks = *hooks;
        g_hooksSet = true;
    } else {
        g_hooks = SCommNodeHooks{};
        g_hooksSet = false;
    }
}

const SCommNodeHooks* xGetCommNodeHooks() { return g_hooksSet ? &g_hooks : nullptr; }

// ---------------------------------------------------------------- construction

CCommBase::CCommBase() : sendCallback(DefaultCallback), recvCallback(DefaultCallback)
{
    SetLogFileName(kDefaultLogName);
    SetObjName(kDefaultObjName);
}

// Nodes keep a list of the comm objects they are registered with: one that
// goes away leaves every one of them.
void CCommBase::ReleaseThisSideNodes()
{
    if (g_hooksSet)
        for (SLListNode* n = thisSideNodes.first; n != nullptr; n = n->next)
            g_hooks.deleteCommObject(static_cast<CCommNode*>(n->data), this);
    thisSideNodes.KillAll();
    tvcomm::ListEmptied(thisSideIndex);
}

int32_t CCommBase::IsCommNodeRegistered(CCommNode* node)
{
    return tvcomm::FindInList(thisSideNodes, thisSideIndex, node) != nullptr ? TRUE : FALSE;
}

void CCommBase::ForgetCommNode(CCommNode* node)
{
    tvcomm::RemoveFromList(thisSideNodes, thisSideIndex, node);
}

CCommBase::~CCommBase()
{
    ReleaseThisSideNodes();
    for (otherSideNodes.First(); otherSideNodes.Exists(); otherSideNodes.Next()) {
        auto* n = static_cast<SOtherSideNode*>(otherSideNodes.Get());
        if (n->name != nullptr)
            XFREE(n->name);
        XDELETE(n);
    }
    otherSideNodes.KillAll();
    FreeAllPackets();
    if (objName != nullptr)
        XFREE(objName);
    if (logFileName != nullptr)
        XFREE(logFileName);
}

void CCommBase::EmptyList(CLList& list)
{
    const bool outgoing = &list == &sendQue || &list == &transferOut;
    for (list.First(); list.Exists(); list.Next()) {
        if (outgoing)
            TakeFromSendQueBytes(PacketSizeOf(static_cast<SXPacket*>(list.Get())));
        FreePacket(static_cast<SXPacket*>(list.Get()));
    }
    list.KillAll();
    if (&list == &recvQue)
        recvQueBytes = 0;
}

void CCommBase::AddToSendQueBytes(SXPacket* packet) { sendQueBytes += PacketSizeOf(packet); }

void CCommBase::TakeFromSendQueBytes(uint32_t n) { sendQueBytes -= n <= sendQueBytes ? n : sendQueBytes; }

int32_t CCommBase::RoomToRoute(uint32_t size)
{
    if (sendQueOver != 0 || connected == 0)
        return FALSE;
    if (static_cast<uint32_t>(sendQue.GetNumNodes() + transferOut.GetNumNodes()) <
            COMM_SEND_QUEUE_MAX_PACKETS &&
        size <= COMM_SEND_QUEUE_MAX_BYTES - sendQueBytes)
        return TRUE;
    // The peer does not take what is routed to it: what waits for it goes
    // now, the connection with the next handler round.
    sendQueOver = 1;
    EmptyList(sendQue);
    EmptyList(transferOut);
    return Report(kSendQueueFullText);
}

void CCommBase::TakeFromRecvQueBytes(SXPacket* packet)
{
    uint32_t n = PacketSizeOf(packet);
    recvQueBytes -= n <= recvQueBytes ? n : recvQueBytes;
}

void CCommBase::FreeAllPackets()
{
    EmptyList(sendQue);
    EmptyList(transferOut);
    EmptyList(recvQue);
    EmptyList(transferIn);
}

int32_t CCommBase::Report(const char* text)
{
    return xErrorf("%s (classname: %s objectname: %s)", text, GetClassName(), GetObjName());
}

const char* CCommBase::GetErrorMessage() { return glb != nullptr ? glb->error.GetError() : ""; }

int32_t CCommBase::SetObjName(const char* name)
{
    if (!tvcomm::StoreName(objName, name, kDefaultObjName))
        return xErrorf("CommBase::SetObjName: Unable to allocate memory (classname: %s objectname: %s)",
                       "CCommBase", GetObjName());
    return TRUE;
}

int32_t CCommBase::SetObjName(const char* name, uint32_t n)
{
    return tvcomm::SetJoinedName(*this, name, tvcomm::NumberText(n).text);
}

int32_t CCommBase::SetObjName(const char* a, const char* b) { return tvcomm::SetJoinedName(*this, a, b); }

int32_t CCommBase::SetObjName(const char* a, const char* b, uint32_t n)
{
    return tvcomm::SetJoinedName(*this, a, b, tvcomm::NumberText(n).text);
}

int32_t CCommBase::SetLogFileName(const char* name)
{
    if (name == nullptr)
        name = kDefaultLogName;
    char* copy = CopyText(name);
    if (copy == nullptr)
        return xErrorf("CommBase::SetLogFileName: Unable to allocate memory (classname: %s objectname: %s)",
                       "CCommBase", GetObjName());
    if (logFileName != nullptr)
        XFREE(logFileName);
    logFileName = copy;
    return TRUE;
}

void CCommBase::SetPacketCallbackSend(XCommPacketCallback cb)
{
    sendCallback = cb != nullptr ? cb : DefaultCallback;
}
void CCommBase::SetPacketCallbackRecv(XCommPacketCallback cb)
{
    recvCallback = cb != nullptr ? cb : DefaultCallback;
}

int32_t CCommBase::SendQueDelete()
{
    if (!sendQue.Exists())
        return FALSE;
    TakeFromSendQueBytes(PacketSizeOf(static_cast<SXPacket*>(sendQue.Get())));
    FreePacket(static_cast<SXPacket*>(sendQue.Get()));
    DeleteCurrent(sendQue);
    return TRUE;
}

int32_t CCommBase::RecvQueDelete()
{
    if (!recvQue.Exists())
        return FALSE;
    TakeFromRecvQueBytes(static_cast<SXPacket*>(recvQue.Get()));
    FreePacket(static_cast<SXPacket*>(recvQue.Get()));
    DeleteCurrent(recvQue);
    return TRUE;
}

// ---------------------------------------------------------------- sending

int32_t CCommBase::SendPacket(SXPacket* packet)
{
    if (connected == 0)
        return Report("CCommBase::SendPacket: connected is FALSE, this object is not connected");
    if (packet == nullptr)
        return Report("CommBase::SendPacket: Invalid packet");
    int32_t keep = 1;
    if (!sendCallback(packet, SXPacketCNode::From(packet), keep))
        return Report("CommBase::SendPacket: Callback returned FALSE");
    if (keep == 0) {
        FreePacket(packet);
        return TRUE;
    }
    if (acceptNode != 1 && acceptRaw != 1)
        return Report("CommBase::SendPacket: Data not accepted (acceptRaw == FALSE and acceptNode == FALSE)");
    if (!sendQue.InsertLast(packet))
        return Report("CommBase::SendPacket: CLList.InsertLast function failed");
    AddToSendQueBytes(packet);
    uint32_t size = 0;
    if (!packet->GetPacketSize(size))
        Report("CommBase::SendPacket: GetPacketSize failed");
    else
        LogData(">Sending packet<", packet, size);
    return TRUE;
}

int32_t CCommBase::SendQueAdd(SXPacket* packet)
{
    if (connected == 0)
        return Report("CCommBase::SendQueAdd: connected is FALSE, this object is not connected");
    if (packet == nullptr || !sendQue.InsertLast(packet))
        return Report("CCommBase::SendQueAdd: CLList.InsertLast function failed");
    AddToSendQueBytes(packet);
    return TRUE;
}

int32_t CCommBase::SendRawData(const char* data, uint32_t size)
{
    if (connected == 0)
        return Report("CCommBase::SendRawData: connected is FALSE, this object is not connected");
    if (outAckMode == 1 && outDataAcked == 0)
        return Report("CCommBase::SendRawData: outAckFlag is TRUE but outDataAcked is FALSE");
    if (acceptRaw != 1)
        return Report("CommBase::SendRawData: This object doesn't accept raw data");
    SXPacket* p = BuildPacket(PACKET_TYPE_RAW, 0, "", 0, 0, data, size);
    if (p == nullptr)
        return Report("CommBase::SendRawData: BuildPacket function failed");
    if (!SendPacket(p)) {
        FreePacket(p);
        return FALSE;
    }
    outDataAcked = 0;
    return TRUE;
}

int32_t CCommBase::SendCommNodeData(const char* nodeName, uint32_t nodeId, uint32_t nodeType,
                                    uint32_t sessionIndex, const char* data, uint32_t size)
{
    if (connected == 0)
        return Report("CCommBase::SendCommNodeData: connected is FALSE, this object is not connected");
    if (outAckMode == 1 && outDataAcked == 0)
        Report("CCommBase::SendCommNodeData: outAckFlag is TRUE but outDataAcked is FALSE");
    if (acceptNode != 1)
        return TRUE;
    const char* name = nodeName != nullptr ? nodeName : "";
    bool found = false;
    if (g_hooksSet) {
        for (SLListNode* n = thisSideNodes.first; n != nullptr && !found; n = n->next) {
            auto* node = static_cast<CCommNode*>(n->data);
            found = g_hooks.getId(node) == nodeId && std::strcmp(g_hooks.getName(node), name) == 0;
        }
    }
    if (!found)
        return Report("CommBase::SendCommNodeData: Sending node does not exists");
    SXPacket* p = BuildPacket(PACKET_TYPE_CNODE, nodeId, name, nodeType, sessionIndex, data, size);
    if (p == nullptr)
        return Report("CommBase::SendCommNodeData: BuildPacket function failed");
    if (!SendPacket(p)) {
        FreePacket(p);
        return Report("CommBase::SendCommNodeData: SendPacket function failed");
    }
    outDataAcked = 0;
    return TRUE;
}

int32_t CCommBase::SendHandler()
{
    while (sendQue.first != nullptr) {
        SLListNode* node = sendQue.first;
        if (!transferOut.InsertLast(node->data))
            return Report("CCommBase::SendHandler: Unable to insert listitem");
        sendQue.Unlink(node);
    }
    return TRUE;
}

// ---------------------------------------------------------------- receiving

int32_t CCommBase::RecvHandler()
{
    SLListNode* n = transferIn.first;
    while (n != nullptr) {
        auto* p = static_cast<SXPacket*>(n->data);
        uint8_t type = 0;
        if (!p->GetPacketType(type))
            return Report("CCommBase::RecvHandler: GetPacketType failed");
        if (type == PACKET_TYPE_PROTOCOL) {
            n = n->next;
            continue;
        }
        if (type == PACKET_TYPE_SPLIT) {
            // A split run is checked and then left where it is: nothing
            // behind it is handed on until the run is taken care of.
            uint8_t first = 0, id = 0;
            if (!p->GetSplitIndex(first))
                return Report("CCommBase::RecvHandler: GetSplitIndex failed");
            if (first != 0)
                return Report(
                    "CCommBase::RecvHandler: The first splitted packet do not have the splitindex 0");
            if (!p->GetSplitId(id))
                return Report("CCommBase::RecvHandler: GetSplitId failed");
            uint8_t expected = static_cast<uint8_t>(first + 1);
            uint8_t maxIndex = 0;
            if (!p->GetMaxSplitIndex(maxIndex))
                return Report("CCommBase::RecvHandler: GetMaxSplitIndex failed");
            if (maxIndex == first)
                return TRUE;
            for (SLListNode* m = n->next; m != nullptr; m = m->next) {
                auto* q = static_cast<SXPacket*>(m->data);
                uint8_t t = 0;
                if (!q->GetPacketType(t))
                    return Report("CCommBase::RecvHandler: GetPacketType failed");
                if (t != PACKET_TYPE_SPLIT)
                    continue;
                uint8_t qid = 0, qindex = 0, qmax = 0;
                if (!q->GetSplitId(qid))
                    return Report("CCommBase::RecvHandler: GetSplitId failed (2)");
                if (qid != id)
                    return Report(
                        "CCommBase::RecvHandler: We got a new splitId before we had all the packets "
                        "from the first splitId");
                if (!q->GetSplitIndex(qindex))
                    return Report("CCommBase::RecvHandler: GetSplitIndex failed (2)");
                if (qindex != expected)
                    return Report("CCommBase::RecvHandler: When trying to check the next packet in a list of "
                                  "splitted packets: The new splitId is not splitId+1");
                if (!q->GetMaxSplitIndex(qmax))
                    return Report("CCommBase::RecvHandler: GetMaxSplitIndex failed");
                if (qindex == qmax)
                    break;
                ++expected;
            }
            return TRUE;
        }
        transferIn.Unlink(n);
        if (!RecvPacketFromRemote(p))
            return Report("CCommBase::RecvHandler: RecvPacketFromRemote failed");
        n = transferIn.first;
    }
    return TRUE;
}

int32_t CCommBase::RecvPacketFromRemote(SXPacket* packet)
{
    if (packet == nullptr)
        return Report("CommBase::RecvPacketFromRemote: Invalid data header");
    if (!packet->ValidateHeader()) {
        FreePacket(packet);
        return Report("CommBase::RecvPacketFromRemote: Invalid data header");
    }
    SXPacketCNode* cnode = SXPacketCNode::From(packet);
    int32_t keep = 1;
    if (!recvCallback(packet, cnode, keep)) {
        FreePacket(packet);
        return Report("CommBase::RecvPacketFromRemote: receive callback returned FALSE");
    }
    if (keep == 0) {
        FreePacket(packet);
        return TRUE;
    }
    uint8_t type = 0;
    packet->GetPacketType(type);
    uint32_t packetSize = PacketSizeOf(packet);

    auto fail = [&](const char* text) {
        FreePacket(packet);
        return Report(text);
    };
    // Past a bound on what the peer can make this object hold, the
    // connection goes: the handler round sees it down and closes it.
    auto overLimit = [&](const char* text) {
        connected = 0;
        return fail(text);
    };

    switch (type) {
    case PACKET_TYPE_CNODEREG:
    case PACKET_TYPE_CNODEUNREG: {
        if (acceptNode != 1)
            return fail("CommBase::RecvPacketFromRemote: Nodedata not accepted (acceptNode == FALSE)");
        uint32_t id = 0, ntype = 0, size = 0, nameSize = 0;
        if (!cnode->GetNodeId(id))
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodeid");
        if (!cnode->GetNodeType(ntype))
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodetype");
        if (!cnode->GetPacketSize(size))
            return fail("CommBase::RecvPacketFromRemote: Unable to get packetSize");
        if (!cnode->GetNodeNameSize(nameSize))
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodenamesize");
        const char* name = cnode->GetNodeName();
        if (name == nullptr)
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodename");
        if (type == PACKET_TYPE_CNODEREG) {
            SOtherSideNode* entry = nullptr;
            for (SLListNode* n = otherSideNodes.first; n != nullptr; n = n->next) {
                auto* e = static_cast<SOtherSideNode*>(n->data);
                if (e->nodeId == id && e->nodeType == ntype && strcasecmp(e->name, name) == 0) {
                    entry = e;
                    break;
                }
            }
            if (entry != nullptr) {
                ++entry->refCount;
            } else if (static_cast<uint32_t>(otherSideNodes.GetNumNodes()) >= COMM_OTHER_SIDE_NODES_MAX) {
                return overLimit("CommBase::RecvPacketFromRemote: Too many remote nodes (limit 4096)");
            } else {
                char* copy = CopyText(name);
                if (copy == nullptr)
                    return fail("CommBase::RecvPacketFromRemote: Unable to allocate memory for nodename");
                entry = XNEW(SOtherSideNode);
                if (entry == nullptr) {
                    XFREE(copy);
                    return fail("CommBase::RecvPacketFromRemote: Unable to allocate memory for nodename");
                }
                entry->nodeId = id;
                entry->nodeType = ntype;
                entry->name = copy;
                entry->refCount = 1;
                LogData(">Add commnode to comm (othersidenode)<", copy,
                        static_cast<uint32_t>(std::strlen(copy)));
                if (!otherSideNodes.InsertLast(entry)) {
                    XFREE(copy);
                    XDELETE(entry);
                    return fail("CommBase::RecvPacketFromRemote: CLList.InsertLast function failed");
                }
                LogData(">RECV:Comm node register<", packet, packetSize);
            }
            SendCommNodeRegToAllComm(this, packet);
            FreePacket(packet);
            return TRUE;
        }
        for (SLListNode* n = otherSideNodes.first; n != nullptr; n = n->next) {
            auto* e = static_cast<SOtherSideNode*>(n->data);
            if (e->nodeId == id && e->nodeType == ntype && std::strlen(e->name) == nameSize &&
                std::memcmp(e->name, name, nameSize) == 0) {
                if (--e->refCount <= 0) {
                    otherSideNodes.Unlink(n);
                    XFREE(e->name);
                    XDELETE(e);
                }
                break;
            }
        }
        FreePacket(packet);
        return TRUE;
    }
    case PACKET_TYPE_RAW:
        if (inAckMode == 1 && inDataAcked == 0)
            return fail("CommBase::RecvPacketFromRemote: Old data not acknoledged");
        if (acceptRaw != 1)
            return fail("CommBase::RecvPacketFromRemote: Rawdata not accepted (acceptRaw is FALSE)");
        if (static_cast<uint32_t>(recvQue.GetNumNodes()) >= COMM_RECV_QUEUE_MAX_PACKETS ||
            packetSize > COMM_RECV_QUEUE_MAX_BYTES - recvQueBytes)
            return overLimit("CommBase::RecvPacketFromRemote: Receive queue full (limit 65536 packets, "
                             "67108864 bytes)");
        if (!recvQue.InsertLast(packet))
            return fail("CommBase::RecvPacketFromRemote: CLList.InsertLast function failed");
        recvQueBytes += packetSize;
        inDataAcked = 0;
        LogData(">RECV:RawData<", packet, packetSize);
        return TRUE;
    case PACKET_TYPE_CNODE: {
        if (inAckMode == 1 && inDataAcked == 0)
            return fail("CommBase::RecvPacketFromRemote: Old data not acknoledged");
        if (acceptNode != 1)
            return fail("CommBase::RecvPacketFromRemote: Nodedata not accepted (acceptNode == FALSE)");
        const char* name = cnode->GetNodeName();
        if (name == nullptr)
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodename");
        uint32_t id = 0, ntype = 0, nameSize = 0;
        if (!cnode->GetNodeId(id))
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodeid");
        if (!cnode->GetNodeType(ntype))
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodetype");
        if (!cnode->GetNodeNameSize(nameSize))
            return fail("CommBase::RecvPacketFromRemote: Unable to get nodenamesize");
        bool known = false;
        for (SLListNode* n = otherSideNodes.first; n != nullptr && !known; n = n->next) {
            auto* e = static_cast<SOtherSideNode*>(n->data);
            known = e->nodeId == id && std::strlen(e->name) == nameSize &&
                    std::memcmp(e->name, name, nameSize) == 0;
        }
        LogData(">RECV:Node data<", packet, packetSize);
        int32_t forwarded = SendCommNodeToAllComm(this, packet);
        if (!known && !forwarded) {
            // The name lives in the packet: report before letting it go.
            xErrorf("CommBase::RecvPacketFromRemote: Remote node not found (classname: %s objectname: %s) "
                    "Node(Name:%s Id:%ld)",
                    GetClassName(), GetObjName(), name, static_cast<long>(static_cast<int32_t>(id)));
            FreePacket(packet);
            return FALSE;
        }
        bool accepted = false, full = false;
        if (g_hooksSet) {
            for (SLListNode* n = thisSideNodes.first; n != nullptr; n = n->next) {
                auto* node = static_cast<CCommNode*>(n->data);
                const char* nodeName = g_hooks.getName(node);
                if (g_hooks.getId(node) == id && std::strcmp(nodeName, name) == 0 &&
                    g_hooks.recvIncomingFromComm(node, packet) == 1) {
                    accepted = true;
                    LogData(">RECV:Node data\t- ACCEPT -<", nodeName,
                            static_cast<uint32_t>(std::strlen(nodeName)));
                } else {
                    LogData(">RECV:Node data\t- DENY -<", nodeName,
                            static_cast<uint32_t>(std::strlen(nodeName)));
                    full = full || (g_hooks.recvQueueFull != nullptr && g_hooks.recvQueueFull(node) == 1);
                }
            }
        }
        if (full)
            return overLimit("CommBase::RecvPacketFromRemote: A node's receive queue is full (limit 65536 "
                             "packets, 67108864 bytes)");
        if (!accepted)
            LogData(">RECV:Node data\t- NOT SENT TO ANY NODE -<", nullptr, 0);
        FreePacket(packet);
        inDataAcked = 0;
        return TRUE;
    }
    default:
        return fail("CommBase::RecvPacketFromRemote: Not a valid type of packed");
    }
}

int32_t CCommBase::RecvRawData(char*& data, uint32_t& size)
{
    for (SLListNode* n = recvQue.first; n != nullptr; n = n->next) {
        auto* p = static_cast<SXPacket*>(n->data);
        uint8_t type = 0;
        if (!p->GetPacketType(type))
            return Report("CCommBase::RecvRawData: Unable to get packet type");
        if (type != PACKET_TYPE_RAW)
            continue;
        uint32_t total = PacketSizeOf(p);
        uint32_t n2 = total - PACKET_HEADER_SIZE;
        // At least one byte, so an empty packet still gives a buffer to free.
        auto* buf = static_cast<char*>(XALLOC(n2 != 0 ? n2 : 1));
        if (buf == nullptr)
            return xErrorTxt_Func("RecvRawData: Unable to allocate memory for buffer", __FILE__, __LINE__);
        std::memcpy(buf, reinterpret_cast<const char*>(p) + PACKET_HEADER_SIZE, n2);
        TakeFromRecvQueBytes(p);
        recvQue.Unlink(n);
        FreePacket(p);
        data = buf;
        size = n2;
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- nodes

int32_t CCommBase::RegisterCommNode(CCommNode* node)
{
    if (acceptNode != 1 || node == nullptr || !g_hooksSet)
        return Report("CCommRemoteClient:: RegisterCommNode: Unable to register commnode");
    const char* name = g_hooks.getName(node);
    SXPacket* p =
        BuildPacket(PACKET_TYPE_CNODEREG, g_hooks.getId(node), name, g_hooks.getType(node), 0, nullptr, 0);
    if (p == nullptr)
        return Report("CCommRemoteClient:: RegisterCommNode: Unable to register commnode");
    if (IsCommNodeRegistered(node)) {
        FreePacket(p);
        return TRUE;
    }
    if (!sendQue.InsertLast(p)) {
        FreePacket(p);
        return Report("CCommRemoteClient:: RegisterCommNode: Unable to register commnode");
    }
    AddToSendQueBytes(p);
    LogData(">Add commnode to comm (thissidenode)<", name, static_cast<uint32_t>(std::strlen(name)));
    if (!tvcomm::AppendToList(thisSideNodes, thisSideIndex, node)) {
        TakeFromSendQueBytes(PacketSizeOf(p));
        sendQue.DeleteItem(p);
        FreePacket(p);
        return Report("CCommRemoteClient:: RegisterCommNode: Unable to register commnode");
    }
    uint32_t size = 0;
    if (!p->GetPacketSize(size))
        Report("CCommRemoteClient:: RegisterCommNode: GetPacketSize failed");
    else
        LogData(">Sending packet (register comm node)<", p, size);
    if (g_hooks.addCommObject(node, this))
        return TRUE;
    TakeFromSendQueBytes(PacketSizeOf(p));
    sendQue.DeleteItem(p);
    FreePacket(p);
    tvcomm::RemoveFromList(thisSideNodes, thisSideIndex, node);
    return Report("CCommRemoteClient:: RegisterCommNode: Unable to register commnode");
}

int32_t CCommBase::UnregisterCommNode(CCommNode* node)
{
    if (node == nullptr || !g_hooksSet)
        return Report("CCommRemoteClient::UnregisterCommNode: Unable to unregister commnode");
    const char* name = g_hooks.getName(node);
    uint32_t id = g_hooks.getId(node);
    SXPacket* p = BuildPacket(PACKET_TYPE_CNODEUNREG, id, name, g_hooks.getType(node), 0, nullptr, 0);
    if (acceptNode != 1 || p == nullptr || !IsCommNodeRegistered(node) || !sendQue.InsertLast(p)) {
        FreePacket(p);
        return xErrorf("CCommRemoteClient::UnregisterCommNode: Unable to unregister commnode (classname: %s "
                       "objectname: %s) Node(%s,%ld)",
                       GetClassName(), GetObjName(), name, static_cast<long>(static_cast<int32_t>(id)));
    }
    AddToSendQueBytes(p);
    uint32_t size = 0;
    if (!p->GetPacketSize(size))
        Report("CCommRemoteClient:: UnregisterCommNode: GetPacketSize failed");
    else
        LogData(">Sending packet (unregister comm node)<", p, size);
    g_hooks.deleteCommObject(node, this);
    tvcomm::RemoveFromList(thisSideNodes, thisSideIndex, node);
    LogData(">Remove commNode fromcomm (thissidenode)<", name, static_cast<uint32_t>(std::strlen(name)));
    return TRUE;
}

// Registers, with target's peer, the nodes known through `from`. With the
// bars applied (what a newly registered connection learns of the others)
// this follows the same routing bars as the registrations that come later:
// a node of a type barred from leaving `from`, or from reaching `target`,
// stays unannounced.
int32_t SendOtherSideNodesRouted(CCommBase* from, CCommBase* target, bool applyBars)
{
    if (from == nullptr || target == nullptr || from->connected == 0)
        return TRUE;
    const bool clientsPass =
        !applyBars || (!from->neverRouteNodeFromClient && !target->neverRouteNodeToClient);
    const bool serversPass =
        !applyBars || (!from->neverRouteNodeFromServer && !target->neverRouteNodeToServer);
    for (SLListNode* n = from->otherSideNodes.first; n != nullptr; n = n->next) {
        auto* e = static_cast<SOtherSideNode*>(n->data);
        if ((e->nodeType == CNODE_CLIENT && !clientsPass) || (e->nodeType == CNODE_SERVER && !serversPass))
            continue;
        SXPacket* p = BuildPacket(PACKET_TYPE_CNODEREG, e->nodeId, e->name, e->nodeType, 0, nullptr, 0);
        if (p == nullptr)
            return from->Report("CCommBase::SendOtherSideNodes: BuildPacket function failed");
        if (!target->SendPacket(p)) {
            FreePacket(p);
            return from->Report("CCommRemoteClient::SendOtherSideNodes: SendPacket function failed");
        }
    }
    return TRUE;
}

int32_t CCommBase::SendOtherSideNodes(CCommBase* target)
{
    return SendOtherSideNodesRouted(this, target, false);
}

int32_t CCommBase::HasOtherSideNode(const char* name, uint32_t nameLength, uint32_t nodeId,
                                    uint32_t wantedType)
{
    if (acceptNode == 0 || name == nullptr)
        return FALSE;
    for (SLListNode* n = otherSideNodes.first; n != nullptr; n = n->next) {
        auto* e = static_cast<SOtherSideNode*>(n->data);
        if (e->nodeId != nodeId || std::strlen(e->name) != nameLength ||
            std::memcmp(e->name, name, nameLength) != 0)
            continue;
        if (wantedType == CNODE_ANY)
            return TRUE;
        if (wantedType == CNODE_CLIENT && (e->nodeType == CNODE_ANY || e->nodeType == CNODE_SERVER))
            return TRUE;
        if (wantedType == CNODE_SERVER && (e->nodeType == CNODE_ANY || e->nodeType == CNODE_CLIENT))
            return TRUE;
    }
    return FALSE;
}

void CCommBase::Cleanup()
{
    ReleaseThisSideNodes();
    for (SLListNode* n = otherSideNodes.first; n != nullptr; n = n->next) {
        auto* e = static_cast<SOtherSideNode*>(n->data);
        XFREE(e->name);
        XDELETE(e);
    }
    otherSideNodes.KillAll();
}

// ---------------------------------------------------------------- routing

namespace
{

template <bool Data> int32_t RouteToAll(CCommBase* from, SXPacket* packet, const char* fn)
{
    SXPacketCNode* cnode = SXPacketCNode::From(packet);
    uint32_t type = 0, size = 0, nameSize = 0, id = 0;
    const char* name = nullptr;
    if (!cnode->GetNodeType(type))
        return xErrorf("%s: GetNodeType failed.", fn);
    if (Data) {
        if (!cnode->GetPacketSize(size))
            return xErrorf("%s: GetPacketSize failed.", fn);
        if (!cnode->GetNodeNameSize(nameSize))
            return xErrorf("%s: GetNodeNameSize failed.", fn);
        if (!cnode->GetNodeId(id))
            return xErrorf("%s: GetNodeId failed.", fn);
        name = cnode->GetNodeName();
        if (name == nullptr)
            return xErrorf("%s: GetNodeName failed.", fn);
    } else if (!cnode->GetPacketSize(size)) {
        return xErrorf("%s: GetPacketSize failed.", fn);
    }
    if ((type == CNODE_SERVER && from->GetNeverRouteNode_From_Server()) ||
        (type == CNODE_CLIENT && from->GetNeverRouteNode_From_Client()))
        return TRUE;
    if (glb == nullptr || glb->localClients == nullptr)
        return xErrorf(Data ? "%s: glb->localClientRegList is NULL" : "%s: glb->localClientRegList is NULL.",
                       fn);
    if (glb->remoteClients == nullptr)
        return xErrorf("%s: glb->remoteClientRegList is NULL", fn);
    int32_t sent = 0;
    CLList* lists[2] = {glb->localClients, glb->remoteClients};
    for (int li = 0; li < 2; ++li) {
        for (SLListNode* n = lists[li]->first; n != nullptr; n = n->next) {
            auto* comm = static_cast<CCommBase*>(n->data);
            if (comm == from || comm->AcceptNodes() != 1)
                continue;
            if ((type == CNODE_CLIENT && comm->GetNeverRouteNode_To_Client()) ||
                (type == CNODE_SERVER && comm->GetNeverRouteNode_To_Server()))
                continue;
            if (Data && !comm->HasOtherSideNode(name, nameSize, id, type))
                continue;
            if (!comm->RoomToRoute(size))
                continue;
            SXPacket* copy = nullptr;
            if (!packet->MakeNewPacket(copy)) {
                xErrorf(Data ? "%s: MakeNewPacket function failed" : "%s: MakeNewPacket function failed.",
                        fn);
                continue;
            }
            if (!comm->SendPacket(copy)) {
                XFREE(copy);
                xErrorf(Data ? "%s: comm->SendPacket function failed"
                             : "%s: comm->SendPacket function failed.",
                        fn);
                continue;
            }
            const char* label =
                Data ? (li == 0 ? ">Route (to local)<" : ">Route (to remote)<")
                     : (li == 0 ? ">Register Route (to local)<" : ">Register Route (to remote)<");
            comm->LogRoute(from, label, packet, size);
            ++sent;
        }
    }
    return sent > 0 ? TRUE : FALSE;
}

} // namespace

int32_t SendCommNodeRegToAllComm(CCommBase* from, SXPacket* packet)
{
    return RouteToAll<false>(from, packet, "SendCommNodeRegToAllComm");
}

int32_t SendCommNodeToAllComm(CCommBase* from, SXPacket* packet)
{
    return RouteToAll<true>(from, packet, "SendCommNodeToAllComm");
}

// ---------------------------------------------------------------- ping

int32_t CCommBase::PingHandler(int32_t& timedOut)
{
    timedOut = 0;
    if (connected == 0)
        return xErrorTxt_Func("CCommBase::PingHandler: connected is not TRUE, this object is not connected.",
                              __FILE__, __LINE__);
    for (int pass = 0; pass < 2; ++pass) {
        SLListNode* n = transferIn.first;
        while (n != nullptr) {
            SLListNode* next = n->next;
            auto* p = static_cast<SXPacket*>(n->data);
            uint8_t type = 0;
            if (!p->GetPacketType(type))
                return Report("CCommBase::PingHandler: GetPacketType function failed");
            uint32_t size = PacketSizeOf(p);
            uint8_t proto =
                size > PACKET_HEADER_SIZE ? SXPacketProtocolHeader::From(p)->GetProtocolType() : 0;
            if (type == PACKET_TYPE_PROTOCOL && pass == 0 && proto == PACKET_PROTOCOL_PING) {
                transferIn.Unlink(n);
                FreePacket(p);
                auto* answer =
                    static_cast<SXPacketProtocolPingAnswer*>(XALLOC(sizeof(SXPacketProtocolPingAnswer)));
                if (answer == nullptr)
                    return xErrorTxt_Func("CCommBase::PingHandler: Unable to create pingAnswer packet.",
                                          __FILE__, __LINE__);
                answer->SXPacketProtocolPingAnswer_Init();
                if (!transferOut.InsertFirst(answer)) {
                    XFREE(answer);
                    return xErrorTxt_Func(
                        "CCommBase::PingHandler: Unable to insert pinganswer packet in que.", __FILE__,
                        __LINE__);
                }
                AddToSendQueBytes(reinterpret_cast<SXPacket*>(answer));
            } else if (type == PACKET_TYPE_PROTOCOL && pass == 1 && proto == PACKET_PROTOCOL_PINGANSWER) {
                transferIn.Unlink(n);
                FreePacket(p);
                if (pingPending == 0)
                    dprintf("Weird error, found a pinganswer packet but has no pending ping.\n");
                pingPending = 0;
            }
            n = next;
        }
    }
    uint32_t now = xGetTime();
    if (pingTimeSet == 0 || (xTimeDiff(lastPingTime, now) >= COMM_PING_INTERVAL && pingPending == 0)) {
        auto* ping = static_cast<SXPacketProtocolPing*>(XALLOC(sizeof(SXPacketProtocolPing)));
        if (ping == nullptr)
            return xErrorTxt_Func("CCommBase::PingHandler: Unable to create ping packet.", __FILE__,
                                  __LINE__);
        ping->SXPacketProtocolPing_Init();
        if (!transferOut.InsertFirst(ping)) {
            XFREE(ping);
            return xErrorTxt_Func("CCommBase::PingHandler: Unable to insert ping packet in que.", __FILE__,
                                  __LINE__);
        }
        AddToSendQueBytes(reinterpret_cast<SXPacket*>(ping));
        lastPingTime = now;
        pingTimeSet = 1;
        pingPending = 1;
    }
    if (pingPending != 0) {
        if (pingTimeSet == 0)
            return xErrorTxt_Func(
                "CCommBase::PingHandler: Impossible error, pending ping is set but no oldPingTime "
                "exists.",
                __FILE__, __LINE__);
        if (xTimeDiff(lastPingTime, now) >= COMM_PING_TIMEOUT) {
            dprintf("CCommBase::PingHandler: ping timeout.\n");
            timedOut = 1;
        }
    }
    return TRUE;
}

// ---------------------------------------------------------------- log file

namespace
{

const char* kStars = "********************************************\n";

void Put(CFile& f, const char* text) { f.Write(text, static_cast<uint32_t>(std::strlen(text))); }

void PutData(CFile& f, const void* data, uint32_t size)
{
    if (data == nullptr)
        return;
    Put(f, "*********\n");
    if (size != 0)
        f.Write(data, size);
    Put(f, "\n");
    Put(f, "*********\n");
}

} // namespace

void CCommBase::LogData(const char* label, const void* data, uint32_t size)
{
    if (logEnabled != 1 || logFileName == nullptr)
        return;
    CFile f;
    if (!f.Open(logFileName, XFILE_APPEND))
        return;
    char buf[128];
    Put(f, kStars);
    Put(f, kStars);
    Put(f, label != nullptr ? label : "");
    Put(f, " | Object name: ");
    if (objName != nullptr) {
        Put(f, objName);
        Put(f, " | Class name: ");
        Put(f, GetClassName());
    } else {
        Put(f, "No object name");
    }
    Put(f, "\n");
    std::snprintf(buf, sizeof buf, "Timestamp: %ld  |  Address: %ld\n",
                  static_cast<long>(static_cast<int32_t>(xGetTime())),
                  static_cast<long>(reinterpret_cast<intptr_t>(this)));
    Put(f, buf);
    PutData(f, data, size);
    Put(f, kStars);
    Put(f, kStars);
    Put(f, "\n");
    f.Close();
}

void CCommBase::LogRoute(CCommBase* from, const char* label, const void* data, uint32_t size)
{
    if (logEnabled != 1 || logFileName == nullptr)
        return;
    CFile f;
    if (!f.Open(logFileName, XFILE_APPEND))
        return;
    Put(f, kStars);
    Put(f, kStars);
    Put(f, label != nullptr ? label : "");
    Put(f, "\nFrom object: ");
    Put(f, from != nullptr && from->objName != nullptr ? from->objName : "No object name");
    Put(f, " | From class: ");
    Put(f, from != nullptr ? from->GetClassName() : "");
    Put(f, "\nTo object(this): ");
    Put(f, objName != nullptr ? objName : "No object name");
    Put(f, " | To class(this): ");
    Put(f, GetClassName());
    Put(f, "\n");
    PutData(f, data, size);
    Put(f, kStars);
    Put(f, kStars);
    Put(f, "\n");
    f.Close();
}
