// The service stand-in's judgement of each request, which the end-to-end tests
// take on trust (they assert "ok"). A fault that hit the wrong requests would
// fail those tests, so the faults are proven there.
#include "DevService.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <fstream>

#include <unistd.h>

namespace {

using tralix::dev::DevService;
using tralix::dev::ServiceOptions;

const std::string kActivate = "/api/v1/apiKey/activate/";
const std::string kBroadcast = "/api/v1/data/client/broadcast";
const std::string kEvent = "/api/v1/data/client/event";
const std::string kValidBroadcast = R"({"key":"KEY-1","latitude":1.5,"extra":"{\"gear\":1}"})";

// Tests run in parallel processes: every scratch file carries the process id.
std::string TemporaryPath(const std::string &name) {
  return ::testing::TempDir() + std::to_string(getpid()) + "-" + name;
}

class DevServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServiceOptions options;
    options.apiKeys = {{"KEY-1", "token-1"}, {"KEY-2", "token-2"}};
    options.recordFile = recordFile;
    std::remove(recordFile.c_str());
    service = std::make_unique<DevService>(options);
    service->Start();
    std::ofstream(caFile) << service->Identity().caCertificatePem;
  }

  // The answer's status (-1 when none came) and body.
  std::pair<int, std::string> Post(const std::string &path, const std::string &body = "{}",
                                   const std::string &token = "token-1") const {
    httplib::SSLClient client("localhost", service->Port());
    client.set_ca_cert_path(caFile.c_str());
    client.enable_server_certificate_verification(true);
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("datakeytoken", token);
    auto result = client.Post(path.c_str(), headers, body, "application/json");
    return result ? std::make_pair(result->status, result->body) : std::make_pair(-1, std::string());
  }

  std::string recordFile = TemporaryPath("dev-service-record.jsonl");
  std::string caFile = TemporaryPath("dev-service-ca.pem");
  std::unique_ptr<DevService> service;
};

TEST_F(DevServiceTest, JudgesEveryRequestAndRecordsItAsAJsonLine) {
  struct Case {
    std::string path;
    std::string body;
    std::string token;
    int status;
    std::string verdict;
  };
  const Case cases[] = {
      {kActivate + "KEY-2", "{}", "", 200, "ok"},
      {kActivate + "KEY-3", "{}", "", 401, "unauthorized"},
      {kActivate + "KEY-1", "{", "", 400, "malformed"},
      {kBroadcast, kValidBroadcast, "token-1", 200, "ok"},
      {kBroadcast, kValidBroadcast, "", 401, "unauthorized"},
      {kBroadcast, R"({"key":"a"b","extra":"{}"})", "token-1", 400, "malformed"},
      {kBroadcast, R"({"key":"KEY-1","extra":"{gear:1}"})", "token-1", 400, "malformed"},
      {kBroadcast, R"({"key":"KEY-1"})", "token-2", 400, "malformed"},
      {kEvent, R"({"event":"LandingRate","data":{"points":[]}})", "token-1", 200, "ok"},
      {kEvent, std::string(300, '[') + std::string(300, ']'), "token-1", 400, "malformed"},  // too deep to parse safely
      {"/api/v1/no/such", "{}", "token-1", 404, "not-found"},
  };
  for (const Case &test : cases) {
    EXPECT_EQ(Post(test.path, test.body, test.token).first, test.status) << test.path << " " << test.body;
    EXPECT_EQ(service->Requests().back().verdict, test.verdict) << test.path << " " << test.body;
  }

  std::ifstream lines(recordFile);  // the developer's log: one JSON line per request
  size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
  EXPECT_EQ(count, std::size(cases));
}

}  // namespace
