// Token extraction on arbitrary activation answers: a token is taken only when
// it is the quoted value right after the first "token": member, fits the
// buffer, holds no control byte or backslash, is valid UTF-8 and has no blank
// at either end; otherwise the output is empty.
#include "FuzzCheck.h"
#include "NetworkManager.h"
#include "XPHostControl.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Decodes one character at a time and checks the code point it gives, rather
// than the byte ranges the plug-in checks.
bool IsUtf8(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const int length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xe ? 3 : lead >> 3 == 0x1e ? 4 : 0;
    if (length == 0 || at + static_cast<size_t>(length) > text.size()) return false;
    unsigned long codePoint = length == 1 ? lead : lead & (0x7fu >> length);
    for (int i = 1; i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(text[at + static_cast<size_t>(i)]);
      if (next >> 6 != 0x2) return false;
      codePoint = codePoint << 6 | (next & 0x3fu);
    }
    const unsigned long shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < shortest[length] || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
      return false;
    at += static_cast<size_t>(length);
  }
  return true;
}

// The token the rules give for this answer, or "" with false.
bool ExpectedToken(const std::string& answer, size_t outSize, std::string* token) {
  const size_t member = answer.find("\"token\":");
  if (member == std::string::npos) return false;
  size_t at = member + 8;
  while (at < answer.size() && std::strchr(" \t\n\r", answer[at]) && answer[at] != '\0') ++at;
  if (at >= answer.size() || answer[at] != '"') return false;
  const size_t close = answer.find('"', at + 1);
  if (close == std::string::npos) return false;
  *token = answer.substr(at + 1, close - at - 1);
  if (token->empty() || token->size() >= outSize) return false;
  for (unsigned char c : *token)
    if (c < 0x20 || c == 0x7f || c == '\\') return false;
  return token->front() != ' ' && token->back() != ' ' && IsUtf8(*token);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t outSize = 1 + data[0] % 64;
  // The answer is a C string, as the response buffer holds it.
  std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);
  answer = answer.substr(0, std::strlen(answer.c_str()));

  std::vector<char> out(outSize + 8, '\x5a');
  const int result = ExtractActivationToken(answer.c_str(), out.data(), outSize);
  for (size_t i = outSize; i < out.size(); ++i) Check(out[i] == '\x5a', "wrote past the buffer");

  std::string expected;
  const bool found = ExpectedToken(answer, outSize, &expected);
  Check(result == (found ? 1 : 0), "result follows the extraction rules");
  Check(std::string(out.data()) == (found ? expected : std::string()), "token is exactly the quoted value");

  xphost::ClearLog();  // else the host's log grows with every run
  return 0;
}
