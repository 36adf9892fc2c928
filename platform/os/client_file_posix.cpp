#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/os/client_file.h"

namespace platform {
namespace {

// SplitComponents returns the path's components without empty and "." ones; ".." stays, for
// the resolution to judge.
std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> components;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (component.empty() || component == ".") continue;
    components.emplace_back(component);
  }
  return components;
}

// OpenFolderBeneath opens the folder `components` name beneath `rootFd` for use as a starting
// point only, refusing links and any ".." that would climb out of the folder. The kernel resolves
// it in one step where it can (openat2); an older kernel gets the same rules from WalkBeneath.
UniqueFd OpenFolderBeneath(int rootFd, const std::vector<std::string>& components) {
  if (components.empty()) return UniqueFd(::openat(rootFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string joined;
  for (const std::string& component : components) joined += (joined.empty() ? "" : "/") + component;
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, rootFd, joined.c_str(), &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return UniqueFd(static_cast<int>(fd));
  return WalkBeneath(rootFd, components);
}

}  // namespace

UniqueFd WalkBeneath(int rootFd, const std::vector<std::string>& components) {
  // The folders walked through, the root first: ".." goes back to the one before, which is the
  // parent of the last as it was opened, wherever someone has moved it since.
  std::vector<UniqueFd> path;
  path.emplace_back(::openat(rootFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!path.back()) return UniqueFd();
  for (const std::string& component : components) {
    if (component == "..") {
      if (path.size() == 1) {
        errno = EXDEV;  // as RESOLVE_BENEATH refuses a climb out of the folder
        return UniqueFd();
      }
      path.pop_back();
      continue;
    }
    UniqueFd next(::openat(path.back().get(), component.c_str(),
                           O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) {
      // A link meets O_DIRECTORY before O_NOFOLLOW and reads as "not a folder"; say it is a link.
      struct stat info {};
      if (errno == ENOTDIR &&
          ::fstatat(path.back().get(), component.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(info.st_mode)) {
        errno = ELOOP;
      }
      return UniqueFd();
    }
    path.push_back(std::move(next));
  }
  return std::move(path.back());
}

UniqueFd OpenRegularFileAt(int folderFd, const char* path, bool noFollow) {
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0);
  UniqueFd fd(::openat(folderFd, path, flags));
  if (!fd) return fd;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return UniqueFd();
  if (!S_ISREG(info.st_mode)) {
    errno = EACCES;
    return UniqueFd();
  }
  // Reads of a regular file never block in the sense O_NONBLOCK means; clear it all the same so
  // that the descriptor behaves as an ordinary one for whoever reads it.
  const int status = ::fcntl(fd.get(), F_GETFL);
  if (status == -1 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) == -1) return UniqueFd();
  return fd;
}

UniqueFd OpenClientFile(const std::string& path) {
  return OpenRegularFileAt(AT_FDCWD, path.c_str(), false);
}

std::optional<FileBeneath> OpenBeneath(const std::string& root, std::string_view relative) {
  std::vector<std::string> components = SplitComponents(relative);
  if (components.empty() || components.back() == "..") {
    errno = EACCES;  // no file names the folder itself
    return std::nullopt;
  }
  const UniqueFd rootFd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd) return std::nullopt;
  FileBeneath file;
  file.name = std::move(components.back());
  components.pop_back();
  file.folder = OpenFolderBeneath(rootFd.get(), components);
  if (!file.folder) return std::nullopt;
  file.fd = OpenRegularFileAt(file.folder.get(), file.name.c_str(), true);
  struct stat info {};
  if (!file.fd || ::fstat(file.fd.get(), &info) != 0) return std::nullopt;
  file.device = info.st_dev;
  file.inode = info.st_ino;
  return file;
}

bool UnlinkIfUnchanged(const FileBeneath& file) {
  struct stat info {};
  if (::fstatat(file.folder.get(), file.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  if (info.st_dev != file.device || info.st_ino != file.inode) {
    errno = ESTALE;
    return false;
  }
  return ::unlinkat(file.folder.get(), file.name.c_str(), 0) == 0;
}

}  // namespace platform
