// Small text helpers shared by tralix-sim's parsers and reports.
#pragma once

#include <string>

namespace tralix_sim {

std::string Trim(const std::string& text);
// A whole decimal number, read the same in every locale.
bool ParseDecimal(const std::string& text, double* value);
bool ParseWholeNumber(const std::string& text, int* value);
bool StartsWith(const std::string& text, const std::string& prefix);
// Single-quoted for /bin/sh.
std::string ShellQuote(const std::string& text);
// printf-style "%.Nf", with a decimal point whatever the locale.
std::string Fixed(double value, int decimals);

}  // namespace tralix_sim
