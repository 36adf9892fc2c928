#include "server/environment.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace server {

uint64_t WholeNumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return 0;
  const std::string_view view(text);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  if (error != std::errc() || end != view.data() + view.size()) return 0;
  return value;
}

}  // namespace server
