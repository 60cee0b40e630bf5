// The comm object without a socket: refusals and their messages,
// acknowledgement, callbacks, the other side's node registry, split runs,
// ping time-outs on the test clock, and the log file.
#include "comm_util.h"

#include <array>
#include <fstream>
#include <vector>
#include <sstream>

using tvtest::CommTest;
using tvtest::LastError;
using tvtest::TakeRaw;

namespace
{

// A comm object whose connection flag and lists the test sets directly.
class TestComm : public CCommBase
{
  public:
    int32_t IsRemote() override { return 1; }
    int32_t BlockedHandler(int32_t) override { return TRUE; }
    int32_t NonBlockedHandler() override { return TRUE; }
    const char* GetClassName() override { return "TestComm"; }
    void SetConnected(int32_t c) { connected = c; }
    CLList& In() { return transferIn; }
    CLList& Out() { return transferOut; }
};

SXPacket* Raw(const std::string& s)
{
    return BuildPacket(PACKET_TYPE_RAW, 0, nullptr, 0, 0, s.data(), static_cast<uint32_t>(s.size()));
}

SXPacket* NodePacket(uint8_t type, uint32_t id, const char* name, uint32_t ntype, const char* data = nullptr)
{
    return BuildPacket(type, id, name, ntype, 0, data, data ? static_cast<uint32_t>(std::strlen(data)) : 0);
}

std::string Pattern(const char* fmt)
{
    std::string s = fmt;
    return s + " (classname: TestComm objectname: t)";
}

int g_sendCalls = 0;
int32_t DropAll(SXPacket*, SXPacketCNode*, int32_t& keep)
{
    ++g_sendCalls;
    keep = 0;
    return TRUE;
}
int32_t Refuse(SXPacket*, SXPacketCNode*, int32_t&)
{
    return FALSE;
}

} // namespace

TEST_F(CommTest, SendRefusalsAndAcknowledgement)
{
    TestComm c;
    c.SetObjName("t");
    EXPECT_EQ(c.SendRawData("x", 1), FALSE);
    EXPECT_EQ(LastError(),
              Pattern("CCommBase::SendRawData: connected is FALSE, this object is not connected"));
    c.SetConnected(1);
    EXPECT_EQ(c.SendRawData("x", 1), FALSE);
    EXPECT_EQ(LastError(), Pattern("CommBase::SendRawData: This object doesn't accept raw data"));
    SXPacket* p = Raw("x");
    EXPECT_EQ(c.SendPacket(p), FALSE);
    EXPECT_EQ(
        LastError(),
        Pattern("CommBase::SendPacket: Data not accepted (acceptRaw == FALSE and acceptNode == FALSE)"));
    xFreeMem(p, __FILE__, __LINE__); // a refused packet stays the caller's

    c.SetPacketTypes(1, 0);
    c.SetOutAckMode(1);
    EXPECT_EQ(c.SendRawData("a", 1), TRUE);
    EXPECT_EQ(c.SendRawData("b", 1), FALSE);
    EXPECT_EQ(LastError(), Pattern("CCommBase::SendRawData: outAckFlag is TRUE but outDataAcked is FALSE"));
    c.AckOutData();
    EXPECT_EQ(c.SendRawData("b", 1), TRUE);
    EXPECT_EQ(c.NumSendQuePackets(), 2);

    // Node data without accepting nodes: silently nothing.
    EXPECT_EQ(c.SendCommNodeData("n", 1, CNODE_ANY, 0, "d", 1), TRUE);
    c.SetPacketTypes(1, 1);
    EXPECT_EQ(c.SendCommNodeData("n", 1, CNODE_ANY, 0, "d", 1), FALSE);
    EXPECT_EQ(LastError(), Pattern("CommBase::SendCommNodeData: Sending node does not exists"));

    // The send handler moves everything in order; the delete operations take
    // the packet with the entry.
    EXPECT_EQ(c.SendHandler(), TRUE);
    EXPECT_EQ(c.NumSendQuePackets(), 0);
    EXPECT_EQ(c.NumTransferOut(), 2);
    c.AckOutData();
    c.SendRawData("c", 1);
    c.SendQueFirst();
    EXPECT_EQ(c.SendQueDelete(), TRUE);
    EXPECT_EQ(c.NumSendQuePackets(), 0);
    EXPECT_EQ(c.SendHandler(), TRUE);
}

TEST_F(CommTest, SendAndReceiveCallbacks)
{
    TestComm c;
    c.SetObjName("t");
    c.SetConnected(1);
    c.SetPacketTypes(1, 0);
    g_sendCalls = 0;
    c.SetPacketCallbackSend(DropAll);
    EXPECT_EQ(c.SendRawData("x", 1), TRUE);
    EXPECT_EQ(g_sendCalls, 1);
    EXPECT_EQ(c.NumSendQuePackets(), 0);
    c.SetPacketCallbackSend(Refuse);
    c.AckOutData();
    EXPECT_EQ(c.SendRawData("x", 1), FALSE);
    EXPECT_EQ(LastError(), Pattern("CommBase::SendPacket: Callback returned FALSE"));
    c.SetPacketCallbackSend(nullptr);

    c.SetPacketCallbackRecv(DropAll);
    EXPECT_EQ(c.RecvPacketFromRemote(Raw("y")), TRUE);
    EXPECT_EQ(c.NumRecvQuePackets(), 0);
    c.SetPacketCallbackRecv(Refuse);
    EXPECT_EQ(c.RecvPacketFromRemote(Raw("y")), FALSE);
    EXPECT_EQ(LastError(), Pattern("CommBase::RecvPacketFromRemote: receive callback returned FALSE"));
}

TEST_F(CommTest, ReceiveRulesAndInAcknowledgement)
{
    TestComm c;
    c.SetObjName("t");
    EXPECT_EQ(c.RecvPacketFromRemote(Raw("a")), FALSE);
    EXPECT_EQ(LastError(),
              Pattern("CommBase::RecvPacketFromRemote: Rawdata not accepted (acceptRaw is FALSE)"));
    c.SetPacketTypes(1, 0);
    c.SetInAckMode(1);
    EXPECT_EQ(c.RecvPacketFromRemote(Raw("a")), TRUE);
    EXPECT_EQ(c.RecvPacketFromRemote(Raw("b")), FALSE);
    EXPECT_EQ(LastError(), Pattern("CommBase::RecvPacketFromRemote: Old data not acknoledged"));
    c.AckInData();
    EXPECT_EQ(c.RecvPacketFromRemote(Raw("")), TRUE);
    EXPECT_EQ(TakeRaw(c), "a");
    EXPECT_EQ(TakeRaw(c), "");
    EXPECT_EQ(TakeRaw(c), "<none>");
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEREG, 1, "n", CNODE_ANY)), FALSE);
    EXPECT_EQ(LastError(),
              Pattern("CommBase::RecvPacketFromRemote: Nodedata not accepted (acceptNode == FALSE)"));

    // RecvQueDelete takes the packet with its entry.
    c.AckInData();
    c.RecvPacketFromRemote(Raw("z"));
    c.RecvQueFirst();
    EXPECT_EQ(c.RecvQueDelete(), TRUE);
    EXPECT_EQ(c.NumRecvQuePackets(), 0);
    EXPECT_EQ(TakeRaw(c), "<none>");
}

TEST_F(CommTest, OtherSideRegistryCountsReferences)
{
    TestComm c;
    c.SetObjName("t");
    c.SetConnected(1);
    c.SetPacketTypes(1, 1);
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEREG, 7, "Lobby", CNODE_SERVER)), TRUE);
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEREG, 7, "lobby", CNODE_SERVER)), TRUE);
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEREG, 7, "Lobby", CNODE_CLIENT)), TRUE);
    int entries = 0;
    for (c.OtherSideNodes_First(); c.OtherSideNodes_Exists(); c.OtherSideNodes_Next())
        ++entries;
    ASSERT_EQ(entries, 2);
    c.OtherSideNodes_First();
    EXPECT_EQ(c.OtherSideNodes_Get()->refCount, 2);
    EXPECT_STREQ(c.OtherSideNodes_Get()->name, "Lobby");

    // Matching by wanted type: a client wants a server or any-type peer.
    EXPECT_EQ(c.HasOtherSideNode("Lobby", 5, 7, CNODE_CLIENT), TRUE);
    EXPECT_EQ(c.HasOtherSideNode("Lobby", 5, 7, CNODE_ANY), TRUE);
    EXPECT_EQ(c.HasOtherSideNode("Lobby", 5, 8, CNODE_ANY), FALSE);
    EXPECT_EQ(c.HasOtherSideNode("lobby", 5, 7, CNODE_ANY), FALSE);

    // Node data for a registered node with no node on this side is accepted.
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODE, 7, "Lobby", CNODE_SERVER, "hi")), TRUE);
    // ... for an unknown one it is refused.
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODE, 9, "Nobody", CNODE_SERVER, "hi")), FALSE);
    EXPECT_EQ(LastError(), "CommBase::RecvPacketFromRemote: Remote node not found (classname: TestComm "
                           "objectname: t) Node(Name:Nobody Id:9)");

    // Unregistering matches the exact name: one unregister leaves the
    // entry, the second removes it.
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEUNREG, 7, "Lobby", CNODE_SERVER)), TRUE);
    c.OtherSideNodes_First();
    EXPECT_EQ(c.OtherSideNodes_Get()->refCount, 1);
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEUNREG, 7, "Lobby", CNODE_SERVER)), TRUE);
    EXPECT_EQ(c.HasOtherSideNode("Lobby", 5, 7, CNODE_CLIENT), FALSE);
    EXPECT_EQ(c.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEUNREG, 7, "Lobby", CNODE_SERVER)), TRUE);

    // SendOtherSideNodes tells another connected object about the rest.
    TestComm target;
    target.SetConnected(1);
    target.SetPacketTypes(0, 1);
    EXPECT_EQ(c.SendOtherSideNodes(&target), TRUE);
    EXPECT_EQ(target.NumSendQuePackets(), 1);
    c.Cleanup();
    EXPECT_EQ(c.HasOtherSideNode("Lobby", 5, 7, CNODE_SERVER), FALSE);
}

TEST_F(CommTest, RegistrationsAreRoutedToOtherClients)
{
    // Three client objects in the registry: a registration received on one
    // goes to the others that accept nodes, subject to the never-route bars.
    CCommRemoteClient a, b, d;
    a.SetPacketTypes(1, 1);
    b.SetPacketTypes(1, 1);
    d.SetPacketTypes(1, 0);
    for (CCommRemoteClient* c : {&a, &b, &d})
        RemoteClientList_Add(c);
    // Not connected: the copy is refused by SendPacket, nothing is routed.
    SXPacket* reg = NodePacket(PACKET_TYPE_CNODEREG, 3, "n", CNODE_CLIENT);
    EXPECT_EQ(SendCommNodeRegToAllComm(&a, reg), FALSE);
    b.SetNeverRouteNode_To_Client(1);
    EXPECT_EQ(b.GetNeverRouteNode_To_Client(), 1);
    a.SetNeverRouteNode_From_Client(1);
    EXPECT_EQ(SendCommNodeRegToAllComm(&a, reg), TRUE); // barred at the source: nothing, but no failure
    xFreeMem(reg, __FILE__, __LINE__);
    for (CCommRemoteClient* c : {&a, &b, &d})
        RemoteClientList_Remove(c);
}

// A connection that registers late learns the nodes known through the
// others under the same routing bars as the registrations it would have had
// forwarded: a server whose client connections bar client nodes does not
// tell each newcomer of every earlier client.
TEST_F(CommTest, LateConnectionLearnsOnlyWhatTheBarsLetThrough)
{
    struct Conn : CCommRemoteClient {
        Conn()
        {
            SetPacketTypes(0, 1);
            connected = 1;
        }
        ~Conn() override { connected = 0; }
        // Node ids of the registrations waiting in the send queue.
        std::vector<uint32_t> Announced()
        {
            std::vector<uint32_t> ids;
            for (SendQueFirst(); SendQueExists(); SendQueNext()) {
                uint32_t id = 0;
                reinterpret_cast<SXPacketCNode*>(SendQueGetPacket())->GetNodeId(id);
                ids.push_back(id);
            }
            return ids;
        }
    };
    struct Case {
        const char* what;
        bool fromClientBarred, toServerBarred;
        std::vector<uint32_t> learnt;
    } cases[] = {
        {"no bars: every node", false, false, {3, 4}},
        {"client nodes barred at the source", true, false, {4}},
        {"server nodes barred at the newcomer", false, true, {3}},
        {"both", true, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Conn early, late;
        early.SetNeverRouteNode_From_Client(c.fromClientBarred ? 1 : 0);
        late.SetNeverRouteNode_To_Server(c.toServerBarred ? 1 : 0);
        ASSERT_EQ(RemoteClientList_Add(&early), TRUE);
        EXPECT_EQ(early.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEREG, 3, "n", CNODE_CLIENT)), TRUE);
        EXPECT_EQ(early.RecvPacketFromRemote(NodePacket(PACKET_TYPE_CNODEREG, 4, "n", CNODE_SERVER)), TRUE);
        ASSERT_EQ(RemoteClientList_Add(&late), TRUE);
        EXPECT_EQ(SendOtherSideNodesToComm(&late), TRUE);
        EXPECT_EQ(late.Announced(), c.learnt);
        RemoteClientList_Remove(&early);
        RemoteClientList_Remove(&late);
    }
}

TEST_F(CommTest, SplitRunsStayInTheTransferList)
{
    TestComm c;
    c.SetObjName("t");
    c.SetPacketTypes(1, 0);
    auto split = [](uint8_t id, uint8_t index, uint8_t max) {
        SXPacket* p = Raw("s");
        p->packetType = PACKET_TYPE_SPLIT;
        p->SetSplitId(id);
        p->SetSplitIndex(index);
        p->SetMaxSplitIndex(max);
        return p;
    };
    struct Case {
        std::vector<std::array<uint8_t, 3>> run;
        const char* error; // null: the run passes
    };
    const Case cases[] = {
        {{{1, 0, 1}, {1, 1, 1}}, nullptr},
        {{{1, 1, 1}}, "CCommBase::RecvHandler: The first splitted packet do not have the splitindex 0"},
        {{{1, 0, 2}, {2, 1, 2}},
         "CCommBase::RecvHandler: We got a new splitId before we had all the packets from the first splitId"},
        {{{1, 0, 2}, {1, 2, 2}},
         "CCommBase::RecvHandler: When trying to check the next packet in a list of splitted packets: The "
         "new "
         "splitId is not splitId+1"},
    };
    for (const Case& k : cases) {
        c.In().InsertLast(Raw("before"));
        for (auto& s : k.run)
            c.In().InsertLast(split(s[0], s[1], s[2]));
        c.In().InsertLast(Raw("after"));
        int32_t r = c.RecvHandler();
        if (k.error == nullptr) {
            EXPECT_EQ(r, TRUE);
        } else {
            EXPECT_EQ(r, FALSE);
            EXPECT_EQ(LastError(), Pattern(k.error));
        }
        // The packet ahead of the run was delivered; the run and what
        // follows it wait.
        EXPECT_EQ(TakeRaw(c), "before");
        EXPECT_EQ(c.NumTransferIn(), static_cast<int32_t>(k.run.size()) + 1);
        for (c.In().First(); c.In().Exists(); c.In().Next())
            xFreeMem(c.In().Get(), __FILE__, __LINE__);
        c.In().KillAll();
        c.AckInData();
    }
}

TEST_F(CommTest, PingAnswersAndTimesOutOnTheTestClock)
{
    tvp::TestSetManualClock(true, 1000);
    TestComm c;
    c.SetObjName("t");
    int32_t timedOut = -1;
    EXPECT_EQ(c.PingHandler(timedOut), FALSE);
    EXPECT_EQ(LastError(), "CCommBase::PingHandler: connected is not TRUE, this object is not connected.");
    c.SetConnected(1);

    // A ping from the peer is answered first in the out list; our own first
    // ping goes in front of that.
    auto* ping =
        static_cast<SXPacketProtocolPing*>(xAllocTracked(sizeof(SXPacketProtocolPing), __FILE__, __LINE__));
    ping->SXPacketProtocolPing_Init();
    c.In().InsertLast(ping);
    EXPECT_EQ(c.PingHandler(timedOut), TRUE);
    EXPECT_EQ(timedOut, 0);
    EXPECT_EQ(c.NumTransferIn(), 0);
    ASSERT_EQ(c.NumTransferOut(), 2);
    c.Out().First();
    EXPECT_EQ(SXPacketProtocolHeader::From(static_cast<SXPacket*>(c.Out().Get()))->GetProtocolType(),
              PACKET_PROTOCOL_PING);
    c.Out().Next();
    EXPECT_EQ(SXPacketProtocolHeader::From(static_cast<SXPacket*>(c.Out().Get()))->GetProtocolType(),
              PACKET_PROTOCOL_PINGANSWER);

    // No answer: no second ping while one is pending, a time-out at 30 s.
    tvp::TestAdvanceClock(29999);
    EXPECT_EQ(c.PingHandler(timedOut), TRUE);
    EXPECT_EQ(timedOut, 0);
    EXPECT_EQ(c.NumTransferOut(), 2);
    tvp::TestAdvanceClock(1);
    EXPECT_EQ(c.PingHandler(timedOut), TRUE);
    EXPECT_EQ(timedOut, 1);

    // The answer clears the pending ping; the next ping follows at once
    // since more than 15 s have passed.
    auto* answer = static_cast<SXPacketProtocolPingAnswer*>(
        xAllocTracked(sizeof(SXPacketProtocolPingAnswer), __FILE__, __LINE__));
    answer->SXPacketProtocolPingAnswer_Init();
    c.In().InsertLast(answer);
    EXPECT_EQ(c.PingHandler(timedOut), TRUE);
    EXPECT_EQ(timedOut, 0);
    EXPECT_EQ(c.NumTransferIn(), 0);
    EXPECT_EQ(c.NumTransferOut(), 3);
    tvp::TestAdvanceClock(14999);
    EXPECT_EQ(c.PingHandler(timedOut), TRUE);
    EXPECT_EQ(c.NumTransferOut(), 3);
    tvp::TestSetManualClock(false);
}

TEST_F(CommTest, LogFileRecords)
{
    TestComm c;
    c.SetObjName("t");
    c.SetLogFileName("c.log");
    c.SetConnected(1);
    c.SetPacketTypes(1, 0);
    c.SendRawData("abc", 3); // logging off: nothing written
    c.SetLog(1);
    c.AckOutData();
    c.SendRawData("xyz", 3);
    std::ifstream f("c.log", std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string text = ss.str();
    const std::string stars = "********************************************\n";
    EXPECT_EQ(text.rfind(
                  stars + stars + ">Sending packet< | Object name: t | Class name: TestComm\nTimestamp: ", 0),
              0u)
        << text;
    EXPECT_NE(text.find("  |  Address: "), std::string::npos);
    EXPECT_NE(text.find(std::string("*********\nPCKT\x01", 14)), std::string::npos);
    EXPECT_NE(text.find("xyz\n*********\n" + stars + stars + "\n"), std::string::npos);
    EXPECT_EQ(text.find("abc"), std::string::npos);
}

TEST_F(CommTest, RegistriesStartTwiceAndReportMissingLists)
{
    EXPECT_EQ(CommBaseStartup(), TRUE); // the first set is destroyed, no leak
    CommBaseExit();
    CCommRemoteClient c;
    EXPECT_EQ(RemoteClientList_Add(&c), FALSE);
    EXPECT_EQ(LastError(), "RemoteClientList_Add:glb->remoteClientRegList is NULL");
    EXPECT_EQ(AddCommNodeToComm(nullptr), FALSE);
    EXPECT_EQ(LastError(), "AddCommNodeToComm: glb->localClientRegList is NULL");
    ASSERT_EQ(CommBaseStartup(), TRUE);
}

TEST_F(CommTest, ObjectNamesFromParts)
{
    CCommRemoteClient client;
    CCommRemoteServer server;
    struct {
        int parts;
        const char* a;
        const char* b;
        uint32_t n;
        const char* want;
    } cases[] = {
        {1, "player", nullptr, 7, "player7"},
        {2, "game", "link", 0, "gamelink"},
        {3, "room", "seat", 12, "roomseat12"},
        {3, nullptr, "seat", 3, "seat3"},
    };
    for (const auto& c : cases) {
        if (c.parts == 1) {
            EXPECT_EQ(client.SetObjName(c.a, c.n), TRUE);
            EXPECT_EQ(server.SetObjName(c.a, c.n), TRUE);
        } else if (c.parts == 2) {
            EXPECT_EQ(client.SetObjName(c.a, c.b), TRUE);
            EXPECT_EQ(server.SetObjName(c.a, c.b), TRUE);
        } else {
            EXPECT_EQ(client.SetObjName(c.a, c.b, c.n), TRUE);
            EXPECT_EQ(server.SetObjName(c.a, c.b, c.n), TRUE);
        }
        EXPECT_STREQ(client.GetObjName(), c.want);
        EXPECT_STREQ(server.GetObjName(), c.want);
    }
}
