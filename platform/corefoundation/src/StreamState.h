// The state of one HTTP read stream, shared by the CF stream object, the run
// loops it is scheduled on and the network worker. Guarded by StreamMutex().
#pragma once

#include "HTTPMessage.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cfstandin {

enum class Outcome { Running, Finished, Failed };

struct Schedule {
  __CFRunLoop *loop;
  std::string mode;
};

struct ClientRegistration {
  CFOptionFlags events = 0;
  CFReadStreamClientCallBack callback = nullptr;
  CFStreamClientContext context{};
};

// What the read-timeout property reads as until set. Like Apple's HTTP stream,
// this one keeps the value and bounds nothing by it.
constexpr double kDefaultReadTimeoutSeconds = 75.0;

struct StreamState {
  explicit StreamState(RequestParts wanted) : request(std::move(wanted)) {}

  size_t Unread() const { return body.size() - bodyOffset; }

  const RequestParts request;
  bool followRedirects = false;
  bool persistentConnection = false;  // otherwise a connection of its own, "Connection: close"
  double readTimeoutSeconds = kDefaultReadTimeoutSeconds;

  __CFReadStream *handle = nullptr;  // the CF object; null once it was freed
  bool opened = false;
  bool closed = false;
  bool reading = false;  // a blocking read waits for bytes

  // What the worker delivered.
  Outcome outcome = Outcome::Running;
  CFStreamError error{0, 0};
  std::string body;
  size_t bodyOffset = 0;
  bool pausedForReader = false;  // the worker holds back bytes until the reader catches up
  std::optional<ResponseHead> response;
  std::string finalUrl;

  // Event delivery.
  ClientRegistration client;
  std::vector<Schedule> schedules;
  bool openEventDue = false;
  bool errorDelivered = false;
  bool endDelivered = false;

  std::condition_variable changed;  // blocking readers wait here
};

std::mutex &StreamMutex();

// After a change to the state (StreamMutex held): wakes blocking readers and
// the run loops the stream is scheduled on.
void AnnounceChange(StreamState &state);

// Ends a running exchange with error (StreamMutex held). A stream its client
// closed stays closed, not failed, as does one that already ended.
void FailRunning(StreamState &state, CFStreamError error);

// The worker holds back bytes once this many are waiting to be read.
constexpr size_t kMaxUnreadBytes = 1u << 20;
// A response body longer than this is not read further: the exchange ends with
// {POSIX, EFBIG}. Far above any answer a client of this library needs.
constexpr size_t kMaxResponseBodyBytes = 8u << 20;

}  // namespace cfstandin

// The CF object is a handle on the shared state: the worker and the run loops
// keep the state, never the object, so releasing the last reference frees the
// stream (closing it) as on Apple.
struct __CFReadStream : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::ReadStream;
  explicit __CFReadStream(std::shared_ptr<cfstandin::StreamState> streamState)
      : Object(kKind, false), state(std::move(streamState)) {}
  ~__CFReadStream() override;
  const std::shared_ptr<cfstandin::StreamState> state;
};
