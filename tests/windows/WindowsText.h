// Whole-file reads through the wide API and UTF-8 paths for the Windows test
// programs, on the plug-in's own UTF-8/UTF-16 conversions (paths with non-ASCII
// folders must survive both ways).
#pragma once

#include "platform/WideText.h"

#include <cstdio>
#include <string>

inline std::wstring Wide(const std::string& utf8) { return WideFromUtf8(utf8); }
inline std::string Utf8(const std::wstring& wide) { return Utf8FromWide(wide.c_str(), wide.size()); }

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
