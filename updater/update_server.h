// How the updater reaches the update server.
#ifndef TORVANE_UPDATER_UPDATE_SERVER_H
#define TORVANE_UPDATER_UPDATE_SERVER_H

// The update server's port; the launcher speaks plain HTTP only.
constexpr int OVU_UPDATE_SERVER_PORT = 80;

#endif
