#pragma once

// Files of documents given by reference: reading them, the system temporary folder and the
// temporary files that downloads land in (the stand-ins for CreateFile, GetFileSizeEx, ReadFile,
// DeleteFile, MoveFileEx, GetTempPath and GetTempFileName). Failures set the last error:
// ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED or ERROR_READ_FAULT (anything else).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/os/client_file.h"

namespace platform {

// TempDirectory returns the system temporary folder: $TMPDIR when it is set and not empty, else
// "/tmp"; without a trailing slash.
std::string TempDirectory();

// OpenForReading opens the existing regular file `path` for reading, never blocking in the open
// (see OpenClientFile); none with the last error set: ERROR_ACCESS_DENIED for a FIFO, device,
// socket or folder.
UniqueFd OpenForReading(const std::string& path);

// OpenInTempDirectory opens the regular file at the absolute `path` when it lies inside the
// system temporary folder, resolved beneath it without following links (see OpenBeneath); nullopt
// with the last error set otherwise (ERROR_ACCESS_DENIED for a path outside or through a link).
std::optional<FileBeneath> OpenInTempDirectory(const std::string& path);

// DeleteOpenedFile deletes `file`'s entry when it still names the opened file; false with the last
// error set.
bool DeleteOpenedFile(const FileBeneath& file);

// FileSize returns the size of the open file `fd`; nullopt with the last error set.
std::optional<uint64_t> FileSize(int fd);

// ReadSome reads at most `buffer.size()` bytes from the open file `fd` at its position; 0 at its
// end, nullopt with the last error set when the read fails.
std::optional<size_t> ReadSome(int fd, std::span<uint8_t> buffer);

// ReadWhole returns the bytes of the open file `fd` from its start; nullopt with the last error
// set when it cannot be read to its end.
std::optional<std::vector<uint8_t>> ReadWhole(int fd);

// ReadPieces passes the bytes of the open file `fd`, from its start, to `piece` a buffer at a
// time; false with the last error set when the file cannot be read to its end, or when `piece`
// returns false.
bool ReadPieces(int fd, const std::function<bool(std::span<const uint8_t>)>& piece);

// DeleteFile removes `path`; false with the last error set.
bool DeleteFile(const std::string& path);

// RequestFile owns a file that a request made or received (a download, an upload service's
// copy) for as long as the request needs it: the file is deleted when the object goes. While it
// lives, its path is on a process-wide list, so that a process ending with requests still
// running can delete them all (RemoveRequestFiles).
class RequestFile {
 public:
  explicit RequestFile(std::string path);
  ~RequestFile();
  RequestFile(const RequestFile&) = delete;
  RequestFile& operator=(const RequestFile&) = delete;

  const std::string& Path() const { return path; }
  // Renamed records that the file now has the name `newPath`.
  void Renamed(std::string newPath);

 private:
  std::string path;
};

// RequestFilesAlive is how many RequestFiles exist now: the temporary files requests hold.
size_t RequestFilesAlive();

// RemoveRequestFiles deletes the files of every RequestFile alive, for a process that is about to
// end without waiting for its requests; a RequestFile made afterwards deletes its file at once.
void RemoveRequestFiles();

// TemporaryFile is a new, unique file in the system temporary folder, its name made of `prefix`
// and random characters, owned as a RequestFile: removed when the object goes, under its
// temporary name or the one it was moved to.
class TemporaryFile {
 public:
  // Create makes the file; null with the last error set when the folder's path is longer than
  // `maxFolderLength` bytes or the file cannot be created.
  static std::unique_ptr<TemporaryFile> Create(const std::string& prefix, size_t maxFolderLength);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& Path() const { return owned.Path(); }
  // Write appends `bytes` (through a buffer, so that small pieces cost few system calls); false
  // with the last error set when they cannot be written.
  bool Write(std::span<const uint8_t> bytes);
  // Flush writes out what the buffer holds; false with the last error set.
  bool Flush();
  // MoveTo flushes, closes and renames the file to `name`, replacing a file of that name; false
  // with the last error set (the file then stays under its temporary name).
  bool MoveTo(const std::string& name);

 private:
  TemporaryFile(std::string filePath, UniqueFd openFd)
      : owned(std::move(filePath)), fd(std::move(openFd)) {}

  RequestFile owned;
  UniqueFd fd;
  std::vector<uint8_t> buffer;
};

}  // namespace platform
