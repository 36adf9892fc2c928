#include "client/terminal_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <memory>
#include <string_view>
#include <type_traits>

#include "platform/base/cp1251.h"

namespace client {
namespace {

void CloseConverter(iconv_t converter) { iconv_close(converter); }
using IconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, decltype(&CloseConverter)>;

}  // namespace

std::string ToTerminal(const std::string& text) {
  return Utf8ToTerminal(platform::Cp1251ToUtf8(text));
}

std::string Utf8ToTerminal(std::string utf8) {
  const std::string_view charset = nl_langinfo(CODESET);
  if (charset == "UTF-8") return utf8;
  const iconv_t opened = iconv_open((std::string(charset) + "//TRANSLIT").c_str(), "UTF-8");
  if (opened == reinterpret_cast<iconv_t>(-1)) return utf8;
  const IconvPtr converter(opened, CloseConverter);
  std::string out;
  char* in = utf8.data();
  size_t inLeft = utf8.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* at = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(converter.get(), &in, &inLeft, &at, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (result == static_cast<size_t>(-1) && errno != E2BIG) {
      // A character the charset cannot show even approximately: one '?' for its UTF-8 sequence.
      out += '?';
      do {
        ++in;
        --inLeft;
      } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    }
  }
  return out;
}

}  // namespace client
