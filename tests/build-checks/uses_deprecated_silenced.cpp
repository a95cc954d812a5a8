// Must compile: the same names silenced locally, as src/NetworkManager.cpp does,
// next to the HTTP message calls, which are not deprecated and need no silencing.
#include <CFNetwork/CFNetwork.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
CFReadStreamRef OpenSilenced(CFHTTPMessageRef request) {
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanFalse);
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader));
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPFinalURL));
  return stream;
}
#pragma GCC diagnostic pop

CFHTTPMessageRef MakeRequest(CFURLRef url, CFDataRef body) {
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), url, kCFHTTPVersion1_1);
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("Content-Type"), CFSTR("application/json"));
  CFHTTPMessageSetBody(request, body);
  return request;
}

CFIndex StatusOf(CFHTTPMessageRef response) { return CFHTTPMessageGetResponseStatusCode(response); }

bool FailedInHttp(CFReadStreamRef stream) { return CFReadStreamGetError(stream).domain == kCFStreamErrorDomainHTTP; }
