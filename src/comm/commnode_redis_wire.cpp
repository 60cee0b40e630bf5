// The two byte forms of the Redis bridge (see commnode_redis.h). Built with
// or without hiredis: the forms are the same either way and the fuzz target
// reads them in every build.
#include "comm/commnode_redis.h"

#include <tarvex/packet.h>

#include <algorithm>
#include <cstring>

namespace tvredis
{

namespace
{

void Put32(std::string& out, uint32_t v)
{
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
    out.append(b, 4);
}

uint32_t Get32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | uint32_t{u[3]};
}

bool KnownType(uint32_t type) { return type == CNODE_ANY || type == CNODE_SERVER || type == CNODE_CLIENT; }

} // namespace

bool ValidId(std::string_view id)
{
    if (id.empty() || id.size() > kMaxIdLength)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '.' || c == '-';
    });
}

bool ValidName(std::string_view name)
{
    return !name.empty() && name.size() <= kMaxNameLength && name.find('\0') == std::string_view::npos;
}

bool TypesMeet(uint32_t sender, uint32_t receiver)
{
    switch (sender) {
    case CNODE_ANY:
        return true;
    case CNODE_CLIENT:
        return receiver == CNODE_ANY || receiver == CNODE_SERVER;
    case CNODE_SERVER:
        return receiver == CNODE_ANY || receiver == CNODE_CLIENT;
    default:
        return false;
    }
}

// The largest data a node message may carry: what fits one node packet of
// the largest size a receiver accepts.
static uint64_t MaxData(size_t nameLength)
{
    const uint64_t max = xGetMaxPacketSize();
    const uint64_t head = PACKET_CNODE_HEADER_SIZE + nameLength;
    return max > head ? max - head : 0;
}

bool EncodeMessage(std::string& out, uint32_t id, uint32_t type, uint32_t session, std::string_view name,
                   const char* data, uint32_t size)
{
    out.clear();
    if (!ValidName(name) || !KnownType(type) || size > MaxData(name.size()) || (size != 0 && data == nullptr))
        return false;
    out.reserve(kMessageHeaderSize + name.size() + size);
    out.push_back(static_cast<char>(kWireVersion));
    out.push_back(static_cast<char>(kKindNodeData));
    out.push_back(static_cast<char>(type));
    out.push_back(static_cast<char>(name.size()));
    Put32(out, id);
    Put32(out, session);
    out.append(name);
    if (size != 0)
        out.append(data, size);
    return true;
}

bool DecodeMessage(const char* bytes, size_t size, Message& out)
{
    if (bytes == nullptr || size < kMessageHeaderSize)
        return false;
    const auto* u = reinterpret_cast<const unsigned char*>(bytes);
    const size_t nameLength = u[3];
    if (u[0] != kWireVersion || u[1] != kKindNodeData || !KnownType(u[2]) || nameLength == 0 ||
        size - kMessageHeaderSize < nameLength)
        return false;
    const std::string_view name(bytes + kMessageHeaderSize, nameLength);
    const size_t dataSize = size - kMessageHeaderSize - nameLength;
    if (!ValidName(name) || dataSize > MaxData(nameLength))
        return false;
    out.type = u[2];
    out.id = Get32(bytes + 4);
    out.session = Get32(bytes + 8);
    out.name = name;
    out.data = bytes + kMessageHeaderSize + nameLength;
    out.size = static_cast<uint32_t>(dataSize);
    return true;
}

void EncodeNodeList(std::string& out, const std::vector<NodeEntry>& nodes, uint32_t& skipped)
{
    out.clear();
    skipped = 0;
    out.push_back(static_cast<char>(kWireVersion));
    out.append(2, '\0');
    uint32_t count = 0;
    for (const NodeEntry& e : nodes) {
        if (count == kMaxNodesPerHub || !ValidName(e.name) || !KnownType(e.type)) {
            ++skipped;
            continue;
        }
        out.push_back(static_cast<char>(e.type));
        out.push_back(static_cast<char>(e.name.size()));
        Put32(out, e.id);
        out.append(e.name);
        ++count;
    }
    out[1] = static_cast<char>(count >> 8);
    out[2] = static_cast<char>(count);
}

bool DecodeNodeList(const char* bytes, size_t size, std::vector<NodeEntry>& out)
{
    out.clear();
    if (bytes == nullptr || size < 3 || static_cast<unsigned char>(bytes[0]) != kWireVersion)
        return false;
    const auto* u = reinterpret_cast<const unsigned char*>(bytes);
    const uint32_t count = (uint32_t{u[1]} << 8) | u[2];
    if (count > kMaxNodesPerHub)
        return false;
    auto refuse = [&] {
        out.clear();
        return false;
    };
    size_t at = 3;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - at < 6)
            return refuse();
        const uint32_t type = u[at];
        const size_t nameLength = u[at + 1];
        if (!KnownType(type) || size - at - 6 < nameLength)
            return refuse();
        NodeEntry e;
        e.type = type;
        e.id = Get32(bytes + at + 2);
        e.name.assign(bytes + at + 6, nameLength);
        if (!ValidName(e.name))
            return refuse();
        out.push_back(std::move(e));
        at += 6 + nameLength;
    }
    return at == size ? true : refuse();
}

} // namespace tvredis
