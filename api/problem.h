#pragma once

// File: the refusals of the HTTP/JSON front as RFC 9457 problem details
// (application/problem+json): one row per cause, each with its status and a stable `type` URI
// that clients may switch on ("urn:quilmarend:problem:missing-part"), a title, and a detail that
// names what was wrong in this request.
//
// Example:
//   const Problem missing{ProblemType::kMissingPart, "the part \"signature\" is missing"};
//   platform::HttpAnswer answer = ProblemAnswer(missing, "/v1/check");  // 400

#include <string>
#include <string_view>

#include "platform/os/http_listener.h"

namespace api {

// Every cause, once. Values are never reused; the slugs are part of the interface.
enum class ProblemType {
  kMissingPart,           // 400 missing-part
  kDuplicatePart,         // 400 duplicate-part
  kUnknownField,          // 400 unknown-field
  kBadField,              // 400 bad-field
  kNotBase64,             // 400 not-base64
  kMalformedBody,         // 400 malformed-body
  kNotFound,              // 404 not-found
  kMethodNotAllowed,      // 405 method-not-allowed
  kLengthRequired,        // 411 length-required
  kTooLarge,              // 413 too-large
  kUnsupportedMediaType,  // 415 unsupported-media-type
  kServerError,           // 500 server-error
  kBusy,                  // 503 busy
  kStopping,              // 503 stopping
};

struct Problem {
  ProblemType type;
  std::string detail;
};

// ProblemStatus is the HTTP status of `type`; ProblemSlug the last part of its type URI.
int ProblemStatus(ProblemType type);
std::string_view ProblemSlug(ProblemType type);

// ProblemAnswer is the answer for `problem` at the request path `instance`: its status, the
// problem document, and Retry-After for the 503s, Allow (`allow`) for 405.
platform::HttpAnswer ProblemAnswer(const Problem& problem, std::string_view instance,
                                   std::string_view allow = {});

}  // namespace api
