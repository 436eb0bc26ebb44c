#include "engine/config_reader.h"

#include <kvd/tprintf.h>

#include <cstring>

#include "engine/config_values.h"
#include "engine/kvd_api.h"

std::FILE* configFile = nullptr;

namespace {

// Reads the next line into line (kConfigLineBytes bytes) with its
// terminator removed; false at end of file.
bool ReadConfigLine(std::FILE* file, char* line) {
  if (std::fgets(line, kConfigLineBytes, file) == nullptr) {
    return false;
  }
  size_t length = std::strlen(line);
  if (length > 0 && line[length - 1] == '\n') {
    line[--length] = '\0';
  } else if (length > 0 && line[length - 1] == '\r') {
    // A carriage return that closes a full buffer belongs to the line end
    // when a line feed follows it.
    const int next = std::fgetc(file);
    if (next != '\n' && next != EOF) {
      std::ungetc(next, file);
    }
    if (next != '\n') {
      return true;
    }
  }
  if (length > 0 && line[length - 1] == '\r') {
    line[length - 1] = '\0';
  }
  return true;
}

void DeleteSpaces(char* text) {
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (*in != ' ') {
      *out++ = *in;
    }
  }
  *out = '\0';
}

}  // namespace

std::FILE* OpenConfigFile(const char* path, const char* mode) {
  std::FILE* file = std::fopen(path, mode);
  if (file == nullptr) {
    tprintf7("Error in open %s!\n", path);
    return nullptr;
  }
  std::rewind(file);
  return file;
}

void CloseConfigFile() {
  if (configFile != nullptr) {
    std::fclose(configFile);
    configFile = nullptr;
  }
}

bool FindConfig(const char* key, char* value) {
  if (configFile == nullptr) return false;
  std::rewind(configFile);
  char line[kConfigLineBytes];
  while (ReadConfigLine(configFile, line)) {
    DeleteSpaces(line);
    const char* lineValue = "";
    if (char* split = std::strrchr(line, '='); split != nullptr) {
      *split = '\0';
      lineValue = split + 1;
    }
    if (EqualsIgnoringCase(line, key)) {
      std::strcpy(value, lineValue);
      return true;
    }
  }
  return false;
}

int32_t GetConfig(const char* key, char* value) {
  if (configFile == nullptr) {
    tprintf7("%s\n", "Cannot open config file! NULL pointer!\n");
    return KVD_ERR_CONFIG;
  }
  if (FindConfig(key, value)) return KVD_OK;
  tprintf7("Error in GetConfig! Cannot find %s in config file!\n", key);
  return KVD_ERR_CONFIG;
}
