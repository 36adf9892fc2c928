#pragma once

// The upload service: documents and signatures that a client names instead of sending, fetched
// through the service library's one function, GetFile(service, name). The library
// (libvantorix.so) is looked for beside the program first, then on the library search path, and
// once loaded stays loaded for the life of the process.

#include <memory>
#include <string>

#include "platform/file_io.h"
#include "server/session.h"

namespace server {

// CallGetFile returns GetFile's answer for `name` from the service `service`: the path of a local
// file that now holds the content (the caller deletes it after reading), or a text beginning with
// "Error:". Loads the library on first use; a failed load is tried again on the next call.
std::string CallGetFile(const std::string& service, const std::string& name);

// FetchUploadSignature runs the signature step of CHECK and ADD TS: when `signatureText` names a
// signature (longer than 10 bytes ending in ".sig", or exactly 36 bytes), it is fetched from
// `service` and, when at most 1 MiB, replaces `signatureText`. A service or signature name holding
// CR, LF or NUL is refused without asking the service. Returns false when the step failed; its
// error answer has been sent to `sink` then.
bool FetchUploadSignature(const std::string& service, std::string& signatureText, AnswerSink& sink);

// FetchUploadDocument runs the document step of CHECK: the document named by `documentText` is
// fetched from `service` and `documentText` becomes "tempfile:///" + the fetched file's path; the
// file, wherever the service put it, is `*copy`, which deletes it when the request lets it go.
// Names holding CR, LF or NUL are refused as in FetchUploadSignature. Returns false when the step
// failed; its error answer has been sent to `sink` then.
bool FetchUploadDocument(const std::string& service, std::string& documentText, AnswerSink& sink,
                         std::unique_ptr<platform::RequestFile>* copy);

}  // namespace server
