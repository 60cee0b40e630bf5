// The proxy side's reading of a location record as its bytes arrive: what
// the bytes received so far ask the relay to do. Kept apart from the sockets
// so that it can be fuzzed on its own. Also the settings both relay classes
// (the connection and the server) keep alike: port ranges and TLS files.
#pragma once

#include <tarvex/llist.h>
#include <tarvex/proxyloc.h>

struct SProxyPortRange;

enum : int32_t {
    PROXYREC_MORE = 0,    // wait for more bytes
    PROXYREC_FORWARD = 1, // not a location record: go to the fallback destination
    PROXYREC_DROP = 2,    // refused: message says why
    PROXYREC_CONNECT = 3, // connect to host:port
};

struct SProxyRecordDecision {
    int32_t action = PROXYREC_MORE;
    const char* message = nullptr;          // PROXYREC_DROP: the report text
    char* host = nullptr;                   // PROXYREC_CONNECT: tracked copy, owned by the caller
    uint16_t port = 0;                      // PROXYREC_CONNECT: 1..65535
    const SProxyPortRange* range = nullptr; // PROXYREC_CONNECT under ranges: the last matching one
};

// received: bytes of the record that have arrived (at most 48). ranges: a
// list of SProxyPortRange*, in force when rangesInForce is set.
void xProxyReadLocation(const CProxyLocation& record, uint32_t received, int32_t fallback,
                        const CLList* ranges, int32_t rangesInForce, SProxyRecordDecision& out);

// Appends a range with a tracked copy of name (null: ""). FALSE when memory
// runs out, with nothing added.
bool xProxyAddPortRange(CLList& ranges, const char* name, int32_t firstPort, int32_t lastPort, int32_t extra);

// Replaces keyFile and certFile with tracked copies of key and cert (both
// given). FALSE when memory runs out, with both left as they were.
bool xProxyStoreTlsFiles(char*& keyFile, char*& certFile, const char* key, const char* cert);
