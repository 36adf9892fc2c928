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
#include "platform/cp1251.h"
#include "platform/unique_fd.h"

namespace client {
namespace {

constexpr int kPassed = 0, kFailed = 1, kTrouble = 2;
constexpr uint64_t kProgressThreshold = uint64_t{8} << 20;
constexpr size_t kReadPiece = size_t{1} << 20;

// Trouble prints `message` (UTF-8, as file names and the server's converted lines are) and
// gives the exit status of a failure that is not a verdict.
int Trouble(const std::string& message) {
  std::fprintf(stderr, "quilmarend-check: %s\n", Utf8ToTerminal(message).c_str());
  return kTrouble;
}

// IsUtf8 is true when `text` is well-formed UTF-8.
bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80         ? 1
                          : (lead >> 5) == 6  ? 2
                          : (lead >> 4) == 14 ? 3
                          : (lead >> 3) == 30 ? 4
                                              : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
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

std::optional<Inputs> ReadInputs(const Options& options, std::string& error) {
  Inputs inputs;
  const bool documentIsName = options.documentIsReference || !options.uploadService.empty();
  if (!documentIsName) {
    inputs.document = platform::UniqueFd(open(options.document.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!inputs.document || fstat(inputs.document.get(), &status) != 0) {
      error = options.document + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
      error = options.document + ": not a regular file";
      return std::nullopt;
    }
    inputs.documentSize = static_cast<uint64_t>(status.st_size);
  }
  // With an upload service, a signature that is no file is a name the service knows.
  if (options.uploadService.empty() || std::filesystem::exists(options.signature)) {
    inputs.signature = ReadBlobFile(options.signature, error);
    if (!inputs.signature) return std::nullopt;
  }
  if (!options.certificate.empty()) {
    inputs.certificate = ReadBlobFile(options.certificate, error);
    if (!inputs.certificate) return std::nullopt;
  }
  if (!options.hashedXml.empty()) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(options.hashedXml, ignored)) {
      error = options.hashedXml + ": no such file";
      return std::nullopt;
    }
    std::string text(std::filesystem::file_size(options.hashedXml, ignored), '\0');
    const platform::UniqueFd fd(open(options.hashedXml.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::read(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      error = options.hashedXml + ": cannot be read";
      return std::nullopt;
    }
    // A Base64 fragment reaches the server's XML parser as decoded, which takes UTF-8: a file
    // that is not UTF-8 is taken for Windows-1251 and converted.
    if (!IsUtf8(text)) text = platform::Cp1251ToUtf8(text);
    inputs.hashedXml = std::vector<uint8_t>(text.begin(), text.end());
  }
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

}  // namespace
}  // namespace client

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const auto parsed = client::ParseOptions(argc, argv, getenv("QUILMAREND_SERVER"));
  if (const auto* usage = std::get_if<client::UsageError>(&parsed)) {
    std::fprintf(stderr, "quilmarend-check: %s\n%s", client::Utf8ToTerminal(usage->reason).c_str(),
                 client::kUsage);
    return client::kTrouble;
  }
  const client::Options& options = std::get<client::Options>(parsed);
  if (options.help) {
    std::fputs(client::kUsage, stdout);
    return client::kPassed;
  }
  return options.getHash.empty() ? client::Check(options) : client::GetHash(options);
}
