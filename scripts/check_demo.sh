#!/usr/bin/env bash
# Runs the README's main command (scripts/run.sh) once without a player at
# the keyboard and checks what a player would see: the first start installs
# the sample game and the sample client starts; the second start downloads
# nothing and starts the client at once.
set -euo pipefail
cd "$(dirname "$0")/.."

output=$(bash scripts/run.sh </dev/null 2>&1) || { echo "$output"; echo "check_demo: scripts/run.sh failed" >&2; exit 1; }
echo "$output"

first=$(sed -n '/^== First start/,/^== Second start/p' <<<"$output")
second=$(sed -n '/^== Second start/,$p' <<<"$output")
fail() { echo "check_demo: $1" >&2; exit 1; }

grep -q '^5 files to update\.$' <<<"$first" || fail "the first start did not plan the 5 files of the sample game"
grep -q '^5/5 files successfully updated\.$' <<<"$first" || fail "the first start did not install the sample game"
grep -q "^BRUXclient: started as 'BRUXclient.exe' with 0 arguments$" <<<"$first" || fail "the sample client did not start after the first start"
grep -q '^Everything appears to be up to date already\.$' <<<"$second" || fail "the second start found something to update"
grep -q '^expected_download_file_count:       0$' <<<"$second" || fail "the second start planned downloads"
grep -q "^BRUXclient: started as 'BRUXclient.exe' with 0 arguments$" <<<"$second" || fail "the sample client did not start after the second start"
if grep -q 'files to update' <<<"$second"; then fail "the second start downloaded files"; fi
echo "check_demo: the main command installs the sample game, and a second start downloads nothing"
