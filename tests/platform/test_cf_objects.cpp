// The stand-in's objects without the network: strings, URLs, messages,
// numbers, reference counts, fault injection and run loops with nothing to do.
#include "CFStandInTesting.h"
#include "CFTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using cftest::LiveObjects;
using cftest::StringOf;

class CFObjects : public ::testing::Test {
 protected:
  void TearDown() override {
    CFStandInClearFailures();
    EXPECT_EQ(CFStandInLiveObjectCount(), 0) << LiveObjects();
  }
};

CFStringRef Utf8(const char *text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
}

TEST_F(CFObjects, StringsAreMadeOnlyFromBytesValidInTheirEncoding) {
  struct Case {
    const char *bytes;
    CFStringEncoding encoding;
    bool valid;
    CFIndex utf16Length;
  };
  const Case cases[] = {
      {"", kCFStringEncodingUTF8, true, 0},
      {"https://api.tralix.net/api/v1", kCFStringEncodingUTF8, true, 29},
      {"Z\xC3\xBCrich \xE2\x9C\x88 \xF0\x9D\x84\x9E", kCFStringEncodingUTF8, true, 11},  // U+1D11E takes two units
      {"\xC3\x28", kCFStringEncodingUTF8, false, 0},          // bad continuation
      {"\xC0\xAF", kCFStringEncodingUTF8, false, 0},          // overlong '/'
      {"\xE0\x80\xAF", kCFStringEncodingUTF8, false, 0},      // overlong, three bytes
      {"\xED\xA0\x80", kCFStringEncodingUTF8, false, 0},      // UTF-16 surrogate
      {"\xF4\x90\x80\x80", kCFStringEncodingUTF8, false, 0},  // above U+10FFFF
      {"abc\xE2\x82", kCFStringEncodingUTF8, false, 0},       // cut short
      {"\xFF", kCFStringEncodingUTF8, false, 0},
      {"plain", kCFStringEncodingASCII, true, 5},
      {"caf\xC3\xA9", kCFStringEncodingASCII, false, 0},
      {"caf\xE9", kCFStringEncodingISOLatin1, true, 4},
      {"text", kCFStringEncodingMacRoman, false, 0},  // not supported
  };
  for (const Case &test : cases) {
    CFStringRef string = CFStringCreateWithCString(kCFAllocatorDefault, test.bytes, test.encoding);
    EXPECT_EQ(string != nullptr, test.valid) << test.bytes;
    if (string == nullptr) continue;
    EXPECT_EQ(CFStringGetLength(string), test.utf16Length) << test.bytes;
    CFRelease(string);
  }
  EXPECT_EQ(CFStringCreateWithCString(kCFAllocatorDefault, nullptr, kCFStringEncodingUTF8), nullptr);

  CFStringRef latin = CFStringCreateWithCString(kCFAllocatorDefault, "caf\xE9", kCFStringEncodingISOLatin1);
  EXPECT_EQ(StringOf(latin), "caf\xC3\xA9");
  char buffer[8];
  EXPECT_TRUE(CFStringGetCString(latin, buffer, sizeof buffer, kCFStringEncodingISOLatin1));
  EXPECT_STREQ(buffer, "caf\xE9");
  EXPECT_FALSE(CFStringGetCString(latin, buffer, sizeof buffer, kCFStringEncodingASCII));
  EXPECT_FALSE(CFStringGetCString(latin, buffer, 5, kCFStringEncodingUTF8));  // no room for the NUL
  CFRelease(latin);
}

TEST_F(CFObjects, ConstantStringsArePermanentAndShared) {
  CFStringRef first = CFSTR("datakeytoken");
  EXPECT_EQ(first, CFSTR("datakeytoken"));
  CFRelease(first);
  CFRelease(first);
  EXPECT_EQ(StringOf(first), "datakeytoken");
  EXPECT_EQ(CFStandInLiveObjectCount(), 0);

  CFStringRef made = Utf8("datakeytoken");
  EXPECT_NE(made, first);
  EXPECT_TRUE(CFEqual(made, first));
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFString"), 1);
  CFRelease(made);
  EXPECT_EQ(StringOf(kCFHTTPVersion1_1), "HTTP/1.1");
}

TEST_F(CFObjects, UrlsMustBeAbsoluteAndUseOnlyUrlCharacters) {
  struct Case {
    const char *text;
    bool valid;
  };
  const Case cases[] = {
      {"https://api.tralix.net/api/v1/apiKey/activate/ABC-123_x.y~z", true},
      {"https://api.tralix.net/api/v1/data/client/broadcast", true},
      {"https://127.0.0.1:8443/path?query=1&b=%41#frag", true},
      {"https://[::1]:443/", true},
      {"mailto:someone@example.com", true},
      {"https://api.tralix.net/api/v1/apiKey/activate/my key", false},
      {"https://api.tralix.net/a\tb", false},
      {"https://api.tralix.net/\"quoted\"", false},
      {"https://api.tralix.net/<x>", false},
      {"https://api.tralix.net/%zz", false},
      {"https://api.tralix.net/%4", false},
      {"https://api.tralix.net/a#b#c", false},
      {"https://api.tralix.net/caf\xC3\xA9", false},
      {"/api/v1/data/client/event", false},
      {"api.tralix.net/api/v1", false},
      {"1http://x/", false},
      {"", false},
  };
  for (const Case &test : cases) {
    CFStringRef text = Utf8(test.text);
    ASSERT_NE(text, nullptr) << test.text;
    CFURLRef url = CFURLCreateWithString(kCFAllocatorDefault, text, nullptr);
    EXPECT_EQ(url != nullptr, test.valid) << test.text;
    CFRelease(text);
    if (url == nullptr) continue;
    EXPECT_EQ(StringOf(CFURLGetString(url)), test.text);
    CFRelease(url);
  }
  EXPECT_EQ(CFURLCreateWithString(kCFAllocatorDefault, nullptr, nullptr), nullptr);
}

TEST_F(CFObjects, RequestMessagesKeepTheirOwnCopiesAndRefuseLineBreaksInHeaders) {
  CFURLRef url = CFURLCreateWithString(nullptr, CFSTR("https://api.tralix.net/api/v1/data/client/event"), nullptr);
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), url, kCFHTTPVersion1_1);
  ASSERT_NE(request, nullptr);
  CFRelease(url);  // the message keeps what it needs

  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("Content-Type"), CFSTR("text/plain"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("content-type"), CFSTR("application/json"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("datakeytoken"), CFSTR("token-1"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("datakeytoken"), CFSTR("evil\r\nX-Injected: 1"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("X-Other"), CFSTR("line\nbreak"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("Bad Name"), CFSTR("value"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("X-Removed"), CFSTR("soon gone"));
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("X-Removed"), nullptr);

  struct Expectation {
    CFStringRef name;
    const char *value;  // nullptr: absent
  };
  const Expectation expectations[] = {
      {CFSTR("CONTENT-TYPE"), "application/json"}, {CFSTR("datakeytoken"), "token-1"},
      {CFSTR("X-Other"), nullptr}, {CFSTR("X-Injected"), nullptr}, {CFSTR("X-Removed"), nullptr}};
  for (const Expectation &expected : expectations) {
    CFStringRef value = CFHTTPMessageCopyHeaderFieldValue(request, expected.name);
    if (expected.value == nullptr) {
      EXPECT_EQ(value, nullptr) << StringOf(expected.name);
    } else {
      EXPECT_EQ(StringOf(value), expected.value);
    }
    if (value != nullptr) CFRelease(value);
  }

  const UInt8 bodyBytes[] = {'{', '}', 0, 0xFF};
  CFDataRef body = CFDataCreate(nullptr, bodyBytes, sizeof bodyBytes);
  CFHTTPMessageSetBody(request, body);
  CFRelease(body);
  CFDataRef copied = CFHTTPMessageCopyBody(request);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(copied)), CFDataGetLength(copied)),
            std::string(reinterpret_cast<const char *>(bodyBytes), sizeof bodyBytes));
  CFRelease(copied);
  EXPECT_TRUE(CFHTTPMessageIsRequest(request));
  EXPECT_EQ(CFHTTPMessageGetResponseStatusCode(request), 0);
  CFRelease(request);
}

TEST_F(CFObjects, RequestsNeedATokenMethodAnHttpUrlAndAKnownVersion) {
  struct Case {
    CFStringRef method;
    const char *url;
    CFStringRef version;
    bool valid;
  };
  const Case cases[] = {
      {CFSTR("POST"), "https://api.tralix.net/api/v1", kCFHTTPVersion1_1, true},
      {CFSTR("GET"), "http://127.0.0.1:8080/", kCFHTTPVersion1_0, true},
      {CFSTR("PO ST"), "https://api.tralix.net/", kCFHTTPVersion1_1, false},
      {CFSTR(""), "https://api.tralix.net/", kCFHTTPVersion1_1, false},
      {CFSTR("POST"), "ftp://api.tralix.net/", kCFHTTPVersion1_1, false},
      {CFSTR("POST"), "https:///no-host", kCFHTTPVersion1_1, false},
      {CFSTR("POST"), "mailto:someone@example.com", kCFHTTPVersion1_1, false},
      {CFSTR("POST"), "https://api.tralix.net/", CFSTR("HTTP/2"), false},
  };
  for (const Case &test : cases) {
    CFStringRef text = Utf8(test.url);
    CFURLRef url = CFURLCreateWithString(nullptr, text, nullptr);
    CFRelease(text);
    ASSERT_NE(url, nullptr) << test.url;
    CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, test.method, url, test.version);
    EXPECT_EQ(request != nullptr, test.valid) << test.url;
    if (request != nullptr) CFRelease(request);
    CFRelease(url);
  }
}

TEST_F(CFObjects, NumbersConvertOnlyWhenExact) {
  double seconds = 5.0;
  CFNumberRef timeout = CFNumberCreate(nullptr, kCFNumberDoubleType, &seconds);
  double backAsDouble = 0;
  int backAsInt = 0;
  EXPECT_TRUE(CFNumberGetValue(timeout, kCFNumberDoubleType, &backAsDouble));
  EXPECT_EQ(backAsDouble, 5.0);
  EXPECT_TRUE(CFNumberGetValue(timeout, kCFNumberIntType, &backAsInt));
  EXPECT_EQ(backAsInt, 5);
  CFRelease(timeout);

  double fraction = 2.5;
  CFNumberRef half = CFNumberCreate(nullptr, kCFNumberDoubleType, &fraction);
  EXPECT_FALSE(CFNumberGetValue(half, kCFNumberIntType, &backAsInt));
  CFRelease(half);

  long big = 1L << 40;
  CFNumberRef large = CFNumberCreate(nullptr, kCFNumberLongType, &big);
  EXPECT_FALSE(CFNumberGetValue(large, kCFNumberSInt32Type, &backAsInt));
  CFRelease(large);
  EXPECT_EQ(CFNumberCreate(nullptr, kCFNumberDoubleType, nullptr), nullptr);
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
}

// The stand-in's HTTP stream API is deprecated on macOS; this test checks it as such.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST_F(CFObjects, ReferenceCountsDecideWhenObjectsAreFreed) {
  CFStringRef text = Utf8("kept");
  EXPECT_EQ(CFRetain(text), text);
  EXPECT_EQ(CFGetRetainCount(text), 2);
  CFRelease(text);
  EXPECT_EQ(CFStandInLiveObjectCount(), 1);
  CFRelease(text);
  EXPECT_EQ(CFStandInLiveObjectCount(), 0);

  // A URL holds its string; the stream holds a copy of its request.
  CFStringRef urlText = Utf8("https://api.tralix.net/api/v1/data/client/broadcast");
  CFURLRef url = CFURLCreateWithString(nullptr, urlText, nullptr);
  CFRelease(urlText);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFString"), 1);
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), url, kCFHTTPVersion1_1);
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  CFRelease(request);
  CFRelease(url);
  EXPECT_EQ(CFStandInLiveObjectCount(), 1) << LiveObjects();
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStream"), 1);
  CFRelease(stream);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("NoSuchKind"), -1);
}
#pragma GCC diagnostic pop

TEST_F(CFObjects, InjectedFaultsFailExactlyTheRequestedCalls) {
  const char *failable[] = {"CFStringCreateWithCString", "CFURLCreateWithString", "CFHTTPMessageCreateRequest",
                            "CFDataCreate", "CFNumberCreate", "CFReadStreamCreateForHTTPRequest",
                            "CFReadStreamSetProperty", "CFReadStreamSetClient", "CFReadStreamOpen",
                            "CFReadStreamCopyProperty"};
  for (const char *operation : failable) EXPECT_EQ(CFStandInFailNextCalls(operation, 1), 1) << operation;
  CFStandInClearFailures();
  EXPECT_EQ(CFStandInFailNextCalls("CFRelease", 1), 0);
  EXPECT_EQ(CFStandInFailNextCalls("CFDataCreat", 1), 0);

  ASSERT_EQ(CFStandInFailNextCalls("CFDataCreate", 2), 1);
  EXPECT_EQ(CFStandInPendingFailures("CFDataCreate"), 2);
  const UInt8 byte = 'x';
  EXPECT_EQ(CFDataCreate(nullptr, &byte, 1), nullptr);
  EXPECT_EQ(CFDataCreate(nullptr, &byte, 1), nullptr);
  CFDataRef third = CFDataCreate(nullptr, &byte, 1);
  EXPECT_NE(third, nullptr);
  CFRelease(third);

  CFReadStreamRef stream = cftest::MakeStream({"https://api.tralix.net/api/v1/data/client/event"});
  ASSERT_NE(stream, nullptr);
  CFStandInFailNextCalls("CFReadStreamSetClient", 1);
  CFStandInFailNextCalls("CFReadStreamOpen", 1);
  CFStreamClientContext context = {0, nullptr, nullptr, nullptr, nullptr};
  EXPECT_FALSE(CFReadStreamSetClient(stream, 26, [](CFReadStreamRef, CFStreamEventType, void *) {}, &context));
  EXPECT_FALSE(CFReadStreamOpen(stream));
  EXPECT_EQ(CFReadStreamGetStatus(stream), kCFStreamStatusNotOpen);
  EXPECT_EQ(CFStandInRequestsStarted(), 0);
  CFRelease(stream);
}

// The stand-in's HTTP stream API is deprecated on macOS; this test checks it as such.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST_F(CFObjects, StreamPropertiesTakeOnlyTheirOwnValueTypes) {
  CFReadStreamRef stream = cftest::MakeStream({"https://api.tralix.net/api/v1/data/client/event", {}, "{}", 0, false});
  ASSERT_NE(stream, nullptr);
  double seconds = 5.0, negative = -1.0;
  CFNumberRef timeout = CFNumberCreate(nullptr, kCFNumberDoubleType, &seconds);
  CFNumberRef badTimeout = CFNumberCreate(nullptr, kCFNumberDoubleType, &negative);
  CFStringRef timeoutName = CFStringCreateWithCString(nullptr, "_kCFStreamPropertyReadTimeout", kCFStringEncodingUTF8);

  EXPECT_TRUE(CFReadStreamSetProperty(stream, timeoutName, timeout));
  EXPECT_FALSE(CFReadStreamSetProperty(stream, timeoutName, badTimeout));
  EXPECT_FALSE(CFReadStreamSetProperty(stream, timeoutName, kCFBooleanTrue));
  EXPECT_FALSE(CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, timeout));
  EXPECT_TRUE(CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanTrue));
  EXPECT_FALSE(CFReadStreamSetProperty(stream, CFSTR("kCFStreamPropertyUnknown"), kCFBooleanTrue));

  EXPECT_EQ(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect), kCFBooleanTrue);
  auto copiedTimeout = (CFNumberRef)CFReadStreamCopyProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"));
  ASSERT_NE(copiedTimeout, nullptr);
  EXPECT_TRUE(CFEqual(copiedTimeout, timeout));
  CFRelease(copiedTimeout);
  EXPECT_EQ(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader), nullptr);

  CFRelease(timeoutName);
  CFRelease(badTimeout);
  CFRelease(timeout);
  CFRelease(stream);
}
#pragma GCC diagnostic pop

TEST_F(CFObjects, UnopenedStreamsReadNothingAndRunLoopsFinishWithoutStreams) {
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunFinished);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, false), kCFRunLoopRunFinished);

  CFReadStreamRef stream = cftest::MakeStream({"https://api.tralix.net/api/v1/data/client/event"});
  UInt8 buffer[16];
  EXPECT_EQ(CFReadStreamRead(stream, buffer, sizeof buffer), -1);
  EXPECT_EQ(CFReadStreamGetStatus(stream), kCFStreamStatusNotOpen);
  EXPECT_FALSE(CFReadStreamHasBytesAvailable(stream));
  CFStreamError none = CFReadStreamGetError(stream);
  EXPECT_EQ(none.domain, 0);
  EXPECT_EQ(none.error, 0);

  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopCommonModes);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunTimedOut);
  EXPECT_EQ(CFRunLoopRunInMode(CFSTR("OtherMode"), 0, true), kCFRunLoopRunFinished);
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopCommonModes);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunFinished);

  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFRelease(stream);  // freeing a scheduled stream takes it off the run loop
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunFinished);
}

TEST_F(CFObjects, EachThreadHasItsOwnRunLoopAndTheMainOneIsShared) {
  CFRunLoopRef mainLoop = CFRunLoopGetMain();
  EXPECT_EQ(CFRunLoopGetCurrent(), mainLoop);
  CFRunLoopRef otherLoop = nullptr;
  CFRunLoopRef mainSeenFromOther = nullptr;
  std::thread([&] {
    otherLoop = CFRunLoopGetCurrent();
    mainSeenFromOther = CFRunLoopGetMain();
  }).join();
  EXPECT_NE(otherLoop, mainLoop);
  EXPECT_EQ(mainSeenFromOther, mainLoop);
}

TEST_F(CFObjects, RunLoopStopEndsAWaitingRun) {
  CFReadStreamRef stream = cftest::MakeStream({"https://api.tralix.net/api/v1/data/client/event"});
  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  std::thread stopper([loop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CFRunLoopStop(loop);
  });
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  stopper.join();
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFRelease(stream);
}

using CFObjectsDeathTest = CFObjects;

TEST_F(CFObjectsDeathTest, ReleasingNullOrPassingTheWrongTypeAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(CFRelease(nullptr), "CFRelease called with NULL");
  EXPECT_DEATH(CFHTTPMessageGetResponseStatusCode(reinterpret_cast<CFHTTPMessageRef>(
                   const_cast<__CFString *>(CFSTR("not a message")))),
               "wrong type");
}

}  // namespace
