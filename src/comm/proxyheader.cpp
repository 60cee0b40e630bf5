// Reading of the load balancer's address header. The bytes come from
// whoever reaches the listener, so the reading is strict: the text form is
// one line of printable characters ending in CR LF within 107 bytes, with
// single spaces between its fields, dotted quads without leading zeros and
// ports of at most five digits below 65536; the binary form must carry
// version 2, a known command, family and transport, an address block as long
// as its family needs, and extensions that fill the rest exactly. A bad
// byte is refused as soon as it arrives, and the caller is never asked to
// read past the header's end (the connection's own bytes follow it).
#include "comm/proxyheader.h"

#include <cstdio>
#include <cstring>

namespace
{

constexpr uint8_t kSignature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
constexpr char kTextStart[] = "PROXY ";
constexpr uint32_t kTextStartSize = 6;
// The shortest text header of all ("PROXY UNKNOWN\r\n"): this many bytes can
// always be read before the form is known (the binary one is longer).
constexpr uint32_t kShortestHeader = 15;

// Binary form: commands, families and transports.
constexpr uint8_t kCommandLocal = 0;
constexpr uint8_t kCommandProxy = 1;
constexpr uint8_t kFamilyUnspec = 0;
constexpr uint8_t kFamilyInet = 1;
constexpr uint8_t kFamilyInet6 = 2;
constexpr uint8_t kFamilyUnix = 3;
constexpr uint8_t kTransportUnspec = 0;
constexpr uint8_t kTransportStream = 1;
constexpr uint8_t kTransportDgram = 2;
// The address block of each family: two addresses and two ports.
constexpr uint32_t kInetBlock = 12;
constexpr uint32_t kInet6Block = 36;
constexpr uint32_t kUnixBlock = 216;

// The text form's protocols, each with the length of its shortest line.
struct TextProtocol {
    const char* name; // with the space after it, except UNKNOWN's
    uint32_t shortest;
};
constexpr TextProtocol kTextProtocols[] = {
    {"TCP4 ", 32}, // PROXY TCP4 0.0.0.0 0.0.0.0 0 0\r\n
    {"TCP6 ", 22}, // PROXY TCP6 :: :: 0 0\r\n
    {"UNKNOWN", kShortestHeader},
};

void Invalid(SProxyHeader& out) { out.result = PROXYHDR_INVALID; }

void More(SProxyHeader& out, uint32_t wanted)
{
    out.result = PROXYHDR_MORE;
    out.wanted = wanted;
}

bool Digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number of at most maxDigits digits, without leading zeros,
// no greater than max.
bool Number(const char* p, uint32_t n, uint32_t maxDigits, uint32_t max, uint32_t& value)
{
    if (n == 0 || n > maxDigits || (n > 1 && p[0] == '0'))
        return false;
    value = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (!Digit(p[i]))
            return false;
        value = value * 10 + static_cast<uint32_t>(p[i] - '0');
    }
    return value <= max;
}

bool Ipv4(const char* p, uint32_t n, uint8_t* address)
{
    uint32_t part = 0, start = 0;
    for (uint32_t i = 0; i <= n; ++i) {
        if (i < n && p[i] != '.')
            continue;
        uint32_t value = 0;
        if (part == 4 || !Number(p + start, i - start, 3, 255, value))
            return false;
        address[part++] = static_cast<uint8_t>(value);
        start = i + 1;
    }
    return part == 4;
}

int HexValue(char c)
{
    if (Digit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// IPv6 text: up to eight groups of one to four hex digits, at most one "::"
// for a run of zero groups, the last two groups possibly as a dotted quad.
bool Ipv6(const char* p, uint32_t n, uint8_t* address)
{
    uint16_t groups[8] = {};
    int32_t count = 0, gap = -1;
    uint32_t i = 0;
    if (n >= 2 && p[0] == ':' && p[1] == ':') {
        gap = 0;
        i = 2;
    } else if (n >= 1 && p[0] == ':') {
        return false;
    }
    while (i < n) {
        uint32_t start = i, value = 0;
        while (i < n && i - start < 5 && HexValue(p[i]) >= 0)
            value = (value << 4) | static_cast<uint32_t>(HexValue(p[i++]));
        if (i < n && p[i] == '.') {
            // The dotted quad ends the address and stands for two groups.
            uint8_t quad[4];
            if (count > 6 || !Ipv4(p + start, n - start, quad))
                return false;
            groups[count++] = static_cast<uint16_t>((quad[0] << 8) | quad[1]);
            groups[count++] = static_cast<uint16_t>((quad[2] << 8) | quad[3]);
            i = n;
            break;
        }
        if (i == start || i - start > 4 || count == 8)
            return false;
        groups[count++] = static_cast<uint16_t>(value);
        if (i == n)
            break;
        if (p[i] != ':' || i + 1 == n)
            return false;
        ++i;
        if (p[i] == ':') {
            if (gap >= 0)
                return false;
            gap = count;
            ++i;
        }
    }
    if (gap < 0 ? count != 8 : count > 7)
        return false;
    uint16_t full[8] = {};
    int32_t tail = gap < 0 ? 0 : count - gap;
    for (int32_t g = 0; g < count - tail; ++g)
        full[g] = groups[g];
    for (int32_t g = 0; g < tail; ++g)
        full[8 - tail + g] = groups[gap + g];
    for (int32_t g = 0; g < 8; ++g) {
        address[2 * g] = static_cast<uint8_t>(full[g] >> 8);
        address[2 * g + 1] = static_cast<uint8_t>(full[g]);
    }
    return true;
}

// The usual short text: lower case, the longest run of two or more zero
// groups (the first of equals) as "::", an IPv4-mapped address dotted.
void Ipv6Text(const uint8_t* a, char* out, uint32_t size)
{
    static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(a, kMapped, sizeof kMapped) == 0) {
        std::snprintf(out, size, "::ffff:%u.%u.%u.%u", a[12], a[13], a[14], a[15]);
        return;
    }
    uint32_t g[8];
    for (int i = 0; i < 8; ++i)
        g[i] = (static_cast<uint32_t>(a[2 * i]) << 8) | a[2 * i + 1];
    int bestStart = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && g[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    uint32_t used = 0;
    for (int i = 0; i < 8 && used < size; ++i) {
        if (i == bestStart) {
            used += static_cast<uint32_t>(std::snprintf(out + used, size - used, i == 0 ? "::" : ":"));
            i += bestLength - 1;
            continue;
        }
        used += static_cast<uint32_t>(
            std::snprintf(out + used, size - used, i == 7 ? "%x" : "%x:", static_cast<unsigned>(g[i])));
    }
}

void SetSourceText(SProxyHeader& out)
{
    const uint8_t* a = out.source;
    if (out.family == 4)
        std::snprintf(out.sourceText, sizeof out.sourceText, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    else
        Ipv6Text(a, out.sourceText, sizeof out.sourceText);
}

// "TCP4 src dst sport dport" or "TCP6 ...": exactly five fields, one space
// apart.
bool TextAddresses(const char* line, uint32_t n, SProxyHeader& out)
{
    const char* field[5];
    uint32_t length[5];
    uint32_t count = 0, start = 0;
    for (uint32_t i = 0; i <= n; ++i) {
        if (i < n && line[i] != ' ')
            continue;
        if (count == 5 || i == start)
            return false;
        field[count] = line + start;
        length[count++] = i - start;
        start = i + 1;
    }
    if (count != 5)
        return false;
    bool v4 = line[3] == '4';
    out.family = v4 ? 4 : 6;
    bool ok = v4 ? Ipv4(field[1], length[1], out.source) && Ipv4(field[2], length[2], out.destination)
                 : Ipv6(field[1], length[1], out.source) && Ipv6(field[2], length[2], out.destination);
    uint32_t sport = 0, dport = 0;
    if (!ok || !Number(field[3], length[3], 5, 65535, sport) || !Number(field[4], length[4], 5, 65535, dport))
        return false;
    out.sourcePort = static_cast<uint16_t>(sport);
    out.destinationPort = static_cast<uint16_t>(dport);
    out.hasAddress = 1;
    SetSourceText(out);
    return true;
}

void ReadText(const uint8_t* data, uint32_t size, SProxyHeader& out)
{
    const auto* text = reinterpret_cast<const char*>(data);
    uint32_t head = size < kTextStartSize ? size : kTextStartSize;
    if (std::memcmp(text, kTextStart, head) != 0)
        return Invalid(out);

    // The protocol name, as far as it has come: the protocols it may still
    // be, and the shortest header among them.
    const TextProtocol* protocol = nullptr;
    uint32_t shortest = kShortestHeader;
    uint32_t afterStart = size - head;
    if (afterStart > 0) {
        uint32_t matches = 0;
        for (const TextProtocol& p : kTextProtocols) {
            uint32_t n = static_cast<uint32_t>(std::strlen(p.name));
            if (std::memcmp(text + kTextStartSize, p.name, afterStart < n ? afterStart : n) != 0)
                continue;
            if (matches++ == 0 || p.shortest < shortest)
                shortest = p.shortest;
            protocol = &p;
        }
        if (matches == 0)
            return Invalid(out);
        if (matches > 1)
            protocol = nullptr;
    }

    // One line of printable characters, ended by CR LF.
    uint32_t limit = size < PROXYHDR_TEXT_MAX ? size : PROXYHDR_TEXT_MAX;
    uint32_t end = 0;
    for (uint32_t i = 0; i < limit && end == 0; ++i) {
        uint8_t c = data[i];
        if (c == '\r') {
            if (i + 1 < size && data[i + 1] != '\n')
                return Invalid(out);
        } else if (c == '\n') {
            if (i == 0 || data[i - 1] != '\r')
                return Invalid(out);
            end = i + 1;
        } else if (c < 0x20 || c > 0x7E) {
            return Invalid(out);
        }
    }
    if (end == 0) {
        if (size >= PROXYHDR_TEXT_MAX)
            return Invalid(out);
        uint32_t wanted = data[size - 1] == '\r' ? 1 : 2;
        if (shortest > size && shortest - size > wanted)
            wanted = shortest - size;
        if (wanted > PROXYHDR_TEXT_MAX - size)
            wanted = PROXYHDR_TEXT_MAX - size;
        return More(out, wanted);
    }

    const char* line = text + kTextStartSize;
    uint32_t lineSize = end - 2 - kTextStartSize;
    if (end < kShortestHeader || protocol == nullptr)
        return Invalid(out);
    if (std::strcmp(protocol->name, "UNKNOWN") == 0) {
        // Whatever follows UNKNOWN (after a space) is no business of ours.
        if (lineSize > 7 && line[7] != ' ')
            return Invalid(out);
    } else if (!TextAddresses(line, lineSize, out)) {
        return Invalid(out);
    }
    out.result = PROXYHDR_DONE;
    out.consumed = end;
}

// Extensions (type, 16-bit length, value) filling [p, p + n) exactly.
bool Extensions(const uint8_t* p, uint32_t n)
{
    uint32_t at = 0;
    while (at < n) {
        if (n - at < 3)
            return false;
        uint32_t length = (static_cast<uint32_t>(p[at + 1]) << 8) | p[at + 2];
        if (n - at - 3 < length)
            return false;
        at += 3 + length;
    }
    return true;
}

void ReadBinary(const uint8_t* data, uint32_t size, SProxyHeader& out)
{
    uint32_t head = size < sizeof kSignature ? size : static_cast<uint32_t>(sizeof kSignature);
    if (std::memcmp(data, kSignature, head) != 0)
        return Invalid(out);
    uint8_t command = 0, family = 0, transport = 0;
    if (size > 12) {
        if ((data[12] >> 4) != 2)
            return Invalid(out);
        command = data[12] & 0x0F;
        if (command != kCommandLocal && command != kCommandProxy)
            return Invalid(out);
    }
    if (size > 13) {
        family = data[13] >> 4;
        transport = data[13] & 0x0F;
        if (family > kFamilyUnix || transport > kTransportDgram)
            return Invalid(out);
        // A relay of TCP connections takes stream addresses only; an
        // unspecified family has an unspecified transport.
        if (command == kCommandProxy && (family == kFamilyUnspec ? transport != kTransportUnspec
                                                                 : transport != kTransportStream))
            return Invalid(out);
    }
    if (size < PROXYHDR_BINARY_FIXED)
        return More(out, PROXYHDR_BINARY_FIXED - size);

    uint32_t length = (static_cast<uint32_t>(data[14]) << 8) | data[15];
    uint32_t block = 0;
    if (command == kCommandProxy)
        block = family == kFamilyInet ? kInetBlock
              : family == kFamilyInet6 ? kInet6Block
              : family == kFamilyUnix ? kUnixBlock
                                      : 0;
    if (length < block)
        return Invalid(out);
    uint32_t total = PROXYHDR_BINARY_FIXED + length;
    if (size < total)
        return More(out, total - size);

    const uint8_t* p = data + PROXYHDR_BINARY_FIXED;
    if (block != 0 && !Extensions(p + block, length - block))
        return Invalid(out);
    if (command == kCommandProxy && (family == kFamilyInet || family == kFamilyInet6)) {
        uint32_t a = family == kFamilyInet ? 4 : 16;
        out.family = family == kFamilyInet ? 4 : 6;
        std::memcpy(out.source, p, a);
        std::memcpy(out.destination, p + a, a);
        out.sourcePort = static_cast<uint16_t>((p[2 * a] << 8) | p[2 * a + 1]);
        out.destinationPort = static_cast<uint16_t>((p[2 * a + 2] << 8) | p[2 * a + 3]);
        out.hasAddress = 1;
        SetSourceText(out);
    }
    out.result = PROXYHDR_DONE;
    out.consumed = total;
}

} // namespace

void xProxyReadHeader(const uint8_t* data, uint32_t size, SProxyHeader& out)
{
    out = SProxyHeader();
    if (size == 0 || data == nullptr)
        return More(out, kShortestHeader);
    if (data[0] == kSignature[0])
        return ReadBinary(data, size, out);
    return ReadText(data, size, out);
}
