#pragma once

// The fields of a CHECK answer and the ways quilmarend-check prints them.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace client {

// CheckAnswer holds the answer's "Name: value" lines in order, in the server's Windows-1251,
// and the report page of its "HTML: " line apart.
struct CheckAnswer {
  std::vector<std::pair<std::string, std::string>> fields;
  std::optional<std::string> page;

  const std::string* Field(const std::string& name) const;
  // Passed is true when CheckSignature, FindCertificate and CheckChain all say OK; nullopt when
  // one of them is missing.
  std::optional<bool> Passed() const;
};

// ParseAnswer splits the lines of a CHECK answer (without its "." line) into fields.
CheckAnswer ParseAnswer(const std::vector<std::string>& lines);

// StatusCode is what a status field holds: the code of its trailing "(xxxxxxxx)" or of a last word
// of eight hexadecimal digits, and the text before it; an empty field is code 0.
struct StatusCode {
  std::optional<uint32_t> code;
  std::string text;
};
StatusCode ParseStatus(const std::string& value);

// TextLines renders the fields as "Name: value" lines, converted by `convert`.
std::string TextLines(const CheckAnswer& answer, std::string (*convert)(const std::string&));

// JsonObject renders the fields as one JSON object in UTF-8: the three verdicts as booleans, each
// status field as its code (null when it has none) with the text in "<name>Text", the rest as
// strings.
std::string JsonObject(const CheckAnswer& answer);

// ReportPage turns the page of the "HTML: " line into a UTF-8 page that declares its charset.
std::string ReportPage(const std::string& cp1251Page);

}  // namespace client
