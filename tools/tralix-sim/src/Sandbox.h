// Running inside tools/sandbox/tralix-sandbox: private network and mount
// namespaces where api.tralix.net is 127.0.0.1 and a test CA is trusted. For a
// service outside, connections to api.tralix.net:443 inside are relayed to it
// through sockets that the process outside the namespaces connects.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tralix_sim {

bool InsideSandbox();

// The sandbox script: $TRALIX_SANDBOX_SCRIPT, or tools/sandbox/tralix-sandbox
// found from this binary's place in the build tree or the source tree it was
// built from. Empty when none is found.
std::string FindSandboxScript();

// Runs this program again inside the sandbox with the same arguments. With a
// service address, stays outside to connect sockets to it for the relay inside
// and returns the inner run's exit status; otherwise replaces this process.
// Returns -1 with error set when it cannot start.
int RunInsideSandbox(const std::vector<std::string>& arguments, const std::string& serviceAddress,
                     std::string* error);

// The control socket the outside process serves, when this run is the inner
// one of RunInsideSandbox with a service address; -1 otherwise.
int RelayControlSocket();

// Listens on 127.0.0.1:443 inside the sandbox and pipes every connection to a
// socket connected outside.
class Relay {
 public:
  explicit Relay(int controlSocket);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  bool Start(std::string* error);
  void Stop();
  int Connections() const { return connections_; }
  int RefusedConnections() const { return refused_; }

 private:
  void AcceptLoop();
  int ConnectOutside();

  int control_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::thread acceptThread_;
  std::mutex pumpsMutex_;
  std::vector<std::thread> pumps_;
  std::atomic<int> connections_{0};
  std::atomic<int> refused_{0};
};

// Adds the CA certificate in caFile to the system CA bundle as this mount
// namespace sees it: the sandbox's private copy, never the machine's own.
bool TrustCertificateAuthority(const std::string& caFile, std::string* error);

}  // namespace tralix_sim
