// The launcher's command-line options.
#ifndef TORVANE_LAUNCHER_LAUNCHER_FLAGS_H
#define TORVANE_LAUNCHER_LAUNCHER_FLAGS_H

// launcher_flags: what the command line asked for. One process-wide
// instance, all zero at start.
struct launcher_flags {
  int verbose;               // -v: more messages; diagnostics are not masked
  int quiet;                 // -q: accepted and stored; nothing consults it yet
  int admin_mode;            // -a: this run is (or was asked to be) the elevated run
  const char *program_path;  // argv[0], borrowed; for the usage lines and the re-run
};

extern launcher_flags g_launcher_flags;

// parse_options reads |argv| into g_launcher_flags. Returns 1 to go on, or
// 0 to stop after printing the usage text (help asked for, or an unknown
// option). Flags set before the stopping argument stay set.
int parse_options(int argc, char **argv);

// print_usage prints the four usage lines with |program_path| and a blank
// line to standard output.
void print_usage(const char *program_path);

#endif
