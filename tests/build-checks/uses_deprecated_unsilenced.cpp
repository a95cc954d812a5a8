// Must NOT compile: every name of CFNetwork's deprecated HTTP stream API, used
// with the plug-in's flags and no silencing (tests/build-checks/CMakeLists.txt).
#include <CFNetwork/CFNetwork.h>

CFReadStreamRef OpenUnsilenced(CFHTTPMessageRef request) {
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanFalse);
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader));
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPFinalURL));
  return stream;
}
