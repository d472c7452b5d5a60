/* Stand-in for the game client where the process tests cannot use a shell
   script (the Windows build under Wine, and releases served to the launcher).
   It does what the tests' script client does: greets on standard output,
   records "NAME COUNT ARGS..." in the file "args" and exits with code 7. The
   greeting comes first, so that a client started in a read-only directory
   still shows that it ran. */
#include <stdio.h>

#define RECORD_FILE "args"
#define GREETING "client running\n"
#define CLIENT_EXIT_CODE 7
#define RECORD_FAILED_EXIT_CODE 2

int main(int argc, char **argv) {
  fputs(GREETING, stdout);
  fflush(stdout);
  FILE *record = fopen(RECORD_FILE, "wb");
  if (record == NULL) {
    return RECORD_FAILED_EXIT_CODE;
  }
  fprintf(record, "%s %d", argv[0], argc - 1);
  for (int i = 1; i < argc; ++i) {
    fprintf(record, " %s", argv[i]);
  }
  fputc('\n', record);
  if (fclose(record) != 0) {
    return RECORD_FAILED_EXIT_CODE;
  }
  return CLIENT_EXIT_CODE;
}
