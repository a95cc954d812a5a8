// Flight profiles: recorded dataref values over time, in the plain-text format
// that flights/README.md documents. Each value holds until the next row that
// sets the same dataref.
#pragma once

#include <string>
#include <vector>

namespace flight_profile {

enum class ValueType { Float, Int, FloatArray, IntArray, Bytes };

struct DataRefDecl {
  std::string alias;  // the short name rows use
  std::string path;   // the simulator dataref path
  ValueType type = ValueType::Float;
  int count = 1;      // elements of an array; 1 for scalars and bytes
  int line = 0;       // where it was declared
};

// One value; which member holds it follows the dataref's type.
struct Value {
  std::vector<float> floats;  // Float (one element) and FloatArray
  std::vector<int> ints;      // Int (one element) and IntArray
  std::string bytes;          // Bytes
};

struct Assignment {
  int dataref = 0;  // index into Profile::datarefs
  Value value;
  int line = 0;
};

// Every value set at one moment, in file order.
struct Row {
  double time = 0.0;  // seconds from the start of the profile
  std::vector<Assignment> assignments;
};

struct Profile {
  std::string source;                  // file name used in messages
  std::vector<DataRefDecl> datarefs;   // in declaration order
  std::vector<Row> rows;               // strictly increasing times
  double endTime = 0.0;                // the "end" line, else the last row's time

  // Index of the dataref with this alias or path; -1 when none.
  int FindDataRef(const std::string& aliasOrPath) const;
  // The value the dataref holds at the given profile time: that of the last
  // row at or before it that sets the dataref; null before its first row.
  const Value* ValueAt(int dataref, double time) const;
};

// Parses profile text. On bad input returns false and sets error to
// "<sourceName>:<line>: <what is wrong>"; out is then unspecified.
bool ParseProfile(const std::string& text, const std::string& sourceName, Profile* out, std::string* error);

// Reads and parses a file of at most kMaxProfileBytes; the path is the source
// name in messages.
constexpr size_t kMaxProfileBytes = 64u << 20;
bool LoadProfile(const std::string& path, Profile* out, std::string* error);

// Reads a whole regular file of at most maxBytes into text. On failure error
// says why, after the path: "cannot be opened", "is a folder", "is not a
// regular file" (a device, a pipe) or "is larger than N bytes".
bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string* text, std::string* error);

}  // namespace flight_profile
