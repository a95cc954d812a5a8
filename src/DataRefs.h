// Dataref catalogue: the named simulator values sent in the broadcast's "extra" object.
#pragma once

#include "XPLMDataAccess.h"

// How a row turns its dataref into the value it sends, where the dataref's own
// type is not the row's format.
enum RowReading {
  kReadAsTyped,        // read and sent as dataType, isArray and arraySize say
  kReadIntAsFloat,     // an int dataref sent in the float format
  kReadFirstElement,   // element 0 of a float array, sent as one float
  kReadScalarAsArray,  // a float dataref sent as a one-element array
  kReadBelowZeroFlag,  // 1 while a float dataref is below 0, else 0, as a float
};

struct DataRefMapping {
  const char* name;
  const char* dataRefPath;
  const char* dataType;  // "int": sent as an integer; "": in the float format
  int isArray;
  int arraySize;
  float multiplier;      // applied to float values only
  RowReading reading;
  XPLMDataRef dataRef;   // resolved by InitDataRefs
  int isValid;
};

extern DataRefMapping gMappings[38];  // 37 rows and a terminator
extern int gMappingCount;

int InitDataRefs();
int FindMappingIndex(const char* name);
int GetMappingCount();
