#include "server/proxy_header.h"

#include <gtest/gtest.h>

#include <string>

namespace server {
namespace {

// V2 is a version 2 header: `versionCommand`, `family`, then `rest` with its length before it.
std::string V2(char versionCommand, char family, const std::string& rest) {
  return std::string("\r\n\r\n\0\r\nQUIT\n", 12) + versionCommand + family +
         static_cast<char>(rest.size() >> 8) + static_cast<char>(rest.size() & 0xFF) + rest;
}

ProxyHeaderParse Parse(const std::string& bytes) {
  return ParseProxyHeader({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

// Each header is followed by the client's first line, which stays the client's.
TEST(ParseProxyHeader, TakesWholeHeadersAndNothingAfterThem) {
  // 192.0.2.7:51234 to 192.0.2.1:3847, and 2001:db8::7:51234 to ::, as version 2 writes them.
  const std::string kTcp4("\xC0\x00\x02\x07\xC0\x00\x02\x01\xC8\x22\x0F\x07", 12);
  const std::string kTcp6 = std::string("\x20\x01\x0D\xB8", 4) + std::string(11, '\0') + "\x07" +
                            std::string(16, '\0') + "\xC8\x22\x0F\x07";
  const std::pair<std::string, std::string> kCases[] = {
      {"PROXY TCP4 192.0.2.7 192.0.2.1 51234 3847\r\n", "192.0.2.7:51234"},
      {"PROXY TCP6 2001:db8::7 2001:db8::1 51234 3847\r\n", "[2001:db8::7]:51234"},
      {"PROXY TCP6 ::ffff:192.0.2.7 ::1 0 65535\r\n", "192.0.2.7:0"},  // mapped: IPv4
      {"PROXY UNKNOWN\r\n", ""},                                       // no client named
      {V2('\x21', '\x11', kTcp4), "192.0.2.7:51234"},
      {V2('\x21', '\x21', kTcp6 + std::string("\x04\x00\x02ok", 5)), "[2001:db8::7]:51234"},
      {V2('\x20', '\x00', ""), ""},  // LOCAL: a health check
  };
  for (const auto& [header, source] : kCases) {
    SCOPED_TRACE(source);
    const ProxyHeaderParse parse = Parse(header + "CHECK\r\n");
    ASSERT_EQ(parse.status, ProxyHeaderStatus::kDone);
    EXPECT_EQ(parse.bytes, header.size());
    EXPECT_EQ(parse.source ? platform::EndpointText(*parse.source) : "", source);
    const ProxyHeaderParse part = Parse(header.substr(0, header.size() - 1));
    EXPECT_TRUE(part.status == ProxyHeaderStatus::kNeedMore && part.bytes == header.size());
  }
  const std::string kRefused[] = {
      "QUIT\r\n",
      "PROXY TCP4 2001:db8::7 192.0.2.1 1 2\r\n",         // IPv6 as TCP4
      "PROXY TCP4 192.0.2.7 192.0.2.1 051234 3847\r\n",   // a leading zero
      "PROXY TCP4 192.0.2.7  192.0.2.1 1 2\r\n",          // two blanks
      "PROXY UNKNOWN " + std::string(100, 'a') + "\r\n",  // over 107 bytes
      V2('\x11', '\x11', kTcp4),                          // version 1
      V2('\x22', '\x11', kTcp4),                          // an unknown command
      V2('\x21', '\x12', kTcp4),                          // a datagram family
      V2('\x21', '\x11', kTcp4.substr(0, 8)),             // addresses cut short
  };
  for (const std::string& start : kRefused) {
    EXPECT_EQ(Parse(start).status, ProxyHeaderStatus::kInvalid) << start;
  }
}

}  // namespace
}  // namespace server
