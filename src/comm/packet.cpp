// Packets: header and node-header validation, the field accessors, and the
// helpers that build a packet from its parts and take one apart. Every read
// of a field beyond the 12-byte header is preceded by a check that the packet
// size covers it, so a packet whose block is exactly its packet size long is
// never read outside that block, whatever its bytes say.
#include <tarvex/packet.h>

#include <tarvex/error.h>
#include <tarvex/memory.h>
#include <tarvex/strings.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

static_assert(std::is_standard_layout_v<SXPacket> && std::is_trivially_copyable_v<SXPacket>);
static_assert(sizeof(SXPacket) == 12);
static_assert(std::is_standard_layout_v<SXPacketCNode> && sizeof(SXPacketCNode) == 29);
static_assert(offsetof(SXPacketCNode, nodeId) == 12 && offsetof(SXPacketCNode, nodeNameSize) == 24 &&
              offsetof(SXPacketCNode, nodeName) == 28);
static_assert(std::is_standard_layout_v<SXPacketProtocolHeader> && sizeof(SXPacketProtocolHeader) == 13);
static_assert(sizeof(SXPacketProtocolPing) == 13 && sizeof(SXPacketProtocolPingAnswer) == 13 &&
              sizeof(SXPacketProtocolGetUID) == 13);
static_assert(std::is_standard_layout_v<SXPacketProtocolGetUIDAnswer> &&
              sizeof(SXPacketProtocolGetUIDAnswer) == 29);

namespace
{

// Packets are recorded in the tracker under this name.
constexpr const char* kAllocFile = "base/commb";

uint32_t g_maxPacketSize = PACKET_DEFAULT_MAX_SIZE;

uint32_t Load32(const void* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return XULONG_FromStdToProc(v);
}

void Store32(void* p, uint32_t v)
{
    v = XULONG_FromProcToStd(v);
    std::memcpy(p, &v, 4);
}

uint8_t* Bytes(void* record)
{
    return static_cast<uint8_t*>(record);
}

int32_t Fail(const char* text)
{
    return xErrorTxt_Func(text, __FILE__, __LINE__);
}

void* AllocPacket(uint64_t size)
{
    if (size > 0xFFFFFFFFu)
        return nullptr;
    return xAllocTracked(static_cast<uint32_t>(size), kAllocFile, __LINE__);
}

} // namespace

void xSetMaxPacketSize(uint32_t bytes)
{
    if (bytes == 0)
        bytes = PACKET_DEFAULT_MAX_SIZE;
    g_maxPacketSize = bytes < PACKET_HEADER_SIZE ? PACKET_HEADER_SIZE : bytes;
}

uint32_t xGetMaxPacketSize()
{
    return g_maxPacketSize;
}

// ---------------------------------------------------------------- SXPacket

void SXPacket::SXPacket_Init()
{
    std::memset(this, 0, 8);
    Store32(packetSize, PACKET_HEADER_SIZE);
}

void SXPacket::MakePacket(uint8_t type, uint32_t size)
{
    std::memcpy(magic, "PCKT", 4);
    packetType = type;
    splitIndex = 0;
    maxSplitIndex = 0;
    splitId = 0;
    Store32(packetSize, size);
}

int32_t SXPacket::ValidateHeader() const
{
    uint32_t size = Load32(packetSize);
    if (size < PACKET_HEADER_SIZE)
        return Fail("SXPacket::ValidateHeader: Packetsize is invalid (smaller than the packetheader witch is "
                    "impossible)");
    if (packetType < PACKET_TYPE_RAW || packetType > PACKET_TYPE_SPLIT)
        return Fail("SXPacket::ValidateHeader: Invalid header, not supported type (PACKET_TYPE_RAW, "
                    "PACKET_TYPE_CNODE, PACKET_TYPE_CNODEREG or PACKET_TYPE_CNODEUNREG.");
    if (std::memcmp(magic, "PCKT", 4) != 0)
        return Fail("SXPacket::ValidateHeader: Invalid header, headerstring is not PCKT.");
    // A receiver allocates what the header announces: refuse sizes no
    // application of this library sends before anything is allocated.
    if (size > g_maxPacketSize)
        return Fail("SXPacket::ValidateHeader: Packetsize is invalid (larger than the maximum packet size)");
    return TRUE;
}

int32_t SXPacket::MakeNewPacket(SXPacket*& copy) const
{
    if (!ValidateHeader())
        return Fail("SXPacket::MakeNewPacket: ValidateHeader returned error.");
    uint32_t size = Load32(packetSize);
    void* block = AllocPacket(size);
    if (block == nullptr)
        return Fail("SXPacket::MakeNewPacket: Unable to allocate memory");
    std::memcpy(block, this, size);
    copy = static_cast<SXPacket*>(block);
    return TRUE;
}

int32_t SXPacket::GetPacketType(uint8_t& type) const
{
    if (!ValidateHeader())
        return Fail("SXPacket::GetPacketType: ValidateHeader returned error.");
    type = packetType;
    return TRUE;
}

int32_t SXPacket::GetSplitIndex(uint8_t& index) const
{
    if (!ValidateHeader())
        return Fail("SXPacket::GetSplitIndex: ValidateHeader returned error.");
    index = splitIndex;
    return TRUE;
}

int32_t SXPacket::GetMaxSplitIndex(uint8_t& index) const
{
    if (!ValidateHeader())
        return Fail("SXPacket::GetMaxSplitIndex: ValidateHeader returned error.");
    index = maxSplitIndex;
    return TRUE;
}

int32_t SXPacket::GetSplitId(uint8_t& id) const
{
    if (!ValidateHeader())
        return Fail("SXPacket::GetSplitId: ValidateHeader returned error.");
    id = splitId;
    return TRUE;
}

int32_t SXPacket::GetPacketSize(uint32_t& size) const
{
    if (!ValidateHeader())
        return Fail("SXPacket::GetPacketSize: ValidateHeader returned error.");
    size = Load32(packetSize);
    return TRUE;
}

int32_t SXPacket::GetDataPtr(void*& data)
{
    if (!ValidateHeader())
        return Fail("SXPacket::GetDataPtr: ValidateHeader returned error.");
    data = Bytes(this) + PACKET_HEADER_SIZE;
    return TRUE;
}

int32_t SXPacket::GetFullHeaderSize(uint32_t& size) const
{
    if (!ValidateHeader())
        return Fail("SXPacket::GetFullHeaderSize: ValidateHeader returned error.");
    size = PACKET_HEADER_SIZE;
    return TRUE;
}

// ---------------------------------------------------------------- SXPacketCNode

void SXPacketCNode::SXPacketCNode_Init()
{
    header.SXPacket_Init();
    Store32(nodeId, 0);
    Store32(nodeSessionIndex, 0);
    Store32(nodeType, 0);
    Store32(nodeNameSize, 0);
    nodeName[0] = 0;
}

int32_t SXPacketCNode::ValidateNodeHeader() const
{
    if (!header.ValidateHeader())
        return Fail("SXPacketCNode::ValidateNodeHeader: ValidateHeader returned error.");
    uint8_t type = header.packetType;
    if (type != PACKET_TYPE_CNODE && type != PACKET_TYPE_CNODEREG && type != PACKET_TYPE_CNODEUNREG)
        return Fail("SXPacketCNode::ValidateNodeHeader: Invalid header, not a node packet");
    // The name-size field itself lies inside the node header: the packet
    // must cover that header before the field is read.
    uint32_t size = Load32(header.packetSize);
    if (size < PACKET_CNODE_HEADER_SIZE || Load32(nodeNameSize) > size - PACKET_CNODE_HEADER_SIZE)
        return Fail(
            "SXPacketCNode::ValidateNodeHeader: Invalid header, packet header is smaller than the size of "
            "a nodepacket header");
    uint32_t nt = Load32(nodeType);
    if (nt != CNODE_ANY && nt != CNODE_SERVER && nt != CNODE_CLIENT)
        return Fail("SXPacketCNode::ValidateNodeHeader: Invalid header, nodetype is invalid.");
    return TRUE;
}

namespace
{

// The common steps of the node getters; the field is read only when all pass.
int32_t CheckNodeField(const SXPacketCNode& p, const char* validateMsg, const char* sizeMsg,
                       const char* smallMsg)
{
    if (!p.ValidateNodeHeader())
        return Fail(validateMsg);
    uint32_t size = 0;
    if (!p.header.GetPacketSize(size))
        return Fail(sizeMsg);
    if (size < PACKET_CNODE_HEADER_SIZE)
        return Fail(smallMsg);
    return TRUE;
}

} // namespace

int32_t SXPacketCNode::GetNodeId(uint32_t& id) const
{
    if (!CheckNodeField(*this, "SXPacketCNode::GetNodeId: ValidateNodeHeader returned error.",
                        "SXPacketCNode::GetNodeId: GetPacketSize failed.",
                        "SXPacketCNode::GetNodeId: Packet size is to small to be a node packet."))
        return FALSE;
    id = Load32(nodeId);
    return TRUE;
}

int32_t SXPacketCNode::GetNodeSessionIndex(uint32_t& index) const
{
    if (!CheckNodeField(*this, "SXPacketCNode::GetNodeSessionIndex: ValidateNodeHeader returned error.",
                        "SXPacketCNode::GetNodeSessionIndex: GetPacketSize failed.",
                        "SXPacketCNode::GetNodeSessionIndex: Packet size is to small to be a node packet."))
        return FALSE;
    index = Load32(nodeSessionIndex);
    return TRUE;
}

int32_t SXPacketCNode::GetNodeType(uint32_t& type) const
{
    if (!CheckNodeField(*this, "SXPacketCNode::GetNodeType: ValidateNodeHeader returned error.",
                        "SXPacketCNode::GetNodeType: GetPacketSize failed.",
                        "SXPacketCNode::GetNodeType: Packet size is to small to be a node packet."))
        return FALSE;
    type = Load32(nodeType);
    return TRUE;
}

int32_t SXPacketCNode::GetNodeNameSize(uint32_t& size) const
{
    if (!CheckNodeField(*this, "SXPacketCNode::GetNodeNameSize: ValidateNodeHeader returned error.",
                        "SXPacketCNode::GetNodeNameSize: GetPacketSize failed.",
                        "SXPacketCNode::GetNodeNameSize: Packet size is to small to be a node packet."))
        return FALSE;
    size = Load32(nodeNameSize);
    return TRUE;
}

char* SXPacketCNode::GetNodeName()
{
    if (!ValidateNodeHeader()) {
        Fail("SXPacketCNode::GetNodeName: ValidateNodeHeader returned error.");
        return nullptr;
    }
    uint32_t size = 0, nameSize = 0;
    if (!header.GetPacketSize(size)) {
        Fail("SXPacketCNode::GetNodeName: GetPacketSize failed.");
        return nullptr;
    }
    if (!GetNodeNameSize(nameSize)) {
        Fail("SXPacketCNode::GetNodeName: GetNodeNameSize failed.");
        return nullptr;
    }
    if (size < PACKET_CNODE_HEADER_SIZE) {
        Fail("SXPacketCNode::GetNodeName: Packet size is to small to be a node packet.");
        return nullptr;
    }
    if (nameSize > size - PACKET_CNODE_HEADER_SIZE) {
        Fail("SXPacketCNode::GetNodeName: Packet size is to small to be able to inlude the whole nodename.");
        return nullptr;
    }
    char* name = reinterpret_cast<char*>(Bytes(this) + offsetof(SXPacketCNode, nodeName));
    if (name[nameSize] != 0) {
        Fail("SXPacketCNode::GetNodeName: Node name is not correctly NULL terminated.");
        return nullptr;
    }
    return name;
}

int32_t SXPacketCNode::GetFullNodeHeaderSize(uint32_t& size) const
{
    uint32_t nameSize;
    if (!GetNodeNameSize(nameSize))
        return Fail("SXPacketCNode::GetFullNodeHeaderSize: GetNodeNameSize returned error.");
    size = PACKET_CNODE_HEADER_SIZE + nameSize;
    return TRUE;
}

int32_t SXPacketCNode::GetNodeDataPtr(void*& data)
{
    uint32_t full = 0;
    if (!GetFullNodeHeaderSize(full))
        return Fail("SXPacketCNode::GetNodeDataPtr: GetFullNodeHeaderSize returned error.");
    data = Bytes(this) + full;
    return TRUE;
}

void SXPacketCNode::SetNodeId(uint32_t id)
{
    Store32(nodeId, id);
}
void SXPacketCNode::SetNodeSessionIndex(uint32_t index)
{
    Store32(nodeSessionIndex, index);
}
void SXPacketCNode::SetNodeType(uint32_t type)
{
    Store32(nodeType, type);
}
void SXPacketCNode::SetNodeNameSize(uint32_t size)
{
    Store32(nodeNameSize, size);
}

int32_t SXPacketCNode::SetNodeName(const char* name)
{
    if (name == nullptr)
        name = "";
    size_t length = std::strlen(name);
    uint32_t nameSize = Load32(nodeNameSize);
    // The name and its zero byte must also lie inside the packet size that
    // was written, so a mismatched packet is never written past its end.
    uint32_t size = Load32(header.packetSize);
    if (length != nameSize || size < PACKET_CNODE_HEADER_SIZE || nameSize > size - PACKET_CNODE_HEADER_SIZE)
        return Fail(
            "SXPacketCNode::SetNodeName: Node name don't fit (nodename size specified in packet is smaller "
            "than actual name).");
    std::memcpy(Bytes(this) + offsetof(SXPacketCNode, nodeName), name, length + 1);
    return TRUE;
}

// ---------------------------------------------------------------- protocol packets

void SXPacketProtocolHeader::SXPacketProtocolHeader_Init()
{
    header.SXPacket_Init();
    protocolType = 0;
}

namespace
{
void MakeProtocol(SXPacketProtocolHeader& p, uint8_t protocolType, uint32_t size)
{
    p.SXPacketProtocolHeader_Init();
    p.header.MakePacket(PACKET_TYPE_PROTOCOL, size);
    p.protocolType = protocolType;
}
} // namespace

void SXPacketProtocolPing::SXPacketProtocolPing_Init()
{
    MakeProtocol(protocol, PACKET_PROTOCOL_PING, 13);
}
void SXPacketProtocolPingAnswer::SXPacketProtocolPingAnswer_Init()
{
    MakeProtocol(protocol, PACKET_PROTOCOL_PINGANSWER, 13);
}
void SXPacketProtocolGetUID::SXPacketProtocolGetUID_Init()
{
    MakeProtocol(protocol, PACKET_PROTOCOL_GETUID, 13);
}

void SXPacketProtocolGetUIDAnswer::SXPacketProtocolGetUIDAnswer_Init()
{
    MakeProtocol(protocol, PACKET_PROTOCOL_GETUIDANSWER, 29);
    std::memset(uid, 0, sizeof uid);
}

void SXPacketProtocolGetUIDAnswer::SetUID(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    Store32(uid[0], a);
    Store32(uid[1], b);
    Store32(uid[2], c);
    Store32(uid[3], d);
}

void SXPacketProtocolGetUIDAnswer::GetUID(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) const
{
    a = Load32(uid[0]);
    b = Load32(uid[1]);
    c = Load32(uid[2]);
    d = Load32(uid[3]);
}

// ---------------------------------------------------------------- build and extract

SXPacket* BuildPacket(uint8_t type, uint32_t nodeId, const char* nodeName, uint32_t nodeType,
                      uint32_t sessionIndex, const char* data, uint32_t dataSize)
{
    if (type == PACKET_TYPE_RAW) {
        // Sizes are computed wide: a 32-bit sum could wrap to a small block.
        uint64_t total = uint64_t{PACKET_HEADER_SIZE} + dataSize;
        if (total > g_maxPacketSize) {
            Fail("BuildPacket: Packet size is larger than the maximum packet size");
            return nullptr;
        }
        auto* p = static_cast<SXPacket*>(AllocPacket(total));
        if (p == nullptr) {
            Fail("BuildPacket: Unable to allocate memory for packet (rawpacket)");
            return nullptr;
        }
        p->SXPacket_Init();
        p->MakePacket(PACKET_TYPE_RAW, static_cast<uint32_t>(total));
        if (dataSize > 0 && data != nullptr)
            std::memcpy(Bytes(p) + PACKET_HEADER_SIZE, data, dataSize);
        return p;
    }
    if (type == PACKET_TYPE_CNODE || type == PACKET_TYPE_CNODEREG || type == PACKET_TYPE_CNODEUNREG) {
        if (nodeName == nullptr)
            nodeName = "";
        if (nodeType != CNODE_ANY && nodeType != CNODE_SERVER && nodeType != CNODE_CLIENT) {
            Fail("BuildPacket: nodetype is invalid (not CNODE_ANY, CNODE_SERVER or CNODE_CLIENT)");
            return nullptr;
        }
        uint64_t n = std::strlen(nodeName);
        uint64_t total = PACKET_CNODE_HEADER_SIZE + n + dataSize;
        if (total > g_maxPacketSize) {
            Fail("BuildPacket: Packet size is larger than the maximum packet size");
            return nullptr;
        }
        void* block = AllocPacket(total);
        if (block == nullptr) {
            Fail("BuildPacket: Unable to allocate memory for packet (nodepacket)");
            return nullptr;
        }
        auto* p = static_cast<SXPacketCNode*>(block);
        p->SXPacketCNode_Init();
        p->MakePacket(type, static_cast<uint32_t>(total));
        p->SetNodeNameSize(static_cast<uint32_t>(n));
        p->SetNodeName(nodeName);
        p->SetNodeId(nodeId);
        p->SetNodeSessionIndex(sessionIndex);
        p->SetNodeType(nodeType);
        if (dataSize > 0 && data != nullptr)
            std::memcpy(Bytes(block) + PACKET_CNODE_HEADER_SIZE + n, data, dataSize);
        return p->Packet();
    }
    Fail("BuildPacket: Not a valid packet type.");
    return nullptr;
}

int32_t ExtractPacket(SXPacket* packet, uint8_t& type, uint32_t& nodeId, char*& nodeName, uint32_t& nodeType,
                      uint32_t& sessionIndex, char*& data, uint32_t& dataSize)
{
    nodeId = 0;
    nodeName = nullptr;
    if (packet == nullptr || !packet->ValidateHeader())
        return FALSE;
    if (!packet->GetPacketType(type))
        return Fail("ExtractPacket: GetPacketType failed.");
    uint32_t size = 0;
    if (!packet->GetPacketSize(size))
        return Fail("ExtractPacket: GetPacketSize failed.");

    if (type == PACKET_TYPE_RAW) {
        uint32_t n = size - PACKET_HEADER_SIZE;
        auto* buf = static_cast<char*>(xAllocTracked(n, kAllocFile, __LINE__));
        if (buf == nullptr)
            return Fail("ExtractPacket: Unable to allocate memory (rawpacket)");
        std::memcpy(buf, Bytes(packet) + PACKET_HEADER_SIZE, n);
        data = buf;
        dataSize = n;
        return TRUE;
    }
    if (type == PACKET_TYPE_CNODE || type == PACKET_TYPE_CNODEREG || type == PACKET_TYPE_CNODEUNREG) {
        SXPacketCNode* node = SXPacketCNode::From(packet);
        if (size < PACKET_CNODE_HEADER_SIZE)
            return Fail("ExtractPacket: Packetsize is invalid (smaller than the size of a nodepacket header "
                        "(nodepacket)");
        uint32_t id, nt, nameSize, session;
        if (!node->GetNodeId(id))
            return Fail("ExtractPacket: GetNodeId failed.");
        if (!node->GetNodeType(nt))
            return Fail("ExtractPacket: GetNodeType failed.");
        if (!node->GetNodeNameSize(nameSize))
            return Fail("ExtractPacket: GetNodeNameSize failed.");
        if (nameSize > size - PACKET_CNODE_HEADER_SIZE)
            return Fail(
                "ExtractPacket: Invalid packetsize, packetsize is smaller than the size of a nodpacket "
                "header+length of nodename (nodepacket)");
        uint32_t n = size - PACKET_CNODE_HEADER_SIZE - nameSize;
        auto* buf = static_cast<char*>(xAllocTracked(n, kAllocFile, __LINE__));
        if (buf == nullptr)
            return Fail("ExtractPacket: Unable to allocate memory (nodepacket)");
        std::memcpy(buf, Bytes(packet) + PACKET_CNODE_HEADER_SIZE + nameSize, n);
        char* name = node->GetNodeName();
        // Nothing half-done reaches the caller: a failing late step takes
        // the data block back.
        if (name == nullptr || !node->GetNodeSessionIndex(session)) {
            xFreeMem(buf, kAllocFile, __LINE__);
            nodeId = 0;
            if (name == nullptr)
                return Fail("ExtractPacket: GetNodeName failed.");
            return Fail("ExtractPacket: GetNodeSessionIndex failed.");
        }
        nodeId = id;
        nodeType = nt;
        nodeName = name;
        sessionIndex = session;
        data = buf;
        dataSize = n;
        return TRUE;
    }
    return Fail("ExtractPacket: Invalid header, not a valid type of packet");
}
