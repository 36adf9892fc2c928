#pragma once

// "file:" references of documents, read on Linux:
//   file:///<path>               the absolute path /<path>
//   file://<host>/<share>/<path> a network share where it is mounted:
//                                $QUILMAREND_UNC_ROOT/<host>/<share>/<path> (default /net)
// Backslashes become slashes first.

#include <string>
#include <string_view>

namespace platform {

// UncRoot returns $QUILMAREND_UNC_ROOT, or "/net" when it is unset or empty.
std::string UncRoot();

// IsFileReference is true for a reference that begins with "file://" (after backslashes became
// slashes).
bool IsFileReference(std::string_view reference);

// IsOneLine is false when `text` holds a CR, LF or NUL byte: a reference that holds one is refused
// before it is fetched, hashed or passed on, since it could end a protocol line early.
bool IsOneLine(std::string_view text);

// ToLinuxPath returns the local path of the "file:" reference `reference`, network shares under
// `uncRoot`. The caller has checked IsFileReference.
std::string ToLinuxPath(std::string_view reference, std::string_view uncRoot);

}  // namespace platform
