// Parser of the flight-profile text format (flights/README.md).
#include "FlightProfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <system_error>

namespace flight_profile {

namespace {

constexpr int kMaxArrayElements = 1024;

bool IsAliasStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsAliasChar(char c) { return IsAliasStart(c) || (c >= '0' && c <= '9'); }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsValidAlias(const std::string& alias) {
  if (alias.empty() || !IsAliasStart(alias[0])) return false;
  for (char c : alias)
    if (!IsAliasChar(c)) return false;
  return true;
}

// Whole-token number parsing, independent of the C locale.
bool ParseDouble(const std::string& text, double* out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end && std::isfinite(*out);
}

bool ParseFloat(const std::string& text, float* out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end && std::isfinite(*out);
}

bool ParseInt(const std::string& text, int* out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end;
}

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

const char* TypeName(ValueType type) {
  switch (type) {
    case ValueType::Float: return "float";
    case ValueType::Int: return "int";
    case ValueType::FloatArray: return "float array";
    case ValueType::IntArray: return "int array";
    case ValueType::Bytes: return "bytes";
  }
  return "?";
}

class Parser {
 public:
  Parser(const std::string& sourceName, Profile* profile, std::string* error)
      : source_(sourceName), profile_(profile), error_(error) {}

  bool ParseText(const std::string& text) {
    *profile_ = Profile();
    profile_->source = source_;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      ++lineNumber_;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> tokens;
      if (!Tokenize(line, &tokens)) return false;
      if (tokens.empty()) continue;
      if (sawEnd_) return Fail("nothing may follow the 'end' line");
      if (!ParseLine(tokens)) return false;
    }
    if (profile_->rows.empty()) {
      lineNumber_ = std::max(lineNumber_, 1);
      return Fail("the profile has no rows of values");
    }
    if (!sawEnd_) profile_->endTime = profile_->rows.back().time;
    return true;
  }

 private:
  bool Fail(const std::string& message) {
    *error_ = source_ + ":" + std::to_string(lineNumber_) + ": " + message;
    return false;
  }

  // Splits at blanks; '#' outside quotes starts a comment; quoted text keeps
  // its blanks and stays part of its token, quotes included.
  bool Tokenize(const std::string& line, std::vector<std::string>* tokens) {
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && IsBlank(line[i])) ++i;
      if (i >= line.size() || line[i] == '#') return true;
      std::string token;
      while (i < line.size() && !IsBlank(line[i]) && line[i] != '#') {
        if (line[i] != '"') {
          token += line[i++];
          continue;
        }
        token += line[i++];
        bool closed = false;
        while (i < line.size() && !closed) {
          if (line[i] == '\\' && i + 1 < line.size()) token += line[i++];
          else if (line[i] == '"') closed = true;
          token += line[i++];
        }
        if (!closed) return Fail("unterminated quoted text");
      }
      tokens->push_back(token);
    }
    return true;
  }

  bool ParseLine(const std::vector<std::string>& tokens) {
    if (tokens[0] == "dataref") return ParseDeclaration(tokens);
    if (tokens[0] == "end") return ParseEnd(tokens);
    double time = 0.0;
    if (ParseDouble(tokens[0], &time)) return ParseRow(time, tokens);
    return Fail("expected 'dataref', 'end' or a time in seconds, got '" + tokens[0] + "'");
  }

  bool ParseType(const std::string& text, DataRefDecl* decl) {
    if (text == "float" || text == "int" || text == "bytes") {
      decl->type = text == "float" ? ValueType::Float : text == "int" ? ValueType::Int : ValueType::Bytes;
      decl->count = 1;
      return true;
    }
    const size_t open = text.find('[');
    const std::string base = text.substr(0, open);
    if (open == std::string::npos || text.back() != ']' || (base != "float" && base != "int"))
      return Fail("unknown type '" + text + "' (float, int, float[N], int[N] or bytes)");
    int count = 0;
    if (!ParseInt(text.substr(open + 1, text.size() - open - 2), &count) || count < 1 || count > kMaxArrayElements)
      return Fail("array size in '" + text + "' must be a whole number from 1 to " + std::to_string(kMaxArrayElements));
    decl->type = base == "float" ? ValueType::FloatArray : ValueType::IntArray;
    decl->count = count;
    return true;
  }

  bool ParseDeclaration(const std::vector<std::string>& tokens) {
    if (tokens.size() != 4) return Fail("expected 'dataref <alias> <type> <path>'");
    DataRefDecl decl;
    decl.alias = tokens[1];
    decl.path = tokens[3];
    decl.line = lineNumber_;
    if (!IsValidAlias(decl.alias))
      return Fail("alias '" + decl.alias + "' must be letters, digits and '_', not starting with a digit");
    if (!ParseType(tokens[2], &decl)) return false;
    for (const DataRefDecl& other : profile_->datarefs) {
      if (other.alias == decl.alias)
        return Fail("alias '" + decl.alias + "' already declared on line " + std::to_string(other.line));
      if (other.path == decl.path)
        return Fail("dataref " + decl.path + " already declared on line " + std::to_string(other.line));
    }
    profile_->datarefs.push_back(decl);
    return true;
  }

  bool ParseEnd(const std::vector<std::string>& tokens) {
    double time = 0.0;
    if (tokens.size() != 2 || !ParseDouble(tokens[1], &time)) return Fail("expected 'end <seconds>'");
    if (!profile_->rows.empty() && time < profile_->rows.back().time)
      return Fail("end " + tokens[1] + " is before the last row");
    profile_->endTime = time;
    sawEnd_ = true;
    return true;
  }

  bool ParseRow(double time, const std::vector<std::string>& tokens) {
    if (time < 0.0) return Fail("time " + tokens[0] + " is negative");
    if (tokens.size() < 2) return Fail("a row needs at least one alias=value after its time");
    std::vector<Row>& rows = profile_->rows;
    if (!rows.empty() && time < rows.back().time)
      return Fail("time " + tokens[0] + " goes back before the previous row");
    if (rows.empty() || time > rows.back().time) {
      rows.emplace_back();
      rows.back().time = time;
    }
    for (size_t i = 1; i < tokens.size(); ++i)
      if (!ParseAssignment(tokens[i], &rows.back())) return false;
    return true;
  }

  bool ParseAssignment(const std::string& token, Row* row) {
    const size_t equals = token.find('=');
    if (equals == std::string::npos || equals == 0) return Fail("expected alias=value, got '" + token + "'");
    const std::string alias = token.substr(0, equals);
    const std::string valueText = token.substr(equals + 1);
    int index = -1;
    for (size_t i = 0; i < profile_->datarefs.size(); ++i)
      if (profile_->datarefs[i].alias == alias) index = static_cast<int>(i);
    if (index < 0) return Fail("unknown alias '" + alias + "' (declare it with a 'dataref' line first)");
    for (const Assignment& earlier : row->assignments)
      if (earlier.dataref == index)
        return Fail("'" + alias + "' is set twice at time " + FormatTime(row->time) + " (also on line " +
                    std::to_string(earlier.line) + ")");
    Assignment assignment;
    assignment.dataref = index;
    assignment.line = lineNumber_;
    if (!ParseValue(profile_->datarefs[static_cast<size_t>(index)], valueText, &assignment.value)) return false;
    row->assignments.push_back(std::move(assignment));
    return true;
  }

  bool ParseValue(const DataRefDecl& decl, const std::string& text, Value* value) {
    if (text.empty()) return Fail("'" + decl.alias + "' has no value");
    if (decl.type == ValueType::Bytes) return ParseBytes(decl, text, &value->bytes);
    const std::vector<std::string> parts = SplitCommas(text);
    if (static_cast<int>(parts.size()) != decl.count)
      return Fail("'" + decl.alias + "' takes " + std::to_string(decl.count) + " comma-separated value" +
                  (decl.count == 1 ? "" : "s") + ", got " + std::to_string(parts.size()));
    const bool isFloat = decl.type == ValueType::Float || decl.type == ValueType::FloatArray;
    for (const std::string& part : parts) {
      if (isFloat) {
        float number = 0.0f;
        if (!ParseFloat(part, &number))
          return Fail("'" + part + "' is not a finite number for " + TypeName(decl.type) + " '" + decl.alias + "'");
        value->floats.push_back(number);
      } else {
        int number = 0;
        if (!ParseInt(part, &number))
          return Fail("'" + part + "' is not a whole number in int range for " + TypeName(decl.type) + " '" +
                      decl.alias + "'");
        value->ints.push_back(number);
      }
    }
    return true;
  }

  // Bare text without blanks or quotes, or "quoted text" with \" and \\.
  bool ParseBytes(const DataRefDecl& decl, const std::string& text, std::string* bytes) {
    if (text[0] != '"') {
      if (text.find('"') != std::string::npos) return Fail("stray quote in the value of '" + decl.alias + "'");
      *bytes = text;
      return true;
    }
    size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] != '\\') {
        *bytes += text[i];
        continue;
      }
      ++i;
      if (i >= text.size() || (text[i] != '"' && text[i] != '\\'))
        return Fail("only \\\" and \\\\ may be escaped in the value of '" + decl.alias + "'");
      *bytes += text[i];
    }
    if (i != text.size() - 1) return Fail("text after the closing quote in the value of '" + decl.alias + "'");
    return true;
  }

  static std::string FormatTime(double time) {
    std::ostringstream text;
    text << time;
    return text.str();
  }

  std::string source_;
  Profile* profile_;
  std::string* error_;
  int lineNumber_ = 0;
  bool sawEnd_ = false;
};

}  // namespace

int Profile::FindDataRef(const std::string& aliasOrPath) const {
  for (size_t i = 0; i < datarefs.size(); ++i)
    if (datarefs[i].alias == aliasOrPath || datarefs[i].path == aliasOrPath) return static_cast<int>(i);
  return -1;
}

const Value* Profile::ValueAt(int dataref, double time) const {
  const Value* held = nullptr;
  for (const Row& row : rows) {
    if (row.time > time) break;
    for (const Assignment& assignment : row.assignments)
      if (assignment.dataref == dataref) held = &assignment.value;
  }
  return held;
}

bool ParseProfile(const std::string& text, const std::string& sourceName, Profile* out, std::string* error) {
  Parser parser(sourceName, out, error);
  return parser.ParseText(text);
}

#ifdef _WIN32
constexpr int kReadOnlyFlags = O_RDONLY | O_BINARY;
#else
// Non-blocking, so that a pipe named here cannot hang the open.
constexpr int kReadOnlyFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
#endif

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string* text, std::string* error) {
  const int fd = open(path.c_str(), kReadOnlyFlags);
  if (fd < 0) {
    *error = path + ": cannot be opened";
    return false;
  }
  struct stat info {};
  std::string why;
  if (fstat(fd, &info) != 0) {
    why = "cannot be read";
  } else if (S_ISDIR(info.st_mode)) {
    why = "is a folder";
  } else if (!S_ISREG(info.st_mode)) {
    why = "is not a regular file";
  } else {
    text->clear();
    char chunk[65536];
    ssize_t got = 0;
    while (text->size() <= maxBytes && (got = read(fd, chunk, sizeof(chunk))) > 0)
      text->append(chunk, static_cast<size_t>(got));
    if (got < 0) why = "cannot be read";
    if (text->size() > maxBytes) why = "is larger than " + std::to_string(maxBytes) + " bytes";
  }
  close(fd);
  if (why.empty()) return true;
  *error = path + ": " + why;
  return false;
}

bool LoadProfile(const std::string& path, Profile* out, std::string* error) {
  std::string text;
  return ReadWholeFile(path, kMaxProfileBytes, &text, error) && ParseProfile(text, path, out, error);
}

}  // namespace flight_profile
