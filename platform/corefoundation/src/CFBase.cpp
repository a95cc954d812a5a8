// Placeholder bodies so that dependants link; the real stand-in replaces them.
#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#include "../testing/CFStandInTesting.h"

#include <cstdlib>

extern "C" {
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFAllocatorRef kCFAllocatorSystemDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = nullptr;
const CFBooleanRef kCFBooleanFalse = nullptr;
const CFRunLoopMode kCFRunLoopDefaultMode = nullptr;
const CFRunLoopMode kCFRunLoopCommonModes = nullptr;
const SInt32 kCFStreamErrorDomainSSL = 3;
const SInt32 kCFStreamErrorDomainHTTP = 4;
const SInt32 kCFStreamErrorDomainSOCKS = 5;
const SInt32 kCFStreamErrorDomainNetDB = 12;
const SInt32 kCFStreamErrorDomainSystemConfiguration = 13;
const CFStringRef kCFHTTPVersion1_0 = nullptr;
const CFStringRef kCFHTTPVersion1_1 = nullptr;
const CFStringRef kCFStreamPropertyHTTPShouldAutoredirect = nullptr;
const CFStringRef kCFStreamPropertyHTTPResponseHeader = nullptr;
const CFStringRef kCFStreamPropertyHTTPFinalURL = nullptr;

CFTypeRef CFRetain(CFTypeRef cf) { return cf; }
void CFRelease(CFTypeRef) {}
CFIndex CFGetRetainCount(CFTypeRef) { return 0; }
Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return a == b; }
CFTypeID CFGetTypeID(CFTypeRef) { return 0; }
CFStringRef __CFStringMakeConstantString(const char *) { return nullptr; }
CFTypeID CFStringGetTypeID(void) { return 1; }
CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char *, CFStringEncoding) { return nullptr; }
CFIndex CFStringGetLength(CFStringRef) { return 0; }
Boolean CFStringGetCString(CFStringRef, char *, CFIndex, CFStringEncoding) { return false; }
const char *CFStringGetCStringPtr(CFStringRef, CFStringEncoding) { return nullptr; }
CFTypeID CFDataGetTypeID(void) { return 2; }
CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *, CFIndex) { return nullptr; }
CFIndex CFDataGetLength(CFDataRef) { return 0; }
const UInt8 *CFDataGetBytePtr(CFDataRef) { return nullptr; }
CFTypeID CFNumberGetTypeID(void) { return 3; }
CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType, const void *) { return nullptr; }
Boolean CFNumberGetValue(CFNumberRef, CFNumberType, void *) { return false; }
CFTypeID CFBooleanGetTypeID(void) { return 4; }
Boolean CFBooleanGetValue(CFBooleanRef) { return false; }
CFTypeID CFURLGetTypeID(void) { return 5; }
CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef, CFURLRef) { return nullptr; }
CFStringRef CFURLGetString(CFURLRef) { return nullptr; }
CFTypeID CFRunLoopGetTypeID(void) { return 6; }
CFRunLoopRef CFRunLoopGetCurrent(void) { return nullptr; }
CFRunLoopRef CFRunLoopGetMain(void) { return nullptr; }
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode, CFTimeInterval, Boolean) { return kCFRunLoopRunFinished; }
void CFRunLoopStop(CFRunLoopRef) {}
void CFRunLoopWakeUp(CFRunLoopRef) {}
CFTypeID CFReadStreamGetTypeID(void) { return 7; }
CFStreamStatus CFReadStreamGetStatus(CFReadStreamRef) { return kCFStreamStatusNotOpen; }
CFStreamError CFReadStreamGetError(CFReadStreamRef) { return CFStreamError{0, 0}; }
Boolean CFReadStreamOpen(CFReadStreamRef) { return false; }
void CFReadStreamClose(CFReadStreamRef) {}
CFIndex CFReadStreamRead(CFReadStreamRef, UInt8 *, CFIndex) { return -1; }
Boolean CFReadStreamHasBytesAvailable(CFReadStreamRef) { return false; }
CFTypeRef CFReadStreamCopyProperty(CFReadStreamRef, CFStreamPropertyKey) { return nullptr; }
Boolean CFReadStreamSetProperty(CFReadStreamRef, CFStreamPropertyKey, CFTypeRef) { return false; }
Boolean CFReadStreamSetClient(CFReadStreamRef, CFOptionFlags, CFReadStreamClientCallBack, CFStreamClientContext *) { return false; }
void CFReadStreamScheduleWithRunLoop(CFReadStreamRef, CFRunLoopRef, CFRunLoopMode) {}
void CFReadStreamUnscheduleFromRunLoop(CFReadStreamRef, CFRunLoopRef, CFRunLoopMode) {}
CFTypeID CFHTTPMessageGetTypeID(void) { return 8; }
CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef, CFStringRef, CFURLRef, CFStringRef) { return nullptr; }
void CFHTTPMessageSetHeaderFieldValue(CFHTTPMessageRef, CFStringRef, CFStringRef) {}
CFStringRef CFHTTPMessageCopyHeaderFieldValue(CFHTTPMessageRef, CFStringRef) { return nullptr; }
void CFHTTPMessageSetBody(CFHTTPMessageRef, CFDataRef) {}
CFDataRef CFHTTPMessageCopyBody(CFHTTPMessageRef) { return nullptr; }
Boolean CFHTTPMessageIsRequest(CFHTTPMessageRef) { return false; }
CFStringRef CFHTTPMessageCopyRequestMethod(CFHTTPMessageRef) { return nullptr; }
CFURLRef CFHTTPMessageCopyRequestURL(CFHTTPMessageRef) { return nullptr; }
CFIndex CFHTTPMessageGetResponseStatusCode(CFHTTPMessageRef) { return 0; }
CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef, CFHTTPMessageRef) { return nullptr; }

long CFStandInLiveObjectCount(void) { return 0; }
long CFStandInLiveObjectCountOfKind(const char *) { return 0; }
void CFStandInDescribeLiveObjects(char *buffer, size_t bufferSize) {
  if (buffer && bufferSize > 0) buffer[0] = '\0';
}
int CFStandInFailNextCalls(const char *, int) { return 1; }
int CFStandInPendingFailures(const char *) { return 0; }
void CFStandInClearFailures(void) {}
int CFStandInWaitForTransportIdle(double) { return 1; }
long CFStandInActiveTransfers(void) { return 0; }
long CFStandInConnectionsOpened(void) { return 0; }
long CFStandInRequestsStarted(void) { return 0; }
void CFStandInShutdownTransport(void) {}
}
