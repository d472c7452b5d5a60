// The launcher's main flow: title, options, the single-instance lock, up to
// three update attempts, then the game start or the final wait for return.
#ifndef TORVANE_LAUNCHER_LAUNCHER_MAIN_FLOW_H
#define TORVANE_LAUNCHER_LAUNCHER_MAIN_FLOW_H

#include <cstdint>

#include "launcher/update_run.h"

constexpr char LAUNCHER_CONSOLE_TITLE[] = "Torvane Launcher";
constexpr char LAUNCHER_LOCK_NAME[] = "torvane_updater_lock.tmp";
constexpr char LAUNCHER_MANIFEST_FILE[] = "update_manifest.lst";
constexpr char LAUNCHER_EXCLUDE_FILE[] = "update_exclude.lst";
constexpr char LAUNCHER_TEMPORARY_FILE[] = "tmp/update.tmp";

constexpr int MAX_UPDATE_ATTEMPTS = 3;
constexpr int64_t RETRY_PAUSE_MS = 3000;

// Exit codes of the launcher itself; a started client ends it with its own.
constexpr int LAUNCHER_EXIT_SUCCESS = 0;
constexpr int LAUNCHER_EXIT_FAILURE = 1;

// launcher_services: what the main flow calls on beyond printing. The
// program uses launcher_default_services(); tests replace single entries.
struct launcher_services {
  // One update attempt (run_update).
  launcher_update_function update;
  // The pause between attempts (qarn_sleep_ms).
  void (*sleep_ms)(int64_t ms);
  // Replaces the process by the client; returns only on failure (start_game).
  int (*start_game)(const char *image);
  // Waits until the player presses return (wait_for_return).
  void (*wait_for_return)();
  // Name of the single-instance lock.
  const char *lock_name;
  // The built-in configuration handed to every update attempt, borrowed.
  const unsigned char *configuration;
  // The key that releases must be signed with (LAUNCHER_RELEASE_KEY_LEN
  // bytes, borrowed), or null to install them unchecked.
  const unsigned char *release_key;
};

// launcher_default_services returns the services of the real program.
launcher_services launcher_default_services();

// launcher_main runs the whole launcher with the command line |argc|,
// |argv| and returns the process exit code: 1 after the usage text, after a
// refused lock, or when the last update attempt did not happen; else 0.
// When the client starts, the process ends inside it instead.
int launcher_main(int argc, char **argv, const launcher_services &services);

// wait_for_return flushes the output and reads one character from standard
// input; the end of input counts as the answer.
void wait_for_return();

#endif
