// The JSON text helpers on arbitrary input: the escaper must give a string a
// JSON parser reads back as the start of its input, never overrunning or
// splitting an escape; the number formatter must give exactly the C library's
// digits (or null) and never a cut number.
#include "FuzzCheck.h"
#include "NetworkManager.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void CheckEscape(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const size_t outSize = (static_cast<size_t>(data[0]) << 8 | data[1]) % 600;
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  std::vector<char> out(outSize + 8, '\x5a');
  const int written = EscapeJSONString(out.data(), input.c_str(), outSize);
  for (size_t i = outSize; i < out.size(); ++i) Check(out[i] == '\x5a', "wrote past the buffer");
  if (outSize < 3) {
    Check(written == 0, "tiny buffer refused");
    return;
  }
  Check(written >= 0 && static_cast<size_t>(written) < outSize, "length within the buffer");
  Check(std::strlen(out.data()) == static_cast<size_t>(written), "terminated after the text");

  const std::string escaped(out.data(), static_cast<size_t>(written));
  const std::string plain = input.c_str();  // the escaper stops at a NUL
  bool ascii = true;
  for (unsigned char c : plain) ascii = ascii && c < 0x80;
  if (!ascii) return;  // bytes above 127 pass unchanged and need not be valid UTF-8
  const nlohmann::json parsed = nlohmann::json::parse("\"" + escaped + "\"", nullptr, false);
  Check(parsed.is_string(), "escaped text is a JSON string");
  const std::string decoded = parsed.get<std::string>();
  Check(plain.compare(0, decoded.size(), decoded) == 0, "decodes to the start of the input");
}

void CheckFormat(const uint8_t* data, size_t size) {
  if (size < 6) return;
  float value;
  std::memcpy(&value, data, sizeof(value));
  int decimals = static_cast<int8_t>(data[4]);
  const size_t smallSize = data[5] % 64;

  char out[kFloatTextSize];
  const int length = FormatFloatNoScientific(out, sizeof(out), value, decimals);
  Check(length > 0 && static_cast<size_t>(length) == std::strlen(out), "length of the number");
  const nlohmann::json parsed = nlohmann::json::parse(out, nullptr, false);
  Check(parsed.is_number() || parsed.is_null(), "a JSON number or null");
  Check(parsed.is_null() == !std::isfinite(value), "null exactly for NaN and infinities");
  if (std::isfinite(value)) {
    const bool plain = value == 0.0f || (value >= 1e-6f && value <= 999999.0f);
    decimals = plain ? (decimals < 0 ? 0 : decimals > 10 ? 10 : decimals) : 10;
    char expected[512];
    std::snprintf(expected, sizeof(expected), "%.*f", decimals, static_cast<double>(value));
    Check(std::strcmp(out, expected) == 0, "the C library's digits");
  }

  char small[64];
  std::memset(small, '\x5a', sizeof(small));
  const int needed = FormatFloatNoScientific(small, smallSize, value, static_cast<int8_t>(data[4]));
  if (smallSize == 0) {
    Check(needed == 0 && small[0] == '\x5a', "nothing written to no room");
    return;
  }
  Check(needed == length, "length needed whatever the room");
  const bool whole = std::strcmp(small, out) == 0;
  const bool null = std::strcmp(small, "null") == 0 && smallSize >= 5;
  Check(whole || null || small[0] == '\0', "never a cut number");
  for (size_t i = smallSize; i < sizeof(small); ++i) Check(small[i] == '\x5a', "wrote past the buffer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckEscape(data, size);
  CheckFormat(data, size);
  return 0;
}
