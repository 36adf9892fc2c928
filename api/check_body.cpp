#include "api/check_body.h"

#include <climits>
#include <nlohmann/json.hpp>

namespace api {
namespace {

constexpr char kRequestFilePrefix[] = "quilmarend-http-";

Problem TooLarge(std::string_view field, uint64_t limit) {
  return {ProblemType::kTooLarge, "the part \"" + std::string(field) + "\" is larger than " +
                                      std::to_string(limit) + " bytes"};
}

bool IsDocument(std::string_view name) {
  return name == kDocumentField || name == kSignedInfoField;
}

// HeldPart is the member of `input` that holds the data field `name`, or null.
std::optional<std::vector<uint8_t>>* HeldPart(CheckInput& input, std::string_view name) {
  if (name == kSignatureField) return &input.signature;
  if (name == kCertificateField) return &input.certificate;
  if (name == kHashedXmlField) return &input.hashedXml;
  return nullptr;
}

Problem Duplicate(std::string_view name) {
  return {ProblemType::kDuplicatePart,
          IsDocument(name) ? "give one \"document\" or one \"signedInfo\""
                           : "the part \"" + std::string(name) + "\" is given more than once"};
}

}  // namespace

std::optional<Problem> FormCollector::Begin(std::string_view field) {
  current = field;
  currentBytes = 0;
  partOpen = true;
  // `oid` may come once per identifier; every other part once.
  if (field != "oid" &&
      !given.insert(std::string(IsDocument(field) ? kDocumentField : field)).second) {
    return Duplicate(field);
  }
  if (IsDocument(field)) {
    input.documentGiven = true;
  } else if (std::optional<std::vector<uint8_t>>* held = HeldPart(input, field)) {
    held->emplace();
  } else if (IsOption(field)) {
    options.emplace_back(field, std::string());
  } else {
    return Problem{ProblemType::kUnknownField, "no field is named \"" + std::string(field) + "\""};
  }
  return std::nullopt;
}

std::optional<Problem> FormCollector::AddToDocument(std::string_view piece) {
  input.documentSize += piece.size();
  if (input.documentSize > limits.maxDocumentBytes)
    return TooLarge(current, limits.maxDocumentBytes);
  if (input.documentFile == nullptr && input.documentSize <= limits.heldDocumentBytes) {
    input.document.insert(input.document.end(), piece.begin(), piece.end());
    return std::nullopt;
  }
  const auto write = [this](std::span<const uint8_t> bytes) {
    if (!input.documentFile->Write(bytes)) {
      input.documentFile.reset();
      return false;
    }
    return true;
  };
  if (input.documentFile == nullptr) {
    input.documentFile = platform::TemporaryFile::Create(kRequestFilePrefix, PATH_MAX);
    if (input.documentFile == nullptr || !write(input.document)) {
      return Problem{ProblemType::kServerError, "the document's request file cannot be written"};
    }
    input.document = {};
  }
  if (!write({reinterpret_cast<const uint8_t*>(piece.data()), piece.size()})) {
    return Problem{ProblemType::kServerError, "the document's request file cannot be written"};
  }
  return std::nullopt;
}

std::optional<Problem> FormCollector::Take(std::string_view field, uint64_t offset,
                                           std::string_view piece) {
  // Each part starts at offset 0; a part may be handed over empty before its first bytes.
  if (!partOpen || field != current || (offset == 0 && currentBytes != 0)) {
    if (std::optional<Problem> bad = Begin(field)) return bad;
  }
  currentBytes += piece.size();
  if (IsDocument(field)) return AddToDocument(piece);
  if (std::optional<std::vector<uint8_t>>* held = HeldPart(input, field)) {
    if ((*held)->size() + piece.size() > limits.maxPartBytes) {
      return TooLarge(field, limits.maxPartBytes);
    }
    (*held)->insert((*held)->end(), piece.begin(), piece.end());
    return std::nullopt;
  }
  std::string& text = options.back().second;
  if (text.size() + piece.size() > limits.maxOptionBytes) {
    return TooLarge(field, limits.maxOptionBytes);
  }
  text.append(piece);
  return std::nullopt;
}

std::variant<CheckInput, Problem> FormCollector::Finish() {
  if (input.documentFile != nullptr && !input.documentFile->Flush()) {
    return Problem{ProblemType::kServerError, "the document's request file cannot be written"};
  }
  for (const auto& [name, value] : options) {
    if (std::optional<Problem> bad = SetFormOption(input.options, name, value)) return *bad;
  }
  return std::move(input);
}

std::variant<CheckInput, Problem> ReadJsonBody(std::string_view body) {
  const nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    return Problem{ProblemType::kMalformedBody, "the body is not a JSON object"};
  }
  CheckInput input;
  for (const auto& [name, value] : document.items()) {
    std::optional<std::vector<uint8_t>>* held = HeldPart(input, name);
    if (!IsDocument(name) && held == nullptr) {
      if (std::optional<Problem> bad = SetJsonOption(input.options, name, value)) return *bad;
      continue;
    }
    if (value.is_null()) continue;
    std::optional<std::vector<uint8_t>> bytes;
    if (value.is_string()) bytes = DecodeBase64Field(value.get_ref<const std::string&>());
    if (!bytes) {
      return Problem{ProblemType::kNotBase64, "\"" + name + "\" is not a Base64 string"};
    }
    if (!IsDocument(name)) {
      *held = std::move(bytes);
    } else if (input.documentGiven) {
      return Duplicate(name);
    } else {
      input.documentGiven = true;
      input.documentSize = bytes->size();
      input.document = std::move(*bytes);
    }
  }
  return input;
}

}  // namespace api
