#include "client/answer.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "platform/base/cp1251.h"

namespace client {
namespace {

constexpr std::string_view kPagePrefix = "HTML: ";
constexpr std::string_view kCharset = "<meta charset=\"utf-8\">";

std::optional<uint32_t> Hex8(std::string_view text) {
  uint32_t value = 0;
  if (text.size() != 8) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + 8, value, 16);
  if (error != std::errc() || end != text.data() + 8) return std::nullopt;
  return value;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

const std::string* CheckAnswer::Field(const std::string& name) const {
  for (const auto& [key, value] : fields) {
    if (key == name) return &value;
  }
  return nullptr;
}

StatusCode ParseStatus(const std::string& value) {
  const std::string_view text = value;
  if (Trimmed(text).empty()) return {0, ""};
  if (text.size() >= 10 && text.back() == ')' && text[text.size() - 10] == '(') {
    if (const std::optional<uint32_t> code = Hex8(text.substr(text.size() - 9, 8))) {
      return {code, Trimmed(text.substr(0, text.size() - 10))};
    }
  }
  const size_t blank = text.rfind(' ');
  const size_t last = blank == std::string_view::npos ? 0 : blank + 1;
  if (const std::optional<uint32_t> code = Hex8(text.substr(last))) {
    return {code, Trimmed(text.substr(0, last))};
  }
  return {std::nullopt, Trimmed(text)};
}

std::optional<CheckAnswer> ParseAnswer(const std::vector<std::string>& lines, std::string& error) {
  CheckAnswer answer;
  for (const std::string& line : lines) {
    if (line.starts_with(kPagePrefix)) {
      answer.page = line.substr(kPagePrefix.size());
      continue;
    }
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) {
      answer.fields.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    } else if (!line.empty() && line.back() == ':') {
      // A field with an empty value is written "Name: " and may reach us without its blank.
      answer.fields.emplace_back(line.substr(0, line.size() - 1), "");
    }
  }
  const std::pair<const char*, CheckVerdict*> checks[] = {{"CheckSignature", &answer.signature},
                                                          {"FindCertificate", &answer.certificate},
                                                          {"CheckChain", &answer.chain}};
  for (const auto& [name, verdict] : checks) {
    const std::string* value = answer.Field(name);
    const std::string* status = answer.Field(std::string(name) + "Status");
    if (value == nullptr || (*value != "OK" && *value != "FAIL") || status == nullptr) {
      error =
          std::string("the server's answer lacks the lines ") + name + " and " + name + "Status";
      return std::nullopt;
    }
    const StatusCode code = ParseStatus(*status);
    if (!code.code) {
      error = std::string("the server's ") + name + "Status holds no status code";
      return std::nullopt;
    }
    *verdict = {*value == "OK", *code.code, code.text};
  }
  return answer;
}

std::string TextLines(const CheckAnswer& answer, std::string (*convert)(const std::string&)) {
  std::string text;
  for (const auto& [name, value] : answer.fields) text += convert(name + ": " + value) + "\n";
  return text;
}

std::string ReportPage(const std::string& cp1251Page) {
  std::string page = platform::Cp1251ToUtf8(cp1251Page);
  const std::string head = "<head>" + std::string(kCharset) + "</head>";
  const size_t html = page.find("<html");
  const size_t tagEnd = html == std::string::npos ? std::string::npos : page.find('>', html);
  if (tagEnd == std::string::npos) return std::string(kCharset) + page;
  page.insert(tagEnd + 1, head);
  return page;
}

}  // namespace client
