// Loading as X-Plane on Linux does: dlopen with every symbol bound at once and
// none of the plug-in's shared with other libraries.
#include "../SharedLibrary.h"

#include <dlfcn.h>

namespace xphost::detail {

void* OpenSharedLibrary(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && error) {
    const char* reason = dlerror();
    *error = reason ? reason : "dlopen failed";
  }
  return library;
}

void* FindLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseSharedLibrary(void* library) { dlclose(library); }

const void* ModuleBaseOf(const void* code) {
  Dl_info info{};
  return code && dladdr(code, &info) ? info.dli_fbase : nullptr;
}

std::FILE* OpenFileToAppend(const std::string& path) { return std::fopen(path.c_str(), "a"); }

}  // namespace xphost::detail
