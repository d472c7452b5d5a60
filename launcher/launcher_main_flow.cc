#include "launcher/launcher_main_flow.h"

#include <cstdio>
#include <cstring>

#include "launcher/built_in_configuration.h"
#include "launcher/game_start.h"
#include "launcher/launcher_flags.h"
#include "launcher/release_key.h"
#include "support/diagnostics.h"
#include "support/process_control.h"

namespace {

void print_lines(const char *const lines[], size_t count) {
  for (size_t i = 0; i < count; i++) {
    std::printf("%s", lines[i]);
  }
  std::fflush(stdout);
}

template <size_t N>
void print_lines(const char *const (&lines)[N]) {
  print_lines(lines, N);
}

void print_product_line() {
  print_lines({"This program updates and runs the STABLE version of Torvane.\n"});
}

void print_lock_refused() {
  print_lines({"\n", "Sorry, it looks like there's a Torvane update already\n",
               "running.  Please wait until it's finished and try again.\n", "\n",
               "Press return to exit.\n"});
}

void print_no_server() {
  print_lines({"Sorry, unable to contact server for updates.  Torvane will try\n",
               "to update again next time you run it.\n", "\n",
               "Press return to start the game.\n"});
}

void print_unable_to_start() {
  print_lines({"\n", "Unable to start game.  Please try again when attached to a\n",
               "network so I can update the game.\n"});
}

void print_damaged_client() {
  print_lines({"Error - the main file, 'BRUXclient.exe', appears to be damaged.\n",
               "I'll try to fix it next time you start the game.  Please restart now.\n", "\n",
               "If this problem persists, please contact the game developers.\n"});
}

void print_give_up() {
  print_lines({"Unable to download updates.  Please try again later.\n", "\n",
               "Is there another copy of Torvane already running?\n",
               "This can cause updates to fail.\n", "\n"});
}

void print_final_prompt() { print_lines({"\n", "Press return to exit.\n"}); }

// Each attempt starts from a zeroed record, so the counts cover only that
// attempt.
int run_one_update(const launcher_services &services, ovu_update_stats *stats) {
  std::memset(stats, 0, sizeof(*stats));
  return services.update(services.configuration, LAUNCHER_MANIFEST_FILE, LAUNCHER_EXCLUDE_FILE,
                         LAUNCHER_TEMPORARY_FILE, stats, nullptr);
}

// Runs up to MAX_UPDATE_ATTEMPTS update attempts and, when they succeed or
// the server cannot be reached, the game start. Returns the result of the
// last attempt.
int run_update_attempts(const launcher_services &services) {
  ovu_update_stats stats;
  int attempt = 1;
  int result = run_one_update(services, &stats);
  for (;;) {
    if (result == 0) {
      print_no_server();
      services.wait_for_return();
      services.start_game(LAUNCHER_GAME_IMAGE);
      print_unable_to_start();
      return result;
    }
    int expected = stats.expected_download_file_count;
    int saved = stats.successfully_saved_file_count;
    if (expected != 0) {
      std::printf("%d/%d files successfully updated.\n", saved, expected);
      std::fflush(stdout);
    }
    if (saved == expected) {
      qarn_release_instance_lock();
      services.start_game(LAUNCHER_GAME_IMAGE);
      print_damaged_client();
      return result;
    }
    attempt++;
    if (attempt > MAX_UPDATE_ATTEMPTS) {
      print_give_up();
      return result;
    }
    std::printf("Some files not updated.  Trying again, attempt %d out of %d.\n", attempt,
                MAX_UPDATE_ATTEMPTS);
    std::fflush(stdout);
    services.sleep_ms(RETRY_PAUSE_MS);
    result = run_one_update(services, &stats);
  }
}

}  // namespace

launcher_services launcher_default_services() {
  launcher_services services;
  services.update = run_update;
  services.sleep_ms = qarn_sleep_ms;
  services.start_game = start_game;
  services.wait_for_return = wait_for_return;
  services.lock_name = LAUNCHER_LOCK_NAME;
  services.configuration = g_built_in_configuration;
  services.release_key = g_built_in_release_key;
  return services;
}

int launcher_main(int argc, char **argv, const launcher_services &services) {
  qarn_set_console_title(LAUNCHER_CONSOLE_TITLE);
  if (!parse_options(argc, argv)) {
    print_product_line();
    return LAUNCHER_EXIT_FAILURE;
  }
  if (!g_launcher_flags.verbose) {
    qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  }
  if (!qarn_acquire_instance_lock(services.lock_name)) {
    print_lock_refused();
    services.wait_for_return();
    return LAUNCHER_EXIT_FAILURE;
  }
  g_launcher_release_key = services.release_key;
  int last_result = run_update_attempts(services);
  qarn_release_instance_lock();
  print_final_prompt();
  services.wait_for_return();
  return last_result == 0 ? LAUNCHER_EXIT_FAILURE : LAUNCHER_EXIT_SUCCESS;
}

void wait_for_return() {
  std::fflush(nullptr);
  std::fgetc(stdin);
}
