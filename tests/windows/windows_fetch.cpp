// windows_fetch <url>: one GET through the CF stand-in's WinHTTP transport.
// Prints "status <code>" when an answer came, "error <domain> <code>" when
// the stream failed; exit status 0 for an answer, 1 for an error.
#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: windows_fetch <url>\n");
    return 2;
  }
  CFStringRef text = CFStringCreateWithCString(nullptr, argv[1], kCFStringEncodingUTF8);
  CFURLRef url = CFURLCreateWithString(nullptr, text, nullptr);
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, CFSTR("GET"), url, kCFHTTPVersion1_1);
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  CFReadStreamOpen(stream);
  UInt8 buffer[4096];
  CFIndex got;
  while ((got = CFReadStreamRead(stream, buffer, sizeof(buffer))) > 0) {
  }
  int status = 1;
  if (got < 0) {
    const CFStreamError error = CFReadStreamGetError(stream);
    std::printf("error %ld %d\n", static_cast<long>(error.domain), static_cast<int>(error.error));
  } else {
    auto response = static_cast<CFHTTPMessageRef>(
        const_cast<void*>(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader)));
    std::printf("status %ld\n", static_cast<long>(response ? CFHTTPMessageGetResponseStatusCode(response) : 0));
    if (response) CFRelease(response);
    status = 0;
  }
  CFReadStreamClose(stream);
  CFRelease(stream);
  CFRelease(request);
  CFRelease(url);
  CFRelease(text);
  return status;
}
