// Value objects: strings (with the constant-string table), data, numbers,
// booleans and URLs.
#include "Internal.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace cfstandin {
namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const unsigned char *text, size_t length) {
  size_t index = 0;
  while (index < length) {
    unsigned char lead = text[index];
    if (lead < 0x80) {
      ++index;
      continue;
    }
    size_t extra;
    unsigned long codePoint;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      codePoint = lead & 0x07u;
    } else {
      return false;
    }
    if (length - index <= extra) return false;
    for (size_t offset = 1; offset <= extra; ++offset) {
      unsigned char next = text[index + offset];
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    constexpr unsigned long kSmallestOfLength[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallestOfLength[extra] || codePoint > 0x10FFFF) return false;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return false;
    index += extra + 1;
  }
  return true;
}

std::string Latin1ToUtf8(const unsigned char *text, size_t length) {
  std::string utf8;
  utf8.reserve(length);
  for (size_t index = 0; index < length; ++index) {
    unsigned char byte = text[index];
    if (byte < 0x80) {
      utf8 += static_cast<char>(byte);
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

// Decodes valid UTF-8 into code points.
std::vector<unsigned long> CodePoints(const std::string &utf8) {
  std::vector<unsigned long> points;
  for (size_t index = 0; index < utf8.size();) {
    auto lead = static_cast<unsigned char>(utf8[index]);
    size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    unsigned long point = extra == 0 ? lead : lead & (0x3Fu >> extra);
    for (size_t offset = 1; offset <= extra; ++offset) {
      point = (point << 6) | (static_cast<unsigned char>(utf8[index + offset]) & 0x3Fu);
    }
    points.push_back(point);
    index += extra + 1;
  }
  return points;
}

std::mutex gConstantMutex;
std::unordered_map<std::string, CFStringRef> *gConstantStrings = nullptr;

// Characters allowed in a URL besides letters, digits and "%XX" escapes.
bool IsUrlSymbol(char character) {
  return std::strchr("-_.!~*'();/?:@&=+$,[]#", character) != nullptr;
}

bool IsHexDigit(char character) {
  return (character >= '0' && character <= '9') || (character >= 'a' && character <= 'f') ||
         (character >= 'A' && character <= 'F');
}

bool IsAsciiLetter(char character) {
  return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
}

bool IsAsciiDigit(char character) { return character >= '0' && character <= '9'; }

bool HasScheme(const std::string &text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return false;
  for (char character : text) {
    if (character == ':') return true;
    if (!IsAsciiLetter(character) && !IsAsciiDigit(character) && character != '+' && character != '-' &&
        character != '.') {
      return false;
    }
  }
  return false;
}

bool IsValidAbsoluteUrl(const std::string &text) {
  if (!HasScheme(text)) return false;
  int fragmentMarks = 0;
  for (size_t index = 0; index < text.size(); ++index) {
    char character = text[index];
    if (character == '%') {
      if (index + 2 >= text.size() || !IsHexDigit(text[index + 1]) || !IsHexDigit(text[index + 2])) return false;
      index += 2;
      continue;
    }
    if (character == '#' && ++fragmentMarks > 1) return false;
    if (!IsAsciiLetter(character) && !IsAsciiDigit(character) && !IsUrlSymbol(character)) return false;
  }
  return true;
}

}  // namespace

const std::string &StringText(CFStringRef string, const char *operation) {
  return Checked<__CFString>(string, operation)->text;
}

CFStringRef MakeString(std::string utf8Text) { return new __CFString(std::move(utf8Text), false); }

CFStringRef MakePermanentString(const char *text) {
  std::lock_guard<std::mutex> lock(gConstantMutex);
  if (gConstantStrings == nullptr) gConstantStrings = new std::unordered_map<std::string, CFStringRef>();
  auto found = gConstantStrings->find(text);
  if (found != gConstantStrings->end()) return found->second;
  CFStringRef string = new __CFString(text, true);
  gConstantStrings->emplace(text, string);
  return string;
}

void ForgetConstantStrings() {
  std::lock_guard<std::mutex> lock(gConstantMutex);
  delete gConstantStrings;
  gConstantStrings = nullptr;
}

}  // namespace cfstandin

struct __CFData : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::Data;
  explicit __CFData(std::vector<UInt8> content) : Object(kKind, false), bytes(std::move(content)) {}
  bool Equals(const Object &other) const override {
    return other.kind == kind && static_cast<const __CFData &>(other).bytes == bytes;
  }
  const std::vector<UInt8> bytes;
};

// Integers are kept as 64-bit integers, floating types as doubles.
struct __CFNumber : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::Number;
  __CFNumber(bool floating, SInt64 integer, double real)
      : Object(kKind, false), isFloat(floating), integerValue(integer), floatValue(real) {}
  bool Equals(const Object &other) const override {
    if (other.kind != kind) return false;
    const auto &number = static_cast<const __CFNumber &>(other);
    if (isFloat || number.isFloat) return AsDouble() == number.AsDouble();
    return integerValue == number.integerValue;
  }
  double AsDouble() const { return isFloat ? floatValue : static_cast<double>(integerValue); }
  const bool isFloat;
  const SInt64 integerValue;
  const double floatValue;
};

struct __CFBoolean : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::Boolean;
  explicit __CFBoolean(bool truth) : Object(kKind, true), value(truth) {}
  const bool value;
};

struct __CFURL : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::URL;
  explicit __CFURL(CFStringRef urlText) : Object(kKind, false), text(urlText) {}
  ~__CFURL() override {
    if (!cfstandin::LibraryUnloading()) CFRelease(text);
  }
  bool Equals(const Object &other) const override {
    return other.kind == kind && CFEqual(static_cast<const __CFURL &>(other).text, text);
  }
  const CFStringRef text;
};

namespace cfstandin {
namespace {

template <typename T>
bool StoreIfExact(T value, double exact, void *destination) {
  std::memcpy(destination, &value, sizeof value);
  return static_cast<double>(value) == exact;
}

template <typename T>
bool StoreInteger(const __CFNumber &number, void *destination) {
  if (number.isFloat) {
    double real = number.floatValue;
    bool fits = std::isfinite(real) && real >= static_cast<double>(std::numeric_limits<T>::min()) &&
                real <= static_cast<double>(std::numeric_limits<T>::max());
    T value = fits ? static_cast<T>(real) : T{};
    std::memcpy(destination, &value, sizeof value);
    return fits && static_cast<double>(value) == real;
  }
  SInt64 integer = number.integerValue;
  bool fits = integer >= static_cast<SInt64>(std::numeric_limits<T>::min()) &&
              integer <= static_cast<SInt64>(std::numeric_limits<T>::max());
  T value = static_cast<T>(integer);
  std::memcpy(destination, &value, sizeof value);
  return fits;
}

template <typename T>
__CFNumber *IntegerNumber(const void *valuePtr) {
  T value;
  std::memcpy(&value, valuePtr, sizeof value);
  return new __CFNumber(false, static_cast<SInt64>(value), 0.0);
}

template <typename T>
__CFNumber *FloatNumber(const void *valuePtr) {
  T value;
  std::memcpy(&value, valuePtr, sizeof value);
  return new __CFNumber(true, 0, static_cast<double>(value));
}

}  // namespace
}  // namespace cfstandin

using namespace cfstandin;

extern "C" {

const CFBooleanRef kCFBooleanTrue = new __CFBoolean(true);
const CFBooleanRef kCFBooleanFalse = new __CFBoolean(false);

CFStringRef __CFStringMakeConstantString(const char *cStr) {
  if (cStr == nullptr) ContractViolation("CFSTR", "NULL text");
  return MakePermanentString(cStr);
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char *cStr, CFStringEncoding encoding) {
  if (InjectedFailure("CFStringCreateWithCString") || cStr == nullptr) return nullptr;
  const auto *bytes = reinterpret_cast<const unsigned char *>(cStr);
  size_t length = std::strlen(cStr);
  switch (encoding) {
    case kCFStringEncodingUTF8:
      return IsValidUtf8(bytes, length) ? MakeString(std::string(cStr, length)) : nullptr;
    case kCFStringEncodingASCII:
      for (size_t index = 0; index < length; ++index) {
        if (bytes[index] >= 0x80) return nullptr;
      }
      return MakeString(std::string(cStr, length));
    case kCFStringEncodingISOLatin1:
      return MakeString(Latin1ToUtf8(bytes, length));
    default:
      return nullptr;
  }
}

CFIndex CFStringGetLength(CFStringRef theString) {
  CFIndex units = 0;
  for (unsigned long point : CodePoints(StringText(theString, "CFStringGetLength"))) units += point >= 0x10000 ? 2 : 1;
  return units;
}

Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  const std::string &text = StringText(theString, "CFStringGetCString");
  if (buffer == nullptr || bufferSize <= 0) return false;
  std::string encoded;
  if (encoding == kCFStringEncodingUTF8) {
    encoded = text;
  } else if (encoding == kCFStringEncodingASCII || encoding == kCFStringEncodingISOLatin1) {
    unsigned long highest = encoding == kCFStringEncodingASCII ? 0x7F : 0xFF;
    for (unsigned long point : CodePoints(text)) {
      if (point > highest) return false;
      encoded += static_cast<char>(point);
    }
  } else {
    return false;
  }
  if (static_cast<CFIndex>(encoded.size()) >= bufferSize) return false;
  std::memcpy(buffer, encoded.c_str(), encoded.size() + 1);
  return true;
}

const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) {
  const std::string &text = StringText(theString, "CFStringGetCStringPtr");
  return encoding == kCFStringEncodingUTF8 ? text.c_str() : nullptr;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length) {
  if (InjectedFailure("CFDataCreate") || length < 0 || (bytes == nullptr && length > 0)) return nullptr;
  std::vector<UInt8> content;
  if (length > 0) content.assign(bytes, bytes + length);
  return new __CFData(std::move(content));
}

CFIndex CFDataGetLength(CFDataRef theData) {
  return static_cast<CFIndex>(Checked<__CFData>(theData, "CFDataGetLength")->bytes.size());
}

const UInt8 *CFDataGetBytePtr(CFDataRef theData) {
  const auto &bytes = Checked<__CFData>(theData, "CFDataGetBytePtr")->bytes;
  return bytes.empty() ? nullptr : bytes.data();
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void *valuePtr) {
  if (InjectedFailure("CFNumberCreate") || valuePtr == nullptr) return nullptr;
  switch (theType) {
    case kCFNumberSInt8Type: case kCFNumberCharType: return IntegerNumber<SInt8>(valuePtr);
    case kCFNumberSInt16Type: case kCFNumberShortType: return IntegerNumber<SInt16>(valuePtr);
    case kCFNumberSInt32Type: case kCFNumberIntType: return IntegerNumber<SInt32>(valuePtr);
    case kCFNumberSInt64Type: case kCFNumberLongLongType: return IntegerNumber<SInt64>(valuePtr);
    case kCFNumberLongType: case kCFNumberCFIndexType: case kCFNumberNSIntegerType:
      return IntegerNumber<long>(valuePtr);
    case kCFNumberFloat32Type: case kCFNumberFloatType: return FloatNumber<float>(valuePtr);
    case kCFNumberFloat64Type: case kCFNumberDoubleType: case kCFNumberCGFloatType:
      return FloatNumber<double>(valuePtr);
  }
  return nullptr;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr) {
  const auto &value = *Checked<__CFNumber>(number, "CFNumberGetValue");
  if (valuePtr == nullptr) return false;
  switch (theType) {
    case kCFNumberSInt8Type: case kCFNumberCharType: return StoreInteger<SInt8>(value, valuePtr);
    case kCFNumberSInt16Type: case kCFNumberShortType: return StoreInteger<SInt16>(value, valuePtr);
    case kCFNumberSInt32Type: case kCFNumberIntType: return StoreInteger<SInt32>(value, valuePtr);
    case kCFNumberSInt64Type: case kCFNumberLongLongType: return StoreInteger<SInt64>(value, valuePtr);
    case kCFNumberLongType: case kCFNumberCFIndexType: case kCFNumberNSIntegerType:
      return StoreInteger<long>(value, valuePtr);
    case kCFNumberFloat32Type: case kCFNumberFloatType:
      return StoreIfExact(static_cast<float>(value.AsDouble()), value.AsDouble(), valuePtr);
    case kCFNumberFloat64Type: case kCFNumberDoubleType: case kCFNumberCGFloatType:
      return StoreIfExact(value.AsDouble(), value.AsDouble(), valuePtr);
  }
  return false;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  return Checked<__CFBoolean>(boolean, "CFBooleanGetValue")->value;
}

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef baseURL) {
  if (InjectedFailure("CFURLCreateWithString") || URLString == nullptr || baseURL != nullptr) return nullptr;
  if (!IsValidAbsoluteUrl(StringText(URLString, "CFURLCreateWithString"))) return nullptr;
  return new __CFURL(static_cast<CFStringRef>(CFRetain(URLString)));
}

CFStringRef CFURLGetString(CFURLRef anURL) { return Checked<__CFURL>(anURL, "CFURLGetString")->text; }

}  // extern "C"

namespace cfstandin {
const std::string &UrlText(CFURLRef url, const char *operation) {
  return StringText(Checked<__CFURL>(url, operation)->text, operation);
}
}  // namespace cfstandin
