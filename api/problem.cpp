#include "api/problem.h"

#include <nlohmann/json.hpp>

namespace api {
namespace {

struct ProblemRow {
  ProblemType type;
  int status;
  std::string_view slug;
  std::string_view title;
};

constexpr ProblemRow kProblems[] = {
    {ProblemType::kMissingPart, 400, "missing-part", "A required part is missing"},
    {ProblemType::kDuplicatePart, 400, "duplicate-part", "A part is given more than once"},
    {ProblemType::kUnknownField, 400, "unknown-field", "The request has a field this API lacks"},
    {ProblemType::kBadField, 400, "bad-field", "A field's value is not valid"},
    {ProblemType::kNotBase64, 400, "not-base64", "A field is not Base64"},
    {ProblemType::kMalformedBody, 400, "malformed-body",
     "The body is not well-formed JSON or multipart/form-data"},
    {ProblemType::kNotFound, 404, "not-found", "No such resource"},
    {ProblemType::kMethodNotAllowed, 405, "method-not-allowed",
     "The resource does not take this method"},
    {ProblemType::kLengthRequired, 411, "length-required",
     "The request has a body of no stated length"},
    {ProblemType::kTooLarge, 413, "too-large", "The request is larger than the server takes"},
    {ProblemType::kUnsupportedMediaType, 415, "unsupported-media-type",
     "The body is neither multipart/form-data nor application/json"},
    {ProblemType::kServerError, 500, "server-error", "The server could not handle the request"},
    {ProblemType::kBusy, 503, "busy", "Every worker is busy; try again shortly"},
    {ProblemType::kStopping, 503, "stopping", "The server is stopping"},
};

// The seconds a client should wait before trying again.
constexpr std::string_view kRetryBusy = "1";
constexpr std::string_view kRetryStopping = "10";

const ProblemRow& Row(ProblemType type) {
  for (const ProblemRow& row : kProblems) {
    if (row.type == type) return row;
  }
  return kProblems[static_cast<size_t>(ProblemType::kServerError)];
}

}  // namespace

int ProblemStatus(ProblemType type) { return Row(type).status; }

std::string_view ProblemSlug(ProblemType type) { return Row(type).slug; }

platform::HttpAnswer ProblemAnswer(const Problem& problem, std::string_view instance,
                                   std::string_view allow) {
  const ProblemRow& row = Row(problem.type);
  nlohmann::ordered_json document;
  document["type"] = "urn:quilmarend:problem:" + std::string(row.slug);
  document["title"] = row.title;
  document["status"] = row.status;
  document["detail"] = problem.detail;
  document["instance"] = instance;
  platform::HttpAnswer answer{
      row.status,
      "application/problem+json",
      document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace),
      {}};
  if (problem.type == ProblemType::kBusy) answer.headers.emplace_back("Retry-After", kRetryBusy);
  if (problem.type == ProblemType::kStopping) {
    answer.headers.emplace_back("Retry-After", kRetryStopping);
  }
  if (problem.type == ProblemType::kMethodNotAllowed) answer.headers.emplace_back("Allow", allow);
  return answer;
}

}  // namespace api
