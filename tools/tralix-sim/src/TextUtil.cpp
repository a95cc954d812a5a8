#include "TextUtil.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tralix_sim {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool ParseDecimal(const std::string& text, double* value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  double parsed = 0.0;
  const auto result = std::from_chars(text.data(), end, parsed, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

bool ParseWholeNumber(const std::string& text, int* value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  int parsed = 0;
  const auto result = std::from_chars(text.data(), end, parsed);
  if (result.ec != std::errc() || result.ptr != end) return false;
  *value = parsed;
  return true;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Fixed(double value, int decimals) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return "?";
  std::string text(buffer, result.ptr);
  if (text == "-0" || (text.size() > 1 && text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos))
    text.erase(0, 1);
  return text;
}

}  // namespace tralix_sim
