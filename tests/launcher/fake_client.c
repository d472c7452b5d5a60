/* Stand-in for the game client where the process tests cannot use a shell
   script (the Windows build under Wine). It does what the tests' script
   client does: records "NAME COUNT ARGS..." in the file "args", greets on
   standard output and exits with code 7. */
#include <stdio.h>

#define RECORD_FILE "args"
#define GREETING "client running\n"
#define CLIENT_EXIT_CODE 7
#define RECORD_FAILED_EXIT_CODE 2

int main(int argc, char **argv) {
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
  fputs(GREETING, stdout);
  return CLIENT_EXIT_CODE;
}
