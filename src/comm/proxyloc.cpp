// The proxy location record. GetLocation reads bytes that came from the
// network, so it looks at nothing beyond each field and accepts only a
// terminated host of 1 to 29 characters and a port of decimal digits.
#include <tarvex/proxyloc.h>

#include <tarvex/error.h>
#include <tarvex/memory.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>

static_assert(std::is_standard_layout_v<CProxyLocation> && sizeof(CProxyLocation) == PROXY_LOCATION_SIZE);
static_assert(offsetof(CProxyLocation, version) == 10 && offsetof(CProxyLocation, host) == 12 &&
              offsetof(CProxyLocation, port) == 42);

CProxyLocation::CProxyLocation()
{
    std::memset(this, 0, sizeof *this);
    std::memcpy(magic, "PLOC", 4);
}

int32_t CProxyLocation::SetLocation(const char* hostName, uint16_t portNumber)
{
    if (hostName == nullptr || std::strlen(hostName) >= sizeof host || portNumber >= 32768)
        return FALSE;
    std::memset(host, 0, sizeof host);
    std::memset(port, 0, sizeof port);
    std::memcpy(host, hostName, std::strlen(hostName));
    std::snprintf(port, sizeof port, "%lu", static_cast<unsigned long>(portNumber));
    return TRUE;
}

int32_t CProxyLocation::GetLocation(char*& hostOut, uint16_t& portOut) const
{
    const void* hostEnd = std::memchr(host, 0, sizeof host);
    const void* portEnd = std::memchr(port, 0, sizeof port);
    if (hostEnd == nullptr || portEnd == nullptr)
        return FALSE;
    size_t hostLen = static_cast<size_t>(static_cast<const char*>(hostEnd) - host);
    size_t portLen = static_cast<size_t>(static_cast<const char*>(portEnd) - port);
    if (hostLen < 1 || hostLen > 29 || portLen < 1)
        return FALSE;
    uint32_t value = 0;
    for (size_t i = 0; i < portLen; ++i) {
        if (port[i] < '0' || port[i] > '9')
            return FALSE;
        value = value * 10 + static_cast<uint32_t>(port[i] - '0');
    }
    auto* copy = static_cast<char*>(XALLOC(hostLen + 1));
    if (copy == nullptr)
        return FALSE;
    std::memcpy(copy, host, hostLen + 1);
    hostOut = copy;
    portOut = static_cast<uint16_t>(value);
    return TRUE;
}

int32_t CProxyLocation::GetVersion(uint8_t& v, uint8_t) const
{
    v = version;
    return TRUE;
}

int32_t CProxyLocation::HeaderOk() const
{
    static const char zero[4] = {0, 0, 0, 0};
    return (std::memcmp(magic, "PLOC", 4) == 0 || std::memcmp(magic, zero, 4) == 0) ? TRUE : FALSE;
}
