// Comm nodes, receive side: taking a packet from a comm object (or from a
// local sender), the session index rules, the receive queue and the two
// readers (ordinary and snooping).
//
// Every queued payload is stored one byte longer than it is, that byte
// zero: node packets carry KCBL text without a terminator, and the import
// reads up to one, so the reader never runs past the packet.
#include "comm/commnode_internal.h"

#include <tarvex/commnode.h>
#include <tarvex/error.h>
#include <tarvex/memory.h>

#include <cstdio>
#include <cstring>

namespace
{

const char* SessionTypeText(uint32_t type, char* buffer, size_t size)
{
    switch (type) {
    case CNODE_ANY:
        return "CNODE_ANY";
    case CNODE_SERVER:
        return "CNODE_SERVER";
    case CNODE_CLIENT:
        return "CNODE_CLIENT";
    default:
        std::snprintf(buffer, size, "INVALID: The value is: %lu", static_cast<unsigned long>(type));
        return buffer;
    }
}

} // namespace

// ---------------------------------------------------------------- from the comm layer

bool CCommNode::SessionIndexPasses(uint32_t peerType, uint32_t packetIndex)
{
    const auto id = static_cast<unsigned long>(nodeId);
    const char* name = GetName();
    const char* obj = GetObjName();
    if (peerType == CNODE_SERVER && nodeType == CNODE_CLIENT) {
        if (packetIndex == 0) {
            if (debugSessionIndex)
                dprintf(
                    "SessionIndexDebug: SessionIndex not used since the server didn't provide one. (%s, %lu, "
                    "%s)\n",
                    name, id, obj);
            return true;
        }
        if (sessionIndex == 0)
            sessionIndex = packetIndex;
        if (debugSessionIndex) {
            if (packetIndex == sessionIndex)
                dprintf(
                    "SessionIndexDebug: A packet from a server was received with the same sessionindex. "
                    "ServerSessionIndex: %lu ClientSessionIndex: %lu. (nodename: %s nodeid: %lu objectname "
                    "%s).\n",
                    static_cast<unsigned long>(packetIndex), static_cast<unsigned long>(sessionIndex), name,
                    id, obj);
            else
                dprintf(
                    "SessionIndexDebug: NEW SESSIONINDEX CLIENT: A packet from a server was received with a "
                    "new sessionIndex. ServerSessionIndex: %lu ClientSessionIndex: %lu. (nodename: %s "
                    "nodeid: %lu objectname %s).\n",
                    static_cast<unsigned long>(packetIndex), static_cast<unsigned long>(sessionIndex), name,
                    id, obj);
        }
        sessionIndex = packetIndex;
        return true;
    }
    if (peerType == CNODE_CLIENT && nodeType == CNODE_SERVER) {
        if (sessionIndex == 0) {
            if (debugSessionIndex)
                dprintf(
                    "SessionIndexDebug: SessionIndex not used since, the sessionIndex is not set. (%s, %lu, "
                    "%s)\n",
                    name, id, obj);
            return true;
        }
        if (packetIndex != sessionIndex) {
            if (debugSessionIndex)
                dprintf(
                    "SessionIndexDebug: A packet from a client was received and we dropped it. "
                    "ServerSessionIndex: %lu clientSessionIndex: %lu. (nodeName: %s nodeId: %lu objectname: "
                    "%s).\n",
                    static_cast<unsigned long>(sessionIndex), static_cast<unsigned long>(packetIndex), name,
                    id, obj);
            return false;
        }
        if (debugSessionIndex)
            dprintf("SessionIndexDebug: A packet from a client was received and we accept it. "
                    "ServerSessionIndex: "
                    "%lu clientSessionIndex: %lu. (nodeName: %s nodeId: %lu objectname: %s).\n",
                    static_cast<unsigned long>(sessionIndex), static_cast<unsigned long>(packetIndex), name,
                    id, obj);
        return true;
    }
    if (debugSessionIndex) {
        char thisText[3000], peerText[3000];
        dprintf(
            "SessionIndexDebug: Not using sessionIndex. This is not a CLIENT/SERVER connection. (nodeName:%s "
            "nodeId: %lu objectName: %s)\n",
            name, id, obj);
        dprintf("\t\t--ThisType: %s\n\t\t--peerType: %s\n",
                SessionTypeText(nodeType, thisText, sizeof thisText),
                SessionTypeText(peerType, peerText, sizeof peerText));
    }
    return true;
}

int32_t CCommNode::RecvIncomingFromComm(SXPacket* packet)
{
    if (commNodeInit != TRUE)
        return Fail("CCommNode::RecvIncomingFromComm:commNodeInit is not TRUE");
    if (inAckMode == TRUE && inAcked == FALSE)
        return Fail("CCommNode::RecvIncomingFromComm:Old data not acked");
    if (packet == nullptr)
        return Fail("CCommNode::RecvIncomingFromComm:GetPacketType failed");
    uint8_t packetType = 0;
    if (!packet->GetPacketType(packetType))
        return Fail("CCommNode::RecvIncomingFromComm:GetPacketType failed");
    if (packetType != PACKET_TYPE_CNODE)
        return TRUE;
    SXPacketCNode* cnode = SXPacketCNode::From(packet);
    uint32_t id = 0;
    if (!cnode->GetNodeId(id))
        return Fail("CCommNode::RecvIncomingFromComm:GetNodeId failed");
    if (id != nodeId)
        return TRUE;
    const char* packetName = cnode->GetNodeName();
    if (packetName == nullptr)
        return Fail("CCommNode::RecvIncomingFromComm:packet->GetNodeName function returned NULL");
    if (nodeName == nullptr)
        return Fail("CCommNode::RecvIncomingFromComm:nodename is NULL");
    if (std::strcmp(packetName, nodeName) != 0)
        return TRUE;


    // The payload is copied once, straight into the block the queue will
    // keep (one byte longer, that byte zero).
    uint32_t peerType = 0, packetSize = 0, fullHeader = 0;
    void* payload = nullptr;
    if (!cnode->GetNodeType(peerType) || !cnode->GetPacketSize(packetSize) ||
        !cnode->GetFullNodeHeaderSize(fullHeader) || fullHeader > packetSize ||
        !cnode->GetNodeDataPtr(payload))
        return Fail("CCommNode::RecvIncomingFromComm:Unable to extract data");
    uint32_t size = packetSize - fullHeader;
    recvQueRefused = static_cast<uint32_t>(recvQue.GetNumNodes()) >= COMMNODE_RECV_QUEUE_MAX_PACKETS ||
                             recvQueBytes >= COMMNODE_RECV_QUEUE_MAX_BYTES ||
                             size >= COMMNODE_RECV_QUEUE_MAX_BYTES - recvQueBytes
                         ? TRUE
                         : FALSE;
    if (recvQueRefused)
        return Fail("CCommNode::RecvIncomingFromComm:Receive queue full (limit 65536 packets, 67108864 "
                    "bytes)");
    auto* data = static_cast<char*>(XALLOC(size + 1u));
    if (data == nullptr)
        return Fail("CCommNode::RecvIncomingFromComm:Unable to extract data");
    if (size != 0)
        std::memcpy(data, payload, size);
    data[size] = 0;

    uint32_t packetIndex = 0;
    if (!cnode->GetNodeSessionIndex(packetIndex)) {
        XFREE(data);
        return xErrorTxt_Func("CCommNode::RecvIncomingFromComm: GetNodeSessionIndex failed.", __FILE__,
                              __LINE__);
    }
    if (!SessionIndexPasses(peerType, packetIndex)) {
        XFREE(data);
        return TRUE;
    }

    // The callback may hand back a buffer of its own: that one stays the
    // callback's (the queue takes a copy), and this copy is released.
    char* own = data;
    uint32_t ownSize = size;
    int32_t keep = 1;
    int32_t ok = recvPacketCallback(this, data, size, keep);
    if (!ok) {
        XFREE(own);
        return Fail(
            "CCommNode::RecvIncomingFromComm:recvPacketCallback function failed (the callback returned "
            "error)");
    }
    if (keep == 0) {
        XFREE(own);
        return TRUE;
    }
    LogFileRead(data, size);
    int32_t inserted;
    if (data == own) {
        // Our own block can only have shrunk: it holds ownSize bytes.
        if (size > ownSize)
            size = ownSize;
        own[size] = 0;
        inserted = QueueNodePacket(own, size); // the queue keeps this copy as it is
    } else {
        inserted = InsertNodePacket(data, size);
        XFREE(own);
    }
    if (!inserted)
        return Fail("CCommNode::RecvIncomingFromComm:InsertNodePacket function failed");
    return TRUE;
}

// ---------------------------------------------------------------- the queue

int32_t CCommNode::QueueNodePacket(char* data, uint32_t size)
{
    if (commNodeInit != TRUE) {
        XFREE(data);
        return Fail(
            "CCommNode::InsertNodePacket:commNodeInit is not TRUE, the object has not been initialized");
    }
    auto* entry = XNEW(SCommNodePacket);
    if (entry == nullptr) {
        XFREE(data);
        return Fail("CCommNode::InsertNodePacket:Unable to allocate memory for nodePacket structure");
    }
    entry->data = data;
    entry->size = size;
    entry->snooped = 0;
    if (!recvQue.InsertLast(entry)) {
        XFREE(data);
        XDELETE(entry);
        return Fail("CCommNode::InsertNodePacket:recvQue.InsertLast function failed");
    }
    recvQueBytes += size;
    return TRUE;
}

int32_t CCommNode::InsertNodePacket(const char* data, uint32_t size)
{
    if (commNodeInit != TRUE)
        return Fail(
            "CCommNode::InsertNodePacket:commNodeInit is not TRUE, the object has not been initialized");
    auto* entry = XNEW(SCommNodePacket);
    if (entry == nullptr)
        return Fail("CCommNode::InsertNodePacket:Unable to allocate memory for nodePacket structure");
    entry->snooped = 0;
    entry->size = size;
    entry->data = size != 0xFFFFFFFFu ? static_cast<char*>(XALLOC(size + 1u)) : nullptr;
    if (entry->data == nullptr) {
        XDELETE(entry);
        return Fail("CCommNode::InsertNodePacket:Out of memory, unable to allocate memory for packet data");
    }
    if (size != 0 && data != nullptr)
        std::memcpy(entry->data, data, size);
    else if (size != 0)
        std::memset(entry->data, 0, size);
    entry->data[size] = 0;
    if (!recvQue.InsertLast(entry)) {
        XFREE(entry->data);
        XDELETE(entry);
        return Fail("CCommNode::InsertNodePacket:recvQue.InsertLast function failed");
    }
    recvQueBytes += size;
    return TRUE;
}

void CCommNode::EmptyRecvQue()
{
    for (SLListNode* n = recvQue.first; n != nullptr; n = n->next) {
        auto* entry = static_cast<SCommNodePacket*>(n->data);
        XFREE(entry->data);
        XDELETE(entry);
    }
    recvQue.KillAll();
    recvQueBytes = 0;
}



int32_t CCommNode::GetNextPacket(char*& data, uint32_t& size)
{
    if (recvQue.first == nullptr)
        return Fail("CCommNode::GetNextPacket:No packets in que");
    auto* entry = static_cast<SCommNodePacket*>(recvQue.first->data);
    data = entry->data;
    size = entry->size;
    entry->snooped = 1;
    return TRUE;
}

int32_t CCommNode::DeleteNextPacket()
{
    if (recvQue.first == nullptr)
        return Fail("CCommNode::DeleteNextPacket:No packets in que");
    auto* entry = static_cast<SCommNodePacket*>(recvQue.first->data);
    recvQue.Unlink(recvQue.first);
    recvQueBytes -= entry->size <= recvQueBytes ? entry->size : recvQueBytes;
    XDELETE(entry);
    return TRUE;
}

int32_t CCommNode::ExtractNodePacket(char*& data, uint32_t& size)
{
    if (!GetNextPacket(data, size))
        return Fail("CCommNode::ExtractNodePacket:GetNextPacket function failed");
    return DeleteNextPacket();
}

int32_t CCommNode::RecvPacketInternal(char*& data, uint32_t& size, int32_t extract)
{
    if (commNodeInit != TRUE)
        return Fail("CCommNode::RecvPacketInternal:comm node not initialized (Init not called)");
    if (inAckMode == TRUE && inAcked == FALSE)
        return Fail("CCommNode::RecvPacketInternal:Old data not acked");
    if (recvAllocated == TRUE)
        return Fail(
            "CCommNode::RecvPacketInternal:Trying to receive new packet before the old packet is freed");
    if (extract == 1) {
        if (!ExtractNodePacket(data, size))
            return Fail("CCommNode::RecvPacketInternal:ExtractNodePacket function failed");
    } else if (!GetNextPacket(data, size)) {
        return Fail("CCommNode::RecvPacketInternal:GetNextPacket function failed");
    }
    recvAllocated = TRUE;
    return TRUE;
}

// ---------------------------------------------------------------- the readers

int32_t CCommNode::IsDataAvailable()
{
    if (recvAllocated == TRUE || recvQue.first == nullptr)
        return FALSE;
    if (snooping == TRUE && static_cast<SCommNodePacket*>(recvQue.first->data)->snooped == 0)
        return FALSE;
    return TRUE;
}

int32_t CCommNode::SnoopIsDataAvailable()
{
    if (snooping != TRUE || recvAllocated == TRUE || recvQue.first == nullptr)
        return FALSE;
    return static_cast<SCommNodePacket*>(recvQue.first->data)->snooped == 0 ? TRUE : FALSE;
}

int32_t CCommNode::RecvPacket(char*& data, uint32_t& size)
{
    if (!RecvPacketInternal(data, size, 1))
        return Fail("CCommNode::RecvPacket:RecvPacketInternal function failed");
    return TRUE;
}

int32_t CCommNode::RecvKCBLPacket()
{
    recvKCBL.Free();
    char* data = nullptr;
    uint32_t size = 0;
    if (!RecvPacketInternal(data, size, 1))
        return Fail("CCommNode::RecvKCBLPacket:RecvPacketInternal function failed");
    // The queue's copy ends in a zero byte (see InsertNodePacket).
    int32_t ok = recvKCBL.Import(data, -1);
    XFREE(data);
    if (!ok) {
        recvAllocated = FALSE;
        return Fail("CCommNode::RecvKCBLPacket:recvKCBL.Import failed");
    }
    recvKCBL.RestartMode(0);
    recvKCBL.FirstItem();
    return TRUE;
}

void CCommNode::RecvKCBLFree()
{
    recvAllocated = FALSE;
    recvKCBL.Free();
}

int32_t CCommNode::SnoopRecvPacket(char*& data, uint32_t& size)
{
    if (snooping != TRUE)
        return Fail("CCommNode::SnoopRecvPacket:snooping is not enabled for this object");
    if (!RecvPacketInternal(data, size, 0))
        return Fail("CCommNode::SnoopRecvPacket:RecvPacketInternal function failed");
    return TRUE;
}

int32_t CCommNode::SnoopRecvKCBLPacket()
{
    if (snooping != TRUE)
        return Fail("CCommNode::SnoopRecvKCBLPacket:snooping is not enabled for this object");
    char* data = nullptr;
    uint32_t size = 0;
    if (!RecvPacketInternal(data, size, 0))
        return Fail("CCommNode::SnoopRecvKCBLPacket:RecvPacketInternal function failed");
    if (!recvKCBL.Import(data, -1)) {
        recvAllocated = FALSE;
        return Fail("CCommNode::SnoopRecvKCBLPacket:recvKCBL.Import failed");
    }
    recvKCBL.RestartMode(0);
    recvKCBL.FirstItem();
    return TRUE;
}

void CCommNode::SnoopFree()
{
    if (snooping != TRUE) {
        Fail("CCommNode::SnoopFree:snooping is not enabled for this object");
        return;
    }
    recvAllocated = FALSE;
}

void CCommNode::SnoopFreeKCBL()
{
    if (snooping != TRUE) {
        Fail("CCommNode::SnoopFreeKCBL:snooping is not enabled for this object");
        return;
    }
    recvAllocated = FALSE;
    recvKCBL.Free();
}

void CCommNode::SnoopDeletePacket()
{
    if (snooping != TRUE) {
        Fail("CCommNode::SnoopDeletePacket:snooping is not enabled for this object");
        return;
    }
    char* data = nullptr;
    uint32_t size = 0;
    if (ExtractNodePacket(data, size))
        XFREE(data);
}
