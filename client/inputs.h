#pragma once

// The files of one check, read and examined before anything is sent, so that a file in the wrong
// place costs the server nothing and is named for what it is.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/failure.h"
#include "client/options.h"
#include "platform/base/unique_fd.h"

namespace client {

// kMaxHeldBase64 is the most Base64 text of data blocks, line ends included, that one check
// sends. It mirrors the server's limit of 128 MiB of blocks held per connection, beyond which the
// server closes the connection, less a margin for what the server counts besides the text (the
// part of a line it has read, the spare room of its buffers): a document of about 90 MiB.
inline constexpr uint64_t kMaxHeldBase64 = uint64_t{123} << 20;

struct Inputs {
  platform::UniqueFd document;  // the document file; none when the document is a name or a URL
  uint64_t documentSize = 0;
  std::vector<uint8_t> signature;  // the bytes sent; empty when `signatureIsName`
  bool signatureIsName = false;    // the signature is a name the upload service knows
  std::optional<std::vector<uint8_t>> certificate, hashedXml;
};

// ReadInputs opens `document` (unless `options` make it a reference or a service's name) and
// reads and examines `signature` and the files of --cert and --hashed-xml. Nullopt with an input
// failure that names the file and what it is: missing, a folder, too large, a private key, a
// certificate where a signature belongs, the document and the signature swapped.
std::optional<Inputs> ReadInputs(const Options& options, const std::string& document,
                                 const std::string& signature, Failure& failure);

// ReadDocumentPiece reads `count` bytes of the document of `inputs` (the file `path`) from
// `offset`; nullopt with an input failure when the file ends before them.
std::optional<std::vector<uint8_t>> ReadDocumentPiece(const Inputs& inputs, uint64_t offset,
                                                      uint64_t count, const std::string& path,
                                                      Failure& failure);

}  // namespace client
