// The socket layer: free functions over TCP sockets and TLS that every
// connection of the library goes through. Each call moves one step (or
// blocks, in the Blocked variants) and takes the caller's SCryptData, the TLS
// state of that one socket. Sockets are 32-bit values held by the caller,
// INVALID_SOCKET meaning none; the caller's connected / running flag is
// cleared by every path here that closes the socket. Also: the Winsock error
// texts, the registration lists of comm objects whose sockets the frame's
// socket wait watches, and that wait.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

#include <tarvex/netaddr.h>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
class CLList;
class CCommLocalClient;
class CCommRemoteClient;
class CCommLocalServer;
class CCommRemoteServer;

constexpr uint32_t INVALID_SOCKET = 0xFFFFFFFFu;

// The TLS state of one socket; all zero after construction, copied field by
// field (the copy shares the pointers).
struct TARVEX_API SCryptData {
    int32_t initialised = 0;         // 1 after xStartupSockets succeeded with it
    int32_t encrypted = 0;           // 1 once xSetEncryption was called
    int32_t startupFlag = 0;         // second argument of xStartupSockets
    char* privateKeyFile = nullptr;  // tracked copy (servers)
    char* certificateFile = nullptr; // tracked copy (servers)
    SSL_CTX* sslContext = nullptr;
    SSL* ssl = nullptr;
    int32_t reserved = 0;
    // Opt-in server verification for clients (xSetClientVerification):
    // tracked copies, released by xClosedownSockets.
    char* verifyCaFile = nullptr;
    char* verifyHostName = nullptr;

    SCryptData() = default;
    SCryptData(const SCryptData&) = default;
    SCryptData& operator=(const SCryptData&) = default;
};

// The text of a Winsock error code; "Unknown winsocket error" outside the table.
TARVEX_API const char* xSocketErrorText(int32_t code);

TARVEX_API int32_t xStartupSockets(int32_t& startupCode, int32_t flag, SCryptData* cd);
TARVEX_API int32_t xClosedownSockets(int32_t& startupCode, SCryptData* cd);
// The library's exit: releases the socket library once when it was started.
TARVEX_API void xCleanupSockets();

TARVEX_API int32_t xSetEncryption(SCryptData* cd, const char* keyFile, const char* certFile, int32_t isServer);
TARVEX_API int32_t xSetClientEncryption(SCryptData* cd);
TARVEX_API int32_t xSetServerEncryption(SCryptData* cd, const char* keyFile, const char* certFile);
// Makes later client encryption of cd verify the server: its certificate
// must chain to caFile and, when hostName is given, carry that name. Off by
// default; null caFile turns it off again.
TARVEX_API int32_t xSetClientVerification(SCryptData* cd, const char* caFile, const char* hostName);

TARVEX_API int32_t xConnectSocket(const char* host, uint16_t port, const char* proxyHost, uint16_t proxyPort,
                       uint32_t& sock, sockaddr_in* addr, SCryptData* cd);
TARVEX_API int32_t xBlockedConnectHandler(const char* host, uint16_t port, const char* proxyHost, uint16_t proxyPort,
                               uint32_t& sock, int32_t& connected, int32_t unused, SCryptData* cd);
TARVEX_API int32_t xNonBlockedConnectHandler(const char* host, uint16_t port, const char* proxyHost, uint16_t proxyPort,
                                  uint32_t& sock, int32_t& connected, SCryptData* cd);

TARVEX_API int32_t xSocketHandler(uint32_t& sock, int32_t& connected, char* recvBuf, uint32_t& recvDone,
                       uint32_t recvWanted, const char* sendBuf, uint32_t& sendDone, uint32_t sendWanted,
                       SCryptData* cd);
TARVEX_API int32_t xBlockedHandler(uint32_t& sock, int32_t& connected, char* recvBuf, uint32_t& recvDone,
                        uint32_t recvWanted, const char* sendBuf, uint32_t& sendDone, uint32_t sendWanted,
                        SCryptData* cd);
TARVEX_API int32_t xNonBlockedHandler(uint32_t& sock, int32_t& connected, char* recvBuf, uint32_t& recvDone,
                           uint32_t recvWanted, const char* sendBuf, uint32_t& sendDone, uint32_t sendWanted,
                           SCryptData* cd);

TARVEX_API int32_t xDisconnectSocket(uint32_t& sock, int32_t& connected, SCryptData* cd);
TARVEX_API void xCloseSocket(uint32_t& sock);

TARVEX_API int32_t xStartListenSocket(uint16_t port, uint32_t& sock, sockaddr_in* addr, SCryptData* cd);
TARVEX_API int32_t xStopListenSocket(uint32_t& sock, int32_t& running, SCryptData* cd);
TARVEX_API int32_t xBlockedStartListenHandler(uint32_t& listenSock, uint32_t& newSock, int32_t& running, SCryptData* cd);
TARVEX_API int32_t xNonBlockedStartListenHandler(uint32_t& listenSock, uint32_t& newSock, int32_t& running,
                                      SCryptData* cd);
TARVEX_API int32_t xBlockedListenHandler(uint32_t& listenSock, uint32_t& newSock, sockaddr_in* addr, int32_t& running,
                              int32_t& accepted, SCryptData* cd);
TARVEX_API int32_t xNonBlockedListenHandler(uint32_t& listenSock, uint32_t& newSock, sockaddr_in* addr, int32_t& running,
                                 int32_t& accepted, SCryptData* cd);
TARVEX_API int32_t xAcceptIncomingConnection(uint32_t listenSock, uint32_t& newSock, sockaddr_in* addr, SCryptData* cd);
TARVEX_API int32_t xMakeGivenServerSocketEncrypted(uint32_t sock, const char* keyFile, const char* certFile,
                                        SCryptData* cd);

TARVEX_API int32_t xCheckConnectionUp(uint32_t& sock, int32_t& connected, SCryptData* cd);
TARVEX_API uint32_t xGetLocalIp();
TARVEX_API uint32_t xSocketGetAddr(const char* name, SCryptData* cd);

TARVEX_API int32_t MakeSocketBlocking(uint32_t& sock, int32_t& connected, SCryptData* cd);
TARVEX_API int32_t MakeSocketNonBlocking(uint32_t& sock, int32_t& connected, SCryptData* cd);
TARVEX_API int32_t SetSocketBlockingMode(uint32_t& sock, int32_t& connected, int32_t nonBlocking, SCryptData* cd);

// Waits until one of the sockets (a list of uint32_t* socket values) is
// readable or has an error, or ms pass. Any number of sockets is watched,
// whatever their descriptor values.
TARVEX_API void xWaitTimeOrSockets(uint32_t ms, CLList* sockets);
// The same over every registered comm socket.
TARVEX_API void xWaitTimeOrSockets(uint32_t ms);

// Registration lists for the socket wait (borrowed pointers).
TARVEX_API int32_t LocalClient_socket_List_Add(CCommLocalClient* obj);
TARVEX_API int32_t LocalClient_socket_List_Remove(CCommLocalClient* obj);
TARVEX_API int32_t RemoteClient_socket_List_Add(CCommRemoteClient* obj);
TARVEX_API int32_t RemoteClient_socket_List_Remove(CCommRemoteClient* obj);
TARVEX_API int32_t LocalServer_socket_List_Add(CCommLocalServer* obj);
TARVEX_API int32_t LocalServer_socket_List_Remove(CCommLocalServer* obj);
TARVEX_API int32_t RemoteServer_socket_List_Add(CCommRemoteServer* obj);
TARVEX_API int32_t RemoteServer_socket_List_Remove(CCommRemoteServer* obj);

// How the socket wait reads the sockets of one registered object: the
// module that defines a kind installs its reader, which writes the sockets
// to watch (at most two) and returns their number: 0 when the object is not
// connected / running or has no valid socket. Objects of a kind without a
// reader are not watched.
enum : int32_t {
    XWAIT_LOCAL_CLIENT = 0,
    XWAIT_REMOTE_CLIENT = 1,
    XWAIT_LOCAL_SERVER = 2,
    XWAIT_REMOTE_SERVER = 3,
    XWAIT_PROXY_CONNECTION = 4,
    XWAIT_PROXY_SERVER = 5,
    XWAIT_REDIS_BRIDGE = 6, // looked for among the remote clients
    XWAIT_KINDS = 7,
};
using XWaitSocketReader = int32_t (*)(void* object, uint32_t sockets[2]);
TARVEX_API void xSetWaitSocketReader(int32_t kind, XWaitSocketReader reader);
