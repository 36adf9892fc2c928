#pragma once

// Files of documents given by reference: reading them, the system temporary folder and the
// temporary files that downloads land in (the stand-ins for CreateFile, GetFileSizeEx, ReadFile,
// DeleteFile, MoveFileEx, GetTempPath and GetTempFileName). Failures set the last error:
// ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED or ERROR_READ_FAULT (anything else).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

// TempDirectory returns the system temporary folder: $TMPDIR when it is set and not empty, else
// "/tmp"; without a trailing slash.
std::string TempDirectory();

// OpenForReading opens the existing file `path` for reading; none with the last error set.
UniqueFd OpenForReading(const std::string& path);

// FileSize returns the size of the open file `fd`; nullopt with the last error set.
std::optional<uint64_t> FileSize(int fd);

// ReadWhole returns the bytes of the open file `fd` from its start; nullopt with the last error
// set when it cannot be read to its end.
std::optional<std::vector<uint8_t>> ReadWhole(int fd);

// DeleteFile removes `path`; false with the last error set.
bool DeleteFile(const std::string& path);

// IsInsideFolder is true when `path` names a file inside `folder` (at any depth) once both are
// resolved to their real paths, links and "..", included; false when either does not exist.
bool IsInsideFolder(const std::string& path, const std::string& folder);

// TemporaryFile is a new, unique file in the system temporary folder, its name made of `prefix`
// and random characters. It is removed when the object goes unless it was moved to another name.
class TemporaryFile {
 public:
  // Create makes the file; null with the last error set when the folder's path is longer than
  // `maxFolderLength` bytes or the file cannot be created.
  static std::unique_ptr<TemporaryFile> Create(const std::string& prefix, size_t maxFolderLength);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& Path() const { return path; }
  // Write appends `bytes` (through a buffer, so that small pieces cost few system calls); false
  // with the last error set when they cannot be written.
  bool Write(std::span<const uint8_t> bytes);
  // Flush writes out what the buffer holds; false with the last error set.
  bool Flush();
  // MoveTo flushes, closes and renames the file to `name`, replacing a file of that name; false
  // with the last error set (the file then stays under its temporary name, to be removed).
  bool MoveTo(const std::string& name);

 private:
  TemporaryFile(std::string path, UniqueFd fd) : path(std::move(path)), fd(std::move(fd)) {}

  std::string path;
  UniqueFd fd;
  std::vector<uint8_t> buffer;
  bool moved = false;
};

}  // namespace platform
