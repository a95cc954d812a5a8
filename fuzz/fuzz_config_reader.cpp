// Arbitrary bytes as Tralix.cfg. Every lookup must give what a slow, plain
// model of the file rules gives, and a rewrite must give the model's new text
// and read back the value it wrote.
#include "ConfigManager.h"
#include "FuzzCheck.h"
#include "XPHostControl.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

// A scratch file of this run's own, in memory where /dev/shm is there.
const std::string kPath = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/tralix-fuzz-" +
                          std::to_string(getpid()) + ".cfg";
[[maybe_unused]] const int kRemovedAtExit = std::atexit([] { std::remove(kPath.c_str()); });

void WriteText(const std::string& text) { std::ofstream(kPath, std::ios::binary | std::ios::trunc) << text; }

std::string ReadText() {
  std::ifstream in(kPath, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ExpireCache() {
  static double clock;
  clock += 100.0;
  xphost::SetElapsedTime(clock);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool IsEntryOf(const std::string& line, const std::string& key) {
  return !line.empty() && line[0] != '#' && line[0] != ';' && line.compare(0, key.size() + 1, key + "=") == 0;
}

const std::string kByteOrderMark = "\xEF\xBB\xBF";

bool StartsWithMark(const std::string& text) { return text.compare(0, 3, kByteOrderMark) == 0; }

// What a lookup must give: the first 4095 bytes without a last line cut there
// and without a leading byte-order mark, up to the first NUL, then the first
// entry of key whose trimmed value fits.
int ModelLookup(const std::string& file, const std::string& key, size_t outSize, std::string& value) {
  std::string text = file.substr(0, 4095);
  if (file.size() > 4095 && file[4095] != '\n') {
    const size_t lastLineEnd = text.rfind('\n');
    text.erase(lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1);
  }
  if (StartsWithMark(text)) text.erase(0, 3);
  text = text.substr(0, text.find('\0'));
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!IsEntryOf(line, key)) continue;
    size_t begin = key.size() + 1;
    size_t end = line.size();
    while (begin < end && IsSpace(line[begin])) ++begin;
    while (end > begin && IsSpace(line[end - 1])) --end;
    if (end - begin < outSize) {
      value = line.substr(begin, end - begin);
      return 1;
    }
  }
  return 0;
}

// What a rewrite must give: a leading byte-order mark kept, every line kept
// with one LF (a CR before it dropped), every entry of key replaced, or one
// appended.
std::string ModelRewrite(const std::string& file, const std::string& key, const std::string& value) {
  std::string text;
  bool found = false;
  size_t start = 0;
  if (StartsWithMark(file)) {
    text = kByteOrderMark;
    start = 3;
  }
  while (start < file.size()) {
    size_t end = file.find('\n', start);
    const size_t next = end == std::string::npos ? file.size() : end + 1;
    if (end == std::string::npos) end = file.size();
    std::string line = file.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (IsEntryOf(line, key)) {
      line = key + "=" + value;
      found = true;
    }
    text += line + "\n";
    start = next;
  }
  if (!found) text += key + "=" + value + "\n";
  return text;
}

void CheckLookups(const std::string& file) {
  ExpireCache();
  for (const char* key : {"API_KEY", "DATA_KEY_TOKEN", "A"}) {
    for (size_t outSize : {1, 2, 9, 256}) {
      char out[300];
      std::memset(out, 0x5a, sizeof(out));
      const int result = ReadConfigValue(kPath.c_str(), key, out, outSize);
      std::string expected;
      Check(result == ModelLookup(file, key, outSize, expected), "lookup result");
      const size_t untouchedFrom = result ? expected.size() + 1 : 0;
      if (result) Check(std::memcmp(out, expected.c_str(), expected.size() + 1) == 0, "lookup value");
      for (size_t i = untouchedFrom; i < sizeof(out); ++i) Check(out[i] == 0x5a, "bytes beyond the value");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  WriteText(file);
  CheckLookups(file);

  // A printable value made from the input's last bytes.
  const std::string key = size > 0 && (data[0] & 1) ? "DATA_KEY_TOKEN" : "API_KEY";
  std::string value;
  for (size_t i = size > 40 ? size - 40 : 0; i < size; ++i) value += static_cast<char>('!' + data[i] % 94);
  Check(WriteConfigValue(kPath.c_str(), key.c_str(), value.c_str()) == 1, "rewrite succeeds");
  const std::string rewritten = ReadText();
  Check(rewritten == ModelRewrite(file, key, value), "rewritten text");
  CheckLookups(rewritten);

  xphost::ClearLog();
  return 0;
}
