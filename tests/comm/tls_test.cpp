// The socket layer under TLS, against OpenSSL's own s_server and s_client
// (started by the test on loopback with a certificate made at run time) and
// against itself, plus the opt-in server verification of clients.
#include "comm_net.h"
#include "../support/process_util.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using tvtest::LastError;
using tvtest::Until;

namespace
{

uint16_t FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class TlsTest : public tvtest::SocketTest
{
  protected:
    static void SetUpTestSuite()
    {
        // One self-signed certificate for the test program (its scratch folder).
        tvtest::MakeTestCertificate();
    }

    void SetUp() override
    {
        tvtest::SocketTest::SetUp();
        ASSERT_EQ(access("cert.pem", R_OK), 0) << "openssl req failed";
    }

    // Connects clientSock with TLS to 127.0.0.1:port (handshake included).
    int32_t ConnectTls(uint16_t port)
    {
        if (!xSetClientEncryption(&cd) ||
            !xConnectSocket("127.0.0.1", port, nullptr, 0, clientSock, nullptr, &cd))
            return FALSE;
        int32_t r = TRUE;
        Until([&] {
            r = xNonBlockedConnectHandler("127.0.0.1", port, nullptr, 0, clientSock, clientUp, &cd);
            return r == FALSE || clientUp == 1;
        });
        return r == TRUE && clientUp == 1 ? TRUE : FALSE;
    }

    // Sends text whole and receives until the buffer holds want bytes.
    static bool Exchange(uint32_t& sock, int32_t& up, SCryptData* c, const std::string& text,
                         std::string& got, size_t want)
    {
        uint32_t sent = 0, recvd = 0;
        std::vector<char> buf(want);
        bool ok = Until([&] {
            if (!xNonBlockedHandler(sock, up, buf.data(), recvd, static_cast<uint32_t>(want), text.data(),
                                    sent, static_cast<uint32_t>(text.size()), c))
                return true;
            return up == 0 || (sent == text.size() && recvd == want);
        });
        got.assign(buf.data(), recvd);
        return ok && up == 1 && recvd == want;
    }
};

TEST_F(TlsTest, ClientTalksToOpenSslServer)
{
    uint16_t port = FreePort();
    tvtest::Program server({"openssl", "s_server", "-accept", std::to_string(port), "-cert", "cert.pem",
                            "-key", "key.pem", "-rev"});
    ASSERT_TRUE(server.ReadUntil("ACCEPT")) << server.output;
    ASSERT_EQ(ConnectTls(port), TRUE) << LastError();
    EXPECT_NE(cd.ssl, nullptr);

    std::string got;
    ASSERT_TRUE(Exchange(clientSock, clientUp, &cd, "hello tarvex\n", got, 12)) << LastError();
    EXPECT_EQ(got, "xevrat olleh");

    // The server goes away: the connection is torn down, the context with it,
    // and writing to the dead peer does not kill the process.
    server.Stop();
    std::string more(64 * 1024, 'z');
    uint32_t sent = 0, recvd = 0;
    char byte;
    ASSERT_TRUE(Until([&] {
        xNonBlockedHandler(clientSock, clientUp, &byte, recvd, 1, more.data(), sent, uint32_t(more.size()),
                           &cd);
        sent = 0;
        return clientUp == 0;
    }));
    EXPECT_EQ(clientSock, INVALID_SOCKET);
    EXPECT_EQ(cd.ssl, nullptr);
    EXPECT_EQ(cd.sslContext, nullptr);
}

TEST_F(TlsTest, ServerTalksToOpenSslClient)
{
    uint16_t port = Listen();
    ASSERT_NE(port, 0);
    ASSERT_EQ(xSetServerEncryption(&cd, "key.pem", "cert.pem"), TRUE) << LastError();
    tvtest::Program client(
        {"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-quiet"});
    int32_t running = 1, accepted = 0;
    ASSERT_TRUE(Until([&] {
        EXPECT_EQ(xNonBlockedListenHandler(listenSock, serverSock, nullptr, running, accepted, &cd), TRUE)
            << LastError();
        return serverSock != INVALID_SOCKET;
    }));
    serverUp = 1;
    ASSERT_EQ(MakeSocketNonBlocking(serverSock, serverUp, &cd), TRUE);

    ASSERT_TRUE(client.Write("ping from s_client\n"));
    std::string got;
    ASSERT_TRUE(Exchange(serverSock, serverUp, &cd, "pong from tarvex\n", got, 19)) << LastError();
    EXPECT_EQ(got, "ping from s_client\n");
    ASSERT_TRUE(client.ReadUntil("pong from tarvex\n")) << client.output;
}

TEST_F(TlsTest, ServerRefusesMissingOrBadKeys)
{
    EXPECT_EQ(xSetServerEncryption(&cd, nullptr, "cert.pem"), FALSE);
    EXPECT_EQ(LastError(), "xSetEncryption: This is a server but there is no private key passed to it.");
    EXPECT_EQ(cd.encrypted, 1); // marked before the checks
    EXPECT_EQ(xSetEncryption(&cd, "key.pem", nullptr, 0), FALSE);
    EXPECT_EQ(LastError(),
              "xSetEncryption: This is a client but there is a private key passed to it anyway.");
    EXPECT_EQ(xSetServerEncryption(&cd, "key.pem", "missing.pem"), FALSE);
    EXPECT_EQ(
        LastError().rfind("xSetEncryption: Unable to set certificate to use, SSL_CTX_use_certificate_file "
                          "failed. (",
                          0),
        0u)
        << LastError();
}

TEST_F(TlsTest, OwnClientAndServer)
{
    uint16_t port = Listen();
    ASSERT_NE(port, 0);
    // The client runs in a child process: both handshakes block.
    pid_t pid = fork();
    if (pid == 0) {
        alarm(30);
        SCryptData c;
        int32_t cc = 0, up = 0;
        uint32_t s = INVALID_SOCKET;
        int rc = 1;
        if (xStartupSockets(cc, 1, &c) && xSetClientEncryption(&c) &&
            xConnectSocket("127.0.0.1", port, nullptr, 0, s, nullptr, &c) &&
            xBlockedConnectHandler("127.0.0.1", port, nullptr, 0, s, up, 0, &c) && up == 1) {
            std::string got;
            rc = Exchange(s, up, &c, "from child", got, 11) && got == "from parent" ? 0 : 2;
        }
        _exit(rc);
    }
    ASSERT_GT(pid, 0);
    int32_t running = 1, accepted = 0;
    bool ok = Until([&] {
        xNonBlockedListenHandler(listenSock, serverSock, nullptr, running, accepted, &cd);
        return serverSock != INVALID_SOCKET;
    });
    if (ok) {
        // Plain accept, then the accepted socket is put under TLS.
        serverUp = 1;
        EXPECT_EQ(xMakeGivenServerSocketEncrypted(serverSock, "key.pem", "cert.pem", &cd), TRUE)
            << LastError();
        std::string got;
        EXPECT_TRUE(Exchange(serverSock, serverUp, &cd, "from parent", got, 10)) << LastError();
        EXPECT_EQ(got, "from child");
    }
    int status = 0;
    for (int i = 0; i < 3000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(10000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ok);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(TlsTest, OptInServerVerification)
{
    uint16_t port = FreePort();
    tvtest::Program server({"openssl", "s_server", "-accept", std::to_string(port), "-cert", "cert.pem",
                            "-key", "key.pem", "-rev"});
    ASSERT_TRUE(server.ReadUntil("ACCEPT")) << server.output;

    // The right CA and host name: the handshake succeeds.
    ASSERT_EQ(xSetClientVerification(&cd, "cert.pem", "localhost"), TRUE);
    ASSERT_EQ(ConnectTls(port), TRUE) << LastError();
    std::string got;
    ASSERT_TRUE(Exchange(clientSock, clientUp, &cd, "abc\n", got, 3));
    EXPECT_EQ(got, "cba");
    xDisconnectSocket(clientSock, clientUp, &cd);

    // Another host name: refused during the handshake.
    ASSERT_EQ(xSetClientVerification(&cd, "cert.pem", "otherhost"), TRUE);
    EXPECT_EQ(ConnectTls(port), FALSE);
    EXPECT_NE(LastError().find("xNonBlockedConnectHandler: SSL_connect failed. ("), std::string::npos);
    EXPECT_NE(LastError().find("certificate verify failed"), std::string::npos) << LastError();
    EXPECT_EQ(clientUp, 0);
    xDisconnectSocket(clientSock, clientUp, &cd);

    // Off again: the self-signed server is accepted as before.
    ASSERT_EQ(xSetClientVerification(&cd, nullptr, nullptr), TRUE);
    ASSERT_EQ(ConnectTls(port), TRUE) << LastError();
}

} // namespace
