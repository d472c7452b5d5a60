"""What the process-level tests of the launcher share: the launcher's own
texts as the player sees them, the checks, and the loop that runs cases."""

import subprocess

PRODUCT_LINE = "This program updates and runs the STABLE version of Torvane.\n"
UNKNOWN_OPTION = "Sorry, unknown option.\n\n"
NO_SERVER = ("Sorry, unable to contact server for updates.  Torvane will try\n"
             "to update again next time you run it.\n"
             "\n"
             "Press return to start the game.\n")
UNABLE_TO_START = ("\n"
                   "Unable to start game.  Please try again when attached to a\n"
                   "network so I can update the game.\n")
DAMAGED_CLIENT = ("Error - the main file, 'BRUXclient.exe', appears to be damaged.\n"
                  "I'll try to fix it next time you start the game.  Please restart now.\n"
                  "\n"
                  "If this problem persists, please contact the game developers.\n")
GIVE_UP = ("Unable to download updates.  Please try again later.\n"
           "\n"
           "Is there another copy of Torvane already running?\n"
           "This can cause updates to fail.\n"
           "\n")
LOCK_REFUSED = ("\n"
                "Sorry, it looks like there's a Torvane update already\n"
                "running.  Please wait until it's finished and try again.\n"
                "\n"
                "Press return to exit.\n")
FINAL_PROMPT = "\nPress return to exit.\n"
MISSING_CLIENT_NOTICE = "qarn_is_boot_file_bad() - cannot open image file 'BRUXclient.exe'.\n"
CLIENT_GREETING = "client running\n"
CLIENT_EXIT_CODE = 7
TITLE_ESCAPE = "\033]0;Torvane Launcher\007"

MANIFEST_HEADER = (b"# This is an automatically generated file - do not modify\n"
                   b"# It contains a list of the files currently managed by the\n"
                   b"# updater.  Changing or deleting it may cause your next\n"
                   b"# update to download far more things than it needs.\n"
                   b"\n")
# Start-up alarms of a build without TLS (the Windows build). The launcher
# never asks for TLS, so no start may show either line.
TLS_START_UP_ALARMS = ("Error in init_ssl(), unable to allocate context?",
                       "TLS support is not built into this program")
CONNECT_FAILED = "Error in qarn_http_downloader::download(), connect failed.\n"


def fetch_failed(root, manifest):
    return (CONNECT_FAILED +
            "Error fetching update file '%s/%s' from remote server, aborting update.\n" % (root, manifest))


def server_line(root, manifest):
    return ("Updater got server name '127.0.0.1', root path '%s', update list file name '%s'.\n"
            % (root, manifest))


def usage_text(program):
    return ("Usage:  %s [-h]       - this help\n"
            "Usage:  %s [-v]       - be more verbose\n"
            "Usage:  %s [-q]       - don't display certain startup messages\n"
            "Usage:  %s [-a]       - run with admin permissions\n"
            "\n") % (program, program, program, program)


def count_line(saved, expected):
    return "%d/%d files successfully updated.\n" % (saved, expected)


def retry_line(attempt):
    return "Some files not updated.  Trying again, attempt %d out of 3.\n" % attempt


class CaseFailure(Exception):
    pass


def expect_equal(what, actual, expected):
    if actual != expected:
        raise CaseFailure("%s:\n  expected %r\n  actual   %r" % (what, expected, actual))


def expect_true(what, condition):
    if not condition:
        raise CaseFailure(what)


def run_cases(harness, cases, skip_reason, begin, end):
    """Runs each case(harness) between begin() and end(), unless
    skip_reason(case) gives a reason to skip it; prints a line per case and
    the totals. Returns the exit code: 1 when a case failed, else 0."""
    passed = failed = 0
    for case in cases:
        name = case.__name__[len("case_"):]
        reason = skip_reason(case)
        if reason:
            print("skip %s (%s)" % (name, reason))
            continue
        begin()
        try:
            case(harness)
        except CaseFailure as failure:
            print("FAIL %s: %s" % (name, failure))
            failed += 1
            continue
        except subprocess.TimeoutExpired as timeout:
            print("FAIL %s: timed out: %s" % (name, timeout))
            failed += 1
            continue
        finally:
            end()
        print("ok   %s" % name)
        passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0
