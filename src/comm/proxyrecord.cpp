// The proxy side's reading of a location record. The record comes from
// anyone who can reach the proxy, so nothing is taken on trust: the magic
// must be there, the host must be terminated inside its field, and the port
// must be a real TCP port (1 to 65535), never cut to 16 bits.
#include "comm/proxyrecord.h"

#include <tarvex/memory.h>
#include <tarvex/proxy.h>

#include "core/textcopy.h"

#include <cstring>

namespace
{

constexpr const char* kUnparsable =
    "CProxyConnection(Wait for IP/port): Unable to parse IP/port from client.\n";
constexpr const char* kOutOfRange =
    "CProxyConnection(Wait for IP/port): Port is not in acceptable range. Dropping connection\n";

// The port field's number, or 0 when it is no port: the field holds at most
// five digits, so the value cannot overflow before the check.
uint32_t PortValue(const CProxyLocation& record)
{
    uint32_t value = 0;
    size_t i = 0;
    for (; i < sizeof record.port && record.port[i] != 0; ++i) {
        if (record.port[i] < '0' || record.port[i] > '9')
            return 0;
        value = value * 10 + static_cast<uint32_t>(record.port[i] - '0');
    }
    if (i == 0 || i == sizeof record.port || value > 65535)
        return 0;
    return value;
}

} // namespace

void xProxyReadLocation(const CProxyLocation& record, uint32_t received, int32_t fallback,
                        const CLList* ranges, int32_t rangesInForce, SProxyRecordDecision& out)
{
    out = SProxyRecordDecision{};
    if (received >= 4 && !record.HeaderOk()) {
        if (fallback) {
            out.action = PROXYREC_FORWARD;
            return;
        }
        // Without a fallback, bytes that do not start with the magic are no
        // location record, whatever the later fields hold.
        out.action = PROXYREC_DROP;
        out.message = kUnparsable;
        return;
    }
    if (received < PROXY_LOCATION_SIZE)
        return;

    char* host = nullptr;
    uint16_t cut = 0;
    uint32_t port = PortValue(record);
    if (port == 0 || !record.GetLocation(host, cut)) {
        out.action = PROXYREC_DROP;
        out.message = kUnparsable;
        return;
    }
    if (rangesInForce && ranges != nullptr) {
        const SProxyPortRange* match = nullptr;
        for (const SLListNode* n = ranges->first; n != nullptr; n = n->next) {
            const auto* r = static_cast<const SProxyPortRange*>(n->data);
            if (r != nullptr && r->firstPort <= static_cast<int32_t>(port) &&
                static_cast<int32_t>(port) <= r->lastPort)
                match = r;
        }
        if (match == nullptr) {
            XFREE(host);
            out.action = PROXYREC_DROP;
            out.message = kOutOfRange;
            return;
        }
        out.range = match;
    }
    out.action = PROXYREC_CONNECT;
    out.host = host;
    out.port = static_cast<uint16_t>(port);
}

bool xProxyAddPortRange(CLList& ranges, const char* name, int32_t firstPort, int32_t lastPort, int32_t extra)
{
    auto* r = static_cast<SProxyPortRange*>(XALLOC(sizeof(SProxyPortRange)));
    char* copy = tvcore::CopyText(name != nullptr ? name : "");
    if (r == nullptr || copy == nullptr || !ranges.InsertLast(r)) {
        if (r != nullptr)
            XFREE(r);
        tvcore::FreeText(copy);
        return false;
    }
    *r = SProxyPortRange{copy, firstPort, lastPort, extra};
    return true;
}

bool xProxyStoreTlsFiles(char*& keyFile, char*& certFile, const char* key, const char* cert)
{
    char* k = tvcore::CopyText(key);
    char* c = tvcore::CopyText(cert);
    if (k == nullptr || c == nullptr) {
        tvcore::FreeText(k);
        tvcore::FreeText(c);
        return false;
    }
    tvcore::FreeText(keyFile);
    tvcore::FreeText(certFile);
    keyFile = k;
    certFile = c;
    return true;
}
