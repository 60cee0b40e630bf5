// Local and remote clients and servers, the process-wide registries that tie
// them together, the start and stop of the comm layer, and the per-frame
// client rounds.
#include "comm/objname.h"
#include "commtransfer.h"

#include <tarvex/comm.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

constexpr const char* kLocalHost = "127.0.0.1";
constexpr uint16_t kLocalPort = 6001;

char* CopyText(const char* text)
{
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(XALLOC(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n + 1);
    return copy;
}

int32_t RejectAll(CCommLocalServerBase*, void*, int32_t)
{
    return FALSE;
}
int32_t RejectAllRemote(CCommRemoteServerBase*, void*, int32_t)
{
    return FALSE;
}

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
    return TRUE;
}

CLList* GlbList(CLList* SGlobals::*member)
{
    return glb != nullptr ? glb->*member : nullptr;
}

bool InList(CLList* list, void* obj)
{
    if (list == nullptr)
        return false;
    for (SLListNode* n = list->first; n != nullptr; n = n->next)
        if (n->data == obj)
            return true;
    return false;
}

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

int32_t AddCommNodeToComm(CCommNode* node)
{
    return ForEachNodeComm("AddCommNodeToComm", node, true);
}
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
            if (!other->SendOtherSideNodes(comm))
                xErrorTxt_Func("SendOtherSideNodesToComm: comm->SendOtherSideNodes function failed.",
                               __FILE__, __LINE__);
        }
    }
    return TRUE;
}

int32_t xCommClientRounds(int32_t rounds)
{
    if (glb == nullptr)
        return 0;
    uint32_t before = CommPacketsTakenIn();
    std::vector<void*> snapshot;
    for (int32_t r = 0; r < rounds; ++r) {
        for (int kind = 0; kind < 2; ++kind) {
            CLList* list = kind == 0 ? glb->localClients : glb->remoteClients;
            if (list == nullptr)
                continue;
            // A handler may take its object off the list: walk a copy and
            // skip whatever has left it meanwhile.
            snapshot.clear();
            for (SLListNode* n = list->first; n != nullptr; n = n->next)
                snapshot.push_back(n->data);
            for (void* obj : snapshot) {
                list = kind == 0 ? glb->localClients : glb->remoteClients;
                if (!InList(list, obj))
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
    recvPacket = sendPacket = nullptr;
    recvCount = sendCount = 0;
    recvStatus = COMM_RECV_IDLE;
    sendStatus = COMM_SEND_IDLE;
}

// ---------------------------------------------------------------- local client

namespace
{

int32_t LocalFail(const char* text)
{
    return xErrorTxt_Func(text, __FILE__, __LINE__);
}

// The handler round shared by both client classes: queue to transfer, up to
// COMM_STEPS_PER_ROUND transfer steps while they make progress, then the
// received packets. Returns -1 when the connection failed or dropped.
int32_t RunRound(CCommBase* comm, SCommLink& link, int32_t& connected, CLList& transferIn,
                 CLList& transferOut, int32_t blocked, bool& sendFailed, bool& recvFailed)
{
    bool transferFailed = false;
    sendFailed = !comm->SendHandler();
    if (!sendFailed) {
        for (int32_t i = 0; i < COMM_STEPS_PER_ROUND; ++i) {
            int32_t progress = 0;
            if (!PacketTransferStep(i == 0, progress, blocked, link.sock, connected, link.recvPacket,
                                    link.recvCount, link.recvStatus, link.sendPacket, link.sendCount,
                                    link.sendStatus, &transferIn, &transferOut, &link.cryptData)) {
                transferFailed = true;
                break;
            }
            if (progress == 0 || connected == 0)
                break;
        }
    }
    recvFailed = !comm->RecvHandler();
    return transferFailed || connected == 0 ? -1 : 1;
}

} // namespace

CCommLocalClient::~CCommLocalClient()
{
    if (link.startupCode != 0 || link.sock != INVALID_SOCKET)
        Closedown();
    if (connected)
        ConnectExit();
    link.ResetTransfer();
    // The registries never keep a destroyed object.
    if (glb != nullptr) {
        if (glb->localClients != nullptr)
            glb->localClients->DeleteItem(this);
        if (glb->localClient_socket_RegList != nullptr)
            glb->localClient_socket_RegList->DeleteItem(this);
    }
}

int32_t CCommLocalClient::Startup()
{
    if (!xStartupSockets(link.startupCode, 1, &link.cryptData))
        return LocalFail("CCommLocalClient::Startup: xStartupSockets failed");
    LogData(">Startup<", nullptr, 0);
    return LocalClient_socket_List_Add(this);
}

int32_t CCommLocalClient::Connect()
{
    if (link.startupCode == 0)
        return LocalFail("CCommLocalClient::Connect: startupCode is not set, this object is not initialized");
    if (connected)
        return LocalFail("CCommLocalClient::Connect: connected is TRUE, this object is already connected");
    if (!xConnectSocket(kLocalHost, kLocalPort, nullptr, 0, link.sock, &link.addr, &link.cryptData))
        return LocalFail("CCommLocalClient::Connect: xConnectSocket failed");
    return TRUE;
}

int32_t CCommLocalClient::BlockedConnectHandler(int32_t wait)
{
    if (link.startupCode == 0)
        return LocalFail(
            "CCommLocalClient::BlockedConnectHandler: startupCode is not set, this object is not "
            "initialized");
    if (link.sock == INVALID_SOCKET)
        return FALSE;
    if (!xBlockedConnectHandler(kLocalHost, kLocalPort, nullptr, 0, link.sock, connected, wait,
                                &link.cryptData))
        return LocalFail("CCommLocalClient::BlockedConenctHandler: xBlockedConnectHandler returned FALSE");
    if (!connected)
        return TRUE;
    if (!ConnectInit()) {
        ConnectExit();
        return LocalFail("CCommLocalClient::BlockedConnectHandler: ConnectInit failed");
    }
    return TRUE;
}

int32_t CCommLocalClient::NonBlockedConnectHandler()
{
    if (link.startupCode == 0)
        return LocalFail(
            "CCommLocalClient::NonBlockedConnectHandler: startupCode is not set, this object is not "
            "initialized");
    if (link.sock == INVALID_SOCKET)
        return FALSE;
    if (!xNonBlockedConnectHandler(kLocalHost, kLocalPort, nullptr, 0, link.sock, connected, &link.cryptData))
        return LocalFail(
            "CCommLocalClient::NonBlockedConenctHandler: xNonBlockedConnectHandler returned FALSE");
    if (!connected)
        return TRUE;
    if (!ConnectInit()) {
        ConnectExit();
        return LocalFail("CCommLocalClient::NonBlockedConnectHandler: ConnectInit failed");
    }
    return TRUE;
}

int32_t CCommLocalClient::ConnectInit()
{
    // A new connection starts with a clean transfer state.
    link.ResetTransfer();
    pingTimeSet = pingPending = 0;
    if (!RegisterLocalClient())
        return FALSE;
    LogData(">ConnectInit<", nullptr, 0);
    return TRUE;
}

int32_t CCommLocalClient::ConnectExit()
{
    // Whatever ended the connection, its socket is closed and half-moved
    // packets are dropped.
    if (link.sock != INVALID_SOCKET)
        xDisconnectSocket(link.sock, connected, &link.cryptData);
    connected = 0;
    link.ResetTransfer();
    UnRegisterLocalClient();
    LogData(">ConnectExit<", nullptr, 0);
    return TRUE;
}

int32_t CCommLocalClient::Handler(int32_t blocked, int32_t)
{
    if (link.startupCode == 0)
        return LocalFail("CCommLocalClient::Handler: startupCode is zero (uninitialized object)");
    if (connected != 1)
        return LocalFail("CCommLocalClient::Handler:LocalClient is not connected (connected = FALSE)");
    bool sendFailed = false, recvFailed = false;
    int32_t r = RunRound(this, link, connected, transferIn, transferOut, blocked, sendFailed, recvFailed);
    if (r < 0) {
        ConnectExit();
        return LocalFail("CCommLocalClient::Handler: PacketTransferHandler failed.");
    }
    if (sendFailed)
        return LocalFail("CCommLocalClient::Handler: SendHandler failed.");
    if (recvFailed)
        return LocalFail("CCommLocalClient::Handler: RecvCommProtocolHandler failed.");
    return TRUE;
}

int32_t CCommLocalClient::BlockedHandler(int32_t wait)
{
    if (link.startupCode == 0)
        return LocalFail("CCommLocalClient::BlockedHandler: Localclient has no valid startup code");
    if (connected != 1)
        return LocalFail(
            "CCommLocalClient::BlockedHandler: LocalClient is not connected (connected = FALSE)");
    if (!Handler(1, wait))
        return LocalFail("CCommLocalClient::BlockedHandler: Handler returned FALSE");
    return TRUE;
}

int32_t CCommLocalClient::NonBlockedHandler()
{
    if (link.startupCode == 0)
        return LocalFail("CCommLocalClient::NonBlockedHandler:Localclient has no valid startup code");
    if (connected != 1)
        return LocalFail(
            "CCommLocalClient::NonBlockedHandler:LocalClient is not connected (connected = FALSE)");
    if (!Handler(0, 0))
        return LocalFail("CCommLocalClient::NonBlockedHandler: Handler returned FALSE");
    return TRUE;
}

void CCommLocalClient::Disconnect()
{
    if (link.startupCode == 0) {
        LocalFail("CCommLocalClient::Disconnect: startupCode is not set, this object is not initialized");
        return;
    }
    if (connected != 1) {
        LocalFail("CCommLocalClient::Disconnect: connected is FALSE, this object is not connected");
        return;
    }
    xDisconnectSocket(link.sock, connected, &link.cryptData);
    ConnectExit();
}

int32_t CCommLocalClient::Closedown()
{
    if (connected)
        ConnectExit();
    if (link.sock != INVALID_SOCKET)
        xDisconnectSocket(link.sock, connected, &link.cryptData);
    LocalClient_socket_List_Remove(this);
    if (link.startupCode != 0 && !xClosedownSockets(link.startupCode, &link.cryptData))
        return LocalFail("CCommLocalClient::Closedown: xClosedownSockets failed");
    LogData(">Closedown<", nullptr, 0);
    return TRUE;
}

int32_t CCommLocalClient::IsFlushed()
{
    return link.sendPacket == nullptr && link.sendCount == 0 && sendQue.GetNumNodes() == 0 &&
                   transferOut.GetNumNodes() == 0
               ? TRUE
               : FALSE;
}

// ---------------------------------------------------------------- remote client

CCommRemoteClient::~CCommRemoteClient()
{
    link.ResetTransfer();
    EmptyQues();
    if (link.startupCode != 0 || link.sock != INVALID_SOCKET)
        Closedown();
    if (connected)
        ConnectExit();
    if (proxyHost != nullptr)
        XFREE(proxyHost);
    if (glb != nullptr) {
        if (glb->remoteClients != nullptr)
            glb->remoteClients->DeleteItem(this);
        if (glb->remoteClient_socket_RegList != nullptr)
            glb->remoteClient_socket_RegList->DeleteItem(this);
    }
}

void CCommRemoteClient::EmptyQues()
{
    EmptyList(sendQue);
    EmptyList(recvQue);
}

int32_t CCommRemoteClient::SetProxy(const char* host, uint16_t port)
{
    char* copy = host != nullptr ? CopyText(host) : nullptr;
    if (host != nullptr && copy == nullptr)
        return FALSE;
    if (proxyHost != nullptr)
        XFREE(proxyHost);
    proxyHost = copy;
    proxyPort = port;
    return TRUE;
}

int32_t CCommRemoteClient::SetVerification(const char* caFile, const char* hostName)
{
    return xSetClientVerification(&link.cryptData, caFile, hostName);
}

int32_t CCommRemoteClient::Startup()
{
    if (!xStartupSockets(link.startupCode, 1, &link.cryptData))
        return Report("CCommRemoteClient::Startup: xStartupSockets returned FALSE");
    LogData(">Startup<", nullptr, 0);
    return RemoteClient_socket_List_Add(this);
}

int32_t CCommRemoteClient::Connect()
{
    if (link.startupCode == 0)
        return Report("CCommRemoteClient::Connect: startupCode is zero, this object is not initialized");
    if (connected)
        return Report("CCommRemoteClient::Connect: connected is TRUE, this object is already connected");
    if (remotePort < 0 || remotePort > 65535)
        return Report("CCommRemoteClient::Connect: port is out of range");
    if (encryption == 1 && !xSetClientEncryption(&link.cryptData))
        return Report("CCommRemoteClient::Connect: xSetClientEncryption returned FALSE");
    if (!xConnectSocket(remoteHost, static_cast<uint16_t>(remotePort), proxyHost, proxyPort, link.sock,
                        &link.addr, &link.cryptData))
        return Report("CCommRemoteClient::Connect: xConnectSocket returned FALSE");
    return TRUE;
}

int32_t CCommRemoteClient::BlockedConnectHandler(int32_t wait)
{
    if (link.startupCode == 0)
        return Report("CCommRemoteClient::BlockedConnectHandler: startupCode is zero, this object is not "
                      "initialized");
    if (connected)
        return Report("CCommRemoteClient::BlockedConnectHandler: connected is TRUE, this object is already "
                      "connected");
    if (link.sock == INVALID_SOCKET)
        return FALSE;
    if (!xBlockedConnectHandler(remoteHost, static_cast<uint16_t>(remotePort), proxyHost, proxyPort,
                                link.sock, connected, wait, &link.cryptData))
        return Report("CCommRemoteClient::BlockedConnectHandler: xBlockedConnectHandler returned FALSE");
    if (!connected)
        return TRUE;
    if (!ConnectInit()) {
        ConnectExit();
        return Report("CCommRemoteClient::BlockedConnectHandler: ConnectInit failed");
    }
    return TRUE;
}

int32_t CCommRemoteClient::NonBlockedConnectHandler()
{
    if (link.startupCode == 0)
        return Report("CCommRemoteClient::NonBlockedConnectHandler: startupCode is zero, this object is not "
                      "initialized");
    if (connected)
        return Report(
            "CCommRemoteClient::NonBlockedConnectHandler: connected is TRUE, this object is already "
            "connected");
    if (link.sock == INVALID_SOCKET)
        return FALSE;
    if (!xNonBlockedConnectHandler(remoteHost, static_cast<uint16_t>(remotePort), proxyHost, proxyPort,
                                   link.sock, connected, &link.cryptData))
        return Report(
            "CCommRemoteClient::NonBlockedConnectHandler: xNonBlockedConnectHandler returned FALSE");
    if (!connected)
        return TRUE;
    if (!ConnectInit()) {
        ConnectExit();
        return Report("CCommRemoteClient::NonBlockedConnectHandler: ConnectInit failed");
    }
    return TRUE;
}

int32_t CCommRemoteClient::SetConnectFromServer(CCommRemoteServerBase* server)
{
    if (link.startupCode == 0)
        return Report("CCommRemoteClient::SetConnectFromServer: startupCode is zero, this object is not "
                      "initialized");
    if (connected)
        return Report("CCommRemoteClient::SetConnectFromServer: connected is TRUE,  this object is already "
                      "connected");
    if (server == nullptr || server->GetConnectedSocket() == INVALID_SOCKET)
        return Report("CCommRemoteClient::SetConnectFromServer: the server has no accepted socket");
    if (link.sock != INVALID_SOCKET)
        xDisconnectSocket(link.sock, connected, &link.cryptData);
    link.sock = server->GetConnectedSocket();
    // The socket is ours now: the server no longer closes it.
    server->ForgetConnectedSocket();
    connected = 1;
    link.ResetTransfer();
    EmptyQues();
    pingTimeSet = pingPending = 0;
    if (server->GetEncryption() == 1) {
        encryption = 1;
        if (!xMakeGivenServerSocketEncrypted(link.sock, server->GetKeyFile(), server->GetCertFile(),
                                             &link.cryptData) ||
            link.cryptData.ssl == nullptr) {
            xDisconnectSocket(link.sock, connected, &link.cryptData);
            return Report(
                "CCommRemoteClient::SetConnectFromServer: Unable to get encryption data from server "
                "object");
        }
    }
    if (!ConnectInit()) {
        ConnectExit();
        return Report("CCommRemoteClient::SetConnectFromServer: ConnectInit failed");
    }
    return TRUE;
}

int32_t CCommRemoteClient::ConnectInit()
{
    link.ResetTransfer();
    pingTimeSet = pingPending = 0;
    if (!RegisterRemoteClient())
        return FALSE;
    LogData(">ConnectInit<", nullptr, 0);
    return TRUE;
}

int32_t CCommRemoteClient::ConnectExit()
{
    xDisconnectSocket(link.sock, connected, &link.cryptData);
    connected = 0;
    link.ResetTransfer();
    UnRegisterRemoteClient();
    LogData(">ConnectExit<", nullptr, 0);
    return TRUE;
}

int32_t CCommRemoteClient::Handler(int32_t blocked, int32_t)
{
    if (link.startupCode == 0)
        return Report("CCommRemoteClient:: Handler: startupCode is zero, this object is not initialized");
    if (connected != 1)
        return Report("CCommRemoteClient:: Handler: connected is FALSE, this object is not connected");
    bool sendFailed = false, recvFailed = false;
    int32_t r = RunRound(this, link, connected, transferIn, transferOut, blocked, sendFailed, recvFailed);
    if (r < 0) {
        ConnectExit();
        return Report("CCommRemoteClient::Handler: PacketTransferHandler function failed");
    }
    if (sendFailed)
        return xErrorTxt_Func("CCommRemoteClient::Handler: SendHandler failed.", __FILE__, __LINE__);
    if (recvFailed)
        return xErrorTxt_Func("CCommRemoteClient::Handler: RecvHandler failed.", __FILE__, __LINE__);
    return TRUE;
}

int32_t CCommRemoteClient::BlockedHandler(int32_t wait)
{
    if (link.startupCode == 0)
        return Report(
            "CCommRemoteClient::BlockedHandler: startupCode is zero, this object is not initialized");
    if (connected != 1)
        return Report("CCommRemoteClient::BlockedHandler: connected is zero, this object is not connected");
    if (!Handler(1, wait))
        return Report("CCommRemoteClient::BlockedHandler: Handler returned FALSE");
    return TRUE;
}

int32_t CCommRemoteClient::NonBlockedHandler()
{
    if (link.startupCode == 0)
        return Report(
            "CCommRemoteClient::NonBlockedHandler: startupCode is zero, this object is not initialized");
    if (connected != 1)
        return Report(
            "CCommRemoteClient::NonBlockedHandler: connected is zero, this object is not connected");
    if (!Handler(0, 0))
        return Report("CCommRemoteClient::NonBlockedHandler: Handler returned FALSE");
    return TRUE;
}

void CCommRemoteClient::Disconnect()
{
    if (link.startupCode == 0) {
        Report("CCommRemoteClient::Disconnect: startupCode is zero, this object is not initialized");
        return;
    }
    if (connected != 1) {
        Report("CCommRemoteClient::Disconnect: connected is not TRUE, this object is not connected");
        return;
    }
    xDisconnectSocket(link.sock, connected, &link.cryptData);
    if (connected)
        xErrorTxt_Func("CCommRemoteClient::Disconnect: connected is still TRUE, unable to disconnect?",
                       __FILE__, __LINE__);
    ConnectExit();
}

int32_t CCommRemoteClient::Closedown()
{
    if (connected)
        ConnectExit();
    if (link.sock != INVALID_SOCKET)
        xDisconnectSocket(link.sock, connected, &link.cryptData);
    RemoteClient_socket_List_Remove(this);
    if (link.startupCode != 0 && !xClosedownSockets(link.startupCode, &link.cryptData))
        return Report("CCommRemoteClient::Closedown: xClosedownSockets failed");
    LogData(">Closedown<", nullptr, 0);
    return TRUE;
}

int32_t CCommRemoteClient::IsFlushed()
{
    if (!connected) {
        Report("CCommRemoteClient::IsFlushed: connected is FALSE, this object is not connected");
        return TRUE;
    }
    return link.sendPacket == nullptr && link.sendCount == 0 && sendQue.GetNumNodes() == 0 &&
                   transferOut.GetNumNodes() == 0
               ? TRUE
               : FALSE;
}

// ---------------------------------------------------------------- servers

CCommBaseServer::CCommBaseServer()
{
    SetObjName("default commserver object");
}

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

int32_t CCommBaseServer::SetObjName(const char* a, const char* b) { return tvcomm::SetJoinedName(*this, a, b); }

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

void CCommLocalServerBase::UnRegisterLocalServer()
{
    LocalServerList_Remove(this);
}

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

void CCommRemoteServerBase::UnRegisterRemoteServer()
{
    RemoteServerList_Remove(this);
}

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

// ---------------------------------------------------------------- local server

CCommLocalServer::~CCommLocalServer()
{
    if (!closedDown)
        Closedown();
}

int32_t CCommLocalServer::Startup()
{
    closedDown = false;
    if (!RegisterLocalServer())
        return LocalFail("CCommLocalServer::Startup: RegisterLocalServer failed.");
    if (!xStartupSockets(startupCode, 1, &cryptData))
        LocalFail("CCommLocalServer::Startup: xStartupSockets returned FALSE.");
    return LocalServer_socket_List_Add(this);
}

int32_t CCommLocalServer::StartListen()
{
    if (startupCode == 0)
        return LocalFail(
            "CCommLocalServer::StartListen: startupCode is zero, the object is not initialized.");
    if (!xStartListenSocket(kLocalPort, listenSock, &listenAddr, &cryptData))
        return LocalFail("CCommLocalServer::StartListen: xStartListenSocket failed.");
    return TRUE;
}

int32_t CCommLocalServer::BlockedStartListenHandler(int32_t)
{
    if (startupCode == 0)
        return LocalFail(
            "CCommLocalServer::BlockedStartListenHandler: startupCode is zero, the object is not "
            "initialized.");
    if (!xBlockedStartListenHandler(listenSock, acceptedSock, running, &cryptData))
        return Report(
            "CCommLocalServer::BlockedStartListenHandler:xBlockedStartListenHandler returned FALSE");
    return TRUE;
}

int32_t CCommLocalServer::NonBlockedStartListenHandler()
{
    if (startupCode == 0)
        return LocalFail(
            "CCommLocalServer::NonBlockedStartListenHandler: startupCode is zero, the object is not "
            "initialized.");
    if (!xNonBlockedStartListenHandler(listenSock, acceptedSock, running, &cryptData))
        return Report(
            "CCommLocalServer::NonBlockedStartListenHandler:xNonBlockedStartListenHandler returned FALSE");
    return TRUE;
}

int32_t CCommLocalServer::ListenHandler(bool blocked)
{
    const char* op = blocked ? "BlockedHandler" : "NonBlockedHandler";
    char text[160];
    if (startupCode == 0) {
        std::snprintf(text, sizeof text,
                      "CCommLocalServer::%s: startupCode is zero, this object is not initialized", op);
        return Report(text);
    }
    if (running != 1) {
        std::snprintf(text, sizeof text,
                      "CCommLocalServer::%s: running is FALSE, this object is not listening", op);
        return Report(text);
    }
    int32_t accepted = 0;
    int32_t ok =
        blocked
            ? xBlockedListenHandler(listenSock, acceptedSock, &peerAddr, running, accepted, &cryptData)
            : xNonBlockedListenHandler(listenSock, acceptedSock, &peerAddr, running, accepted, &cryptData);
    if (!ok) {
        std::snprintf(text, sizeof text, "CCommLocalServer::%s: %s returned FALSE", op,
                      blocked ? "xBlockedListenHandler" : "xNonBlockedListenHandler");
        return Report(text);
    }
    if (acceptedSock != INVALID_SOCKET && !ExecuteCallback()) {
        dprintf("CCommLocalServer::%s: connection was rejected (classname: %s objectname: %s)\n", op,
                GetClassName(), GetObjName());
        xCloseSocket(acceptedSock);
    }
    return TRUE;
}

int32_t CCommLocalServer::BlockedHandler(int32_t)
{
    return ListenHandler(true);
}
int32_t CCommLocalServer::NonBlockedHandler()
{
    return ListenHandler(false);
}

void CCommLocalServer::StopListen()
{
    if (startupCode == 0) {
        LocalFail("CCommLocalServer::StopListen: startupCode is zero, the object is not initialized.");
        return;
    }
    if (running != 1) {
        Report("CCommLocalServer::StopListen: running is FALSE, this object was not listening");
        return;
    }
    xStopListenSocket(listenSock, running, &cryptData);
}

int32_t CCommLocalServer::Closedown()
{
    closedDown = true;
    int32_t result = TRUE;
    if (listenSock != INVALID_SOCKET)
        xStopListenSocket(listenSock, running, &cryptData);
    xCloseSocket(acceptedSock);
    LocalServer_socket_List_Remove(this);
    if (startupCode != 0 && !xClosedownSockets(startupCode, &cryptData))
        result = LocalFail("CCommLocalServer::Closedown: xClosedownSockets failed.");
    UnRegisterLocalServer();
    return result;
}

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

int32_t CCommRemoteServer::Startup()
{
    closedDown = false;
    if (!RegisterRemoteServer())
        return Report("CCommRemoteServer::Startup: RegisterRemoteServer failed");
    if (!xStartupSockets(startupCode, 1, &cryptData))
        Report("CCommRemoteServer::Startup: xStartupSockets failed");
    return RemoteServer_socket_List_Add(this);
}

int32_t CCommRemoteServer::StartListen()
{
    if (startupCode == 0)
        return Report("CCommRemoteServer::StartListen: startupCode is zero, this object is not initialized");
    if (port < 0 || port > 65535)
        return Report("CCommRemoteServer::StartListen: port is out of range");
    if (!xStartListenSocket(static_cast<uint16_t>(port), listenSock, &listenAddr, &cryptData))
        return Report("CCommRemoteServer::StartListen: xStartListenSocket failed");
    return TRUE;
}

int32_t CCommRemoteServer::BlockedStartListenHandler(int32_t)
{
    if (startupCode == 0)
        return Report("CCommRemoteServer::BlockedStartListenHandler: startupCode is zero, this object is not "
                      "initialized");
    if (!xBlockedStartListenHandler(listenSock, acceptedSock, running, &cryptData))
        return Report(
            "CCommRemoteServer::BlockedStartListenHandler: xBlockedStartListenHandler returned FALSE");
    return TRUE;
}

int32_t CCommRemoteServer::NonBlockedStartListenHandler()
{
    if (startupCode == 0)
        return Report(
            "CCommRemoteServer::NonBlockedStartListenHandler: startupCode is zero, this object is not "
            "initialized");
    if (!xNonBlockedStartListenHandler(listenSock, acceptedSock, running, &cryptData))
        return Report(
            "CCommRemoteServer::NonBlockedStartListenHandler: xNonBlockedStartListenHandler returned "
            "FALSE");
    return TRUE;
}

int32_t CCommRemoteServer::ListenHandler(bool blocked)
{
    const char* op = blocked ? "BlockedHandler" : "NonBlockedHandler";
    char text[160];
    if (startupCode == 0) {
        std::snprintf(text, sizeof text,
                      "CCommRemoteServer::%s: startupCode is zero, this object is not initialized", op);
        return Report(text);
    }
    if (running != 1) {
        std::snprintf(text, sizeof text,
                      "CCommRemoteServer::%s: running is FALSE, this object is not listening", op);
        return Report(text);
    }
    int32_t accepted = 0;
    int32_t ok =
        blocked
            ? xBlockedListenHandler(listenSock, acceptedSock, &peerAddr, running, accepted, &cryptData)
            : xNonBlockedListenHandler(listenSock, acceptedSock, &peerAddr, running, accepted, &cryptData);
    if (!ok) {
        std::snprintf(text, sizeof text, "CCommRemoteServer::%s: %s returned FALSE", op,
                      blocked ? "xBlockedListenHandler" : "xNonBlockedListenHandler");
        return Report(text);
    }
    if (acceptedSock != INVALID_SOCKET) {
        if (!ExecuteCallback()) {
            dprintf("CCommRemoteServer::%s: connection was rejected (classname: %s objectname: %s)\n", op,
                    GetClassName(), GetObjName());
            xCloseSocket(acceptedSock);
        }
    }
    return TRUE;
}

int32_t CCommRemoteServer::BlockedHandler(int32_t)
{
    return ListenHandler(true);
}
int32_t CCommRemoteServer::NonBlockedHandler()
{
    return ListenHandler(false);
}

void CCommRemoteServer::StopListen()
{
    if (startupCode == 0) {
        Report("CCommRemoteServer::StopListen: startupCode is zero, this object is not initialized");
        return;
    }
    if (running != 1) {
        Report("CCommRemoteServer::StopListen: running is FALSE, this object is not listening");
        return;
    }
    xStopListenSocket(listenSock, running, &cryptData);
}

int32_t CCommRemoteServer::Closedown()
{
    closedDown = true;
    int32_t result = TRUE;
    if (listenSock != INVALID_SOCKET)
        xStopListenSocket(listenSock, running, &cryptData);
    xCloseSocket(acceptedSock);
    RemoteServer_socket_List_Remove(this);
    if (startupCode != 0 && !xClosedownSockets(startupCode, &cryptData))
        result = xErrorf("CCommRemoteServer::Closedown: xClosedownSockets function failed (classname:%s "
                         "objectname: %s)",
                         GetClassName(), GetObjName());
    UnRegisterRemoteServer();
    return result;
}
