// The five header lines that open every local manifest file; a file of
// just these is the manifest of a fresh installation.
#ifndef TORVANE_TESTS_COMMON_LOCAL_MANIFEST_H
#define TORVANE_TESTS_COMMON_LOCAL_MANIFEST_H

constexpr char LOCAL_MANIFEST_HEADER[] =
    "# This is an automatically generated file - do not modify\n"
    "# It contains a list of the files currently managed by the\n"
    "# updater.  Changing or deleting it may cause your next\n"
    "# update to download far more things than it needs.\n"
    "\n";

#endif
