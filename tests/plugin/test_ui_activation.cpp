// The activation journey through the dialog against the service stand-in:
// type or paste a key, activate, deactivate, change, a refused key. Each test
// runs in its own network and mount namespace in which api.tralix.net is the
// loopback stand-in on port 443 and its test CA is in the system bundle, so the
// plug-in's built-in URL and real TLS verification are used unchanged.
#include "CFStandInTesting.h"
#include "NetworkManager.h"
#include "PluginTestSupport.h"
#include "Tralix.h"
#include "UI.h"
#include "XPHostControl.h"

#include "XPLMDefs.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr char kGoodKey[] = "tlx_good_key";
constexpr char kGoodToken[] = "tok_good_123";
constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// The stand-in is built beside this test: <build>/tools/dev-service.
std::string ServiceExecutable() {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path().parent_path() / "tools/dev-service/tralix-dev-service").string();
}

bool BringLoopbackUp() {
  const int sock = socket(AF_INET, SOCK_DGRAM, 0);
  if (sock < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(sock, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
  up = up && ioctl(sock, SIOCSIFFLAGS, &request) == 0;
  close(sock);
  return up;
}

// From here on this test process (and the threads and children it starts
// later) has a network and mounts of its own.
bool EnterSandbox() {
  return unshare(CLONE_NEWNS | CLONE_NEWNET) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 && BringLoopbackUp();
}

bool BindFileOver(const std::string& source, const char* target) {
  return mount(source.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
}

class ActivationJourney : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(ServiceExecutable())) GTEST_SKIP() << "the service stand-in is not built";
    if (!EnterSandbox()) GTEST_SKIP() << "cannot make a private network and mount namespace here";
    scratch_ = tralix_test::FreshScratchDir();
    ASSERT_TRUE(StartService());
    ASSERT_TRUE(PointServiceNameAtStandIn());

    CleanupUI();
    xphost::Reset();
    std::memset(gApiKey, 0, sizeof(gApiKey));
    std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
    gShowConfig = 0;
    gNetworkBusy = 0;
    gBackoffTime = 0.0f;
    configFile_ = scratch_ + "/Tralix.cfg";
    std::snprintf(gConfigPath, sizeof(gConfigPath), "%s", configFile_.c_str());
    tralix_test::WriteFile(configFile_, "API_KEY=\nDATA_KEY_TOKEN=\n");
    InstallClipboardTool();
    InitUI();
    ASSERT_TRUE(xphost::PickMenuItem({"Tralix", "Configuration"}));
  }

  void TearDown() override {
    CleanupUI();
    // As unloading does: the kept request objects, the transport's
    // connections and their TLS state go.
    ShutdownNetwork();
    CFStandInShutdownTransport();
    if (service_ > 0) {
      kill(service_, SIGTERM);
      int status = 0;
      waitpid(service_, &status, 0);
    }
    if (serviceOutput_ >= 0) close(serviceOutput_);
  }

  bool StartService() {
    int ends[2];
    if (pipe(ends) != 0) return false;
    const std::string executable = ServiceExecutable();
    const std::string caOut = scratch_ + "/ca.pem";
    const std::string record = scratch_ + "/requests.jsonl";
    const std::string goodKey = std::string(kGoodKey) + "=" + kGoodToken;
    const char* argv[] = {executable.c_str(), "--bind",  "127.0.0.1",     "--port",    "443",
                          "--ca-out",         caOut.c_str(), "--record", record.c_str(), "--api-key",
                          goodKey.c_str(),    nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    const int failed = posix_spawn(&service_, executable.c_str(), &actions, nullptr, const_cast<char* const*>(argv),
                                   environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    serviceOutput_ = ends[0];
    if (failed) {
      service_ = 0;
      return false;
    }
    // It prints its address once it listens and has written the CA.
    std::string output;
    pollfd ready{serviceOutput_, POLLIN, 0};
    char byte = 0;
    while (output.find('\n') == std::string::npos && poll(&ready, 1, 10000) == 1 &&
           read(serviceOutput_, &byte, 1) == 1)
      output += byte;
    return output.find("listening on") != std::string::npos;
  }

  // api.tralix.net resolves to the loopback address, and the stand-in's CA is
  // trusted the way an installed CA would be.
  bool PointServiceNameAtStandIn() {
    const std::string hosts = scratch_ + "/hosts";
    tralix_test::WriteFile(hosts, "127.0.0.1 localhost\n127.0.0.1 api.tralix.net\n");
    const std::string bundle = scratch_ + "/ca-bundle.crt";
    tralix_test::WriteFile(bundle, tralix_test::ReadFile(kSystemBundle) + "\n" +
                                       tralix_test::ReadFile(scratch_ + "/ca.pem"));
    return BindFileOver(hosts, "/etc/hosts") && BindFileOver(bundle, kSystemBundle);
  }

  void InstallClipboardTool() {
    const std::string bin = scratch_ + "/bin";
    mkdir(bin.c_str(), 0755);
    tralix_test::WriteFile(bin + "/xclip", "#!/bin/sh\nexec /bin/cat '" + scratch_ + "/clipboard' 2>/dev/null\n");
    chmod((bin + "/xclip").c_str(), 0755);
    setenv("PATH", bin.c_str(), 1);
    setenv("DISPLAY", ":99", 1);
    unsetenv("WAYLAND_DISPLAY");
  }

  void SetClipboard(const std::string& text) { tralix_test::WriteFile(scratch_ + "/clipboard", text); }

  std::vector<nlohmann::json> Requests() const {
    std::vector<nlohmann::json> requests;
    std::ifstream in(scratch_ + "/requests.jsonl");
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) requests.push_back(nlohmann::json::parse(line));
    return requests;
  }

  std::string FileText() const { return tralix_test::ReadFile(configFile_); }

  // Clicks the button and returns the dialog's own lines, without those of
  // the configuration file and the service client.
  static Lines Press(void* button) {
    static const std::set<std::string> dialogLines = {
        "Tralix - ERROR: No API key entered",
        "Tralix - API key saved to config successfully",
        "Tralix - API key activated and token saved successfully",
        "Tralix - Failed to activate API key",
        "Tralix - Connection deactivated and token cleared",
        "Tralix - Updated API key in config",
        "Tralix - Connection activated and token saved successfully",
        "Tralix - ERROR: Connection activated but failed to save token to config",
        "Tralix - Failed to activate connection",
        "Tralix - API key and token cleared for change",
    };
    const size_t before = xphost::LogLines().size();
    EXPECT_TRUE(xphost::ClickWidget(button));
    Lines lines;
    for (const std::string& line : tralix_test::LogLinesSince(before))
      if (dialogLines.count(line)) lines.push_back(line);
    return lines;
  }

  static void* Button(const char* caption) { return xphost::FindWidget(caption, xpWidgetClass_Button); }

  // The dialog's children by descriptor, for comparing layouts.
  static Lines Descriptors() {
    Lines texts;
    xphost::WidgetInfo root;
    if (!xphost::GetWidget(gConfigWidget, &root)) return texts;
    for (void* child : root.children) texts.push_back(xphost::WidgetDescriptor(child));
    return texts;
  }

  static Lines LayoutTexts(const std::string& field, const Lines& statusAndButtons) {
    Lines texts = {"Tralix Connection Bridge v0.0.12",
                   "Configure API key for real-time flight data transmission",
                   "API Key:",
                   field,
                   "Paste",
                   "Get from: Tralix Account Settings > Client / API Key",
                   "Connection Status:"};
    texts.insert(texts.end(), statusAndButtons.begin(), statusAndButtons.end());
    return texts;
  }

  static Lines ActivatedTexts(const std::string& field) {
    return LayoutTexts(field, {"API Key: Configured", "Connection: Ready", "Backoff: 0.0 sec", "Deactivate",
                               "Change API Key"});
  }
  static Lines KeyOnlyTexts(const std::string& field) {
    return LayoutTexts(field, {"API Key: Configured", "Connection: Not established", "Activate Connection"});
  }
  static Lines NoKeyTexts() { return LayoutTexts("", {"API Key: Not configured", "Activate API Key"}); }

  static xphost::WidgetInfo Root() {
    xphost::WidgetInfo root;
    EXPECT_TRUE(xphost::GetWidget(gConfigWidget, &root));
    return root;
  }

  static void NextFrame() { xphost::RunFrame(0.05); }

  std::string scratch_;
  std::string configFile_;
  pid_t service_ = 0;
  int serviceOutput_ = -1;
};

TEST_F(ActivationJourney, AKeyTypedKeyByKeyActivatesAndTheDialogRebuildsInPlace) {
  ASSERT_TRUE(xphost::ClickWidget(gApiKeyEdit));
  size_t typed = 0;
  for (const char key : std::string(kGoodKey)) {
    xphost::KeyStroke(nullptr, key, 0, 0);
    ++typed;
    EXPECT_EQ(std::string(gApiKey), std::string(kGoodKey).substr(0, typed));
  }
  EXPECT_EQ(FileText(), std::string("API_KEY=") + kGoodKey + "\nDATA_KEY_TOKEN=\n");

  // The field stored the key as it was typed, so the press activates it as
  // the stored key, whatever the button says.
  EXPECT_EQ(Press(Button("Activate API Key")), Lines{"Tralix - Connection activated and token saved successfully"});
  EXPECT_STREQ(gDataKeyToken, kGoodToken);
  EXPECT_EQ(FileText(), std::string("API_KEY=") + kGoodKey + "\nDATA_KEY_TOKEN=" + kGoodToken + "\n");

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["method"], "POST");
  EXPECT_EQ(requests[0]["path"], std::string("/api/v1/apiKey/activate/") + kGoodKey);
  EXPECT_EQ(requests[0]["body"], "{}");
  EXPECT_EQ(requests[0]["verdict"], "ok");
  for (const auto& header : requests[0]["headers"]) {
    std::string name = header[0].get<std::string>();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(name, "datakeytoken") << "activation carries no token";
  }

  NextFrame();
  EXPECT_EQ(Descriptors(), ActivatedTexts(kGoodKey));
  const xphost::WidgetInfo root = Root();
  EXPECT_TRUE(root.visible);
  EXPECT_EQ(root.left, 685);
  EXPECT_EQ(root.top, 740);
  EXPECT_EQ(root.bottom, 340);
}

TEST_F(ActivationJourney, AKeyFilledInWithoutAChangeNoticeIsSavedThenActivated) {
  XPSetWidgetDescriptor(gApiKeyEdit, std::string(" ").append(kGoodKey).append("\n").c_str());
  EXPECT_EQ(Press(Button("Activate API Key")), (Lines{"Tralix - API key saved to config successfully",
                                                      "Tralix - API key activated and token saved successfully"}));
  EXPECT_STREQ(gApiKey, kGoodKey);
  EXPECT_STREQ(gDataKeyToken, kGoodToken);
  NextFrame();
  EXPECT_EQ(Descriptors(), ActivatedTexts(kGoodKey));
}

TEST_F(ActivationJourney, PastedKeysWithBlanksAreActivatedTrimmed) {
  struct Case {
    const char* name;
    int ctrlFlags;  // 0: the Paste button
  };
  const Case cases[] = {{"Paste button", 0},
                        {"Ctrl+V", xplm_ControlFlag},
                        {"Ctrl+Shift+V", xplm_ControlFlag | xplm_ShiftFlag}};
  const std::string copied = std::string("  ") + kGoodKey + "\n";
  SetClipboard(copied);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.ctrlFlags) {
      ASSERT_TRUE(xphost::FocusWidget(gApiKeyEdit));
      EXPECT_TRUE(xphost::KeyStroke(nullptr, c.ctrlFlags & xplm_ShiftFlag ? 'V' : 'v', c.ctrlFlags, 'V'));
    } else {
      ASSERT_TRUE(xphost::ClickWidget(Button("Paste")));
    }
    EXPECT_EQ(xphost::WidgetDescriptor(gApiKeyEdit), copied);
    EXPECT_STREQ(gApiKey, kGoodKey);

    EXPECT_EQ(Press(gActivateButton), Lines{"Tralix - Connection activated and token saved successfully"});
    EXPECT_STREQ(gDataKeyToken, kGoodToken);
    EXPECT_EQ(Requests().back()["path"], std::string("/api/v1/apiKey/activate/") + kGoodKey);
    NextFrame();
    EXPECT_EQ(Descriptors(), ActivatedTexts(kGoodKey));

    // Back to an empty dialog for the next way of pasting.
    EXPECT_EQ(Press(Button("Change API Key")), Lines{"Tralix - API key and token cleared for change"});
    NextFrame();
    EXPECT_EQ(Descriptors(), NoKeyTexts());
  }
}

TEST_F(ActivationJourney, DeactivateActivateAgainAndChangeMoveThroughTheThreeLayouts) {
  XPSetWidgetDescriptor(gApiKeyEdit, kGoodKey);
  Press(gActivateButton);
  NextFrame();
  ASSERT_EQ(Descriptors(), ActivatedTexts(kGoodKey));

  EXPECT_EQ(Press(Button("Deactivate")), Lines{"Tralix - Connection deactivated and token cleared"});
  EXPECT_EQ(FileText(), std::string("API_KEY=") + kGoodKey + "\nDATA_KEY_TOKEN=\n");
  NextFrame();
  EXPECT_EQ(Descriptors(), KeyOnlyTexts(kGoodKey));

  EXPECT_EQ(Press(Button("Activate Connection")), Lines{"Tralix - Connection activated and token saved successfully"});
  NextFrame();
  EXPECT_EQ(Descriptors(), ActivatedTexts(kGoodKey));
  EXPECT_EQ(FileText(), std::string("API_KEY=") + kGoodKey + "\nDATA_KEY_TOKEN=" + kGoodToken + "\n");

  EXPECT_EQ(Press(Button("Change API Key")), Lines{"Tralix - API key and token cleared for change"});
  EXPECT_EQ(FileText(), "API_KEY=\nDATA_KEY_TOKEN=\n");
  NextFrame();
  EXPECT_EQ(Descriptors(), NoKeyTexts());
  EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(ActivationJourney, AKeyTheServiceRefusesIsKeptWithoutAToken) {
  XPSetWidgetDescriptor(gApiKeyEdit, "tlx_unknown_key");
  EXPECT_EQ(Press(gActivateButton), (Lines{"Tralix - API key saved to config successfully",
                                           "Tralix - Failed to activate API key"}));
  EXPECT_STREQ(gApiKey, "tlx_unknown_key");
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_EQ(FileText(), "API_KEY=tlx_unknown_key\nDATA_KEY_TOKEN=\n");
  EXPECT_EQ(Requests().back()["verdict"], "unauthorized");
  NextFrame();
  EXPECT_EQ(Descriptors(), KeyOnlyTexts("tlx_unknown_key"));

  EXPECT_EQ(Press(gActivateButton), Lines{"Tralix - Failed to activate connection"});
  NextFrame();
  EXPECT_EQ(Descriptors(), KeyOnlyTexts("tlx_unknown_key"));

  // Correcting the key in the field activates the corrected one.
  XPSetWidgetDescriptor(gApiKeyEdit, kGoodKey);
  EXPECT_EQ(Press(gActivateButton), (Lines{"Tralix - Updated API key in config",
                                           "Tralix - Connection activated and token saved successfully"}));
  NextFrame();
  EXPECT_EQ(Descriptors(), ActivatedTexts(kGoodKey));
}

TEST_F(ActivationJourney, ATokenTheFileRefusesIsReportedAndKeptForThisRun) {
  XPSetWidgetDescriptor(gApiKeyEdit, kGoodKey);
  Press(gActivateButton);
  NextFrame();
  Press(Button("Deactivate"));
  NextFrame();
  std::snprintf(gConfigPath, sizeof(gConfigPath), "%s/missing-folder/Tralix.cfg", scratch_.c_str());

  EXPECT_EQ(Press(Button("Activate Connection")),
            Lines{"Tralix - ERROR: Connection activated but failed to save token to config"});
  EXPECT_STREQ(gDataKeyToken, kGoodToken);
  EXPECT_EQ(FileText(), std::string("API_KEY=") + kGoodKey + "\nDATA_KEY_TOKEN=\n");
  NextFrame();
  EXPECT_EQ(Descriptors(), ActivatedTexts(kGoodKey));
}

}  // namespace
