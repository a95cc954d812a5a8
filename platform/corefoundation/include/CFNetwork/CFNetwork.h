/* CFNetwork for systems without Apple's frameworks: HTTP messages and HTTP read
   streams over libcurl, with Apple's names and constant values.

   A read stream made for an HTTP request runs its whole exchange (name
   resolution, connecting, TLS with certificate checks against the system trust
   store, sending, receiving) on a worker thread owned by this library; the
   thread that opens and reads the stream never waits on the network except in
   a blocking CFReadStreamRead, which waits for bytes without limit.

   It promises no more than Apple's HTTP stream: every property is refused once
   the stream was opened; each request has a connection of its own and says
   "Connection: close", unless kCFStreamPropertyHTTPAttemptPersistentConnection
   was set true (then connections to the host are kept and reused, and a
   request whose kept connection dies before any answer is not sent again but
   fails: connection lost); no proxy is used (there is no proxy property here,
   and the environment's proxy variables are ignored); has-bytes-available is
   delivered while unread body bytes remain, again to a client that leaves
   them, and end-encountered only once they were read; a failed stream keeps
   its error status after close. Events reach the client only from inside
   CFRunLoopRunInMode, run on the stream's run loop in a mode it is scheduled
   in. Nothing bounds an exchange in time but connecting (75 s, TLS included):
   a client that needs a bound keeps it itself.

   TLS is 1.2 or later, and TLS 1.2 only with ECDHE key exchange and AES-GCM
   or ChaCha20. Bytes read are the response body only, at most 8 MiB of it.

   Errors (CFReadStreamGetError), by what happened:
     connection refused / unreachable, reset       kCFStreamErrorDomainPOSIX, the macOS errno
                                                  (ECONNREFUSED 61, ENETUNREACH 51, EHOSTUNREACH 65,
                                                   ECONNRESET 54, ENOTCONN 57)
     connect (TLS included) not done in 75 s       kCFStreamErrorDomainPOSIX, ETIMEDOUT 60
     unknown host name                             kCFStreamErrorDomainNetDB (12), EAI_NONAME 8
     certificate not trusted / expired / wrong
     host name                                     kCFStreamErrorDomainSSL (3), errSSLXCertChainInvalid
                                                  -9807 / errSSLCertExpired -9814 / errSSLUnknownRootCert
                                                  -9812 / errSSLHostNameMismatch -9843
     any other TLS failure (no common protocol
     version or cipher suite included)             kCFStreamErrorDomainSSL, errSSLProtocol -9800
     connection closed before or during the
     response, or a kept-alive connection lost
     under the request                             kCFStreamErrorDomainHTTP (4), -4 (connection lost)
     unreadable response (a garbage status line)   kCFStreamErrorDomainHTTP, -1 (parse failure)
     response body longer than 8 MiB               kCFStreamErrorDomainPOSIX, EFBIG 27
     too many redirects                            kCFStreamErrorDomainHTTP, -2 (redirection loop)
     URL the transport cannot use, or a redirect
     from https to another scheme                  kCFStreamErrorDomainHTTP, -3 (bad URL)
     anything else                                 kCFStreamErrorDomainCustom, the libcurl error code */
#ifndef TRALIX_STANDIN_CFNETWORK_H
#define TRALIX_STANDIN_CFNETWORK_H

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct __CFHTTPMessage *CFHTTPMessageRef;

/* ---- Error domains ---- */
extern const SInt32 kCFStreamErrorDomainSSL;                 /* 3 */
extern const SInt32 kCFStreamErrorDomainHTTP;                /* 4 */
extern const SInt32 kCFStreamErrorDomainSOCKS;               /* 5 */
extern const SInt32 kCFStreamErrorDomainNetDB;               /* 12 */
extern const SInt32 kCFStreamErrorDomainSystemConfiguration; /* 13 */

#ifdef __cplusplus
enum CFStreamErrorHTTP : SInt32 {
#else
typedef SInt32 CFStreamErrorHTTP;
enum {
#endif
  kCFStreamErrorHTTPParseFailure = -1,
  kCFStreamErrorHTTPRedirectionLoop = -2,
  kCFStreamErrorHTTPBadURL = -3
};

/* ---- HTTP messages ---- */
extern const CFStringRef kCFHTTPVersion1_0;
extern const CFStringRef kCFHTTPVersion1_1;

CFTypeID CFHTTPMessageGetTypeID(void);
/* NULL unless method is a token, url is an http or https URL with a host, and
   httpVersion is HTTP/1.0 or HTTP/1.1. */
CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef alloc, CFStringRef requestMethod, CFURLRef url, CFStringRef httpVersion);
/* Sets or (value NULL) removes a header field; names compare case-insensitively.
   A name that is not an HTTP token, or a value holding CR or LF, is refused and
   leaves the message unchanged. */
void CFHTTPMessageSetHeaderFieldValue(CFHTTPMessageRef message, CFStringRef headerField, CFStringRef value);
CFStringRef CFHTTPMessageCopyHeaderFieldValue(CFHTTPMessageRef message, CFStringRef headerField);
/* The message copies the bytes; the caller may release bodyData at once. */
void CFHTTPMessageSetBody(CFHTTPMessageRef message, CFDataRef bodyData);
CFDataRef CFHTTPMessageCopyBody(CFHTTPMessageRef message);
Boolean CFHTTPMessageIsRequest(CFHTTPMessageRef message);
CFStringRef CFHTTPMessageCopyRequestMethod(CFHTTPMessageRef request);
CFURLRef CFHTTPMessageCopyRequestURL(CFHTTPMessageRef request);
/* 0 for a request message. */
CFIndex CFHTTPMessageGetResponseStatusCode(CFHTTPMessageRef response);

/* ---- HTTP read streams ----
   Apple deprecated the HTTP stream API in macOS 10.11 (the HTTP messages and the
   error domain above are not deprecated). */
#define CF_STANDIN_HTTP_STREAM_DEPRECATED CF_STANDIN_DEPRECATED_MACOS("10.11", "Use NSURLSession API for http requests")

/* CFBoolean; redirects are followed only when it is true. The status then read
   is the final response's. At most 10 redirects are followed. */
extern const CFStringRef kCFStreamPropertyHTTPShouldAutoredirect CF_STANDIN_HTTP_STREAM_DEPRECATED;
/* Copy only: the response message (status line and header fields, no body), or
   NULL until a response header has arrived. */
extern const CFStringRef kCFStreamPropertyHTTPResponseHeader CF_STANDIN_HTTP_STREAM_DEPRECATED;
/* Copy only: the URL of the final response, after redirects. */
extern const CFStringRef kCFStreamPropertyHTTPFinalURL CF_STANDIN_HTTP_STREAM_DEPRECATED;
/* CFBoolean, false unless set: keep the connection for later requests to the
   same host, and use one kept from an earlier request. */
extern const CFStringRef kCFStreamPropertyHTTPAttemptPersistentConnection CF_STANDIN_HTTP_STREAM_DEPRECATED;
/* The private read-timeout property "_kCFStreamPropertyReadTimeout" (reach it
   with CFSTR("_kCFStreamPropertyReadTimeout")), a CFNumber of seconds, is
   accepted before open and reads back as set, and, as on Apple's HTTP stream,
   bounds nothing. */

/* The request message is copied; later changes to it do not reach the stream. */
CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef alloc, CFHTTPMessageRef request)
    CF_STANDIN_HTTP_STREAM_DEPRECATED;

/* ---- Not Apple's: the stand-in's network worker ----
   Stops the worker thread and joins it; transfers still running end with
   {kCFStreamErrorDomainPOSIX, ECANCELED 89}. The next open starts it again.
   A plug-in calls it from its stop path (and after a failed start), before the
   host unloads it: the library never joins the thread from a static destructor
   or an unload hook, where Windows holds its loader lock and the join would
   never return. */
void CFStandInShutdownTransport(void);

#ifdef __cplusplus
}
#endif

#endif
