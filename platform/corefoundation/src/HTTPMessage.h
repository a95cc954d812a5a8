// HTTP messages: requests built by the caller, responses made from what the
// transport received.
#pragma once

#include "Internal.h"

#include <CFNetwork/CFNetwork.h>

#include <string>
#include <utility>
#include <vector>

namespace cfstandin {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// What the caller put into a request message; a stream keeps its own copy.
struct RequestParts {
  std::string method;
  std::string url;
  std::string version;
  HeaderFields headers;
  std::string body;
};

struct ResponseHead {
  std::string version;
  long statusCode = 0;
  std::string reason;
  HeaderFields headers;
};

bool EqualsIgnoringCase(const std::string &left, const std::string &right);
// Finds a field by name, ignoring case; nullptr when absent.
const std::string *FindHeader(const HeaderFields &headers, const std::string &name);

RequestParts RequestOf(CFHTTPMessageRef request, const char *operation);
CFHTTPMessageRef MakeResponseMessage(const ResponseHead &head);

}  // namespace cfstandin
