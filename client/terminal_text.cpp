#include "client/terminal_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <memory>
#include <string_view>
#include <type_traits>

#include "platform/base/cp1251.h"

namespace client {
namespace {

void CloseConverter(iconv_t converter) { iconv_close(converter); }
using IconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, decltype(&CloseConverter)>;

// Charset is the locale's charset, read once.
const std::string& Charset() {
  static const std::string charset = [] {
    std::setlocale(LC_CTYPE, "");
    return std::string(nl_langinfo(CODESET));
  }();
  return charset;
}

// Converted converts `utf8` with iconv, which knows every other charset.
std::string Converted(std::string utf8, const std::string& charset) {
  const iconv_t opened = iconv_open((charset + "//TRANSLIT").c_str(), "UTF-8");
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

}  // namespace

std::string ToTerminal(const std::string& text) {
  return Utf8ToTerminal(platform::Cp1251ToUtf8(text));
}

std::string Utf8ToTerminal(std::string utf8) {
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return utf8;
  const std::string& charset = Charset();
  if (strcasecmp(charset.c_str(), "UTF-8") == 0) return utf8;
  // The server's own code page needs no iconv module.
  if (strcasecmp(charset.c_str(), "CP1251") == 0 ||
      strcasecmp(charset.c_str(), "WINDOWS-1251") == 0) {
    return platform::Utf8ToCp1251(utf8);
  }
  return Converted(std::move(utf8), charset);
}

}  // namespace client
