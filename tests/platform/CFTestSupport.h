// Helpers for the stand-in's tests: requests built and run through the CF API
// the way the plug-in builds and runs them.
#pragma once

#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace cftest {

// A POST request and the stream properties it is sent with.
struct RequestSetup {
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers = {{"Content-Type", "application/json"}};
  std::string body = "{}";
  double readTimeoutSeconds = 10.0;
  bool autoRedirect = false;  // set only when true; unset is Apple's default (no redirects)
};

// The stream for `setup` with its properties set, not opened; nullptr when a step failed.
CFReadStreamRef MakeStream(const RequestSetup &setup);

// What a client registered for has-bytes, end and error saw of one scheduled
// request. Like the plug-in it reads 1024 bytes per has-bytes event and on end
// or error reads the status and error, then tears the stream down.
struct Outcome {
  std::vector<CFStreamEventType> events;
  std::string body;
  long status = -1;  // -1: the response header was null
  CFStreamError error{0, 0};
  bool finished = false;
};

// Opens `setup` as a stream scheduled on the current run loop; false when a step failed.
bool StartScheduled(const RequestSetup &setup, Outcome &outcome);
// Runs the current run loop as the plug-in's pump does, one non-waiting pass
// per millisecond, until `outcome` finished or `limit` passed.
void PumpUntilFinished(Outcome &outcome, std::chrono::milliseconds limit);
Outcome RunScheduled(const RequestSetup &setup, std::chrono::milliseconds limit = std::chrono::seconds(20));

// The unscheduled path (activation): open, wait `readAfter`, then read 1024
// bytes at a time; a read of 0 is noted as the end event, one of -1 as the error event.
Outcome RunSynchronous(const RequestSetup &setup, std::chrono::milliseconds readAfter = {});

std::string LiveObjects();

}  // namespace cftest
