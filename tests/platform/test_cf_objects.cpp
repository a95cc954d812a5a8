// The stand-in's objects without the network: the Apple behaviour the plug-in
// relies on, and the live-object counts and fault injection its leak tests use.
#include "CFStandInTesting.h"
#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <string>

// The stream kind is made through the deprecated HTTP stream API the stand-in provides.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

std::string LiveObjects() {
  char text[256];
  CFStandInDescribeLiveObjects(text, sizeof text);
  return text;
}

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

TEST_F(CFObjects, StringsAreMadeOnlyFromValidUtf8) {
  struct Case {
    const char *bytes;
    CFIndex utf16Length;  // -1: refused
  };
  const Case cases[] = {
      {"", 0},
      {"Z\xC3\xBCrich \xE2\x9C\x88 \xF0\x9D\x84\x9E", 11},  // U+1D11E takes two units
      {"\xC3\x28", -1},                                    // bad continuation
      {"\xC0\xAF", -1},                                    // overlong '/'
      {"\xED\xA0\x80", -1},                                // UTF-16 surrogate
      {"\xF4\x90\x80\x80", -1},                            // above U+10FFFF
      {"abc\xE2\x82", -1},                                 // cut short
      {"\xFF", -1},
  };
  for (const Case &test : cases) {
    CFStringRef string = Utf8(test.bytes);
    EXPECT_EQ(string != nullptr ? CFStringGetLength(string) : -1, test.utf16Length) << test.bytes;
    if (string != nullptr) CFRelease(string);
  }
}

TEST_F(CFObjects, UrlsMustBeAbsoluteAndUseOnlyUrlCharacters) {
  struct Case {
    const char *text;
    bool valid;
  };
  const Case cases[] = {
      {"https://api.tralix.net/api/v1/apiKey/activate/ABC-123_x.y~z", true},
      {"https://127.0.0.1:8443/path?query=1&b=%41#frag", true},
      {"https://api.tralix.net/api/v1/apiKey/activate/my key", false},
      {"https://api.tralix.net/\"quoted\"", false},
      {"https://api.tralix.net/%zz", false},
      {"https://api.tralix.net/caf\xC3\xA9", false},
      {"/api/v1/data/client/event", false},
      {"", false},
  };
  for (const Case &test : cases) {
    CFStringRef text = Utf8(test.text);
    CFURLRef url = CFURLCreateWithString(kCFAllocatorDefault, text, nullptr);
    EXPECT_EQ(url != nullptr, test.valid) << test.text;
    CFRelease(text);
    if (url != nullptr) CFRelease(url);
  }
}

// The plug-in's leak and failure tests read these; a kind left uncounted or a
// misspelt name read as "none alive" or "armed" would let them pass unseen.
TEST_F(CFObjects, LiveCountsCoverEveryKindAndInjectedFaultsFailExactlyTheCallsAsked) {
  const UInt8 byte = 'x';
  double seconds = 5.0;
  CFStringRef text = Utf8("https://api.tralix.net/api/v1/data/client/event");
  CFURLRef url = CFURLCreateWithString(nullptr, text, nullptr);
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), url, kCFHTTPVersion1_1);
  CFTypeRef objects[] = {text,
                         url,
                         request,
                         CFDataCreate(nullptr, &byte, 1),
                         CFNumberCreate(nullptr, kCFNumberDoubleType, &seconds),
                         CFReadStreamCreateForHTTPRequest(nullptr, request)};
  for (const char *kind : {"CFString", "CFURL", "CFHTTPMessage", "CFData", "CFNumber", "CFReadStream"}) {
    EXPECT_EQ(CFStandInLiveObjectCountOfKind(kind), 1) << kind << ": " << LiveObjects();
  }
  EXPECT_EQ(CFStandInLiveObjectCount(), 6);
  EXPECT_EQ(CFStandInLiveObjectCountOfKind("CFReadStreams"), -1);
  for (CFTypeRef object : objects) CFRelease(object);

  EXPECT_EQ(CFStandInFailNextCalls("CFDataCreat", 1), 0);
  ASSERT_EQ(CFStandInFailNextCalls("CFDataCreate", 2), 1);
  EXPECT_EQ(CFDataCreate(nullptr, &byte, 1), nullptr);
  EXPECT_EQ(CFDataCreate(nullptr, &byte, 1), nullptr);
  CFDataRef third = CFDataCreate(nullptr, &byte, 1);
  EXPECT_NE(third, nullptr);
  CFRelease(third);
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
