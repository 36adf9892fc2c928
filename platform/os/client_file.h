#pragma once

// Files that a client names: the documents of "file:" and "tempfile:" references, the files a
// document digest is computed over, the copies an upload service hands over. A client may name
// anything, so opening one must never block (a FIFO waits in open for a writer), never read a
// device or a folder (/dev/zero never ends), and a file that is deleted after reading must be
// deleted only where it was opened, whatever another local user renames in the meantime.
//
// These functions report failures through errno only, so that the upload-service library can
// compile them in; platform/file_io.h turns them into the Windows last error.
//
// Example:
//   std::optional<platform::FileBeneath> file = platform::OpenBeneath("/tmp", "in/doc.xml");
//   if (!file) return false;
//   ... read file->fd ...
//   (void)platform::UnlinkIfUnchanged(*file);

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/unique_fd.h"

namespace platform {

// OpenRegularFileAt opens `path` (relative to the folder `folderFd`, or absolute; AT_FDCWD for
// the working folder) read-only without blocking in open, and keeps it only when it is a regular
// file; the descriptor then reads blocking. With `noFollow` a symbolic link as the last component
// is refused (ELOOP). Returns none with errno set: EACCES for a FIFO, device, socket or folder.
UniqueFd OpenRegularFileAt(int folderFd, const char* path, bool noFollow);

// OpenClientFile is OpenRegularFileAt for an absolute or working-folder `path`, links followed.
UniqueFd OpenClientFile(const std::string& path);

// FileBeneath is a regular file opened beneath a folder, together with the folder that holds its
// entry and the identity of what was opened, so that it can later be deleted through that same
// folder and only while the entry is still this file.
struct FileBeneath {
  UniqueFd fd;          // the file, open for reading
  UniqueFd folder;      // the folder that holds its entry
  std::string name;     // the entry's name in `folder`
  uint64_t device = 0;  // what was opened, to recognise the entry later
  uint64_t inode = 0;
};

// OpenBeneath opens `relative` beneath the folder `root` without following any symbolic link on
// the way and without leaving the folder, as the kernel's RESOLVE_BENEATH resolves: a ".." that
// stays inside the folder is fine ("sub/../doc"), one that climbs out is refused (EXDEV), as are
// a link anywhere (ELOOP) and an empty path or one that ends in ".." (EACCES). `root` itself is
// trusted and may be reached through links. The file is opened as OpenRegularFileAt opens it.
// Returns nullopt with errno set.
std::optional<FileBeneath> OpenBeneath(const std::string& root, std::string_view relative);

// WalkBeneath opens the folder that `components` name beneath `rootFd` (O_PATH) one component at
// a time, for kernels without openat2, by OpenBeneath's rules: ".." goes back to the folder it
// came from and may not leave `rootFd` (EXDEV), a link is refused (ELOOP), and a component that
// is no folder gives ENOTDIR. Returns none with errno set.
UniqueFd WalkBeneath(int rootFd, const std::vector<std::string>& components);

// UnlinkIfUnchanged deletes the entry of `file` through its folder when it still names the file
// that was opened (same device and inode). False with errno set otherwise (ESTALE when the entry
// now names another file); the file itself stays readable through its descriptor.
bool UnlinkIfUnchanged(const FileBeneath& file);

}  // namespace platform
