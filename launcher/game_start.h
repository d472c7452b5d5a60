// Starting the game client in place of the launcher.
#ifndef TORVANE_LAUNCHER_GAME_START_H
#define TORVANE_LAUNCHER_GAME_START_H

// The game client, a file in the current directory.
constexpr char LAUNCHER_GAME_IMAGE[] = "BRUXclient.exe";

// start_game releases the single-instance lock and replaces the launcher by
// the client |image|, started with its own name as its only argument. It
// returns only when the client could not be started, and then always 0,
// after deleting |image| so that the next update downloads it afresh.
int start_game(const char *image);

#endif
