// Hubs joined through Redis, the parts shared by the bridge, its tests and
// its fuzz target: the bounds, and the two forms the bridge writes into
// Redis and reads back from other hubs (which makes both decoders readers of
// outside input: they check every length before they look at a byte).
//
// A node message, published on the receiving hub's channel:
//   version (1) = 1, kind (1) = 1, node type (1), name length n (1, 1..255),
//   node id (4, big-endian), session index (4, big-endian), n name bytes
//   (no zero byte among them), then the node data to the end of the message.
// A hub's node list, the value of the hub's key (refreshed with a TTL):
//   version (1) = 1, count (2, big-endian, at most 4096), then count entries
//   of node type (1), name length n (1, 1..255), node id (4), n name bytes;
//   nothing after the last entry.
#pragma once

#include <tarvex/comm.h>
#include <tarvex/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tvredis
{

constexpr uint8_t kWireVersion = 1;
constexpr uint8_t kKindNodeData = 1;
constexpr uint32_t kMessageHeaderSize = 12;
// Longest node name that crosses between hubs.
constexpr uint32_t kMaxNameLength = 255;
// Nodes one hub may list, and hubs one hub keeps track of.
constexpr uint32_t kMaxNodesPerHub = COMM_OTHER_SIDE_NODES_MAX;
constexpr uint32_t kMaxHubs = 256;
// Hub ids and key prefixes: 1..64 of [A-Za-z0-9_.-].
constexpr size_t kMaxIdLength = 64;

struct NodeEntry {
    uint32_t id = 0;
    uint32_t type = 0;
    std::string name;
    bool operator==(const NodeEntry& o) const { return id == o.id && type == o.type && name == o.name; }
    bool operator<(const NodeEntry& o) const
    {
        if (id != o.id)
            return id < o.id;
        if (type != o.type)
            return type < o.type;
        return name < o.name;
    }
};

// A decoded node message; name and data point into the decoded bytes.
struct Message {
    uint32_t id = 0;
    uint32_t type = 0;
    uint32_t session = 0;
    std::string_view name;
    const char* data = nullptr;
    uint32_t size = 0;
};

// Whether a hub id or key prefix is well formed.
bool ValidId(std::string_view id);
// Whether a node name can cross between hubs (1..255 bytes, no zero byte).
bool ValidName(std::string_view name);
// A packet of a sender of type `sender` goes to a node of type `receiver`:
// the same rule the comm objects route by.
bool TypesMeet(uint32_t sender, uint32_t receiver);

// False when the name cannot cross or the message would pass the largest
// packet a node can receive.
bool EncodeMessage(std::string& out, uint32_t id, uint32_t type, uint32_t session, std::string_view name,
                   const char* data, uint32_t size);
bool DecodeMessage(const char* bytes, size_t size, Message& out);

// Entries whose name cannot cross are left out (counted in skipped).
void EncodeNodeList(std::string& out, const std::vector<NodeEntry>& nodes, uint32_t& skipped);
bool DecodeNodeList(const char* bytes, size_t size, std::vector<NodeEntry>& out);

} // namespace tvredis
