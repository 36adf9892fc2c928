#include "client/inputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "client/blob_file.h"
#include "client/blob_kind.h"
#include "platform/base/cp1251.h"
#include "platform/base/utf8.h"

namespace client {
namespace {

// A document no larger than this is looked at before it is sent: a key or a signature there is
// a mistake worth naming.
constexpr uint64_t kExaminedDocumentBytes = uint64_t{1} << 20;

// The largest document that fits in kMaxHeldBase64, in whole MiB: 57 bytes make a line of 78.
constexpr uint64_t kMaxDocumentMib =
    (kMaxHeldBase64 / (Base64LinesSize(kBase64LineBytes)) * kBase64LineBytes + (1 << 19)) >> 20;

Failure Input(std::string message) { return {FailureKind::kInput, std::move(message)}; }

// OpenDocument opens the document file `path`, which must be a regular file (its size is what the
// server will hold); none with `error` set otherwise. A FIFO does not block the open.
platform::UniqueFd OpenDocument(const std::string& path, uint64_t& size, std::string& error) {
  platform::UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!fd || fstat(fd.get(), &status) != 0) {
    error = path + ": " + std::strerror(errno);
    return platform::UniqueFd();
  }
  if (!S_ISREG(status.st_mode)) {
    error = path + ": " + (S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    return platform::UniqueFd();
  }
  size = static_cast<uint64_t>(status.st_size);
  return fd;
}

// ReadAt reads up to `count` bytes of `fd` from `offset`; what it could.
std::vector<uint8_t> ReadAt(int fd, uint64_t offset, uint64_t count) {
  std::vector<uint8_t> bytes(count);
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t read =
        pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(offset + got));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    got += static_cast<size_t>(read);
  }
  bytes.resize(got);
  return bytes;
}

// DocumentProblem is why the small document `bytes` (the file `path`) must not be sent: it is a
// private key, in DER or as a PEM block it starts with. Empty when it may.
std::string DocumentProblem(const std::vector<uint8_t>& bytes, const std::string& path) {
  std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const Blob blob = ExamineBlob(content);
  content.remove_prefix(std::min(content.find_first_not_of(" \t\r\n"), content.size()));
  if ((blob.kind != BlobKind::kPrivateKey && blob.kind != BlobKind::kPkcs12) ||
      (blob.pem && !content.starts_with("-----BEGIN "))) {
    return {};
  }
  return path + " is " + KindText(blob) + ", not a document; it was not sent (keep it private)";
}

// HeldSizeReason is why the blocks of `inputs` cannot be sent: the server holds at most
// kMaxHeldBase64 of their Base64 text per connection. Empty when they fit.
std::string HeldSizeReason(const Inputs& inputs, const std::string& documentPath,
                           const std::string& signaturePath) {
  uint64_t held = Base64LinesSize(inputs.documentSize) + Base64LinesSize(inputs.signature.size());
  for (const auto* blob : {&inputs.certificate, &inputs.hashedXml}) {
    if (*blob) held += Base64LinesSize((*blob)->size());
  }
  if (held <= kMaxHeldBase64) return {};
  if (!inputs.document) return signaturePath + ": the files are too large to send";
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(documentPath, ignored);
  char size[32];
  std::snprintf(size, sizeof size, "%.1f", static_cast<double>(inputs.documentSize) / (1 << 20));
  return documentPath + ": " + size + " MiB is more than the server takes inline (about " +
         std::to_string(kMaxDocumentMib) +
         " MiB); have it read the file itself with --ref file://" +
         absolute.lexically_normal().string();
}

// PagePathReason is why the page cannot be written to `path`, as far as can be told before the
// server answers: it names a folder, or its folder cannot be written. Empty when it can.
std::string PagePathReason(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  struct stat status {};
  const bool exists = stat(path.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) {
    errno = EISDIR;
  } else if ((exists || errno == ENOENT) && access(folder.c_str(), W_OK | X_OK) == 0) {
    return {};
  }
  return path + ": " + std::strerror(errno);
}

// ExaminedFile reads `path` and examines what it holds; nullopt with `error` set when it cannot
// be read.
std::optional<Blob> ExaminedFile(const std::string& path, std::string& error) {
  const std::optional<std::string> content = ReadInputFile(path, kMaxHeldBase64, error);
  if (!content) return std::nullopt;
  return ExamineBlob(*content);
}

// SwappedProblem is the sentence for a signature file that holds no signature while the
// document holds one; empty when the document is no signature either.
std::string SwappedProblem(const Inputs& inputs, const std::string& document,
                           const std::string& signature, const Blob& signatureBlob) {
  if (!inputs.document || inputs.documentSize > kExaminedDocumentBytes) return {};
  const std::vector<uint8_t> head = ReadAt(inputs.document.get(), 0, inputs.documentSize);
  const Blob documentBlob =
      ExamineBlob(std::string_view(reinterpret_cast<const char*>(head.data()), head.size()));
  if (documentBlob.kind != BlobKind::kSignedData) return {};
  return "DOCUMENT and SIGNATURE swapped? " + signature + " is " + KindText(signatureBlob) +
         ", and " + document + " is " + KindText(documentBlob);
}

}  // namespace

std::optional<Inputs> ReadInputs(const Options& options, const std::string& document,
                                 const std::string& signature, Failure& failure) {
  Inputs inputs;
  std::string error;
  const bool documentIsName = options.documentIsReference || !options.uploadService.empty();
  if (!documentIsName) {
    inputs.document = OpenDocument(document, inputs.documentSize, error);
    if (!inputs.document) {
      failure = Input(error);
      return std::nullopt;
    }
    if (inputs.documentSize <= kExaminedDocumentBytes) {
      error = DocumentProblem(ReadAt(inputs.document.get(), 0, inputs.documentSize), document);
      if (!error.empty()) {
        failure = Input(error);
        return std::nullopt;
      }
    }
  }
  // With an upload service, a signature that is no file is a name the service knows.
  struct stat status {};
  inputs.signatureIsName = !options.uploadService.empty() && stat(signature.c_str(), &status) != 0;
  if (!inputs.signatureIsName) {
    std::optional<Blob> blob = ExaminedFile(signature, error);
    if (!blob) {
      failure = Input(error);
      return std::nullopt;
    }
    std::optional<std::string> problem = options.certificate.empty()
                                             ? SignatureProblem(*blob, signature)
                                             : ValueProblem(*blob, signature);
    if (problem) {
      const std::string swapped = options.certificate.empty() && blob->kind != BlobKind::kPrivateKey
                                      ? SwappedProblem(inputs, document, signature, *blob)
                                      : std::string();
      failure = Input(swapped.empty() ? *problem : swapped);
      return std::nullopt;
    }
    inputs.signature = std::move(blob->bytes);
  }
  if (!options.certificate.empty()) {
    std::optional<Blob> blob = ExaminedFile(options.certificate, error);
    std::optional<std::string> problem =
        blob ? CertificateProblem(*blob, options.certificate) : error;
    if (problem) {
      failure = Input(*problem);
      return std::nullopt;
    }
    inputs.certificate = std::move(blob->bytes);
  }
  if (!options.hashedXml.empty()) {
    std::optional<std::string> text = ReadInputFile(options.hashedXml, kMaxHeldBase64, error);
    if (!text) {
      failure = Input(error);
      return std::nullopt;
    }
    // A Base64 fragment reaches the server's XML parser as decoded, which takes UTF-8: a file
    // that is not UTF-8 is taken for Windows-1251 and converted.
    if (!platform::IsUtf8(*text)) text = platform::Cp1251ToUtf8(*text);
    inputs.hashedXml = std::vector<uint8_t>(text->begin(), text->end());
  }
  error = HeldSizeReason(inputs, document, signature);
  if (error.empty() && !options.htmlFile.empty()) error = PagePathReason(options.htmlFile);
  if (!error.empty()) {
    failure = Input(error);
    return std::nullopt;
  }
  return inputs;
}

std::optional<std::vector<uint8_t>> ReadDocumentPiece(const Inputs& inputs, uint64_t offset,
                                                      uint64_t count, const std::string& path,
                                                      Failure& failure) {
  std::vector<uint8_t> bytes = ReadAt(inputs.document.get(), offset, count);
  if (bytes.size() != count) {
    failure = Input(path + ": the file shrank while it was sent");
    return std::nullopt;
  }
  return bytes;
}

}  // namespace client
