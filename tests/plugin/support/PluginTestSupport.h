// Helpers shared by the plug-in's unit tests.
#pragma once

#include <string>
#include <vector>

namespace tralix_test {

// A new, empty folder for this test under TRALIX_TEST_TMP (or /tmp).
std::string FreshScratchDir();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

// Publishes the nine core datarefs with plausible values: a parked aircraft.
void PublishCoreDataRefs();

// Log lines (without '\n') logged since the given count of lines.
std::vector<std::string> LogLinesSince(size_t firstLine);
bool LogHasLine(const std::string& line);

}  // namespace tralix_test
