// Headless host: graphics state and text drawing inside window callbacks.
#ifndef XPLMGraphics_h
#define XPLMGraphics_h

#include "XPLMDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  xplmFont_Basic = 0,
#if defined(XPLM_DEPRECATED)
  xplmFont_Menus = 1,
  xplmFont_Metal = 2,
  xplmFont_Led = 3,
  xplmFont_LedWide = 4,
  xplmFont_PanelHUD = 5,
  xplmFont_PanelEFIS = 6,
  xplmFont_PanelGPS = 7,
  xplmFont_RadiosGA = 8,
  xplmFont_RadiosBC = 9,
  xplmFont_RadiosHM = 10,
  xplmFont_RadiosGANarrow = 11,
  xplmFont_RadiosBCNarrow = 12,
  xplmFont_RadiosHMNarrow = 13,
  xplmFont_Timer = 14,
  xplmFont_FullRound = 15,
  xplmFont_SmallRound = 16,
  xplmFont_Menus_Localized = 17,
#endif
#if defined(XPLM200)
  xplmFont_Proportional = 18
#endif
};
typedef int XPLMFontID;

// Each flag is 0 or 1; the texture argument counts texture units.
XPLM_API void XPLMSetGraphicsState(int inEnableFog,
                                   int inNumberTexUnits,
                                   int inEnableLighting,
                                   int inEnableAlphaTesting,
                                   int inEnableAlphaBlending,
                                   int inEnableDepthTesting,
                                   int inEnableDepthWriting);
XPLM_API void XPLMBindTexture2d(int inTextureNum, int inTextureUnit);
XPLM_API void XPLMGenerateTextureNumbers(int* outTextureIDs, int inCount);
XPLM_API void XPLMDrawTranslucentDarkBox(int inLeft, int inTop, int inRight, int inBottom);
// The text is taken as non-const, as in the older SDKs, so callers that pass
// writable buffers build against every SDK version.
XPLM_API void XPLMDrawString(float* inColorRGB,
                             int inXOffset,
                             int inYOffset,
                             char* inChar,
                             int* inWordWrapWidth,
                             XPLMFontID inFontID);
XPLM_API void XPLMDrawNumber(float* inColorRGB,
                             int inXOffset,
                             int inYOffset,
                             double inValue,
                             int inDigits,
                             int inDecimals,
                             int inShowSign,
                             XPLMFontID inFontID);
XPLM_API void XPLMGetFontDimensions(XPLMFontID inFontID,
                                    int* outCharWidth,
                                    int* outCharHeight,
                                    int* outDigitsOnly);
#if defined(XPLM200)
XPLM_API float XPLMMeasureString(XPLMFontID inFontID, const char* inChar, int inNumChars);
#endif

#ifdef __cplusplus
}
#endif

#endif
