// quilmarend-check: asks a Quilmarend server whether a signature is valid and prints its answer.
// Exit status: 0 when the three checks pass, 1 when the server answered and one failed, 2 for a
// usage error, an unreadable file, a server that cannot be reached or an error answer.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "client/answer.h"
#include "client/blob_file.h"
#include "client/connection.h"
#include "client/options.h"
#include "client/progress_bar.h"
#include "client/terminal_text.h"
#include "platform/base/cp1251.h"
#include "platform/base/log.h"
#include "platform/base/unique_fd.h"
#include "platform/base/utf8.h"

namespace client {
namespace {

constexpr int kPassed = 0, kFailed = 1, kTrouble = 2;
constexpr uint64_t kProgressThreshold = uint64_t{8} << 20;
constexpr size_t kReadPiece = size_t{1} << 20;
// The largest document that fits in kMaxHeldBase64, in whole MiB: 57 bytes make a line of 78.
constexpr uint64_t kMaxDocumentMib =
    (kMaxHeldBase64 / (Base64LinesSize(kBase64LineBytes)) * kBase64LineBytes + (1 << 19)) >> 20;

// Trouble prints `message` (UTF-8, as file names and the server's converted lines are) and
// gives the exit status of a failure that is not a verdict.
int Trouble(const std::string& message) {
  // A file name may hold any byte but NUL; written visibly, it cannot break the line.
  std::string line;
  platform::AppendVisible(line, message);
  std::fprintf(stderr, "quilmarend-check: %s\n", Utf8ToTerminal(line).c_str());
  return kTrouble;
}

// BytesSource hands out `bytes` whole, then the end.
BlockSource BytesSource(std::vector<uint8_t> bytes) {
  return [bytes = std::move(bytes), done = false](std::string&) mutable {
    std::optional<std::vector<uint8_t>> piece = done ? std::vector<uint8_t>() : bytes;
    done = true;
    return piece;
  };
}

// FileSource reads the open file `fd` piece by piece.
BlockSource FileSource(int fd, const std::string& path) {
  return [fd, path](std::string& error) -> std::optional<std::vector<uint8_t>> {
    std::vector<uint8_t> piece(kReadPiece);
    for (;;) {
      const ssize_t read = ::read(fd, piece.data(), piece.size());
      if (read >= 0) {
        piece.resize(static_cast<size_t>(read));
        return piece;
      }
      if (errno != EINTR) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
      }
    }
  };
}

// WritePage writes `page` to `path` through a temporary file beside it, so that a failed write
// leaves neither a part of a page nor a stray file.
bool WritePage(const std::string& path, const std::string& page, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const platform::UniqueFd fd(mkstemp(temporary.data()));
  bool written = fd.get() >= 0 && fchmod(fd.get(), 0644) == 0;
  for (size_t at = 0; written && at < page.size();) {
    const ssize_t count = ::write(fd.get(), page.data() + at, page.size() - at);
    written = count > 0;
    if (written) at += static_cast<size_t>(count);
  }
  written = written && fsync(fd.get()) == 0 && rename(temporary.c_str(), path.c_str()) == 0;
  if (!written) {
    error = path + ": " + std::strerror(errno);
    if (fd.get() >= 0) unlink(temporary.c_str());
  }
  return written;
}

int GetHash(const Options& options) {
  std::string error;
  std::optional<Connection> connection = Connection::Open(options.server, error);
  if (!connection) return Trouble(error);
  if (!options.hashServer.empty() &&
      !connection->Command("HASHSERVER " + options.hashServer, error)) {
    return Trouble(error);
  }
  const std::optional<std::string> reply =
      connection->Command("GETHASH " + options.getHash, error, kAnswerLimit);
  if (!reply) return Trouble(error);
  connection->Quit();
  constexpr std::string_view kHash = "OK: Hash=";
  if (!reply->starts_with(kHash)) {
    return Trouble("unexpected reply to GETHASH: " + platform::Cp1251ToUtf8(*reply));
  }
  std::printf("%s\n", reply->substr(kHash.size()).c_str());
  return kPassed;
}

// Inputs are the files read before connecting, so that a bad file costs the server nothing.
struct Inputs {
  platform::UniqueFd document;
  uint64_t documentSize = 0;
  std::optional<std::vector<uint8_t>> signature;  // none: the signature is a service's name
  std::optional<std::vector<uint8_t>> certificate, hashedXml;
};

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

// HeldSizeReason is why the blocks of `inputs` cannot be sent: the server holds at most
// kMaxHeldBase64 of their Base64 text per connection. Empty when they fit.
std::string HeldSizeReason(const Options& options, const Inputs& inputs) {
  uint64_t held = Base64LinesSize(inputs.documentSize);
  for (const auto* blob : {&inputs.signature, &inputs.certificate, &inputs.hashedXml}) {
    if (*blob) held += Base64LinesSize((*blob)->size());
  }
  if (held <= kMaxHeldBase64) return {};
  if (!inputs.document) return options.signature + ": the files are too large to send";
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(options.document, ignored);
  char size[32];
  std::snprintf(size, sizeof size, "%.1f", static_cast<double>(inputs.documentSize) / (1 << 20));
  return options.document + ": " + size + " MiB is more than the server takes inline (about " +
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

std::optional<Inputs> ReadInputs(const Options& options, std::string& error) {
  Inputs inputs;
  const bool documentIsName = options.documentIsReference || !options.uploadService.empty();
  if (!documentIsName) {
    inputs.document = OpenDocument(options.document, inputs.documentSize, error);
    if (!inputs.document) return std::nullopt;
  }
  // With an upload service, a signature that is no file is a name the service knows.
  struct stat status {};
  if (options.uploadService.empty() || stat(options.signature.c_str(), &status) == 0) {
    inputs.signature = ReadBlobFile(options.signature, kMaxHeldBase64, error);
    if (!inputs.signature) return std::nullopt;
  }
  if (!options.certificate.empty()) {
    inputs.certificate = ReadBlobFile(options.certificate, kMaxHeldBase64, error);
    if (!inputs.certificate) return std::nullopt;
  }
  if (!options.hashedXml.empty()) {
    std::optional<std::string> text = ReadInputFile(options.hashedXml, kMaxHeldBase64, error);
    if (!text) return std::nullopt;
    // A Base64 fragment reaches the server's XML parser as decoded, which takes UTF-8: a file
    // that is not UTF-8 is taken for Windows-1251 and converted.
    if (!platform::IsUtf8(*text)) text = platform::Cp1251ToUtf8(*text);
    inputs.hashedXml = std::vector<uint8_t>(text->begin(), text->end());
  }
  error = HeldSizeReason(options, inputs);
  if (error.empty() && !options.htmlFile.empty()) error = PagePathReason(options.htmlFile);
  if (!error.empty()) return std::nullopt;
  return inputs;
}

// SettingsCommands are the commands sent before the data, in the order the options list them.
std::vector<std::string> SettingsCommands(const Options& options) {
  std::vector<std::string> commands = {options.hashServer.empty() ? "B64ON" : "B64OFF"};
  if (options.noCrl) commands.push_back("CRLOFF");
  if (options.noFind) commands.push_back("FINDOFF");
  if (!options.time.empty()) commands.push_back("TIME " + options.time);
  if (options.keyLifetimeDays) {
    commands.push_back("SKLIFETIME " + std::to_string(*options.keyLifetimeDays));
  }
  if (!options.oid.empty()) commands.push_back("OID " + options.oid);
  if (!options.uploadService.empty()) commands.push_back("UPLOADSERVICE " + options.uploadService);
  if (!options.hashServer.empty()) commands.push_back("HASHSERVER " + options.hashServer);
  if (!options.htmlFile.empty()) commands.push_back("HTMLON");
  return commands;
}

int Check(const Options& options) {
  std::string error;
  std::optional<Inputs> inputs = ReadInputs(options, error);
  if (!inputs) return Trouble(error);
  std::optional<Connection> connection = Connection::Open(options.server, error);
  if (!connection) return Trouble(error);
  for (const std::string& command : SettingsCommands(options)) {
    if (!connection->Command(command, error)) return Trouble(error);
  }
  const auto ignoreCount = [](uint64_t) {};
  bool sent = true;
  if (inputs->document) {
    ProgressBar bar(inputs->documentSize, kProgressThreshold);
    sent = connection
               ->Block(
                   "STRS", FileSource(inputs->document.get(), options.document),
                   [&bar](uint64_t count) { bar.Show(count); }, error)
               .has_value();
  } else {
    sent = connection->Command("STRS " + options.document, error).has_value();
  }
  if (sent) {
    sent = inputs->signature
               ? connection->Block("SIGN", BytesSource(*inputs->signature), ignoreCount, error)
                     .has_value()
               : connection->Command("SIGN " + options.signature, error).has_value();
  }
  if (sent && inputs->certificate) {
    sent = connection->Block("CERT", BytesSource(*inputs->certificate), ignoreCount, error)
               .has_value();
  }
  if (sent && inputs->hashedXml) {
    sent = connection->Block("HASHEDXML", BytesSource(*inputs->hashedXml), ignoreCount, error)
               .has_value();
  }
  if (!sent) return Trouble(error);

  const std::optional<std::vector<std::string>> lines = connection->Answer("CHECK", error);
  if (!lines) return Trouble(error);
  if (lines->size() == 1 && IsErrorLine(lines->front())) {
    return Trouble(platform::Cp1251ToUtf8(lines->front()));
  }
  connection->Quit();
  const CheckAnswer answer = ParseAnswer(*lines);
  const std::optional<bool> passed = answer.Passed();
  if (!passed) return Trouble("the server's answer lacks a verdict");

  if (!options.htmlFile.empty()) {
    if (!answer.page) {
      std::fprintf(stderr, "quilmarend-check: the server sent no report (no signer certificate)\n");
    } else if (!WritePage(options.htmlFile, ReportPage(*answer.page), error)) {
      return Trouble(error);
    }
  }
  const std::string output = options.json ? JsonObject(answer) : TextLines(answer, ToTerminal);
  std::fputs(output.c_str(), stdout);
  return *passed ? kPassed : kFailed;
}

int Run(int argc, char** argv) {
  const auto parsed = ParseOptions(argc, argv, getenv("QUILMAREND_SERVER"));
  if (const auto* usage = std::get_if<UsageError>(&parsed)) {
    std::fprintf(stderr, "quilmarend-check: %s\n%s", Utf8ToTerminal(usage->reason).c_str(), kUsage);
    return kTrouble;
  }
  const Options& options = std::get<Options>(parsed);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kPassed;
  }
  return options.getHash.empty() ? Check(options) : GetHash(options);
}

}  // namespace
}  // namespace client

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  // Failures are values throughout; only the standard library still throws, when memory runs out.
  try {
    return client::Run(argc, argv);
  } catch (const std::exception& e) {
    return client::Trouble(e.what());
  }
}
