// The Windows clipboard's Unicode text as UTF-8, at most kClipboardMaxBytes of
// it, cut at a character boundary.
#include "Clipboard.h"

#include "WideText.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// UTF-8 continuation bytes are 10xxxxxx.
void CutToLimit(std::string* text) {
  if (text->size() <= kClipboardMaxBytes) return;
  size_t end = kClipboardMaxBytes;
  while (end > 0 && (static_cast<unsigned char>((*text)[end]) & 0xC0) == 0x80) --end;
  text->resize(end);
}

// The text ends at its first NUL, as CF_UNICODETEXT's does.
std::string ClipboardUnicodeText() {
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (!data) return {};
  const auto* wide = static_cast<const wchar_t*>(GlobalLock(data));
  if (!wide) return {};
  // Every UTF-16 unit makes at least one UTF-8 byte, so more than the limit's
  // worth of units is never converted: a huge clipboard costs no more than that.
  const size_t capacity = GlobalSize(data) / sizeof(wchar_t);
  size_t length = 0;
  while (length < capacity && length <= kClipboardMaxBytes && wide[length] != L'\0') ++length;
  std::string text = Utf8FromWide(wide, length);
  GlobalUnlock(data);
  return text;
}

}  // namespace

char* ReadClipboardText() {
  if (!OpenClipboard(nullptr)) return CopyText({});
  std::string text;
  try {
    text = ClipboardUnicodeText();
  } catch (const std::bad_alloc&) {
    CloseClipboard();
    return nullptr;
  }
  CloseClipboard();
  CutToLimit(&text);
  return CopyText(text);
}
