// Loading as X-Plane on Windows does: LoadLibrary on the plug-in's path, which
// arrives as UTF-8 and goes to the wide-character API, so folders with names
// outside the ANSI code page work.
#include "../SharedLibrary.h"

#include <windows.h>

namespace xphost::detail {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof(text), nullptr);
  return "LoadLibrary failed (" + std::to_string(code) + "): " + text;
}

}  // namespace

void* OpenSharedLibrary(const std::string& path, std::string* error) {
  // X-Plane has both SDK libraries loaded before any plug-in; the widget one
  // sits beside the program here, which the plug-in's own search skips.
  static const HMODULE widgets = LoadLibraryW(L"XPWidgets_64.dll");
  (void)widgets;
  // The plug-in's own folder is searched for the DLLs it imports.
  HMODULE library = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library && error) *error = LastErrorText();
  return reinterpret_cast<void*>(library);
}

void* FindLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

const void* ModuleBaseOf(const void* code) {
  HMODULE module = nullptr;
  const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (!code || !GetModuleHandleExW(flags, static_cast<LPCWSTR>(code), &module)) return nullptr;
  return reinterpret_cast<const void*>(module);
}

std::FILE* OpenFileToAppend(const std::string& path) { return _wfopen(Wide(path).c_str(), L"a"); }

}  // namespace xphost::detail
