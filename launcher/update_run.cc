#include "launcher/update_run.h"

int run_update(const unsigned char *configuration, const char *manifest_file,
               const char *exclude_file, const char *temporary_file,
               ovu_update_stats *stats_out, const char *root_path_suffix) {
  (void)configuration;
  (void)manifest_file;
  (void)exclude_file;
  (void)temporary_file;
  (void)stats_out;
  (void)root_path_suffix;
  return 0;
}
