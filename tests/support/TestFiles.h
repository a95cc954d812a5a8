// What every kind of test does with files: read one whole, and start from a
// fresh folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tralix_test {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// root/<suite>.<test>, empty; a parameterised test's '/' becomes '_'.
inline std::string FreshFolder(const std::string& root) {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string leaf = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
  std::replace(leaf.begin(), leaf.end(), '/', '_');
  const std::filesystem::path folder = std::filesystem::path(root) / leaf;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string();
}

}  // namespace tralix_test
