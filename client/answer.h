#pragma once

// The fields of a CHECK answer: its "Name: value" lines, the three verdicts with their status
// codes, and the report page.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace client {

// CheckVerdict is one check of an answer: its verdict, its status code and the status text
// without the code (Windows-1251, as the server writes it; empty when there is none).
struct CheckVerdict {
  bool ok = false;
  uint32_t status = 0;
  std::string text;
};

// CheckAnswer holds the answer's "Name: value" lines in order, in the server's Windows-1251, its
// three checks, and the report page of its "HTML: " line apart.
struct CheckAnswer {
  std::vector<std::pair<std::string, std::string>> fields;
  CheckVerdict signature, certificate, chain;
  std::optional<std::string> page;

  // Field is the value of the line `name`; null when the answer has none.
  const std::string* Field(const std::string& name) const;
  // Valid is true when the three checks are OK.
  bool Valid() const { return signature.ok && certificate.ok && chain.ok; }
};

// ParseAnswer reads the lines of a CHECK answer (without its "." line). Nullopt with `error` set
// when a verdict is missing or is neither OK nor FAIL, or a status holds no code.
std::optional<CheckAnswer> ParseAnswer(const std::vector<std::string>& lines, std::string& error);

// StatusCode is what a status field holds: the code of its trailing "(xxxxxxxx)" or of a last word
// of eight hexadecimal digits, and the text before it, trimmed; an empty field is code 0.
struct StatusCode {
  std::optional<uint32_t> code;
  std::string text;
};
StatusCode ParseStatus(const std::string& value);

// TextLines renders the fields as "Name: value" lines, converted by `convert`.
std::string TextLines(const CheckAnswer& answer, std::string (*convert)(const std::string&));

// ReportPage turns the page of the "HTML: " line into a UTF-8 page that declares its charset.
std::string ReportPage(const std::string& cp1251Page);

}  // namespace client
