// The Tralix service stand-in: an HTTPS server on a loopback address that
// answers activation, broadcasts and landing events as the service does,
// checks every body, records every request, and misbehaves on request.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tralix::dev {

// PEM texts of a server certificate, its key and the CA that signed it.
struct TlsIdentity {
  std::string certificatePem;
  std::string privateKeyPem;
  std::string caCertificatePem;
};

// A fresh test CA and a server certificate for `names` (host names, or IP
// literals), valid from an hour ago for 30 days. Throws std::runtime_error.
TlsIdentity GenerateTlsIdentity(const std::vector<std::string> &names);
// A server certificate for `names` signed by an existing CA (PEM texts), with
// an RSA key when rsaKey is set (static-RSA suites need one), EC P-256 otherwise.
// Throws std::runtime_error.
TlsIdentity IssueTlsIdentity(const std::string &caCertificatePem, const std::string &caPrivateKeyPem,
                             const std::vector<std::string> &names, bool rsaKey = false);
// Reads PEM files; caFile may be empty. Throws std::runtime_error.
TlsIdentity LoadTlsIdentity(const std::string &certificateFile, const std::string &privateKeyFile,
                            const std::string &caFile = "");

// A service that stops below HTTP, so that a client's own bounds are all that
// end its request: kNoTls takes the connection (the kernel completes it; it is
// never accepted) and never sends a TLS byte; kNoConnection keeps its listen
// queue full, so connecting never completes.
enum class Stall { kNone, kNoTls, kNoConnection };

struct ServiceOptions {
  std::string bindAddress = "127.0.0.1";
  int port = 0;  // 0: any free port
  // Used when set; otherwise one is generated for certificateNames.
  std::optional<TlsIdentity> identity;
  std::vector<std::string> certificateNames = {"localhost", "127.0.0.1", "api.tralix.net"};
  std::map<std::string, std::string> apiKeys;  // API key -> the data token it activates to
  std::string recordFile;  // when set, every request is appended to it as a JSON line on arrival
  // What TLS the server offers, to test clients against weak servers: only this
  // one version ("1.1", "1.2"; empty: 1.2 and later), and these TLS 1.2 suites
  // (OpenSSL cipher list; empty: OpenSSL's defaults).
  std::string tlsOnlyVersion;
  std::string tlsCiphers;
  Stall stall = Stall::kNone;  // anything but kNone: no HTTP, no TLS, nothing recorded
};

struct RecordedRequest {
  std::chrono::system_clock::time_point arrival;
  double secondsSinceStart = 0;
  std::string method;
  std::string path;    // decoded, without the query
  std::string target;  // as sent on the request line
  std::vector<std::pair<std::string, std::string>> headers;  // as received, ordered by name
  std::string body;    // raw bytes
  nlohmann::json json;   // the parsed body; null when it is not valid JSON
  nlohmann::json extra;  // a broadcast's "extra" member parsed again; null otherwise
  bool malformed = false;  // a body or "extra" that is not valid JSON
  int status = 0;          // status answered (0 when the connection was closed without one)
  // "ok", "unauthorized" (bad or missing token, unknown API key), "malformed",
  // "not-found", "method-not-allowed", "injected-status", "redirected", "dropped".
  std::string verdict;

  // Header value by case-insensitive name; empty when absent.
  std::string Header(const std::string &name) const;
  bool HasHeader(const std::string &name) const;
  nlohmann::json ToJson() const;
};

// A misbehaviour for the next `count` requests to `path` (any path when empty).
struct Fault {
  std::string path;
  int count = 1;  // -1: until cleared
  int status = 0;  // answer with this status and a small JSON body (0: the normal answer)
  std::chrono::milliseconds delay{0};  // wait before answering
  bool closeWithoutAnswer = false;     // after the delay, drop the connection without a byte
  bool redirect = false;               // answer `status` (307 when 0) to `location`
  std::string location;                // empty: the same path with "?redirected=1"
  size_t trickleChunkBytes = 0;        // send the answer's body this many bytes at a time ...
  std::chrono::milliseconds trickleInterval{0};  // ... with this pause before each piece
  std::optional<std::string> body;     // replaces the answer's body
  bool endlessBody = false;  // a 200 whose chunked body never ends (pieces of trickleChunkBytes, or 16 KiB)
};

class DevService {
 public:
  explicit DevService(ServiceOptions options = {});
  ~DevService();
  DevService(const DevService &) = delete;
  DevService &operator=(const DevService &) = delete;

  // Listens and serves on a background thread. Throws std::runtime_error when
  // the address cannot be bound or the identity does not load.
  void Start();
  // Drops open connections, wakes delayed answers, joins. Safe to call twice.
  void Stop();

  int Port() const;
  // "https://<host>:<port>/api/v1"; host defaults to the bind address.
  std::string BaseUrl(const std::string &host = "") const;
  const TlsIdentity &Identity() const;

  void AddApiKey(const std::string &apiKey, const std::string &token);
  // The body of every later successful activation; nullopt restores {"token":...}.
  void SetActivationBody(std::optional<std::string> body);
  void AddFault(const Fault &fault);
  void ClearFaults();

  std::vector<RecordedRequest> Requests() const;
  size_t RequestCount() const;
  // Waits until at least `count` requests were recorded.
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  void ClearRequests();
  // Writes every recorded request as one JSON object per line.
  bool DumpJsonLines(const std::string &path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tralix::dev
