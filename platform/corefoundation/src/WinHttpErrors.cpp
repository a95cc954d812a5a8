#include "WinHttpErrors.h"

#include <windows.h>
#include <winhttp.h>

namespace cfstandin {
namespace {

// A certificate failure as the flags of its secure-failure report tell it;
// the error code alone when no report came.
SInt32 CertificateError(std::uint32_t error, std::uint32_t flags) {
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) return kErrSSLHostNameMismatch;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return kErrSSLUnknownRootCert;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) return kErrSSLCertExpired;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR) return kErrSSLProtocol;
  if (flags != 0) return kErrSSLXCertChainInvalid;
  switch (error) {
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: return kErrSSLHostNameMismatch;
    case ERROR_WINHTTP_SECURE_INVALID_CA: return kErrSSLUnknownRootCert;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: return kErrSSLCertExpired;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return kErrSSLProtocol;  // Wine's code for every TLS failure
    default: return kErrSSLXCertChainInvalid;
  }
}

}  // namespace

CFStreamError StreamErrorForWinHttp(std::uint32_t error, std::uint32_t secureFailureFlags, const Progress &progress) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case WSAHOST_NOT_FOUND:
      return {kDomainNetDB, kDarwinEAINoName};
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      return {kDomainPOSIX, kDarwinECONNREFUSED};
    case WSAENETUNREACH:
      return {kDomainPOSIX, kDarwinENETUNREACH};
    case WSAEHOSTUNREACH:
      return {kDomainPOSIX, kDarwinEHOSTUNREACH};
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return {kDomainPOSIX, kDarwinETIMEDOUT};
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
      return {kDomainSSL, CertificateError(error, secureFailureFlags)};
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
      if (progress.responseStarted) return {kDomainPOSIX, kDarwinECONNRESET};
      return {kDomainHTTP, kHTTPConnectionLost};
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW:
      return {kDomainHTTP, kHTTPParseFailure};
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return {kDomainHTTP, kHTTPRedirectionLoop};
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return {kDomainHTTP, kHTTPBadURL};
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return {kDomainPOSIX, kDarwinECANCELED};
    case ERROR_NOT_ENOUGH_MEMORY:
      return {kDomainPOSIX, kDarwinENOMEM};
    default:
      return {kCFStreamErrorDomainCustom, static_cast<SInt32>(error)};
  }
}

}  // namespace cfstandin
