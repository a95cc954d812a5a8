// How WinHTTP's failures are reported as CFNetwork stream errors, with the
// same domains and macOS codes as the libcurl transport's (ErrorMapping.h).
#pragma once

#include "ErrorMapping.h"

#include <cstdint>

namespace cfstandin {

// error: the WINHTTP_ASYNC_RESULT's dwError (a WinHTTP or a Winsock code);
// secureFailureFlags: the WINHTTP_CALLBACK_STATUS_FLAG_* bits of a
// certificate failure, 0 when none was reported.
CFStreamError StreamErrorForWinHttp(std::uint32_t error, std::uint32_t secureFailureFlags, const Progress &progress);

}  // namespace cfstandin
