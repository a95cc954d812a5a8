// Windows: the simulator hands out UTF-8, the system's file and clipboard
// calls take UTF-16.
#pragma once

#include <windows.h>

#include <string>

// Empty when text is not valid UTF-8 (or is empty).
inline std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

// A lone surrogate becomes U+FFFD, so the result is always valid UTF-8.
inline std::string Utf8FromWide(const wchar_t* text, size_t count) {
  if (count == 0) return {};
  const int size = static_cast<int>(count);
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}
