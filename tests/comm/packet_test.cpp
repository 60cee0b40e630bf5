// Packets: header and node-header validation with their messages, the
// builders and the extractor, the protocol records and the size limit.
#include "tarvex_test.h"

#include <cstring>
#include <string>
#include <vector>

using tvtest::LastError;

namespace
{

class PacketTest : public tvtest::TarvexTest
{
};

// A packet as a receiver holds it: one tracked block of exactly its size.
struct Block {
    explicit Block(const std::vector<uint8_t>& bytes)
    {
        p = static_cast<uint8_t*>(XALLOC(bytes.size()));
        std::memcpy(p, bytes.data(), bytes.size());
    }
    ~Block() { XFREE(p); }
    SXPacket* packet() { return reinterpret_cast<SXPacket*>(p); }
    SXPacketCNode* node() { return reinterpret_cast<SXPacketCNode*>(p); }
    uint8_t* p;
};

std::vector<uint8_t> Header(const char* magic, uint8_t type, uint32_t size)
{
    std::vector<uint8_t> b(magic, magic + 4);
    b.insert(b.end(), {type, 0, 0, 0});
    b.insert(b.end(), {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
    return b;
}

void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

// A node packet with explicit fields; the block is padded to size.
std::vector<uint8_t> NodePacket(uint8_t type, uint32_t size, uint32_t nodeType, uint32_t nameSize,
                                const std::string& nameBytes)
{
    auto b = Header("PCKT", type, size);
    Put32(b, 7);
    Put32(b, 9);
    Put32(b, nodeType);
    Put32(b, nameSize);
    b.insert(b.end(), nameBytes.begin(), nameBytes.end());
    b.resize(size < b.size() ? b.size() : size, 0);
    return b;
}

const char* const kSizeMsg =
    "SXPacket::ValidateHeader: Packetsize is invalid (smaller than the packetheader witch is impossible)";
const char* const kTypeMsg = "SXPacket::ValidateHeader: Invalid header, not supported type (PACKET_TYPE_RAW, "
                             "PACKET_TYPE_CNODE, PACKET_TYPE_CNODEREG or PACKET_TYPE_CNODEUNREG.";
const char* const kMagicMsg = "SXPacket::ValidateHeader: Invalid header, headerstring is not PCKT.";

TEST_F(PacketTest, HeaderValidationOrderAndMessages)
{
    struct Case {
        const char* magic;
        uint8_t type;
        uint32_t size;
        const char* message; // null: valid
    } cases[] = {
        {"PCKT", 1, 12, nullptr},
        {"PCKT", 6, 40, nullptr},
        {"XXXX", 9, 11, kSizeMsg}, // size is checked first
        {"PCKT", 1, 0, kSizeMsg},
        {"PCKT", 7, 12, kTypeMsg},
        {"PCKT", 0, 12, kTypeMsg},
        {"XXXX", 0, 12, kTypeMsg},
        {"PCKt", 1, 12, kMagicMsg},
        {"PCKT", 1, PACKET_DEFAULT_MAX_SIZE, nullptr},
        {"PCKT", 1, PACKET_DEFAULT_MAX_SIZE + 1,
         "SXPacket::ValidateHeader: Packetsize is invalid (larger than the maximum packet size)"},
        {"PCKT", 2, 0xFFFFFFFFu,
         "SXPacket::ValidateHeader: Packetsize is invalid (larger than the maximum packet size)"},
    };
    for (const auto& c : cases) {
        Block b(Header(c.magic, c.type, c.size)); // header bytes only: nothing past 12 may be read
        glb->error.Clear();
        EXPECT_EQ(b.packet()->ValidateHeader(), c.message == nullptr ? TRUE : FALSE)
            << c.magic << int(c.type);
        if (c.message != nullptr) {
            EXPECT_EQ(LastError(), c.message);
        }
    }
}

TEST_F(PacketTest, GettersFailWithoutWritingOnBadHeader)
{
    Block b(Header("PCKT", 9, 12));
    uint32_t size = 1234;
    uint8_t type = 77;
    void* data = &size;
    EXPECT_EQ(b.packet()->GetPacketSize(size), FALSE);
    EXPECT_EQ(LastError(), "SXPacket::GetPacketSize: ValidateHeader returned error.");
    EXPECT_EQ(b.packet()->GetPacketType(type), FALSE);
    EXPECT_EQ(b.packet()->GetDataPtr(data), FALSE);
    EXPECT_EQ(LastError(), "SXPacket::GetDataPtr: ValidateHeader returned error.");
    EXPECT_EQ(size, 1234u);
    EXPECT_EQ(type, 77);
    EXPECT_EQ(data, &size);
}

TEST_F(PacketTest, NodeHeaderValidation)
{
    const char* bad =
        "SXPacketCNode::ValidateNodeHeader: Invalid header, packet header is smaller than the size of a "
        "nodepacket header";
    struct Case {
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {NodePacket(2, 31, CNODE_ANY, 2, std::string("ab\0", 3)), nullptr},
        {NodePacket(3, 29, CNODE_CLIENT, 0, std::string("\0", 1)), nullptr},
        {NodePacket(1, 31, CNODE_ANY, 2, std::string("ab\0", 3)),
         "SXPacketCNode::ValidateNodeHeader: Invalid header, not a node packet"},
        {Header("PCKT", 2, 12), bad}, // too small to hold the name-size field
        {NodePacket(2, 28, CNODE_ANY, 0, ""), bad},
        {NodePacket(2, 31, CNODE_ANY, 3, std::string("ab\0", 3)), bad},
        {NodePacket(2, 40, CNODE_ANY, 0xFFFFFFF0u, ""), bad}, // no wrap-around
        {NodePacket(4, 31, 4, 2, std::string("ab\0", 3)),
         "SXPacketCNode::ValidateNodeHeader: Invalid header, nodetype is invalid."},
        {NodePacket(4, 31, 0, 2, std::string("ab\0", 3)),
         "SXPacketCNode::ValidateNodeHeader: Invalid header, nodetype is invalid."},
        {Header("PCKX", 2, 40), "SXPacketCNode::ValidateNodeHeader: ValidateHeader returned error."},
    };
    for (auto& c : cases) {
        Block b(c.bytes);
        glb->error.Clear();
        EXPECT_EQ(b.node()->ValidateNodeHeader(), c.message == nullptr ? TRUE : FALSE);
        if (c.message != nullptr) {
            EXPECT_EQ(LastError(), c.message);
        }
    }
}

TEST_F(PacketTest, NodeGettersFollowValidation)
{
    Block bad(NodePacket(2, 31, 4, 2, std::string("ab\0", 3)));
    uint32_t v = 5;
    EXPECT_EQ(bad.node()->GetNodeId(v), FALSE);
    EXPECT_EQ(LastError(), "SXPacketCNode::GetNodeId: ValidateNodeHeader returned error.");
    EXPECT_EQ(bad.node()->GetNodeType(v), FALSE);
    EXPECT_EQ(bad.node()->GetNodeSessionIndex(v), FALSE);
    EXPECT_EQ(bad.node()->GetNodeNameSize(v), FALSE);
    EXPECT_EQ(v, 5u);
    EXPECT_EQ(bad.node()->GetNodeName(), nullptr);
    EXPECT_EQ(bad.node()->GetFullNodeHeaderSize(v), FALSE);
    EXPECT_EQ(LastError(), "SXPacketCNode::GetFullNodeHeaderSize: GetNodeNameSize returned error.");
    void* data = nullptr;
    EXPECT_EQ(bad.node()->GetNodeDataPtr(data), FALSE);
    EXPECT_EQ(LastError(), "SXPacketCNode::GetNodeDataPtr: GetFullNodeHeaderSize returned error.");

    Block unterminated(NodePacket(2, 33, CNODE_SERVER, 2, "abcd"));
    EXPECT_EQ(unterminated.node()->ValidateNodeHeader(), TRUE);
    EXPECT_EQ(unterminated.node()->GetNodeName(), nullptr);
    EXPECT_EQ(LastError(), "SXPacketCNode::GetNodeName: Node name is not correctly NULL terminated.");

    Block good(NodePacket(2, 35, CNODE_SERVER, 2, std::string("ab\0wxyz", 7)));
    ASSERT_EQ(good.node()->GetNodeId(v), TRUE);
    EXPECT_EQ(v, 7u);
    ASSERT_EQ(good.node()->GetNodeSessionIndex(v), TRUE);
    EXPECT_EQ(v, 9u);
    ASSERT_EQ(good.node()->GetFullNodeHeaderSize(v), TRUE);
    EXPECT_EQ(v, 31u);
    ASSERT_EQ(good.node()->GetNodeDataPtr(data), TRUE);
    EXPECT_EQ(data, good.p + 31);
    EXPECT_STREQ(good.node()->GetNodeName(), "ab");
}

TEST_F(PacketTest, BuildRawAndNodePackets)
{
    SXPacket* raw = BuildPacket(PACKET_TYPE_RAW, 1, "ignored", 99, 5, nullptr, 0);
    ASSERT_NE(raw, nullptr);
    const uint8_t expectRaw[12] = {'P', 'C', 'K', 'T', 1, 0, 0, 0, 0, 0, 0, 12};
    EXPECT_EQ(std::memcmp(raw, expectRaw, 12), 0);
    XFREE(raw);

    SXPacket* reg = BuildPacket(PACKET_TYPE_CNODEREG, 0x01020304, nullptr, CNODE_SERVER, 0, nullptr, 0);
    ASSERT_NE(reg, nullptr);
    const uint8_t expectReg[29] = {'P', 'C', 'K', 'T', 3, 0, 0, 0, 0, 0, 0, 29, 1, 2, 3,
                                   4,   0,   0,   0,   0, 0, 0, 0, 2, 0, 0, 0,  0, 0};
    EXPECT_EQ(std::memcmp(reg, expectReg, 29), 0);
    XFREE(reg);

    SXPacket* ab = BuildPacket(PACKET_TYPE_CNODE, 3, "ab", CNODE_ANY, 0, nullptr, 0);
    ASSERT_NE(ab, nullptr);
    uint32_t size = 0;
    ASSERT_EQ(ab->GetPacketSize(size), TRUE);
    EXPECT_EQ(size, 31u);
    auto* bytes = reinterpret_cast<uint8_t*>(ab);
    EXPECT_EQ(bytes[27], 2);
    EXPECT_EQ(std::memcmp(bytes + 28, "ab", 3), 0);
    void* data = nullptr;
    ASSERT_EQ(SXPacketCNode::From(ab)->GetNodeDataPtr(data), TRUE);
    EXPECT_EQ(data, bytes + 31);
    XFREE(ab);

    glb->error.Clear();
    EXPECT_EQ(BuildPacket(PACKET_TYPE_CNODE, 1, "x", 4, 0, nullptr, 0), nullptr);
    EXPECT_EQ(LastError(), "BuildPacket: nodetype is invalid (not CNODE_ANY, CNODE_SERVER or CNODE_CLIENT)");
    EXPECT_EQ(BuildPacket(PACKET_TYPE_PROTOCOL, 1, "x", 1, 0, nullptr, 0), nullptr);
    EXPECT_EQ(LastError(), "BuildPacket: Not a valid packet type.");
    // Sizes whose 32-bit sum would wrap are refused before any allocation.
    EXPECT_EQ(BuildPacket(PACKET_TYPE_RAW, 0, nullptr, 0, 0, nullptr, 0xFFFFFFF8u), nullptr);
    EXPECT_EQ(LastError(), "BuildPacket: Packet size is larger than the maximum packet size");
    EXPECT_EQ(BuildPacket(PACKET_TYPE_CNODE, 0, "n", 1, 0, nullptr, 0xFFFFFFF0u), nullptr);
}

TEST_F(PacketTest, BuildExtractRoundTrips)
{
    const char payload[] = "hello\0world";
    struct Case {
        uint8_t type;
        const char* name;
        uint32_t nodeType;
        uint32_t dataSize;
    } cases[] = {
        {PACKET_TYPE_RAW, nullptr, 0, 0},
        {PACKET_TYPE_RAW, nullptr, 0, sizeof payload},
        {PACKET_TYPE_CNODE, "node", 1, sizeof payload},
        {PACKET_TYPE_CNODE, "", 3, 5},
        {PACKET_TYPE_CNODEREG, "reg", 2, 0},
        {PACKET_TYPE_CNODEUNREG, nullptr, 3, 0},
    };
    for (const auto& c : cases) {
        SXPacket* p = BuildPacket(c.type, 0xA1B2C3D4u, c.name, c.nodeType, 0x11223344u, payload, c.dataSize);
        ASSERT_NE(p, nullptr);
        uint8_t type = 0;
        uint32_t id = 1, nodeType = 77, session = 88, size = 99;
        char* name = nullptr;
        char* data = nullptr;
        ASSERT_EQ(ExtractPacket(p, type, id, name, nodeType, session, data, size), TRUE);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, c.dataSize);
        EXPECT_EQ(std::memcmp(data, payload, c.dataSize), 0);
        if (c.type == PACKET_TYPE_RAW) {
            EXPECT_EQ(id, 0u);
            EXPECT_EQ(name, nullptr);
            EXPECT_EQ(nodeType, 77u); // left untouched
            EXPECT_EQ(session, 88u);
        } else {
            EXPECT_EQ(id, 0xA1B2C3D4u);
            EXPECT_STREQ(name, c.name != nullptr ? c.name : "");
            EXPECT_GE(name, reinterpret_cast<char*>(p)); // points into the packet
            EXPECT_EQ(nodeType, c.nodeType);
            EXPECT_EQ(session, 0x11223344u);
        }
        XFREE(data);
        XFREE(p);
    }
}

TEST_F(PacketTest, ExtractRefusesOtherTypes)
{
    SXPacketProtocolPing ping;
    ping.SXPacketProtocolPing_Init();
    uint8_t type = 0;
    uint32_t id = 5, nodeType = 0, session = 0, size = 0;
    char dummy = 0;
    char* name = &dummy;
    char* data = nullptr;
    EXPECT_EQ(ExtractPacket(ping.Packet(), type, id, name, nodeType, session, data, size), FALSE);
    EXPECT_EQ(LastError(), "ExtractPacket: Invalid header, not a valid type of packet");
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(data, nullptr);

    // A node packet with an unterminated name: nothing is handed out.
    Block b(NodePacket(2, 33, CNODE_SERVER, 2, "abcd"));
    EXPECT_EQ(ExtractPacket(b.packet(), type, id, name, nodeType, session, data, size), FALSE);
    EXPECT_EQ(data, nullptr);
}

TEST_F(PacketTest, ProtocolRecordsAreCompletePackets)
{
    SXPacketProtocolPing ping;
    ping.SXPacketProtocolPing_Init();
    SXPacketProtocolPingAnswer answer;
    answer.SXPacketProtocolPingAnswer_Init();
    SXPacketProtocolGetUIDAnswer uid;
    uid.SXPacketProtocolGetUIDAnswer_Init();
    uid.SetUID(1, 0x02030405u, 3, 0xFFFFFFFFu);
    uint32_t size = 0;
    ASSERT_EQ(ping.Packet()->GetPacketSize(size), TRUE);
    EXPECT_EQ(size, 13u);
    EXPECT_EQ(ping.protocol.GetProtocolType(), PACKET_PROTOCOL_PING);
    EXPECT_EQ(answer.protocol.GetProtocolType(), PACKET_PROTOCOL_PINGANSWER);
    ASSERT_EQ(uid.Packet()->GetPacketSize(size), TRUE);
    EXPECT_EQ(size, 29u);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&uid);
    EXPECT_EQ(bytes[4], PACKET_TYPE_PROTOCOL);
    EXPECT_EQ(bytes[12], PACKET_PROTOCOL_GETUIDANSWER);
    const uint8_t words[16] = {0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(bytes + 13, words, 16), 0);

    SXPacket* copy = nullptr;
    ASSERT_EQ(uid.Packet()->MakeNewPacket(copy), TRUE);
    EXPECT_EQ(std::memcmp(copy, &uid, 29), 0);
    XFREE(copy);
}

TEST_F(PacketTest, SetNodeNameMustMatchSizeField)
{
    SXPacket* p = BuildPacket(PACKET_TYPE_CNODE, 1, "abc", CNODE_ANY, 0, nullptr, 0);
    ASSERT_NE(p, nullptr);
    SXPacketCNode* n = SXPacketCNode::From(p);
    EXPECT_EQ(n->SetNodeName("abcd"), FALSE);
    EXPECT_EQ(LastError(),
              "SXPacketCNode::SetNodeName: Node name don't fit (nodename size specified in packet is "
              "smaller than actual name).");
    EXPECT_STREQ(n->GetNodeName(), "abc");
    EXPECT_EQ(n->SetNodeName("xyz"), TRUE);
    EXPECT_STREQ(n->GetNodeName(), "xyz");
    // A size field that claims more than the packet holds is refused too.
    n->SetNodeNameSize(4);
    EXPECT_EQ(n->SetNodeName("wxyz"), FALSE);
    XFREE(p);
}

TEST_F(PacketTest, MaximumPacketSizeIsSettable)
{
    xSetMaxPacketSize(100);
    Block ok(Header("PCKT", 1, 100));
    Block big(Header("PCKT", 1, 101));
    EXPECT_EQ(ok.packet()->ValidateHeader(), TRUE);
    EXPECT_EQ(big.packet()->ValidateHeader(), FALSE);
    EXPECT_EQ(BuildPacket(PACKET_TYPE_RAW, 0, nullptr, 0, 0, nullptr, 89), nullptr);
    SXPacket* p = BuildPacket(PACKET_TYPE_RAW, 0, nullptr, 0, 0, nullptr, 88);
    EXPECT_NE(p, nullptr);
    XFREE(p);
    xSetMaxPacketSize(0);
    EXPECT_EQ(xGetMaxPacketSize(), PACKET_DEFAULT_MAX_SIZE);
}

} // namespace
