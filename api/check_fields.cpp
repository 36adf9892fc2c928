#include "api/check_fields.h"

#include <algorithm>
#include <charconv>

#include "platform/base/win_time.h"
#include "platform/base/base64.h"

namespace api {
namespace {

// 3001-01-01T00:00:00Z: moments from here on are past the range of TIME.
constexpr int64_t kEndOfYear3000 = 32535216000;

constexpr std::string_view kOptions[] = {"time",        "revocation", "findInStores",
                                         "keyLifetime", "oid",        "report"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsBase64Letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '+' || c == '/';
}

// Digits reads `count` decimal digits of `text` at `at` into `out`.
bool Digits(std::string_view text, size_t at, size_t count, int& out) {
  if (at + count > text.size()) return false;
  out = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

// IsOid is true for a dotted object identifier of two arcs or more ("1.3.6.1.5.5.7.3.4").
bool IsOid(std::string_view text) {
  if (text.size() < 3 || text[0] < '0' || text[0] > '2' || text[1] != '.') return false;
  bool digitBefore = false;
  for (const char c : text.substr(2)) {
    if (c == '.' && digitBefore) {
      digitBefore = false;
    } else if (IsDigit(c)) {
      digitBefore = true;
    } else {
      return false;
    }
  }
  return digitBefore;
}

Problem BadField(std::string_view name, std::string_view expected) {
  return {ProblemType::kBadField, std::string(name) + ": " + std::string(expected)};
}

std::optional<Problem> SetTime(CheckOptions& options, std::string_view text) {
  options.verifyTime = ParseRfc3339(text);
  if (!options.verifyTime) {
    return BadField("time", "not an RFC 3339 date-time from 1970 to 3000 (2026-01-31T12:00:00Z)");
  }
  return std::nullopt;
}

// SetKeyLifetime keeps SKLIFETIME's reading: 0 means 366 days, a negative number no check.
void SetKeyLifetime(CheckOptions& options, int32_t days) {
  options.keyLifetimeDays = days == 0 ? 366 : days;
}

std::optional<Problem> AddOids(CheckOptions& options, std::string_view list) {
  while (true) {
    const size_t comma = list.find(',');
    std::string_view oid = list.substr(0, comma);
    while (!oid.empty() && IsSpace(oid.front())) oid.remove_prefix(1);
    while (!oid.empty() && IsSpace(oid.back())) oid.remove_suffix(1);
    if (!IsOid(oid)) return BadField("oid", "not a dotted object identifier (1.3.6.1.5.5.7.3.4)");
    options.oids.emplace_back(oid);
    if (comma == std::string_view::npos) return std::nullopt;
    list.remove_prefix(comma + 1);
  }
}

std::optional<Problem> SetReport(CheckOptions& options, std::string_view value) {
  if (value != "html" && value != "none")
    return BadField("report", "neither \"html\" nor \"none\"");
  options.htmlReport = value == "html";
  return std::nullopt;
}

}  // namespace

bool IsOption(std::string_view name) {
  return std::find(std::begin(kOptions), std::end(kOptions), name) != std::end(kOptions);
}

std::optional<Problem> SetFormOption(CheckOptions& options, std::string_view name,
                                     std::string_view value) {
  if (name == "time") return SetTime(options, value);
  if (name == "revocation" || name == "findInStores") {
    if (value != "true" && value != "false") return BadField(name, "neither true nor false");
    (name == "revocation" ? options.checkRevocation : options.findCertificate) = value == "true";
    return std::nullopt;
  }
  if (name == "keyLifetime") {
    int32_t days = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), days);
    if (error != std::errc() || end != value.data() + value.size()) {
      return BadField(name, "not a whole number of days");
    }
    SetKeyLifetime(options, days);
    return std::nullopt;
  }
  if (name == "oid") return AddOids(options, value);
  if (name == "report") return SetReport(options, value);
  return Problem{ProblemType::kUnknownField, "no field is named \"" + std::string(name) + "\""};
}

std::optional<Problem> SetJsonOption(CheckOptions& options, std::string_view name,
                                     const nlohmann::json& value) {
  if (value.is_null() && IsOption(name)) return std::nullopt;
  if (name == "time" || name == "report") {
    if (!value.is_string()) return BadField(name, "not a string");
    const std::string& text = value.get_ref<const std::string&>();
    return name == "time" ? SetTime(options, text) : SetReport(options, text);
  }
  if (name == "revocation" || name == "findInStores") {
    if (!value.is_boolean()) return BadField(name, "not true or false");
    (name == "revocation" ? options.checkRevocation : options.findCertificate) = value.get<bool>();
    return std::nullopt;
  }
  if (name == "keyLifetime") {
    if (!value.is_number_integer() || value.get<int64_t>() < INT32_MIN ||
        value.get<int64_t>() > INT32_MAX) {
      return BadField(name, "not a whole number of days");
    }
    SetKeyLifetime(options, static_cast<int32_t>(value.get<int64_t>()));
    return std::nullopt;
  }
  if (name == "oid") {
    if (!value.is_array()) return BadField(name, "not a list of object identifiers");
    for (const nlohmann::json& oid : value) {
      if (!oid.is_string()) return BadField(name, "not a list of object identifiers");
      if (std::optional<Problem> bad = AddOids(options, oid.get_ref<const std::string&>())) {
        return bad;
      }
    }
    return std::nullopt;
  }
  return Problem{ProblemType::kUnknownField, "no field is named \"" + std::string(name) + "\""};
}

std::optional<uint64_t> ParseRfc3339(std::string_view text) {
  int year, month, day, hour, minute, second;
  if (text.size() < 20 || !Digits(text, 0, 4, year) || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day) ||
      (text[10] != 'T' && text[10] != 't' && text[10] != ' ') || !Digits(text, 11, 2, hour) ||
      text[13] != ':' || !Digits(text, 14, 2, minute) || text[16] != ':' ||
      !Digits(text, 17, 2, second)) {
    return std::nullopt;
  }
  size_t at = 19;
  if (text[at] == '.') {
    const size_t fraction = ++at;
    while (at < text.size() && IsDigit(text[at])) ++at;
    if (at == fraction) return std::nullopt;
  }
  int64_t offsetSeconds = 0;
  if (at + 1 == text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (int hours, minutes; at + 6 == text.size() && (text[at] == '+' || text[at] == '-') &&
                                 Digits(text, at + 1, 2, hours) && text[at + 3] == ':' &&
                                 Digits(text, at + 4, 2, minutes) && hours < 24 && minutes < 60) {
    offsetSeconds = (text[at] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    at += 6;
  }
  if (at != text.size()) return std::nullopt;
  platform::SystemTime calendar;
  calendar.year = static_cast<uint16_t>(year);
  calendar.month = static_cast<uint16_t>(month);
  calendar.day = static_cast<uint16_t>(day);
  calendar.hour = static_cast<uint16_t>(hour);
  calendar.minute = static_cast<uint16_t>(minute);
  calendar.second = static_cast<uint16_t>(second);
  const std::optional<uint64_t> local = platform::SystemTimeToFileTime(calendar);
  if (!local) return std::nullopt;
  const int64_t seconds = platform::FileTimeToUnixSeconds(*local) - offsetSeconds;
  if (seconds < 0 || seconds >= kEndOfYear3000) return std::nullopt;
  return platform::UnixSecondsToFileTime(seconds);
}

std::optional<std::vector<uint8_t>> DecodeBase64Field(std::string_view text) {
  size_t letters = 0, padding = 0;
  for (const char c : text) {
    if (IsSpace(c)) continue;
    if (c == '=') {
      ++padding;
    } else if (IsBase64Letter(c) && padding == 0) {
      ++letters;
    } else {
      return std::nullopt;
    }
  }
  // A lone letter in the last group, or padding that does not fill a group, is not Base64.
  if (letters % 4 == 1 || padding > 2 || (padding != 0 && (letters + padding) % 4 != 0)) {
    return std::nullopt;
  }
  return platform::Base64Decode(text);
}

std::vector<uint8_t> FileBlob(std::span<const uint8_t> file) {
  const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
  const size_t begin = text.find("-----BEGIN ");
  if (begin != std::string_view::npos) {
    const size_t body = text.find('\n', begin);
    const size_t end = text.find("-----END ", begin);
    if (body != std::string_view::npos && end != std::string_view::npos && body < end) {
      return platform::Base64Decode(text.substr(body + 1, end - body - 1));
    }
  }
  const bool base64 = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return IsBase64Letter(c) || c == '=' || IsSpace(c);
  });
  if (base64) return platform::Base64Decode(text);
  return {file.begin(), file.end()};
}

std::variant<verify::CheckRequest, Problem> MakeCheckRequest(CheckInput input) {
  if (!input.documentGiven) {
    return Problem{ProblemType::kMissingPart,
                   "the part \"document\" (or \"signedInfo\") is missing"};
  }
  if (!input.signature) {
    return Problem{ProblemType::kMissingPart, "the part \"signature\" is missing"};
  }
  verify::CheckRequest request;
  if (input.documentFile != nullptr) {
    // The engine reads the file through this descriptor; its name goes at once.
    request.documentFile = platform::OpenForReading(input.documentFile->Path());
    if (!request.documentFile) {
      return Problem{ProblemType::kServerError, "the document's request file cannot be read"};
    }
    request.documentFileSize = input.documentSize;
    input.documentFile.reset();
  } else {
    request.document = std::move(input.document);
  }
  request.signature = FileBlob(*input.signature);
  if (input.certificate) request.certificate = FileBlob(*input.certificate);
  if (input.hashedXml) {
    request.hashedXml = std::move(input.hashedXml);
    request.xmlMode = true;
  }
  const CheckOptions& options = input.options;
  request.findCertificate = options.findCertificate;
  request.checkRevocation = options.checkRevocation;
  request.verifyTime = options.verifyTime.value_or(0);
  request.keyLifetimeDays = options.keyLifetimeDays;
  for (const std::string& oid : options.oids) {
    if (!request.oidList.empty()) request.oidList += ',';
    request.oidList += oid;
  }
  return request;
}

}  // namespace api
