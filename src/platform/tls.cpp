// OpenSSL behind the socket layer.
#include "platform/tls.h"
#include "platform/sigpipe.h"

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <ctime>

namespace tvp::tls
{

bool RandomBytes(unsigned char* buf, int32_t n)
{
    return RAND_bytes(buf, n) == 1;
}
void Seed(const unsigned char* buf, int32_t n)
{
    RAND_seed(buf, n);
}

void InitLibrary()
{
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
}

const char* ErrorString()
{
    return ERR_error_string(ERR_get_error(), nullptr);
}
void ClearErrors()
{
    ERR_clear_error();
}

SSL_CTX* NewContext(bool server)
{
    return SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
}
void FreeContext(SSL_CTX* ctx)
{
    SSL_CTX_free(ctx);
}

bool UseCertificateFile(SSL_CTX* ctx, const char* file)
{
    return SSL_CTX_use_certificate_file(ctx, file, SSL_FILETYPE_PEM) == 1;
}

bool UsePrivateKeyFile(SSL_CTX* ctx, const char* file)
{
    return SSL_CTX_use_PrivateKey_file(ctx, file, SSL_FILETYPE_PEM) == 1;
}

bool CheckPrivateKey(SSL_CTX* ctx)
{
    return SSL_CTX_check_private_key(ctx) == 1;
}

bool SetVerify(SSL_CTX* ctx, const char* caFile, const char* hostName)
{
    if (SSL_CTX_load_verify_locations(ctx, caFile, nullptr) != 1)
        return false;
    if (hostName != nullptr && hostName[0] != 0) {
        // Connections made from the context inherit its verification
        // parameters, the expected host name among them.
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (X509_VERIFY_PARAM_set1_host(param, hostName, 0) != 1)
            return false;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    return true;
}

SSL* New(SSL_CTX* ctx)
{
    return ctx != nullptr ? SSL_new(ctx) : nullptr;
}
void Free(SSL* ssl)
{
    SSL_free(ssl);
}
bool SetFd(SSL* ssl, uint32_t sock)
{
    return SSL_set_fd(ssl, static_cast<int>(sock)) == 1;
}
void SetConnectState(SSL* ssl)
{
    SSL_set_connect_state(ssl);
}
void SetAcceptState(SSL* ssl)
{
    SSL_set_accept_state(ssl);
}

int32_t Connect(SSL* ssl)
{
    SigPipeGuard guard;
    return SSL_connect(ssl);
}

int32_t Accept(SSL* ssl)
{
    SigPipeGuard guard;
    return SSL_accept(ssl);
}

int32_t Read(SSL* ssl, void* buf, int32_t n)
{
    SigPipeGuard guard;
    return SSL_read(ssl, buf, n);
}

int32_t Write(SSL* ssl, const void* buf, int32_t n)
{
    SigPipeGuard guard;
    return SSL_write(ssl, buf, n);
}

int32_t GetError(SSL* ssl, int32_t result)
{
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_NONE:
        return TLS_ERROR_NONE;
    case SSL_ERROR_WANT_READ:
        return TLS_ERROR_WANT_READ;
    case SSL_ERROR_WANT_WRITE:
        return TLS_ERROR_WANT_WRITE;
    case SSL_ERROR_WANT_X509_LOOKUP:
        return TLS_ERROR_WANT_X509_LOOKUP;
    case SSL_ERROR_WANT_CONNECT:
    case SSL_ERROR_WANT_ACCEPT:
    case SSL_ERROR_WANT_ASYNC:
    case SSL_ERROR_WANT_ASYNC_JOB:
    case SSL_ERROR_WANT_CLIENT_HELLO_CB:
        return TLS_ERROR_WANT_READ;
    case SSL_ERROR_SYSCALL:
        return TLS_ERROR_SYSCALL;
    case SSL_ERROR_ZERO_RETURN:
        return TLS_ERROR_ZERO_RETURN;
    default:
        return TLS_ERROR_SSL;
    }
}

bool InInit(SSL* ssl)
{
    return SSL_in_init(ssl) != 0;
}

bool IsServer(SSL* ssl)
{
    return SSL_is_server(ssl) == 1;
}

int32_t Handshake(SSL* ssl)
{
    SigPipeGuard guard;
    return SSL_do_handshake(ssl);
}

// The start time rides in the connection's application data slot; zero
// there means none was noted, so a start at tick 0 is kept as tick 1.
void SetHandshakeStart(SSL* ssl, uint32_t ms)
{
    uintptr_t value = ms != 0 ? ms : 1u;
    SSL_set_app_data(ssl, reinterpret_cast<void*>(value));
}

bool HandshakeStart(SSL* ssl, uint32_t& ms)
{
    auto value = reinterpret_cast<uintptr_t>(SSL_get_app_data(ssl));
    if (value == 0)
        return false;
    ms = static_cast<uint32_t>(value);
    return true;
}

const char* CipherName(SSL* ssl)
{
    const char* name = SSL_CIPHER_get_name(SSL_get_current_cipher(ssl));
    return name != nullptr ? name : "(NONE)";
}

} // namespace tvp::tls
