#pragma once

// DynamicLibrary loads a shared library from an exact path or by name from the library search
// path (dlopen's stand-in for LoadLibraryW) and looks names up in it (GetProcAddress). A loaded
// library is never unloaded before the process ends, even when the object goes: libraries with
// thread-local state keep destructors that would run after an unload.

#include <memory>
#include <string>
#include <string_view>

namespace platform {

class DynamicLibrary {
 public:
  // Load opens the library at `path` (absolute: no search path is consulted). Null when it cannot
  // be loaded; `*error` then holds the loader's text and the last error is ERROR_MOD_NOT_FOUND.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& path, std::string* error);
  // LoadFromSearchPath opens the library named `name` (no slash) where the system's loader looks
  // for libraries: LD_LIBRARY_PATH, the loader's cache, the default folders. Null when it cannot
  // be loaded; `*error` then holds the loader's text and the last error is ERROR_MOD_NOT_FOUND.
  static std::unique_ptr<DynamicLibrary> LoadFromSearchPath(const std::string& name,
                                                            std::string* error);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Symbol returns the address of the exported `name`, or null.
  void* Symbol(const char* name) const;

 private:
  explicit DynamicLibrary(void* opened) : handle(opened) {}
  static std::unique_ptr<DynamicLibrary> Open(const std::string& file, std::string* error);
  void* handle;
};

// ModuleFileName returns the full path of the running executable (GetModuleFileName's stand-in),
// links resolved, or an empty text when the system does not tell it.
std::string ModuleFileName();

// ProgramDirectory returns the folder of the running executable, without a trailing slash.
std::string ProgramDirectory();

}  // namespace platform
