#include "ErrorMapping.h"

#include <curl/curl.h>

#include <cerrno>

namespace cfstandin {
namespace {

// OpenSSL X509_V_ERR_* values of a failed certificate check.
SInt32 CertificateError(long verifyResult) {
  switch (verifyResult) {
    case 0:  // the chain was fine; libcurl's own host name check failed,
    case 1:  // which it files as X509_V_ERR_UNSPECIFIED
    case 62:  // X509_V_ERR_HOSTNAME_MISMATCH
    case 64:  // X509_V_ERR_IP_ADDRESS_MISMATCH
      return kErrSSLHostNameMismatch;
    case 9:  // X509_V_ERR_CERT_NOT_YET_VALID
      return kErrSSLCertNotYetValid;
    case 10:  // X509_V_ERR_CERT_HAS_EXPIRED
      return kErrSSLCertExpired;
    case 2:   // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT
    case 18:  // X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
    case 19:  // X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN
    case 20:  // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY
    case 21:  // X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE
      return kErrSSLUnknownRootCert;
    default:
      return kErrSSLXCertChainInvalid;
  }
}

}  // namespace

SInt32 DarwinErrno(long systemErrno) {
  switch (systemErrno) {
    case EAGAIN: return 35;
    case EINPROGRESS: return 36;
    case EAFNOSUPPORT: return 47;
    case EADDRINUSE: return 48;
    case EADDRNOTAVAIL: return 49;
    case ENETDOWN: return 50;
    case ENETUNREACH: return kDarwinENETUNREACH;
    case ENETRESET: return 52;
    case ECONNABORTED: return 53;
    case ECONNRESET: return kDarwinECONNRESET;
    case ENOBUFS: return 55;
    case ENOTCONN: return 57;
    case ETIMEDOUT: return kDarwinETIMEDOUT;
    case ECONNREFUSED: return kDarwinECONNREFUSED;
    case EHOSTDOWN: return 64;
    case EHOSTUNREACH: return kDarwinEHOSTUNREACH;
    case ECANCELED: return kDarwinECANCELED;
    default: return static_cast<SInt32>(systemErrno);  // 1 to 34 are the same on both
  }
}

CFStreamError StreamErrorFor(int curlCode, long systemErrno, long verifyResult, const Progress &progress) {
  if (progress.bodyTooLarge) return {kDomainPOSIX, kDarwinEFBIG};
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return {kDomainNetDB, kDarwinEAINoName};
    case CURLE_COULDNT_CONNECT:
      return {kDomainPOSIX, systemErrno != 0 ? DarwinErrno(systemErrno) : kDarwinECONNREFUSED};
    case CURLE_OPERATION_TIMEDOUT:
      return {kDomainPOSIX, kDarwinETIMEDOUT};
    case CURLE_PEER_FAILED_VERIFICATION:
      return {kDomainSSL, CertificateError(verifyResult)};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
      return {kDomainSSL, kErrSSLProtocol};
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_FAIL_REWIND:  // a kept-alive connection died under the request
      return {kDomainHTTP, kHTTPConnectionLost};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      if (progress.responseStarted && systemErrno != 0) return {kDomainPOSIX, DarwinErrno(systemErrno)};
      return {kDomainHTTP, kHTTPConnectionLost};
    case CURLE_TOO_MANY_REDIRECTS:
      return {kDomainHTTP, kHTTPRedirectionLoop};
    case CURLE_UNSUPPORTED_PROTOCOL:
      // After the request went out this is an answer that is not HTTP (a
      // garbage status line); before it, or on a redirect, the URL's scheme.
      return {kDomainHTTP, progress.requestSent ? kHTTPParseFailure : kHTTPBadURL};
    case CURLE_URL_MALFORMAT:
      return {kDomainHTTP, kHTTPBadURL};
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return {kDomainHTTP, kHTTPParseFailure};
    case CURLE_OUT_OF_MEMORY:
      return {kDomainPOSIX, kDarwinENOMEM};
    default:
      return {kCFStreamErrorDomainCustom, curlCode};
  }
}

}  // namespace cfstandin
