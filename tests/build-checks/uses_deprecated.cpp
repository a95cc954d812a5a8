// Every name of CFNetwork's deprecated HTTP stream API, used with the plug-in's
// flags: built once as it is, which must fail, and once with the names silenced
// locally as src/NetworkManager.cpp does, which must compile. The HTTP message
// calls are not deprecated and need no silencing in either build.
#include <CFNetwork/CFNetwork.h>

#ifdef SILENCE_DEPRECATED
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
CFReadStreamRef OpenStream(CFHTTPMessageRef request) {
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanFalse);
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader));
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPFinalURL));
  return stream;
}
#ifdef SILENCE_DEPRECATED
#pragma GCC diagnostic pop
#endif

CFHTTPMessageRef MakeRequest(CFURLRef url, CFDataRef body) {
  CFHTTPMessageRef request = CFHTTPMessageCreateRequest(nullptr, CFSTR("POST"), url, kCFHTTPVersion1_1);
  CFHTTPMessageSetHeaderFieldValue(request, CFSTR("Content-Type"), CFSTR("application/json"));
  CFHTTPMessageSetBody(request, body);
  return request;
}

CFIndex StatusOf(CFHTTPMessageRef response) { return CFHTTPMessageGetResponseStatusCode(response); }

bool FailedInHttp(CFReadStreamRef stream) { return CFReadStreamGetError(stream).domain == kCFStreamErrorDomainHTTP; }
