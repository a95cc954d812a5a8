// Dataref catalogue. Placeholder until the catalogue lands: no rows.
#include "DataRefs.h"

#include <cstring>

DataRefMapping gMappings[38];
int gMappingCount;

int InitDataRefs() { return 1; }

int FindMappingIndex(const char* name) {
  if (!name) return -1;
  for (int i = 0; gMappings[i].name; ++i)
    if (std::strcmp(gMappings[i].name, name) == 0) return i;
  return -1;
}

int GetMappingCount() { return gMappingCount; }
