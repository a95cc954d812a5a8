// The activation journey through the dialog against the service stand-in:
// type or paste a key, activate, deactivate, change, a refused key. The
// plug-in's built-in URL and real TLS verification are used unchanged.
#include "CFStandInTesting.h"
#include "E2eSupport.h"
#include "NetworkManager.h"
#include "Tralix.h"
#include "UI.h"
#include "XPHostControl.h"

#include "XPLMDefs.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

constexpr char kGoodKey[] = "tlx_good_key";
constexpr char kGoodToken[] = "tok_good_123";

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

Lines LogLinesSince(size_t firstLine) {
  const Lines lines = xphost::LogLines();
  if (firstLine >= lines.size()) return {};
  return Lines(lines.begin() + static_cast<long>(firstLine), lines.end());
}

class ActivationJourney : public testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    service_ = e2e::StartService({{kGoodKey, kGoodToken}}, &whyNot);
    if (!service_) GTEST_SKIP() << whyNot;
    scratch_ = e2e::FreshScratchDir();

    CleanupUI();
    xphost::Reset();
    std::memset(gApiKey, 0, sizeof(gApiKey));
    std::memset(gDataKeyToken, 0, sizeof(gDataKeyToken));
    gShowConfig = 0;
    gNetworkBusy = 0;
    gBackoffTime = 0.0f;
    configFile_ = scratch_ + "/Tralix.cfg";
    std::snprintf(gConfigPath, sizeof(gConfigPath), "%s", configFile_.c_str());
    WriteFile(configFile_, "API_KEY=\nDATA_KEY_TOKEN=\n");
    InstallClipboardTool();
    InitUI();
    ASSERT_TRUE(xphost::PickMenuItem({"Tralix", "Configuration"}));
  }

  void TearDown() override {
    if (!service_) return;
    CleanupUI();
    // As unloading does: the kept request objects, the transport's
    // connections and their TLS state go.
    ShutdownNetwork();
    CFStandInShutdownTransport();
    service_->Stop();
  }

  // A fake xclip on an otherwise empty PATH prints what SetClipboard left.
  void InstallClipboardTool() {
    const std::string bin = scratch_ + "/bin";
    mkdir(bin.c_str(), 0755);
    WriteFile(bin + "/xclip", "#!/bin/sh\nexec /bin/cat '" + scratch_ + "/clipboard' 2>/dev/null\n");
    chmod((bin + "/xclip").c_str(), 0755);
    setenv("PATH", bin.c_str(), 1);
    setenv("DISPLAY", ":99", 1);
    unsetenv("WAYLAND_DISPLAY");
  }

  void SetClipboard(const std::string& text) { WriteFile(scratch_ + "/clipboard", text); }

  std::string FileText() const { return e2e::ReadFile(configFile_); }

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
    for (const std::string& line : LogLinesSince(before))
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

  std::unique_ptr<tralix::dev::DevService> service_;
  std::string scratch_;
  std::string configFile_;
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

  const auto requests = service_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, std::string("/api/v1/apiKey/activate/") + kGoodKey);
  EXPECT_EQ(requests[0].body, "{}");
  EXPECT_EQ(requests[0].verdict, "ok");
  EXPECT_FALSE(requests[0].HasHeader("datakeytoken")) << "activation carries no token";

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
    EXPECT_EQ(service_->Requests().back().path, std::string("/api/v1/apiKey/activate/") + kGoodKey);
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
  EXPECT_EQ(service_->RequestCount(), 2u);
}

TEST_F(ActivationJourney, AKeyTheServiceRefusesIsKeptWithoutAToken) {
  XPSetWidgetDescriptor(gApiKeyEdit, "tlx_unknown_key");
  EXPECT_EQ(Press(gActivateButton), (Lines{"Tralix - API key saved to config successfully",
                                           "Tralix - Failed to activate API key"}));
  EXPECT_STREQ(gApiKey, "tlx_unknown_key");
  EXPECT_STREQ(gDataKeyToken, "");
  EXPECT_EQ(FileText(), "API_KEY=tlx_unknown_key\nDATA_KEY_TOKEN=\n");
  EXPECT_EQ(service_->Requests().back().verdict, "unauthorized");
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
