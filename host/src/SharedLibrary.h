// Loading the plug-in's binary and opening files by name: the host's only
// system-specific spots, one implementation per system (posix/, windows/).
#pragma once

#include <cstdio>
#include <string>

namespace xphost::detail {

// Null with error set when the library cannot be loaded.
void* OpenSharedLibrary(const std::string& path, std::string* error);
void* FindLibrarySymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);
// Base address of the loaded module that holds code; null when none does.
const void* ModuleBaseOf(const void* code);
// path is UTF-8 on every system.
std::FILE* OpenFileToAppend(const std::string& path);

}  // namespace xphost::detail
