/* Stand-in for the game client in the launcher's process tests. It writes
   its arguments, one per line, to "client_args.txt" in the current directory.
   The file appears whole, by a rename, because under Wine the launcher's
   process has already ended while the client is still running. */
#include <stdio.h>

#define RECORD_FILE "client_args.txt"
#define RECORD_TEMP_FILE "client_args.tmp"

int main(int argc, char **argv) {
  FILE *record = fopen(RECORD_TEMP_FILE, "wb");
  if (record == NULL) {
    return 2;
  }
  for (int i = 0; i < argc; ++i) {
    fprintf(record, "%s\n", argv[i]);
  }
  if (fclose(record) != 0) {
    return 2;
  }
  return rename(RECORD_TEMP_FILE, RECORD_FILE) == 0 ? 0 : 2;
}
