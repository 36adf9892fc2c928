#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <set>

#include "platform/base/last_error.h"
#include "platform/base/mutex.h"
#include "platform/base/win_status.h"
#include "platform/os/detail/atomic_file.h"
#include "platform/os/file_io.h"

namespace platform {
namespace {

// The buffer of a temporary file: downloads arrive in small pieces.
constexpr size_t kWriteBuffer = 64 * 1024;

uint32_t StatusOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ELOOP:   // a link where none may be
    case EXDEV:   // a path that leaves its folder
    case ESTALE:  // an entry that no longer names the opened file
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_READ_FAULT;
  }
}

bool Fail() {
  SetLastError(StatusOfErrno(errno));
  return false;
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

std::optional<std::string> RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

}  // namespace

std::string TempDirectory() {
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder != nullptr && *folder != '\0' ? folder : "/tmp";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

UniqueFd OpenForReading(const std::string& path) {
  UniqueFd fd = OpenClientFile(path);
  if (fd) {
    SetLastError(0);
  } else {
    Fail();
  }
  return fd;
}

std::optional<FileBeneath> OpenInTempDirectory(const std::string& path) {
  // The folder may be named through links of the administrator's (TMPDIR=/run/x/tmp with /run a
  // link); the client's part of the path below it may not hold any.
  std::string folder = TempDirectory();
  std::optional<std::string> real = RealPath(folder);
  for (const std::string& root : {folder, real.value_or(folder)}) {
    const std::string prefix = root == "/" ? "/" : root + "/";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    std::optional<FileBeneath> file =
        OpenBeneath(root, std::string_view(path).substr(prefix.size()));
    if (!file) Fail();
    return file;
  }
  SetLastError(ERROR_ACCESS_DENIED);
  return std::nullopt;
}

bool DeleteOpenedFile(const FileBeneath& file) { return UnlinkIfUnchanged(file) || Fail(); }

std::optional<uint64_t> FileSize(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    Fail();
    return std::nullopt;
  }
  return static_cast<uint64_t>(info.st_size);
}

std::optional<size_t> ReadSome(int fd, std::span<uint8_t> buffer) {
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) {
      Fail();
      return std::nullopt;
    }
  }
}

std::optional<std::vector<uint8_t>> ReadWhole(int fd) {
  const std::optional<uint64_t> size = FileSize(fd);
  if (!size || lseek(fd, 0, SEEK_SET) != 0) {
    Fail();
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(*size);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;  // the file shrank under us
      Fail();
      return std::nullopt;
    }
    done += static_cast<size_t>(got);
  }
  return bytes;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || Fail(); }

std::unique_ptr<TemporaryFile> TemporaryFile::Create(const std::string& prefix,
                                                     size_t maxFolderLength) {
  const std::string folder = TempDirectory();
  if (folder.size() > maxFolderLength) {
    SetLastError(ERROR_READ_FAULT);
    return nullptr;
  }
  std::string path = folder + "/" + prefix + "XXXXXX";
  UniqueFd fd(mkostemp(path.data(), O_CLOEXEC));
  if (!fd) {
    Fail();
    return nullptr;
  }
  return std::unique_ptr<TemporaryFile>(new TemporaryFile(std::move(path), std::move(fd)));
}

bool TemporaryFile::Write(std::span<const uint8_t> bytes) {
  if (buffer.size() + bytes.size() > kWriteBuffer && !Flush()) return false;
  if (bytes.size() >= kWriteBuffer) return WriteAll(fd.get(), bytes.data(), bytes.size()) || Fail();
  buffer.insert(buffer.end(), bytes.begin(), bytes.end());
  return true;
}

bool TemporaryFile::Flush() {
  const bool written = WriteAll(fd.get(), buffer.data(), buffer.size());
  buffer.clear();
  return written || Fail();
}

bool TemporaryFile::MoveTo(const std::string& name) {
  if (!Flush()) return false;
  fd.reset();
  if (::rename(Path().c_str(), name.c_str()) != 0) return Fail();
  owned.Renamed(name);
  return true;
}

namespace {

// The paths of the RequestFiles alive. Never destroyed: workers left running at the end may still
// add and remove paths while the process exits.
struct RequestFileList {
  Mutex mutex;
  std::multiset<std::string> paths GUARDED_BY(mutex);
  bool removed GUARDED_BY(mutex) = false;  // RemoveRequestFiles has run
};

RequestFileList& TheRequestFiles() {
  static auto* list = new RequestFileList;
  return *list;
}

}  // namespace

RequestFile::RequestFile(std::string filePath) : path(std::move(filePath)) {
  RequestFileList& list = TheRequestFiles();
  const MutexLock lock(list.mutex);
  if (list.removed) {
    ::unlink(path.c_str());
  } else {
    list.paths.insert(path);
  }
}

RequestFile::~RequestFile() {
  ::unlink(path.c_str());
  RequestFileList& list = TheRequestFiles();
  const MutexLock lock(list.mutex);
  if (const auto found = list.paths.find(path); found != list.paths.end()) list.paths.erase(found);
}

void RequestFile::Renamed(std::string newPath) {
  RequestFileList& list = TheRequestFiles();
  const MutexLock lock(list.mutex);
  if (const auto found = list.paths.find(path); found != list.paths.end()) list.paths.erase(found);
  path = std::move(newPath);
  if (list.removed) {
    ::unlink(path.c_str());
  } else {
    list.paths.insert(path);
  }
}

size_t RequestFilesAlive() {
  RequestFileList& list = TheRequestFiles();
  const MutexLock lock(list.mutex);
  return list.paths.size();
}

void RemoveRequestFiles() {
  RequestFileList& list = TheRequestFiles();
  const MutexLock lock(list.mutex);
  for (const std::string& path : list.paths) ::unlink(path.c_str());
  list.paths.clear();
  list.removed = true;
}

namespace detail {

int WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const size_t slash = path.rfind('/');
  std::string temporary = slash == std::string::npos ? "." + path : path;
  temporary.insert(slash == std::string::npos ? 0 : slash + 1, ".");
  temporary += ".tmp-XXXXXX";
  const UniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return errno;
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (fchmod(fd.get(), 0644) != 0 || !WriteAll(fd.get(), data, bytes.size()) ||
      fsync(fd.get()) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return error;
  }
  return 0;
}

}  // namespace detail
}  // namespace platform
