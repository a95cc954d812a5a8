#include "WinHttpErrors.h"

// The numbers are WinHTTP's and Winsock's published codes, written out so the
// table reads (and is tested) the same wherever it is compiled.
namespace cfstandin {
namespace {

enum : std::uint32_t {
  kOutOfMemory = 8,             // ERROR_NOT_ENOUGH_MEMORY
  kWsaNetUnreachable = 10051,   // WSAENETUNREACH
  kWsaConnectionReset = 10054,  // WSAECONNRESET
  kWsaTimedOut = 10060,         // WSAETIMEDOUT: Wine's time-out
  kWsaRefused = 10061,          // WSAECONNREFUSED
  kWsaHostUnreachable = 10065,  // WSAEHOSTUNREACH
  kWsaHostNotFound = 11001,     // WSAHOST_NOT_FOUND
  kTimeout = 12002,
  kInvalidUrl = 12005,
  kUnrecognizedScheme = 12006,
  kNameNotResolved = 12007,
  kOperationCancelled = 12017,
  kCannotConnect = 12029,
  kConnectionError = 12030,
  kCertDateInvalid = 12037,
  kCertCnInvalid = 12038,
  kInvalidCa = 12045,
  kCertRevocationFailed = 12057,
  kInvalidServerResponse = 12152,
  kRedirectFailed = 12156,
  kSecureChannelError = 12157,  // Wine's code for every TLS failure
  kInvalidCert = 12169,
  kCertRevoked = 12170,
  kSecureFailure = 12175,
  kHeaderSizeOverflow = 12183,
  kResponseDrainOverflow = 12184,
};

// WINHTTP_CALLBACK_STATUS_FLAG_* bits.
constexpr std::uint32_t kFlagCertDateInvalid = 0x08;
constexpr std::uint32_t kFlagCertCnInvalid = 0x10;
constexpr std::uint32_t kFlagInvalidCa = 0x04;
constexpr std::uint32_t kFlagSecurityChannelError = 0x80000000u;

// A certificate failure as the flags of its secure-failure report tell it;
// the error code alone when no report came.
SInt32 CertificateError(std::uint32_t error, std::uint32_t flags) {
  if (flags & kFlagCertCnInvalid) return kErrSSLHostNameMismatch;
  if (flags & kFlagInvalidCa) return kErrSSLUnknownRootCert;
  if (flags & kFlagCertDateInvalid) return kErrSSLCertExpired;
  if (flags & kFlagSecurityChannelError) return kErrSSLProtocol;
  if (flags != 0) return kErrSSLXCertChainInvalid;
  switch (error) {
    case kCertCnInvalid: return kErrSSLHostNameMismatch;
    case kInvalidCa: return kErrSSLUnknownRootCert;
    case kCertDateInvalid: return kErrSSLCertExpired;
    case kSecureChannelError: return kErrSSLProtocol;
    default: return kErrSSLXCertChainInvalid;
  }
}

}  // namespace

CFStreamError StreamErrorForWinHttp(std::uint32_t error, std::uint32_t secureFailureFlags, const Progress &progress) {
  if (progress.bodyTooLarge) return {kDomainPOSIX, kDarwinEFBIG};
  switch (error) {
    case kNameNotResolved:
    case kWsaHostNotFound:
      return {kDomainNetDB, kDarwinEAINoName};
    case kCannotConnect:
    case kWsaRefused:
      return {kDomainPOSIX, kDarwinECONNREFUSED};
    case kWsaNetUnreachable:
      return {kDomainPOSIX, kDarwinENETUNREACH};
    case kWsaHostUnreachable:
      return {kDomainPOSIX, kDarwinEHOSTUNREACH};
    case kTimeout:
    case kWsaTimedOut:
      return {kDomainPOSIX, kDarwinETIMEDOUT};
    case kSecureFailure:
    case kSecureChannelError:
    case kCertDateInvalid:
    case kCertCnInvalid:
    case kInvalidCa:
    case kCertRevocationFailed:
    case kInvalidCert:
    case kCertRevoked:
      return {kDomainSSL, CertificateError(error, secureFailureFlags)};
    case kConnectionError:
    case kWsaConnectionReset:
      if (progress.responseStarted) return {kDomainPOSIX, kDarwinECONNRESET};
      return {kDomainHTTP, kHTTPConnectionLost};
    case kInvalidServerResponse:
    case kHeaderSizeOverflow:
    case kResponseDrainOverflow:
      return {kDomainHTTP, kHTTPParseFailure};
    case kRedirectFailed:
      return {kDomainHTTP, kHTTPRedirectionLoop};
    case kInvalidUrl:
    case kUnrecognizedScheme:
      return {kDomainHTTP, kHTTPBadURL};
    case kOperationCancelled:
      return {kDomainPOSIX, kDarwinECANCELED};
    case kOutOfMemory:
      return {kDomainPOSIX, kDarwinENOMEM};
    default:
      return {kCFStreamErrorDomainCustom, static_cast<SInt32>(error)};
  }
}

}  // namespace cfstandin
