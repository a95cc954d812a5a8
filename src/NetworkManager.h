// Service client (connection health, broadcast, activation, landing upload) and
// the JSON text helpers every request body uses.
#pragma once

#include <CFNetwork/CFNetwork.h>
#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>

struct LandingDataPoint;

// Connection health, read by the flight loop and the user interface.
extern int gNetworkBusy;
extern int gConsecutiveFailures;
extern float gBackoffTime;
extern float gLastSendTime;

void InitNetwork();
// Detaches and releases every stream still in flight and the kept request objects.
void ShutdownNetwork();
int BuildURL(char* dst, size_t dstSize, const char* path, const char* suffix);
void ReadStreamClientCallBack(CFReadStreamRef stream, CFStreamEventType eventType, void* info);
// Delivers the stream events already due, then ends each broadcast still in
// flight 5 s after its open, and each landing event 10 s after, as a read
// time-out would (elapsed simulator time). Called every flight-loop cycle;
// nothing to do when no request is in flight.
void EndOverdueRequests();

int SendAircraftData(float latitude, float longitude, float elevation, float heading,
                     float groundSpeed, float altitudeAboveGround, float altitudeMSL,
                     const char* aircraftName, const char* icaoCode);
int ActivateApiKey(const char* apiKey, char* tokenOut, size_t tokenOutSize);
// Finds the first "token":"..." in an activation answer; 1 and the token in tokenOut, or 0 and "".
int ExtractActivationToken(const char* response, char* tokenOut, size_t tokenOutSize);
// 1 when the token holds no backslash (the search decodes no escape), is valid
// UTF-8 and has no blank at either end (Tralix.cfg would not give those back).
// Well-formed UTF-8 without NUL bytes (no overlong forms, surrogates or code
// points past U+10FFFF): text a header, Tralix.cfg or the key field can carry.
int IsUtf8Text(const char* bytes, size_t length);
int IsFaithfulToken(const char* token);
int SendLandingEvent(float verticalSpeed, float altitude, const LandingDataPoint* points, int count);

// Extra-data encoder and number/text formatting.
// Room for the escaped extra object with every catalogue value at its longest
// (about 3.1 KB), so no entry is ever left out for lack of space.
constexpr size_t kExtraDataBufferSize = 4096;
// Room for any number FormatFloatNoScientific writes: -FLT_MAX with ten
// decimals is 51 characters.
constexpr size_t kFloatTextSize = 64;
int BuildExtraDataJSON(char* out, size_t outSize);
int FormatFloatNoScientific(char* out, size_t outSize, float value, int decimals);
int EscapeJSONString(char* out, const char* in, size_t outSize);
