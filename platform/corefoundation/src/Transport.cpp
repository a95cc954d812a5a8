// The network worker. One thread owns one curl multi handle: name resolution,
// connecting, TLS and the transfers all happen here, never on the threads that
// open, read and run the streams. As in CFNetwork, each request has a
// connection of its own and says "Connection: close", unless the stream asked
// for a persistent connection; those are kept alive and reused. Nothing but
// connecting is bounded in time here: a client keeps its own bounds. Results
// reach the streams through StreamState under StreamMutex(); the worker never
// calls back into clients.
#include "Transport.h"

#include "ErrorMapping.h"
#include "StreamState.h"

#include "../testing/CFStandInTesting.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <csignal>
#include <map>
#include <thread>

namespace cfstandin {
namespace {

constexpr char kUserAgent[] = "CFNetwork-stand-in (libcurl)";
constexpr long kMaxRedirects = 10;
constexpr long kMaxIdleConnections = 8;
constexpr int kIdlePollMilliseconds = 1000;
// Connecting (TLS included) gives up after this long, as a TCP stack's connect
// does; the read-timeout property bounds nothing.
constexpr long kConnectTimeoutSeconds = 75;
// TLS 1.2 suites with forward secrecy and an AEAD cipher; TLS 1.3 keeps
// OpenSSL's own suites, which all are.
constexpr char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

enum class CommandKind { Start, Cancel, Resume };

struct Command {
  CommandKind kind;
  std::shared_ptr<StreamState> state;
};

// The worker's side of one exchange.
struct Exchange {
  std::shared_ptr<StreamState> state;
  CURL *easy = nullptr;
  curl_slist *headerList = nullptr;
  bool followRedirects = false;
  ResponseHead head;        // the header block being received
  bool headStarted = false;
  bool headPublished = false;
  bool paused = false;
  size_t bodyOffsetSent = 0;       // how much of the request body libcurl has taken
  bool rewindForRedirect = false;  // a followed redirect may send the body once more
  bool followingRedirect = false;  // the last header block was a redirect being followed
  size_t responseBodyBytes = 0;
  bool bodyTooLarge = false;
};

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

std::string Trimmed(const std::string &text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// "HTTP/1.1 200 OK" -> version, code, reason.
ResponseHead ParseStatusLine(const std::string &line) {
  ResponseHead head;
  size_t firstSpace = line.find(' ');
  head.version = line.substr(0, firstSpace);
  if (firstSpace == std::string::npos) return head;
  size_t secondSpace = line.find(' ', firstSpace + 1);
  std::string code = line.substr(firstSpace + 1, secondSpace == std::string::npos ? std::string::npos
                                                                                  : secondSpace - firstSpace - 1);
  head.statusCode = std::strtol(code.c_str(), nullptr, 10);
  if (secondSpace != std::string::npos) head.reason = line.substr(secondSpace + 1);
  return head;
}

// A header block the stream reports: not an interim 1xx, and not a redirect
// that is about to be followed.
bool IsFinalHead(const Exchange &exchange) {
  long code = exchange.head.statusCode;
  if (code < 200) return false;
  bool redirect = code >= 300 && code < 400 && FindHeader(exchange.head.headers, "Location") != nullptr;
  return !(redirect && exchange.followRedirects);
}

// StreamMutex held.
void PublishHead(Exchange &exchange) {
  if (exchange.headPublished || exchange.head.statusCode == 0) return;
  exchange.headPublished = true;
  exchange.state->response = exchange.head;
  AnnounceChange(*exchange.state);
}

size_t OnHeaderLine(char *buffer, size_t size, size_t count, void *userData) {
  auto &exchange = *static_cast<Exchange *>(userData);
  size_t length = size * count;
  std::string line(buffer, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();

  if (StartsWith(line, "HTTP/")) {
    exchange.head = ParseStatusLine(line);
    exchange.headStarted = true;
    exchange.followingRedirect = false;
  } else if (line.empty()) {
    if (exchange.headStarted && IsFinalHead(exchange)) {
      std::lock_guard<std::mutex> lock(StreamMutex());
      PublishHead(exchange);
    } else if (exchange.head.statusCode >= 300) {
      exchange.followingRedirect = true;
      exchange.rewindForRedirect = true;
    }
  } else if (!exchange.headPublished && exchange.headStarted) {
    if ((line[0] == ' ' || line[0] == '\t') && !exchange.head.headers.empty()) {
      exchange.head.headers.back().second += " " + Trimmed(line);
    } else {
      size_t colon = line.find(':');
      if (colon != std::string::npos) {
        exchange.head.headers.emplace_back(line.substr(0, colon), Trimmed(line.substr(colon + 1)));
      }
    }
  }
  return length;
}

size_t OnBodyBytes(char *buffer, size_t size, size_t count, void *userData) {
  auto &exchange = *static_cast<Exchange *>(userData);
  size_t length = size * count;
  std::lock_guard<std::mutex> lock(StreamMutex());
  StreamState &state = *exchange.state;
  if (state.closed) return 0;
  exchange.responseBodyBytes += length;
  if (exchange.responseBodyBytes > kMaxResponseBodyBytes) {
    exchange.bodyTooLarge = true;
    return 0;
  }
  if (state.Unread() > 0 && state.Unread() + length > kMaxUnreadBytes) {
    state.pausedForReader = true;
    exchange.paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  PublishHead(exchange);
  state.body.append(buffer, length);
  AnnounceChange(state);
  return length;
}

// The body goes to libcurl through a read callback, never as POSTFIELDS: a
// body it cannot rewind is one it cannot silently send again when a kept-alive
// connection dies after the request was written. That retry then fails the
// exchange instead.
size_t OnRequestBodyWanted(char *buffer, size_t size, size_t count, void *userData) {
  auto &exchange = *static_cast<Exchange *>(userData);
  const std::string &body = exchange.state->request.body;
  size_t length = std::min(size * count, body.size() - exchange.bodyOffsetSent);
  std::memcpy(buffer, body.data() + exchange.bodyOffsetSent, length);
  exchange.bodyOffsetSent += length;
  return length;
}

// Only a redirect the caller asked to follow may send the body again, once.
int OnRewindRequestBody(void *userData, curl_off_t offset, int origin) {
  auto &exchange = *static_cast<Exchange *>(userData);
  if (!exchange.rewindForRedirect || offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  exchange.rewindForRedirect = false;
  exchange.bodyOffsetSent = 0;
  return CURL_SEEKFUNC_OK;
}

curl_slist *HeaderListFor(const RequestParts &request, bool persistent) {
  curl_slist *list = nullptr;
  for (const auto &field : request.headers) {
    std::string line = field.second.empty() ? field.first + ";" : field.first + ": " + field.second;
    list = curl_slist_append(list, line.c_str());
  }
  // Send only what the message holds: no "Expect: 100-continue" round trip and
  // no form content type that the caller did not ask for.
  if (FindHeader(request.headers, "Expect") == nullptr) list = curl_slist_append(list, "Expect:");
  if (FindHeader(request.headers, "Content-Type") == nullptr) list = curl_slist_append(list, "Content-Type:");
  if (!persistent && FindHeader(request.headers, "Connection") == nullptr)
    list = curl_slist_append(list, "Connection: close");
  return list;
}

void SetMethodAndBody(CURL *easy, const RequestParts &request) {
  const std::string &method = request.method;
  const std::string &body = request.body;
  if (method == "GET" && body.empty()) {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    return;
  }
  if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    return;
  }
  if (method != "POST") {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (body.empty()) return;
  }
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnRequestBodyWanted);
  curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, OnRewindRequestBody);
}

class Worker {
 public:
  void Post(CommandKind kind, const std::shared_ptr<StreamState> &state);
  void Stop();
  bool Running();
  bool WaitForIdle(double timeoutSeconds);

  std::atomic<long> activeTransfers{0};
  std::atomic<long> connectionsOpened{0};
  std::atomic<long> requestsStarted{0};

 private:
  void StartThread();
  void Run();
  void Handle(const Command &command);
  void Begin(const std::shared_ptr<StreamState> &state);
  void Finish(CURL *easy, CURLcode result);
  void Discard(StreamState *key);
  void DiscardAll();
  static void CancelNotStarted(const std::vector<Command> &commands);

  std::mutex lifecycleMutex_;  // starting and stopping
  std::thread thread_;
  CURLM *multi_ = nullptr;  // the worker's; published under queueMutex_ for wake-ups
  CURLSH *share_ = nullptr;

  std::mutex queueMutex_;
  std::condition_variable idle_;
  std::vector<Command> queue_;
  long unhandledCommands_ = 0;
  bool stopRequested_ = false;

  std::map<StreamState *, std::unique_ptr<Exchange>> exchanges_;  // worker thread only
};

// Created on first use; deleted when the library unloads, if stopped by then.
std::mutex gWorkerMutex;
Worker *gWorker = nullptr;

Worker &TheWorker() {
  std::lock_guard<std::mutex> lock(gWorkerMutex);
  if (gWorker == nullptr) gWorker = new Worker();
  return *gWorker;
}

void Worker::Post(CommandKind kind, const std::shared_ptr<StreamState> &state) {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  if (!thread_.joinable()) {
    if (kind != CommandKind::Start) return;
    StartThread();
  }
  std::lock_guard<std::mutex> lock(queueMutex_);
  queue_.push_back({kind, state});
  ++unhandledCommands_;
  if (multi_ != nullptr) curl_multi_wakeup(multi_);  // otherwise the worker is still starting
}

// Only spawns the thread: libcurl's global set-up (OpenSSL included) and the
// multi handle are made on the worker, off the caller's thread.
void Worker::StartThread() {
  stopRequested_ = false;
  sigset_t all, previous;
  sigfillset(&all);
  // The worker takes no signals: they belong to the host's threads.
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  thread_ = std::thread([this] { Run(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_setname_np(thread_.native_handle(), "cf-network");
}

void Worker::Stop() {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    stopRequested_ = true;
    if (multi_ != nullptr) curl_multi_wakeup(multi_);
  }
  thread_.join();
  std::lock_guard<std::mutex> lock(queueMutex_);
  queue_.clear();
  unhandledCommands_ = 0;
  idle_.notify_all();
}

bool Worker::Running() {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  return thread_.joinable();
}

bool Worker::WaitForIdle(double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(queueMutex_);
  return idle_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                        [this] { return unhandledCommands_ == 0 && activeTransfers.load() == 0; });
}

void Worker::Run() {
  // Otherwise OpenSSL registers its own clean-up for process exit, which runs
  // ahead of ours and frees its locks under a worker still setting up TLS.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURLM *multi = curl_multi_init();
  curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kMaxIdleConnections);
  share_ = curl_share_init();
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    multi_ = multi;
  }
  for (;;) {
    std::vector<Command> commands;
    bool stopping;
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      commands.swap(queue_);
      stopping = stopRequested_;
    }
    if (stopping) {
      CancelNotStarted(commands);
      break;
    }
    for (const Command &command : commands) Handle(command);

    int running = 0;
    curl_multi_perform(multi_, &running);
    int remaining = 0;
    while (CURLMsg *message = curl_multi_info_read(multi_, &remaining)) {
      if (message->msg == CURLMSG_DONE) Finish(message->easy_handle, message->data.result);
    }
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      unhandledCommands_ -= static_cast<long>(commands.size());
      activeTransfers = static_cast<long>(exchanges_.size());
      if (unhandledCommands_ == 0 && exchanges_.empty()) idle_.notify_all();
    }
    curl_multi_poll(multi_, nullptr, 0, kIdlePollMilliseconds, nullptr);
  }
  DiscardAll();
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    multi_ = nullptr;
  }
  curl_multi_cleanup(multi);
  curl_share_cleanup(share_);
  share_ = nullptr;
  curl_global_cleanup();
}

void Worker::Handle(const Command &command) {
  StreamState *key = command.state.get();
  switch (command.kind) {
    case CommandKind::Start:
      Begin(command.state);
      break;
    case CommandKind::Cancel:
      Discard(key);
      break;
    case CommandKind::Resume: {
      auto found = exchanges_.find(key);
      if (found == exchanges_.end() || !found->second->paused) break;
      found->second->paused = false;
      curl_easy_pause(found->second->easy, CURLPAUSE_CONT);
      break;
    }
  }
}

void Worker::Begin(const std::shared_ptr<StreamState> &state) {
  auto exchange = std::make_unique<Exchange>();
  exchange->state = state;
  bool persistent;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    if (state->closed) return;
    exchange->followRedirects = state->followRedirects;
    persistent = state->persistentConnection;
  }
  const RequestParts &request = state->request;
  CURL *easy = curl_easy_init();
  if (easy == nullptr) {
    std::lock_guard<std::mutex> lock(StreamMutex());
    FailRunning(*state, StreamErrorFor(CURLE_OUT_OF_MEMORY, 0, 0, {}));
    return;
  }
  exchange->easy = easy;
  exchange->headerList = HeaderListFor(request, persistent);
  bool https = StartsWith(request.url, "https:") || StartsWith(request.url, "HTTPS:");

  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  // A redirect never takes a request (and its token header) off TLS.
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, exchange->followRedirects ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   request.version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  SetMethodAndBody(easy, request);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, exchange->headerList);
  if (FindHeader(request.headers, "User-Agent") == nullptr) curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(easy, CURLOPT_SSL_CIPHER_LIST, kTls12Ciphers);
  // The system bundle alone: with a CA folder set as well (Debian's default)
  // libcurl parses the bundle again for every new connection instead of
  // keeping the parsed store.
  curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  // Direct, as CFNetwork without a proxy property: no proxy from the environment.
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  if (!persistent) {
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  }
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Dropping an exchange while its name is still resolving must not wait for
  // the resolver.
  curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(easy, CURLOPT_SHARE, share_);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeaderLine);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, exchange.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBodyBytes);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, exchange.get());
  curl_easy_setopt(easy, CURLOPT_READDATA, exchange.get());
  curl_easy_setopt(easy, CURLOPT_SEEKDATA, exchange.get());
  curl_easy_setopt(easy, CURLOPT_PRIVATE, exchange.get());

  curl_multi_add_handle(multi_, easy);
  exchanges_[state.get()] = std::move(exchange);
  ++requestsStarted;
}

void Worker::Finish(CURL *easy, CURLcode result) {
  void *privateData = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &privateData);
  auto &exchange = *static_cast<Exchange *>(privateData);
  long connects = 0, systemErrno = 0, verifyResult = 0, requestBytes = 0;
  char *effectiveUrl = nullptr;
  curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &connects);
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &systemErrno);
  curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
  curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
  curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestBytes);
  connectionsOpened += connects;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    StreamState &state = *exchange.state;
    if (effectiveUrl != nullptr) state.finalUrl = effectiveUrl;
    if (state.closed) {
      // Closed by its client first: it stays closed, not failed.
      state.outcome = Outcome::Finished;
    } else if (result == CURLE_OK) {
      PublishHead(exchange);
      state.outcome = Outcome::Finished;
    } else {
      state.outcome = Outcome::Failed;
      Progress progress{exchange.headStarted, requestBytes > 0 && !exchange.followingRedirect,
                        exchange.bodyTooLarge};
      state.error = StreamErrorFor(result, systemErrno, verifyResult, progress);
    }
    AnnounceChange(state);
  }
  Discard(exchange.state.get());
}

void Worker::Discard(StreamState *key) {
  auto found = exchanges_.find(key);
  if (found == exchanges_.end()) return;
  Exchange &exchange = *found->second;
  curl_multi_remove_handle(multi_, exchange.easy);
  curl_easy_cleanup(exchange.easy);
  curl_slist_free_all(exchange.headerList);
  exchanges_.erase(found);
}

// At shutdown: exchanges still running end with an error, and a resolver still
// busy is waited for, so that none of libcurl's threads outlives the library.
void Worker::DiscardAll() {
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    for (auto &entry : exchanges_) FailRunning(*entry.second->state, {kDomainPOSIX, kDarwinECANCELED});
  }
  for (auto &entry : exchanges_) curl_easy_setopt(entry.second->easy, CURLOPT_QUICK_EXIT, 0L);
  while (!exchanges_.empty()) Discard(exchanges_.begin()->first);
  activeTransfers = 0;
}

// Streams opened just before the worker stopped end like those in flight.
void Worker::CancelNotStarted(const std::vector<Command> &commands) {
  std::lock_guard<std::mutex> lock(StreamMutex());
  for (const Command &command : commands)
    if (command.kind == CommandKind::Start) FailRunning(*command.state, {kDomainPOSIX, kDarwinECANCELED});
}

}  // namespace

void StartTransfer(const std::shared_ptr<StreamState> &state) { TheWorker().Post(CommandKind::Start, state); }
void CancelTransfer(const std::shared_ptr<StreamState> &state) { TheWorker().Post(CommandKind::Cancel, state); }
void ResumeTransfer(const std::shared_ptr<StreamState> &state) { TheWorker().Post(CommandKind::Resume, state); }
void StopTransport() { TheWorker().Stop(); }

bool ReleaseStoppedTransport() {
  std::lock_guard<std::mutex> lock(gWorkerMutex);
  if (gWorker == nullptr) return true;
  if (gWorker->Running()) return false;
  delete gWorker;
  gWorker = nullptr;
  return true;
}

}  // namespace cfstandin

extern "C" {

int CFStandInWaitForTransportIdle(double timeoutSeconds) {
  return cfstandin::TheWorker().WaitForIdle(timeoutSeconds) ? 1 : 0;
}
long CFStandInActiveTransfers(void) { return cfstandin::TheWorker().activeTransfers.load(); }
long CFStandInConnectionsOpened(void) { return cfstandin::TheWorker().connectionsOpened.load(); }
long CFStandInRequestsStarted(void) { return cfstandin::TheWorker().requestsStarted.load(); }
void CFStandInShutdownTransport(void) { cfstandin::StopTransport(); }

}  // extern "C"
