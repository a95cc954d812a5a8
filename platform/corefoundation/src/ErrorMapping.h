// How the transports' failures are reported as CFNetwork stream errors (domain
// and code, with macOS values): libcurl's here, WinHTTP's in WinHttpErrors.h; the
// table is documented in <CFNetwork/CFNetwork.h>.
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
// macOS's numbers for the failures both transports report: SecureTransport,
// Darwin errno, getaddrinfo and CFNetwork's HTTP codes.
constexpr SInt32 kErrSSLProtocol = -9800;
constexpr SInt32 kErrSSLXCertChainInvalid = -9807;
constexpr SInt32 kErrSSLUnknownRootCert = -9812;
constexpr SInt32 kErrSSLCertExpired = -9814;
constexpr SInt32 kErrSSLCertNotYetValid = -9815;
constexpr SInt32 kErrSSLHostNameMismatch = -9843;
constexpr SInt32 kDarwinEAINoName = 8;
constexpr SInt32 kDarwinENOMEM = 12;
constexpr SInt32 kDarwinENETUNREACH = 51;
constexpr SInt32 kDarwinECONNRESET = 54;
constexpr SInt32 kDarwinECONNREFUSED = 61;
constexpr SInt32 kDarwinEHOSTUNREACH = 65;
constexpr SInt32 kHTTPParseFailure = -1;
constexpr SInt32 kHTTPRedirectionLoop = -2;
constexpr SInt32 kHTTPBadURL = -3;

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
