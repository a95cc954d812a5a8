// The service stand-in as a client sees it, over HTTPS that trusts its CA.
#include "DevService.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using tralix::dev::DevService;
using tralix::dev::Fault;
using tralix::dev::ServiceOptions;

const std::string kActivate = "/api/v1/apiKey/activate/";
const std::string kBroadcast = "/api/v1/data/client/broadcast";
const std::string kEvent = "/api/v1/data/client/event";
const std::string kValidBroadcast = R"({"key":"KEY-1","latitude":1.5,"extra":"{\"gear\":1}"})";

// Tests run in parallel processes: every scratch file carries the process id.
std::string TemporaryPath(const std::string &name) {
  return ::testing::TempDir() + std::to_string(getpid()) + "-" + name;
}

std::string WriteTemporary(const std::string &name, const std::string &content) {
  std::string path = TemporaryPath(name);
  std::ofstream(path) << content;
  return path;
}

int StatusOf(const httplib::Result &result) { return result ? result->status : -1; }
std::string BodyOf(const httplib::Result &result) { return result ? result->body : "(no answer)"; }

Fault FaultOn(const std::string &path, int count = 1) {
  Fault fault;
  fault.path = path;
  fault.count = count;
  return fault;
}

class DevServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServiceOptions options;
    options.apiKeys = {{"KEY-1", "token-1"}, {"KEY-2", "token-2"}};
    options.recordFile = TemporaryPath("dev-service-record.jsonl");
    std::remove(options.recordFile.c_str());
    recordFile = options.recordFile;
    service = std::make_unique<DevService>(options);
    service->Start();
    caFile = WriteTemporary("dev-service-ca.pem", service->Identity().caCertificatePem);
  }

  std::unique_ptr<httplib::SSLClient> Client(const std::string &host = "localhost") const {
    auto client = std::make_unique<httplib::SSLClient>(host, service->Port());
    client->set_ca_cert_path(caFile.c_str());
    client->enable_server_certificate_verification(true);
    client->set_read_timeout(10, 0);
    return client;
  }

  httplib::Result Post(const std::string &path, const std::string &body, const std::string &token = "") const {
    httplib::Headers headers;
    if (!token.empty()) headers.emplace("datakeytoken", token);
    return Client()->Post(path.c_str(), headers, body, "application/json");
  }

  std::unique_ptr<DevService> service;
  std::string caFile;
  std::string recordFile;
};

TEST_F(DevServiceTest, AnswersEachEndpointAsTheServiceDoes) {
  struct Case {
    std::string path;
    std::string body;
    std::string token;
    int status;
    std::string verdict;
    bool malformed;
  };
  const Case cases[] = {
      {kActivate + "KEY-1", "{}", "", 200, "ok", false},
      {kActivate + "KEY-2", "{}", "", 200, "ok", false},
      {kActivate + "KEY-3", "{}", "", 401, "unauthorized", false},
      {kActivate + "KEY-1", "{", "", 400, "malformed", true},
      {kBroadcast, kValidBroadcast, "token-1", 200, "ok", false},
      {kBroadcast, kValidBroadcast, "", 401, "unauthorized", false},
      {kBroadcast, kValidBroadcast, "token-9", 401, "unauthorized", false},
      {kBroadcast, R"({"key":"a"b","extra":"{}"})", "token-1", 400, "malformed", true},
      {kBroadcast, R"({"key":"KEY-1","extra":"{gear:1}"})", "token-1", 400, "malformed", true},
      {kBroadcast, R"({"key":"KEY-1"})", "token-2", 400, "malformed", true},
      {kBroadcast, R"({"extra":"{}"})", "token-9", 401, "unauthorized", false},
      {kEvent, R"({"event":"LandingRate","data":{"points":[]}})", "token-1", 200, "ok", false},
      {kEvent, R"({"event":"LandingRate",})", "token-1", 400, "malformed", true},
      {kEvent, std::string(300, '[') + std::string(300, ']'), "token-1", 400, "malformed", true},
      {"/api/v1/no/such", "{}", "token-1", 404, "not-found", false},
  };
  for (const Case &test : cases) {
    auto result = Post(test.path, test.body, test.token);
    ASSERT_TRUE(result) << test.path;
    EXPECT_EQ(result->status, test.status) << test.path << " " << test.body;
    EXPECT_TRUE(json::accept(result->body)) << result->body;
    auto recorded = service->Requests().back();
    EXPECT_EQ(recorded.verdict, test.verdict) << test.path << " " << test.body;
    EXPECT_EQ(recorded.malformed, test.malformed) << test.path << " " << test.body;
    EXPECT_EQ(recorded.status, test.status);
  }
  EXPECT_EQ(json::parse(BodyOf(Post(kActivate + "KEY-2", "{}"))), json({{"token", "token-2"}}));
  EXPECT_EQ(StatusOf(Client()->Get(kBroadcast.c_str())), 405);
}

TEST_F(DevServiceTest, RecordsEveryRequestAndWritesThemAsJsonLines) {
  Post(kActivate + "KEY-1", "{}");
  httplib::Headers headers = {{"datakeytoken", "token-1"}, {"X-Trace", "t 1"}};
  Client()->Post((kBroadcast + "?attempt=2").c_str(), headers, kValidBroadcast, "application/json");
  ASSERT_EQ(service->RequestCount(), 2u);

  auto requests = service->Requests();
  const auto &broadcast = requests[1];
  EXPECT_EQ(broadcast.method, "POST");
  EXPECT_EQ(broadcast.path, kBroadcast);
  EXPECT_EQ(broadcast.target, kBroadcast + "?attempt=2");
  EXPECT_EQ(broadcast.Header("x-trace"), "t 1");
  EXPECT_EQ(broadcast.Header("Content-Type"), "application/json");
  EXPECT_FALSE(broadcast.HasHeader("REMOTE_ADDR"));
  EXPECT_EQ(broadcast.body, kValidBroadcast);
  EXPECT_EQ(broadcast.json["latitude"], 1.5);
  EXPECT_EQ(broadcast.extra, json({{"gear", 1}}));
  EXPECT_LE(requests[0].arrival, broadcast.arrival);
  EXPECT_LE(requests[0].secondsSinceStart, broadcast.secondsSinceStart);

  std::string dumpFile = TemporaryPath("dev-service-dump.jsonl");
  ASSERT_TRUE(service->DumpJsonLines(dumpFile));
  for (const std::string &file : {dumpFile, recordFile}) {
    std::ifstream lines(file);
    std::vector<json> records;
    for (std::string line; std::getline(lines, line);) records.push_back(json::parse(line));
    ASSERT_EQ(records.size(), 2u) << file;
    EXPECT_EQ(records[1]["target"], kBroadcast + "?attempt=2");
    EXPECT_EQ(records[1]["body"], kValidBroadcast);
    EXPECT_EQ(records[1]["extra"], json({{"gear", 1}}));
    EXPECT_EQ(records[1]["verdict"], "ok");
    EXPECT_EQ(records[0]["json"], json::object());
  }
  service->ClearRequests();
  EXPECT_EQ(service->RequestCount(), 0u);
}

TEST_F(DevServiceTest, FaultsApplyToTheRequestsTheyName) {
  Fault twice = FaultOn("", 2);
  twice.status = 503;
  service->AddFault(twice);
  Fault eventsOnly = FaultOn(kEvent, -1);
  eventsOnly.status = 500;
  eventsOnly.body = std::string("{\"why\":\"maintenance\"}");
  service->AddFault(eventsOnly);

  EXPECT_EQ(StatusOf(Post(kBroadcast, kValidBroadcast, "token-1")), 503);
  EXPECT_EQ(StatusOf(Post(kEvent, "{}", "token-1")), 503);
  EXPECT_EQ(StatusOf(Post(kBroadcast, kValidBroadcast, "token-1")), 200);
  for (int round = 0; round < 3; ++round) {
    auto result = Post(kEvent, "{}", "token-1");
    EXPECT_EQ(StatusOf(result), 500);
    EXPECT_EQ(BodyOf(result), "{\"why\":\"maintenance\"}");
  }
  EXPECT_EQ(service->Requests().back().verdict, "injected-status");
  service->ClearFaults();
  EXPECT_EQ(StatusOf(Post(kEvent, "{}", "token-1")), 200);

  service->SetActivationBody(std::string("{\"data\":{\"token\":\"nested\"}}"));
  EXPECT_EQ(BodyOf(Post(kActivate + "KEY-1", "{}")), "{\"data\":{\"token\":\"nested\"}}");
  EXPECT_EQ(StatusOf(Post(kActivate + "KEY-9", "{}")), 401);
  service->SetActivationBody(std::nullopt);
  EXPECT_EQ(BodyOf(Post(kActivate + "KEY-1", "{}")), "{\"token\":\"token-1\"}");
}

TEST_F(DevServiceTest, MisbehavesInTime) {
  Fault delay = FaultOn(kBroadcast);
  delay.delay = 300ms;
  service->AddFault(delay);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(StatusOf(Post(kBroadcast, kValidBroadcast, "token-1")), 200);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);

  Fault trickle = FaultOn(kActivate + "KEY-1");
  trickle.trickleChunkBytes = 4;
  trickle.trickleInterval = 30ms;
  service->AddFault(trickle);
  started = std::chrono::steady_clock::now();
  auto trickled = Post(kActivate + "KEY-1", "{}");
  EXPECT_EQ(BodyOf(trickled), "{\"token\":\"token-1\"}");
  EXPECT_GE(std::chrono::steady_clock::now() - started, 5 * 30ms);  // 19 bytes in 5 pieces

  Fault redirect = FaultOn(kEvent, 2);
  redirect.redirect = true;
  service->AddFault(redirect);
  auto first = Post(kEvent, "{}", "token-1");
  ASSERT_EQ(StatusOf(first), 307);
  EXPECT_EQ(first->get_header_value("Location"), kEvent + "?redirected=1");
  auto client = Client();
  client->set_follow_location(true);
  auto followed = client->Post(kEvent.c_str(), httplib::Headers{{"datakeytoken", "token-1"}}, "{}", "application/json");
  EXPECT_EQ(StatusOf(followed), 200);

  service->AddFault([] {
    Fault drop = FaultOn(kBroadcast);
    drop.closeWithoutAnswer = true;
    return drop;
  }());
  auto dropped = Post(kBroadcast, kValidBroadcast, "token-1");
  EXPECT_FALSE(dropped);
  EXPECT_EQ(service->Requests().back().verdict, "dropped");
  EXPECT_EQ(service->Requests().back().status, 0);
  EXPECT_EQ(StatusOf(Post(kBroadcast, kValidBroadcast, "token-1")), 200);
}

TEST_F(DevServiceTest, StopsPromptlyWithAnAnswerHeldBackAndConnectionsKeptAlive) {
  auto keptAlive = Client();
  keptAlive->set_keep_alive(true);
  EXPECT_EQ(StatusOf(keptAlive->Post(kActivate.c_str(), "{}", "application/json")), 404);

  Fault never = FaultOn(kBroadcast);
  never.delay = 1h;
  service->AddFault(never);
  auto pending = std::async(std::launch::async, [this] { return static_cast<bool>(Post(kBroadcast, "{}", "token-1")); });
  ASSERT_TRUE(service->WaitForRequests(2, 10s));
  auto started = std::chrono::steady_clock::now();
  service->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  pending.get();
  service->Stop();
}

TEST_F(DevServiceTest, ClientsVerifyItsCertificate) {
  httplib::SSLClient untrusting("localhost", service->Port());
  untrusting.enable_server_certificate_verification(true);
  untrusting.set_ca_cert_path(WriteTemporary("empty-ca.pem", "").c_str());
  EXPECT_FALSE(untrusting.Post(kEvent.c_str(), "{}", "application/json"));

  EXPECT_TRUE(Client("127.0.0.1")->Post(kEvent.c_str(), "{}", "application/json"));

  // A service given files serves with them.
  auto identity = tralix::dev::GenerateTlsIdentity({"localhost"});
  ServiceOptions options;
  options.identity = tralix::dev::LoadTlsIdentity(WriteTemporary("own.pem", identity.certificatePem),
                                                  WriteTemporary("own.key", identity.privateKeyPem),
                                                  WriteTemporary("own-ca.pem", identity.caCertificatePem));
  DevService own(options);
  own.Start();
  httplib::SSLClient ownClient("localhost", own.Port());
  ownClient.set_ca_cert_path(WriteTemporary("own-ca-copy.pem", identity.caCertificatePem).c_str());
  ownClient.enable_server_certificate_verification(true);
  auto answer = ownClient.Post(kEvent.c_str(), "{}", "application/json");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 401);
  EXPECT_EQ(own.BaseUrl(), "https://127.0.0.1:" + std::to_string(own.Port()) + "/api/v1");
}

}  // namespace
