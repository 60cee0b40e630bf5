// Platform TLS: thin wrappers over OpenSSL for the socket layer. Contexts and
// connections are OpenSSL's own objects, held by the caller. Calls that may
// write to the socket never raise SIGPIPE. Private to the library.
#pragma once

#include <cstdint>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace tvp::tls
{

// SSL_get_error results the socket layer distinguishes.
enum : int32_t {
    TLS_ERROR_NONE = 0,
    TLS_ERROR_SSL = 1,
    TLS_ERROR_WANT_READ = 2,
    TLS_ERROR_WANT_WRITE = 3,
    TLS_ERROR_WANT_X509_LOOKUP = 4,
    TLS_ERROR_SYSCALL = 5,
    TLS_ERROR_ZERO_RETURN = 6,
};

// Fills buf with random bytes (false on failure) and seeds the generator.
bool RandomBytes(unsigned char* buf, int32_t n);
void Seed(const unsigned char* buf, int32_t n);
// Library and error-string initialisation.
void InitLibrary();

// The text of the oldest queued OpenSSL error (ERR_error_string).
const char* ErrorString();
void ClearErrors();

// Context with the library's default protocol versions and ciphers; null on failure.
SSL_CTX* NewContext(bool server);
void FreeContext(SSL_CTX* ctx);
bool UseCertificateFile(SSL_CTX* ctx, const char* file);
bool UsePrivateKeyFile(SSL_CTX* ctx, const char* file);
bool CheckPrivateKey(SSL_CTX* ctx);
// Peer verification against a CA file, and the host name the peer's
// certificate must carry (null: any name).
bool SetVerify(SSL_CTX* ctx, const char* caFile, const char* hostName);

SSL* New(SSL_CTX* ctx);
void Free(SSL* ssl);
bool SetFd(SSL* ssl, uint32_t sock);
void SetConnectState(SSL* ssl);
void SetAcceptState(SSL* ssl);
int32_t Connect(SSL* ssl);
int32_t Accept(SSL* ssl);
int32_t Read(SSL* ssl, void* buf, int32_t n);
int32_t Write(SSL* ssl, const void* buf, int32_t n);
int32_t GetError(SSL* ssl, int32_t result);
bool InInit(SSL* ssl);
bool IsServer(SSL* ssl);
// One step of the handshake (SSL_do_handshake): 1 done, otherwise see GetError.
int32_t Handshake(SSL* ssl);
// The time (ms) a handshake of this connection started, kept with the
// connection itself; false when none was noted.
void SetHandshakeStart(SSL* ssl, uint32_t ms);
bool HandshakeStart(SSL* ssl, uint32_t& ms);
const char* CipherName(SSL* ssl);

} // namespace tvp::tls
