// The service stand-in's server: cpp-httplib over OpenSSL, nlohmann-json for
// every body check.
#include "DevService.h"

#include <httplib.h>

#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tralix::dev {
namespace {

using Json = nlohmann::json;

const std::string kApiPrefix = "/api/v1";
const std::string kActivatePrefix = kApiPrefix + "/apiKey/activate/";
const std::string kBroadcastPath = kApiPrefix + "/data/client/broadcast";
const std::string kEventPath = kApiPrefix + "/data/client/event";
constexpr time_t kKeepAliveSeconds = 30;
constexpr size_t kKeepAliveRequests = 100000;
constexpr size_t kServerThreads = 16;

bool EqualsIgnoringCase(const std::string &left, const std::string &right) {
  return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
  auto since = time.time_since_epoch();
  std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  long milliseconds = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  return std::string(text) + "." + std::to_string(1000 + milliseconds).substr(1) + "Z";
}

// httplib files the connection's addresses among the request headers.
bool IsConnectionPseudoHeader(const std::string &name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

// nlohmann-json parses recursively; a body nested deeper than this is
// treated as not JSON rather than risking the server's stack.
constexpr int kMaxJsonDepth = 256;

bool NestingWithinLimit(const std::string &text) {
  int depth = 0;
  bool inString = false;
  for (size_t index = 0; index < text.size(); ++index) {
    char character = text[index];
    if (inString) {
      if (character == '\\') ++index;
      else if (character == '"') inString = false;
    } else if (character == '"') {
      inString = true;
    } else if (character == '[' || character == '{') {
      if (++depth > kMaxJsonDepth) return false;
    } else if (character == ']' || character == '}') {
      --depth;
    }
  }
  return true;
}

Json ParseJson(const std::string &text) {
  if (!NestingWithinLimit(text)) return Json(Json::value_t::discarded);
  return Json::parse(text, nullptr, false);
}

// An answer before any misbehaviour is applied.
struct Answer {
  int status = 200;
  std::string body;
  std::string verdict = "ok";
};

Answer JsonAnswer(int status, const Json &body, const std::string &verdict) {
  return {status, body.dump(), verdict};
}

// The broadcast body must be a JSON object whose "extra" member is a string
// that is itself JSON.
void CheckBroadcastBody(RecordedRequest &request) {
  const Json &body = request.json;
  if (!body.is_object() || !body.contains("extra") || !body["extra"].is_string()) {
    request.malformed = true;
    return;
  }
  request.extra = ParseJson(body["extra"].get<std::string>());
  if (request.extra.is_discarded()) {
    request.extra = nullptr;
    request.malformed = true;
  }
}

bool PeerMatches(int fd, const std::string &address, int port) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0) return false;
  char text[INET6_ADDRSTRLEN] = {};
  int peerPort = -1;
  if (peer.ss_family == AF_INET) {
    auto *ipv4 = reinterpret_cast<sockaddr_in *>(&peer);
    inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text);
    peerPort = ntohs(ipv4->sin_port);
  } else if (peer.ss_family == AF_INET6) {
    auto *ipv6 = reinterpret_cast<sockaddr_in6 *>(&peer);
    inet_ntop(AF_INET6, &ipv6->sin6_addr, text, sizeof text);
    peerPort = ntohs(ipv6->sin6_port);
  }
  return peerPort == port && address == text;
}

int LocalPort(int fd) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0) return -1;
  if (local.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
  if (local.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
  return -1;
}

// httplib gives handlers no socket; the server's connections are found among
// this process's descriptors: accepted sockets on our port with a peer.
template <typename Predicate>
void ShutDownServerSockets(int serverPort, Predicate wanted) {
  DIR *descriptors = opendir("/proc/self/fd");
  if (descriptors == nullptr) return;
  while (dirent *entry = readdir(descriptors)) {
    int fd = std::atoi(entry->d_name);
    if (fd <= 2 || fd == dirfd(descriptors)) continue;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    if (LocalPort(fd) != serverPort || !wanted(fd)) continue;
    shutdown(fd, SHUT_RDWR);
  }
  closedir(descriptors);
}

bool HasPeer(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
}

// Only what the options offer: one protocol version, or these TLS 1.2 suites.
bool RestrictTls(SSL_CTX &context, const ServiceOptions &options) {
  if (options.tlsOnlyVersion == "1.1") {
    SSL_CTX_set_security_level(&context, 0);  // OpenSSL 3 refuses TLS 1.1 above level 0
    return SSL_CTX_set_min_proto_version(&context, TLS1_1_VERSION) == 1 &&
           SSL_CTX_set_max_proto_version(&context, TLS1_1_VERSION) == 1;
  }
  if (options.tlsOnlyVersion == "1.2" && SSL_CTX_set_max_proto_version(&context, TLS1_2_VERSION) != 1) return false;
  return options.tlsCiphers.empty() || SSL_CTX_set_cipher_list(&context, options.tlsCiphers.c_str()) == 1;
}

bool ConfigureTls(SSL_CTX &context, const TlsIdentity &identity, const ServiceOptions &options) {
  SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
  if (!RestrictTls(context, options)) return false;
  BIO *certificates = BIO_new_mem_buf(identity.certificatePem.data(), static_cast<int>(identity.certificatePem.size()));
  X509 *leaf = PEM_read_bio_X509(certificates, nullptr, nullptr, nullptr);
  bool ok = leaf != nullptr && SSL_CTX_use_certificate(&context, leaf) == 1;
  X509_free(leaf);
  while (X509 *chain = PEM_read_bio_X509(certificates, nullptr, nullptr, nullptr)) {
    if (SSL_CTX_add_extra_chain_cert(&context, chain) != 1) X509_free(chain);
  }
  BIO_free(certificates);
  BIO *keyText = BIO_new_mem_buf(identity.privateKeyPem.data(), static_cast<int>(identity.privateKeyPem.size()));
  EVP_PKEY *key = PEM_read_bio_PrivateKey(keyText, nullptr, nullptr, nullptr);
  ok = ok && key != nullptr && SSL_CTX_use_PrivateKey(&context, key) == 1 && SSL_CTX_check_private_key(&context) == 1;
  EVP_PKEY_free(key);
  BIO_free(keyText);
  return ok;
}

int BoundSocket(const std::string &address, int port) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int reuse = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  if (listener < 0 || inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
      bind(listener, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
    if (listener >= 0) close(listener);
    throw std::runtime_error("dev service: cannot listen on " + address + ":" + std::to_string(port));
  }
  return listener;
}

// The listening socket first, then (for kNoConnection) the connections that
// fill its queue: with a backlog of 0 one waiting connection fills it, and the
// kernel drops every later SYN.
std::vector<int> StallSockets(const ServiceOptions &options) {
  std::vector<int> sockets = {BoundSocket(options.bindAddress, options.port)};
  const bool full = options.stall == Stall::kNoConnection;
  listen(sockets[0], full ? 0 : 64);
  if (!full) return sockets;
  sockaddr_in target{};
  socklen_t length = sizeof target;
  getsockname(sockets[0], reinterpret_cast<sockaddr *>(&target), &length);
  for (int filler = 0; filler < 2; ++filler) {
    int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    connect(client, reinterpret_cast<sockaddr *>(&target), sizeof target);
    sockets.push_back(client);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return sockets;
}

}  // namespace

std::string RecordedRequest::Header(const std::string &name) const {
  for (const auto &field : headers) {
    if (EqualsIgnoringCase(field.first, name)) return field.second;
  }
  return {};
}

bool RecordedRequest::HasHeader(const std::string &name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto &field) { return EqualsIgnoringCase(field.first, name); });
}

Json RecordedRequest::ToJson() const {
  Json headerList = Json::array();
  for (const auto &field : headers) headerList.push_back({field.first, field.second});
  return {{"time", IsoTime(arrival)}, {"secondsSinceStart", secondsSinceStart},
          {"method", method},         {"path", path},
          {"target", target},         {"headers", headerList},
          {"body", body},             {"json", json},
          {"extra", extra},           {"malformed", malformed},
          {"status", status},         {"verdict", verdict}};
}

struct DevService::Impl {
  explicit Impl(ServiceOptions serviceOptions) : options(std::move(serviceOptions)), apiKeys(options.apiKeys) {}

  void Serve(const httplib::Request &request, httplib::Response &response);
  RecordedRequest Capture(const httplib::Request &request) const;
  Answer Route(RecordedRequest &request);
  bool TokenIssued(const std::string &token) const;
  std::optional<Fault> TakeFault(const std::string &path);
  void Record(const RecordedRequest &request);
  bool SleepUnlessStopping(std::chrono::milliseconds duration);
  void Respond(httplib::Response &response, const Answer &answer, const Fault *fault);

  ServiceOptions options;
  TlsIdentity identity;
  std::unique_ptr<httplib::SSLServer> server;
  std::vector<int> stallSockets;  // a stalled service's listener and queue fillers
  std::thread thread;
  int port = 0;
  std::chrono::steady_clock::time_point startedAt;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool stopping = false;
  std::map<std::string, std::string> apiKeys;
  std::optional<std::string> activationBody;
  std::vector<Fault> faults;
  std::vector<RecordedRequest> requests;
  std::ofstream recordStream;
};

RecordedRequest DevService::Impl::Capture(const httplib::Request &request) const {
  RecordedRequest recorded;
  recorded.arrival = std::chrono::system_clock::now();
  recorded.secondsSinceStart = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
  recorded.method = request.method;
  recorded.path = request.path;
  recorded.target = request.target;
  for (const auto &field : request.headers) {
    if (!IsConnectionPseudoHeader(field.first)) recorded.headers.emplace_back(field.first, field.second);
  }
  recorded.body = request.body;
  recorded.json = ParseJson(request.body);
  if (recorded.json.is_discarded()) {
    recorded.json = nullptr;
    recorded.malformed = true;
  }
  return recorded;
}

bool DevService::Impl::TokenIssued(const std::string &token) const {
  if (token.empty()) return false;
  return std::any_of(apiKeys.begin(), apiKeys.end(), [&](const auto &entry) { return entry.second == token; });
}

Answer DevService::Impl::Route(RecordedRequest &request) {
  const std::string &path = request.path;
  bool activation = path.rfind(kActivatePrefix, 0) == 0 && path.size() > kActivatePrefix.size();
  bool upload = path == kBroadcastPath || path == kEventPath;
  if (!activation && !upload) return JsonAnswer(404, {{"error", "not found"}}, "not-found");
  if (request.method != "POST") return JsonAnswer(405, {{"error", "method not allowed"}}, "method-not-allowed");
  if (path == kBroadcastPath && !request.malformed) CheckBroadcastBody(request);

  std::lock_guard<std::mutex> lock(mutex);
  if (activation) {
    auto key = apiKeys.find(path.substr(kActivatePrefix.size()));
    if (key == apiKeys.end()) return JsonAnswer(401, {{"error", "unknown API key"}}, "unauthorized");
    if (request.malformed) return JsonAnswer(400, {{"error", "body is not JSON"}}, "malformed");
    if (activationBody) return {200, *activationBody, "ok"};
    return JsonAnswer(200, {{"token", key->second}}, "ok");
  }
  if (!TokenIssued(request.Header("datakeytoken"))) {
    return JsonAnswer(401, {{"error", "invalid datakeytoken"}}, "unauthorized");
  }
  if (request.malformed) return JsonAnswer(400, {{"error", "body or extra is not JSON"}}, "malformed");
  return JsonAnswer(200, {{"status", "ok"}}, "ok");
}

std::optional<Fault> DevService::Impl::TakeFault(const std::string &path) {
  std::lock_guard<std::mutex> lock(mutex);
  for (auto fault = faults.begin(); fault != faults.end(); ++fault) {
    if (!fault->path.empty() && fault->path != path) continue;
    Fault taken = *fault;
    if (fault->count > 0 && --fault->count == 0) faults.erase(fault);
    return taken;
  }
  return std::nullopt;
}

void DevService::Impl::Record(const RecordedRequest &request) {
  std::lock_guard<std::mutex> lock(mutex);
  requests.push_back(request);
  if (recordStream.is_open()) {
    recordStream << request.ToJson().dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    recordStream.flush();
  }
  changed.notify_all();
}

bool DevService::Impl::SleepUnlessStopping(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex);
  return !changed.wait_for(lock, duration, [this] { return stopping; });
}

void DevService::Impl::Respond(httplib::Response &response, const Answer &answer, const Fault *fault) {
  response.status = answer.status;
  if (fault != nullptr && fault->redirect) {
    response.set_header("Location", fault->location);
  }
  // These statuses carry no body; one sent anyway would be read as the start of
  // the next answer on the kept-alive connection.
  if (answer.status == 204 || answer.status == 304) return;
  if (fault != nullptr && fault->endlessBody) {
    auto piece = std::make_shared<std::string>(fault->trickleChunkBytes != 0 ? fault->trickleChunkBytes : 16384, ' ');
    auto interval = fault->trickleInterval;
    response.set_chunked_content_provider("application/json", [this, piece, interval](size_t, httplib::DataSink &sink) {
      return SleepUnlessStopping(interval) && sink.write(piece->data(), piece->size());
    });
    return;
  }
  if (fault == nullptr || fault->trickleChunkBytes == 0) {
    response.set_content(answer.body, "application/json");
    return;
  }
  size_t chunk = fault->trickleChunkBytes;
  auto interval = fault->trickleInterval;
  auto body = std::make_shared<std::string>(answer.body);
  response.set_content_provider(body->size(), "application/json",
                                [this, body, chunk, interval](size_t offset, size_t length, httplib::DataSink &sink) {
                                  if (!SleepUnlessStopping(interval)) return false;
                                  sink.write(body->data() + offset, std::min(chunk, length));
                                  return true;
                                });
}

void DevService::Impl::Serve(const httplib::Request &request, httplib::Response &response) {
  RecordedRequest recorded = Capture(request);
  Answer answer = Route(recorded);
  std::optional<Fault> fault = TakeFault(recorded.path);
  if (fault) {
    if (fault->status != 0) {
      answer = JsonAnswer(fault->status, {{"error", "injected status"}}, "injected-status");
    }
    if (fault->redirect) {
      if (fault->location.empty()) fault->location = recorded.path + "?redirected=1";
      answer = JsonAnswer(fault->status != 0 ? fault->status : 307, {{"location", fault->location}}, "redirected");
    }
    if (fault->body) answer.body = *fault->body;
    if (fault->closeWithoutAnswer) answer = {0, "", "dropped"};
  }
  recorded.status = answer.status;
  recorded.verdict = answer.verdict;
  Record(recorded);

  if (fault && fault->delay.count() > 0) SleepUnlessStopping(fault->delay);
  if (fault && fault->closeWithoutAnswer) {
    ShutDownServerSockets(port, [&](int fd) { return PeerMatches(fd, request.remote_addr, request.remote_port); });
    response.status = 500;
    return;
  }
  Respond(response, answer, fault ? &*fault : nullptr);
}

DevService::DevService(ServiceOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DevService::~DevService() { Stop(); }

void DevService::Start() {
  Impl &impl = *impl_;
  if (impl.server || !impl.stallSockets.empty()) throw std::runtime_error("dev service already started");
  if (impl.options.stall != Stall::kNone) {
    impl.stallSockets = StallSockets(impl.options);
    impl.port = LocalPort(impl.stallSockets[0]);
    return;
  }
  impl.identity = impl.options.identity ? *impl.options.identity : GenerateTlsIdentity(impl.options.certificateNames);
  const TlsIdentity &identity = impl.identity;
  const ServiceOptions &options = impl.options;
  impl.server = std::make_unique<httplib::SSLServer>([&identity, &options](SSL_CTX &context) {
    return ConfigureTls(context, identity, options);
  });
  httplib::SSLServer &server = *impl.server;
  if (!server.is_valid()) throw std::runtime_error("dev service: the TLS certificate or key does not load");
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_keep_alive_max_count(kKeepAliveRequests);
  auto handler = [&impl](const httplib::Request &request, httplib::Response &response) {
    impl.Serve(request, response);
  };
  const char *everything = ".*";
  server.Get(everything, handler);
  server.Post(everything, handler);
  server.Put(everything, handler);
  server.Patch(everything, handler);
  server.Delete(everything, handler);
  server.Options(everything, handler);

  const std::string &address = impl.options.bindAddress;
  impl.port = impl.options.port == 0 ? server.bind_to_any_port(address)
                                     : (server.bind_to_port(address, impl.options.port) ? impl.options.port : -1);
  if (impl.port <= 0) {
    impl.server.reset();
    throw std::runtime_error("dev service: cannot listen on " + address + ":" + std::to_string(impl.options.port));
  }
  if (!impl.options.recordFile.empty()) impl.recordStream.open(impl.options.recordFile, std::ios::app);
  impl.stopping = false;
  impl.startedAt = std::chrono::steady_clock::now();
  impl.thread = std::thread([&server] {
    // Writing to a connection dropped on purpose must not raise SIGPIPE; the
    // server's worker threads inherit this mask.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    server.listen_after_bind();
  });
  // Stop() only reaches a server that is already running.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DevService::Stop() {
  Impl &impl = *impl_;
  for (int socket : impl.stallSockets) close(socket);
  impl.stallSockets.clear();
  if (!impl.server) return;
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    impl.stopping = true;
    impl.changed.notify_all();
  }
  impl.server->stop();
  // Kept-alive connections would otherwise hold the server's threads until
  // their idle timeout.
  ShutDownServerSockets(impl.port, HasPeer);
  if (impl.thread.joinable()) impl.thread.join();
  impl.server.reset();
  impl.recordStream.close();
}

int DevService::Port() const { return impl_->port; }

std::string DevService::BaseUrl(const std::string &host) const {
  std::string authority = host.empty() ? impl_->options.bindAddress : host;
  if (authority.find(':') != std::string::npos) authority = "[" + authority + "]";
  if (impl_->port != 443) authority += ":" + std::to_string(impl_->port);
  return "https://" + authority + kApiPrefix;
}

const TlsIdentity &DevService::Identity() const { return impl_->identity; }

void DevService::AddApiKey(const std::string &apiKey, const std::string &token) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->apiKeys[apiKey] = token;
}

void DevService::SetActivationBody(std::optional<std::string> body) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->activationBody = std::move(body);
}

void DevService::AddFault(const Fault &fault) {
  if (fault.count == 0) return;
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.push_back(fault);
}

void DevService::ClearFaults() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.clear();
}

std::vector<RecordedRequest> DevService::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}

size_t DevService::RequestCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests.size();
}

bool DevService::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

void DevService::ClearRequests() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->requests.clear();
}

bool DevService::DumpJsonLines(const std::string &path) const {
  std::ofstream file(path, std::ios::trunc);
  if (!file) return false;
  for (const RecordedRequest &request : Requests()) {
    file << request.ToJson().dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
  }
  return static_cast<bool>(file);
}

}  // namespace tralix::dev
