#include "server/proxy_header.h"

#include <gtest/gtest.h>

#include <string>

namespace server {
namespace {

const std::string kSignature("\r\n\r\n\0\r\nQUIT\n", 12);

// V2 is a version 2 header: `versionCommand`, `family`, then `rest` with its length before it.
std::string V2(char versionCommand, char family, const std::string& rest) {
  return kSignature + versionCommand + family + static_cast<char>(rest.size() >> 8) +
         static_cast<char>(rest.size() & 0xFF) + rest;
}

// 192.0.2.7:51234 to 192.0.2.1:3847, and 2001:db8::7 to 2001:db8::1, as version 2 writes them.
const std::string kTcp4(std::string("\xC0\x00\x02\x07\xC0\x00\x02\x01\xC8\x22\x0F\x07", 12));
const std::string kTcp6 = std::string("\x20\x01\x0D\xB8", 4) + std::string(11, '\0') + "\x07" +
                          std::string("\x20\x01\x0D\xB8", 4) + std::string(11, '\0') + "\x01" +
                          "\xC8\x22\x0F\x07";

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(ParseProxyHeader, AcceptsWholeHeadersAndNeverAsksPastTheirEnd) {
  struct Case {
    const char* why;
    std::string header;
    std::string source;  // the client named, "" for none
  };
  const Case kCases[] = {
      {"v1 TCP4", "PROXY TCP4 192.0.2.7 192.0.2.1 51234 3847\r\n", "192.0.2.7:51234"},
      {"v1 TCP6", "PROXY TCP6 2001:db8::7 2001:db8::1 51234 3847\r\n", "[2001:db8::7]:51234"},
      {"v1 TCP6, mapped", "PROXY TCP6 ::ffff:192.0.2.7 ::1 0 65535\r\n", "192.0.2.7:0"},
      {"v1 UNKNOWN", "PROXY UNKNOWN\r\n", ""},
      {"v1 UNKNOWN with addresses", "PROXY UNKNOWN ffff:: 1.2.3.4 1 2\r\n", ""},
      {"v2 PROXY TCP4", V2('\x21', '\x11', kTcp4), "192.0.2.7:51234"},
      {"v2 PROXY TCP6 with a TLV", V2('\x21', '\x21', kTcp6 + "\x04\x00\x02ok"),
       "[2001:db8::7]:51234"},
      {"v2 LOCAL, a health check", V2('\x20', '\x00', ""), ""},
      {"v2 LOCAL with addresses", V2('\x20', '\x11', kTcp4), ""},
      {"v2 PROXY unspecified", V2('\x21', '\x00', ""), ""},
      {"v2 PROXY local stream socket", V2('\x21', '\x31', std::string(216, 'u')), ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    // The client's first line right behind the header stays the client's.
    const ProxyHeaderParse parse = ParseProxyHeader(Bytes(c.header + "CHECK\r\n"));
    ASSERT_EQ(parse.status, ProxyHeaderStatus::kDone);
    EXPECT_EQ(parse.bytes, c.header.size());
    EXPECT_EQ(parse.source ? platform::EndpointText(*parse.source) : "", c.source);
    for (size_t n = 0; n < c.header.size(); ++n) {
      const ProxyHeaderParse part = ParseProxyHeader(Bytes(c.header.substr(0, n)));
      ASSERT_EQ(part.status, ProxyHeaderStatus::kNeedMore) << n;
      ASSERT_TRUE(part.bytes > n && part.bytes <= c.header.size()) << n << " " << part.bytes;
    }
  }
}

TEST(ParseProxyHeader, RefusesWhatIsNoWholeHeader) {
  struct Case {
    const char* why;
    std::string start;
  };
  const Case kCases[] = {
      {"a command", "QUIT\r\n"},
      {"lower case", "proxy TCP4 192.0.2.7 192.0.2.1 1 2\r\n"},
      {"v1 unknown protocol", "PROXY TCP5 192.0.2.7 192.0.2.1 1 2\r\n"},
      {"v1 IPv6 as TCP4", "PROXY TCP4 2001:db8::7 192.0.2.1 1 2\r\n"},
      {"v1 IPv4 as TCP6", "PROXY TCP6 192.0.2.7 2001:db8::1 1 2\r\n"},
      {"v1 port with a leading zero", "PROXY TCP4 192.0.2.7 192.0.2.1 051234 3847\r\n"},
      {"v1 port too large", "PROXY TCP4 192.0.2.7 192.0.2.1 65536 3847\r\n"},
      {"v1 two blanks", "PROXY TCP4 192.0.2.7  192.0.2.1 1 2\r\n"},
      {"v1 a field too many", "PROXY TCP4 192.0.2.7 192.0.2.1 1 2 3\r\n"},
      {"v1 bare LF, then 107 bytes", "PROXY TCP4 192.0.2.7 192.0.2.1 1 2\n" + std::string(80, 'x')},
      {"v1 longer than 107 bytes", "PROXY UNKNOWN " + std::string(100, 'a') + "\r\n"},
      {"v2 version 1", V2('\x11', '\x11', kTcp4)},
      {"v2 unknown command", V2('\x22', '\x11', kTcp4)},
      {"v2 datagram family", V2('\x21', '\x12', kTcp4)},
      {"v2 unknown family", V2('\x21', '\x41', kTcp4)},
      {"v2 addresses cut short", V2('\x21', '\x11', kTcp4.substr(0, 8))},
      {"v2 signature broken", std::string("\r\n\r\n\0\r\nQUIT!", 12) + std::string(8, '\0')},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(ParseProxyHeader(Bytes(c.start)).status, ProxyHeaderStatus::kInvalid);
  }
}

}  // namespace
}  // namespace server
