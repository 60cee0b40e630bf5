// Fuzz target: any bytes as what the Redis bridge reads from other hubs: a
// node message and a hub's node list. What decodes must stay inside the
// input and encode back to the same bytes.
#include "comm/commnode_redis.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto* bytes = reinterpret_cast<const char*>(data);
    tvredis::Message m;
    if (tvredis::DecodeMessage(bytes, size, m)) {
        if (m.name.data() < bytes || m.data + m.size != bytes + size || m.name.empty() || m.name.size() > 255)
            __builtin_trap();
        std::string again;
        if (!tvredis::EncodeMessage(again, m.id, m.type, m.session, m.name, m.data, m.size) ||
            again.size() != size || std::memcmp(again.data(), bytes, size) != 0)
            __builtin_trap();
    }
    std::vector<tvredis::NodeEntry> nodes;
    if (tvredis::DecodeNodeList(bytes, size, nodes)) {
        std::string again;
        uint32_t skipped = 0;
        tvredis::EncodeNodeList(again, nodes, skipped);
        if (skipped != 0 || again.size() != size || std::memcmp(again.data(), bytes, size) != 0)
            __builtin_trap();
    } else if (!nodes.empty()) {
        __builtin_trap(); // a refused list leaves nothing behind
    }
    return 0;
}
