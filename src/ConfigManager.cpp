// Tralix.cfg. Placeholder: no file is read or written yet.
#include "ConfigManager.h"

int ReadConfigValue(const char*, const char*, char*, size_t) { return 0; }
int WriteConfigValue(const char*, const char*, const char*) { return 0; }
int CreateDefaultConfigFile(const char*) { return 0; }

int GetConfigFilePath(char* out, size_t outSize, const char*) {
  if (out && outSize) out[0] = '\0';
  return 0;
}

int InitConfig(char*, size_t, char*, size_t, char*, size_t) { return 1; }
