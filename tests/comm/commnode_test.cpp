// Comm nodes in one process: names, the life cycle, local delivery with the
// type and privacy rules, sessions, snooping, callbacks, KCBL messages, the
// log file's records, hostile packets, and the registrations between nodes
// and comm objects as either side goes away.
#include "comm_util.h"

#include <algorithm>
#include <fstream>
#include <sstream>

using tvtest::CommTest;
using tvtest::LastError;
using tvtest::Pair;
using tvtest::Pump;

namespace
{

// Reaches the fields a test needs to set up or inspect directly.
struct Node : CCommNode {
    using CCommNode::commObjects;
    using CCommNode::sessionIndex;
    bool Start(uint32_t type, const char* name = "chat", uint32_t id = 7)
    {
        SetId(id);
        return SetName(name) == TRUE && InitCommNode(type) == TRUE;
    }
    // The next queued payload as text ("<none>" when nothing is available).
    std::string Take()
    {
        if (!IsDataAvailable())
            return "<none>";
        char* data = nullptr;
        uint32_t size = 0;
        if (!RecvPacket(data, size))
            return "<error>";
        std::string s(data, size);
        XFREE(data);
        RecvFree();
        return s;
    }
    bool Send(const std::string& text)
    {
        std::string copy = text;
        return SendInit() == TRUE && SendPacket(copy.data(), static_cast<uint32_t>(copy.size())) == TRUE;
    }
};

std::string ReadFile(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Suffix(uint32_t id, const char* name, uint32_t type, const char* obj)
{
    return " (id:" + std::to_string(id) + " name:" + name + " type:" + std::to_string(type) +
           " objectname:" + obj;
}

// A node packet with the given bytes after the 12-byte header.
SXPacket* RawNodePacket(const std::string& body)
{
    std::string bytes = tvtest::Header(PACKET_TYPE_CNODE, static_cast<uint32_t>(12 + body.size())) + body;
    auto* p = static_cast<SXPacket*>(XALLOC(bytes.size()));
    std::memcpy(p, bytes.data(), bytes.size());
    return p;
}

std::string Be32(uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

} // namespace

TEST_F(CommTest, NodeNamesFromParts)
{
    struct Case {
        const char* a;
        const char* b; // null: the one-text forms
        uint32_t n[3];
        bool numbers;
        const char* want;
    };
    const Case cases[] = {
        {"lobby", nullptr, {3, 0, 7}, true, "lobby_3_7"},
        {"a", nullptr, {0, 0, 0}, true, "a"},
        {"a", nullptr, {0, 5, 0}, true, "a_5"},
        {"a", nullptr, {4294967295u, 1, 2}, true, "a_4294967295_1_2"},
        {"room", "42", {0, 0, 0}, false, "room42"},
        {"room", "42", {1, 0, 9}, true, "room42_1_9"},
        {"", "", {0, 0, 0}, false, ""},
    };
    for (const Case& c : cases) {
        CCommNode node;
        int32_t r =
            c.b == nullptr
                ? (c.numbers ? node.SetName(c.a, c.n[0], c.n[1], c.n[2]) : node.SetName(c.a))
                : (c.numbers ? node.SetName(c.a, c.b, c.n[0], c.n[1], c.n[2]) : node.SetName(c.a, c.b));
        EXPECT_EQ(r, TRUE);
        EXPECT_STREQ(node.GetName(), c.want);
    }

    CCommNode node;
    EXPECT_STREQ(node.GetName(), ""); // never null
    EXPECT_STREQ(node.GetObjName(), "default commnode object name");
    EXPECT_STREQ(node.GetLogFileName(), "commnode.log");
    node.SetObjName("player", 12u);
    EXPECT_STREQ(node.GetObjName(), "player12");
    node.SetObjName("team", "-red", 4294967295u);
    EXPECT_STREQ(node.GetObjName(), "team-red4294967295");
    node.SetObjName("x", "y");
    EXPECT_STREQ(node.GetObjName(), "xy");
    node.SetObjName(static_cast<const char*>(nullptr));
    EXPECT_STREQ(node.GetObjName(), "default commnode object name");
}

TEST_F(CommTest, NodeInitNeedsIdAndNameAndRefusesAfterExit)
{
    const std::string refusal = "CommNode::InitCommNode:SetName not called before this function";
    {
        CCommNode node;
        node.SetName("n");
        EXPECT_EQ(node.InitCommNode(CNODE_ANY), FALSE);
        EXPECT_EQ(LastError(), refusal + Suffix(0, "n", 0, "default commnode object name"));
    }
    {
        CCommNode node;
        node.SetId(3);
        EXPECT_EQ(node.InitCommNode(CNODE_ANY), FALSE);
        EXPECT_EQ(LastError(), refusal + Suffix(3, "", 0, "default commnode object name"));
    }
    Node node;
    node.SetLog(TRUE);
    node.SetLogFileName("exit.log");
    ASSERT_TRUE(node.Start(CNODE_SERVER));
    EXPECT_EQ(node.IsInitialized(), TRUE);
    EXPECT_TRUE(tvtest::InGlbList(glb->commNodes, &node));
    node.ExitCommNode();
    EXPECT_FALSE(tvtest::InGlbList(glb->commNodes, &node));
    EXPECT_STREQ(node.GetName(), "");
    // The name went with the exit: no start without a new one.
    EXPECT_EQ(node.InitCommNode(CNODE_SERVER), FALSE);
    EXPECT_EQ(LastError(), refusal + Suffix(7, "", 2, ""));
    EXPECT_EQ(node.SendInit(), FALSE);
    EXPECT_EQ(LastError(), "CCommNode::SendInit:commNodeInit is FALSE, the object is not initialized" +
                               Suffix(7, "", 2, ""));
    // A second exit (here from the destructor) writes no second record.
    node.ExitCommNode();
    std::string log = ReadFile("exit.log");
    size_t inits = 0, exits = 0;
    for (size_t at = 0; (at = log.find(">INIT<", at)) != std::string::npos; ++at)
        ++inits;
    for (size_t at = 0; (at = log.find(">EXIT<", at)) != std::string::npos; ++at)
        ++exits;
    EXPECT_EQ(inits, 1u);
    EXPECT_EQ(exits, 1u);
    // Named again, the node starts again.
    node.SetId(7);
    ASSERT_EQ(node.SetName("again"), TRUE);
    EXPECT_EQ(node.InitCommNode(CNODE_ANY), TRUE);
}

TEST_F(CommTest, LocalDeliveryFollowsTypeAndPrivacy)
{
    struct Case {
        uint32_t fromType;
        bool fromPrivate;
        uint32_t toType;
        bool toPrivate;
        bool delivered;
    };
    const Case cases[] = {
        {CNODE_SERVER, true, CNODE_CLIENT, true, true},  {CNODE_CLIENT, true, CNODE_SERVER, true, true},
        {CNODE_CLIENT, true, CNODE_CLIENT, true, false}, {CNODE_SERVER, true, CNODE_SERVER, true, false},
        {CNODE_CLIENT, true, CNODE_ANY, false, true},    {CNODE_SERVER, false, CNODE_ANY, true, true},
        {CNODE_ANY, true, CNODE_ANY, false, false},      {CNODE_ANY, false, CNODE_ANY, true, true},
        {CNODE_ANY, true, CNODE_ANY, true, true},        {CNODE_ANY, false, CNODE_ANY, false, true},
        {CNODE_ANY, true, CNODE_CLIENT, false, false},   {CNODE_ANY, true, CNODE_SERVER, true, true},
    };
    for (const Case& c : cases) {
        Node from, to;
        from.SetPrivate(c.fromPrivate);
        to.SetPrivate(c.toPrivate);
        ASSERT_TRUE(from.Start(c.fromType));
        ASSERT_TRUE(to.Start(c.toType));
        ASSERT_TRUE(from.Send("hello"));
        SCOPED_TRACE(testing::Message() << c.fromType << c.fromPrivate << " -> " << c.toType << c.toPrivate);
        EXPECT_EQ(to.Take(), c.delivered ? "hello" : "<none>");
        EXPECT_EQ(from.Take(), "<none>"); // never its own packets
    }
    // Another id or another name is another address.
    Node from, otherId, otherName, same;
    ASSERT_TRUE(from.Start(CNODE_SERVER));
    ASSERT_TRUE(otherId.Start(CNODE_CLIENT, "chat", 8));
    ASSERT_TRUE(otherName.Start(CNODE_CLIENT, "chat2"));
    ASSERT_TRUE(same.Start(CNODE_CLIENT));
    ASSERT_TRUE(from.Send("x"));
    EXPECT_EQ(otherId.Take(), "<none>");
    EXPECT_EQ(otherName.Take(), "<none>");
    EXPECT_EQ(same.Take(), "x");
}

TEST_F(CommTest, NodeSessionsDropLatePacketsOfTheOldSession)
{
    Node server, client;
    server.SetUseSessionIndex(TRUE);
    ASSERT_TRUE(server.Start(CNODE_SERVER));
    ASSERT_TRUE(client.Start(CNODE_CLIENT)); // sessions off: index 0
    EXPECT_EQ(server.GetSessionIndex(), 1u);
    EXPECT_EQ(client.GetSessionIndex(), 0u);

    // A client without a session takes the server's.
    ASSERT_TRUE(server.Send("welcome"));
    EXPECT_EQ(client.GetSessionIndex(), 1u);
    EXPECT_EQ(client.Take(), "welcome");
    ASSERT_TRUE(client.Send("move 1"));
    ASSERT_TRUE(client.Send("move 2"));

    // A new session empties the queue and drops the client's late packets.
    server.NewSessionIndex();
    EXPECT_EQ(server.GetSessionIndex(), 2u);
    EXPECT_EQ(server.NumQueuedPackets(), 0);
    ASSERT_TRUE(client.Send("late"));
    EXPECT_EQ(server.Take(), "<none>");
    ASSERT_TRUE(server.Send("round 2"));
    EXPECT_EQ(client.GetSessionIndex(), 2u);
    EXPECT_EQ(client.Take(), "round 2");
    ASSERT_TRUE(client.Send("move 3"));
    EXPECT_EQ(server.Take(), "move 3");

    // The index wraps to 1, never 0, and stays unsigned.
    server.sessionIndex = 4294967295u;
    server.NewSessionIndex();
    EXPECT_EQ(server.GetSessionIndex(), 1u);
    server.sessionIndex = 4294967294u;
    ASSERT_TRUE(server.Send("high"));
    EXPECT_EQ(client.GetSessionIndex(), 4294967294u);
    EXPECT_EQ(client.Take(), "high");
    ASSERT_TRUE(client.Send("high too"));
    EXPECT_EQ(server.Take(), "high too");
}

TEST_F(CommTest, NewSessionIndexOnlyOnSessionServers)
{
    tvtest::Trace().clear();
    xSetDprintfOutput(tvtest::CollectTrace);
    Node client, plain;
    client.SetUseSessionIndex(TRUE);
    ASSERT_TRUE(client.Start(CNODE_CLIENT));
    ASSERT_TRUE(plain.Start(CNODE_SERVER));
    client.NewSessionIndex();
    plain.NewSessionIndex();
    xSetDprintfOutput(nullptr);
    EXPECT_EQ(client.GetSessionIndex(), 1u);
    EXPECT_EQ(plain.GetSessionIndex(), 0u);
    EXPECT_EQ(tvtest::Trace(),
              "CCommNode::NewSessionIndex: You try to do a new session on a node that isn't a servernode.\n"
              "CCommNode::NewSessionIndex: You try to do a new session on a node that doesn't have sessions "
              "enabled.\n");
    tvtest::Trace().clear();
}

TEST_F(CommTest, SnooperSeesEachPacketFirst)
{
    Node from, to;
    ASSERT_TRUE(from.Start(CNODE_SERVER));
    ASSERT_TRUE(to.Start(CNODE_CLIENT));
    char* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(to.SnoopRecvPacket(data, size), FALSE);
    EXPECT_EQ(LastError(), "CCommNode::SnoopRecvPacket:snooping is not enabled for this object" +
                               Suffix(7, "chat", 3, "default commnode object name"));
    to.SnoopSetSnooping(TRUE);
    ASSERT_TRUE(from.Send("one"));
    ASSERT_TRUE(from.Send("two"));
    EXPECT_EQ(to.IsDataAvailable(), FALSE);
    EXPECT_EQ(to.SnoopIsDataAvailable(), TRUE);
    ASSERT_EQ(to.SnoopRecvPacket(data, size), TRUE);
    EXPECT_EQ(std::string(data, size), "one");
    EXPECT_EQ(to.SnoopIsDataAvailable(), FALSE); // held by the snooper
    EXPECT_EQ(to.IsDataAvailable(), FALSE);
    to.SnoopFree();
    EXPECT_EQ(to.SnoopIsDataAvailable(), FALSE); // already seen
    EXPECT_EQ(to.Take(), "one");                 // the same packet for the ordinary reader
    EXPECT_EQ(to.IsDataAvailable(), FALSE);      // "two" not yet snooped
    to.SnoopDeletePacket();                      // gone for both readers
    EXPECT_EQ(to.NumQueuedPackets(), 0);
    EXPECT_EQ(to.Take(), "<none>");
}

namespace
{

char g_replacement[] = "replaced by the callback";

int32_t Swallow(CCommNode*, char*&, uint32_t&, int32_t& keep)
{
    keep = 0;
    return TRUE;
}

int32_t Refuse(CCommNode*, char*&, uint32_t&, int32_t&) { return FALSE; }

// Hands back a buffer of its own: the node must neither free it nor leak
// the copy it replaced.
int32_t Replace(CCommNode*, char*& data, uint32_t& size, int32_t&)
{
    data = g_replacement;
    size = sizeof g_replacement - 1;
    return TRUE;
}

} // namespace

TEST_F(CommTest, NodeCallbacksSwallowRefuseAndReplace)
{
    Node from, to;
    to.SetLog(TRUE);
    to.SetLogFileName("callbacks.log");
    ASSERT_TRUE(from.Start(CNODE_SERVER));
    ASSERT_TRUE(to.Start(CNODE_CLIENT));
    std::string afterInit = ReadFile("callbacks.log");

    to.SetPacketCallbackRecv(Swallow);
    ASSERT_TRUE(from.Send("swallowed"));
    EXPECT_EQ(to.NumQueuedPackets(), 0);
    EXPECT_EQ(ReadFile("callbacks.log"), afterInit); // nothing logged either

    to.SetPacketCallbackRecv(Refuse);
    ASSERT_TRUE(from.Send("refused")); // a receiver's failure is not the sender's
    EXPECT_EQ(to.NumQueuedPackets(), 0);

    to.SetPacketCallbackRecv(Replace);
    ASSERT_TRUE(from.Send("original"));
    EXPECT_EQ(to.Take(), g_replacement);
    to.SetPacketCallbackRecv(nullptr);

    from.SetPacketCallbackSend(Replace);
    ASSERT_TRUE(from.Send("original"));
    EXPECT_EQ(to.Take(), g_replacement);
    from.SetPacketCallbackSend(Swallow);
    ASSERT_TRUE(from.Send("dropped"));
    EXPECT_EQ(to.Take(), "<none>");
    EXPECT_EQ(from.SendInit(), TRUE); // a swallowed send ends the send cycle

    from.SetPacketCallbackSend(Refuse);
    std::string text = "x";
    EXPECT_EQ(from.SendPacket(text.data(), 1), FALSE);
    EXPECT_EQ(LastError(), "CCommNode::SendPacket:sendPacketCallback failed" +
                               Suffix(7, "chat", 2, "default commnode object name"));
    EXPECT_EQ(from.SendInit(), FALSE); // still the unsent packet's
}

TEST_F(CommTest, KcblMessagesBetweenNodes)
{
    Node from, to;
    ASSERT_TRUE(from.Start(CNODE_CLIENT));
    ASSERT_TRUE(to.Start(CNODE_SERVER));

    // Without SendInit nothing goes and the container stays filled.
    from.sendKCBL.NewItem("move", KLONG, 3, KSTRING, "north", KEND);
    EXPECT_EQ(from.SendKCBLPacket(), FALSE);
    EXPECT_EQ(LastError(), "CCommNode::SendKCBLPacket: sendAllocated is FALSE.\n");
    EXPECT_EQ(from.sendKCBL.FindItem("move"), TRUE);

    ASSERT_EQ(from.SendInit(), TRUE);
    ASSERT_EQ(from.SendKCBLPacket(), TRUE);
    EXPECT_EQ(from.sendKCBL.FindItem("move"), FALSE); // emptied after sending
    ASSERT_EQ(to.IsDataAvailable(), TRUE);
    ASSERT_EQ(to.RecvKCBLPacket(), TRUE);
    ASSERT_EQ(to.recvKCBL.FindItem("move"), TRUE);
    int32_t steps = 0;
    EXPECT_EQ(to.recvKCBL.GetLong(0, &steps), TRUE);
    EXPECT_EQ(steps, 3);
    EXPECT_STREQ(to.recvKCBL.GetString(1), "north");
    EXPECT_EQ(to.IsDataAvailable(), FALSE);
    EXPECT_EQ(to.RecvKCBLPacket(), FALSE); // the last one is still held
    to.RecvKCBLFree();

    // A later failure empties the container.
    from.SetPacketCallbackSend(Refuse);
    from.sendKCBL.NewItem("lost", KEND);
    ASSERT_EQ(from.SendInit(), TRUE);
    EXPECT_EQ(from.SendKCBLPacket(), FALSE);
    EXPECT_EQ(LastError(), "CCommNode::SendKCBLPacket:SendPacket failed" +
                               Suffix(7, "chat", 3, "default commnode object name"));
    EXPECT_EQ(from.sendKCBL.FindItem("lost"), FALSE);
}

TEST_F(CommTest, KcblTextWithoutTerminatorIsReadWithinThePacket)
{
    Node to;
    ASSERT_TRUE(to.Start(CNODE_CLIENT));
    // The text fills the packet to its last byte; no zero follows it.
    const std::string text = "score = 12\nname = \"eve\"";
    SXPacket* p = BuildPacket(PACKET_TYPE_CNODE, 7, "chat", CNODE_SERVER, 0, text.data(),
                              static_cast<uint32_t>(text.size()));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(to.RecvIncomingFromComm(p), TRUE);
    XFREE(p);
    ASSERT_EQ(to.RecvKCBLPacket(), TRUE);
    ASSERT_EQ(to.recvKCBL.FindItem("name"), TRUE);
    EXPECT_STREQ(to.recvKCBL.GetString(0), "eve");
    to.RecvKCBLFree();
    // The same for the snooper and for a raw reader (one zero byte behind).
    to.SnoopSetSnooping(TRUE);
    p = BuildPacket(PACKET_TYPE_CNODE, 7, "chat", CNODE_SERVER, 0, text.data(),
                    static_cast<uint32_t>(text.size()));
    to.RecvIncomingFromComm(p);
    XFREE(p);
    ASSERT_EQ(to.SnoopRecvKCBLPacket(), TRUE);
    EXPECT_EQ(to.recvKCBL.FindItem("score"), TRUE);
    to.SnoopFreeKCBL();
    char* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(to.RecvPacket(data, size), TRUE);
    EXPECT_EQ(size, text.size());
    EXPECT_EQ(data[size], 0);
    XFREE(data);
    to.RecvFree();
}

TEST_F(CommTest, HostileNodePacketsAreRefusedWithinTheirBytes)
{
    Node to;
    ASSERT_TRUE(to.Start(CNODE_CLIENT));
    const std::string obj = "default commnode object name";
    struct Case {
        const char* what;
        std::string body; // after the 12-byte header
        int32_t result;
        std::string error; // "" = no new error
    };
    const std::string idOk = Be32(7) + Be32(0);
    const Case cases[] = {
        {"another id", Be32(8) + Be32(0) + Be32(CNODE_SERVER) + Be32(4) + std::string("chat", 5), TRUE, ""},
        {"another name", idOk + Be32(CNODE_SERVER) + Be32(4) + std::string("chaT", 5), TRUE, ""},
        {"name without terminator", idOk + Be32(CNODE_SERVER) + Be32(4) + "chatXdata", FALSE,
         "CCommNode::RecvIncomingFromComm:packet->GetNodeName function returned NULL" +
             Suffix(7, "chat", 3, obj.c_str())},
        {"name length past the packet", idOk + Be32(CNODE_SERVER) + Be32(1000) + std::string("chat", 5),
         FALSE, "CCommNode::RecvIncomingFromComm:GetNodeId failed" + Suffix(7, "chat", 3, obj.c_str())},
        {"name length near 2^32", idOk + Be32(CNODE_SERVER) + Be32(0xFFFFFFF0u) + std::string("chat", 5),
         FALSE, "CCommNode::RecvIncomingFromComm:GetNodeId failed" + Suffix(7, "chat", 3, obj.c_str())},
        {"invalid node type", idOk + Be32(4) + Be32(4) + std::string("chat", 5), FALSE,
         "CCommNode::RecvIncomingFromComm:GetNodeId failed" + Suffix(7, "chat", 3, obj.c_str())},
        {"shorter than a node header", "abc", FALSE,
         "CCommNode::RecvIncomingFromComm:GetNodeId failed" + Suffix(7, "chat", 3, obj.c_str())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        glb->error.Clear();
        SXPacket* p = RawNodePacket(c.body);
        EXPECT_EQ(to.RecvIncomingFromComm(p), c.result);
        XFREE(p);
        EXPECT_EQ(c.error.empty() ? std::string("") : LastError(), c.error);
        EXPECT_EQ(to.NumQueuedPackets(), 0);
    }
    // A raw packet is not for nodes at all.
    SXPacket* raw = BuildPacket(PACKET_TYPE_RAW, 0, nullptr, 0, 0, "chat", 4);
    EXPECT_EQ(to.RecvIncomingFromComm(raw), TRUE);
    XFREE(raw);
    EXPECT_EQ(to.NumQueuedPackets(), 0);
}

TEST_F(CommTest, NodeLogRecordsAreExact)
{
    tvp::TestSetManualClock(true, 4242);
    {
        Node from, to;
        to.SetLog(TRUE);
        to.SetLogFileName("node.log");
        to.SetObjName("reader");
        ASSERT_TRUE(to.Start(CNODE_CLIENT));
        ASSERT_TRUE(from.Start(CNODE_SERVER));
        ASSERT_TRUE(from.Send(std::string("a\0b", 3)));
        to.SetLog(FALSE); // the destructor's EXIT record is not written
        const std::string rule = "\n---------------------------------------\n";
        auto record = [&](const char* tag, const std::string* data) {
            std::string r = rule + rule + tag +
                            "  | Object name: reader  | Node name: chat  | Node id: 7  | Node " +
                            "type: CLIENT\n\nTimestamp: 4242  |   Address: " +
                            std::to_string(reinterpret_cast<uintptr_t>(&to)) + "\n";
            if (data != nullptr)
                r += "\n-\n" + *data + "\n-\n";
            return r + rule + rule;
        };
        const std::string payload("a\0b", 3);
        EXPECT_EQ(ReadFile("node.log"), record("\n>INIT< ", nullptr) + record("\n>READ< ", &payload));
        to.SetLog(TRUE);
        to.ExitCommNode();
        EXPECT_EQ(ReadFile("node.log"), record("\n>INIT< ", nullptr) + record("\n>READ< ", &payload) +
                                            record("\n>EXIT< ", nullptr));
    }
    tvp::TestSetManualClock(false);
}

TEST_F(CommTest, NodesAndCommObjectsLetGoOfEachOther)
{
    auto pair = std::make_unique<Pair>();
    ASSERT_TRUE(pair->Open()) << LastError();
    Node node;
    node.SetPrivate(FALSE);
    ASSERT_TRUE(node.Start(CNODE_ANY));
    EXPECT_EQ(node.NumCommObjects(), 2); // both ends of the pair
    EXPECT_EQ(pair->client.IsCommNodeRegistered(&node), TRUE);

    // A comm object that no longer accepts nodes still leaves the node when
    // it disconnects.
    pair->client.SetPacketTypes(1, 0);
    pair->client.Disconnect();
    EXPECT_EQ(node.HasCommObject(&pair->client), FALSE);
    EXPECT_EQ(pair->client.IsCommNodeRegistered(&node), FALSE);

    // The same when it is destroyed while connected.
    pair->accepted.SetPacketTypes(1, 0);
    CCommRemoteClient* accepted = &pair->accepted;
    EXPECT_EQ(node.HasCommObject(accepted), TRUE);
    pair.reset();
    EXPECT_EQ(node.NumCommObjects(), 0);

    // A node that goes away leaves comm objects that stopped accepting nodes.
    auto again = std::make_unique<Pair>();
    ASSERT_TRUE(again->Open()) << LastError();
    auto* late = XNEW(Node);
    late->SetPrivate(FALSE);
    ASSERT_TRUE(late->Start(CNODE_ANY, "late"));
    EXPECT_EQ(again->client.IsCommNodeRegistered(late), TRUE);
    again->client.SetPacketTypes(1, 0);
    XDELETE(late);
    int32_t left = 0;
    for (again->client.ThisSideNodes_First(); again->client.ThisSideNodes_Exists();
         again->client.ThisSideNodes_Next())
        ++left;
    EXPECT_EQ(left, 1);                                           // only the earlier node
    EXPECT_EQ(again->accepted.IsCommNodeRegistered(&node), TRUE); // the earlier node is still there
    again.reset();
}

TEST_F(CommTest, NodeDataCrossesAConnectionInOneProcess)
{
    auto pair = std::make_unique<Pair>();
    ASSERT_TRUE(pair->Open()) << LastError();
    // The server node listens on the accepted end only, the client node
    // talks through the client end only: each is registered where it lives.
    Node server, client;
    ASSERT_TRUE(server.Start(CNODE_SERVER));
    pair->client.ForgetCommNode(&server);
    server.DeleteCommObject(&pair->client);
    pair->client.SetPacketTypes(1, 0); // no more registrations on this end
    ASSERT_TRUE(client.Start(CNODE_CLIENT));
    pair->client.SetPacketTypes(1, 1);
    ASSERT_EQ(pair->client.RegisterCommNode(&client), TRUE);
    pair->accepted.ForgetCommNode(&client);
    client.DeleteCommObject(&pair->accepted);
    // Private nodes still use remote comm objects; local delivery here is
    // the CLIENT -> SERVER rule, so the server also gets one copy locally.
    ASSERT_TRUE(Pump([&] { return pair->accepted.HasOtherSideNode("chat", 4, 7, CNODE_SERVER) == TRUE; }));
    ASSERT_TRUE(client.Send("over the wire"));
    EXPECT_EQ(server.Take(), "over the wire"); // the local copy
    ASSERT_TRUE(Pump([&] { return server.IsDataAvailable() == TRUE; })) << LastError();
    EXPECT_EQ(server.Take(), "over the wire");
    pair.reset();
}

TEST_F(CommTest, KcblMessagesOfChangingSizesArriveWhole)
{
    Node from, to;
    ASSERT_TRUE(from.Start(CNODE_CLIENT));
    ASSERT_TRUE(to.Start(CNODE_SERVER));
    for (size_t n : {10u, 5000u, 0u, 12u, 20000u, 19999u, 1u}) {
        SCOPED_TRACE(n);
        const std::string text(n, 'q');
        ASSERT_EQ(from.SendInit(), TRUE);
        if (n != 0) // 0: an empty container
            from.sendKCBL.NewItem("text", KSTRING, text.c_str(), KEND);
        ASSERT_EQ(from.SendKCBLPacket(), TRUE) << LastError();
        ASSERT_EQ(to.RecvKCBLPacket(), TRUE) << LastError();
        if (n != 0) {
            ASSERT_EQ(to.recvKCBL.FindItem("text"), TRUE);
            EXPECT_EQ(to.recvKCBL.GetString(0), text);
        } else {
            EXPECT_EQ(to.recvKCBL.FindItem("text"), FALSE);
        }
        to.RecvKCBLFree();
    }
}

namespace
{

// A comm object that is never connected: only its registrations matter.
class Hub : public CCommBase
{
  public:
    Hub() { SetPacketTypes(0, 1); }
    int32_t IsRemote() override { return 1; }
    int32_t BlockedHandler(int32_t) override { return TRUE; }
    int32_t NonBlockedHandler() override { return TRUE; }
    const char* GetClassName() override { return "Hub"; }
    int32_t Queued() const { return sendQue.GetNumNodes(); }
    std::vector<CCommNode*> Nodes()
    {
        std::vector<CCommNode*> out;
        for (SLListNode* n = thisSideNodes.first; n != nullptr; n = n->next)
            out.push_back(static_cast<CCommNode*>(n->data));
        return out;
    }
};

} // namespace

// Registrations between many nodes and many comm objects (the long lists a
// server with a node per client holds) stay the same on both sides through
// registering twice, unregistering in a scattered order, and either side
// going away; the lists keep their order.
TEST_F(CommTest, ManyNodesOnManyCommObjectsStayPaired)
{
    constexpr int kNodes = 70, kComms = 50;
    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<std::unique_ptr<Hub>> comms;
    for (int i = 0; i < kNodes; ++i) {
        nodes.push_back(std::make_unique<Node>());
        ASSERT_TRUE(nodes.back()->Start(CNODE_SERVER, "many", 100 + i));
    }
    for (int c = 0; c < kComms; ++c)
        comms.push_back(std::make_unique<Hub>());
    // The model: which nodes each comm object holds, in registration order.
    std::vector<std::vector<int>> held(kComms);
    auto holds = [&](int c, int i) { return std::find(held[c].begin(), held[c].end(), i) != held[c].end(); };
    auto drop = [&](int c, int i) { held[c].erase(std::find(held[c].begin(), held[c].end(), i)); };
    for (int c = 0; c < kComms; ++c)
        for (int i = 0; i < kNodes; ++i) {
            ASSERT_EQ(comms[c]->RegisterCommNode(nodes[i].get()), TRUE);
            held[c].push_back(i);
        }
    // Registering again sends nothing and adds nothing.
    EXPECT_EQ(comms[3]->RegisterCommNode(nodes[5].get()), TRUE);
    EXPECT_EQ(comms[3]->Queued(), kNodes);
    EXPECT_EQ(nodes[5]->NumCommObjects(), kComms);

    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        for (int c = 0; c < kComms; ++c) {
            if (comms[c] == nullptr)
                continue;
            std::vector<CCommNode*> expected;
            for (int i : held[c])
                if (nodes[i] != nullptr)
                    expected.push_back(nodes[i].get());
            for (int i = 0; i < kNodes; ++i) {
                if (nodes[i] == nullptr)
                    continue;
                bool want = holds(c, i);
                ASSERT_EQ(comms[c]->IsCommNodeRegistered(nodes[i].get()), want ? TRUE : FALSE)
                    << c << " " << i;
                ASSERT_EQ(nodes[i]->HasCommObject(comms[c].get()), want ? TRUE : FALSE) << c << " " << i;
            }
            ASSERT_EQ(comms[c]->Nodes(), expected) << c; // order kept
        }
        for (int i = 0; i < kNodes; ++i) {
            if (nodes[i] == nullptr)
                continue;
            int want = 0;
            for (int c = 0; c < kComms; ++c)
                want += comms[c] != nullptr && holds(c, i) ? 1 : 0;
            ASSERT_EQ(nodes[i]->NumCommObjects(), want) << i;
        }
    };
    check("all registered");

    // Scattered unregistrations, down past the short-list size and back up.
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % 1000u; };
    for (int k = 0; k < 3000; ++k) {
        int c = static_cast<int>(next() % kComms), i = static_cast<int>(next() % kNodes);
        if (holds(c, i)) {
            ASSERT_EQ(comms[c]->UnregisterCommNode(nodes[i].get()), TRUE);
            EXPECT_EQ(comms[c]->UnregisterCommNode(nodes[i].get()), FALSE); // no longer there
            drop(c, i);
        } else {
            ASSERT_EQ(comms[c]->RegisterCommNode(nodes[i].get()), TRUE);
            held[c].push_back(i);
        }
    }
    check("after scattered changes");
    for (int i = 0; i < kNodes; i += 2) {
        comms[7]->ForgetCommNode(nodes[i].get());
        nodes[i]->DeleteCommObject(comms[7].get());
        if (holds(7, i))
            drop(7, i);
    }
    check("after forgetting");

    // Either side going away leaves the other.
    for (int c = 0; c < kComms; c += 3)
        comms[c].reset();
    check("after comm objects went");
    for (int i = 1; i < kNodes; i += 3) {
        nodes[i]->ExitCommNode();
        nodes[i].reset();
    }
    check("after nodes went");
    comms.clear();
    for (auto& n : nodes) {
        if (n != nullptr) {
            EXPECT_EQ(n->NumCommObjects(), 0);
        }
    }
}
