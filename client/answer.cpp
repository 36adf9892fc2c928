#include "client/answer.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "platform/base/cp1251.h"

namespace client {
namespace {

constexpr const char* kVerdicts[] = {"CheckSignature", "FindCertificate", "CheckChain"};
constexpr std::string_view kPagePrefix = "HTML: ";
constexpr std::string_view kCharset = "<meta charset=\"utf-8\">";

bool IsHex8(std::string_view text) {
  return text.size() == 8 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string TrimmedRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

const std::string* CheckAnswer::Field(const std::string& name) const {
  for (const auto& [key, value] : fields) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::optional<bool> CheckAnswer::Passed() const {
  bool passed = true;
  for (const char* name : kVerdicts) {
    const std::string* value = Field(name);
    if (value == nullptr) return std::nullopt;
    passed = passed && *value == "OK";
  }
  return passed;
}

CheckAnswer ParseAnswer(const std::vector<std::string>& lines) {
  CheckAnswer answer;
  for (const std::string& line : lines) {
    if (line.starts_with(kPagePrefix)) {
      answer.page = line.substr(kPagePrefix.size());
      continue;
    }
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      // A field with an empty value is written "Name: " and may reach us without its blank.
      if (!line.empty() && line.back() == ':')
        answer.fields.emplace_back(line.substr(0, line.size() - 1), "");
      continue;
    }
    answer.fields.emplace_back(line.substr(0, colon), line.substr(colon + 2));
  }
  return answer;
}

StatusCode ParseStatus(const std::string& value) {
  if (value.empty()) return {0, ""};
  if (value.size() >= 10 && value.back() == ')' && value[value.size() - 10] == '(' &&
      IsHex8(std::string_view(value).substr(value.size() - 9, 8))) {
    return {static_cast<uint32_t>(std::stoul(value.substr(value.size() - 9, 8), nullptr, 16)),
            TrimmedRight(value.substr(0, value.size() - 10))};
  }
  const size_t blank = value.rfind(' ');
  const std::string last = blank == std::string::npos ? value : value.substr(blank + 1);
  if (IsHex8(last)) {
    return {static_cast<uint32_t>(std::stoul(last, nullptr, 16)),
            blank == std::string::npos ? "" : TrimmedRight(value.substr(0, blank))};
  }
  return {std::nullopt, value};
}

std::string TextLines(const CheckAnswer& answer, std::string (*convert)(const std::string&)) {
  std::string text;
  for (const auto& [name, value] : answer.fields) text += convert(name + ": " + value) + "\n";
  return text;
}

std::string JsonObject(const CheckAnswer& answer) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const auto& [name, value] : answer.fields) {
    // Names too are converted: JSON text is UTF-8, and dump refuses any other.
    const std::string key = platform::Cp1251ToUtf8(name);
    if (std::find(std::begin(kVerdicts), std::end(kVerdicts), name) != std::end(kVerdicts)) {
      object[key] = value == "OK";
    } else if (name.ends_with("Status")) {
      const StatusCode status = ParseStatus(value);
      object[key] = status.code ? nlohmann::ordered_json(*status.code) : nullptr;
      object[key + "Text"] = platform::Cp1251ToUtf8(status.text);
    } else {
      object[key] = platform::Cp1251ToUtf8(value);
    }
  }
  return object.dump(2) + "\n";
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
