// Packets of the comm connections: the 12-byte "PCKT" header, the node
// sub-header and the small protocol packets. The records are the wire bytes
// themselves (standard layout, byte arrays only, no virtual functions); every
// multi-byte field is big-endian and read or written through the byte-order
// helpers, never through an aligned integer access. A packet is always one
// tracked heap block whose length equals its packet size, so the accessors
// may reach past the record's declared size up to that length.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

enum : uint8_t {
    PACKET_TYPE_RAW = 1,
    PACKET_TYPE_CNODE = 2,
    PACKET_TYPE_CNODEREG = 3,
    PACKET_TYPE_CNODEUNREG = 4,
    PACKET_TYPE_PROTOCOL = 5,
    PACKET_TYPE_SPLIT = 6,
};

// Node types carried in the node sub-header.
enum : uint32_t {
    CNODE_ANY = 1,
    CNODE_SERVER = 2,
    CNODE_CLIENT = 3,
};

// Protocol types of PACKET_TYPE_PROTOCOL packets (byte at offset 12).
enum : uint8_t {
    PACKET_PROTOCOL_PING = 1,
    PACKET_PROTOCOL_PINGANSWER = 2,
    PACKET_PROTOCOL_GETUID = 3,
    PACKET_PROTOCOL_GETUIDANSWER = 4,
};

constexpr uint32_t PACKET_HEADER_SIZE = 12;
// Common header + four node fields + the zero byte of the node name.
constexpr uint32_t PACKET_CNODE_HEADER_SIZE = 29;
// Default largest packet size a receiver accepts (64 MiB).
constexpr uint32_t PACKET_DEFAULT_MAX_SIZE = 64u * 1024u * 1024u;

// The largest packet size ValidateHeader accepts; a header announcing more is
// refused like any other invalid header, before anything is allocated for it.
TARVEX_API void xSetMaxPacketSize(uint32_t bytes);
TARVEX_API uint32_t xGetMaxPacketSize();

struct TARVEX_API SXPacket {
    char magic[4];      // "PCKT"
    uint8_t packetType; // PACKET_TYPE_*
    uint8_t splitIndex;
    uint8_t maxSplitIndex;
    uint8_t splitId;
    uint8_t packetSize[4]; // big-endian, header included

    void SXPacket_Init();
    void MakePacket(uint8_t type, uint32_t size);
    int32_t ValidateHeader() const;
    int32_t MakeNewPacket(SXPacket*& copy) const;

    int32_t GetPacketType(uint8_t& type) const;
    int32_t GetSplitIndex(uint8_t& index) const;
    int32_t GetMaxSplitIndex(uint8_t& index) const;
    int32_t GetSplitId(uint8_t& id) const;
    int32_t GetPacketSize(uint32_t& size) const;
    int32_t GetDataPtr(void*& data);
    int32_t GetFullHeaderSize(uint32_t& size) const;

    void SetSplitId(uint8_t id) { splitId = id; }
    void SetSplitIndex(uint8_t index) { splitIndex = index; }
    void SetMaxSplitIndex(uint8_t index) { maxSplitIndex = index; }
};

// The same bytes seen with the node sub-header (packet types 2, 3 and 4).
struct TARVEX_API SXPacketCNode {
    SXPacket header;
    uint8_t nodeId[4];
    uint8_t nodeSessionIndex[4];
    uint8_t nodeType[4];
    uint8_t nodeNameSize[4]; // name length without its zero byte
    char nodeName[1];        // name and zero byte; node data follows

    static SXPacketCNode* From(SXPacket* p) { return reinterpret_cast<SXPacketCNode*>(p); }
    static const SXPacketCNode* From(const SXPacket* p) { return reinterpret_cast<const SXPacketCNode*>(p); }
    SXPacket* Packet() { return &header; }
    const SXPacket* Packet() const { return &header; }

    void SXPacketCNode_Init();
    int32_t ValidateNodeHeader() const;

    int32_t GetNodeId(uint32_t& id) const;
    int32_t GetNodeSessionIndex(uint32_t& index) const;
    int32_t GetNodeType(uint32_t& type) const;
    int32_t GetNodeNameSize(uint32_t& size) const;
    char* GetNodeName();
    int32_t GetFullNodeHeaderSize(uint32_t& size) const;
    int32_t GetNodeDataPtr(void*& data);

    void SetNodeId(uint32_t id);
    void SetNodeSessionIndex(uint32_t index);
    void SetNodeType(uint32_t type);
    void SetNodeNameSize(uint32_t size);
    int32_t SetNodeName(const char* name);

    // The common-header operations on the same bytes.
    int32_t ValidateHeader() const { return header.ValidateHeader(); }
    int32_t GetPacketType(uint8_t& type) const { return header.GetPacketType(type); }
    int32_t GetPacketSize(uint32_t& size) const { return header.GetPacketSize(size); }
    void MakePacket(uint8_t type, uint32_t size) { header.MakePacket(type, size); }
};

struct TARVEX_API SXPacketProtocolHeader {
    SXPacket header;
    uint8_t protocolType;

    static SXPacketProtocolHeader* From(SXPacket* p) { return reinterpret_cast<SXPacketProtocolHeader*>(p); }
    SXPacket* Packet() { return &header; }
    void SXPacketProtocolHeader_Init();
    uint8_t GetProtocolType() const { return protocolType; }
};

// The Init of each protocol kind builds the complete packet: MakePacket with
// type 5 and the kind's size, then its protocol type and fields.
struct TARVEX_API SXPacketProtocolPing {
    SXPacketProtocolHeader protocol;
    SXPacket* Packet() { return &protocol.header; }
    void SXPacketProtocolPing_Init();
};

struct TARVEX_API SXPacketProtocolPingAnswer {
    SXPacketProtocolHeader protocol;
    SXPacket* Packet() { return &protocol.header; }
    void SXPacketProtocolPingAnswer_Init();
};

struct TARVEX_API SXPacketProtocolGetUID {
    SXPacketProtocolHeader protocol;
    SXPacket* Packet() { return &protocol.header; }
    void SXPacketProtocolGetUID_Init();
};

struct TARVEX_API SXPacketProtocolGetUIDAnswer {
    SXPacketProtocolHeader protocol;
    uint8_t uid[4][4]; // four big-endian words at offsets 13, 17, 21, 25

    static SXPacketProtocolGetUIDAnswer* From(SXPacket* p)
    {
        return reinterpret_cast<SXPacketProtocolGetUIDAnswer*>(p);
    }
    SXPacket* Packet() { return &protocol.header; }
    void SXPacketProtocolGetUIDAnswer_Init();
    void SetUID(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
    void GetUID(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) const;
};

// A new packet (tracked block owned by the caller, released with xFreeMem),
// or null. The node arguments are ignored for raw packets.
TARVEX_API SXPacket* BuildPacket(uint8_t type, uint32_t nodeId, const char* nodeName, uint32_t nodeType,
                      uint32_t sessionIndex, const char* data, uint32_t dataSize);
// Takes a raw or node packet apart. data is a new block owned by the caller
// (also for dataSize 0); nodeName points into the packet.
TARVEX_API int32_t ExtractPacket(SXPacket* packet, uint8_t& type, uint32_t& nodeId, char*& nodeName, uint32_t& nodeType,
                      uint32_t& sessionIndex, char*& data, uint32_t& dataSize);
