// The local classes on their fixed loopback port 6001. The port is shared
// with the rest of the machine: a busy port skips the test, and these tests
// (named CommLocal*) must not run beside each other.
#include "comm_util.h"

using tvtest::CommTest;
using tvtest::Header;
using tvtest::InGlbList;
using tvtest::LastError;
using tvtest::Pump;
using tvtest::TakeRaw;
using tvtest::Until;

namespace
{

int32_t KeepSocket(CCommLocalServerBase* s, void* user, int32_t)
{
    *static_cast<uint32_t*>(user) = static_cast<CCommLocalServer*>(s)->GetConnectedSocket();
    return TRUE;
}

class CommLocal : public CommTest
{
};

} // namespace

TEST_F(CommLocal, ClientAndServerOnPort6001)
{
    auto server = std::make_unique<CCommLocalServer>();
    auto client = std::make_unique<CCommLocalClient>();
    ASSERT_EQ(server->Startup(), TRUE);
    if (!server->StartListen())
        GTEST_SKIP() << "port 6001 is busy: " << LastError();
    ASSERT_EQ(server->NonBlockedStartListenHandler(), TRUE);
    EXPECT_TRUE(InGlbList(glb->localServers, server.get()));
    uint32_t peer = INVALID_SOCKET;
    server->SetCallbackFunction(KeepSocket, &peer, 0);

    client->SetPacketTypes(1, 0);
    EXPECT_EQ(client->Connect(), FALSE);
    EXPECT_EQ(LastError(),
              "CCommLocalClient::Connect: startupCode is not set, this object is not initialized");
    ASSERT_EQ(client->Startup(), TRUE);
    ASSERT_EQ(client->Connect(), TRUE);
    ASSERT_TRUE(Until([&] {
        server->NonBlockedHandler();
        return client->NonBlockedConnectHandler() && client->IsConnected() && peer != INVALID_SOCKET;
    }));
    EXPECT_EQ(client->IsRemote(), 0);
    EXPECT_TRUE(InGlbList(glb->localClients, client.get()));
    int fd = static_cast<int>(peer);

    // The raw peer talks to the local client through the frame's rounds.
    std::string packet = Header(1, 15) + "abc";
    ASSERT_TRUE(tvtest::RawSend(fd, packet));
    ASSERT_TRUE(Pump([&] { return client->NumRecvQuePackets() == 1; }));
    EXPECT_EQ(TakeRaw(*client), "abc");
    client->SendRawData("xy", 2);
    ASSERT_TRUE(Pump([&] { return client->IsFlushed() == TRUE; }));
    char buf[14] = {};
    ASSERT_EQ(tvp::Recv(static_cast<uint32_t>(fd), buf, 14), 14);
    EXPECT_EQ(std::string(buf, 14), Header(1, 14) + "xy");

    // The peer closes: the next round fails and the client leaves the list.
    tvtest::RawClose(fd);
    ASSERT_TRUE(Pump([&] { return client->IsConnected() == 0; }));
    EXPECT_FALSE(InGlbList(glb->localClients, client.get()));

    // And connects again.
    peer = INVALID_SOCKET;
    ASSERT_EQ(client->Connect(), TRUE);
    ASSERT_TRUE(Until([&] {
        server->NonBlockedHandler();
        return client->NonBlockedConnectHandler() && client->IsConnected() && peer != INVALID_SOCKET;
    }));
    tvtest::RawClose(static_cast<int>(peer));
    client.reset();
    server->StopListen();
    EXPECT_EQ(server->LocalServerRunning(), 0);
    server.reset();
    EXPECT_EQ(glb->localServers->GetNumNodes(), 0);
}
