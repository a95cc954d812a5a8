// CFHTTPMessage: request messages the caller builds, response messages the
// stream hands out. A header value holding CR or LF is refused here, so it can
// never reach the wire.
#include "HTTPMessage.h"

#include <cstring>

struct __CFHTTPMessage : cfstandin::Object {
  static constexpr cfstandin::Kind kKind = cfstandin::Kind::HTTPMessage;
  __CFHTTPMessage() : Object(kKind, false) {}
  bool isRequest = true;
  cfstandin::RequestParts request;
  cfstandin::ResponseHead response;
};

namespace cfstandin {
namespace {

bool IsTokenCharacter(char character) {
  if ((character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
      (character >= '0' && character <= '9')) {
    return true;
  }
  return character != '\0' && std::strchr("!#$%&'*+-.^_`|~", character) != nullptr;
}

bool IsToken(const std::string &text) {
  if (text.empty()) return false;
  for (char character : text) {
    if (!IsTokenCharacter(character)) return false;
  }
  return true;
}

bool HoldsLineBreak(const std::string &text) { return text.find_first_of("\r\n") != std::string::npos; }

// The URL must be http or https with a host, as the transport needs.
bool IsHttpUrl(const std::string &url) {
  size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) return false;
  std::string scheme = url.substr(0, schemeEnd);
  if (!EqualsIgnoringCase(scheme, "http") && !EqualsIgnoringCase(scheme, "https")) return false;
  size_t authorityStart = schemeEnd + 3;
  size_t authorityEnd = url.find_first_of("/?#", authorityStart);
  std::string authority = url.substr(authorityStart, authorityEnd == std::string::npos ? std::string::npos
                                                                                       : authorityEnd - authorityStart);
  size_t userInfoEnd = authority.rfind('@');
  if (userInfoEnd != std::string::npos) authority.erase(0, userInfoEnd + 1);
  return !authority.empty() && authority[0] != ':';
}

__CFHTTPMessage *Message(CFHTTPMessageRef message, const char *operation) {
  return Checked<__CFHTTPMessage>(message, operation);
}

const HeaderFields &FieldsOf(const __CFHTTPMessage &message) {
  return message.isRequest ? message.request.headers : message.response.headers;
}

}  // namespace

bool EqualsIgnoringCase(const std::string &left, const std::string &right) {
  if (left.size() != right.size()) return false;
  for (size_t index = 0; index < left.size(); ++index) {
    char a = left[index], b = right[index];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

const std::string *FindHeader(const HeaderFields &headers, const std::string &name) {
  for (const auto &field : headers) {
    if (EqualsIgnoringCase(field.first, name)) return &field.second;
  }
  return nullptr;
}

RequestParts RequestOf(CFHTTPMessageRef request, const char *operation) {
  const __CFHTTPMessage *message = Message(request, operation);
  if (!message->isRequest) ContractViolation(operation, "a response message");
  return message->request;
}

CFHTTPMessageRef MakeResponseMessage(const ResponseHead &head) {
  auto *message = new __CFHTTPMessage();
  message->isRequest = false;
  message->response = head;
  return message;
}

}  // namespace cfstandin

using namespace cfstandin;

extern "C" {

const CFStringRef kCFHTTPVersion1_0 = MakePermanentString("HTTP/1.0");
const CFStringRef kCFHTTPVersion1_1 = MakePermanentString("HTTP/1.1");

CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef, CFStringRef requestMethod, CFURLRef url,
                                            CFStringRef httpVersion) {
  if (InjectedFailure("CFHTTPMessageCreateRequest")) return nullptr;
  if (requestMethod == nullptr || url == nullptr || httpVersion == nullptr) return nullptr;
  const std::string &method = StringText(requestMethod, "CFHTTPMessageCreateRequest");
  const std::string &urlText = UrlText(url, "CFHTTPMessageCreateRequest");
  const std::string &version = StringText(httpVersion, "CFHTTPMessageCreateRequest");
  if (!IsToken(method) || !IsHttpUrl(urlText) || (version != "HTTP/1.1" && version != "HTTP/1.0")) return nullptr;
  auto *message = new __CFHTTPMessage();
  message->request.method = method;
  message->request.url = urlText;
  message->request.version = version;
  return message;
}

void CFHTTPMessageSetHeaderFieldValue(CFHTTPMessageRef message, CFStringRef headerField, CFStringRef value) {
  __CFHTTPMessage *target = Message(message, "CFHTTPMessageSetHeaderFieldValue");
  const std::string &name = StringText(headerField, "CFHTTPMessageSetHeaderFieldValue");
  if (!IsToken(name)) return;
  HeaderFields &fields = target->isRequest ? target->request.headers : target->response.headers;
  auto existing = fields.begin();
  while (existing != fields.end() && !EqualsIgnoringCase(existing->first, name)) ++existing;
  if (value == nullptr) {
    if (existing != fields.end()) fields.erase(existing);
    return;
  }
  const std::string &text = StringText(value, "CFHTTPMessageSetHeaderFieldValue");
  if (HoldsLineBreak(text)) return;
  if (existing != fields.end()) existing->second = text;
  else fields.emplace_back(name, text);
}

CFStringRef CFHTTPMessageCopyHeaderFieldValue(CFHTTPMessageRef message, CFStringRef headerField) {
  const __CFHTTPMessage *source = Message(message, "CFHTTPMessageCopyHeaderFieldValue");
  const std::string &name = StringText(headerField, "CFHTTPMessageCopyHeaderFieldValue");
  std::string joined;
  bool found = false;
  for (const auto &field : FieldsOf(*source)) {
    if (!EqualsIgnoringCase(field.first, name)) continue;
    if (found) joined += ", ";
    joined += field.second;
    found = true;
  }
  return found ? MakeString(joined) : nullptr;
}

void CFHTTPMessageSetBody(CFHTTPMessageRef message, CFDataRef bodyData) {
  __CFHTTPMessage *target = Message(message, "CFHTTPMessageSetBody");
  CFIndex length = CFDataGetLength(bodyData);
  const UInt8 *bytes = CFDataGetBytePtr(bodyData);
  std::string body = length > 0 ? std::string(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length))
                                : std::string();
  if (target->isRequest) target->request.body = std::move(body);
}

CFDataRef CFHTTPMessageCopyBody(CFHTTPMessageRef message) {
  const __CFHTTPMessage *source = Message(message, "CFHTTPMessageCopyBody");
  const std::string &body = source->request.body;
  if (!source->isRequest || body.empty()) return nullptr;
  return CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(body.data()), static_cast<CFIndex>(body.size()));
}

Boolean CFHTTPMessageIsRequest(CFHTTPMessageRef message) {
  return Message(message, "CFHTTPMessageIsRequest")->isRequest;
}

CFStringRef CFHTTPMessageCopyRequestMethod(CFHTTPMessageRef request) {
  const __CFHTTPMessage *source = Message(request, "CFHTTPMessageCopyRequestMethod");
  return source->isRequest ? MakeString(source->request.method) : nullptr;
}

CFURLRef CFHTTPMessageCopyRequestURL(CFHTTPMessageRef request) {
  const __CFHTTPMessage *source = Message(request, "CFHTTPMessageCopyRequestURL");
  if (!source->isRequest) return nullptr;
  CFStringRef text = MakeString(source->request.url);
  CFURLRef url = CFURLCreateWithString(nullptr, text, nullptr);
  CFRelease(text);
  return url;
}

CFIndex CFHTTPMessageGetResponseStatusCode(CFHTTPMessageRef response) {
  const __CFHTTPMessage *source = Message(response, "CFHTTPMessageGetResponseStatusCode");
  return source->isRequest ? 0 : source->response.statusCode;
}

}  // extern "C"
