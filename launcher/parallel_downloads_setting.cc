#include "launcher/parallel_downloads_setting.h"

#include <cstdlib>

#include "updater/download_pipeline.h"

int32_t parallel_downloads_from(const char *value) {
  if (value == nullptr || value[0] == '\0') {
    return OVU_DEFAULT_PARALLEL_DOWNLOADS;
  }
  int32_t number = 0;
  for (const char *c = value; *c != '\0'; c++) {
    if (*c < '0' || *c > '9' || number > OVU_MAX_PARALLEL_DOWNLOADS) {
      return OVU_DEFAULT_PARALLEL_DOWNLOADS;
    }
    number = number * 10 + (*c - '0');
  }
  if (number < 1 || number > OVU_MAX_PARALLEL_DOWNLOADS) {
    return OVU_DEFAULT_PARALLEL_DOWNLOADS;
  }
  return number;
}

int32_t launcher_parallel_downloads() {
  return parallel_downloads_from(std::getenv(LAUNCHER_PARALLEL_DOWNLOADS_VARIABLE));
}
