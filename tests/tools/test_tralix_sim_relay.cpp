// tralix-sim against a service outside the sandbox it makes for itself: the
// plug-in's connections to api.tralix.net:443 inside are relayed byte for byte
// to the service's address outside, and only --ca makes its certificate
// trusted. This test runs outside any sandbox (sandboxes do not nest), with the
// service on a free loopback port.
#include "DevService.h"
#include "test_tralix_sim_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace tralix_sim_test;

TEST(TralixSimRelay, ServiceOutsideItsSandboxIsReachedAndTrustedOnlyThroughTheGivenCa) {
  for (const bool trustItsCa : {true, false}) {
    SCOPED_TRACE(trustItsCa ? "with --ca" : "without --ca");
    const fs::path folder = TestFolder() / (trustItsCa ? "trusted" : "untrusted");
    fs::create_directories(folder);
    tralix::dev::ServiceOptions options;
    options.apiKeys["staging-key"] = "staging-token";
    options.certificateNames = {"api.tralix.net"};
    tralix::dev::DevService service(options);
    service.Start();
    std::ofstream(folder / "ca.pem") << service.Identity().caCertificatePem;
    std::vector<std::string> arguments = {"--out", (folder / "out").string(), "--service",
                                          "127.0.0.1:" + std::to_string(service.Port()), "--api-key", "staging-key",
                                          "--speed", "60", "--until", "12", Flight("circuit-2min.flight")};
    if (trustItsCa) arguments.insert(arguments.begin(), {"--ca", (folder / "ca.pem").string()});
    const Outcome run = RunSim(arguments, folder, true);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto requests = service.Requests();
    if (!trustItsCa) {
      // TLS still runs between the plug-in and the service: nothing gets through.
      EXPECT_TRUE(Has(run.out, "start-up: activation failed")) << run.out;
      EXPECT_TRUE(requests.empty());
      continue;
    }
    ASSERT_GT(requests.size(), 5u);
    EXPECT_EQ(requests.front().path, "/api/v1/apiKey/activate/staging-key");
    EXPECT_EQ(requests.back().path, "/api/v1/data/client/broadcast");
    EXPECT_EQ(requests.back().Header("datakeytoken"), "staging-token");
    EXPECT_TRUE(Has(run.out, std::to_string(requests.size() - 1) + " requests answered 2xx")) << run.out;
  }
}

}  // namespace
