// Comm nodes across processes, as applications use them: the test process
// listens and forks client processes, each with globals of its own and its
// own xHandler loop. A SERVER node and CLIENT nodes exchange KCBL messages
// with sessions and snooping; a hub process routes node data between two
// client processes; peers that vanish, nodes that go away under a running
// connection and hostile packets; and the clock service between two
// processes.
#include "node_process.h"

#include <csignal>
#include <functional>
#include <set>
#include <sys/wait.h>
#include <vector>

using tvtest::CommTest;
using tvtest::LastError;
using tvtest::Until;

using tvtest::Child;
using tvtest::Dial;
using tvtest::Flush;
using tvtest::Frames;
using tvtest::Hub;
using tvtest::NodeProcessTest;
using tvtest::RecvItem;
using tvtest::SendItem;
using tvtest::WaitChild;

namespace
{

// A client process of the game: a CLIENT node that snoops every message
// before reading it and answers the server's messages.
int GameClient(uint16_t port, int32_t me)
{
    CCommNode node;
    node.SetId(1);
    node.SetName("game");
    node.SnoopSetSnooping(TRUE);
    if (!node.InitCommNode(CNODE_CLIENT))
        return 10;
    CCommRemoteClient* c = Dial(port);
    if (c == nullptr)
        return 11;
    bool hello = false, quit = false;
    int failure = 0;
    Frames([&] {
        while (failure == 0 && !quit) {
            if (node.SnoopIsDataAvailable()) {
                if (!node.SnoopRecvKCBLPacket())
                    failure = 12;
                node.SnoopFreeKCBL();
                continue;
            }
            std::string key;
            int32_t v = 0;
            if (!RecvItem(node, key, v))
                break;
            bool ok = true;
            if (key == "welcome" && !hello)
                ok = hello = SendItem(node, "hello", me);
            else if (key == "question")
                ok = SendItem(node, "answer", v * 10 + me);
            else if (key == "burst")
                for (int i = 0; i < 20 && ok; ++i)
                    ok = SendItem(node, "late", me);
            else if (key == "round2")
                ok = node.GetSessionIndex() == 2 && SendItem(node, "round2ack", me);
            else if (key == "quit")
                quit = true;
            if (!ok)
                failure = 13;
        }
        return failure != 0 || quit || !c->IsConnected();
    });
    if (failure != 0)
        return failure;
    if (!quit)
        return 14;
    Flush(c);
    return 0;
}


} // namespace

TEST_F(NodeProcessTest, ServerAndClientProcessesExchangeKcblWithSessions)
{
    auto hub = std::make_unique<Hub>();
    ASSERT_TRUE(hub->Start()) << LastError();
    std::vector<pid_t> pids;
    for (int32_t me : {1, 2}) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            Child([&] { return GameClient(hub->Port(), me); });
        pids.push_back(pid);
    }
    ASSERT_TRUE(Frames([&] { return hub->accepted.size() == 2; }, hub.get())) << LastError();

    auto* server = XNEW(CCommNode);
    server->SetId(1);
    server->SetName("game");
    server->SetUseSessionIndex(TRUE);
    ASSERT_EQ(server->InitCommNode(CNODE_SERVER), TRUE) << LastError();
    EXPECT_EQ(server->NumCommObjects(), 2);

    std::multiset<std::string> got;
    bool late = false;
    auto collect = [&](size_t n) {
        return Frames([&] {
            std::string key;
            int32_t v = 0;
            while (RecvItem(*server, key, v)) {
                late = late || key == "late";
                got.insert(key + " " + std::to_string(v));
            }
            return got.size() >= n;
        });
    };
    ASSERT_TRUE(SendItem(*server, "welcome", 0));
    ASSERT_TRUE(collect(2)) << LastError();
    EXPECT_EQ(got, (std::multiset<std::string>{"hello 1", "hello 2"}));
    got.clear();
    ASSERT_TRUE(SendItem(*server, "question", 7));
    ASSERT_TRUE(collect(2));
    EXPECT_EQ(got, (std::multiset<std::string>{"answer 71", "answer 72"}));
    got.clear();

    // A new session: the clients' answers to "burst" still carry session 1
    // and are dropped (the session trace counts them); with "round2" they
    // take session 2.
    ASSERT_TRUE(SendItem(*server, "burst", 0));
    server->NewSessionIndex();
    server->SetDebugSessionIndex(TRUE);
    tvtest::Trace().clear();
    xSetDprintfOutput(tvtest::CollectTrace);
    auto dropped = [] {
        size_t n = 0;
        const std::string& t = tvtest::Trace();
        for (size_t at = 0; (at = t.find("received and we dropped it", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    bool allDropped = Frames([&] {
        std::string key;
        int32_t v = 0;
        while (RecvItem(*server, key, v))
            got.insert(key + " " + std::to_string(v));
        return !got.empty() || dropped() >= 40;
    });
    xSetDprintfOutput(nullptr);
    EXPECT_TRUE(allDropped);
    EXPECT_EQ(dropped(), 40u);
    EXPECT_EQ(got.size(), 0u);
    tvtest::Trace().clear();
    server->SetDebugSessionIndex(FALSE);
    ASSERT_TRUE(SendItem(*server, "round2", 0));
    ASSERT_TRUE(collect(2));
    EXPECT_EQ(got, (std::multiset<std::string>{"round2ack 1", "round2ack 2"}));
    EXPECT_FALSE(late);

    ASSERT_TRUE(SendItem(*server, "quit", 0));
    Frames([&] {
        for (CCommRemoteClient* c : hub->accepted)
            if (c->IsConnected())
                return false;
        return true;
    });
    for (pid_t pid : pids)
        EXPECT_EQ(WaitChild(pid), 0);
    EXPECT_EQ(server->NumCommObjects(), 0); // both connections are gone
    EXPECT_EQ(server->NumQueuedPackets(), 0);
    XDELETE(server);
}

namespace
{

// The hub's two client processes: A pings, B answers, through the hub.
int RelayA(uint16_t port)
{
    CCommNode node;
    node.SetId(5);
    node.SetName("relay");
    node.SetPrivate(FALSE);
    if (!node.InitCommNode(CNODE_CLIENT))
        return 20;
    CCommRemoteClient* c = Dial(port);
    if (c == nullptr)
        return 21;
    // B's node is announced to us by the hub.
    if (!Frames([&] { return c->HasOtherSideNode("relay", 5, 5, CNODE_CLIENT) == TRUE; }))
        return 22;
    for (int32_t n = 1; n <= 20; ++n) {
        if (!SendItem(node, "ping", n))
            return 23;
        std::string key;
        int32_t v = 0;
        if (!Frames([&] { return RecvItem(node, key, v) || !c->IsConnected(); }) || key != "pong" || v != n)
            return 24;
    }
    if (!SendItem(node, "bye", 0))
        return 25;
    Flush(c);
    return 0;
}

int RelayB(uint16_t port)
{
    CCommNode node;
    node.SetId(5);
    node.SetName("relay");
    if (!node.InitCommNode(CNODE_SERVER))
        return 30;
    CCommRemoteClient* c = Dial(port);
    if (c == nullptr)
        return 31;
    bool bye = false;
    int failure = 0;
    Frames([&] {
        std::string key;
        int32_t v = 0;
        while (!bye && failure == 0 && RecvItem(node, key, v)) {
            if (key == "ping" && !SendItem(node, "pong", v))
                failure = 32;
            bye = key == "bye";
        }
        return bye || failure != 0 || !c->IsConnected();
    });
    if (failure != 0)
        return failure;
    return bye ? 0 : 33;
}

} // namespace

TEST_F(NodeProcessTest, HubRoutesNodeDataBetweenTwoClientProcesses)
{
    auto hub = std::make_unique<Hub>();
    ASSERT_TRUE(hub->Start()) << LastError();
    pid_t b = fork();
    ASSERT_GE(b, 0);
    if (b == 0)
        Child([&] { return RelayB(hub->Port()); });
    pid_t a = fork();
    ASSERT_GE(a, 0);
    if (a == 0)
        Child([&] { return RelayA(hub->Port()); });
    int statusA = -1, statusB = -1;
    // The hub has no node of its own: it only routes.
    Frames(
        [&] {
            if (statusA < 0 && waitpid(a, &statusA, WNOHANG) == 0)
                statusA = -1;
            if (statusB < 0 && waitpid(b, &statusB, WNOHANG) == 0)
                statusB = -1;
            return statusA >= 0 && statusB >= 0;
        },
        hub.get(), 6000);
    if (statusA < 0)
        statusA = WaitChild(a) << 8;
    if (statusB < 0)
        statusB = WaitChild(b) << 8;
    EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0) << statusA;
    EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0) << statusB;
    EXPECT_EQ(hub->accepted.size(), 2u);
}

TEST_F(NodeProcessTest, NodeSurvivesPeersThatVanishMidMessage)
{
    auto hub = std::make_unique<Hub>();
    ASSERT_TRUE(hub->Start()) << LastError();
    CCommNode server;
    server.SetId(1);
    server.SetName("game");
    ASSERT_EQ(server.InitCommNode(CNODE_SERVER), TRUE);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(30);
        int fd = tvtest::RawConnect(hub->Port());
        // The node's registration, then half of a 4 KB message.
        SXPacket* reg = BuildPacket(PACKET_TYPE_CNODEREG, 1, "game", CNODE_CLIENT, 0, nullptr, 0);
        std::string text(4096, 'k');
        SXPacket* data = BuildPacket(PACKET_TYPE_CNODE, 1, "game", CNODE_CLIENT, 0, text.data(), 4096);
        uint32_t regSize = 0, dataSize = 0;
        reg->GetPacketSize(regSize);
        data->GetPacketSize(dataSize);
        bool ok = write(fd, reg, regSize) == static_cast<ssize_t>(regSize) &&
                  write(fd, data, dataSize / 2) == static_cast<ssize_t>(dataSize / 2);
        usleep(200000);
        _exit(ok ? 0 : 1); // gone without the rest
    }
    ASSERT_TRUE(Frames([&] { return hub->accepted.size() == 1; }, hub.get()));
    CCommRemoteClient* c = hub->accepted[0];
    ASSERT_TRUE(Frames([&] { return !c->IsConnected(); }));
    EXPECT_EQ(WaitChild(pid), 0);
    EXPECT_EQ(server.NumQueuedPackets(), 0);
    EXPECT_EQ(server.NumCommObjects(), 0);
    EXPECT_EQ(c->IsCommNodeRegistered(&server), FALSE);
}

namespace
{

// Talks to the server's node until it goes away, then once more.
int Abandoned(uint16_t port)
{
    CCommNode node;
    node.SetId(3);
    node.SetName("lonely");
    if (!node.InitCommNode(CNODE_CLIENT))
        return 40;
    CCommRemoteClient* c = Dial(port);
    if (c == nullptr)
        return 41;
    if (!Frames([&] { return c->HasOtherSideNode("lonely", 6, 3, CNODE_CLIENT) == TRUE; }))
        return 42;
    if (!SendItem(node, "hi", 1))
        return 43;
    // The server's node is destroyed: its unregistration arrives.
    if (!Frames([&] { return c->HasOtherSideNode("lonely", 6, 3, CNODE_CLIENT) == FALSE; }))
        return 44;
    if (!SendItem(node, "anyone", 2))
        return 45;
    Flush(c);
    // Wait for the server to hang up.
    Frames([&] { return !c->IsConnected(); });
    return 0;
}

} // namespace

TEST_F(NodeProcessTest, NodeDestroyedWhileItsCommObjectRuns)
{
    auto hub = std::make_unique<Hub>();
    ASSERT_TRUE(hub->Start()) << LastError();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        Child([&] { return Abandoned(hub->Port()); });
    ASSERT_TRUE(Frames([&] { return hub->accepted.size() == 1; }, hub.get()));
    CCommRemoteClient* c = hub->accepted[0];
    auto* node = XNEW(CCommNode);
    node->SetId(3);
    node->SetName("lonely");
    ASSERT_EQ(node->InitCommNode(CNODE_SERVER), TRUE);
    std::string key;
    int32_t v = 0;
    ASSERT_TRUE(Frames([&] { return RecvItem(*node, key, v); }));
    EXPECT_EQ(key, "hi");
    EXPECT_EQ(c->IsCommNodeRegistered(node), TRUE);
    XDELETE(node);
    EXPECT_EQ(c->ThisSideNodes_First(), FALSE);
    // The client's next message finds no node here; the connection runs on.
    uint32_t before = c->NumRecvQuePackets();
    Frames([&] { return false; }, nullptr, 100);
    EXPECT_EQ(c->IsConnected(), TRUE) << LastError();
    EXPECT_EQ(static_cast<uint32_t>(c->NumRecvQuePackets()), before);
    c->Disconnect();
    EXPECT_EQ(WaitChild(pid), 0);
}

TEST_F(NodeProcessTest, HostileNodePacketsOverTheWire)
{
    auto hub = std::make_unique<Hub>();
    ASSERT_TRUE(hub->Start()) << LastError();
    CCommNode node;
    node.SetId(1);
    node.SetName("game");
    ASSERT_EQ(node.InitCommNode(CNODE_SERVER), TRUE);
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    auto nodePacket = [&](uint8_t type, uint32_t nodeType, uint32_t nameSize, const std::string& rest) {
        std::string body = be32(1) + be32(0) + be32(nodeType) + be32(nameSize) + rest;
        return tvtest::Header(type, static_cast<uint32_t>(12 + body.size())) + body;
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::string reg = nodePacket(PACKET_TYPE_CNODEREG, CNODE_CLIENT, 4, std::string("game", 5));
    const Case cases[] = {
        {"node data of an invalid node type",
         reg + nodePacket(PACKET_TYPE_CNODE, 4, 4, std::string("game\0hi", 7))},
        {"name without terminator", reg + nodePacket(PACKET_TYPE_CNODE, CNODE_CLIENT, 4, "gameXhi")},
        {"name length past the packet",
         reg + nodePacket(PACKET_TYPE_CNODE, CNODE_CLIENT, 400, std::string("game\0", 5))},
        {"registration with a name past the packet",
         nodePacket(PACKET_TYPE_CNODEREG, CNODE_CLIENT, 0xFFFFFFF0u, "g")},
        {"data for a node never announced",
         nodePacket(PACKET_TYPE_CNODE, CNODE_CLIENT, 4, std::string("game\0hi", 7))},
        {"a header of the wrong kind", std::string("PCKX") + std::string(8, '\0')},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        int fd = tvtest::RawConnect(hub->Port());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, k.bytes.data(), k.bytes.size()), static_cast<ssize_t>(k.bytes.size()));
        size_t n = hub->accepted.size();
        ASSERT_TRUE(
            Frames([&] { return hub->accepted.size() == n + 1 || hub->accepted.size() > n; }, hub.get()));
        CCommRemoteClient* c = hub->accepted.back();
        // The bad packet ends the connection, reported by its handler.
        ASSERT_TRUE(Frames([&] { return !c->IsConnected(); }, nullptr, 1000));
        EXPECT_EQ(LastError(), "CCommRemoteClient::NonBlockedHandler: Handler returned FALSE (classname: "
                               "CCommRemoteClient objectname: accepted" +
                                   std::to_string(hub->accepted.size() - 1) + ")");
        EXPECT_EQ(node.NumQueuedPackets(), 0);
        EXPECT_EQ(node.HasCommObject(c), FALSE);
        close(fd);
    }
}

namespace
{

int ClockServer(uint16_t port)
{
    CTimeDiffServer server;
    server.SetId(77);
    server.SetName("clock");
    if (!server.Init(0))
        return 50;
    CCommRemoteClient* c = Dial(port);
    if (c == nullptr)
        return 51;
    int failure = 0;
    Frames([&] {
        if (!server.Handler())
            failure = 52;
        return failure != 0 || server.IsClientDone() || !c->IsConnected();
    });
    if (failure != 0)
        return failure;
    return server.IsClientDone() ? 0 : 53;
}

} // namespace

TEST_F(NodeProcessTest, ClockOffsetBetweenTwoProcesses)
{
    auto hub = std::make_unique<Hub>();
    ASSERT_TRUE(hub->Start()) << LastError();
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        Child([&] { return ClockServer(hub->Port()); });
    ASSERT_TRUE(Frames([&] { return hub->accepted.size() == 1; }, hub.get()));
    CTimeDiffClient client;
    client.SetId(77);
    client.SetName("clock");
    ASSERT_EQ(client.Init(0), TRUE) << client.GetErrorMsg();
    // Both processes read the same clock: the true offset is 0, and the
    // learned one is at most the round trip (the whole of it is added).
    uint32_t before = xGetTime();
    uint32_t after = 0;
    ASSERT_TRUE(Frames([&] {
        EXPECT_EQ(client.Handler(), TRUE) << client.GetErrorMsg();
        if (client.GetState() >= TDC_SENDDONE && after == 0)
            after = xGetTime();
        return client.IsClientDone() == TRUE;
    }));
    uint32_t roundTrip = after - before;
    EXPECT_LE(client.GetOffset(), roundTrip);
    EXPECT_NE(client.GetDiffSign(), 0);
    // A stamp taken by the server now reads as (about) no time ago.
    EXPECT_LE(client.GetTimeDiff(xGetTime()), roundTrip);
    ASSERT_TRUE(Frames([&] { return !hub->accepted[0]->IsConnected() || hub->accepted[0]->IsFlushed(); }));
    EXPECT_EQ(WaitChild(pid), 0);
}
