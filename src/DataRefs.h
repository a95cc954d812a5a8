// Dataref catalogue: the named simulator values sent in the broadcast's "extra" object.
#pragma once

#include "XPLMDataAccess.h"

struct DataRefMapping {
  const char* name;
  const char* dataRefPath;
  const char* dataType;  // "int" for integer datarefs, "" for float ones
  int isArray;
  int arraySize;
  float multiplier;      // applied to float values only
  XPLMDataRef dataRef;   // resolved by InitDataRefs
  int isValid;
};

extern DataRefMapping gMappings[38];  // 37 rows and a terminator
extern int gMappingCount;

int InitDataRefs();
int FindMappingIndex(const char* name);
int GetMappingCount();
