#include "CFTestSupport.h"

#include "CFStandInTesting.h"

#include <map>

namespace cftest {
namespace {

thread_local bool tInsideRunLoop = false;
std::thread::id gPumpThread;

CFStringRef Text(const std::string &text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8);
}

void TearDown(CFReadStreamRef stream) {
  CFReadStreamSetClient(stream, kCFStreamEventNone, nullptr, nullptr);
  CFReadStreamUnscheduleFromRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  CFReadStreamClose(stream);
  CFRelease(stream);
}

// The stand-in's own HTTP stream API, deprecated on macOS, is what these tests drive.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

long StatusOf(CFReadStreamRef stream) {
  auto response = (CFHTTPMessageRef)CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader);
  if (response == nullptr) return -1;
  long status = CFHTTPMessageGetResponseStatusCode(response);
  CFRelease(response);
  return status;
}

#pragma GCC diagnostic pop

void OnEvent(CFReadStreamRef stream, CFStreamEventType type, void *info) {
  auto &outcome = *static_cast<Outcome *>(info);
  outcome.events.push_back(type);
  if (!tInsideRunLoop) outcome.deliveredOutsideRunLoop = true;
  if (std::this_thread::get_id() != gPumpThread) outcome.deliveredOnOtherThread = true;
  if (type == kCFStreamEventHasBytesAvailable) {
    UInt8 buffer[1024];
    CFIndex count = CFReadStreamRead(stream, buffer, sizeof buffer);
    if (count > 0) outcome.body.append(reinterpret_cast<char *>(buffer), static_cast<size_t>(count));
    return;
  }
  if (type == kCFStreamEventEndEncountered) outcome.status = StatusOf(stream);
  if (type == kCFStreamEventErrorOccurred) outcome.error = CFReadStreamGetError(stream);
  if (type == kCFStreamEventEndEncountered || type == kCFStreamEventErrorOccurred) {
    outcome.finished = true;
    TearDown(stream);
  }
}

}  // namespace

CFHTTPMessageRef MakeRequest(const RequestSpec &wanted) {
  CFStringRef urlText = Text(wanted.url);
  if (urlText == nullptr) return nullptr;
  CFURLRef url = CFURLCreateWithString(kCFAllocatorDefault, urlText, nullptr);
  CFRelease(urlText);
  if (url == nullptr) return nullptr;
  CFStringRef method = Text(wanted.method);
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(kCFAllocatorDefault, method, url, kCFHTTPVersion1_1);
  CFRelease(method);
  CFRelease(url);
  if (request == nullptr) return nullptr;
  for (const auto &header : wanted.headers) {
    CFStringRef name = Text(header.first);
    CFStringRef value = Text(header.second);
    if (name != nullptr && value != nullptr) CFHTTPMessageSetHeaderFieldValue(request, name, value);
    if (name != nullptr) CFRelease(name);
    if (value != nullptr) CFRelease(value);
  }
  CFDataRef body = CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(wanted.body.data()),
                                static_cast<CFIndex>(wanted.body.size()));
  CFHTTPMessageSetBody(request, body);
  CFRelease(body);
  return request;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

CFReadStreamRef MakeStream(const RequestSpec &wanted) {
  CFHTTPMessageRef request = MakeRequest(wanted);
  if (request == nullptr) return nullptr;
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(kCFAllocatorDefault, request);
  CFRelease(request);
  if (stream == nullptr) return nullptr;
  if (wanted.autoRedirect) CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanTrue);
  if (wanted.readTimeoutSeconds > 0) {
    CFNumberRef timeout = CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &wanted.readTimeoutSeconds);
    CFReadStreamSetProperty(stream, CFSTR("_kCFStreamPropertyReadTimeout"), timeout);
    CFRelease(timeout);
  }
  return stream;
}

#pragma GCC diagnostic pop

bool StartScheduled(const RequestSpec &wanted, Outcome &outcome) {
  CFReadStreamRef stream = MakeStream(wanted);
  if (stream == nullptr) return false;
  CFStreamClientContext context = {0, &outcome, nullptr, nullptr, nullptr};
  CFOptionFlags mask = kCFStreamEventHasBytesAvailable | kCFStreamEventErrorOccurred | kCFStreamEventEndEncountered;
  if (!CFReadStreamSetClient(stream, mask, OnEvent, &context)) {
    CFRelease(stream);
    return false;
  }
  CFReadStreamScheduleWithRunLoop(stream, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  if (!CFReadStreamOpen(stream)) {
    TearDown(stream);
    return false;
  }
  return true;
}

int PumpUntilFinished(Outcome &outcome, std::chrono::milliseconds limit) {
  gPumpThread = std::this_thread::get_id();
  auto deadline = std::chrono::steady_clock::now() + limit;
  int passes = 0;
  while (!outcome.finished && std::chrono::steady_clock::now() < deadline) {
    tInsideRunLoop = true;
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true);
    tInsideRunLoop = false;
    ++passes;
    if (!outcome.finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return passes;
}

Outcome RunScheduled(const RequestSpec &wanted, std::chrono::milliseconds limit) {
  Outcome outcome;
  if (StartScheduled(wanted, outcome)) PumpUntilFinished(outcome, limit);
  return outcome;
}

SyncResult RunSynchronous(const RequestSpec &wanted) {
  SyncResult result;
  CFReadStreamRef stream = MakeStream(wanted);
  if (stream == nullptr) return result;
  result.opened = CFReadStreamOpen(stream);
  if (result.opened) {
    UInt8 buffer[1024];
    for (;;) {
      result.lastRead = CFReadStreamRead(stream, buffer, sizeof buffer);
      if (result.lastRead <= 0) break;
      result.body.append(reinterpret_cast<char *>(buffer), static_cast<size_t>(result.lastRead));
    }
  }
  result.statusAfter = CFReadStreamGetStatus(stream);
  result.error = CFReadStreamGetError(stream);
  result.status = StatusOf(stream);
  CFReadStreamClose(stream);
  CFRelease(stream);
  return result;
}

std::string LiveObjects() {
  char text[256];
  CFStandInDescribeLiveObjects(text, sizeof text);
  return text;
}

std::string StringOf(CFStringRef string) {
  if (string == nullptr) return "(null)";
  const char *text = CFStringGetCStringPtr(string, kCFStringEncodingUTF8);
  return text != nullptr ? text : "";
}

}  // namespace cftest
