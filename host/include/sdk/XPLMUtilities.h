// Headless host: logging and assorted simulator utilities.
#ifndef XPLMUtilities_h
#define XPLMUtilities_h

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  xplm_Host_Unknown = 0,
  xplm_Host_XPlane = 1
};
typedef int XPLMHostApplicationID;

// Appends the text, unchanged and without adding a newline, to the log.
XPLM_API void XPLMDebugString(const char* inString);
XPLM_API void XPLMSpeakString(const char* inString);
XPLM_API void XPLMGetVersions(int* outXPlaneVersion, int* outXPLMVersion,
                              XPLMHostApplicationID* outHostID);
XPLM_API void XPLMGetSystemPath(char* outSystemPath);
XPLM_API void XPLMGetPrefsPath(char* outPrefsPath);
XPLM_API const char* XPLMGetDirectorySeparator(void);

#ifdef __cplusplus
}
#endif

#endif
