// The 48-byte proxy location record a client sends to a relay proxy right
// after connecting: magic "PLOC", a version byte, the real destination's host
// text and its port as decimal text. The record is the wire bytes.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

class TARVEX_API CProxyLocation
{
  public:
    char magic[4]; // "PLOC"
    uint8_t reserved0[4];
    uint8_t reserved1;
    uint8_t reserved2;
    uint8_t version; // offset 10
    uint8_t reserved3;
    char host[30]; // offset 12, zero-terminated, 1 to 29 characters
    char port[6];  // offset 42, "%lu", zero-terminated

    CProxyLocation();
    CProxyLocation(const CProxyLocation&) = default;
    CProxyLocation& operator=(const CProxyLocation&) = default;

    // Refuses a host of 30 or more characters and a port above 32767.
    int32_t SetLocation(const char* host, uint16_t port);
    // host: a new tracked copy owned by the caller (release with xFreeMem).
    int32_t GetLocation(char*& host, uint16_t& port) const;
    int32_t GetVersion(uint8_t& version, uint8_t unused = 0) const;
    // "PLOC" or four zero bytes.
    int32_t HeaderOk() const;
};

constexpr uint32_t PROXY_LOCATION_SIZE = 48;
