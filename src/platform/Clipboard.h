// Reads the system clipboard as UTF-8 text for the API key field.
#pragma once

#include <cstddef>

// The desktop reader runs a clipboard tool on the simulator's main thread, so
// it keeps at most this much of its output and waits at most this long.
constexpr size_t kClipboardMaxBytes = 64 * 1024;
constexpr int kClipboardTimeoutMs = 1000;

// The clipboard's text in a buffer from malloc that the caller frees; "" when
// the clipboard holds no text. Null only when memory ran out.
char* ReadClipboardText();
