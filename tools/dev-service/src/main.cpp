// tralix-dev-service: runs the service stand-in until interrupted.
#include "DevService.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

namespace {

constexpr char kDemoApiKey[] = "TRALIX-DEMO-KEY";
constexpr char kDemoToken[] = "demo-data-token";

void PrintHelp() {
  std::printf(
      "Usage: tralix-dev-service [options]\n"
      "Serves the Tralix service API (/api/v1) over HTTPS for tests and demos.\n\n"
      "  --bind ADDRESS         address to listen on (default 127.0.0.1)\n"
      "  --port N               port (default 8443; 0 picks a free one)\n"
      "  --cert FILE --key FILE serve with this PEM certificate (chain) and key;\n"
      "                         default: $TRALIX_SANDBOX_CERT and $TRALIX_SANDBOX_KEY when set,\n"
      "                         otherwise a new test CA and certificate are generated\n"
      "  --name NAME            a name for the generated certificate (repeatable;\n"
      "                         default localhost, 127.0.0.1, api.tralix.net)\n"
      "  --ca-out FILE          write the generated CA certificate here, for clients to trust\n"
      "  --api-key KEY[=TOKEN]  accept this API key, activating to TOKEN (repeatable;\n"
      "                         default: %s=%s)\n"
      "  --record FILE          append every request to FILE as a JSON line\n"
      "  --help                 show this text\n\n"
      "Endpoints: POST /api/v1/apiKey/activate/<key>, /api/v1/data/client/broadcast,\n"
      "/api/v1/data/client/event. Stops on SIGINT or SIGTERM.\n",
      kDemoApiKey, kDemoToken);
}

struct Arguments {
  tralix::dev::ServiceOptions options;
  std::string certificateFile, keyFile, caOut;
  std::vector<std::string> names;
};

bool Parse(int argc, char **argv, Arguments &arguments) {
  auto &options = arguments.options;
  options.port = 8443;
  for (int index = 1; index < argc; ++index) {
    std::string flag = argv[index];
    if (flag == "--help" || flag == "-h") {
      PrintHelp();
      std::exit(0);
    }
    if (index + 1 >= argc) {
      std::fprintf(stderr, "tralix-dev-service: %s needs a value (see --help)\n", flag.c_str());
      return false;
    }
    std::string value = argv[++index];
    if (flag == "--bind") options.bindAddress = value;
    else if (flag == "--port") options.port = std::atoi(value.c_str());
    else if (flag == "--cert") arguments.certificateFile = value;
    else if (flag == "--key") arguments.keyFile = value;
    else if (flag == "--name") arguments.names.push_back(value);
    else if (flag == "--ca-out") arguments.caOut = value;
    else if (flag == "--record") options.recordFile = value;
    else if (flag == "--api-key") {
      size_t equals = value.find('=');
      std::string key = value.substr(0, equals);
      options.apiKeys[key] = equals == std::string::npos ? "token-" + key : value.substr(equals + 1);
    } else {
      std::fprintf(stderr, "tralix-dev-service: unknown option %s (see --help)\n", flag.c_str());
      return false;
    }
  }
  return true;
}

void ChooseIdentity(Arguments &arguments) {
  const char *sandboxCert = std::getenv("TRALIX_SANDBOX_CERT");
  const char *sandboxKey = std::getenv("TRALIX_SANDBOX_KEY");
  if (arguments.certificateFile.empty() && sandboxCert != nullptr && sandboxKey != nullptr) {
    arguments.certificateFile = sandboxCert;
    arguments.keyFile = sandboxKey;
  }
  if (!arguments.certificateFile.empty()) {
    arguments.options.identity = tralix::dev::LoadTlsIdentity(arguments.certificateFile, arguments.keyFile);
  } else if (!arguments.names.empty()) {
    arguments.options.certificateNames = arguments.names;
  }
}

}  // namespace

int main(int argc, char **argv) {
  Arguments arguments;
  if (!Parse(argc, argv, arguments)) return 2;
  if (arguments.options.apiKeys.empty()) arguments.options.apiKeys[kDemoApiKey] = kDemoToken;

  // Block the stop signals before any thread starts, then wait for one.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  // A shell starts background jobs with SIGINT ignored; sigwait needs it live.
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    ChooseIdentity(arguments);
    tralix::dev::DevService service(arguments.options);
    service.Start();
    if (!arguments.caOut.empty()) {
      std::ofstream(arguments.caOut) << service.Identity().caCertificatePem;
    }
    std::printf("tralix-dev-service: listening on %s\n", service.BaseUrl().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    service.Stop();
    std::printf("tralix-dev-service: stopped after %zu requests\n", service.RequestCount());
  } catch (const std::exception &error) {
    std::fprintf(stderr, "tralix-dev-service: %s\n", error.what());
    return 1;
  }
  return 0;
}
