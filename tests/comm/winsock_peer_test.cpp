// The socket layer against peers on the other side of the system boundary:
// run as a Windows program under Wine, it talks over 127.0.0.1 to a Linux
// echo relay (socat) and a Linux TLS server (openssl s_server -rev) that
// scripts/windows.sh starts and names in TARVEX_PEER_ECHO_PORT and
// TARVEX_PEER_TLS_PORT. Without them the tests skip.
#include "comm_net.h"

#include <cstdlib>
#include <string>
#include <vector>

using tvtest::LastError;
using tvtest::Until;

namespace
{

uint16_t PeerPort(const char* name)
{
    const char* v = std::getenv(name);
    const long port = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
    return port > 0 && port < 65536 ? static_cast<uint16_t>(port) : 0;
}

class PeerTest : public tvtest::SocketTest
{
  protected:
    // Connects clientSock to 127.0.0.1:port, with TLS when asked.
    bool ConnectTo(uint16_t port, bool tls)
    {
        if ((tls && !xSetClientEncryption(&cd)) ||
            !xConnectSocket("127.0.0.1", port, nullptr, 0, clientSock, nullptr, &cd))
            return false;
        int32_t r = TRUE;
        Until([&] {
            r = xNonBlockedConnectHandler("127.0.0.1", port, nullptr, 0, clientSock, clientUp, &cd);
            return r == FALSE || clientUp == 1;
        });
        return r == TRUE && clientUp == 1;
    }

    // Sends text whole and receives until want bytes came back.
    bool Exchange(const std::string& text, std::string& got, size_t want)
    {
        uint32_t sent = 0, recvd = 0;
        std::vector<char> buf(want);
        const bool ok = Until([&] {
            if (!xNonBlockedHandler(clientSock, clientUp, buf.data(), recvd, static_cast<uint32_t>(want),
                                    text.data(), sent, static_cast<uint32_t>(text.size()), &cd))
                return true;
            return clientUp == 0 || (sent == text.size() && recvd == want);
        });
        got.assign(buf.data(), recvd);
        return ok && clientUp == 1 && recvd == want;
    }
};

TEST_F(PeerTest, PlainBytesMakeTheRoundTripThroughAnEchoRelay)
{
    const uint16_t port = PeerPort("TARVEX_PEER_ECHO_PORT");
    if (port == 0)
        GTEST_SKIP() << "no echo peer (scripts/windows.sh starts one)";
    ASSERT_TRUE(ConnectTo(port, false)) << LastError();
    // More than one segment, so partial sends and receives are exercised.
    std::string text(200000, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(i * 7 + 3);
    std::string got;
    ASSERT_TRUE(Exchange(text, got, text.size())) << LastError();
    EXPECT_EQ(got, text);
}

TEST_F(PeerTest, TlsClientTalksToOpenSslServer)
{
    const uint16_t port = PeerPort("TARVEX_PEER_TLS_PORT");
    if (port == 0)
        GTEST_SKIP() << "no TLS peer (scripts/windows.sh starts one)";
    ASSERT_TRUE(ConnectTo(port, true)) << LastError();
    EXPECT_NE(cd.ssl, nullptr);
    std::string got;
    ASSERT_TRUE(Exchange("hello tarvex\n", got, 12)) << LastError();
    EXPECT_EQ(got, "xevrat olleh");
}

TEST_F(PeerTest, ARefusedConnectionReportsTheWinsockCode)
{
    // A port that was free a moment ago: nobody listens there.
    const uint16_t port = Listen();
    ASSERT_NE(port, 0);
    xCloseSocket(listenSock);
    EXPECT_FALSE(ConnectTo(port, false));
    EXPECT_EQ(clientUp, 0);
    EXPECT_NE(LastError().find("WSAECONNREFUSED"), std::string::npos) << LastError();
}

} // namespace
