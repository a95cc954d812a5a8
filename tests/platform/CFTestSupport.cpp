// The only place the stand-in's tests use the HTTP stream calls that Apple
// marks deprecated; the tests go through these helpers.
#include "CFTestSupport.h"

#include "CFStandInTesting.h"

#include <thread>

// Testing the stand-in means calling the deprecated HTTP stream API it provides.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace cftest {
namespace {

CFStringRef Text(const std::string &text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8);
}

void TearDown(CFReadStreamRef stream) {
  CFReadStreamSetClient(stream, kCFStreamEventNone, nullptr, nullptr);
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFReadStreamClose(stream);
  CFRelease(stream);
}

long StatusOf(CFReadStreamRef stream) {
  auto response = (CFHTTPMessageRef)CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader);
  if (response == nullptr) return -1;
  long status = CFHTTPMessageGetResponseStatusCode(response);
  CFRelease(response);
  return status;
}

void OnEvent(CFReadStreamRef stream, CFStreamEventType type, void *info) {
  auto &outcome = *static_cast<Outcome *>(info);
  outcome.events.push_back(type);
  if (type == kCFStreamEventHasBytesAvailable) {
    UInt8 buffer[1024];
    CFIndex count = CFReadStreamRead(stream, buffer, sizeof buffer);
    if (count > 0) outcome.body.append(reinterpret_cast<char *>(buffer), static_cast<size_t>(count));
    return;
  }
  outcome.status = StatusOf(stream);
  outcome.error = CFReadStreamGetError(stream);
  outcome.finished = true;
  TearDown(stream);
}

}  // namespace

CFReadStreamRef MakeStream(const RequestSetup &setup) {
  CFStringRef urlText = Text(setup.url);
  CFURLRef url = CFURLCreateWithString(kCFAllocatorDefault, urlText, nullptr);
  CFRelease(urlText);
  if (url == nullptr) return nullptr;
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(kCFAllocatorDefault, CFSTR("POST"), url, kCFHTTPVersion1_1);
  CFRelease(url);
  for (const auto &header : setup.headers) {
    CFStringRef name = Text(header.first);
    CFStringRef value = Text(header.second);
    CFHTTPMessageSetHeaderFieldValue(request, name, value);
    CFRelease(name);
    CFRelease(value);
  }
  CFDataRef body = CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(setup.body.data()),
                                static_cast<CFIndex>(setup.body.size()));
  CFHTTPMessageSetBody(request, body);
  CFRelease(body);
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(kCFAllocatorDefault, request);
  CFRelease(request);
  if (stream == nullptr) return nullptr;
  if (setup.autoRedirect) CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanTrue);
  CFNumberRef timeout = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &setup.readTimeoutSeconds);
  CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), timeout);
  CFRelease(timeout);
  return stream;
}

bool StartScheduled(const RequestSetup &setup, Outcome &outcome) {
  CFReadStreamRef stream = MakeStream(setup);
  if (stream == nullptr) return false;
  CFStreamClientContext context = {0, &outcome, nullptr, nullptr, nullptr};
  CFOptionFlags mask = kCFStreamEventHasBytesAvailable | kCFStreamEventErrorOccurred | kCFStreamEventEndEncountered;
  CFReadStreamSetClient(stream, mask, OnEvent, &context);
  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  if (CFReadStreamOpen(stream)) return true;
  TearDown(stream);
  return false;
}

void PumpUntilFinished(Outcome &outcome, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!outcome.finished && std::chrono::steady_clock::now() < deadline) {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

Outcome RunScheduled(const RequestSetup &setup, std::chrono::milliseconds limit) {
  Outcome outcome;
  if (StartScheduled(setup, outcome)) PumpUntilFinished(outcome, limit);
  return outcome;
}

Outcome RunSynchronous(const RequestSetup &setup, std::chrono::milliseconds readAfter) {
  Outcome result;
  CFReadStreamRef stream = MakeStream(setup);
  if (stream == nullptr) return result;
  CFIndex count = CFReadStreamOpen(stream) ? 1 : -1;
  std::this_thread::sleep_for(readAfter);
  UInt8 buffer[1024];
  while (count > 0 && (count = CFReadStreamRead(stream, buffer, sizeof buffer)) > 0) {
    result.body.append(reinterpret_cast<char *>(buffer), static_cast<size_t>(count));
  }
  result.events.push_back(count == 0 ? kCFStreamEventEndEncountered : kCFStreamEventErrorOccurred);
  result.error = CFReadStreamGetError(stream);
  CFReadStreamClose(stream);
  CFRelease(stream);
  return result;
}

std::string LiveObjects() {
  char text[256];
  CFStandInDescribeLiveObjects(text, sizeof text);
  return text;
}

}  // namespace cftest
