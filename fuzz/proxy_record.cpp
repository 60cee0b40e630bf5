// Fuzz target: the proxy side's reading of a location record as its bytes
// arrive in pieces. Input: one flag byte (bit 0 fallback on, bit 1 port
// ranges in force), two port ranges (four big-endian 16-bit ports), one
// byte that picks the piece sizes, then the bytes the client sends.
#include <tarvex/tarvex.h>

#include "comm/proxyrecord.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 10)
        return 0;
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();
    {
        const int32_t fallback = data[0] & 1;
        const int32_t rangesOn = (data[0] >> 1) & 1;
        char names[2][2] = {"a", "b"};
        SProxyPortRange ranges[2];
        CLList list;
        for (int i = 0; i < 2; ++i) {
            ranges[i] = SProxyPortRange{names[i], (data[1 + 4 * i] << 8) | data[2 + 4 * i],
                                        (data[3 + 4 * i] << 8) | data[4 + 4 * i], 0};
            list.InsertLast(&ranges[i]);
        }
        const uint8_t pieces = data[9];
        const uint8_t* bytes = data + 10;
        size_t n = size - 10;

        CProxyLocation record;
        std::memset(static_cast<void*>(&record), 0, sizeof record);
        uint32_t received = 0;
        for (int piece = 0;; ++piece) {
            uint32_t step = 1 + ((pieces >> (piece % 8)) & 1) * (pieces % 47);
            uint32_t take = static_cast<uint32_t>(n) - received;
            if (take > step)
                take = step;
            if (take > PROXY_LOCATION_SIZE - received)
                take = PROXY_LOCATION_SIZE - received;
            std::memcpy(reinterpret_cast<char*>(&record) + received, bytes + received, take);
            received += take;

            SProxyRecordDecision d;
            xProxyReadLocation(record, received, fallback, &list, rangesOn, d);
            bool headerOk = received < 4 || record.HeaderOk();
            switch (d.action) {
            case PROXYREC_MORE:
                if (received >= PROXY_LOCATION_SIZE || !headerOk)
                    __builtin_trap();
                break;
            case PROXYREC_FORWARD:
                if (!fallback || headerOk)
                    __builtin_trap();
                break;
            case PROXYREC_DROP:
                if (d.message == nullptr || d.host != nullptr)
                    __builtin_trap();
                break;
            case PROXYREC_CONNECT: {
                size_t len = std::strlen(d.host);
                if (received != PROXY_LOCATION_SIZE || !headerOk || len < 1 || len > 29 ||
                    std::memcmp(d.host, record.host, len + 1) != 0 || d.port == 0)
                    __builtin_trap();
                if (rangesOn &&
                    (d.range == nullptr || d.range->firstPort > d.port || d.port > d.range->lastPort))
                    __builtin_trap();
                XFREE(d.host);
                break;
            }
            default:
                __builtin_trap();
            }
            if (d.action != PROXYREC_MORE || received == n || received == PROXY_LOCATION_SIZE)
                break;
        }
    }
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
