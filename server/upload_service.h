#pragma once

// The upload service: documents and signatures that a client names instead of sending, fetched
// through the service library's one function, GetFile(service, name). The library
// (libvantorix.so) is looked for beside the program first, then on the library search path, and
// once loaded stays loaded for the life of the process.

#include <memory>
#include <optional>
#include <string>

#include "platform/os/file_io.h"
#include "server/refusal.h"

namespace server {

// CallGetFile returns GetFile's answer for `name` from the service `service`: the path of a local
// file that now holds the content (the caller deletes it after reading), or a text beginning with
// "Error:". Loads the library on first use; a failed load is tried again on the next call.
std::string CallGetFile(const std::string& service, const std::string& name);

// FetchUploadSignature runs the signature step of CHECK and ADD TS: when `signatureText` names a
// signature (longer than 10 bytes ending in ".sig", or exactly 36 bytes), it is fetched from
// `service` and, when at most 1 MiB, replaces `signatureText`. A service or signature name holding
// CR, LF or NUL is refused without asking the service. Returns the refusal when the step failed.
std::optional<Refusal> FetchUploadSignature(const std::string& service, std::string& signatureText);

// FetchUploadDocument runs the document step of CHECK: the document named by `documentText` is
// fetched from `service` and `documentText` becomes "tempfile:///" + the fetched file's path.
// Returns the file, wherever the service put it, which deletes it when the request lets it go,
// or the refusal; names holding CR, LF or NUL are refused as in FetchUploadSignature.
StepResult<std::unique_ptr<platform::RequestFile>> FetchUploadDocument(const std::string& service,
                                                                       std::string& documentText);

}  // namespace server
