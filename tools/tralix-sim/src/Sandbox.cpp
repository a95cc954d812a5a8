// Re-running under tools/sandbox/tralix-sandbox, the socket relay to a service
// outside its network namespace, and the extra trusted CA.
#include "Sandbox.h"

#include "FlightProfile.h"

#include "SimOptions.h"
#include "TextUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tralix_sim {
namespace {

namespace fs = std::filesystem;

constexpr char kRelayVariable[] = "TRALIX_SIM_RELAY_FD";
constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";
constexpr int kConnectTimeoutMs = 5000;

bool IsExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

std::string SelfExecutable() {
  std::error_code failure;
  const fs::path self = fs::read_symlink("/proc/self/exe", failure);
  return failure ? std::string() : self.string();
}

std::vector<char*> ArgvOf(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// Connects to host:port from outside the sandbox, giving up after a while.
int ConnectTo(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  int connected = -1;
  for (addrinfo* address = found; address && connected < 0; address = address->ai_next) {
    const int sock = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0) continue;
    int status = connect(sock, address->ai_addr, address->ai_addrlen);
    if (status != 0 && errno == EINPROGRESS) {
      pollfd waiting{sock, POLLOUT, 0};
      int soError = ETIMEDOUT;
      socklen_t length = sizeof(soError);
      if (poll(&waiting, 1, kConnectTimeoutMs) == 1) getsockopt(sock, SOL_SOCKET, SO_ERROR, &soError, &length);
      status = soError == 0 ? 0 : -1;
    }
    if (status == 0) {
      fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) & ~O_NONBLOCK);
      connected = sock;
    } else {
      close(sock);
    }
  }
  freeaddrinfo(found);
  return connected;
}

// One answer on the control socket: a status byte, and the socket when it is 1.
void AnswerConnectRequest(int control, int sock) {
  char status = sock >= 0 ? 1 : 0;
  iovec part{&status, 1};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
  if (sock >= 0) {
    message.msg_control = space;
    message.msg_controllen = sizeof(space);
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &sock, sizeof(int));
  }
  sendmsg(control, &message, MSG_NOSIGNAL);
  if (sock >= 0) close(sock);
}

// Outside: connects a socket for every request from inside until the inner run ends.
int ServeRelayUntilExit(int control, pid_t child, const std::string& host, int port) {
  for (;;) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    pollfd waiting{control, POLLIN, 0};
    if (poll(&waiting, 1, 200) != 1) continue;
    char request = 0;
    const ssize_t got = recv(control, &request, 1, 0);
    if (got == 1) {
      AnswerConnectRequest(control, ConnectTo(host, port));
    } else if (got == 0) {
      waitpid(child, &status, 0);
      return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
  }
}

int ReceiveSocket(int control) {
  char status = 0;
  iovec part{&status, 1};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = space;
  message.msg_controllen = sizeof(space);
  if (recvmsg(control, &message, MSG_CMSG_CLOEXEC) != 1 || status != 1) return -1;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (!header || header->cmsg_type != SCM_RIGHTS) return -1;
  int sock = -1;
  std::memcpy(&sock, CMSG_DATA(header), sizeof(int));
  return sock;
}

// Copies bytes both ways until both sides have finished or the relay stops.
void Pump(int inside, int outside, int stopFd) {
  bool open[2] = {true, true};  // inside->outside, outside->inside
  const int from[2] = {inside, outside};
  const int to[2] = {outside, inside};
  char buffer[16384];
  while (open[0] || open[1]) {
    pollfd waiting[3] = {{open[0] ? inside : -1, POLLIN, 0}, {open[1] ? outside : -1, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (poll(waiting, 3, -1) < 0 && errno != EINTR) break;
    if (waiting[2].revents) break;
    for (int side = 0; side < 2; ++side) {
      if (!open[side] || !(waiting[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t got = read(from[side], buffer, sizeof(buffer));
      bool ok = got > 0;
      for (ssize_t sent = 0; ok && sent < got;) {
        const ssize_t wrote = send(to[side], buffer + sent, static_cast<size_t>(got - sent), MSG_NOSIGNAL);
        ok = wrote > 0;
        sent += ok ? wrote : 0;
      }
      if (!ok) {
        open[side] = false;
        shutdown(to[side], SHUT_WR);
      }
    }
  }
  close(inside);
  close(outside);
}

}  // namespace

bool InsideSandbox() {
  const char* flag = std::getenv("TRALIX_SANDBOX");
  return flag && *flag;
}

std::string FindSandboxScript() {
  const char* named = std::getenv("TRALIX_SANDBOX_SCRIPT");
  if (named && *named) return IsExecutable(named) ? named : "";
  std::vector<std::string> candidates;
  const std::string self = SelfExecutable();
  // <build>/tools/tralix-sim/tralix-sim, the build folder inside the source tree.
  if (!self.empty())
    candidates.push_back((fs::path(self).parent_path() / "../../../tools/sandbox/tralix-sandbox").string());
#ifdef TRALIX_SOURCE_DIR
  candidates.push_back(std::string(TRALIX_SOURCE_DIR) + "/tools/sandbox/tralix-sandbox");
#endif
  for (const std::string& candidate : candidates) {
    std::error_code failure;
    const fs::path resolved = fs::weakly_canonical(candidate, failure);
    if (!failure && IsExecutable(resolved.string())) return resolved.string();
  }
  return {};
}

int RunInsideSandbox(const std::vector<std::string>& arguments, const std::string& serviceAddress,
                     std::string* error) {
  const std::string script = FindSandboxScript();
  const std::string self = SelfExecutable();
  if (script.empty() || self.empty()) {
    *error = "cannot find tools/sandbox/tralix-sandbox (set TRALIX_SANDBOX_SCRIPT, or run with --no-sandbox "
             "where api.tralix.net already reaches your service)";
    return -1;
  }
  std::vector<std::string> words = {script, "--", self};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::fflush(stdout);
  if (serviceAddress.empty()) {
    std::vector<char*> argv = ArgvOf(words);
    execv(script.c_str(), argv.data());
    *error = "cannot run " + script + ": " + std::strerror(errno);
    return -1;
  }

  std::string host;
  int port = 0;
  SplitHostPort(serviceAddress, &host, &port);
  const int probe = ConnectTo(host, port);
  if (probe < 0) {
    *error = "cannot connect to the service at " + serviceAddress;
    return -1;
  }
  close(probe);
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    *error = std::string("socketpair: ") + std::strerror(errno);
    return -1;
  }
  const pid_t child = fork();
  if (child < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return -1;
  }
  if (child == 0) {
    close(ends[0]);
    fcntl(ends[1], F_SETFD, 0);  // the inner run inherits it
    setenv(kRelayVariable, std::to_string(ends[1]).c_str(), 1);
    std::vector<char*> argv = ArgvOf(words);
    execv(script.c_str(), argv.data());
    std::fprintf(stderr, "tralix-sim: cannot run %s: %s\n", script.c_str(), std::strerror(errno));
    _exit(127);
  }
  close(ends[1]);
  // Ctrl+C ends the inner run's flight; this side keeps relaying until it has reported.
  std::signal(SIGINT, SIG_IGN);
  const int status = ServeRelayUntilExit(ends[0], child, host, port);
  close(ends[0]);
  return status;
}

int RelayControlSocket() {
  const char* value = std::getenv(kRelayVariable);
  int control = -1;
  if (!value || !ParseWholeNumber(value, &control) || control < 0) return -1;
  if (fcntl(control, F_SETFD, FD_CLOEXEC) != 0) return -1;  // no clipboard tool inherits it
  return control;
}

Relay::Relay(int controlSocket) : control_(controlSocket) {}

Relay::~Relay() { Stop(); }

bool Relay::Start(std::string* error) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int reuse = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(443);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, 16) != 0 || pipe2(stopPipe_, O_CLOEXEC) != 0) {
    *error = std::string("cannot listen on 127.0.0.1:443 for the relay: ") + std::strerror(errno);
    return false;
  }
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void Relay::Stop() {
  if (stopPipe_[1] >= 0) {
    const char wake = 1;
    const ssize_t ignored = write(stopPipe_[1], &wake, 1);  // a full pipe is awake already
    (void)ignored;
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  {
    std::lock_guard<std::mutex> lock(pumpsMutex_);
    for (std::thread& pump : pumps_) pump.join();
    pumps_.clear();
  }
  for (int* fd : {&listener_, &stopPipe_[0], &stopPipe_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

int Relay::ConnectOutside() {
  const char request = 'c';
  if (send(control_, &request, 1, MSG_NOSIGNAL) != 1) return -1;
  return ReceiveSocket(control_);
}

void Relay::AcceptLoop() {
  for (;;) {
    pollfd waiting[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(waiting, 2, -1) < 0 && errno != EINTR) return;
    if (waiting[1].revents) return;
    if (!(waiting[0].revents & POLLIN)) continue;
    const int inside = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (inside < 0) continue;
    const int outside = ConnectOutside();
    if (outside < 0) {
      ++refused_;
      close(inside);
      continue;
    }
    ++connections_;
    std::lock_guard<std::mutex> lock(pumpsMutex_);
    pumps_.emplace_back(Pump, inside, outside, stopPipe_[0]);
  }
}

bool TrustCertificateAuthority(const std::string& caFile, std::string* error) {
  std::string caText;
  if (!flight_profile::ReadWholeFile(caFile, kMaxCaBytes, &caText, error)) {
    *error = "--ca: " + *error;
    return false;
  }
  if (caText.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    *error = "cannot read a PEM certificate from " + caFile;
    return false;
  }
  // The sandbox binds a private, already unlinked copy over the system bundle;
  // only that copy is ever written, never the machine's own bundle.
  const int bundle = open(kSystemBundle, O_WRONLY | O_APPEND | O_CLOEXEC);
  struct stat info {};
  if (bundle < 0 || fstat(bundle, &info) != 0 || info.st_nlink != 0) {
    if (bundle >= 0) close(bundle);
    *error = std::string("the CA bundle ") + kSystemBundle + " is not the sandbox's private copy; not adding " + caFile;
    return false;
  }
  const std::string text = "\n" + caText;
  const bool written = write(bundle, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(bundle);
  if (!written) *error = std::string("cannot add the CA to ") + kSystemBundle + ": " + std::strerror(errno);
  return written;
}

}  // namespace tralix_sim
