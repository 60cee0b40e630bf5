// The socket layer: start-up and close-down, TLS set-up, connecting (also
// through a relay proxy), listening and accepting, one-step transfers, the
// connection check, name resolution, and the socket wait of the frame. The
// steps and messages follow the classic Winsock design; the platform layer
// supplies BSD sockets with Winsock error codes and OpenSSL.
#include <tarvex/socket.h>

#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/llist.h>
#include <tarvex/memory.h>
#include <tarvex/proxyloc.h>
#include <tarvex/strings.h>

#include "core/layerhooks.h"
#include "core/textcopy.h"
#include "platform/net.h"
#include "platform/tls.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

static_assert(INVALID_SOCKET == tvp::XINVALID_SOCKET);

namespace
{

struct WsaText {
    int32_t code;
    const char* text;
};

constexpr WsaText kWsaTexts[] = {
    {10000, "[0] No Error"},
    {10004, "WSAEINTR: Interrupted system call"},
    {10009, "WSAEBADF: Bad file number"},
    {10013, "WSACCESS: Permission denied"},
    {10014, "WSAEFAULT: Bad address"},
    {10022, "WSAEINVAL: Invalid argument"},
    {10024, "WSAEMFILE: Too many open files"},
    {10035, "WSAEWOULDBLOCK: Operation would block"},
    {10036, "WSAEINPROGRESS: Operation now in progress"},
    {10037, "WSAEALREADY: Operation already in progress"},
    {10038, "WSAENOTSOCK: Socket operation on non-socket"},
    {10039, "WSAEDESTADDRREQ: Destination address required"},
    {10040, "WSAEMSGSIZE: Message too long"},
    {10041, "WSAEPROTOTYPE: Protocol wrong type for socket"},
    {10042, "WSAENOPROTOOPT: Bad protocol option"},
    {10043, "WSAEPROTONOSUPPORT: Protocol not supported"},
    {10044, "WSAESOCKTNOSUPPORT: Socket type not supported"},
    {10045, "WSAEOPNOTSUPP: Operation not supported on socket"},
    {10046, "WSAEPFNNOSUPPORT: Protocol family not supported"},
    {10047, "WSAEAFNNOSUPPORT: Address family not supported by protocol family"},
    {10048, "WSAEADDRINUSE: Address already in use"},
    {10049, "WSAEADDRNOTAVAIL: Can't assign requested address"},
    {10050, "WSAENETDOWN: Network is down"},
    {10051, "WSAENETUNREACH: Network is unreachable"},
    {10052, "WSAENETRESET: Net dropped connection or reset"},
    {10053, "WSAECONNABORTED: Software caused connection abort"},
    {10054, "WSAECONNRESET: Connection reset by peer"},
    {10055, "WSAENOBUFS: No buffer space available"},
    {10056, "WSAEISCONN: Socket is already connected"},
    {10057, "WSAENOTCONN: Socket is not connected"},
    {10058, "WSAESHUTDOWN: Can't send after socket shutdown"},
    {10059, "WSAETOOMANYREFS: Too many references, can't splice"},
    {10060, "WSAETIMEDOUT: Connection timed out"},
    {10061, "WSAECONNREFUSED: Connection refused"},
    {10062, "WSAELOOP: Too many levels of symbolic links"},
    {10063, "WSAENAMETOOLONG: File name too long"},
    {10064, "WSAEHOSTDOWN: Host is down"},
    {10065, "WSAEHOSTUNREACH: No Route to Host"},
    {10066, "WSAENOTEMPTY: Directory not empty"},
    {10067, "WSAEPROCLIM: Too many processes"},
    {10068, "WSAEUSERS: Too many users"},
    {10069, "WSAEDQUOT: Disc Quota Exceeded"},
    {10070, "WSAESTALE: Stale NFS file handle"},
    {10071, "WSAEREMOTE: Too many levels of remote in path"},
    {10091, "WSASYSNOTREADY: Network SubSystem is unavailable"},
    {10092, "WSAVERNOTSUPPORTED: WINSOCK DLL Version out of range"},
    {10093, "WSANOTINITIALISED: Successful WSASTARTUP not yet performed"},
    {11001, "WSAHOST_NOT_FOUND: Host not found"},
    {11002, "WSATRY_AGAIN: Non-Authoritative Host not found"},
    {11003, "WSANO_RECOVERY: Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {11004, "WSANO_DATA: Valid name, no data record of requested type"},
};
static_assert(sizeof kWsaTexts / sizeof kWsaTexts[0] == 51);

// Bound on a TLS handshake over a blocking socket, so a silent peer cannot
// hold the application's thread for ever.
constexpr uint32_t kHandshakeTimeoutMs = 10000;
// The blocked connect handler's wait for the connection.
constexpr int32_t kConnectTimeoutMs = 10000;

bool g_tlsInitialised = false;
uint32_t g_blockedConnectCalls = 0;
uint32_t g_nonBlockedConnectCalls = 0;
XWaitSocketReader g_waitReaders[XWAIT_KINDS] = {};

bool CdInvalid(const SCryptData* cd) { return cd == nullptr || cd->initialised == 0; }

int32_t ReportCd(const char* func) { return xErrorf("%s: Crypt data is invalid.", func); }

int32_t ReportWsa(int32_t code) { return xErrorTxt_Func(xSocketErrorText(code), __FILE__, __LINE__); }

bool WouldBlock(int32_t code) { return code == tvp::WSA_EWOULDBLOCK || code == tvp::WSA_EINPROGRESS; }

using tvcore::CopyText;
using tvcore::FreeText;

void FreeSsl(SCryptData* cd)
{
    if (cd->ssl != nullptr)
        tvp::tls::Free(cd->ssl);
    cd->ssl = nullptr;
}

// The teardown of a TLS connection that failed or was closed during traffic.
void DropTls(uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    xCloseSocket(sock);
    connected = 0;
    FreeSsl(cd);
    if (cd->sslContext != nullptr)
        tvp::tls::FreeContext(cd->sslContext);
    cd->sslContext = nullptr;
}

void FormatDotted(char* out, size_t size, uint32_t address)
{
    const auto* b = reinterpret_cast<const uint8_t*>(&address);
    std::snprintf(out, size, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(b[0]),
                  static_cast<unsigned long>(b[1]), static_cast<unsigned long>(b[2]),
                  static_cast<unsigned long>(b[3]));
}

// A client's TLS handshake over the socket in blocking mode, bounded in time.
int32_t ClientHandshake(SSL* ssl, uint32_t sock)
{
    tvp::SetIoTimeout(sock, kHandshakeTimeoutMs);
    tvp::tls::ClearErrors();
    int32_t r = tvp::tls::Connect(ssl);
    tvp::SetIoTimeout(sock, 0);
    return r;
}

// One step of a client handshake on a non-blocking socket: 1 done, 0 waiting
// for the server, -1 failed or timed out (reported; the socket closed and
// the connection's TLS state released).
int32_t ClientHandshakeStep(const char* name, uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    uint32_t start = 0;
    if (tvp::tls::HandshakeStart(cd->ssl, start) && xTimeDiff(start, xGetTime()) > kHandshakeTimeoutMs) {
        xCloseSocket(sock);
        connected = 0;
        FreeSsl(cd);
        xErrorf("%s: SSL_connect failed. (Timeout, the handshake did not complete in %lu ms.)", name,
                static_cast<unsigned long>(kHandshakeTimeoutMs));
        return -1;
    }
    tvp::tls::ClearErrors();
    int32_t r = tvp::tls::Connect(cd->ssl);
    if (r == 1 && !tvp::tls::InInit(cd->ssl))
        return 1;
    int32_t e = tvp::tls::GetError(cd->ssl, r);
    if (r < 0 && (e == tvp::tls::TLS_ERROR_WANT_READ || e == tvp::tls::TLS_ERROR_WANT_WRITE ||
                  e == tvp::tls::TLS_ERROR_WANT_X509_LOOKUP))
        return 0;
    char text[256];
    std::snprintf(text, sizeof text, "%s", tvp::tls::ErrorString());
    xCloseSocket(sock);
    connected = 0;
    FreeSsl(cd);
    xErrorf("%s: SSL_connect failed. (%s)", name, text);
    return -1;
}

// A new TLS connection over sock in the record (an old one released), on
// the accepting or the connecting side; started names a handshake that runs
// over calls (its time-out counts from now).
int32_t NewConnectionSsl(const char* name, uint32_t sock, bool accept, bool started, SCryptData* cd)
{
    FreeSsl(cd);
    tvp::tls::ClearErrors();
    cd->ssl = tvp::tls::New(cd->sslContext);
    if (cd->ssl == nullptr)
        return xErrorf("%s: SSL_new failed. (%s)", name, tvp::tls::ErrorString());
    tvp::tls::SetFd(cd->ssl, sock);
    if (accept)
        tvp::tls::SetAcceptState(cd->ssl);
    else
        tvp::tls::SetConnectState(cd->ssl);
    if (started)
        tvp::tls::SetHandshakeStart(cd->ssl, xGetTime());
    return TRUE;
}

// The server side of a TLS connection never waits for its client: the
// handshake is started here on the non-blocking socket and carried on by
// the transfer steps (xSocketHandler) as the client's bytes arrive, so a
// silent or slow client costs only its own connection, which is closed once
// kHandshakeTimeoutMs have passed without the handshake completing.
int32_t StartServerHandshake(const char* name, uint32_t sock, SCryptData* cd)
{
    if (!NewConnectionSsl(name, sock, true, true, cd))
        return FALSE;
    if (!tvp::SetNonBlocking(sock, true))
        dprintf("Error: Unable to set listensocket to non-blocking after accept.\n");
    return TRUE;
}

// One step of a server handshake still in progress: 1 done, 0 waiting for
// the client, -1 failed or timed out (reported; the socket closed, the
// connection's TLS state released).
int32_t ServerHandshakeStep(uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    uint32_t start = 0;
    if (tvp::tls::HandshakeStart(cd->ssl, start) && xTimeDiff(start, xGetTime()) > kHandshakeTimeoutMs) {
        xCloseSocket(sock);
        connected = 0;
        FreeSsl(cd);
        xErrorf("xSocketHandler: SSL_accept failed. (Timeout, the handshake did not complete in %lu ms.)",
                static_cast<unsigned long>(kHandshakeTimeoutMs));
        return -1;
    }
    // The step never waits, whatever mode the caller left the socket in.
    tvp::SetNonBlocking(sock, true);
    tvp::tls::ClearErrors();
    int32_t r = tvp::tls::Handshake(cd->ssl);
    if (r == 1) {
        dprintf("Server got connection: Secure connection using: %s.\n", tvp::tls::CipherName(cd->ssl));
        return 1;
    }
    switch (tvp::tls::GetError(cd->ssl, r)) {
    case tvp::tls::TLS_ERROR_WANT_READ:
    case tvp::tls::TLS_ERROR_WANT_WRITE:
    case tvp::tls::TLS_ERROR_WANT_X509_LOOKUP:
        return 0;
    default: {
        char text[256];
        std::snprintf(text, sizeof text, "%s", tvp::tls::ErrorString());
        xCloseSocket(sock);
        connected = 0;
        FreeSsl(cd);
        xErrorf("xSocketHandler: SSL_accept failed. (%s)", text);
        return -1;
    }
    }
}

} // namespace

const char* xSocketErrorText(int32_t code)
{
    for (const auto& e : kWsaTexts)
        if (e.code == code)
            return e.text;
    return "Unknown winsocket error";
}

// ---------------------------------------------------------------- start-up and close-down

int32_t xStartupSockets(int32_t& startupCode, int32_t flag, SCryptData* cd)
{
    if (cd == nullptr)
        return xErrorTxt_Func("xStartupSockets: cryptData is invalid.", __FILE__, __LINE__);
    if (sglb == nullptr)
        return xErrorTxt_Func("xStartupSockets: sglb is NULL", __FILE__, __LINE__);
    if (sglb->socketsStarted <= 0) {
        if (!tvp::NetStartup())
            return ReportWsa(tvp::LastError());
        sglb->socketsStarted = 0;
    }
    startupCode = ++sglb->socketsStarted;
    cd->initialised = 1;
    cd->startupFlag = flag;
    return TRUE;
}

int32_t xClosedownSockets(int32_t& startupCode, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xClosedownSockets");
    if (cd->encrypted) {
        cd->encrypted = 0;
        cd->startupFlag = 0;
        FreeSsl(cd);
        if (cd->sslContext != nullptr)
            tvp::tls::FreeContext(cd->sslContext);
        cd->sslContext = nullptr;
        FreeText(cd->privateKeyFile);
        FreeText(cd->certificateFile);
    }
    FreeText(cd->verifyCaFile);
    FreeText(cd->verifyHostName);
    startupCode = 0;
    return TRUE;
}

void xCleanupSockets()
{
    if (sglb == nullptr || sglb->socketsStarted == 0)
        return;
    tvp::NetCleanup();
    sglb->socketsStarted = 0;
}

// ---------------------------------------------------------------- encryption

int32_t xSetEncryption(SCryptData* cd, const char* keyFile, const char* certFile, int32_t isServer)
{
    if (CdInvalid(cd))
        return ReportCd("xSetEncryption");
    cd->encrypted = 1;

    if (keyFile == nullptr && isServer)
        return xErrorTxt_Func("xSetEncryption: This is a server but there is no private key passed to it.",
                              __FILE__, __LINE__);
    if (keyFile != nullptr && !isServer)
        return xErrorTxt_Func(
            "xSetEncryption: This is a client but there is a private key passed to it anyway.", __FILE__,
            __LINE__);
    if (keyFile != nullptr) {
        char* copy = CopyText(keyFile);
        if (copy == nullptr)
            return xErrorTxt_Func("xSetEncryption: Unable to allocate memory.", __FILE__, __LINE__);
        FreeText(cd->privateKeyFile);
        cd->privateKeyFile = copy;
    }
    if (certFile == nullptr && isServer)
        return xErrorTxt_Func("xSetEncryption: This is a server but there is no certificate passed to it.",
                              __FILE__, __LINE__);
    if (certFile != nullptr && !isServer)
        return xErrorTxt_Func(
            "xSetEncryption: This is a client but there is a certificate passed to it anyway.", __FILE__,
            __LINE__);
    if (certFile != nullptr) {
        char* copy = CopyText(certFile);
        if (copy == nullptr)
            return xErrorTxt_Func("xSetEncryption: Unable to allocate memory.", __FILE__, __LINE__);
        FreeText(cd->certificateFile);
        cd->certificateFile = copy;
    }

    if (!g_tlsInitialised) {
        unsigned char seed[1024];
        if (!tvp::tls::RandomBytes(seed, sizeof seed))
            return xErrorf("Unable to initialize randomized (%s).", tvp::tls::ErrorString());
        tvp::tls::Seed(seed, sizeof seed);
        tvp::tls::InitLibrary();
        g_tlsInitialised = true;
    }

    tvp::tls::ClearErrors();
    SSL_CTX* ctx = tvp::tls::NewContext(isServer != 0);
    if (ctx == nullptr)
        return xErrorf("xSetEncryption: Unable to set encrypted mode, SSL_CTX_new failed. (%s)",
                       tvp::tls::ErrorString());
    // A context of an earlier set-up is released (its connection, if any,
    // keeps its own reference until it is freed).
    if (cd->sslContext != nullptr)
        tvp::tls::FreeContext(cd->sslContext);
    cd->sslContext = ctx;

    if (!isServer) {
        if (cd->verifyCaFile != nullptr && !tvp::tls::SetVerify(ctx, cd->verifyCaFile, cd->verifyHostName))
            return xErrorf("xSetEncryption: Unable to set server verification, SSL_CTX_load_verify_locations "
                           "failed. (%s)",
                           tvp::tls::ErrorString());
        return TRUE;
    }
    if (!tvp::tls::UseCertificateFile(ctx, cd->certificateFile))
        return xErrorf(
            "xSetEncryption: Unable to set certificate to use, SSL_CTX_use_certificate_file failed. (%s)",
            tvp::tls::ErrorString());
    if (!tvp::tls::UsePrivateKeyFile(ctx, cd->privateKeyFile))
        return xErrorf(
            "xSetEncryption: Unable to set private key to use, SSL_CTX_use_PrivateKey_file failed. (%s)",
            tvp::tls::ErrorString());
    if (!tvp::tls::CheckPrivateKey(ctx))
        return xErrorf("xSetEncryption: Private key check failed, SSL_CTX_check_private_key failed. (%s)",
                       tvp::tls::ErrorString());
    return TRUE;
}

int32_t xSetClientEncryption(SCryptData* cd) { return xSetEncryption(cd, nullptr, nullptr, 0); }

int32_t xSetServerEncryption(SCryptData* cd, const char* keyFile, const char* certFile)
{
    return xSetEncryption(cd, keyFile, certFile, 1);
}

int32_t xSetClientVerification(SCryptData* cd, const char* caFile, const char* hostName)
{
    if (CdInvalid(cd))
        return ReportCd("xSetClientVerification");
    FreeText(cd->verifyCaFile);
    FreeText(cd->verifyHostName);
    if (caFile == nullptr)
        return TRUE;
    cd->verifyCaFile = CopyText(caFile);
    if (hostName != nullptr)
        cd->verifyHostName = CopyText(hostName);
    if (cd->verifyCaFile == nullptr || (hostName != nullptr && cd->verifyHostName == nullptr)) {
        FreeText(cd->verifyCaFile);
        FreeText(cd->verifyHostName);
        return xErrorTxt_Func("xSetClientVerification: Unable to allocate memory.", __FILE__, __LINE__);
    }
    return TRUE;
}

// ---------------------------------------------------------------- connecting

int32_t xConnectSocket(const char* host, uint16_t port, const char* proxyHost, uint16_t proxyPort,
                       uint32_t& sock, sockaddr_in* addr, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xConnectSocket");
    if (host == nullptr || port == 0)
        return xErrorTxt_Func("ConnectSocket: Invalid name or port", __FILE__, __LINE__);
    xCloseSocket(sock);
    // A TLS state left from an earlier connection of this record belongs to
    // no socket any more; the new connection makes its own.
    FreeSsl(cd);
    sockaddr_in local{};
    if (addr == nullptr)
        addr = &local;
    std::memset(addr, 0, sizeof *addr);

    uint32_t address = xSocketGetAddr(proxyHost != nullptr ? proxyHost : host, cd);
    if (address == 0) {
        if (std::strlen(host) >= 200)
            return xErrorTxt_Func("xConnectSocket: Can't find server specified", __FILE__, __LINE__);
        return xErrorf("xConnectSocket: Can't find server: %s", host);
    }

    sock = tvp::Socket();
    if (sock == INVALID_SOCKET)
        return ReportWsa(tvp::LastError());
    if (!tvp::SetNonBlocking(sock, true)) {
        int32_t code = tvp::LastError();
        xCloseSocket(sock);
        return ReportWsa(code);
    }
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = address;
    addr->sin_port = htons(proxyHost != nullptr ? proxyPort : port);
    if (tvp::Connect(sock, *addr) != 0 && !WouldBlock(tvp::LastError())) {
        int32_t code = tvp::LastError();
        xCloseSocket(sock);
        return ReportWsa(code);
    }

    char dotted[32];
    FormatDotted(dotted, sizeof dotted, address);
    auto ulPort = static_cast<unsigned long>(port);
    if (proxyHost != nullptr) {
        auto ulProxyPort = static_cast<unsigned long>(proxyPort);
        if (xStricmp(dotted, proxyHost) != 0)
            dprintf("Connecting to %s port:%lu (using proxyserver at %s (%s) port:%lu).\n.", host, ulPort,
                    proxyHost, dotted, ulProxyPort);
        else
            dprintf("Connecting to %s port:%lu (using proxyserver at %s port:%lu).\n.", host, ulPort,
                    proxyHost, ulProxyPort);
    } else if (xStricmp(dotted, host) != 0) {
        dprintf("Connecting to %s (%s) port:%lu.\n.", host, dotted, ulPort);
    } else {
        dprintf("Connecting to %s port:%lu.\n.", host, ulPort);
    }
    return TRUE;
}

namespace
{

// Sends the proxy location record for (host, port) whole, bounded in time.
int32_t SendLocation(const char* name, const char* host, uint16_t port, uint32_t& sock, SCryptData* cd)
{
    CProxyLocation location;
    if (!location.SetLocation(host, port))
        xErrorf("%s: remoteLocation.SetLocation failed.", name);
    const char* record = reinterpret_cast<const char*>(&location);
    uint32_t sent = 0, received = 0;
    int32_t up = 1;
    while (sent < PROXY_LOCATION_SIZE) {
        uint32_t before = sent;
        if (!xNonBlockedHandler(sock, up, nullptr, received, 0, record, sent, PROXY_LOCATION_SIZE, cd))
            return xErrorf("%s: xSocketHandler failed.", name);
        if (up == 0) {
            dprintf("%s: Lost connection when tried to send remotelocation to proxyserver.\n", name);
            return FALSE;
        }
        if (sent == before) {
            tvp::Readiness ready;
            if (tvp::WaitSocket(sock, false, true, kConnectTimeoutMs, ready) != 1 || ready.failed) {
                xCloseSocket(sock);
                dprintf("%s: Lost connection when tried to send remotelocation to proxyserver.\n", name);
                return FALSE;
            }
        }
    }
    return TRUE;
}

int32_t ConnectHandler(bool blocked, const char* host, uint16_t port, const char* proxyHost, uint16_t,
                       uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    const char* name = blocked ? "xBlockedConnectHandler" : "xNonBlockedConnectHandler";
    if (CdInvalid(cd))
        return ReportCd(name);
    uint32_t& calls = blocked ? g_blockedConnectCalls : g_nonBlockedConnectCalls;
    if (++calls % 25 == 0)
        dprintf(".");

    if (!SetSocketBlockingMode(sock, connected, blocked ? 0 : 1, cd))
        return FALSE;
    // The non-blocked handler carries a TLS handshake over calls: one step
    // per call, never waiting for the server.
    bool handshaking = !blocked && cd->encrypted && cd->ssl != nullptr && !tvp::tls::IsServer(cd->ssl) &&
                       tvp::tls::InInit(cd->ssl);
    if (!handshaking) {
        tvp::Readiness ready;
        int32_t r = tvp::WaitSocket(sock, false, true, blocked ? kConnectTimeoutMs : 0, ready);
        if (r < 0) {
            int32_t code = tvp::LastError();
            xCloseSocket(sock);
            connected = 0;
            return ReportWsa(code);
        }
        if (ready.failed) {
            xCloseSocket(sock);
            connected = 0;
            if (ready.pendingError == 0)
                return xErrorf("%s:Connection failed", name);
            return ReportWsa(ready.pendingError);
        }
        if (!ready.writable) {
            if (!blocked)
                return TRUE; // still pending: call again
            connected = 0;
            return ReportWsa(10060);
        }
    }

    if (cd->encrypted && blocked) {
        if (!NewConnectionSsl(name, sock, false, false, cd))
            return FALSE;
        // The handshake runs with the socket blocking (bounded in time).
        int32_t result = ClientHandshake(cd->ssl, sock);
        // Anything but a completed handshake is a failure; a result of 0
        // (handshake shut down) would otherwise pass for a connection.
        if (result != 1 || tvp::tls::InInit(cd->ssl))
            return xErrorf("%s: SSL_connect failed. (%s)", name, tvp::tls::ErrorString());
        dprintf("Secure connection using: %s.\n", tvp::tls::CipherName(cd->ssl));
    } else if (cd->encrypted) {
        if (!handshaking && !NewConnectionSsl(name, sock, false, true, cd))
            return FALSE;
        int32_t step = ClientHandshakeStep(name, sock, connected, cd);
        if (step < 0)
            return FALSE;
        if (step == 0)
            return TRUE; // the handshake goes on: call again
        dprintf("Client connected: Secure connection using: %s.\n", tvp::tls::CipherName(cd->ssl));
    }

    if (proxyHost != nullptr && !SendLocation(name, host, port, sock, cd))
        return FALSE;

    tvp::SetKeepAlive(sock, true);
    connected = 1;
    return TRUE;
}

} // namespace

int32_t xBlockedConnectHandler(const char* host, uint16_t port, const char* proxyHost, uint16_t proxyPort,
                               uint32_t& sock, int32_t& connected, int32_t, SCryptData* cd)
{
    return ConnectHandler(true, host, port, proxyHost, proxyPort, sock, connected, cd);
}

int32_t xNonBlockedConnectHandler(const char* host, uint16_t port, const char* proxyHost, uint16_t proxyPort,
                                  uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    return ConnectHandler(false, host, port, proxyHost, proxyPort, sock, connected, cd);
}

// ---------------------------------------------------------------- transfer

namespace
{

// One TLS read or write. Returns the bytes moved (0 when the connection
// wants more), or -1 / -2 after tearing the connection down (-1 error,
// -2 orderly close).
int32_t TlsStep(bool write, uint32_t& sock, int32_t& connected, char* buf, uint32_t n, SCryptData* cd)
{
    int32_t len = n > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int32_t>(n);
    tvp::tls::ClearErrors();
    int32_t r = write ? tvp::tls::Write(cd->ssl, buf, len) : tvp::tls::Read(cd->ssl, buf, len);
    switch (tvp::tls::GetError(cd->ssl, r)) {
    case tvp::tls::TLS_ERROR_NONE:
        return r > 0 ? r : 0;
    case tvp::tls::TLS_ERROR_WANT_READ:
    case tvp::tls::TLS_ERROR_WANT_WRITE:
    case tvp::tls::TLS_ERROR_WANT_X509_LOOKUP:
        return 0;
    case tvp::tls::TLS_ERROR_ZERO_RETURN:
        DropTls(sock, connected, cd);
        dprintf(write ? "Encrypted connection closed( SSL_write ).\n"
                      : "Encrypted connection closed( SSL_read ).\n");
        return -2;
    default: {
        const char* text = tvp::tls::ErrorString();
        DropTls(sock, connected, cd);
        dprintf(write ? "Encrypted connection error( SSL_write ). (%s)\n"
                      : "Encrypted connection error( SSL_read ). (%s)\n",
                text);
        return -1;
    }
    }
}

} // namespace

int32_t xSocketHandler(uint32_t& sock, int32_t& connected, char* recvBuf, uint32_t& recvDone,
                       uint32_t recvWanted, const char* sendBuf, uint32_t& sendDone, uint32_t sendWanted,
                       SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xSocketHandler");
    bool tls = cd->encrypted != 0;
    if (tls && cd->ssl == nullptr) {
        // Encryption was asked for but this socket has no TLS connection
        // (never made, or torn down): nothing may go out in the clear.
        xCloseSocket(sock);
        connected = 0;
        return xErrorTxt_Func("xSocketHandler: Encrypted connection is not established.", __FILE__, __LINE__);
    }
    if (tls && tvp::tls::IsServer(cd->ssl) && tvp::tls::InInit(cd->ssl)) {
        int32_t h = ServerHandshakeStep(sock, connected, cd);
        if (h < 0)
            return FALSE;
        if (h == 0)
            return TRUE; // nothing moves before the handshake is done
    }

    if (sendBuf != nullptr && sendDone < sendWanted) {
        uint32_t n = sendWanted - sendDone;
        int32_t r;
        if (tls) {
            r = TlsStep(true, sock, connected, const_cast<char*>(sendBuf) + sendDone, n, cd);
            if (r == -1)
                return FALSE;
            if (r == -2)
                return TRUE;
        } else {
            r = tvp::Send(sock, sendBuf + sendDone, n);
            if (r < 0) {
                int32_t code = tvp::LastError();
                if (!WouldBlock(code)) {
                    xCloseSocket(sock);
                    connected = 0;
                    return ReportWsa(code);
                }
                r = 0;
            }
        }
        sendDone += static_cast<uint32_t>(r);
    }

    if (recvBuf != nullptr && recvDone < recvWanted) {
        uint32_t n = recvWanted - recvDone;
        int32_t r;
        if (tls) {
            r = TlsStep(false, sock, connected, recvBuf + recvDone, n, cd);
            if (r == -1)
                return FALSE;
            if (r == -2)
                return TRUE;
        } else {
            r = tvp::Recv(sock, recvBuf + recvDone, n);
            if (r == 0) {
                // The peer closed the connection.
                xCloseSocket(sock);
                connected = 0;
                return TRUE;
            }
            if (r < 0) {
                int32_t code = tvp::LastError();
                if (!WouldBlock(code)) {
                    xCloseSocket(sock);
                    connected = 0;
                    return ReportWsa(code);
                }
                r = 0;
            }
        }
        recvDone += static_cast<uint32_t>(r);
    }
    return TRUE;
}

int32_t xBlockedHandler(uint32_t& sock, int32_t& connected, char* recvBuf, uint32_t& recvDone,
                        uint32_t recvWanted, const char* sendBuf, uint32_t& sendDone, uint32_t sendWanted,
                        SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xBlockedHandler");
    if (!SetSocketBlockingMode(sock, connected, 0, cd))
        return FALSE;
    return xSocketHandler(sock, connected, recvBuf, recvDone, recvWanted, sendBuf, sendDone, sendWanted, cd);
}

int32_t xNonBlockedHandler(uint32_t& sock, int32_t& connected, char* recvBuf, uint32_t& recvDone,
                           uint32_t recvWanted, const char* sendBuf, uint32_t& sendDone, uint32_t sendWanted,
                           SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xNonBlockedHandler");
    if (!SetSocketBlockingMode(sock, connected, 1, cd))
        return FALSE;
    return xSocketHandler(sock, connected, recvBuf, recvDone, recvWanted, sendBuf, sendDone, sendWanted, cd);
}

int32_t xDisconnectSocket(uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xDisconnectSocket");
    connected = 0;
    if (sock == INVALID_SOCKET)
        return TRUE;
    if (!tvp::Close(sock)) {
        sock = INVALID_SOCKET;
        return ReportWsa(tvp::LastError());
    }
    sock = INVALID_SOCKET;
    return TRUE;
}

void xCloseSocket(uint32_t& sock)
{
    if (sock != INVALID_SOCKET)
        tvp::Close(sock);
    sock = INVALID_SOCKET;
}

// ---------------------------------------------------------------- listening

int32_t xStartListenSocket(uint16_t port, uint32_t& sock, sockaddr_in* addr, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xStartListenSocket");
    xCloseSocket(sock);
    sockaddr_in local{};
    if (addr == nullptr)
        addr = &local;
    std::memset(addr, 0, sizeof *addr);
    sock = tvp::Socket();
    if (sock == INVALID_SOCKET)
        return ReportWsa(tvp::LastError());
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_ANY);
    addr->sin_port = htons(port);
    // The accept queue is as long as the system allows: with a short one a
    // burst of clients overflows it while the program is busy between
    // frames, their connects back off for seconds, and a client whose
    // handshake finished while the queue was full believes it is connected
    // until the server resets it.
    if (!tvp::Bind(sock, *addr) || !tvp::GetSockName(sock, *addr) ||
        !tvp::Listen(sock, tvp::kListenBacklogMax) || !tvp::SetNonBlocking(sock, true)) {
        int32_t code = tvp::LastError();
        xCloseSocket(sock);
        return ReportWsa(code);
    }
    return TRUE;
}

int32_t xStopListenSocket(uint32_t& sock, int32_t& running, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xStopListenSocket");
    if (sock == INVALID_SOCKET)
        return TRUE;
    tvp::SetNonBlocking(sock, false);
    bool closed = tvp::Close(sock);
    // The descriptor is gone either way.
    sock = INVALID_SOCKET;
    running = 0;
    if (!closed)
        return ReportWsa(tvp::LastError());
    return TRUE;
}

int32_t xBlockedStartListenHandler(uint32_t&, uint32_t&, int32_t& running, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xBlockedStartListenHandler");
    running = 1;
    return TRUE;
}

int32_t xNonBlockedStartListenHandler(uint32_t&, uint32_t&, int32_t& running, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xNonBlockedStartListenHandler");
    running = 1;
    return TRUE;
}

namespace
{

// The error and exception outcomes of a listening socket's wait.
int32_t ListenWaitFailed(int32_t r, const tvp::Readiness& ready, const char* failureText,
                         uint32_t& listenSock, int32_t& running)
{
    int32_t code = tvp::LastError();
    xCloseSocket(listenSock);
    running = 0;
    if (r < 0)
        return ReportWsa(code);
    if (ready.pendingError == 0)
        return xErrorTxt_Func(failureText, __FILE__, __LINE__);
    return ReportWsa(ready.pendingError);
}

} // namespace

int32_t xBlockedListenHandler(uint32_t& listenSock, uint32_t& newSock, sockaddr_in* addr, int32_t& running,
                              int32_t& accepted, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xBlockedListenHandler");
    if (!SetSocketBlockingMode(listenSock, running, 0, cd))
        return FALSE;
    tvp::Readiness ready;
    int32_t r = tvp::WaitSocket(listenSock, true, false, -1, ready);
    if (r < 0 || ready.failed)
        return ListenWaitFailed(r, ready, "xBlockedListenHandler:Listening socket failure", listenSock,
                                running);
    running = 1;
    if (xAcceptIncomingConnection(listenSock, newSock, addr, cd)) {
        accepted = 1;
        return TRUE;
    }
    xCloseSocket(newSock);
    accepted = 0;
    running = 0;
    return FALSE;
}

int32_t xNonBlockedListenHandler(uint32_t& listenSock, uint32_t& newSock, sockaddr_in* addr, int32_t& running,
                                 int32_t& accepted, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xNonBlockedListenHandler");
    if (!SetSocketBlockingMode(listenSock, running, 1, cd)) {
        accepted = 0;
        running = 0;
        return FALSE;
    }
    newSock = INVALID_SOCKET;
    tvp::Readiness ready;
    int32_t r = tvp::WaitSocket(listenSock, true, false, 0, ready);
    if (r < 0 || ready.failed)
        return ListenWaitFailed(r, ready, "xNonBlockedListenHandler:Listening socket failure", listenSock,
                                running);
    if (!ready.readable)
        return TRUE;
    if (!tvp::SetNonBlocking(listenSock, false))
        return TRUE;
    running = 1;
    accepted = 1;
    if (!xAcceptIncomingConnection(listenSock, newSock, addr, cd)) {
        accepted = 0;
        xCloseSocket(newSock);
        tvp::SetNonBlocking(listenSock, true);
        return FALSE;
    }
    if (!tvp::SetNonBlocking(listenSock, true))
        dprintf("Error: Unable to set listensocket to non-blocking after accept.\n");
    return TRUE;
}

int32_t xAcceptIncomingConnection(uint32_t listenSock, uint32_t& newSock, sockaddr_in* addr, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xAcceptIncomingConnection");
    newSock = INVALID_SOCKET;
    uint32_t s = tvp::Accept(listenSock, addr);
    if (s == INVALID_SOCKET) {
        int32_t code = tvp::LastError();
        if (WouldBlock(code))
            return TRUE;
        return ReportWsa(code);
    }
    newSock = s;
    if (cd->encrypted && !StartServerHandshake("xAcceptIncomingConnection", newSock, cd))
        return FALSE;
    return TRUE;
}

int32_t xMakeGivenServerSocketEncrypted(uint32_t sock, const char* keyFile, const char* certFile,
                                        SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xMakeGivenServerSocketEncrypted");
    if (!xSetServerEncryption(cd, keyFile, certFile))
        return xErrorTxt_Func("xMakeGivenServerSocketEncrypted: xSetServerEncryption failed.", __FILE__,
                              __LINE__);
    if (!StartServerHandshake("xMakeGivenServerSocketEncrypted", sock, cd))
        return FALSE;
    return TRUE;
}

// ---------------------------------------------------------------- state and names

int32_t xCheckConnectionUp(uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("xCheckConnectionUp");
    int32_t pending = 0;
    if (!tvp::GetPendingError(sock, pending)) {
        int32_t code = tvp::LastError();
        if (WouldBlock(code))
            return TRUE;
        xCloseSocket(sock);
        connected = 0;
        return ReportWsa(code);
    }
    if (pending == 0 || pending == 10000)
        return TRUE;
    xCloseSocket(sock);
    connected = 0;
    ReportWsa(pending);
    // The caller learns of the loss from connected.
    return TRUE;
}

uint32_t xGetLocalIp()
{
    char name[100];
    uint32_t address = 0;
    if (!tvp::HostName(name, sizeof name) || !tvp::ResolveName(name, address))
        return 0;
    return address;
}

uint32_t xSocketGetAddr(const char* name, SCryptData* cd)
{
    if (CdInvalid(cd))
        return static_cast<uint32_t>(ReportCd("xSocketGetAddr"));
    if (name == nullptr) {
        dprintf("DNS lookup: No hostname supplied.\n");
        return 0;
    }
    uint32_t address = tvp::InetAddr(name);
    if (address == INADDR_NONE && std::strcmp(name, "255.255.255.255") != 0) {
        if (!tvp::ResolveName(name, address)) {
            dprintf("DNS lookup failed!\n");
            return 0;
        }
        const auto* b = reinterpret_cast<const uint8_t*>(&address);
        dprintf("DNS lookup: name: %s IP: %lu.%lu.%lu.%lu.\n", name, static_cast<unsigned long>(b[0]),
                static_cast<unsigned long>(b[1]), static_cast<unsigned long>(b[2]),
                static_cast<unsigned long>(b[3]));
    }
    return address;
}

int32_t MakeSocketBlocking(uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    return SetSocketBlockingMode(sock, connected, 0, cd);
}

int32_t MakeSocketNonBlocking(uint32_t& sock, int32_t& connected, SCryptData* cd)
{
    return SetSocketBlockingMode(sock, connected, 1, cd);
}

int32_t SetSocketBlockingMode(uint32_t& sock, int32_t& connected, int32_t nonBlocking, SCryptData* cd)
{
    if (CdInvalid(cd))
        return ReportCd("SetSocketBlockingMode");
    if (sock == INVALID_SOCKET)
        return TRUE;
    if (!tvp::SetNonBlocking(sock, nonBlocking != 0)) {
        int32_t code = tvp::LastError();
        xCloseSocket(sock);
        connected = 0;
        return ReportWsa(code);
    }
    return TRUE;
}

// ---------------------------------------------------------------- the socket wait

void xWaitTimeOrSockets(uint32_t ms, CLList* sockets)
{
    std::vector<uint32_t> values;
    if (sockets != nullptr)
        for (SLListNode* n = sockets->first; n != nullptr; n = n->next)
            if (n->data != nullptr)
                values.push_back(*static_cast<const uint32_t*>(n->data));
    // Only sleeps until traffic or time-out; what woke it is not examined.
    tvp::WaitAnyReadable(values.data(), static_cast<uint32_t>(values.size()), ms);
}

namespace
{

bool InList(const CLList* list, const void* object)
{
    if (list == nullptr)
        return false;
    // Walks the nodes directly: the lists' own cursors stay where they are.
    for (const SLListNode* n = list->first; n != nullptr; n = n->next)
        if (n->data == object)
            return true;
    return false;
}

// Sockets of the objects of one registration list; registered is the list
// an object must also be in (null: no such condition).
void Collect(std::vector<uint32_t>& out, const CLList* list, const CLList* registered, bool checkRegistered,
             int32_t kind)
{
    XWaitSocketReader reader = g_waitReaders[kind];
    if (list == nullptr || reader == nullptr)
        return;
    // A long registration list is looked up, not walked once per entry.
    std::unordered_set<const void*> listed;
    const bool lookUp = checkRegistered && registered != nullptr && registered->count > 16;
    if (lookUp)
        for (const SLListNode* n = registered->first; n != nullptr; n = n->next)
            listed.insert(n->data);
    for (const SLListNode* n = list->first; n != nullptr; n = n->next) {
        if (checkRegistered && (lookUp ? listed.count(n->data) == 0 : !InList(registered, n->data)))
            continue;
        uint32_t socks[2] = {INVALID_SOCKET, INVALID_SOCKET};
        int32_t k = reader(n->data, socks);
        for (int32_t i = 0; i < k && i < 2; ++i)
            if (socks[i] != INVALID_SOCKET)
                out.push_back(socks[i]);
    }
}

} // namespace

void xWaitTimeOrSockets(uint32_t ms)
{
    if (glb == nullptr)
        return;
    std::vector<uint32_t> values;
    Collect(values, glb->localClient_socket_RegList, glb->localClients, true, XWAIT_LOCAL_CLIENT);
    Collect(values, glb->remoteClient_socket_RegList, glb->remoteClients, true, XWAIT_REMOTE_CLIENT);
    Collect(values, glb->localServer_socket_RegList, glb->localServers, true, XWAIT_LOCAL_SERVER);
    Collect(values, glb->remoteServer_socket_RegList, glb->remoteServers, true, XWAIT_REMOTE_SERVER);
    Collect(values, glb->proxyConnRegList, nullptr, false, XWAIT_PROXY_CONNECTION);
    Collect(values, glb->proxyServRegList, nullptr, false, XWAIT_PROXY_SERVER);
    Collect(values, glb->remoteClients, nullptr, false, XWAIT_REDIS_BRIDGE);
    // Every socket is watched, whatever its descriptor value: a relay
    // proxy alone holds two per connection.
    tvp::WaitAnyReadable(values.data(), static_cast<uint32_t>(values.size()), ms);
}

void xSetWaitSocketReader(int32_t kind, XWaitSocketReader reader)
{
    if (kind >= 0 && kind < XWAIT_KINDS)
        g_waitReaders[kind] = reader;
}

// ---------------------------------------------------------------- registration lists

namespace
{

int32_t ListAdd(const char* func, const char* listName, CLList* SGlobals::*member, void* object)
{
    if (glb == nullptr)
        return xErrorf("%s:glb is NULL", func);
    CLList* list = glb->*member;
    if (list == nullptr)
        return xErrorf("%s:glb->%s is NULL", func, listName);
    return list->IfNotInsertLast(object) ? TRUE : FALSE;
}

int32_t ListRemove(const char* func, const char* listName, CLList* SGlobals::*member, void* object)
{
    if (glb == nullptr)
        return xErrorf("%s:glb is NULL", func);
    CLList* list = glb->*member;
    if (list == nullptr)
        return xErrorf("%s:glb->%s is NULL", func, listName);
    list->DeleteItem(object);
    return TRUE;
}

} // namespace

int32_t LocalClient_socket_List_Add(CCommLocalClient* obj)
{
    return ListAdd("LocalClient_socket_List_Add", "localClient_socket_RegList",
                   &SGlobals::localClient_socket_RegList, obj);
}

int32_t LocalClient_socket_List_Remove(CCommLocalClient* obj)
{
    return ListRemove("LocalClient_socket_List_Remove", "localClient_socket_RegList",
                      &SGlobals::localClient_socket_RegList, obj);
}

int32_t RemoteClient_socket_List_Add(CCommRemoteClient* obj)
{
    return ListAdd("RemoteClient_socket_List_Add", "remoteClient_socket_RegList",
                   &SGlobals::remoteClient_socket_RegList, obj);
}

int32_t RemoteClient_socket_List_Remove(CCommRemoteClient* obj)
{
    return ListRemove("RemoteClient_socket_List_Remove", "remoteClient_socket_RegList",
                      &SGlobals::remoteClient_socket_RegList, obj);
}

int32_t LocalServer_socket_List_Add(CCommLocalServer* obj)
{
    return ListAdd("LocalServer_socket_List_Add", "localServer_socket_RegList",
                   &SGlobals::localServer_socket_RegList, obj);
}

int32_t LocalServer_socket_List_Remove(CCommLocalServer* obj)
{
    return ListRemove("LocalServer_socket_List_Remove", "localServer_socket_RegList",
                      &SGlobals::localServer_socket_RegList, obj);
}

int32_t RemoteServer_socket_List_Add(CCommRemoteServer* obj)
{
    return ListAdd("RemoteServer_socket_List_Add", "remoteServer_socket_RegList",
                   &SGlobals::remoteServer_socket_RegList, obj);
}

int32_t RemoteServer_socket_List_Remove(CCommRemoteServer* obj)
{
    return ListRemove("RemoteServer_socket_List_Remove", "remoteServer_socket_RegList",
                      &SGlobals::remoteServer_socket_RegList, obj);
}

namespace {
// The frame cleans the sockets up at exit and waits on them between frames
// through these.
void WaitOnSockets(uint32_t ms) { xWaitTimeOrSockets(ms); }

[[maybe_unused]] const bool kHooksFilled = [] {
    g_commHooks = {xCleanupSockets, WaitOnSockets};
    return true;
}();
} // namespace
