// Fuzz target: any bytes as a received packet. The first 12 bytes are the
// header; when it validates, the packet is completed from the rest of the
// input the way a receiver completes it (one block of exactly the announced
// size), then every accessor, the extractor and the copy run on it.
#include <tarvex/tarvex.h>

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();
    // Keeps the blocks small: larger sizes are refused by validation.
    xSetMaxPacketSize(1u << 20);

    uint8_t header[PACKET_HEADER_SIZE] = {};
    if (size > 0)
        std::memcpy(header, data, size < sizeof header ? size : sizeof header);
    auto* h = reinterpret_cast<SXPacket*>(header);
    uint32_t packetSize = 0;
    if (h->ValidateHeader() && h->GetPacketSize(packetSize)) {
        auto* block = static_cast<uint8_t*>(XALLOC(packetSize));
        if (block != nullptr) {
            std::memset(block, 0, packetSize);
            if (size > 0)
                std::memcpy(block, data, size < packetSize ? size : packetSize);
            auto* p = reinterpret_cast<SXPacket*>(block);
            auto* n = SXPacketCNode::From(p);
            uint8_t b;
            uint32_t v;
            void* ptr;
            p->GetPacketType(b);
            p->GetSplitIndex(b);
            p->GetMaxSplitIndex(b);
            p->GetSplitId(b);
            p->GetDataPtr(ptr);
            p->GetFullHeaderSize(v);
            if (n->ValidateNodeHeader()) {
                n->GetNodeId(v);
                n->GetNodeSessionIndex(v);
                n->GetNodeType(v);
                n->GetNodeNameSize(v);
                if (char* name = n->GetNodeName())
                    (void)std::strlen(name);
                if (n->GetNodeDataPtr(ptr) && n->GetFullNodeHeaderSize(v) && v <= packetSize &&
                    packetSize > v)
                    (void)static_cast<volatile uint8_t*>(ptr)[packetSize - v - 1];
            }
            uint8_t type;
            uint32_t id, nodeType, session, dataSize;
            char* name;
            char* out = nullptr;
            if (ExtractPacket(p, type, id, name, nodeType, session, out, dataSize)) {
                // Rebuild from the parts: the same packet comes back.
                SXPacket* again = BuildPacket(type, id, name, nodeType, session, out, dataSize);
                if (again != nullptr) {
                    uint32_t againSize = 0;
                    again->GetPacketSize(againSize);
                    // Everything but the split fields (a builder writes them as 0).
                    if (type == PACKET_TYPE_RAW &&
                        (againSize != packetSize || std::memcmp(again, p, 5) != 0 ||
                         std::memcmp(reinterpret_cast<uint8_t*>(again) + 8, block + 8, packetSize - 8) != 0))
                        __builtin_trap();
                    XFREE(again);
                }
                XFREE(out);
            }
            SXPacket* copy = nullptr;
            if (p->MakeNewPacket(copy))
                XFREE(copy);
            XFREE(block);
        }
    }
    xSetMaxPacketSize(0);
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
