#include "platform/base/file_reference.h"

#include <algorithm>
#include <cstdlib>

namespace platform {
namespace {

std::string Slashed(std::string_view reference) {
  std::string text(reference);
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

}  // namespace

std::string UncRoot() {
  const char* root = std::getenv("QUILMAREND_UNC_ROOT");
  return root != nullptr && *root != '\0' ? root : "/net";
}

bool IsFileReference(std::string_view reference) {
  return Slashed(reference.substr(0, 7)) == "file://";
}

bool IsOneLine(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string ToLinuxPath(std::string_view reference, std::string_view uncRoot) {
  const std::string text = Slashed(reference);
  if (text.rfind("file:///", 0) == 0) return text.substr(7);  // keep the third slash
  std::string root(uncRoot);
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root + "/" + text.substr(7);
}

}  // namespace platform
