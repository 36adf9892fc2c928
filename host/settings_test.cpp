#include "host/settings.h"

#include <gtest/gtest.h>

#include <map>

namespace host {
namespace {

TEST(ReadSettings, TakesGoodValuesAndNamesTheFirstBadOne) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::string error;  // "" when the settings are read
    int port = 3847;
    std::string address = "0.0.0.0";
    platform::LogLevel level = platform::LogLevel::kDebug;
    std::string metrics = "";  // "address port" of QUILMAREND_METRICS_LISTEN, "" when off
  };
  const Case kCases[] = {
      {{}, ""},
      {{{"QUILMAREND_PORT", ""}, {"QUILMAREND_LISTEN", ""}}, ""},  // empty: unset
      {{{"QUILMAREND_PORT", "3848"}, {"QUILMAREND_LISTEN", "127.0.0.1"}}, "", 3848, "127.0.0.1"},
      {{{"QUILMAREND_LISTEN", "::1"}, {"QUILMAREND_LOG_LEVEL", "info"}},
       "",
       3847,
       "::1",
       platform::LogLevel::kInfo},
      {{{"QUILMAREND_METRICS_LISTEN", "127.0.0.1:9384"}},
       "",
       3847,
       "0.0.0.0",
       platform::LogLevel::kDebug,
       "127.0.0.1 9384"},
      {{{"QUILMAREND_METRICS_LISTEN", "[::1]:0"}, {"QUILMAREND_AGENT_LISTEN", "0.0.0.0:9385"}},
       "",
       3847,
       "0.0.0.0",
       platform::LogLevel::kDebug,
       "::1 0"},
      {{{"QUILMAREND_METRICS_LISTEN", "9384"}},
       "QUILMAREND_METRICS_LISTEN: not an IPv4 address and port (127.0.0.1:9384) or IPv6 "
       "([::1]:9384): 9384"},
      {{{"QUILMAREND_METRICS_LISTEN", "::1:9384"}},  // IPv6 without brackets is ambiguous
       "QUILMAREND_METRICS_LISTEN: not an IPv4 address and port (127.0.0.1:9384) or IPv6 "
       "([::1]:9384): ::1:9384"},
      {{{"QUILMAREND_AGENT_LISTEN", "localhost:9385"}},
       "QUILMAREND_AGENT_LISTEN: not an IPv4 address and port (127.0.0.1:9384) or IPv6 "
       "([::1]:9384): localhost:9385"},
      {{{"QUILMAREND_AGENT_LISTEN", "127.0.0.1:65536"}},
       "QUILMAREND_AGENT_LISTEN: not an IPv4 address and port (127.0.0.1:9384) or IPv6 "
       "([::1]:9384): 127.0.0.1:65536"},
      {{{"QUILMAREND_PORT", "65536"}}, "QUILMAREND_PORT: not a port number (0 to 65535): 65536"},
      {{{"QUILMAREND_PORT", " 80"}}, "QUILMAREND_PORT: not a port number (0 to 65535):  80"},
      {{{"QUILMAREND_LISTEN", "localhost"}},
       "QUILMAREND_LISTEN: not an IPv4 or IPv6 address: localhost"},
      {{{"QUILMAREND_LISTEN", "10.0.0.300"}},
       "QUILMAREND_LISTEN: not an IPv4 or IPv6 address: 10.0.0.300"},
      {{{"QUILMAREND_LOG_LEVEL", "INFO"}},
       "QUILMAREND_LOG_LEVEL: not one of error, notice, info, debug: INFO"},
      {{{"QUILMAREND_MAX_HELD_MIB", "2G"}},
       "QUILMAREND_MAX_HELD_MIB: not a whole number from 1 to 1048576: 2G"},
      {{{"QUILMAREND_MAX_HELD_MIB", "0"}},
       "QUILMAREND_MAX_HELD_MIB: not a whole number from 1 to 1048576: 0"},
      {{{"QUILMAREND_MAX_CONN_PER_ADDR", "-1"}},
       "QUILMAREND_MAX_CONN_PER_ADDR: not a whole number from 0 to 100000: -1"},
      {{{"QUILMAREND_CERT_CACHE", "abc"}},
       "QUILMAREND_CERT_CACHE: not a whole number from 0 to 1048576: abc"},
      {{{"QUILMAREND_LOG", "quilmarend.log"}},
       "QUILMAREND_LOG: not an absolute path: quilmarend.log"},
  };
  for (const Case& c : kCases) {
    const auto read = ReadSettings([&c](const char* name) -> const char* {
      const auto found = c.environment.find(name);
      return found != c.environment.end() ? found->second.c_str() : nullptr;
    });
    if (!c.error.empty()) {
      ASSERT_TRUE(std::holds_alternative<std::string>(read)) << c.error;
      EXPECT_EQ(std::get<std::string>(read), c.error);
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<Settings>(read)) << std::get<std::string>(read);
    const Settings& settings = std::get<Settings>(read);
    EXPECT_EQ(settings.port, c.port);
    EXPECT_EQ(settings.listenAddress, c.address);
    EXPECT_EQ(settings.logLevel, c.level);
    EXPECT_EQ(settings.metricsListen ? settings.metricsListen->address + " " +
                                           std::to_string(settings.metricsListen->port)
                                     : "",
              c.metrics);
  }
}

}  // namespace
}  // namespace host
