#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cassert>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/os/dyn_lib.h"

namespace platform {

// Open hands `file` to dlopen, which searches the library path only for a name without a slash.
// A failure of any kind is LoadLibrary's ERROR_MOD_NOT_FOUND.
std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& file, std::string* error) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* text = dlerror();
    if (error != nullptr) *error = text != nullptr ? text : "";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string* error) {
  return Open(path, error);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::LoadFromSearchPath(const std::string& name,
                                                                   std::string* error) {
  assert(name.find('/') == std::string::npos);
  return Open(name, error);
}

DynamicLibrary::~DynamicLibrary() { dlclose(handle); }  // RTLD_NODELETE keeps it mapped

void* DynamicLibrary::Symbol(const char* name) const { return dlsym(handle, name); }

std::string ModuleFileName() {
  // The executable's path is read once: every XML check asks for the program's folder, and the
  // link cannot change while the process runs.
  static const std::string kPath = [] {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    // A full buffer may hold a cut path, as GetModuleFileName's full buffer does.
    if (length <= 0 || length == static_cast<ssize_t>(sizeof path)) return std::string();
    return std::string(path, static_cast<size_t>(length));
  }();
  return kPath;
}

std::string ProgramDirectory() {
  const std::string directory = ModuleFileName();
  if (directory.empty()) return ".";
  const size_t slash = directory.rfind('/');
  return slash == 0 ? "/" : directory.substr(0, slash);
}

}  // namespace platform
