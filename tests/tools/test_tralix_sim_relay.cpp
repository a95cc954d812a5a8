// tralix-sim against a service outside the sandbox it makes for itself: the
// plug-in's connections to api.tralix.net:443 inside are relayed to the
// service's address outside, and --ca makes its certificate trusted. This test
// runs outside any sandbox (sandboxes do not nest), with the service on a free
// loopback port.
#include "DevService.h"
#include "test_tralix_sim_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace tralix_sim_test;
namespace fs = std::filesystem;

tralix::dev::ServiceOptions StagingService() {
  tralix::dev::ServiceOptions options;
  options.apiKeys["staging-key"] = "staging-token";
  options.certificateNames = {"api.tralix.net"};
  return options;
}

Outcome FlyAgainst(const tralix::dev::DevService& service, const fs::path& folder, bool trustItsCa) {
  std::ofstream(folder / "ca.pem") << service.Identity().caCertificatePem;
  std::vector<std::string> arguments = {"--out", (folder / "out").string(), "--service",
                                        "127.0.0.1:" + std::to_string(service.Port()), "--api-key", "staging-key",
                                        "--speed", "60", "--until", "30", Flight("circuit-2min.flight")};
  if (trustItsCa) arguments.insert(arguments.begin(), {"--ca", (folder / "ca.pem").string()});
  return RunSim(arguments, folder, true);
}

TEST(TralixSimRelay, ServiceOutsideItsSandboxIsReachedAndTrusted) {
  const fs::path folder = TestFolder();
  tralix::dev::DevService service(StagingService());
  service.Start();
  const Outcome run = FlyAgainst(service, folder, true);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "start-up: API key activated, token saved")) << run.out;
  const auto requests = service.Requests();
  ASSERT_GT(requests.size(), 10u);
  EXPECT_EQ(requests.front().path, "/api/v1/apiKey/activate/staging-key");
  EXPECT_EQ(requests.back().path, "/api/v1/data/client/broadcast");
  EXPECT_EQ(requests.back().Header("datakeytoken"), "staging-token");
  EXPECT_TRUE(Has(run.out, std::to_string(requests.size() - 1) + " requests answered 2xx")) << run.out;
}

// The relay carries bytes only: TLS is still between the plug-in and the
// service, and a certificate nobody vouched for stops the exchange.
TEST(TralixSimRelay, ServiceWithAnUntrustedCertificateIsRefused) {
  const fs::path folder = TestFolder();
  tralix::dev::DevService service(StagingService());
  service.Start();
  const Outcome run = FlyAgainst(service, folder, false);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "start-up: activation failed")) << run.out;
  EXPECT_TRUE(Has(run.out, "Broadcasts  0 sent")) << run.out;
  EXPECT_EQ(service.RequestCount(), 0u);
}

}  // namespace
