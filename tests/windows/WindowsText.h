// UTF-8 <-> UTF-16 and whole-file reads through the wide API, for the Windows
// test programs (paths with non-ASCII folders must survive both ways).
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
  return wide;
}

inline std::string Utf8(const std::wstring& wide) {
  char utf8[4 * MAX_PATH] = {};
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
  return utf8;
}

inline std::string FileBytes(const std::string& path) {
  std::string bytes;
  if (FILE* file = _wfopen(Wide(path).c_str(), L"rb")) {
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, got);
    std::fclose(file);
  }
  return bytes;
}
