// One proxy, one process, 1,000 relayed connections open at once, each to a
// forked echo server and each getting its own bytes back. The proxy then
// holds about 2,000 sockets, most of them numbered above 1024: the frame's
// socket wait must watch those too.
#include "proxy_util.h"

#include <chrono>
#include <sys/resource.h>

using tvproxy::EchoServer;
using tvproxy::RawClient;
using tvproxy::Record;
using tvtest::LastError;

namespace
{

class ProxyScaleTest : public tvproxy::ProxyTest
{
};

TEST_F(ProxyScaleTest, ThousandConcurrentConnectionsEchoTheirOwnData)
{
    constexpr size_t kConnections = 1000;
    // This process holds about 3,000 descriptors at the peak.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 4096) {
        files.rlim_cur = files.rlim_max < 8192 ? files.rlim_max : 8192;
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur < 4096)
            GTEST_SKIP() << "descriptor limit below 4096";
    }
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();

    std::vector<std::unique_ptr<RawClient>> clients;
    std::vector<std::string> payloads;
    size_t complete = 0;
    std::vector<bool> done;
    // Clients connect a few at a time: the proxy takes one per round from a
    // short listen queue.
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            while (clients.size() < kConnections && clients.size() < proxy.GetTotalConnections() + 4) {
                size_t i = clients.size();
                std::string payload =
                    "connection " + std::to_string(i) + ":" + std::string(200 + i % 300, 'a' + i % 26);
                auto c = std::make_unique<RawClient>(port);
                c->out = Record("127.0.0.1", echo.port) + payload;
                clients.push_back(std::move(c));
                payloads.push_back(payload);
                done.push_back(false);
            }
            for (size_t i = 0; i < clients.size(); ++i) {
                if (done[i])
                    continue;
                clients[i]->Step();
                if (clients[i]->in.size() >= payloads[i].size() || clients[i]->eof) {
                    done[i] = true;
                    ++complete;
                }
            }
            return complete == kConnections;
        },
        30000, 1))
        << LastError() << " complete: " << complete;

    ASSERT_EQ(proxy.GetConnections()->GetNumNodes(), static_cast<int32_t>(kConnections));
    size_t right = 0;
    for (size_t i = 0; i < kConnections; ++i)
        right += clients[i]->in == payloads[i] ? 1 : 0;
    EXPECT_EQ(right, kConnections);

    // Traffic on the newest connection alone wakes the wait: its proxy
    // sockets are numbered well above 1024.
    auto* newest = static_cast<CProxyConnection*>(proxy.GetConnections()->last->data);
    ASSERT_GT(*newest->GetClientSocketPtr(), 1024u);
    ASSERT_GT(*newest->GetServerSocketPtr(), 1024u);
    RawClient& last = *clients.back();
    last.out += "x";
    last.Step();
    auto start = std::chrono::steady_clock::now();
    xWaitTimeOrSockets(5000);
    EXPECT_LT(tvtest::ElapsedMs(start), 2500u);

    for (auto& c : clients)
        c->Close();
    ASSERT_TRUE(Pump(
        proxy, [&] { return proxy.GetConnections()->first == nullptr; }, 2000, 100))
        << proxy.GetConnections()->GetNumNodes() << " left";
    EXPECT_EQ(proxy.GetTotalConnections(), kConnections);
}

} // namespace
