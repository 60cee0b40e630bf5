// The load balancer's address header: whole headers of both forms, headers
// refused, and every header read piece by piece as it arrives.
#include "comm/proxyheader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::string Binary(uint8_t versionCommand, uint8_t family, const std::string& body)
{
    std::string h("\r\n\r\n\0\r\nQUIT\n", 12);
    h += static_cast<char>(versionCommand);
    h += static_cast<char>(family);
    h += static_cast<char>(body.size() >> 8);
    h += static_cast<char>(body.size() & 0xFF);
    return h + body;
}

// 127.0.0.1:12345 -> 127.0.0.2:443.
const std::string kInetBlock("\x7f\x00\x00\x01\x7f\x00\x00\x02\x30\x39\x01\xbb", 12);
// 2001:db8::1:1234 -> ::1:5678.
const std::string kInet6Block = std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') + "\x01" +
                                std::string(15, '\0') + "\x01" + std::string("\x04\xd2\x16\x2e", 4);

struct Valid {
    const char* what;
    std::string header;
    std::string after; // the connection's own bytes behind the header
    bool hasAddress;
    const char* source;
    uint16_t sourcePort;
    uint16_t destinationPort;
};

const std::vector<Valid>& ValidHeaders()
{
    static const std::vector<Valid> cases = {
        {"text IPv4", "PROXY TCP4 192.168.0.1 192.168.0.11 56324 443\r\n", "GET / HTTP/1.1\r\n", true,
         "192.168.0.1", 56324, 443},
        {"text IPv4 smallest", "PROXY TCP4 0.0.0.0 0.0.0.0 0 0\r\n", "", true, "0.0.0.0", 0, 0},
        {"text IPv6", "PROXY TCP6 2001:DB8:0:0:0:0:0:1 ::1 65535 1\r\n", "x", true, "2001:db8::1", 65535, 1},
        {"text IPv6 shortest", "PROXY TCP6 :: ::1 0 1\r\n", "", true, "::", 0, 1},
        {"text IPv6 dotted tail", "PROXY TCP6 ::ffff:10.1.2.3 ::1 80 81\r\n", "", true, "::ffff:10.1.2.3", 80,
         81},
        {"text IPv6 longest line",
         "PROXY TCP6 ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff 65535 "
         "65535\r\n",
         "", true, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 65535, 65535},
        {"text unknown", "PROXY UNKNOWN\r\n", "PLOC", false, "", 0, 0},
        {"text unknown, rest ignored", "PROXY UNKNOWN ffff::1 ::2 1 2\r\n", "", false, "", 0, 0},
        {"text unknown at 107 bytes", "PROXY UNKNOWN " + std::string(91, 'x') + "\r\n", "", false, "", 0, 0},
        {"binary IPv4", Binary(0x21, 0x11, kInetBlock), "PLOC", true, "127.0.0.1", 12345, 443},
        {"binary IPv6", Binary(0x21, 0x21, kInet6Block), "", true, "2001:db8::1", 1234, 5678},
        {"binary with extensions",
         Binary(0x21, 0x11, kInetBlock + std::string("\x04\x00\x04" "abcd\x20\x00\x00", 10)),
         "z", true, "127.0.0.1", 12345, 443},
        {"binary local (health check)", Binary(0x20, 0x00, ""), "data", false, "", 0, 0},
        {"binary local, addresses ignored", Binary(0x20, 0x11, kInetBlock), "", false, "", 0, 0},
        {"binary unspecified family", Binary(0x21, 0x00, "abc"), "", false, "", 0, 0},
        {"binary unix socket", Binary(0x21, 0x31, std::string(216, '\0')), "", false, "", 0, 0},
    };
    return cases;
}

SProxyHeader Read(const std::string& bytes)
{
    SProxyHeader h;
    xProxyReadHeader(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()), h);
    return h;
}

TEST(ProxyHeaderTest, ValidHeadersGiveTheClientAndTheirLength)
{
    for (const Valid& c : ValidHeaders()) {
        SCOPED_TRACE(c.what);
        SProxyHeader h = Read(c.header + c.after);
        ASSERT_EQ(h.result, PROXYHDR_DONE);
        EXPECT_EQ(h.consumed, c.header.size());
        EXPECT_EQ(h.hasAddress != 0, c.hasAddress);
        if (c.hasAddress) {
            EXPECT_STREQ(h.sourceText, c.source);
            EXPECT_EQ(h.sourcePort, c.sourcePort);
            EXPECT_EQ(h.destinationPort, c.destinationPort);
        }
    }
}

// Pieces of each header: every piece asks for more, and never for a byte
// past the header's end, so the connection's own bytes stay unread.
TEST(ProxyHeaderTest, PiecesAskForMoreWithoutReadingPastTheHeader)
{
    for (const Valid& c : ValidHeaders()) {
        SCOPED_TRACE(c.what);
        for (size_t k = 0; k < c.header.size(); ++k) {
            SProxyHeader h = Read(c.header.substr(0, k));
            ASSERT_EQ(h.result, PROXYHDR_MORE) << "piece of " << k;
            EXPECT_GE(h.wanted, 1u);
            EXPECT_LE(k + h.wanted, c.header.size()) << "piece of " << k;
        }
    }
    // Read as a connection would: always the bytes asked for, in order.
    for (const Valid& c : ValidHeaders()) {
        SCOPED_TRACE(c.what);
        std::string stream = c.header + c.after, got;
        SProxyHeader h = Read(got);
        for (int rounds = 0; h.result == PROXYHDR_MORE && rounds < 200; ++rounds) {
            got += stream.substr(got.size(), h.wanted);
            h = Read(got);
        }
        EXPECT_EQ(h.result, PROXYHDR_DONE);
        EXPECT_EQ(got.size(), c.header.size());
    }
}

TEST(ProxyHeaderTest, MalformedHeadersAreRefused)
{
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::string v4 = "PROXY TCP4 1.2.3.4 5.6.7.8 ";
    const Case cases[] = {
        {"plain traffic", "GET / HTTP/1.0\r\n\r\n"},
        {"a location record", "PLOC"},
        {"lower case", "proxy TCP4 1.2.3.4 5.6.7.8 1 2\r\n"},
        {"unknown protocol", "PROXY TCP5 1.2.3.4 5.6.7.8 1 2\r\n"},
        {"no protocol", "PROXY \r\n"},
        {"unknown glued to more", "PROXY UNKNOWNX\r\n"},
        {"bare line feed", v4 + "1 2\n"},
        {"carriage return alone", v4 + "1\r2\r\n"},
        {"control character", v4 + "1\t2\r\n"},
        {"double space", "PROXY TCP4 1.2.3.4  5.6.7.8 1 2\r\n"},
        {"trailing space", v4 + "1 2 \r\n"},
        {"missing port", v4 + "1\r\n"},
        {"extra field", v4 + "1 2 3\r\n"},
        {"port 65536", v4 + "65536 2\r\n"},
        {"port of six digits", v4 + "000001 2\r\n"},
        {"port with leading zero", v4 + "01 2\r\n"},
        {"negative port", v4 + "-1 2\r\n"},
        {"octet 256", "PROXY TCP4 1.2.3.256 5.6.7.8 1 2\r\n"},
        {"octet with leading zero", "PROXY TCP4 1.2.3.04 5.6.7.8 1 2\r\n"},
        {"three octets", "PROXY TCP4 1.2.3 5.6.7.8 1 2\r\n"},
        {"five octets", "PROXY TCP4 1.2.3.4.5 5.6.7.8 1 2\r\n"},
        {"empty octet", "PROXY TCP4 1..3.4 5.6.7.8 1 2\r\n"},
        {"IPv6 under TCP4", "PROXY TCP4 ::1 ::1 1 2\r\n"},
        {"IPv4 under TCP6", "PROXY TCP6 1.2.3.4 ::1 1 2\r\n"},
        {"two gaps", "PROXY TCP6 1::2::3 ::1 1 2\r\n"},
        {"nine groups", "PROXY TCP6 1:2:3:4:5:6:7:8:9 ::1 1 2\r\n"},
        {"seven groups", "PROXY TCP6 1:2:3:4:5:6:7 ::1 1 2\r\n"},
        {"group of five digits", "PROXY TCP6 12345::1 ::1 1 2\r\n"},
        {"gap for no group", "PROXY TCP6 1:2:3:4::5:6:7:8 ::1 1 2\r\n"},
        {"leading single colon", "PROXY TCP6 :1::2 ::1 1 2\r\n"},
        {"trailing single colon", "PROXY TCP6 1::2: ::1 1 2\r\n"},
        {"no line end within 107 bytes", "PROXY UNKNOWN " + std::string(92, 'x') + "\r\n"},
        {"binary signature broken", std::string("\r\n\r\n\0\r\nQUIX\n\x21\x11\x00\x0c", 16) + kInetBlock},
        {"binary version 1", Binary(0x11, 0x11, kInetBlock)},
        {"binary command 2", Binary(0x22, 0x11, kInetBlock)},
        {"binary family 4", Binary(0x21, 0x41, kInetBlock)},
        {"binary transport 3", Binary(0x21, 0x13, kInetBlock)},
        {"binary datagram", Binary(0x21, 0x12, kInetBlock)},
        {"binary unspecified transport", Binary(0x21, 0x10, kInetBlock)},
        {"binary unspecified family, stream", Binary(0x21, 0x01, "")},
        {"binary IPv4 block short", Binary(0x21, 0x11, kInetBlock.substr(0, 11))},
        {"binary IPv6 block short", Binary(0x21, 0x21, kInetBlock)},
        {"binary unix block short", Binary(0x21, 0x31, std::string(215, '\0'))},
        {"binary extension cut", Binary(0x21, 0x11, kInetBlock + std::string("\x04\x00\x05" "abcd", 7))},
        {"binary extension header cut", Binary(0x21, 0x11, kInetBlock + std::string("\x04\x00", 2))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(c.bytes).result, PROXYHDR_INVALID);
    }
}

// A bad byte is refused when it arrives, not after the line is complete: a
// client that sends no header is turned away at once.
TEST(ProxyHeaderTest, WrongStartIsRefusedEarly)
{
    EXPECT_EQ(Read("P").result, PROXYHDR_MORE);
    EXPECT_EQ(Read("G").result, PROXYHDR_INVALID);
    EXPECT_EQ(Read("PROXY X").result, PROXYHDR_INVALID);
    EXPECT_EQ(Read(std::string("\r\n\r\n\0\r\nQUIT\n\x21", 13)).result, PROXYHDR_MORE);
    EXPECT_EQ(Read(std::string("\r\n\r\n\0\r\nQUIT\n\x31", 13)).result, PROXYHDR_INVALID);
    EXPECT_EQ(Read(std::string("\r\n\r\n\x01", 5)).result, PROXYHDR_INVALID);
    SProxyHeader none;
    xProxyReadHeader(nullptr, 0, none);
    EXPECT_EQ(none.result, PROXYHDR_MORE);
    EXPECT_EQ(none.wanted, 15u); // the shortest header there is
}

} // namespace
