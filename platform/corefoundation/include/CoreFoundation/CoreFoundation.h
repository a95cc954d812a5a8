/* CoreFoundation for systems without Apple's frameworks: the subset the Tralix
   service client uses, with Apple's names, types, widths and constant values.
   Ownership follows the Create/Copy rule: the caller releases what it created or
   copied. Passing NULL to CFRetain or CFRelease aborts, as it crashes on Apple. */
#ifndef TRALIX_STANDIN_COREFOUNDATION_H
#define TRALIX_STANDIN_COREFOUNDATION_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Availability ----
   Marks what Apple's SDK marks deprecated for macOS, with Apple's message, so
   that a use warns here where it warns on a Mac (and -Werror fails both builds
   alike). Apple's marks warn only from the deprecating release on; the plug-in's
   deployment target (10.13) is past every version named in these headers, so
   here they always warn. */
#define CF_STANDIN_DEPRECATED_MACOS(version, message) \
  __attribute__((deprecated("first deprecated in macOS " version " - " message)))

/* ---- Scalar types (LP64 widths as on macOS) ---- */
typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef signed char SInt8;
typedef unsigned short UInt16;
typedef signed short SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef int64_t SInt64;
typedef uint64_t UInt64;
typedef float Float32;
typedef double Float64;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef signed long CFIndex;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef unsigned long CFTypeID;
typedef double CFTimeInterval;

typedef const void *CFTypeRef;
typedef const struct __CFAllocator *CFAllocatorRef;
typedef const struct __CFString *CFStringRef;
typedef struct __CFString *CFMutableStringRef;
typedef const struct __CFURL *CFURLRef;
typedef const struct __CFData *CFDataRef;
typedef const struct __CFNumber *CFNumberRef;
typedef const struct __CFBoolean *CFBooleanRef;
typedef struct __CFRunLoop *CFRunLoopRef;
typedef struct __CFReadStream *CFReadStreamRef;

typedef CFStringRef CFRunLoopMode;
typedef CFStringRef CFStreamPropertyKey;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

/* ---- Base ---- */
extern const CFAllocatorRef kCFAllocatorDefault; /* NULL, as on Apple */
extern const CFAllocatorRef kCFAllocatorSystemDefault;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
CFTypeID CFGetTypeID(CFTypeRef cf);

/* ---- Strings ---- */
typedef UInt32 CFStringEncoding;
#ifdef __cplusplus
enum CFStringBuiltInEncodings : CFStringEncoding {
#else
typedef CFStringEncoding CFStringBuiltInEncodings;
enum {
#endif
  kCFStringEncodingMacRoman = 0,
  kCFStringEncodingWindowsLatin1 = 0x0500,
  kCFStringEncodingISOLatin1 = 0x0201,
  kCFStringEncodingNextStepLatin = 0x0B01,
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUnicode = 0x0100,
  kCFStringEncodingUTF8 = 0x08000100,
  kCFStringEncodingNonLossyASCII = 0x0BFF
};

/* A constant string, never freed; the same text always gives the same object. */
CFStringRef __CFStringMakeConstantString(const char *cStr);
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")

CFTypeID CFStringGetTypeID(void);
/* Supported encodings: UTF-8, ASCII and ISO Latin-1. Returns NULL when the bytes
   are not valid in the encoding, or for any other encoding. */
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr, CFStringEncoding encoding);
/* Length in UTF-16 units, as on Apple. */
CFIndex CFStringGetLength(CFStringRef theString);
Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize, CFStringEncoding encoding);
/* The UTF-8 bytes when encoding is UTF-8, else NULL. Valid while the string lives. */
const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);

/* ---- Data ---- */
CFTypeID CFDataGetTypeID(void);
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef theData);
const UInt8 *CFDataGetBytePtr(CFDataRef theData);

/* ---- Numbers and booleans ---- */
#ifdef __cplusplus
enum CFNumberType : CFIndex {
#else
typedef CFIndex CFNumberType;
enum {
#endif
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
  kCFNumberCFIndexType = 14,
  kCFNumberNSIntegerType = 15,
  kCFNumberCGFloatType = 16,
  kCFNumberMaxType = 16
};

CFTypeID CFNumberGetTypeID(void);
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void *valuePtr);
/* Converts to theType; returns false when the value did not convert exactly. */
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr);

CFTypeID CFBooleanGetTypeID(void);
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
Boolean CFBooleanGetValue(CFBooleanRef boolean);

/* ---- URLs ---- */
CFTypeID CFURLGetTypeID(void);
/* Returns NULL for NULL or empty text, for text that is not an absolute URL
   (scheme followed by ':'), for any character outside the URL character set
   (a blank, for instance), for a '%' not followed by two hex digits and for more
   than one '#'. A base URL is not supported: with one the result is NULL. */
CFURLRef CFURLCreateWithString(CFAllocatorRef allocator, CFStringRef URLString, CFURLRef baseURL);
/* The URL's text; not owned by the caller. */
CFStringRef CFURLGetString(CFURLRef anURL);

/* ---- Run loops ---- */
extern const CFRunLoopMode kCFRunLoopDefaultMode;
extern const CFRunLoopMode kCFRunLoopCommonModes; /* contains the default mode */

#ifdef __cplusplus
enum CFRunLoopRunResult : SInt32 {
#else
typedef SInt32 CFRunLoopRunResult;
enum {
#endif
  kCFRunLoopRunFinished = 1,
  kCFRunLoopRunStopped = 2,
  kCFRunLoopRunTimedOut = 3,
  kCFRunLoopRunHandledSource = 4
};

CFTypeID CFRunLoopGetTypeID(void);
/* The calling thread's run loop; not owned by the caller. */
CFRunLoopRef CFRunLoopGetCurrent(void);
/* The run loop of the process's initial thread; not owned by the caller. */
CFRunLoopRef CFRunLoopGetMain(void);
/* Runs the calling thread's run loop in mode: delivers pending stream events to
   their clients on this thread, waiting for more up to seconds. With
   returnAfterSourceHandled it returns after the first delivered event. Returns
   kCFRunLoopRunFinished when no stream is scheduled in mode. With seconds 0 it
   never waits. */
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds, Boolean returnAfterSourceHandled);
void CFRunLoopStop(CFRunLoopRef rl);
void CFRunLoopWakeUp(CFRunLoopRef rl);

/* ---- Read streams ---- */
#ifdef __cplusplus
enum CFStreamStatus : CFIndex {
#else
typedef CFIndex CFStreamStatus;
enum {
#endif
  kCFStreamStatusNotOpen = 0,
  kCFStreamStatusOpening = 1,
  kCFStreamStatusOpen = 2,
  kCFStreamStatusReading = 3,
  kCFStreamStatusWriting = 4,
  kCFStreamStatusAtEnd = 5,
  kCFStreamStatusClosed = 6,
  kCFStreamStatusError = 7
};

typedef CFOptionFlags CFStreamEventType;
#ifdef __cplusplus
enum : CFOptionFlags {
#else
enum {
#endif
  kCFStreamEventNone = 0,
  kCFStreamEventOpenCompleted = 1,
  kCFStreamEventHasBytesAvailable = 2,
  kCFStreamEventCanAcceptBytes = 4,
  kCFStreamEventErrorOccurred = 8,
  kCFStreamEventEndEncountered = 16
};

#ifdef __cplusplus
enum CFStreamErrorDomain : CFIndex {
#else
typedef CFIndex CFStreamErrorDomain;
enum {
#endif
  kCFStreamErrorDomainCustom = -1L,
  kCFStreamErrorDomainPOSIX = 1,
  kCFStreamErrorDomainMacOSStatus = 2
};

typedef struct {
  CFIndex domain;
  SInt32 error;
} CFStreamError;

typedef struct {
  CFIndex version;
  void *info;
  void *(*retain)(void *info);
  void (*release)(void *info);
  CFStringRef (*copyDescription)(void *info);
} CFStreamClientContext;

typedef void (*CFReadStreamClientCallBack)(CFReadStreamRef stream, CFStreamEventType type, void *clientCallBackInfo);

CFTypeID CFReadStreamGetTypeID(void);
CFStreamStatus CFReadStreamGetStatus(CFReadStreamRef stream);
/* {0, 0} when there is no error. See <CFNetwork/CFNetwork.h> for the domains. */
CFStreamError CFReadStreamGetError(CFReadStreamRef stream);
Boolean CFReadStreamOpen(CFReadStreamRef stream);
void CFReadStreamClose(CFReadStreamRef stream);
/* Bytes read (> 0), 0 at the end, -1 on error or when the stream is not open.
   Blocks until at least one byte, the end, an error or the read timeout. */
CFIndex CFReadStreamRead(CFReadStreamRef stream, UInt8 *buffer, CFIndex bufferLength);
Boolean CFReadStreamHasBytesAvailable(CFReadStreamRef stream);
CFTypeRef CFReadStreamCopyProperty(CFReadStreamRef stream, CFStreamPropertyKey propertyName);
Boolean CFReadStreamSetProperty(CFReadStreamRef stream, CFStreamPropertyKey propertyName, CFTypeRef propertyValue);
/* (stream, 0, NULL, NULL) removes the client. The context is copied. */
Boolean CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags streamEvents, CFReadStreamClientCallBack clientCB, CFStreamClientContext *clientContext);
void CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop, CFRunLoopMode runLoopMode);
void CFReadStreamUnscheduleFromRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop, CFRunLoopMode runLoopMode);

#ifdef __cplusplus
}
#endif

#endif
