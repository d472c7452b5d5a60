// Process control: the services the launcher needs around an update. The
// single-instance lock, the console title, pauses, the sanity check and the
// boot of the game client, the administrator test and the elevated re-run.
#ifndef TORVANE_SUPPORT_PROCESS_CONTROL_H
#define TORVANE_SUPPORT_PROCESS_CONTROL_H

#include <cstdint>

// A boot image shorter than this cannot be a real program.
constexpr long QARN_MIN_BOOT_IMAGE_BYTES = 100;

// qarn_acquire_instance_lock takes the single-instance lock called |name|,
// which the launchers of one installation share (on Windows: of one user)
// and the system frees when the holding process ends. Returns 1 if this
// process holds it now, or may go on without it because it cannot write
// the installation and so cannot race a holder; 0 if another holder has it
// (a second acquire in this process counts as another holder and leaves the
// first hold in place) or the lock cannot be made.
int qarn_acquire_instance_lock(const char *name);

// qarn_release_instance_lock gives the lock up. Without a hold it does
// nothing, so releasing twice is harmless.
void qarn_release_instance_lock();

// qarn_set_console_title sets the console title to |title|. Returns the
// platform result: nonzero on success.
int qarn_set_console_title(const char *title);

// qarn_sleep_ms pauses the thread for the low 32 bits of |ms|, taken as an
// unsigned count of milliseconds.
void qarn_sleep_ms(int64_t ms);

// qarn_is_boot_file_bad returns 1 if the image at |path| cannot be opened
// (reported as a trace notice) or is shorter than 100 bytes (reported as an
// error of normal operation); 0 if it looks usable.
int qarn_is_boot_file_bad(const char *path);

// qarn_boot_exec replaces this process by the image at |path| with the
// null-terminated argument vector |argv| (first element the path). Output
// is flushed first. It returns only when the image could not be started,
// after reporting the exec result, errno and the file name.
void qarn_boot_exec(const char *path, char *const argv[]);

// qarn_is_user_admin returns nonzero if the process runs with administrator
// rights, else 0.
int qarn_is_user_admin();

// qarn_win32_exec_with_admin_permissions asks the system to start |program|
// again with administrator rights and the parameter text |parameters|.
// Returns 1 if the start was handed over, else 0 after reporting the reason.
// Where the elevated program replaces this process, success never returns.
int qarn_win32_exec_with_admin_permissions(const char *program, const char *parameters);

// qarn_elevation_result interprets the shell result of an elevated start:
// 1 when it is above 32, else 0 after reporting the reason.
int qarn_elevation_result(int shell_result);

// qarn_elevation_failure_reason returns the player-readable reason for the
// shell error code |shell_result|: static text, never null.
const char *qarn_elevation_failure_reason(int shell_result);

#endif
