// The process-wide registries that tie clients and servers together, the
// start and stop of the comm layer, the per-frame client rounds, and the
// client and server bases. The concrete clients are in commclient.cpp, the
// concrete servers in commserver.cpp.
#include "core/textcopy.h"
#include "comm/objname.h"
#include "commtransfer.h"

#include <tarvex/comm.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace
{

using tvcore::CopyText;

int32_t RejectAll(CCommLocalServerBase*, void*, int32_t) { return FALSE; }
int32_t RejectAllRemote(CCommRemoteServerBase*, void*, int32_t) { return FALSE; }

int32_t ListAdd(const char* fn, const char* listName, CLList* list, void* obj)
{
    if (glb == nullptr)
        return xErrorf("%s:glb is NULL", fn);
    if (list == nullptr)
        return xErrorf("%s:glb->%s is NULL", fn, listName);
    return list->IfNotInsertLast(obj) ? TRUE : FALSE;
}

int32_t ListRemove(const char* fn, const char* listName, CLList* list, void* obj)
{
    if (glb == nullptr)
        return xErrorf("%s:glb is NULL", fn);
    if (list == nullptr)
        return xErrorf("%s:glb->%s is NULL", fn, listName);
    list->DeleteItem(obj);
    CommNoteClientListRemoval();
    return TRUE;
}

CLList* GlbList(CLList* SGlobals::*member) { return glb != nullptr ? glb->*member : nullptr; }

uint32_t g_clientListRemovals = 0;

// The socket wait's view of each kind.
int32_t ReadLocalClient(void* object, uint32_t socks[2])
{
    auto* c = static_cast<CCommLocalClient*>(object);
    if (!c->IsConnected() || c->GetSocket() == INVALID_SOCKET)
        return 0;
    socks[0] = c->GetSocket();
    return 1;
}

int32_t ReadRemoteClient(void* object, uint32_t socks[2])
{
    auto* c = static_cast<CCommRemoteClient*>(object);
    if (!c->IsConnected() || c->GetSocket() == INVALID_SOCKET)
        return 0;
    socks[0] = c->GetSocket();
    return 1;
}

int32_t ReadLocalServer(void* object, uint32_t socks[2])
{
    auto* s = static_cast<CCommLocalServer*>(object);
    if (!s->LocalServerRunning() || s->GetListeningSocket() == INVALID_SOCKET)
        return 0;
    socks[0] = s->GetListeningSocket();
    return 1;
}

int32_t ReadRemoteServer(void* object, uint32_t socks[2])
{
    auto* s = static_cast<CCommRemoteServer*>(object);
    if (!s->RemoteServerRunning() || s->GetListeningSocket() == INVALID_SOCKET)
        return 0;
    socks[0] = s->GetListeningSocket();
    return 1;
}

void DestroyList(CLList*& list)
{
    if (list == nullptr)
        return;
    XDELETE(list);
    list = nullptr;
}

} // namespace

// ---------------------------------------------------------------- registries

int32_t CommBaseStartup()
{
    if (glb == nullptr)
        return xErrorTxt_Func("CommBaseStartup: glb is NULL", __FILE__, __LINE__);
    CommBaseExit();
    glb->remoteClients = XNEW(CLList);
    glb->remoteServers = XNEW(CLList);
    glb->localClients = XNEW(CLList);
    glb->localServers = XNEW(CLList);
    glb->localClient_socket_RegList = XNEW(CLList);
    glb->remoteClient_socket_RegList = XNEW(CLList);
    glb->localServer_socket_RegList = XNEW(CLList);
    glb->remoteServer_socket_RegList = XNEW(CLList);
    glb->proxyConnRegList = XNEW(CLList);
    glb->proxyServRegList = XNEW(CLList);
    xSetWaitSocketReader(XWAIT_LOCAL_CLIENT, ReadLocalClient);
    xSetWaitSocketReader(XWAIT_REMOTE_CLIENT, ReadRemoteClient);
    xSetWaitSocketReader(XWAIT_LOCAL_SERVER, ReadLocalServer);
    xSetWaitSocketReader(XWAIT_REMOTE_SERVER, ReadRemoteServer);
    xSetCommClientRounds(xCommClientRounds);
    if (glb->remoteClients == nullptr || glb->remoteServers == nullptr || glb->localClients == nullptr ||
        glb->localServers == nullptr || glb->localClient_socket_RegList == nullptr ||
        glb->remoteClient_socket_RegList == nullptr || glb->localServer_socket_RegList == nullptr ||
        glb->remoteServer_socket_RegList == nullptr || glb->proxyConnRegList == nullptr ||
        glb->proxyServRegList == nullptr)
        return xErrorTxt_Func("CommBaseStartup: One or more pointers are NULL", __FILE__, __LINE__);
    return TRUE;
}

void CommBaseExit()
{
    if (glb == nullptr) {
        xErrorTxt_Func("CommBaseExit: glb is NULL", __FILE__, __LINE__);
        return;
    }
    DestroyList(glb->remoteClients);
    DestroyList(glb->remoteServers);
    DestroyList(glb->localClients);
    DestroyList(glb->localServers);
    DestroyList(glb->localClient_socket_RegList);
    DestroyList(glb->remoteClient_socket_RegList);
    DestroyList(glb->localServer_socket_RegList);
    DestroyList(glb->remoteServer_socket_RegList);
    DestroyList(glb->proxyConnRegList);
    DestroyList(glb->proxyServRegList);
    // The frame keeps no hook into lists that are gone: a later frame (or a
    // program that puts lists of its own in place) must not run comm rounds.
    xSetCommClientRounds(nullptr);
    for (int32_t kind : {XWAIT_LOCAL_CLIENT, XWAIT_REMOTE_CLIENT, XWAIT_LOCAL_SERVER, XWAIT_REMOTE_SERVER})
        xSetWaitSocketReader(kind, nullptr);
}

int32_t LocalClientList_Add(CCommLocalClientBase* obj)
{
    return ListAdd("LocalClientList_Add", "localClientRegList", GlbList(&SGlobals::localClients), obj);
}
int32_t LocalClientList_Remove(CCommLocalClientBase* obj)
{
    return ListRemove("LocalClientList_Remove", "localClientRegList", GlbList(&SGlobals::localClients), obj);
}
int32_t RemoteClientList_Add(CCommRemoteClientBase* obj)
{
    return ListAdd("RemoteClientList_Add", "remoteClientRegList", GlbList(&SGlobals::remoteClients), obj);
}
int32_t RemoteClientList_Remove(CCommRemoteClientBase* obj)
{
    return ListRemove("RemoteClientList_Remove", "remoteClientRegList", GlbList(&SGlobals::remoteClients),
                      obj);
}
int32_t LocalServerList_Add(CCommLocalServerBase* obj)
{
    if (glb != nullptr && glb->localServers == nullptr)
        return xErrorTxt_Func("LocalServerList_Add: glb->localServerRegList is NULL", __FILE__, __LINE__);
    return ListAdd("LocalServerList_Add", "localServerRegList", GlbList(&SGlobals::localServers), obj);
}
int32_t LocalServerList_Remove(CCommLocalServerBase* obj)
{
    return ListRemove("LocalServerList_Remove", "localServerRegList", GlbList(&SGlobals::localServers), obj);
}
int32_t RemoteServerList_Add(CCommRemoteServerBase* obj)
{
    return ListAdd("RemoteServerList_Add", "remoteServerRegList", GlbList(&SGlobals::remoteServers), obj);
}
int32_t RemoteServerList_Remove(CCommRemoteServerBase* obj)
{
    return ListRemove("RemoteServerList_Remove", "remoteServerRegList", GlbList(&SGlobals::remoteServers),
                      obj);
}

namespace
{

int32_t ForEachNodeComm(const char* fn, CCommNode* node, bool add)
{
    if (glb == nullptr)
        return xErrorf("%s: glb is NULL", fn);
    if (glb->localClients == nullptr)
        return xErrorf("%s: glb->localClientRegList is NULL", fn);
    if (glb->remoteClients == nullptr)
        return xErrorf("%s: glb->remoteClientRegList is NULL", fn);
    CLList* lists[2] = {glb->localClients, glb->remoteClients};
    for (CLList* list : lists) {
        for (SLListNode* n = list->first; n != nullptr; n = n->next) {
            auto* comm = static_cast<CCommBase*>(n->data);
            if (comm->AcceptNodes() != 1)
                continue;
            if (add) {
                if (!comm->RegisterCommNode(node))
                    return xErrorf("%s: comm->RegisterCommNode function failed", fn);
            } else {
                comm->UnregisterCommNode(node);
            }
        }
    }
    return TRUE;
}

} // namespace

int32_t AddCommNodeToComm(CCommNode* node) { return ForEachNodeComm("AddCommNodeToComm", node, true); }
int32_t RemoveCommNodeFromComm(CCommNode* node)
{
    return ForEachNodeComm("RemoveCommNodeFromComm", node, false);
}

int32_t SendOtherSideNodesToComm(CCommBase* comm)
{
    if (glb == nullptr || comm == nullptr || comm->AcceptNodes() != 1)
        return TRUE;
    CLList* lists[2] = {glb->localClients, glb->remoteClients};
    for (CLList* list : lists) {
        if (list == nullptr)
            continue;
        for (SLListNode* n = list->first; n != nullptr; n = n->next) {
            auto* other = static_cast<CCommBase*>(n->data);
            if (other == comm || other->AcceptNodes() != 1)
                continue;
            if (!SendOtherSideNodesRouted(other, comm, true))
                xErrorTxt_Func("SendOtherSideNodesToComm: comm->SendOtherSideNodes function failed.",
                               __FILE__, __LINE__);
        }
    }
    return TRUE;
}

uint32_t CommClientListRemovals() { return g_clientListRemovals; }
void CommNoteClientListRemoval() { ++g_clientListRemovals; }

int32_t xCommClientRounds(int32_t rounds)
{
    if (glb == nullptr)
        return 0;
    uint32_t before = CommPacketsTakenIn();
    // The frame's rounds are one read pass: a socket found empty in one
    // round is not read again by the next (the frame's socket wait sees
    // what comes in meanwhile).
    SCommReadPass pass;
    std::vector<void*> snapshot;
    // Entries of the copy still listed, looked up only once a handler took
    // something off a list (a walk per entry would cost a server with
    // thousands of connections the square of their number every round).
    std::unordered_set<void*> listed;
    for (int32_t r = 0; r < rounds; ++r) {
        // A round in which no connection moved a byte leaves nothing for
        // the next one: the frame's rounds end there.
        uint32_t stepsBefore = CommStepsWithProgress();
        for (int kind = 0; kind < 2; ++kind) {
            CLList* list = kind == 0 ? glb->localClients : glb->remoteClients;
            if (list == nullptr)
                continue;
            // A handler may take its object off the list: walk a copy and
            // skip whatever has left it meanwhile.
            snapshot.clear();
            for (SLListNode* n = list->first; n != nullptr; n = n->next)
                snapshot.push_back(n->data);
            uint32_t removals = g_clientListRemovals;
            bool checkListed = false;
            for (void* obj : snapshot) {
                list = kind == 0 ? glb->localClients : glb->remoteClients;
                if (list == nullptr)
                    break;
                if (g_clientListRemovals != removals) {
                    removals = g_clientListRemovals;
                    listed.clear();
                    for (SLListNode* n = list->first; n != nullptr; n = n->next)
                        listed.insert(n->data);
                    checkListed = true;
                }
                if (checkListed && listed.count(obj) == 0)
                    continue;
                if (kind == 0) {
                    auto* c = static_cast<CCommLocalClientBase*>(obj);
                    if (c->IsConnected() && !c->NonBlockedHandler() && c->IsConnected())
                        c->Disconnect();
                } else {
                    auto* c = static_cast<CCommRemoteClientBase*>(obj);
                    if (c->IsConnected() && !c->NonBlockedHandler() && c->IsConnected())
                        c->Disconnect();
                }
            }
        }
        if (CommStepsWithProgress() == stepsBefore)
            break;
    }
    return static_cast<int32_t>(CommPacketsTakenIn() - before);
}

// ---------------------------------------------------------------- client bases

int32_t CCommLocalClientBase::RegisterLocalClient()
{
    if (!LocalClientList_Add(this))
        return Report("CCommLocalClientBase::RegisterLocalClient: Unable to add object to list");
    const SCommNodeHooks* hooks = xGetCommNodeHooks();
    if (hooks != nullptr && !hooks->addLocalCommToCommNode(this))
        return Report("CCommLocalClientBase::RegisterLocalClient:AddLocalCommToCommNode: Function failed");
    LogData(">Register<", nullptr, 0);
    if (!SendOtherSideNodesToComm(this))
        return Report("CCommLocalClientBase::RegisterLocalClient:SendOtherSideNodesToComm: Function failed");
    return TRUE;
}

void CCommLocalClientBase::UnRegisterLocalClient()
{
    LogData(">UnRegister<", nullptr, 0);
    const SCommNodeHooks* hooks = xGetCommNodeHooks();
    if (hooks != nullptr)
        hooks->removeLocalCommFromCommNode(this);
    LocalClientList_Remove(this);
}

CCommRemoteClientBase::~CCommRemoteClientBase()
{
    if (remoteHost != nullptr)
        XFREE(remoteHost);
}

int32_t CCommRemoteClientBase::RegisterRemoteClient()
{
    if (!RemoteClientList_Add(this))
        return Report("CCommRemoteClientBase::RegisterRemoteClient: Unable to add object to list");
    const SCommNodeHooks* hooks = xGetCommNodeHooks();
    if (hooks != nullptr && !hooks->addRemoteCommToCommNode(this))
        return Report("CCommRemoteClientBase::RegisterRemoteClient:AddRemoteCommToCommNode: Function failed");
    LogData(">Register<", nullptr, 0);
    if (!SendOtherSideNodesToComm(this))
        return Report(
            "CCommRemoteClientBase::RegisterRemoteClient:SendOtherSideNodesToComm: Function failed");
    return TRUE;
}

void CCommRemoteClientBase::UnRegisterRemoteClient()
{
    LogData(">UnRegister<", nullptr, 0);
    const SCommNodeHooks* hooks = xGetCommNodeHooks();
    if (hooks != nullptr)
        hooks->removeRemoteCommFromCommNode(this);
    RemoteClientList_Remove(this);
}

int32_t CCommRemoteClientBase::SetRemoteLocation(const char* host, int32_t port)
{
    char* copy = host != nullptr ? CopyText(host) : nullptr;
    if (host != nullptr && copy == nullptr)
        return FALSE;
    if (remoteHost != nullptr)
        XFREE(remoteHost);
    remoteHost = copy;
    remotePort = port;
    return TRUE;
}

void SCommLink::ResetTransfer()
{
    if (recvPacket != nullptr)
        XFREE(recvPacket);
    if (sendPacket != nullptr)
        XFREE(sendPacket);
    if (ahead != nullptr)
        XFREE(ahead);
    ahead = nullptr;
    aheadBegin = aheadEnd = 0;
    sockMode = -1;
    sendBatch = 0;
    lastMoved = 0;
    drainedPass = 0;
    recvPacket = sendPacket = nullptr;
    recvCount = sendCount = 0;
    recvStatus = COMM_RECV_IDLE;
    sendStatus = COMM_SEND_IDLE;
}

// ---------------------------------------------------------------- servers

CCommBaseServer::CCommBaseServer() { SetObjName("default commserver object"); }

CCommBaseServer::~CCommBaseServer()
{
    if (objName != nullptr)
        XFREE(objName);
}

int32_t CCommBaseServer::Report(const char* text)
{
    return xErrorf("%s (classname: %s objectname: %s)", text, GetClassName(), GetObjName());
}

int32_t CCommBaseServer::SetObjName(const char* name)
{
    if (!tvcomm::StoreName(objName, name, "default comm object"))
        return xErrorf("CommBaseServer::SetObjName: Unable to allocate memory (classname: %s objectname: %s)",
                       "CCommBaseServer", GetObjName());
    return TRUE;
}

int32_t CCommBaseServer::SetObjName(const char* name, uint32_t n)
{
    return tvcomm::SetJoinedName(*this, name, tvcomm::NumberText(n).text);
}

int32_t CCommBaseServer::SetObjName(const char* a, const char* b)
{
    return tvcomm::SetJoinedName(*this, a, b);
}

int32_t CCommBaseServer::SetObjName(const char* a, const char* b, uint32_t n)
{
    return tvcomm::SetJoinedName(*this, a, b, tvcomm::NumberText(n).text);
}

CCommLocalServerBase::CCommLocalServerBase() : callback(RejectAll) {}

int32_t CCommLocalServerBase::RegisterLocalServer()
{
    if (!LocalServerList_Add(this))
        return Report("CCommLocalServerBase::RegisterLocalServer:Unable to add object to list");
    return TRUE;
}

void CCommLocalServerBase::UnRegisterLocalServer() { LocalServerList_Remove(this); }

void CCommLocalServerBase::SetCallbackFunction(Callback cb, void* u, int32_t p)
{
    callback = cb != nullptr ? cb : RejectAll;
    user = u;
    param = p;
}

int32_t CCommLocalServerBase::ExecuteCallback()
{
    if (running != 1)
        return Report(
            "CCommLocalServerBase::ExecuteCallback: running is FALSE, this object is not listening");
    return callback(this, user, param);
}

CCommRemoteServerBase::CCommRemoteServerBase() : callback(RejectAllRemote) {}

int32_t CCommRemoteServerBase::RegisterRemoteServer()
{
    if (!RemoteServerList_Add(this))
        return Report("CCommRemoteServerBase::RegisterRemoteServer:Unable to add object to list");
    return TRUE;
}

void CCommRemoteServerBase::UnRegisterRemoteServer() { RemoteServerList_Remove(this); }

void CCommRemoteServerBase::SetCallbackFunction(Callback cb, void* u, int32_t p)
{
    callback = cb != nullptr ? cb : RejectAllRemote;
    user = u;
    param = p;
}

int32_t CCommRemoteServerBase::ExecuteCallback()
{
    if (running != 1)
        return Report(
            "CCommRemoteServerBase::ExecuteCallback: running is FALSE, this object is not listening");
    return callback(this, user, param);
}
