// Runs the tralix-sim binary for its tests and reads back what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tralix_sim_test {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A fresh folder for the running test, under the build tree.
inline fs::path TestFolder() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const fs::path folder = fs::path(TRALIX_SIM_TEST_TMP) / info->test_suite_name() / info->name();
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

inline std::string Flight(const char* name) { return std::string(TRALIX_FLIGHTS_DIR) + "/" + name; }

// Runs tralix-sim with these arguments, its output kept in files in folder;
// without the TRALIX_SANDBOX* variables when leaveSandbox is set, so that it
// sets up a sandbox of its own.
inline Outcome RunSim(const std::vector<std::string>& arguments, const fs::path& folder, bool leaveSandbox = false) {
  std::vector<std::string> words = {TRALIX_SIM_BINARY};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<char*> environment;
  for (char** entry = environ; *entry; ++entry)
    if (!leaveSandbox || std::strncmp(*entry, "TRALIX_SANDBOX", 14) != 0) environment.push_back(*entry);
  environment.push_back(nullptr);

  const std::string outFile = (folder / "stdout.txt").string(), errFile = (folder / "stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  Outcome outcome;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environment.data()) == 0) {
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = ReadFile(outFile);
  outcome.err = ReadFile(errFile);
  return outcome;
}

}  // namespace tralix_sim_test
