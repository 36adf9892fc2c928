#pragma once

// A request runs as a fixed list of steps. A step that cannot go on returns a Refusal: the whole
// error answer the client gets, which ends the request there. Steps send nothing themselves.
//
// Example:
//   if (std::optional<Refusal> refused = FetchUploadSignature(...)) return Refused(*refused);

#include <string>
#include <variant>

namespace server {

struct Refusal {
  std::string answer;
};

// StepResult is what a step that makes something returns: the thing, or the refusal.
template <class T>
using StepResult = std::variant<T, Refusal>;

}  // namespace server
