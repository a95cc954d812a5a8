// Service client and JSON text helpers. Placeholder: sends nothing yet.
#include "NetworkManager.h"

#include "DataRefs.h"
#include "LandingDetection.h"
#include "Tralix.h"

#include "XPLMUtilities.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

int gNetworkBusy;
int gConsecutiveFailures;
float gBackoffTime;
float gLastSendTime;

void InitNetwork() {
  gNetworkBusy = 0;
  gLastSendTime = 0.0f;
  gConsecutiveFailures = 0;
  gBackoffTime = 0.0f;
  XPLMDebugString("Tralix - Network system initialized\n");
}

int BuildURL(char*, size_t, const char*, const char*) { return 0; }
void ReadStreamClientCallBack(CFReadStreamRef, CFStreamEventType, void*) {}

int SendAircraftData(float, float, float, float, float, float, float, const char*, const char*) { return 0; }
int ActivateApiKey(const char*, char* tokenOut, size_t tokenOutSize) {
  if (tokenOut && tokenOutSize) tokenOut[0] = '\0';
  return 0;
}
int SendLandingEvent(float, float, const LandingDataPoint*, int) { return 0; }

// ---- Extra-data encoder and JSON text helpers --------------------------------

namespace {

constexpr int kMaxDecimals = 10;
constexpr float kPlainRangeLow = 1e-6f;
constexpr float kPlainRangeHigh = 999999.0f;
constexpr char kNullText[] = "null";
constexpr uint64_t kPowersOfTen[kMaxDecimals + 1] = {
    1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL, 10000000ULL,
    100000000ULL, 1000000000ULL, 10000000000ULL};

// value / 2^shift, rounded to nearest with ties to even, as the C library's
// fixed-point print rounds. value stays below 2^58 here.
uint64_t ShiftRightRoundingToEven(uint64_t value, int shift) {
  if (shift >= 64) return 0;
  const uint64_t quotient = value >> shift;
  const uint64_t remainder = value & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  if (remainder > half || (remainder == half && (quotient & 1))) return quotient + 1;
  return quotient;
}

// Writes the digits of mantissa * 2^shift. Above 2^63 the product is doubled
// digit by digit (a float reaches 39 digits).
char* WriteIntegerTimesPowerOfTwo(char* cursor, uint32_t mantissa, int shift) {
  if (shift <= 39) return std::to_chars(cursor, cursor + 24, uint64_t{mantissa} << shift).ptr;
  unsigned char digits[40];  // least significant first
  int count = 0;
  for (uint32_t rest = mantissa; rest; rest /= 10) digits[count++] = static_cast<unsigned char>(rest % 10);
  for (int doubling = 0; doubling < shift; ++doubling) {
    int carry = 0;
    for (int i = 0; i < count; ++i) {
      const int doubled = digits[i] * 2 + carry;
      digits[i] = static_cast<unsigned char>(doubled % 10);
      carry = doubled / 10;
    }
    if (carry) digits[count++] = static_cast<unsigned char>(carry);
  }
  while (count > 0) *cursor++ = static_cast<char>('0' + digits[--count]);
  return cursor;
}

char* WriteFraction(char* cursor, uint64_t fraction, int decimals) {
  if (decimals == 0) return cursor;
  *cursor++ = '.';
  for (int i = decimals - 1; i >= 0; --i) {
    cursor[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return cursor + decimals;
}

// The exact digits "%.<decimals>f" prints, worked out from the float's bits so
// that no locale (a decimal comma set by the simulator or another plug-in) can
// change them. Not-a-number and the infinities have no JSON number: "null".
// text holds kFloatTextSize bytes; returns the length written.
size_t WriteFixedPoint(char* text, float value, int decimals) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  const uint32_t exponentBits = (bits >> 23) & 0xFFu;
  if (exponentBits == 0xFFu) {
    std::memcpy(text, kNullText, sizeof(kNullText));
    return sizeof(kNullText) - 1;
  }
  uint32_t mantissa = bits & 0x7FFFFFu;
  int exponent = -149;  // value = mantissa * 2^exponent
  if (exponentBits != 0) {
    mantissa |= 0x800000u;
    exponent = static_cast<int>(exponentBits) - 150;
  }
  char* cursor = text;
  if (bits >> 31) *cursor++ = '-';
  if (exponent >= 0) {
    cursor = WriteIntegerTimesPowerOfTwo(cursor, mantissa, exponent);
    cursor = WriteFraction(cursor, 0, decimals);
  } else {
    const uint64_t scale = kPowersOfTen[decimals];
    const uint64_t scaled = ShiftRightRoundingToEven(uint64_t{mantissa} * scale, -exponent);
    cursor = std::to_chars(cursor, cursor + 24, scaled / scale).ptr;
    cursor = WriteFraction(cursor, scaled % scale, decimals);
  }
  *cursor = '\0';
  return static_cast<size_t>(cursor - text);
}

// The escaped form of one byte: 1, 2 or 6 characters.
size_t EscapeByte(unsigned char byte, char* escaped) {
  char shortForm = 0;
  switch (byte) {
    case '"': shortForm = '"'; break;
    case '\\': shortForm = '\\'; break;
    case '\t': shortForm = 't'; break;
    case '\n': shortForm = 'n'; break;
    default: break;
  }
  if (shortForm) {
    escaped[0] = '\\';
    escaped[1] = shortForm;
    return 2;
  }
  if (byte < 0x20) {
    static const char kHexDigits[] = "0123456789abcdef";
    std::memcpy(escaped, "\\u00", 4);
    escaped[4] = kHexDigits[byte >> 4];
    escaped[5] = kHexDigits[byte & 0xF];
    return 6;
  }
  escaped[0] = static_cast<char>(byte);
  return 1;
}

size_t EscapedLength(const char* text, size_t count) {
  char scratch[6];
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length += EscapeByte(static_cast<unsigned char>(text[i]), scratch);
  return length;
}

constexpr size_t kStagingSize = kExtraDataBufferSize;
constexpr int kMaxArrayElements = 16;

// The unescaped object under construction. Appends are cut at the end of the
// buffer and advance only by what they wrote; `cut` records that one was.
struct StagingText {
  char text[kStagingSize];
  size_t length;
  bool cut;
};

void Append(StagingText& staging, const char* bytes, size_t count) {
  const size_t room = kStagingSize - 1 - staging.length;
  if (count > room) {
    count = room;
    staging.cut = true;
  }
  std::memcpy(staging.text + staging.length, bytes, count);
  staging.length += count;
}

void Append(StagingText& staging, const char* text) { Append(staging, text, std::strlen(text)); }

void AppendInt(StagingText& staging, int value) {
  char digits[16];
  const std::to_chars_result result = std::to_chars(digits, digits + sizeof(digits), value);
  Append(staging, digits, static_cast<size_t>(result.ptr - digits));
}

void AppendFloat(StagingText& staging, float value) {
  char number[kFloatTextSize];
  FormatFloatNoScientific(number, sizeof(number), value, 2);
  Append(staging, number);
}

// A vector read copies only what the simulator has, so the elements are
// cleared first: a short read must not show the previous row's values.
void AppendIntElements(StagingText& staging, XPLMDataRef dataRef, int count) {
  static int values[kMaxArrayElements];
  std::memset(values, 0, sizeof(values[0]) * static_cast<size_t>(count));
  XPLMGetDatavi(dataRef, values, 0, count);
  for (int i = 0; i < count; ++i) {
    if (i > 0) Append(staging, ",");
    AppendInt(staging, values[i]);
  }
}

void AppendFloatElements(StagingText& staging, XPLMDataRef dataRef, int count, float multiplier) {
  static float values[kMaxArrayElements];
  std::memset(values, 0, sizeof(values[0]) * static_cast<size_t>(count));
  XPLMGetDatavf(dataRef, values, 0, count);
  for (int i = 0; i < count; ++i) {
    if (i > 0) Append(staging, ",");
    AppendFloat(staging, values[i] * multiplier);
  }
}

void AppendValue(StagingText& staging, const DataRefMapping& row) {
  const bool isInt = row.dataType && std::strcmp(row.dataType, "int") == 0;
  if (row.isArray == 1 && row.arraySize > 0) {
    const int count = row.arraySize < kMaxArrayElements ? row.arraySize : kMaxArrayElements;
    Append(staging, "[");
    if (isInt) {
      AppendIntElements(staging, row.dataRef, count);
    } else {
      AppendFloatElements(staging, row.dataRef, count, row.multiplier);
    }
    Append(staging, "]");
  } else if (isInt) {
    AppendInt(staging, XPLMGetDatai(row.dataRef));
  } else {
    AppendFloat(staging, XPLMGetDataf(row.dataRef) * row.multiplier);
  }
}

// Appends one row's "name":value. An entry that would not fit whole, with room
// kept for the closing brace both here and, escaped, within escapedLimit, is
// taken back so the object stays well formed. Returns whether it was kept.
bool AppendEntry(StagingText& staging, const DataRefMapping& row, bool first,
                 size_t& escapedLength, size_t escapedLimit) {
  const size_t start = staging.length;
  staging.cut = false;
  if (!first) Append(staging, ",");
  Append(staging, "\"");
  Append(staging, row.name);
  Append(staging, "\":");
  AppendValue(staging, row);
  const size_t entryEscaped = EscapedLength(staging.text + start, staging.length - start);
  const bool fits = !staging.cut && staging.length < kStagingSize - 1 &&
                    escapedLength + entryEscaped + 1 <= escapedLimit;
  if (!fits) {
    staging.length = start;
    return false;
  }
  escapedLength += entryEscaped;
  return true;
}

}  // namespace

int BuildExtraDataJSON(char* out, size_t outSize) {
  if (!out || outSize < 3) {
    XPLMDebugString("Tralix - ERROR: Invalid buffer provided to BuildExtraDataJSON\n");
    if (out && outSize > 0) out[0] = '\0';
    return 0;
  }
  StagingText staging;
  staging.text[0] = '{';
  staging.length = 1;
  staging.cut = false;
  size_t escapedLength = 1;
  bool first = true;
  for (const DataRefMapping* row = gMappings; row->name; ++row) {
    if (row->isValid != 1) continue;
    if (!AppendEntry(staging, *row, first, escapedLength, outSize - 1)) {
      XPLMDebugString("Tralix - WARNING: Extra data buffer is getting full, some data will be omitted\n");
      break;
    }
    first = false;
  }
  staging.text[staging.length++] = '}';
  staging.text[staging.length] = '\0';
  return EscapeJSONString(out, staging.text, outSize);
}

int FormatFloatNoScientific(char* out, size_t outSize, float value, int decimals) {
  if (!out || outSize == 0) return 0;
  // The test is on the signed value: every negative number takes ten decimals.
  const bool plainRange = value == 0.0f || std::isnan(value) ||
                          (value >= kPlainRangeLow && value <= kPlainRangeHigh);
  if (!plainRange) decimals = kMaxDecimals;
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;

  char text[kFloatTextSize];
  const size_t length = WriteFixedPoint(text, value, decimals);
  // A cut number would be another number, or no JSON at all.
  if (length < outSize) {
    std::memcpy(out, text, length + 1);
  } else if (outSize >= sizeof(kNullText)) {
    std::memcpy(out, kNullText, sizeof(kNullText));
  } else {
    out[0] = '\0';
  }
  return static_cast<int>(length);
}

int EscapeJSONString(char* out, const char* in, size_t outSize) {
  if (!out || !in || outSize < 3) return 0;
  const size_t limit = outSize - 1;
  size_t written = 0;
  for (const char* cursor = in; *cursor; ++cursor) {
    char escaped[6];
    const size_t count = EscapeByte(static_cast<unsigned char>(*cursor), escaped);
    if (written + count > limit) break;  // an escape is never split
    std::memcpy(out + written, escaped, count);
    written += count;
  }
  out[written] = '\0';
  return static_cast<int>(written);
}
