// Service client (connection health, aircraft broadcast, API key activation,
// landing upload) and the JSON text helpers every request body uses.
#include "NetworkManager.h"

#include "DataRefs.h"
#include "LandingDetection.h"
#include "Tralix.h"
#include "platform/RunLoopPump.h"

#include "XPLMProcessing.h"
#include "XPLMUtilities.h"
#include "platform/CalendarTime.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

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

// Writes the digits of mantissa * 2^shift. Beyond 64 bits the product is built
// in base-10^9 limbs, 29 doublings at a time (a float reaches 39 digits).
char* WriteIntegerTimesPowerOfTwo(char* cursor, uint32_t mantissa, int shift) {
  if (shift <= 39) return std::to_chars(cursor, cursor + 24, uint64_t{mantissa} << shift).ptr;
  constexpr uint32_t kLimbBase = 1000000000u;
  uint32_t limbs[6] = {mantissa};  // least significant first; mantissa < 2^24 fits one limb
  int count = 1;
  while (shift > 0) {
    const int step = shift < 29 ? shift : 29;
    uint64_t carry = 0;
    for (int i = 0; i < count; ++i) {
      const uint64_t product = (uint64_t{limbs[i]} << step) + carry;
      limbs[i] = static_cast<uint32_t>(product % kLimbBase);
      carry = product / kLimbBase;
    }
    if (carry) limbs[count++] = static_cast<uint32_t>(carry);
    shift -= step;
  }
  cursor = std::to_chars(cursor, cursor + 10, limbs[count - 1]).ptr;
  for (int i = count - 2; i >= 0; --i) {
    uint32_t limb = limbs[i];
    for (int digit = 8; digit >= 0; --digit) {
      cursor[digit] = static_cast<char>('0' + limb % 10);
      limb /= 10;
    }
    cursor += 9;
  }
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
// buffer and advance only by what they wrote, so a cut leaves it full.
struct StagingText {
  char text[kStagingSize];
  size_t length;
};

void Append(StagingText& staging, const char* bytes, size_t count) {
  const size_t room = kStagingSize - 1 - staging.length;
  if (count > room) count = room;
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

// The float a row sends when its dataref is not itself a float scalar.
float ReadConvertedFloat(const DataRefMapping& row) {
  switch (row.reading) {
    case kReadIntAsFloat: return static_cast<float>(XPLMGetDatai(row.dataRef)) * row.multiplier;
    case kReadFirstElement: {
      float first = 0.0f;
      XPLMGetDatavf(row.dataRef, &first, 0, 1);
      return first * row.multiplier;
    }
    case kReadBelowZeroFlag: return XPLMGetDataf(row.dataRef) < 0.0f ? 1.0f : 0.0f;
    default: return XPLMGetDataf(row.dataRef) * row.multiplier;
  }
}

void AppendValue(StagingText& staging, const DataRefMapping& row) {
  if (row.reading == kReadScalarAsArray) {
    Append(staging, "[");
    AppendFloat(staging, XPLMGetDataf(row.dataRef) * row.multiplier);
    Append(staging, "]");
    return;
  }
  if (row.reading != kReadAsTyped) {
    AppendFloat(staging, ReadConvertedFloat(row));
    return;
  }
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
  if (!first) Append(staging, ",");
  Append(staging, "\"");
  Append(staging, row.name);
  Append(staging, "\":");
  AppendValue(staging, row);
  const size_t entryEscaped = EscapedLength(staging.text + start, staging.length - start);
  // A full staging text means an append was cut (or the brace has no room).
  const bool fits = staging.length < kStagingSize - 1 &&
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

// ---- service client ---------------------------------------------------------
#ifndef TRALIX_SERVICE_HOST
#define TRALIX_SERVICE_HOST "api.tralix.net"
#endif

const char BaseUrl[] = "https://" TRALIX_SERVICE_HOST "/api/v1";

int gNetworkBusy;
int gConsecutiveFailures;
float gBackoffTime;
float gLastSendTime;

namespace {

// Every byte of a name or key may need a six-byte \u00XX escape.
constexpr size_t kEscapedKeySize = 255 * 6 + 1;
constexpr size_t kEscapedNameSize = 255 * 6 + 1;
constexpr size_t kEscapedIcaoSize = 39 * 6 + 1;
constexpr size_t kTimestampSize = 30;
// Ten records with every number at its longest: "-" and 39 digits for the bank,
// kFloatTextSize for the three other fields, and the member names.
constexpr size_t kPointRecordMax = 70 + 3 * (kFloatTextSize - 1) + 40 + 1;
constexpr size_t kPointsBufferSize = 2 + 10 * kPointRecordMax + 1;
// The broadcast body at its longest: the fixed text, the escaped key, name and
// code, seven numbers, two timestamps and the escaped extra object.
constexpr size_t kBroadcastBodyMax = 400 + (kEscapedKeySize - 1) + (kEscapedNameSize - 1) +
                                     (kEscapedIcaoSize - 1) + 7 * (kFloatTextSize - 1) +
                                     2 * (kTimestampSize - 1) + (kExtraDataBufferSize - 1);
constexpr size_t kLandingBodyMax = 200 + 2 * (kFloatTextSize - 1) + 2 * 49 + (kPointsBufferSize - 1);
constexpr size_t kJsonBufferSize =
    (kBroadcastBodyMax > kLandingBodyMax ? kBroadcastBodyMax : kLandingBodyMax) + 1;

}  // namespace

char gExtraDataBuffer[kExtraDataBufferSize];
char gJsonBuffer[kJsonBufferSize];

namespace {

constexpr CFOptionFlags kClientEvents =
    kCFStreamEventHasBytesAvailable | kCFStreamEventErrorOccurred | kCFStreamEventEndEncountered;
static_assert(kClientEvents == 26, "the completion handler listens for events 2, 8 and 16");

// The plug-in's bounds, each over the whole request from the stream's open:
// name lookup, connecting, TLS, sending and the answer. CFNetwork's HTTP
// stream keeps none; the read-time-out property, set before open to the same
// values, bounds nothing there.
constexpr double kBroadcastTimeoutSeconds = 5.0;
constexpr double kLandingTimeoutSeconds = 10.0;
// The activation holds the simulator's main thread, at most this long; its
// read-time-out property is set to the other value.
constexpr double kActivationTotalSeconds = 30.0;
constexpr double kActivationReadTimeoutSeconds = 10.0;
constexpr size_t kUrlBufferSize = 512;
constexpr size_t kStatusLineSize = 256;

// Streams that are open and owned by the completion handler, so that unloading
// the plug-in can detach them before their callback would point into freed code,
// and so that each is ended at its bound.
constexpr int kMaxOpenStreams = 8;
CFReadStreamRef gOpenStreams[kMaxOpenStreams];
float gOpenStreamStarts[kMaxOpenStreams];  // elapsed simulator time at open
float gOpenStreamBounds[kMaxOpenStreams];  // seconds it may take from open
int gOpenStreamCount;

// ETIMEDOUT as CFNetwork reports a read time-out, in macOS numbering on every
// platform: an overdue request is judged as one.
constexpr SInt32 kReadTimedOutCode = 60;
// Events delivered before the bounds are looked at, at most; each has-bytes
// event takes 1024 bytes.
constexpr int kMaxPendingEvents = 64;

bool TrackOpenStream(CFReadStreamRef stream, float boundSeconds) {
  for (int i = 0; i < kMaxOpenStreams; ++i) {
    if (!gOpenStreams[i]) {
      gOpenStreams[i] = stream;
      gOpenStreamStarts[i] = XPLMGetElapsedTime();
      gOpenStreamBounds[i] = boundSeconds;
      ++gOpenStreamCount;
      return true;
    }
  }
  return false;
}

void ForgetOpenStream(CFReadStreamRef stream) {
  for (CFReadStreamRef& slot : gOpenStreams) {
    if (slot != stream) continue;
    slot = nullptr;
    --gOpenStreamCount;
  }
}

template <typename Ref>
void ReleaseAndClear(Ref* object) {
  if (*object) CFRelease(*object);
  *object = nullptr;
}

CFStringRef CreateUtf8String(const char* text) {
  return CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

void ApplyFailureRule() {
  const int previousFailures = gConsecutiveFailures;
  gConsecutiveFailures = previousFailures + 1;
  if (previousFailures >= 5) {
    const float doubled = gBackoffTime * 2.0f;
    const double grown = static_cast<double>(doubled) + 1.0;
    gBackoffTime = static_cast<float>(grown < 30.0 ? grown : 30.0);
  }
}

void ResetFailures() {
  gConsecutiveFailures = 0;
  gBackoffTime = 0.0f;
}

// Remove the client, unschedule, close and release: the stream's end.
void TearDownStream(CFReadStreamRef stream, CFRunLoopMode mode) {
  CFReadStreamSetClient(stream, 0, nullptr, nullptr);
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), mode);
  CFReadStreamClose(stream);
  CFRelease(stream);
}

// Set before open only: CFNetwork's HTTP stream refuses every property once open.
void SetReadTimeout(CFReadStreamRef stream, double seconds) {
  CFNumberRef timeout = CFNumberCreate(nullptr, kCFNumberDoubleType, &seconds);
  if (!timeout) return;
  CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), timeout);
  CFRelease(timeout);
}

// CFNetwork's HTTP stream API has been deprecated since macOS 10.11 in favour of
// NSURLSession, which has no C interface; Apple still ships it, and every use of
// it is in these two functions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// Redirects are not followed: a redirect to another host would receive the
// token header and, for 307/308, the body. A 3xx is judged like any other status.
CFReadStreamRef CreateRequestStream(CFHTTPMessageRef request) {
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  if (stream) CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanFalse);
  return stream;
}

// The response's status line and headers, or null until they arrived.
CFHTTPMessageRef CopyResponseHeader(CFReadStreamRef stream) {
  return static_cast<CFHTTPMessageRef>(
      const_cast<void*>(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader)));
}

#pragma GCC diagnostic pop

// Register the completion handler, schedule on this thread's run loop in the
// pump's mode and open. Returns the failure line to log, or null when the
// stream is open and handed to the completion handler.
const char* StartStream(CFReadStreamRef stream, float boundSeconds, const char* clientFailedLine,
                        const char* openFailedLine) {
  CFStreamClientContext context = {0, nullptr, nullptr, nullptr, nullptr};
  if (!CFReadStreamSetClient(stream, kClientEvents, ReadStreamClientCallBack, &context))
    return clientFailedLine;
  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), RequestRunLoopMode());
  if (!CFReadStreamOpen(stream)) return openFailedLine;
  if (!TrackOpenStream(stream, boundSeconds)) return "Tralix - ERROR: Too many requests in flight\n";
  return nullptr;
}

void LogHttpFailure(long status) {
  if (status == 401 || status == 403) {
    XPLMDebugString("Tralix - ERROR: Authentication failed. Check API key and token\n");
  } else if (status == 404) {
    XPLMDebugString("Tralix - ERROR: Server endpoint not found. Check URL configuration\n");
  } else if (status >= 500) {
    XPLMDebugString("Tralix - ERROR: Server error. Please try again later\n");
  } else {
    LogFormatted(kStatusLineSize, "Tralix - ERROR: Request failed with HTTP status code %ld\n", status);
  }
}

void JudgeResponse(CFReadStreamRef stream) {
  CFHTTPMessageRef response = CopyResponseHeader(stream);
  if (!response) {
    XPLMDebugString("Tralix - WARNING: No HTTP response headers available\n");
    ResetFailures();
    return;
  }
  const long status = static_cast<long>(CFHTTPMessageGetResponseStatusCode(response));
  LogFormatted(kStatusLineSize, "Tralix - HTTP Status Code: %ld\n", status);
  if (status >= 200 && status <= 299) {
    ResetFailures();
    XPLMDebugString("Tralix - Successfully sent aircraft data to server\n");
  } else {
    LogHttpFailure(status);
    ApplyFailureRule();
  }
  CFRelease(response);
}

void JudgeStreamError(CFStreamError error) {
  LogFormatted(kStatusLineSize, "Tralix - Network error: domain %ld, code %d\n",
               static_cast<long>(error.domain), static_cast<int>(error.error));
  ApplyFailureRule();
}

// The completion handler is done with the stream.
void EndStream(CFReadStreamRef stream) {
  ForgetOpenStream(stream);
  TearDownStream(stream, RequestRunLoopMode());
  gNetworkBusy = 0;
}

// An answer that has already arrived is judged, not called overdue: also after
// a pause of the simulator, when its clock ran on without frames.
void DeliverPendingEvents() {
  for (int i = 0; i < kMaxPendingEvents && gOpenStreamCount > 0; ++i)
    if (CFRunLoopRunInMode(RequestRunLoopMode(), 0, true) != kCFRunLoopRunHandledSource) return;
}

// A value that goes into a header must not carry control bytes.
bool IsHeaderSafe(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    if (*p < 0x20 || *p == 0x7f) return false;
  return true;
}

}  // namespace

void InitNetwork() {
  gNetworkBusy = 0;
  gLastSendTime = 0.0f;
  gConsecutiveFailures = 0;
  gBackoffTime = 0.0f;
  XPLMDebugString("Tralix - Network system initialized\n");
}

int BuildURL(char* dst, size_t dstSize, const char* path, const char* suffix) {
  if (!dst || dstSize == 0 || !path) return 0;
  const int length = std::snprintf(dst, dstSize, "%s%s%s", BaseUrl, path, suffix ? suffix : "");
  return length >= 1 && static_cast<size_t>(length) <= dstSize - 1;
}

void ReadStreamClientCallBack(CFReadStreamRef stream, CFStreamEventType eventType, void*) {
  if (!stream) {
    XPLMDebugString("Tralix - ERROR: NULL stream in callback\n");
    gNetworkBusy = 0;
    return;
  }
  switch (eventType) {
    case kCFStreamEventHasBytesAvailable: {
      UInt8 discarded[1024];
      CFReadStreamRead(stream, discarded, sizeof(discarded));
      return;
    }
    case kCFStreamEventEndEncountered:
      JudgeResponse(stream);
      break;
    case kCFStreamEventErrorOccurred:
      JudgeStreamError(CFReadStreamGetError(stream));
      break;
    default:
      return;
  }
  EndStream(stream);
}

void EndOverdueRequests() {
  if (gOpenStreamCount == 0) return;
  DeliverPendingEvents();
  const float now = XPLMGetElapsedTime();
  for (int i = 0; i < kMaxOpenStreams; ++i) {
    CFReadStreamRef stream = gOpenStreams[i];
    if (!stream || now - gOpenStreamStarts[i] < gOpenStreamBounds[i]) continue;
    JudgeStreamError({kCFStreamErrorDomainPOSIX, kReadTimedOutCode});
    EndStream(stream);
  }
}

// ---- request objects kept until the next request of the same kind --------------
namespace {

struct KeptRequest {
  CFStringRef urlString;
  CFURLRef url;
  CFHTTPMessageRef request;
  CFStringRef headerKey;
  CFStringRef headerValue;
};

KeptRequest gBroadcastRequest;
KeptRequest gLandingRequest;

struct KeptActivation {
  CFStringRef urlString;
  CFURLRef url;
  CFHTTPMessageRef request;
  CFDataRef bodyData;
  CFNumberRef timeoutVal;
};
KeptActivation gActivation;

void ReleaseMessageObjects(KeptRequest* kept) {
  ReleaseAndClear(&kept->request);
  ReleaseAndClear(&kept->url);
  ReleaseAndClear(&kept->urlString);
}

void ReleaseHeaderStrings(KeptRequest* kept) {
  ReleaseAndClear(&kept->headerKey);
  ReleaseAndClear(&kept->headerValue);
}

void ReleaseAll(KeptRequest* kept) {
  ReleaseMessageObjects(kept);
  ReleaseHeaderStrings(kept);
}

void ReleaseActivation() {
  ReleaseAndClear(&gActivation.timeoutVal);
  ReleaseAndClear(&gActivation.bodyData);
  ReleaseAndClear(&gActivation.request);
  ReleaseAndClear(&gActivation.url);
  ReleaseAndClear(&gActivation.urlString);
}

// Sets the datakeytoken header from fresh strings; false when they could not be made.
bool SetTokenHeader(KeptRequest* kept) {
  ReleaseHeaderStrings(kept);
  kept->headerKey = CreateUtf8String("datakeytoken");
  kept->headerValue = CreateUtf8String(gDataKeyToken);
  if (!kept->headerKey || !kept->headerValue) return false;
  CFHTTPMessageSetHeaderFieldValue(kept->request, kept->headerKey, kept->headerValue);
  return true;
}

void SetJsonContentType(CFHTTPMessageRef request) {
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("Content-Type"), CFSTR("application/json"));
}

// What the broadcast and the landing event log when a step of their request fails.
struct PostLines {
  const char* urlString;
  const char* url;
  const char* request;
  const char* header;
  const char* bodyData;
  const char* stream;
  const char* client;
  const char* open;
};

// The URL string, URL and POST message with its two headers, kept until the
// same kind of request is made again. False, with its line logged and what
// was made released, when one of them cannot be made.
bool PrepareMessage(KeptRequest* kept, const char* url, const PostLines& lines) {
  ReleaseMessageObjects(kept);
  kept->urlString = CreateUtf8String(url);
  if (!kept->urlString) {
    XPLMDebugString(lines.urlString);
    return false;
  }
  kept->url = CFURLCreateWithString(nullptr, kept->urlString, nullptr);
  if (!kept->url) {
    XPLMDebugString(lines.url);
    ReleaseAndClear(&kept->urlString);
    return false;
  }
  kept->request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), kept->url, kCFHTTPVersion1_1);
  if (!kept->request) {
    XPLMDebugString(lines.request);
    ReleaseAndClear(&kept->url);
    ReleaseAndClear(&kept->urlString);
    return false;
  }
  SetJsonContentType(kept->request);
  if (!SetTokenHeader(kept)) XPLMDebugString(lines.header);
  return true;
}

enum class PostStart {
  kStarted,      // the stream is open and belongs to the completion handler
  kNotBuilt,     // body or stream could not be made; every kept object released
  kStartFailed,  // the stream would not start; torn down, the kept objects stay
};

// Gives the message the first bodyLength bytes of gJsonBuffer and opens its
// stream on this thread's run loop; the request is ended after timeoutSeconds.
PostStart StartPost(KeptRequest* kept, int bodyLength, double timeoutSeconds, const PostLines& lines) {
  CFDataRef body = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(gJsonBuffer), bodyLength);
  if (!body) {
    XPLMDebugString(lines.bodyData);
    ReleaseAll(kept);
    return PostStart::kNotBuilt;
  }
  CFHTTPMessageSetBody(kept->request, body);
  CFReadStreamRef stream = CreateRequestStream(kept->request);
  if (!stream) {
    CFRelease(body);
    XPLMDebugString(lines.stream);
    ReleaseAll(kept);
    return PostStart::kNotBuilt;
  }
  SetReadTimeout(stream, timeoutSeconds);
  const char* startFailure = StartStream(stream, static_cast<float>(timeoutSeconds), lines.client, lines.open);
  CFRelease(body);
  if (!startFailure) return PostStart::kStarted;
  XPLMDebugString(startFailure);
  TearDownStream(stream, RequestRunLoopMode());
  return PostStart::kStartFailed;
}

}  // namespace

// ---- aircraft broadcast ------------------------------------------------------
namespace {

char broadcastUrl[kUrlBufferSize];

// Writes the current UTC time as 2025-03-14T09:26:53Z; empty when the clock
// cannot be converted.
void FormatUtcTimestamp(char* out, size_t outSize) {
  std::memset(out, 0, outSize);
  const std::time_t now = std::time(nullptr);
  std::tm utc;
  if (!UtcCalendarTime(&now, &utc)) return;
  std::strftime(out, outSize, "%Y-%m-%dT%H:%M:%SZ", &utc);
}

struct BroadcastNumbers {
  char latitude[kFloatTextSize];
  char longitude[kFloatTextSize];
  char elevation[kFloatTextSize];
  char heightAboveGround[kFloatTextSize];
  char altitude[kFloatTextSize];
  char groundSpeed[kFloatTextSize];
  char heading[kFloatTextSize];
};

struct BroadcastTexts {
  char key[kEscapedKeySize];
  char name[kEscapedNameSize];
  char icao[kEscapedIcaoSize];
};

// Prints the broadcast body into gJsonBuffer; returns its length, or -1 when it
// did not fit (a cut body is never sent).
int PrintBroadcastBody(const BroadcastTexts& texts, const BroadcastNumbers& numbers, const char* timestamp) {
  const int length = std::snprintf(
      gJsonBuffer, sizeof(gJsonBuffer),
      "{\"key\":\"%s\",\"clientVersion\":10106,\"airCraftName\":\"%s\",\"icaoCode\":\"%s\","
      "\"simKind\":\"XPlane\",\"latitude\":%s,\"longitude\":%s,\"altitude\":%s,"
      "\"altitudeAboveGround\":%s,\"altitudeMSL\":%s,\"groundSpeed\":%s,\"heading\":%s,"
      "\"simTimeStamp\":\"%s\",\"clientTimeStamp\":\"%s\",\"extra\":\"%s\"}",
      texts.key, texts.name, texts.icao, numbers.latitude, numbers.longitude, numbers.elevation,
      numbers.heightAboveGround, numbers.altitude, numbers.groundSpeed, numbers.heading, timestamp,
      timestamp, gExtraDataBuffer);
  if (length < 0 || static_cast<size_t>(length) >= sizeof(gJsonBuffer) - 1) return -1;
  return length;
}

const PostLines kBroadcastLines = {
    "Tralix - ERROR: Failed to create CFString from Target URL.\n",
    "Tralix - ERROR: Failed to create CFURLRef from Target URL string.\n",
    "Tralix - ERROR: Failed to create HTTP request.\n",
    "Tralix - Failed to create DataKeyToken header string\n",
    "Tralix - ERROR: Failed to create CFData for request body\n",
    "Tralix - ERROR: Failed to create read stream for HTTP request\n",
    "Tralix - Failed to set client callback\n",
    "Tralix - Failed to open network connection\n",
};

}  // namespace

int SendAircraftData(float latitude, float longitude, float elevation, float heading, float groundSpeed,
                     float altitudeAboveGround, float altitudeMSL, const char* aircraftName,
                     const char* icaoCode) {
  if (!aircraftName || !icaoCode) {
    XPLMDebugString("Tralix - ERROR: Invalid aircraft parameters\n");
    return 0;
  }
  if (gDataKeyToken[0] == '\0') {
    XPLMDebugString("Tralix - ERROR: DATA_KEY_TOKEN is not set. Cannot send data.\n");
    return 0;
  }
  if (!BuildURL(broadcastUrl, sizeof(broadcastUrl), "/data/client/broadcast", nullptr)) {
    XPLMDebugString("Tralix - ERROR: Failed to build broadcast URL. Buffer too small.\n");
    return 0;
  }

  if (!PrepareMessage(&gBroadcastRequest, broadcastUrl, kBroadcastLines)) return 0;

  if (BuildExtraDataJSON(gExtraDataBuffer, sizeof(gExtraDataBuffer)) <= 0)
    std::snprintf(gExtraDataBuffer, sizeof(gExtraDataBuffer), "{}");

  char timestamp[kTimestampSize];
  FormatUtcTimestamp(timestamp, sizeof(timestamp));

  static BroadcastNumbers numbers;
  FormatFloatNoScientific(numbers.latitude, kFloatTextSize, latitude, 6);
  FormatFloatNoScientific(numbers.longitude, kFloatTextSize, longitude, 6);
  FormatFloatNoScientific(numbers.elevation, kFloatTextSize, elevation, 2);
  FormatFloatNoScientific(numbers.heightAboveGround, kFloatTextSize, altitudeAboveGround, 2);
  FormatFloatNoScientific(numbers.altitude, kFloatTextSize, altitudeMSL, 2);
  FormatFloatNoScientific(numbers.groundSpeed, kFloatTextSize, groundSpeed, 2);
  FormatFloatNoScientific(numbers.heading, kFloatTextSize, heading, 2);

  static BroadcastTexts texts;
  EscapeJSONString(texts.key, gApiKey, sizeof(texts.key));
  EscapeJSONString(texts.name, aircraftName, sizeof(texts.name));
  EscapeJSONString(texts.icao, icaoCode, sizeof(texts.icao));

  const int bodyLength = PrintBroadcastBody(texts, numbers, timestamp);
  if (bodyLength < 0) {
    XPLMDebugString("Tralix - ERROR: JSON payload too large for its buffer, not sent\n");
    ReleaseAll(&gBroadcastRequest);
    return 0;
  }
  switch (StartPost(&gBroadcastRequest, bodyLength, kBroadcastTimeoutSeconds, kBroadcastLines)) {
    case PostStart::kStarted:
      gNetworkBusy = 1;
      return 1;
    case PostStart::kStartFailed:
      ApplyFailureRule();
      return 0;
    case PostStart::kNotBuilt:
      break;
  }
  return 0;
}

// ---- API key activation --------------------------------------------------------
namespace {

char apiKeySuffix[257];
char fullActivateUrl[kUrlBufferSize];
char responseBuffer[8192];

// Characters that would move the key out of its path segment or cut the URL.
bool IsUrlSafeKey(const char* key) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
    if (*p <= 0x20 || *p == 0x7f) return false;
    if (std::strchr("/?#%\\", *p)) return false;
  }
  return true;
}

int FailActivationBeforeStream(const char* line) {
  XPLMDebugString(line);
  ReleaseActivation();
  return 0;
}

// What the activation's stream callback gathered: the answer's bytes kept in
// responseBuffer, and whether the stream ended or failed (or the buffer filled).
struct ActivationExchange {
  size_t kept;
  bool over;
};

// Only the activation runs this mode, so no other request's callback is served
// while it holds the simulator's main thread.
CFRunLoopMode ActivationRunLoopMode() {
  static const CFRunLoopMode mode = CFSTR("net.tralix.bridge.activation");
  return mode;
}

void KeepActivationBytes(CFReadStreamRef stream, ActivationExchange* exchange) {
  UInt8 chunk[1024];
  const CFIndex got = CFReadStreamRead(stream, chunk, sizeof(chunk));
  if (got <= 0) return;  // the end or the failure comes as its own event
  const size_t room = sizeof(responseBuffer) - exchange->kept;
  if (static_cast<size_t>(got) > room) {
    XPLMDebugString("Tralix - WARNING: Response truncated\n");
    std::memcpy(responseBuffer + exchange->kept, chunk, room);
    exchange->kept += room;
    exchange->over = true;
    return;
  }
  std::memcpy(responseBuffer + exchange->kept, chunk, static_cast<size_t>(got));
  exchange->kept += static_cast<size_t>(got);
}

void OnActivationEvent(CFReadStreamRef stream, CFStreamEventType eventType, void* info) {
  auto* exchange = static_cast<ActivationExchange*>(info);
  if (exchange->over) return;
  if (eventType == kCFStreamEventHasBytesAvailable) {
    KeepActivationBytes(stream, exchange);
  } else if (eventType == kCFStreamEventEndEncountered || eventType == kCFStreamEventErrorOccurred) {
    exchange->over = true;
  }
}

// Runs the activation's mode until its answer ended or failed; false when the
// exchange's time ran out first.
bool RunActivationExchange(const ActivationExchange& exchange) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration<double>(kActivationTotalSeconds);
  while (!exchange.over) {
    const double remaining =
        std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (remaining <= 0.0) return false;
    // Finished: the stream is no longer scheduled, nothing more can come.
    if (CFRunLoopRunInMode(ActivationRunLoopMode(), remaining, true) == kCFRunLoopRunFinished) return false;
  }
  return true;
}

}  // namespace

int IsUtf8Text(const char* bytes, size_t length) {
  size_t i = 0;
  while (i < length) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead == 0) return 0;
    size_t sequence = 1;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      sequence = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      sequence = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      sequence = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else if (lead >= 0x80) {
      return 0;
    }
    if (length - i < sequence) return 0;
    for (size_t k = 1; k < sequence; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
    }
    i += sequence;
  }
  return 1;
}

int IsFaithfulToken(const char* token) {
  const size_t length = std::strlen(token);
  if (length > 0 && (token[0] == ' ' || token[length - 1] == ' ')) return 0;
  return !std::strchr(token, '\\') && IsUtf8Text(token, length);
}

int ExtractActivationToken(const char* response, char* tokenOut, size_t tokenOutSize) {
  if (!response || !tokenOut || tokenOutSize == 0) return 0;
  tokenOut[0] = '\0';
  const char* member = std::strstr(response, "\"token\":");
  if (!member) {
    XPLMDebugString("Tralix - ERROR: No 'token' field found in response\n");
    return 0;
  }
  const char* value = member + std::strlen("\"token\":");
  while (*value == ' ' || *value == '\t' || *value == '\n' || *value == '\r') ++value;
  if (*value != '"') {
    XPLMDebugString("Tralix - ERROR: Token value not in quotes\n");
    return 0;
  }
  const char* tokenStart = value + 1;
  const char* tokenEnd = std::strchr(tokenStart, '"');
  if (!tokenEnd) {
    XPLMDebugString("Tralix - ERROR: Missing closing quote for token\n");
    return 0;
  }
  const size_t tokenLength = static_cast<size_t>(tokenEnd - tokenStart);
  if (tokenLength >= tokenOutSize) {
    XPLMDebugString("Tralix - ERROR: Token is too long for buffer\n");
    return 0;
  }
  if (tokenLength == 0) {
    XPLMDebugString("Tralix - ERROR: Empty token in response\n");
    return 0;
  }
  std::memcpy(tokenOut, tokenStart, tokenLength);
  tokenOut[tokenLength] = '\0';
  if (!IsHeaderSafe(tokenOut)) {
    tokenOut[0] = '\0';
    XPLMDebugString("Tralix - ERROR: Token holds control characters\n");
    return 0;
  }
  if (!IsFaithfulToken(tokenOut)) {
    tokenOut[0] = '\0';
    XPLMDebugString("Tralix - ERROR: Token holds a backslash, invalid UTF-8 or blanks at its ends\n");
    return 0;
  }
  XPLMDebugString("Tralix - Successfully extracted token\n");
  return 1;
}

namespace {

// Judges a finished exchange: stream status, HTTP status, body, token.
int JudgeActivation(CFReadStreamRef stream, size_t bodyBytes, bool timedOut, char* tokenOut,
                    size_t tokenOutSize) {
  if (timedOut) {
    XPLMDebugString("Tralix - ERROR: Activation took too long, giving up\n");
    return 0;
  }
  if (CFReadStreamGetStatus(stream) == kCFStreamStatusError) {
    const CFStreamError error = CFReadStreamGetError(stream);
    LogFormatted(kStatusLineSize, "Tralix - Stream error: domain %ld, code %d\n",
                 static_cast<long>(error.domain), static_cast<int>(error.error));
    return 0;
  }
  CFHTTPMessageRef response = CopyResponseHeader(stream);
  if (!response) {
    XPLMDebugString("Tralix - ERROR: No HTTP response headers\n");
    return 0;
  }
  const CFIndex status = CFHTTPMessageGetResponseStatusCode(response);
  CFRelease(response);
  if (status < 200 || status > 299) {
    XPLMDebugString("Tralix - API activation failed\n");
    return 0;
  }
  if (bodyBytes == 0) {
    XPLMDebugString("Tralix - ERROR: Empty response body\n");
    return 0;
  }
  return ExtractActivationToken(responseBuffer, tokenOut, tokenOutSize);
}

}  // namespace

int ActivateApiKey(const char* apiKey, char* tokenOut, size_t tokenOutSize) {
  if (!apiKey || !tokenOut || tokenOutSize == 0) {
    XPLMDebugString("Tralix - ERROR: Invalid parameters for ActivateApiKey\n");
    return 0;
  }
  XPLMDebugString("Tralix - Activating API key\n");
  tokenOut[0] = '\0';
  if (apiKey[0] == '\0') {
    XPLMDebugString("Tralix - CRITICAL ERROR: Empty API key provided to ActivateApiKey\n");
    return 0;
  }
  std::snprintf(apiKeySuffix, sizeof(apiKeySuffix), "/%s", apiKey);
  if (!BuildURL(fullActivateUrl, sizeof(fullActivateUrl), "/apiKey/activate", apiKeySuffix)) {
    XPLMDebugString("Tralix - ERROR: Failed to build activation URL. Buffer too small.\n");
    return 0;
  }

  ReleaseAndClear(&gActivation.url);
  ReleaseAndClear(&gActivation.urlString);
  gActivation.urlString = CreateUtf8String(fullActivateUrl);
  if (!gActivation.urlString) {
    XPLMDebugString("Tralix - ERROR: Failed to create CFString from activation URL\n");
    return 0;
  }
  gActivation.url = IsUrlSafeKey(apiKey) ? CFURLCreateWithString(nullptr, gActivation.urlString, nullptr) : nullptr;
  if (!gActivation.url) {
    XPLMDebugString("Tralix - ERROR: Failed to create CFURL - URL may be malformed\n");
    ReleaseAndClear(&gActivation.urlString);
    return 0;
  }
  ReleaseAndClear(&gActivation.request);
  gActivation.request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), gActivation.url, kCFHTTPVersion1_1);
  if (!gActivation.request) return FailActivationBeforeStream("Tralix - ERROR: Failed to create HTTP request\n");
  SetJsonContentType(gActivation.request);

  ReleaseAndClear(&gActivation.bodyData);
  gActivation.bodyData = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>("{}"), 2);
  if (!gActivation.bodyData) return FailActivationBeforeStream("Tralix - ERROR: Failed to create request body\n");
  CFHTTPMessageSetBody(gActivation.request, gActivation.bodyData);

  CFReadStreamRef stream = CreateRequestStream(gActivation.request);
  if (!stream) return FailActivationBeforeStream("Tralix - ERROR: Failed to create read stream\n");
  ReleaseAndClear(&gActivation.timeoutVal);
  double readTimeout = kActivationReadTimeoutSeconds;
  gActivation.timeoutVal = CFNumberCreate(nullptr, kCFNumberDoubleType, &readTimeout);
  if (gActivation.timeoutVal)
    CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), gActivation.timeoutVal);

  ActivationExchange exchange = {0, false};
  CFStreamClientContext context = {0, &exchange, nullptr, nullptr, nullptr};
  const bool clientSet = CFReadStreamSetClient(stream, kClientEvents, OnActivationEvent, &context);
  if (clientSet) CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), ActivationRunLoopMode());
  if (!clientSet || !CFReadStreamOpen(stream)) {
    TearDownStream(stream, ActivationRunLoopMode());
    return FailActivationBeforeStream("Tralix - ERROR: Failed to open stream\n");
  }
  const bool answered = RunActivationExchange(exchange);
  const size_t kept = exchange.kept;
  responseBuffer[kept < sizeof(responseBuffer) ? kept : sizeof(responseBuffer) - 1] = '\0';
  const int result = JudgeActivation(stream, kept, !answered, tokenOut, tokenOutSize);
  TearDownStream(stream, ActivationRunLoopMode());
  return result;
}

// ---- landing event upload ------------------------------------------------------
namespace {

char landingEventUrl[kUrlBufferSize];
char pointsBuffer[kPointsBufferSize];

// Local time with milliseconds and offset, e.g. 2025-03-14T09:26:53.589+0100, from
// one clock reading; empty when the clock cannot be converted.
void FormatLocalTimestamp(const timespec& now, char* out, size_t outSize) {
  out[0] = '\0';
  std::tm local;
  const std::time_t seconds = now.tv_sec;
  if (!LocalCalendarTime(&seconds, &local)) return;
  char offset[10] = "";
  const size_t length = std::strftime(out, outSize, "%Y-%m-%dT%H:%M:%S", &local);
  if (length == 0) {
    out[0] = '\0';
    return;
  }
  FormatUtcOffset(local, seconds, offset, sizeof(offset));
  const long milliseconds = (now.tv_nsec / 1000000) % 1000;
  std::snprintf(out + length, outSize - length, ".%03ld%s", milliseconds, offset);
}

// Bank in whole degrees; a value that is not a number is written as null.
void FormatWholeDegrees(char* out, size_t outSize, float degrees) {
  if (!std::isfinite(degrees)) {
    std::snprintf(out, outSize, "null");
    return;
  }
  std::snprintf(out, outSize, "%.0f", static_cast<double>(degrees));
}

// Appends at *position, advancing by what was really written.
void AppendText(char* buffer, size_t bufferSize, size_t* position, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void AppendText(char* buffer, size_t bufferSize, size_t* position, const char* format, ...) {
  if (*position >= bufferSize - 1) return;
  va_list args;
  va_start(args, format);
  const int wanted = std::vsnprintf(buffer + *position, bufferSize - *position, format, args);
  va_end(args);
  if (wanted < 0) return;
  const size_t room = bufferSize - *position - 1;
  *position += static_cast<size_t>(wanted) < room ? static_cast<size_t>(wanted) : room;
}

void BuildPointsArray(const LandingDataPoint* points, int count) {
  size_t position = 0;
  AppendText(pointsBuffer, sizeof(pointsBuffer), &position, "[");
  const int records = points ? (count < 10 ? count : 10) : 0;
  for (int i = 0; i < records; ++i) {
    char groundAltitude[kFloatTextSize];
    char gForce[kFloatTextSize];
    char verticalSpeed[kFloatTextSize];
    char rollDegree[kFloatTextSize];
    FormatFloatNoScientific(groundAltitude, sizeof(groundAltitude), points[i].groundAltitude, 6);
    FormatFloatNoScientific(gForce, sizeof(gForce), points[i].gForce, 6);
    FormatFloatNoScientific(verticalSpeed, sizeof(verticalSpeed), points[i].verticalSpeed, 6);
    FormatWholeDegrees(rollDegree, sizeof(rollDegree), points[i].rollDegree);
    AppendText(pointsBuffer, sizeof(pointsBuffer), &position,
               "%s{\"groundAltitude\":%s,\"gForce\":%s,\"verticalSpeed\":%s,\"rollDegree\":%s}",
               i > 0 ? "," : "", groundAltitude, gForce, verticalSpeed, rollDegree);
  }
  AppendText(pointsBuffer, sizeof(pointsBuffer), &position, "]");
}

const PostLines kLandingLines = {
    "Tralix - ERROR: Failed to create CFString from Landing Event URL.\n",
    "Tralix - ERROR: Failed to create CFURLRef from Landing Event URL string.\n",
    "Tralix - ERROR: Failed to create HTTP request for landing event.\n",
    "Tralix - Failed to create DataKeyToken header string for landing event\n",
    "Tralix - ERROR: Failed to create CFData for landing event request body\n",
    "Tralix - ERROR: Failed to create read stream for landing event HTTP request\n",
    "Tralix - Failed to set client callback for landing event\n",
    "Tralix - Failed to open network connection for landing event\n",
};

}  // namespace

int SendLandingEvent(float verticalSpeed, float altitude, const LandingDataPoint* points, int count) {
  if (gDataKeyToken[0] == '\0') {
    XPLMDebugString("Tralix - ERROR: DATA_KEY_TOKEN is not set. Cannot send landing event.\n");
    return 0;
  }
  if (!BuildURL(landingEventUrl, sizeof(landingEventUrl), "/data/client/event", nullptr)) {
    XPLMDebugString("Tralix - ERROR: Failed to build landing event URL. Buffer too small.\n");
    return 0;
  }
  if (!PrepareMessage(&gLandingRequest, landingEventUrl, kLandingLines)) return 0;

  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char simTimeStamp[50];
  char clientTimeStamp[50];
  FormatLocalTimestamp(now, simTimeStamp, sizeof(simTimeStamp));
  FormatLocalTimestamp(now, clientTimeStamp, sizeof(clientTimeStamp));
  BuildPointsArray(points, count);

  char verticalSpeedText[kFloatTextSize];
  char altitudeText[kFloatTextSize];
  FormatFloatNoScientific(verticalSpeedText, sizeof(verticalSpeedText), verticalSpeed, 1);
  FormatFloatNoScientific(altitudeText, sizeof(altitudeText), altitude, 1);
  const int bodyLength = std::snprintf(
      gJsonBuffer, sizeof(gJsonBuffer),
      "{\"event\":\"LandingRate\",\"data\":{\"verticalSpeed\":\"%s\",\"altitude\":\"%s\","
      "\"simTimeStamp\":\"%s\",\"clientTimeStamp\":\"%s\",\"points\":%s}}",
      verticalSpeedText, altitudeText, simTimeStamp, clientTimeStamp, pointsBuffer);
  if (bodyLength < 0 || static_cast<size_t>(bodyLength) >= sizeof(gJsonBuffer) - 1) {
    XPLMDebugString("Tralix - ERROR: Landing event JSON payload too large for its buffer, not sent\n");
    ReleaseAll(&gLandingRequest);
    return 0;
  }
  if (StartPost(&gLandingRequest, bodyLength, kLandingTimeoutSeconds, kLandingLines) != PostStart::kStarted)
    return 0;
  XPLMDebugString("Tralix - Landing event sent successfully\n");
  return 1;
}

// Unloading must leave no stream whose callback points into unloaded code, and
// no request object behind.
void ShutdownNetwork() {
  for (CFReadStreamRef& stream : gOpenStreams) {
    if (!stream) continue;
    TearDownStream(stream, RequestRunLoopMode());
    stream = nullptr;
  }
  gOpenStreamCount = 0;
  ReleaseAll(&gBroadcastRequest);
  ReleaseAll(&gLandingRequest);
  ReleaseActivation();
}
