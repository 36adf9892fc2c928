#pragma once

// Document resolution: a document text that is a reference ("http://", "https://", "ftp://",
// "file://", "tempfile:///", exact case) is turned into the document itself before a CHECK.
//  - With a hash server set (and no "?old=1" in the text), the hash server's digest text takes the
//    document's place.
//  - Otherwise a URL is downloaded into a temporary file ("TFR…" in the system temporary folder,
//    moved to the same name with "!" appended), a "file:" reference names a local or mounted file,
//    and a "tempfile:///" reference a file inside the system temporary folder; the file is handed
//    to the engine open, and downloaded and "tempfile:" files are deleted once opened. Only
//    regular files are read.
// The resolved text (local file name, or digest text) replaces the document text for later
// requests on the connection. Every failure is one refusal, the error answer of the request.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/os/file_io.h"
#include "server/connection_state.h"
#include "server/refusal.h"
#include "server/server_limits.h"
#include "verify/engine_limits.h"

namespace server {

// IsDocumentReference is true when `text` begins with one of the reference schemes, in exactly
// that case.
bool IsDocumentReference(std::string_view text);

// ResolvedDocument is a document ready for the engine: its bytes, or an open file of `fileSize`
// bytes that the engine reads itself.
struct ResolvedDocument {
  std::vector<uint8_t> bytes;
  platform::UniqueFd file;
  uint64_t fileSize = 0;
};

// ResolveDocument returns the document that `documentText` holds or names, as the settings say,
// none larger than `limits` allow (a document too large to hash here is refused as one too large
// to read), or the refusal of the request. URLs are downloaded through `engine.internet` within
// `limits.download`, and stopped when `engine.clientGone` says the client has left; digests are
// asked for within `engine`'s limits.
// `uploaded`, when not null, is
// the local copy of the document that an upload service delivered (`documentText` then names
// it): it is read, or hashed when the hash server is "localhost", where it is; a remote hash
// server cannot read it. A download that fails leaves `documentText` as it was.
StepResult<ResolvedDocument> ResolveDocument(std::string& documentText,
                                             const ConnectionSettings& settings,
                                             const Limits& limits,
                                             const verify::EngineContext& engine,
                                             const platform::RequestFile* uploaded);

}  // namespace server
