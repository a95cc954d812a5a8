// How libcurl's results are reported as CFNetwork stream errors (domain and
// code, with macOS values); the table is documented in <CFNetwork/CFNetwork.h>.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

namespace cfstandin {

constexpr CFIndex kDomainPOSIX = 1;
constexpr CFIndex kDomainSSL = 3;
constexpr CFIndex kDomainHTTP = 4;
constexpr CFIndex kDomainNetDB = 12;
constexpr SInt32 kDarwinETIMEDOUT = 60;
constexpr SInt32 kDarwinECANCELED = 89;
constexpr SInt32 kHTTPConnectionLost = -4;
constexpr SInt32 kDarwinEFBIG = 27;

// How far an exchange got before it failed.
struct Progress {
  bool responseStarted = false;  // a response header block had begun
  bool requestSent = false;      // the request went out and no redirect was being followed
  bool bodyTooLarge = false;     // the response body passed kMaxResponseBodyBytes
};

// errno of this system as its macOS number.
SInt32 DarwinErrno(long systemErrno);

// curlCode: the transfer's CURLcode; systemErrno: CURLINFO_OS_ERRNO;
// verifyResult: CURLINFO_SSL_VERIFYRESULT.
CFStreamError StreamErrorFor(int curlCode, long systemErrno, long verifyResult, const Progress &progress);

}  // namespace cfstandin
