// The address header a load balancer puts in front of a relayed connection
// so that the relay learns who the client really is: the text form ("PROXY
// TCP4 src dst sport dport\r\n", at most 107 bytes) and the binary form
// (a 12-byte signature, version and command, family, length, addresses and
// optional extensions). A pure reading of the bytes received so far, kept
// apart from the sockets so that it can be fuzzed on its own.
#pragma once

#include <cstdint>

enum : int32_t {
    PROXYHDR_MORE = 0,    // a header so far: read at most `wanted` more bytes
    PROXYHDR_INVALID = 1, // not a header, or a malformed one
    PROXYHDR_DONE = 2,    // a whole header of `consumed` bytes
};

// The longest text header, CR LF included, and the fixed part of the
// binary one.
constexpr uint32_t PROXYHDR_TEXT_MAX = 107;
constexpr uint32_t PROXYHDR_BINARY_FIXED = 16;

struct SProxyHeader {
    int32_t result = PROXYHDR_MORE;
    // PROXYHDR_MORE: how many more bytes may be read without reading past
    // the header's end (at least 1).
    uint32_t wanted = 0;
    // PROXYHDR_DONE: the header's length; the connection's own bytes follow.
    uint32_t consumed = 0;
    // PROXYHDR_DONE: 1 when the header names the client (family 4 or 6);
    // 0 for a header that names nobody (a health check's LOCAL command, the
    // text form's UNKNOWN, a socket family other than IPv4/IPv6): the
    // connection's own address stands.
    int32_t hasAddress = 0;
    int32_t family = 0; // 4 or 6 when hasAddress
    uint8_t source[16] = {};
    uint8_t destination[16] = {};
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    // The source address as text ("a.b.c.d", or IPv6 text) when hasAddress.
    char sourceText[48] = {};
};

// Reads the first size bytes the connection received. The result only
// depends on the bytes: more bytes of the same header give the same answer
// or a further one.
void xProxyReadHeader(const uint8_t* data, uint32_t size, SProxyHeader& out);
