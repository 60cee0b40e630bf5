// Two processes: the test forks an echo peer that connects to this process's
// remote server, with and without TLS, and exchanges raw packets both ways;
// a peer that vanishes is noticed and the server side connects again.
#include "comm_util.h"
#include "../support/process_util.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <vector>

using tvtest::CommTest;
using tvtest::LastError;
using tvtest::Listener;
using tvtest::Pump;
using tvtest::TakeRaw;
using tvtest::Until;

namespace
{

// The forked peer: connects, echoes every raw packet until "QUIT" (or, in
// vanish mode, sends one packet and dies without a word). Never returns.
[[noreturn]] void Peer(uint16_t port, bool tls, bool vanish)
{
    alarm(60); // a peer never outlives a stuck test
    auto* c = new CCommRemoteClient;
    c->SetPacketTypes(1, 0);
    c->SetEncryption(tls ? 1 : 0);
    if (!c->Startup() || !c->SetRemoteLocation("127.0.0.1", port) || !c->Connect())
        _exit(2);
    for (int i = 0; i < 5000 && !c->IsConnected(); ++i) {
        if (!c->NonBlockedConnectHandler())
            _exit(3);
        usleep(1000);
    }
    if (!c->IsConnected())
        _exit(4);
    if (vanish) {
        c->SendRawData("bye", 3);
        while (!c->IsFlushed())
            c->NonBlockedHandler();
        kill(getpid(), SIGKILL);
    }
    for (;;) {
        if (!c->IsConnected())
            _exit(5);
        xCommClientRounds(1);
        char* data = nullptr;
        uint32_t size = 0;
        while (c->RecvRawData(data, size)) {
            c->AckInData();
            if (size == 4 && std::memcmp(data, "QUIT", 4) == 0) {
                while (c->IsConnected() && !c->IsFlushed())
                    xCommClientRounds(1);
                _exit(0);
            }
            c->SendRawData(data, size);
        }
        xWaitTimeOrSockets(5);
    }
}

int WaitChild(pid_t pid)
{
    int status = -1;
    for (int i = 0; i < 3000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(10000);
    if (!WIFEXITED(status) && !WIFSIGNALED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return status;
}

class CommProcess : public CommTest, public ::testing::WithParamInterface<bool>
{
};

} // namespace

TEST_P(CommProcess, EchoPeerInAnotherProcess)
{
    const bool tls = GetParam();
    if (tls) {
        ASSERT_TRUE(tvtest::MakeTestCertificate()) << "openssl req failed";
    }
    auto l = std::make_unique<Listener>();
    ASSERT_TRUE(l->Start(tls)) << LastError();
    l->accepted.SetPacketTypes(1, 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        Peer(l->Port(), tls, false);
    ASSERT_TRUE(l->Accept()) << LastError();

    std::string big(3u << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + (i >> 13));
    std::vector<std::string> sent = {"tiny", big};
    for (int i = 0; i < 2000; ++i)
        sent.push_back("m" + std::to_string(i) + std::string(static_cast<size_t>(i % 50), 'z'));
    for (auto& s : sent)
        ASSERT_EQ(l->accepted.SendRawData(s.data(), static_cast<uint32_t>(s.size())), TRUE);
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(5);
    size_t got = 0;
    bool ok = Until(
        [&] {
            xHandler();
            char* data = nullptr;
            uint32_t size = 0;
            while (l->accepted.RecvRawData(data, size)) {
                EXPECT_TRUE(got < sent.size() && std::string(data, size) == sent[got]) << "packet " << got;
                ++got;
                xFreeMem(data, __FILE__, __LINE__);
            }
            return got == sent.size() || !l->accepted.IsConnected();
        },
        20000);
    SetMinimumFrameTime(0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, sent.size()) << LastError();
    l->accepted.SendRawData("QUIT", 4);
    Pump([&] { return !l->accepted.IsConnected(); });
    int status = WaitChild(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(l->accepted.IsConnected(), 0);
    EXPECT_FALSE(tvtest::InGlbList(glb->remoteClients, &l->accepted));
}

INSTANTIATE_TEST_SUITE_P(Tls, CommProcess, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_F(CommTest, VanishedPeerIsNoticedAndTheServerSideConnectsAgain)
{
    auto l = std::make_unique<Listener>();
    ASSERT_TRUE(l->Start()) << LastError();
    for (int round = 0; round < 2; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            Peer(l->Port(), false, round == 0);
        ASSERT_TRUE(l->Accept()) << LastError();
        if (round == 0) {
            ASSERT_TRUE(Pump([&] { return !l->accepted.IsConnected(); })) << "death not noticed";
            EXPECT_EQ(TakeRaw(l->accepted), "bye"); // what arrived before is kept
            l->accepted.AckInData();
            EXPECT_FALSE(tvtest::InGlbList(glb->remoteClients, &l->accepted));
            WaitChild(pid);
        } else {
            l->accepted.SendRawData("again", 5);
            ASSERT_TRUE(Pump([&] { return l->accepted.NumRecvQuePackets() == 1; }));
            EXPECT_EQ(TakeRaw(l->accepted), "again");
            l->accepted.AckOutData();
            l->accepted.SendRawData("QUIT", 4);
            Pump([&] { return !l->accepted.IsConnected(); });
            int status = WaitChild(pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
    }
}
