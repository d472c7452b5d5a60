// The files and the folder that the launcher keeps in an installation are
// names that the updater never installs and torvane-publish never
// publishes.
#include <gtest/gtest.h>

#include <string>

#include "launcher/launcher_main_flow.h"
#include "support/atomic_file.h"
#include "updater/file_name_safety.h"
#include "updater/release_state.h"

namespace {

TEST(own_file_names_test, every_file_the_launcher_keeps_is_refused_as_its_own) {
  const std::string manifest = LAUNCHER_MANIFEST_FILE;
  const std::string state = manifest + OVU_RELEASE_STATE_SUFFIX;
  const std::string names[] = {
      manifest, manifest + QARN_ATOMIC_FILE_SUFFIX, state, state + QARN_ATOMIC_FILE_SUFFIX,
      LAUNCHER_EXCLUDE_FILE, LAUNCHER_LOCK_NAME, LAUNCHER_TEMPORARY_FILE,
  };
  for (const std::string &name : names) {
    EXPECT_EQ(ovu_check_file_name(name.c_str(), OVU_NAME_RULES_EVERYWHERE), OVU_NAME_LAUNCHER_FILE) << name;
    EXPECT_EQ(ovu_check_file_name((name + "/inside").c_str(), OVU_NAME_RULES_EVERYWHERE), OVU_NAME_LAUNCHER_FILE)
        << name;
  }
}

}  // namespace
