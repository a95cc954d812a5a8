/* Test-only controls of the CoreFoundation/CFNetwork stand-in. Never part of the
   plug-in's include path and never exported from it. */
#ifndef TRALIX_STANDIN_CFSTANDINTESTING_H
#define TRALIX_STANDIN_CFSTANDINTESTING_H

#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Objects created and not yet freed. Constant strings (CFSTR and the k...
   constants), booleans and run loops are permanent and not counted. */
long CFStandInLiveObjectCount(void);
/* The same, for one kind: "CFString", "CFURL", "CFData", "CFNumber",
   "CFHTTPMessage" or "CFReadStream"; -1 for an unknown kind. */
long CFStandInLiveObjectCountOfKind(const char *kind);
/* Writes "CFString=2 CFReadStream=1" style text of the kinds alive into buffer,
   NUL-terminated and cut to bufferSize; for test failure messages. */
void CFStandInDescribeLiveObjects(char *buffer, size_t bufferSize);

/* Makes the next `count` calls of the named operation fail the way it reports
   failure (NULL or false); count 0 removes the fault. Returns 0 when the name is
   not one that can fail: CFStringCreateWithCString, CFURLCreateWithString,
   CFHTTPMessageCreateRequest, CFDataCreate, CFNumberCreate,
   CFReadStreamCreateForHTTPRequest, CFReadStreamSetProperty,
   CFReadStreamSetClient, CFReadStreamOpen, CFReadStreamCopyProperty. */
int CFStandInFailNextCalls(const char *operation, int count);
/* Calls of the operation still set to fail. */
int CFStandInPendingFailures(const char *operation);
void CFStandInClearFailures(void);

/* Waits until the network worker has no transfer in progress. Returns 1 when
   idle, 0 when timeoutSeconds passed first. */
int CFStandInWaitForTransportIdle(double timeoutSeconds);
/* Transfers currently in the worker's hands. */
long CFStandInActiveTransfers(void);
/* New connections (each with its TLS handshake) made since start; a request
   sent over a kept-alive connection adds nothing. */
long CFStandInConnectionsOpened(void);
/* Requests handed to the worker since start. */
long CFStandInRequestsStarted(void);
/* CFStandInShutdownTransport (CFNetwork.h) stops and joins the worker. */

#ifdef __cplusplus
}
#endif

#endif
