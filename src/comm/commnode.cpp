// Comm nodes: set-up, life cycle, the global node list, sending (local
// delivery and the comm objects), and the hooks through which the comm
// objects reach nodes. The receive side and the queue are in
// commnode_recv.cpp, the log file in commnode_log.cpp.
//
// Ownership: a node borrows the comm objects it is registered with and the
// comm objects borrow the node; both sides drop each other whenever either
// goes away (a comm object that stops or is destroyed, a node that exits),
// whatever the comm object's AcceptNodes switch says at that moment, so
// neither keeps a pointer to a dead object.
#include "comm/ptrindex.h"
#include "comm/commnode_internal.h"

#include <tarvex/commnode.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstdio>
#include <cstring>

namespace
{

constexpr const char* kDefaultObjectName = "default commnode object name";
constexpr const char* kDefaultLogName = "commnode.log";

int32_t DefaultCallback(CCommNode*, char*&, uint32_t&, int32_t&) { return TRUE; }

char* Copy(const char* text)
{
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(XALLOC(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n + 1);
    return copy;
}

// a + b as a new tracked string (null parts count as empty); null when out
// of memory.
char* Join(const char* a, const char* b)
{
    size_t na = a != nullptr ? std::strlen(a) : 0;
    size_t nb = b != nullptr ? std::strlen(b) : 0;
    auto* s = static_cast<char*>(XALLOC(na + nb + 1));
    if (s == nullptr)
        return nullptr;
    if (na != 0)
        std::memcpy(s, a, na);
    if (nb != 0)
        std::memcpy(s + na, b, nb);
    s[na + nb] = 0;
    return s;
}

void FreeText(char*& s)
{
    if (s != nullptr)
        XFREE(s);
    s = nullptr;
}

// ---------------------------------------------------------------- hooks

uint32_t HookGetId(CCommNode* node) { return node->GetId(); }
const char* HookGetName(CCommNode* node) { return node->GetName(); }
uint32_t HookGetType(CCommNode* node) { return node->GetType(); }
int32_t HookRecv(CCommNode* node, SXPacket* packet) { return node->RecvIncomingFromComm(packet); }
int32_t HookAdd(CCommNode* node, CCommBase* comm) { return node->AddCommObject(comm); }
void HookDelete(CCommNode* node, CCommBase* comm) { node->DeleteCommObject(comm); }
int32_t HookQueueFull(CCommNode* node) { return node->RecvQueueFull(); }

constexpr SCommNodeHooks kHooks = {
    HookGetId,
    HookGetName,
    HookGetType,
    HookRecv,
    HookAdd,
    HookDelete,
    AddLocalCommToCommNode,
    AddRemoteCommToCommNode,
    RemoveLocalCommFromCommNode,
    RemoveRemoteCommFromCommNode,
    HookQueueFull,
};

// Comm objects find nodes as soon as the library is loaded.
const bool g_hooksInstalled = [] {
    xSetCommNodeHooks(&kHooks);
    return true;
}();

// Registers every node of the global list with comm.
int32_t AddCommToNodes(CCommBase* comm)
{
    CLList* list = tvnode::NodeList();
    if (list == nullptr)
        return FALSE;
    if (comm == nullptr || comm->AcceptNodes() != 1)
        return TRUE;
    for (SLListNode* n = list->first; n != nullptr; n = n->next)
        if (!comm->RegisterCommNode(static_cast<CCommNode*>(n->data)))
            return FALSE;
    return TRUE;
}

// Takes comm off every node: unregistered (the peer is told) while it
// accepts nodes, and in any case dropped from both sides' lists.
void RemoveCommFromNodes(CCommBase* comm)
{
    if (comm == nullptr || glb == nullptr || glb->commNodes == nullptr)
        return;
    for (SLListNode* n = glb->commNodes->first; n != nullptr; n = n->next) {
        auto* node = static_cast<CCommNode*>(n->data);
        if (comm->AcceptNodes() == 1 && comm->IsCommNodeRegistered(node))
            comm->UnregisterCommNode(node);
        comm->ForgetCommNode(node);
        node->DeleteCommObject(comm);
    }
}

} // namespace

namespace tvnode
{

CLList* NodeList()
{
    if (glb == nullptr)
        return nullptr;
    if (glb->commNodes == nullptr)
        glb->commNodes = XNEW(CLList);
    return glb->commNodes;
}

const char* TypeText(uint32_t type)
{
    switch (type) {
    case CNODE_ANY:
        return "ANY";
    case CNODE_SERVER:
        return "SERVER";
    case CNODE_CLIENT:
        return "CLIENT";
    default:
        return "ERROR";
    }
}

} // namespace tvnode

void xInstallCommNodeHooks() { xSetCommNodeHooks(&kHooks); }

int32_t AddLocalCommToCommNode(CCommLocalClientBase* comm) { return AddCommToNodes(comm); }

int32_t AddRemoteCommToCommNode(CCommRemoteClientBase* comm) { return AddCommToNodes(comm); }

void RemoveLocalCommFromCommNode(CCommLocalClientBase* comm) { RemoveCommFromNodes(comm); }

void RemoveRemoteCommFromCommNode(CCommRemoteClientBase* comm) { RemoveCommFromNodes(comm); }

// ---------------------------------------------------------------- construction

CCommNode::CCommNode() : sendPacketCallback(DefaultCallback), recvPacketCallback(DefaultCallback)
{
    (void)g_hooksInstalled;
    if (xGetCommNodeHooks() == nullptr)
        xInstallCommNodeHooks();
    objectName = Copy(kDefaultObjectName);
    logFileName = Copy(kDefaultLogName);
}

CCommNode::~CCommNode()
{
    ExitCommNode();
    // A node that exited may have been named again without a new Init.
    FreeText(nodeName);
    FreeText(objectName);
    FreeText(logFileName);
    tvcomm::DropIndex(commIndex);
}

int32_t CCommNode::Fail(const char* text)
{
    return xErrorf("%s (id:%lu name:%s type:%lu objectname:%s", text, static_cast<unsigned long>(nodeId),
                   GetName(), static_cast<unsigned long>(nodeType), GetObjName());
}

void CCommNode::SetId(uint32_t id)
{
    nodeId = id;
    idSet = TRUE;
}

int32_t CCommNode::SetName(const char* name)
{
    FreeText(nodeName);
    nodeName = Copy(name != nullptr ? name : "");
    if (nodeName == nullptr)
        return Fail("CCommNode::SetName:Failed to allocate memory for node name");
    nameSet = TRUE;
    exited = false;
    return TRUE;
}

int32_t CCommNode::SetName(const char* a, const char* b)
{
    char* joined = Join(a, b);
    if (joined == nullptr)
        return Fail("CCommNode::SetName: Unable to allocate memory for nameString");
    int32_t r = SetName(joined);
    XFREE(joined);
    return r;
}

int32_t CCommNode::SetName(const char* name, uint32_t first, uint32_t second, uint32_t third)
{
    char suffix[3 * 12 + 1] = {};
    size_t used = 0;
    for (uint32_t v : {first, second, third})
        if (v != 0)
            used += static_cast<size_t>(
                std::snprintf(suffix + used, sizeof suffix - used, "_%lu", static_cast<unsigned long>(v)));
    char* joined = Join(name, suffix);
    if (joined == nullptr)
        return Fail("CCommNode::SetName: Unable to allocate memory for namestring");
    int32_t r = SetName(joined);
    XFREE(joined);
    return r;
}

int32_t CCommNode::SetName(const char* a, const char* b, uint32_t first, uint32_t second, uint32_t third)
{
    char* joined = Join(a, b);
    if (joined == nullptr)
        return Fail("CCommNode::SetName: Unable to allocate memory for nameString");
    int32_t r = SetName(joined, first, second, third);
    XFREE(joined);
    return r;
}

int32_t CCommNode::SetObjName(const char* name)
{
    FreeText(objectName);
    objectName = Copy(name != nullptr ? name : kDefaultObjectName);
    if (objectName == nullptr) {
        Fail("CCommNode::SetObjName Unable to allocate memory for objectname");
        objectName = Copy(kDefaultObjectName);
        return FALSE;
    }
    return TRUE;
}

int32_t CCommNode::SetObjName(const char* a, const char* b)
{
    char* joined = Join(a, b);
    if (joined == nullptr) {
        Fail("CCommNode::SetObjName Unable to allocate memory for objectname");
        SetObjName(static_cast<const char*>(nullptr));
        return FALSE;
    }
    int32_t r = SetObjName(joined);
    XFREE(joined);
    return r;
}

int32_t CCommNode::SetObjName(const char* a, uint32_t n)
{
    char number[16];
    std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(n));
    return SetObjName(a, number);
}

int32_t CCommNode::SetObjName(const char* a, const char* b, uint32_t n)
{
    char* joined = Join(a, b);
    if (joined == nullptr) {
        Fail("CCommNode::SetObjName Unable to allocate memory for objectname");
        SetObjName(static_cast<const char*>(nullptr));
        return FALSE;
    }
    int32_t r = SetObjName(joined, n);
    XFREE(joined);
    return r;
}

int32_t CCommNode::SetLogFileName(const char* name)
{
    char* copy = Copy(name != nullptr ? name : kDefaultLogName);
    if (copy == nullptr)
        return Fail("CCommNode::SetLogFileName: Unable to allocate memory for the log file name");
    FreeText(logFileName);
    logFileName = copy;
    return TRUE;
}

void CCommNode::SetPacketCallbackSend(XCommNodeCallback cb)
{
    sendPacketCallback = cb != nullptr ? cb : DefaultCallback;
}

void CCommNode::SetPacketCallbackRecv(XCommNodeCallback cb)
{
    recvPacketCallback = cb != nullptr ? cb : DefaultCallback;
}

// ---------------------------------------------------------------- life cycle

int32_t CCommNode::InitCommNode(uint32_t type)
{
    // After ExitCommNode the name is gone: a node starts again only with a
    // new one.
    if (nameSet != TRUE || idSet != TRUE || nodeName == nullptr) {
        commNodeInit = FALSE;
        return Fail("CommNode::InitCommNode:SetName not called before this function");
    }
    nodeType = type;
    CLList* list = tvnode::NodeList();
    if (list == nullptr || !list->IfNotInsertLast(this)) {
        commNodeInit = FALSE;
        return Fail("CCommNode::InitCommNode:AddLocalCommNode:Function failed");
    }
    commNodeInit = TRUE;
    if (!AddCommNodeToComm(this)) {
        commNodeInit = FALSE;
        return Fail("CCommNode::InitCommNode:AddCommNodeToComm:Function failed");
    }
    exited = false;
    LogFileInit();
    return TRUE;
}

void CCommNode::LeaveCommObjects()
{
    while (commObjects.first != nullptr) {
        auto* comm = static_cast<CCommBase*>(commObjects.first->data);
        if (comm->AcceptNodes() == 1 && comm->IsCommNodeRegistered(this))
            comm->UnregisterCommNode(this); // tells the peer; calls DeleteCommObject
        comm->ForgetCommNode(this);
        tvcomm::RemoveFromList(commObjects, commIndex, comm);
    }
}

void CCommNode::ExitCommNode()
{
    if (exited)
        return;
    LogFileExit();
    EmptyRecvQue();
    // The mirror of the registration: every comm object that holds this
    // node lets it go.
    LeaveCommObjects();
    if (glb != nullptr && glb->commNodes != nullptr)
        glb->commNodes->DeleteItem(this);
    commNodeInit = FALSE;
    FreeText(logFileName);
    FreeText(objectName);
    FreeText(nodeName);
    exited = true;
}

void CCommNode::NewSessionIndex()
{
    if (sessionIndex == 0) {
        dprintf(
            "CCommNode::NewSessionIndex: You try to do a new session on a node that doesn't have sessions "
            "enabled.\n");
        return;
    }
    if (nodeType != CNODE_SERVER) {
        dprintf("CCommNode::NewSessionIndex: You try to do a new session on a node that isn't a "
                "servernode.\n");
        return;
    }
    ++sessionIndex;
    if (sessionIndex == 0)
        sessionIndex = 1;
    EmptyRecvQue();
}

// ---------------------------------------------------------------- comm objects

int32_t CCommNode::AddCommObject(CCommBase* comm)
{
    if (comm == nullptr)
        return FALSE;
    if (tvcomm::FindInList(commObjects, commIndex, comm) != nullptr)
        return TRUE;
    return tvcomm::AppendToList(commObjects, commIndex, comm) ? TRUE : FALSE;
}

void CCommNode::DeleteCommObject(CCommBase* comm) { tvcomm::RemoveFromList(commObjects, commIndex, comm); }

int32_t CCommNode::HasCommObject(CCommBase* comm)
{
    return tvcomm::FindInList(commObjects, commIndex, comm) != nullptr ? TRUE : FALSE;
}

// ---------------------------------------------------------------- sending

int32_t CCommNode::SendInit()
{
    if (commNodeInit != TRUE)
        return Fail("CCommNode::SendInit:commNodeInit is FALSE, the object is not initialized");
    if (sendAllocated == TRUE)
        return Fail(
            "CCommNode::SendInit:sendAllocated is TRUE, there is a initialized packet that has not been "
            "sent");
    sendAllocated = TRUE;
    return TRUE;
}

int32_t CCommNode::DeliverLocal(const char* data, uint32_t size)
{
    CLList* list = tvnode::NodeList();
    if (list == nullptr)
        return FALSE;
    SLListNode* n = list->first;
    while (n != nullptr) {
        SLListNode* next = n->next;
        auto* other = static_cast<CCommNode*>(n->data);
        n = next;
        if (other == this || other->nodeId != nodeId || other->nodeName == nullptr || nodeName == nullptr ||
            std::strcmp(other->nodeName, nodeName) != 0)
            continue;
        bool deliver;
        if (nodeType == CNODE_CLIENT)
            deliver = other->nodeType != CNODE_CLIENT;
        else if (nodeType == CNODE_SERVER)
            deliver = other->nodeType != CNODE_SERVER;
        else
            deliver = nodeType != 0 && other->nodeType != 0 && !(privateNode && !other->privateNode);
        if (!deliver)
            continue;
        SXPacket* packet =
            BuildPacket(PACKET_TYPE_CNODE, nodeId, nodeName, nodeType, sessionIndex, data, size);
        if (packet == nullptr)
            continue;
        other->RecvIncomingFromComm(packet);
        XFREE(packet);
    }
    return TRUE;
}

int32_t CCommNode::SendPacket(char* data, uint32_t size)
{
    if (commNodeInit != TRUE)
        return Fail("CCommNode::SendPacket:Init has not called, the object is not initialized");
    if (outAckMode == TRUE && outAcked == FALSE)
        return Fail("CCommNode::SendPacket:Old data not acked");
    if (sendAllocated != TRUE)
        return Fail("CCommNode::SendPacket:SendInit not called, the packet is not initialized");
    int32_t keep = 1;
    if (!sendPacketCallback(this, data, size, keep))
        return Fail("CCommNode::SendPacket:sendPacketCallback failed");
    if (keep == 0) {
        sendAllocated = FALSE;
        return TRUE;
    }
    LogFileWrite(data, size);
    if (!DeliverLocal(data, size))
        return Fail("CCommNode::SendPacket:Unable to send data internal to other commnodes");
    if (nodeName != nullptr) {
        for (SLListNode* n = commObjects.first; n != nullptr; n = n->next) {
            auto* comm = static_cast<CCommBase*>(n->data);
            if (privateNode && !comm->IsRemote())
                continue;
            if (!comm->SendCommNodeData(nodeName, nodeId, nodeType, sessionIndex, data, size))
                return Fail("CCommNode::SendPacket:Unable to send data to comm object");
            if (debugSessionIndex)
                dprintf(
                    "SessionIndexDebug: Sending packet. sessionindex: %lu (nodeName %s nodeId %lu objectname "
                    "%s)\n",
                    static_cast<unsigned long>(sessionIndex), nodeName, static_cast<unsigned long>(nodeId),
                    GetObjName());
        }
    }
    sendAllocated = FALSE;
    return TRUE;
}

int32_t CCommNode::SendKCBLPacket(CKCBL* kcbl)
{
    if (sendAllocated != TRUE)
        return xErrorTxt_Func("CCommNode::SendKCBLPacket: sendAllocated is FALSE.\n", __FILE__, __LINE__);
    auto done = [&](int32_t result) {
        if (kcbl != nullptr)
            kcbl->Free();
        return result;
    };
    if (commNodeInit != TRUE)
        return done(Fail("CCommNode::SendKCBLPacket:commNodeInit is not TRUE, the object is not intialized"));
    if (kcbl == nullptr)
        return done(Fail("CCommNode::SendKCBLPacket:ExportSize function failed"));

    // Messages of a node tend to be alike: the text is first written into a
    // buffer the size of the last one, and only a text that does not fit
    // is measured and written again.
    int32_t used = 0;
    char* buffer = nullptr;
    if (lastExportSize > 0) {
        buffer = static_cast<char*>(XALLOC(static_cast<uint32_t>(lastExportSize)));
        if (buffer != nullptr && !kcbl->Export(buffer, lastExportSize, &used, 0)) {
            XFREE(buffer);
            buffer = nullptr;
        }
    }
    if (buffer == nullptr) {
        int32_t size = 0;
        if (!kcbl->ExportSize(&size) || size < 0)
            return done(Fail("CCommNode::SendKCBLPacket:ExportSize function failed"));
        // One byte more for the terminator Export writes behind the text;
        // the packet carries the text without it.
        buffer = static_cast<char*>(XALLOC(static_cast<uint32_t>(size) + 1));
        if (buffer == nullptr)
            return done(Fail("CCommNode::SendKCBLPacket:Unable to allocate memory for packet"));
        used = 0;
        if (!kcbl->Export(buffer, size + 1, &used, 0)) {
            XFREE(buffer);
            if (used == 0)
                return done(
                    Fail("CCommNode::SendKCBLPacket:kcbl->Export returned fatal error (sizeUsed is NULL)"));
            if (used == -1)
                return done(
                    Fail("CCommNode::SendKCBLPacket:kcbl->Export returned fatal error (sizeUsed is -1)"));
            return done(
                Fail("CCommNode::SendKCBLPacket:kcbl->Export returned fatal error (sizeUsed is undefined)"));
        }
        lastExportSize = size < 0x40000000 ? size + 1 + (size + 1) / 4 : 0;
    }
    int32_t ok = SendPacket(buffer, static_cast<uint32_t>(used));
    XFREE(buffer);
    if (!ok)
        return done(Fail("CCommNode::SendKCBLPacket:SendPacket failed"));
    return done(TRUE);
}
