// Every queue a peer can fill is bounded: a raw peer floods one of them and
// the connection is dropped at its bound, the memory held staying within it.
#include "proxy_util.h"

#include <tarvex/commnode.h>

using tvproxy::RawClient;
using tvtest::LastError;
using tvtest::Listener;

namespace
{

std::string Bytes(SXPacket* p)
{
    uint32_t n = 0;
    p->GetPacketSize(n);
    std::string s(reinterpret_cast<const char*>(p), n);
    xFreeMem(p, __FILE__, __LINE__);
    return s;
}

std::string Raw(uint32_t dataSize)
{
    std::string data(dataSize, 'r');
    return Bytes(BuildPacket(PACKET_TYPE_RAW, 0, "", 0, 0, data.data(), dataSize));
}

std::string Registration(const std::string& name)
{
    return Bytes(BuildPacket(PACKET_TYPE_CNODEREG, 1, name.c_str(), CNODE_ANY, 0, nullptr, 0));
}

std::string NodeData(const std::string& name, uint32_t dataSize)
{
    std::string data(dataSize, 'n');
    return Bytes(BuildPacket(PACKET_TYPE_CNODE, 1, name.c_str(), CNODE_ANY, 0, data.data(), dataSize));
}

// The first of a split run that never gets its rest: what comes behind it
// waits in the connection.
std::string StuckSplit()
{
    std::string h = tvtest::Header(PACKET_TYPE_SPLIT, 16) + "abcd";
    h[5] = 0; // split index
    h[6] = 0; // last index
    h[7] = 9; // split id
    return h;
}

std::string Times(const std::string& s, uint32_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (uint32_t i = 0; i < n; ++i)
        out += s;
    return out;
}

struct FloodCase {
    const char* name;
    std::string bytes;
    // What the accepted object held when it was dropped must stay within this.
    int32_t (*held)(CCommRemoteClient& c, CCommNode& node);
    int32_t bound;
};

class FloodTest : public tvtest::CommTest
{
};

TEST_F(FloodTest, EachPeerFedQueueDropsTheConnectionAtItsBound)
{
    const uint32_t big = 30u << 20;
    std::string manyNames;
    for (uint32_t i = 0; i <= COMM_OTHER_SIDE_NODES_MAX; ++i)
        manyNames += Registration("name" + std::to_string(i));
    const FloodCase cases[] = {
        {"raw queue by bytes", Times(Raw(big), 3),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumRecvQuePackets(); }, 2},
        {"raw queue by packets", Times(Raw(0), COMM_RECV_QUEUE_MAX_PACKETS + 1),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumRecvQuePackets(); },
         static_cast<int32_t>(COMM_RECV_QUEUE_MAX_PACKETS)},
        {"announced nodes", manyNames,
         [](CCommRemoteClient& c, CCommNode&) {
             int32_t n = 0;
             for (c.OtherSideNodes_First(); c.OtherSideNodes_Exists(); c.OtherSideNodes_Next())
                 ++n;
             return n;
         },
         static_cast<int32_t>(COMM_OTHER_SIDE_NODES_MAX)},
        {"node queue by bytes", Registration("flood") + Times(NodeData("flood", big), 3),
         [](CCommRemoteClient&, CCommNode& node) { return node.NumQueuedPackets(); }, 2},
        {"node queue by packets", Registration("flood") + Times(NodeData("flood", 0), COMMNODE_RECV_QUEUE_MAX_PACKETS + 1),
         [](CCommRemoteClient&, CCommNode& node) { return node.NumQueuedPackets(); },
         static_cast<int32_t>(COMMNODE_RECV_QUEUE_MAX_PACKETS)},
        {"unhandled packets by number", StuckSplit() + Times(Raw(0), COMM_TRANSFER_IN_MAX_PACKETS + 1),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumTransferIn(); },
         static_cast<int32_t>(COMM_TRANSFER_IN_MAX_PACKETS)},
        {"unhandled packets by bytes", StuckSplit() + Times(Raw(big), 3),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumTransferIn(); }, 3},
    };
    for (const FloodCase& fc : cases) {
        SCOPED_TRACE(fc.name);
        auto l = std::make_unique<Listener>();
        ASSERT_TRUE(l->Start()) << LastError();
        CCommNode node;
        node.SetId(1);
        node.SetName("flood");
        node.SetInAckMode(FALSE);
        ASSERT_EQ(node.InitCommNode(CNODE_ANY), TRUE) << LastError();
        RawClient peer(l->Port());
        peer.out = fc.bytes;
        ASSERT_TRUE(l->Accept()) << LastError();
        int32_t most = 0;
        bool dropped = tvtest::Pump(
            [&] {
                peer.Step();
                most = std::max(most, fc.held(l->accepted, node));
                return l->accepted.IsConnected() == 0;
            },
            20000);
        EXPECT_TRUE(dropped) << LastError();
        EXPECT_LE(most, fc.bound);
        // The peer sees its connection closed.
        EXPECT_TRUE(tvtest::Until([&] {
            peer.Step();
            return peer.eof;
        }));
        node.ExitCommNode();
    }
}

} // namespace
