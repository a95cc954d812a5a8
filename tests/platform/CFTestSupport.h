// Helpers for the stand-in's tests: build and run requests through the CF API
// exactly as the service client does.
#pragma once

#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace cftest {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct RequestSpec {
  std::string url;
  Headers headers = {{"Content-Type", "application/json"}};
  std::string body = "{}";
  double readTimeoutSeconds = 10.0;  // <= 0: property not set
  bool autoRedirect = true;
  std::string method = "POST";
};

// Builds the request message; every intermediate object is released again.
// nullptr when the URL or message cannot be made.
CFHTTPMessageRef MakeRequest(const RequestSpec &wanted);

// Creates the read stream for `wanted` with its properties set; not opened.
CFReadStreamRef MakeStream(const RequestSpec &wanted);

// What a client registered with mask 26 saw of one scheduled request. The
// client reads 1024 bytes per has-bytes event and tears the stream down on
// end or error (remove client, unschedule, close, release), as the plug-in does.
struct Outcome {
  std::vector<CFStreamEventType> events;
  std::string body;
  long status = -1;  // from the response header at the end; -1 when none
  CFStreamError error{0, 0};
  bool finished = false;
  bool deliveredOutsideRunLoop = false;
  bool deliveredOnOtherThread = false;
};

// Starts `wanted` as a scheduled stream on the current run loop (default mode)
// reporting into `outcome`; false when a step failed.
bool StartScheduled(const RequestSpec &wanted, Outcome &outcome);

// Runs the current run loop as a host's per-frame pump does, one pass of
// CFRunLoopRunInMode(default, 0, true) per millisecond, until `outcome`
// finished or `limit` passed. Returns the number of passes.
int PumpUntilFinished(Outcome &outcome, std::chrono::milliseconds limit);

// One scheduled request from start to its end or error.
Outcome RunScheduled(const RequestSpec &wanted, std::chrono::milliseconds limit = std::chrono::seconds(20));

// The synchronous path (activation): open, read in 1024-byte pieces until 0 or
// an error, then look at status, error and response header.
struct SyncResult {
  bool opened = false;
  std::string body;
  CFIndex lastRead = 0;
  CFStreamStatus statusAfter = kCFStreamStatusNotOpen;
  CFStreamError error{0, 0};
  long status = -1;
};
SyncResult RunSynchronous(const RequestSpec &wanted);

std::string LiveObjects();
std::string StringOf(CFStringRef string);

}  // namespace cftest
