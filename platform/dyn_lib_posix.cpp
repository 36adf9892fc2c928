#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "platform/dyn_lib.h"

namespace platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* text = dlerror();
    if (error != nullptr) *error = text != nullptr ? text : "";
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { dlclose(handle_); }  // RTLD_NODELETE keeps it mapped

void* DynamicLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string directory(path, static_cast<size_t>(length));
  const size_t slash = directory.rfind('/');
  return slash == 0 ? "/" : directory.substr(0, slash);
}

}  // namespace platform
