// Runs the tralix-sim binary for its tests and reads back what it wrote.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tralix_sim_test {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::filesystem::path& path);
// A fresh folder for the running test, under the build tree.
std::filesystem::path TestFolder();
// A shipped profile in flights/.
std::string Flight(const char* name);
// Runs tralix-sim with these arguments, its output kept in files in folder;
// without the TRALIX_SANDBOX* variables when leaveSandbox is set, so that it
// sets up a sandbox of its own.
Outcome RunSim(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
               bool leaveSandbox = false);
bool Has(const std::string& text, const std::string& part);

}  // namespace tralix_sim_test
