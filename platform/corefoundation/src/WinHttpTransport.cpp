// The network transport on Windows: WinHTTP in asynchronous mode. WinHTTP
// resolves, connects, verifies the certificate and host name against the
// system's store and moves the bytes on its own threads; its callbacks only
// record results in StreamState under StreamMutex() and announce them, so
// events reach clients through the run loop as on every other system.
//
// Each request has its own connection ("Connection: close") unless the stream
// asked to keep it, no proxy, no redirect followed unless the stream asked for
// it (and never from https to http), TLS 1.2 or later, a connect bound of 75 s and no other time-out: the
// caller bounds its requests on its own clock.
#include "Transport.h"

#include "StreamState.h"
#include "WinHttpErrors.h"


#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <map>
#include <vector>


namespace cfstandin {
namespace {

constexpr wchar_t kUserAgent[] = L"CFNetwork-stand-in (WinHTTP)";
constexpr int kConnectTimeoutMs = 75000;
constexpr DWORD kReadChunkBytes = 64 * 1024;
// Stopping waits at most this long for WinHTTP to let go of cancelled
// requests; those it still holds then are abandoned (see AbandonRemaining).
constexpr DWORD kStopWaitMs = 100;

std::wstring Wide(const std::string &text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// Header text is ISO-8859-1 on the wire; WinHTTP hands it out widened.
std::string Narrow(const wchar_t *text, size_t length) {
  std::string narrow(length, '\0');
  for (size_t i = 0; i < length; ++i) narrow[i] = text[i] < 0x100 ? static_cast<char>(text[i]) : '?';
  return narrow;
}

// The worker side of one exchange. Lives until WinHTTP reports its request
// handle closing; its fields are guarded by StreamMutex().
struct Exchange {
  std::shared_ptr<StreamState> state;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  std::vector<char> buffer = std::vector<char>(kReadChunkBytes);
  DWORD secureFailureFlags = 0;
  Progress progress;
  size_t responseBodyBytes = 0;
  bool paused = false;
  bool closing = false;
};

class Registry {
 public:
  HINTERNET Session();
  bool Add(const std::shared_ptr<Exchange> &exchange);
  std::shared_ptr<Exchange> Find(const StreamState *key);
  void Remove(const StreamState *key);
  void CloseAll();
  void AbandonRemaining();
  bool WaitForIdle(DWORD timeoutMs);
  void CloseSession();

  long Active() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<long>(exchanges_.size());
  }

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  HINTERNET session_ = nullptr;
  std::map<const StreamState *, std::shared_ptr<Exchange>> exchanges_;
};

Registry &TheRegistry() {
  static Registry *registry = new Registry();  // never destroyed: no destructor runs at unload
  return *registry;
}

HINTERNET OpenSession() {
  HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (session == nullptr) return nullptr;
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  DWORD tls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  // Systems without TLS 1.3 refuse its flag; TLS 1.2 alone then. A session
  // that cannot be held to these rules is not used at all.
  const bool secured = WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols)) ||
                       WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &tls12, sizeof(tls12));
  if (!secured || !WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never))) {
    WinHttpCloseHandle(session);
    return nullptr;
  }
  // 0 is "no time-out": only connecting is bounded. The wait for the
  // response's headers has a time-out of its own, also lifted.
  WinHttpSetTimeouts(session, 0, kConnectTimeoutMs, 0, 0);
  DWORD noTimeout = INFINITE;
  WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &noTimeout, sizeof(noTimeout));
  return session;
}

HINTERNET Registry::Session() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (session_ == nullptr) session_ = OpenSession();
  return session_;
}

bool Registry::Add(const std::shared_ptr<Exchange> &exchange) {
  std::lock_guard<std::mutex> lock(mutex_);
  return exchanges_.emplace(exchange->state.get(), exchange).second;
}

std::shared_ptr<Exchange> Registry::Find(const StreamState *key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = exchanges_.find(key);
  return found == exchanges_.end() ? nullptr : found->second;
}

void Registry::Remove(const StreamState *key) {
  std::shared_ptr<Exchange> removed;  // freed outside the lock
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = exchanges_.find(key);
  if (found == exchanges_.end()) return;
  removed = found->second;
  exchanges_.erase(found);
  if (exchanges_.empty()) idle_.notify_all();
}

bool Registry::WaitForIdle(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return exchanges_.empty(); });
}

void Registry::CloseSession() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (session_ == nullptr || !exchanges_.empty()) return;
  WinHttpCloseHandle(session_);
  session_ = nullptr;
}

// StreamMutex held. Closing a request makes WinHTTP report it cancelled: a
// stream its client closed stays closed.
void Fail(Exchange &exchange, CFStreamError error) { FailRunning(*exchange.state, error); }

// Closing the request handle ends the exchange; WinHTTP then reports the
// handle closing, once, and the exchange is dropped there.
void CloseRequest(Exchange &exchange) {
  HINTERNET request = nullptr;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    if (exchange.closing || exchange.request == nullptr) return;  // not yet sent: StartTransfer closes it
    exchange.closing = true;
    request = exchange.request;
  }
  WinHttpCloseHandle(request);
}

void FailAndClose(Exchange &exchange, DWORD error) {
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    Fail(exchange, StreamErrorForWinHttp(error, exchange.secureFailureFlags, exchange.progress));
  }
  CloseRequest(exchange);
}

// "HTTP/1.1 200 OK\r\nName: value\r\n..." as WinHTTP hands it out.
ResponseHead ParseHead(const std::string &raw) {
  ResponseHead head;
  size_t lineStart = 0;
  bool first = true;
  while (lineStart < raw.size()) {
    size_t lineEnd = raw.find("\r\n", lineStart);
    if (lineEnd == std::string::npos) lineEnd = raw.size();
    const std::string line = raw.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 2;
    if (first) {
      first = false;
      const size_t space = line.find(' ');
      head.version = line.substr(0, space);
      if (space == std::string::npos) continue;
      const size_t second = line.find(' ', space + 1);
      head.statusCode = std::strtol(line.substr(space + 1, second - space - 1).c_str(), nullptr, 10);
      if (second != std::string::npos) head.reason = line.substr(second + 1);
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t valueStart = line.find_first_not_of(" \t", colon + 1);
    if (valueStart == std::string::npos) valueStart = line.size();
    head.headers.emplace_back(line.substr(0, colon), line.substr(valueStart));
  }
  return head;
}

bool ReadHead(HINTERNET request, ResponseHead *head) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                      WINHTTP_NO_HEADER_INDEX);
  if (bytes == 0) return false;
  std::wstring raw(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                           &bytes, WINHTTP_NO_HEADER_INDEX))
    return false;
  *head = ParseHead(Narrow(raw.data(), bytes / sizeof(wchar_t)));
  return head->statusCode != 0;
}

void AskForMoreData(Exchange &exchange) {
  if (!WinHttpQueryDataAvailable(exchange.request, nullptr)) FailAndClose(exchange, GetLastError());
}

void OnHeadersAvailable(Exchange &exchange) {
  ResponseHead head;
  if (!ReadHead(exchange.request, &head)) {
    FailAndClose(exchange, ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    exchange.progress.responseStarted = true;
    exchange.state->response = head;
    AnnounceChange(*exchange.state);
  }
  AskForMoreData(exchange);
}

void OnDataAvailable(Exchange &exchange, DWORD available) {
  if (available == 0) {
    {
      std::lock_guard<std::mutex> lock(StreamMutex());
      if (exchange.state->outcome == Outcome::Running) {
        exchange.state->outcome = Outcome::Finished;
        AnnounceChange(*exchange.state);
      }
    }
    CloseRequest(exchange);
    return;
  }
  const DWORD wanted = std::min(available, kReadChunkBytes);
  if (!WinHttpReadData(exchange.request, exchange.buffer.data(), wanted, nullptr))
    FailAndClose(exchange, GetLastError());
}

// Bytes arrived: the reader gets them, the body bound is kept, and the next
// read waits while the reader is far behind.
void OnReadComplete(Exchange &exchange, DWORD count) {
  if (count == 0) {
    OnDataAvailable(exchange, 0);
    return;
  }
  enum class Next { kRead, kWaitForReader, kClose } next = Next::kRead;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    StreamState &state = *exchange.state;
    if (state.closed || exchange.closing) return;
    exchange.responseBodyBytes += count;
    if (exchange.responseBodyBytes > kMaxResponseBodyBytes) {
      Fail(exchange, {kDomainPOSIX, kDarwinEFBIG});
      next = Next::kClose;
    } else {
      state.body.append(exchange.buffer.data(), count);
      AnnounceChange(state);
      if (state.Unread() >= kMaxUnreadBytes) {
        state.pausedForReader = true;
        exchange.paused = true;
        next = Next::kWaitForReader;
      }
    }
  }
  if (next == Next::kRead) AskForMoreData(exchange);
  if (next == Next::kClose) CloseRequest(exchange);
}

void OnHandleClosing(Exchange &exchange) {
  HINTERNET connection = exchange.connection;
  const StreamState *key = exchange.state.get();
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    Fail(exchange, {kDomainPOSIX, kDarwinECANCELED});  // only if it had not ended
  }
  if (connection != nullptr) WinHttpCloseHandle(connection);
  TheRegistry().Remove(key);  // may free the exchange
}

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
  if (context == 0) return;
  Exchange &exchange = *reinterpret_cast<Exchange *>(context);
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      if (info != nullptr && infoLength >= sizeof(DWORD)) {
        std::lock_guard<std::mutex> lock(StreamMutex());
        exchange.secureFailureFlags = *static_cast<DWORD *>(info);
      }
      break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      if (!WinHttpReceiveResponse(exchange.request, nullptr)) FailAndClose(exchange, GetLastError());
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      OnHeadersAvailable(exchange);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      OnDataAvailable(exchange, info != nullptr ? *static_cast<DWORD *>(info) : 0);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      OnReadComplete(exchange, infoLength);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      FailAndClose(exchange, static_cast<DWORD>(static_cast<WINHTTP_ASYNC_RESULT *>(info)->dwError));
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      OnHandleClosing(exchange);
      break;
    default:
      break;
  }
}

// The request line's target: path and query exactly as the caller wrote them.
std::wstring TargetOf(const URL_COMPONENTS &parts) {
  std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
  target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  return target.empty() ? L"/" : target;
}

// What the stream asked for besides its message.
struct StreamWishes {
  bool followRedirects = false;
  bool persistentConnection = false;
};

// Without a kept connection the request says it is the connection's only one:
// WinHTTP closes the connection when keep-alive is off but does not say so.
std::wstring HeaderBlockOf(const RequestParts &request, bool persistentConnection) {
  std::wstring block;
  for (const auto &field : request.headers) block += Wide(field.first) + L": " + Wide(field.second) + L"\r\n";
  if (!persistentConnection && FindHeader(request.headers, "Connection") == nullptr)
    block += L"Connection: close\r\n";
  return block;
}

bool ApplyRequestOptions(HINTERNET request, const StreamWishes &wishes) {
  DWORD features = WINHTTP_DISABLE_KEEP_ALIVE;
  if (!wishes.persistentConnection &&
      !WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof(features)))
    return false;
  if (!wishes.followRedirects) return true;
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  return WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy)) != FALSE;
}

// Opens the connection and request handles; an error code when it cannot.
DWORD OpenHandles(Exchange &exchange, const StreamWishes &wishes) {
  const RequestParts &request = exchange.state->request;
  HINTERNET session = TheRegistry().Session();
  if (session == nullptr) return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WINHTTP_INTERNAL_ERROR;
  const std::wstring url = Wide(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = parts.dwSchemeLength = 1;
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return GetLastError();
  const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  exchange.connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
  if (exchange.connection == nullptr) return GetLastError();
  const std::wstring method = Wide(request.method);
  const wchar_t *version = request.version == "HTTP/1.0" ? L"HTTP/1.0" : nullptr;
  const DWORD flags =
      (https ? WINHTTP_FLAG_SECURE : 0) | WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
  exchange.request = WinHttpOpenRequest(exchange.connection, method.c_str(), TargetOf(parts).c_str(), version,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
  if (exchange.request == nullptr) return GetLastError();
  if (!ApplyRequestOptions(exchange.request, wishes)) return GetLastError();
  return ERROR_SUCCESS;
}

DWORD SendRequest(Exchange &exchange, bool persistentConnection) {
  const RequestParts &request = exchange.state->request;
  const std::wstring headers = HeaderBlockOf(request, persistentConnection);
  if (!headers.empty() &&
      !WinHttpAddRequestHeaders(exchange.request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
    return GetLastError();
  if (WinHttpSetStatusCallback(exchange.request, OnStatus, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
      WINHTTP_INVALID_STATUS_CALLBACK)
    return GetLastError();
  // The body stays alive in the stream's state for as long as the exchange.
  void *body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char *>(request.body.data());
  const DWORD length = static_cast<DWORD>(request.body.size());
  if (!WinHttpSendRequest(exchange.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length, length,
                          reinterpret_cast<DWORD_PTR>(&exchange)))
    return GetLastError();
  return ERROR_SUCCESS;
}

// A request that never got under way: its handles closed here, no callback.
void Abandon(const std::shared_ptr<Exchange> &exchange, DWORD error) {
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    Fail(*exchange, StreamErrorForWinHttp(error, 0, exchange->progress));
  }
  if (exchange->request != nullptr) {
    WinHttpSetStatusCallback(exchange->request, nullptr, 0, 0);
    WinHttpCloseHandle(exchange->request);
  }
  if (exchange->connection != nullptr) WinHttpCloseHandle(exchange->connection);
  TheRegistry().Remove(exchange->state.get());
}

}  // namespace

void StartTransfer(const std::shared_ptr<StreamState> &state) {
  auto exchange = std::make_shared<Exchange>();
  exchange->state = state;
  StreamWishes wishes;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    if (state->closed) return;
    wishes = {state->followRedirects, state->persistentConnection};
    state->finalUrl = state->request.url;
  }
  if (!TheRegistry().Add(exchange)) return;
  DWORD error = OpenHandles(*exchange, wishes);
  if (error == ERROR_SUCCESS) error = SendRequest(*exchange, wishes.persistentConnection);
  if (error != ERROR_SUCCESS) {
    Abandon(exchange, error);
    return;
  }
  bool closedMeanwhile;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    closedMeanwhile = state->closed;
  }
  if (closedMeanwhile) CloseRequest(*exchange);
}

void CancelTransfer(const std::shared_ptr<StreamState> &state) {
  if (std::shared_ptr<Exchange> exchange = TheRegistry().Find(state.get())) CloseRequest(*exchange);
}

void ResumeTransfer(const std::shared_ptr<StreamState> &state) {
  std::shared_ptr<Exchange> exchange = TheRegistry().Find(state.get());
  if (!exchange) return;
  {
    std::lock_guard<std::mutex> lock(StreamMutex());
    if (!exchange->paused || exchange->closing) return;
    exchange->paused = false;
  }
  AskForMoreData(*exchange);
}

void Registry::CloseAll() {
  std::vector<std::shared_ptr<Exchange>> open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &entry : exchanges_) open.push_back(entry.second);
  }
  for (auto &exchange : open) {
    {
      std::lock_guard<std::mutex> lock(StreamMutex());
      Fail(*exchange, {kDomainPOSIX, kDarwinECANCELED});
    }
    CloseRequest(*exchange);
  }
}

// A request WinHTTP has not let go of: blocked in a read it cannot cancel (Wine
// waits out a stalled server that way). It is cut off from this library's
// callback and kept, never freed, so that WinHTTP's late writes into its
// buffer land in live memory after the library is gone.
void Registry::AbandonRemaining() {
  static auto *abandoned = new std::vector<std::shared_ptr<Exchange>>();
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto &entry : exchanges_) {
    WinHttpSetStatusCallback(entry.second->request, nullptr, 0, 0);
    abandoned->push_back(entry.second);
  }
  exchanges_.clear();
  idle_.notify_all();
}

// Exchanges still running end with an error. Never waits long: it runs when
// the plug-in stops.
void StopTransport() {
  Registry &registry = TheRegistry();
  registry.CloseAll();
  if (!registry.WaitForIdle(kStopWaitMs)) registry.AbandonRemaining();
  registry.CloseSession();
}

// At unload, once the plug-in's stop path has stopped the transport: true when
// nothing is left in WinHTTP's hands (the session is closed then); false,
// touching nothing, otherwise.
bool ReleaseStoppedTransport() {
  Registry &registry = TheRegistry();
  if (registry.Active() != 0) return false;
  registry.CloseSession();
  return true;
}

}  // namespace cfstandin

extern "C" {

void CFStandInShutdownTransport(void) { cfstandin::StopTransport(); }

}  // extern "C"
