// Tralix.cfg: reading and rewriting keys, its location, and the start-up load.
#pragma once

#include <cstddef>

int ReadConfigValue(const char* path, const char* key, char* out, size_t outSize);
int WriteConfigValue(const char* path, const char* key, const char* value);
int CreateDefaultConfigFile(const char* path);

int GetConfigFilePath(char* out, size_t outSize, const char* fileName);
int InitConfig(char* path, size_t pathSize, char* apiKey, size_t apiKeySize,
               char* token, size_t tokenSize);
