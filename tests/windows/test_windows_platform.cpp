// The plug-in's Windows spots and the stand-in's WinHTTP error table, run
// under Wine: config paths from Windows paths (a non-ASCII user folder
// included), the rewrite replacing an existing file there, the clipboard's
// Unicode text, and WinHTTP/Winsock codes as the CFNetwork errors the plug-in
// judges.
#include "ConfigManager.h"
#include "Tralix.h"
#include "WinHttpErrors.h"
#include "XPHostControl.h"
#include "platform/CalendarTime.h"
#include "platform/Clipboard.h"
#include "platform/WideText.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A fresh folder under the system's temporary folder, named with non-ASCII letters.
std::string FreshUserFolder() {
  wchar_t temporary[MAX_PATH];
  GetTempPathW(MAX_PATH, temporary);
  const std::wstring folder =
      std::wstring(temporary) + L"Jos\u00e9 \u00c5ngstr\u00f6m " + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return Utf8FromWide(folder.c_str(), folder.size());
}

TEST(WindowsPlatform, ConfigPathIsBuiltBesideThePluginInWindowsForm) {
  struct Case { const char* pluginPath; const char* expected; };  // "": refused
  const Case cases[] = {
      {"C:\\X-Plane 12\\Resources\\plugins\\Tralix\\win_x64\\Tralix.xpl",
       "C:\\X-Plane 12\\Resources\\plugins\\Tralix\\win_x64\\Tralix.cfg"},
      {"C:\\Users\\Jos\xC3\xA9\\X-Plane 12\\Resources\\plugins\\Tralix\\win_x64\\Tralix.xpl",
       "C:\\Users\\Jos\xC3\xA9\\X-Plane 12\\Resources\\plugins\\Tralix\\win_x64\\Tralix.cfg"},
      {"D:/X-Plane 12/Resources/plugins/Tralix/win_x64/Tralix.xpl",
       "D:/X-Plane 12/Resources/plugins/Tralix/win_x64/Tralix.cfg"},
      {"\\\\server\\share\\Tralix\\win_x64\\Tralix.xpl", "\\\\server\\share\\Tralix\\win_x64\\Tralix.cfg"},
      {"Tralix.xpl", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pluginPath);
    xphost::Reset();
    xphost::SetPluginPath(c.pluginPath);
    char out[1024] = {};
    EXPECT_EQ(GetConfigFilePath(out, sizeof(out), "Tralix.cfg"), c.expected[0] ? 1 : 0);
    EXPECT_EQ(std::string(out), c.expected);
    EXPECT_EQ(xphost::LogText().find("classic Mac"), std::string::npos);
  }
}

// The second write replaces the file the first one made (std::rename would
// fail there), in a folder whose name the ANSI code page may not hold.
TEST(WindowsPlatform, RewriteReplacesTheFileInANonAsciiFolder) {
  xphost::Reset();
  const std::string folder = FreshUserFolder();
  const std::string path = folder + "\\Tralix.cfg";
  DeleteFileW(WideFromUtf8(path).c_str());  // left by an earlier run with the same process number
  ASSERT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "first"), 1);
  ASSERT_EQ(WriteConfigValue(path.c_str(), "API_KEY", "second"), 1);
  ASSERT_EQ(WriteConfigValue(path.c_str(), "DATA_KEY_TOKEN", "token"), 1);
  std::string bytes(64, '\0');
  FILE* file = _wfopen(WideFromUtf8(path).c_str(), L"rb");
  ASSERT_NE(file, nullptr);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  EXPECT_EQ(bytes, "API_KEY=second\nDATA_KEY_TOKEN=token\n");  // binary: no CR added
  char value[256] = {};
  EXPECT_EQ(ReadConfigValue(path.c_str(), "API_KEY", value, sizeof(value)), 1);
  EXPECT_STREQ(value, "second");

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(WideFromUtf8(folder + "\\*.tmp.*").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file was left behind";
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

void PutOnClipboard(const std::wstring& text) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  std::memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
}

TEST(WindowsPlatform, ClipboardUnicodeTextArrivesAsUtf8) {
  struct Case { std::wstring put; std::string expected; };
  const Case cases[] = {
      {L"TRALIX-KEY-1", "TRALIX-KEY-1"},
      {L"Cl\u00e9 \u2713 \U0001F6EB", "Cl\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x9B\xAB"},
      {std::wstring(kClipboardMaxBytes - 1, L'a') + L"\u00e9", std::string(kClipboardMaxBytes - 1, 'a')},
      {L"", ""},
  };
  for (const Case& c : cases) {
    PutOnClipboard(c.put);
    char* text = ReadClipboardText();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), c.expected);
    std::free(text);
  }
}

// Windows' strftime writes the zone's name for %z; the landing timestamps need +hhmm.
TEST(WindowsPlatform, UtcOffsetIsWrittenAsHoursAndMinutes) {
  struct Case { int year, yday, hour, minute; const char* expected; };  // local time at 1970-01-01 00:00 UTC
  const Case cases[] = {{70, 0, 1, 30, "+0130"}, {69, 364, 23, 0, "-0100"}, {70, 0, 0, 0, "+0000"},
                        {70, 0, 14, 0, "+1400"}, {69, 364, 12, 15, "-1145"}};
  for (const Case& c : cases) {
    std::tm local{};
    local.tm_year = c.year;
    local.tm_yday = c.yday;
    local.tm_hour = c.hour;
    local.tm_min = c.minute;
    char offset[10] = "";
    FormatUtcOffset(local, 0, offset, sizeof(offset));
    EXPECT_STREQ(offset, c.expected);
  }
}

// One row for each way a code is judged: by itself, by the certificate flags,
// by how far the answer had come, and a code the table does not know.
TEST(WindowsPlatform, WinHttpErrorsMapToTheCFNetworkErrorsOfTheLinuxTransport) {
  using cfstandin::Progress;
  struct Case { unsigned error; unsigned flags; Progress progress; CFIndex domain; SInt32 code; };
  const Progress none{}, responding{true, true, false};
  const Case cases[] = {
      {ERROR_WINHTTP_NAME_NOT_RESOLVED, 0, none, 12, 8},
      {ERROR_WINHTTP_CANNOT_CONNECT, 0, none, 1, 61},
      {WSAETIMEDOUT, 0, none, 1, 60},  // Wine's time-out
      {ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, none, 3, -9843},
      {ERROR_WINHTTP_SECURE_FAILURE, WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, none, 3, -9814},
      {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, 0, none, 3, -9800},  // Wine's code for every TLS failure
      {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, none, 3, -9812},
      {ERROR_WINHTTP_CONNECTION_ERROR, 0, none, 4, -4},  // lost before an answer
      {ERROR_WINHTTP_CONNECTION_ERROR, 0, responding, 1, 54},
      {ERROR_WINHTTP_REDIRECT_FAILED, 0, none, 4, -2},
      {12999, 0, none, kCFStreamErrorDomainCustom, 12999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const CFStreamError error = cfstandin::StreamErrorForWinHttp(c.error, c.flags, c.progress);
    EXPECT_EQ(error.domain, c.domain);
    EXPECT_EQ(error.error, c.code);
  }
}

}  // namespace
