// Every name of CFNetwork's deprecated HTTP stream API, used without the local
// silencing that src/NetworkManager.cpp puts around its uses: with the
// plug-in's flags this must fail to compile. (The plug-in's own build is the
// proof that the silenced uses compile.)
#include <CFNetwork/CFNetwork.h>

CFReadStreamRef OpenStream(CFHTTPMessageRef request) {
  CFReadStreamRef stream = CFReadStreamCreateForHTTPRequest(nullptr, request);
  CFReadStreamSetProperty(stream, kCFStreamPropertyHTTPShouldAutoredirect, kCFBooleanFalse);
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPResponseHeader));
  CFRelease(CFReadStreamCopyProperty(stream, kCFStreamPropertyHTTPFinalURL));
  return stream;
}
