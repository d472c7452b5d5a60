#!/usr/bin/env bash
# The whole job as a player sees it. Installs what is missing, builds the
# launcher and torvane-publish, publishes the sample game of scripts/demo/
# release with torvane-publish, and serves it with nginx on 127.0.0.1:80 in
# a private network namespace. Then it makes a fresh installation in
# out/game (only the header-only local manifest) and starts the launcher
# there twice: the first start installs the game and becomes the sample
# client; the second, verbose, finds everything up to date and starts the
# client at once. Options are passed to both launcher starts. The
# nginx started here is stopped at the end, and only that one.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--inside-namespaces" ]; then
  bash scripts/setup.sh
  cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/linux -j"$(nproc)" --target torvane-launcher torvane-publish >/dev/null
  exec scripts/in_netns.sh bash scripts/run.sh --inside-namespaces "$@"
fi
shift

# shellcheck source=scripts/nginx.sh
. scripts/nginx.sh

DEMO=$PWD/out/demo
GAME=$PWD/out/game
LAUNCHER=$PWD/build/linux/launcher/torvane-launcher
PUBLISH=$PWD/build/linux/tools/torvane-publish

# The server's document root: the release under the launcher's root path.
rm -rf "$DEMO"
mkdir -p "$DEMO/docroot/torvane"
cp -R scripts/demo/release/. "$DEMO/docroot/torvane/"
echo "== Publishing the sample game with torvane-publish"
"$PUBLISH" "$DEMO/docroot/torvane"

trap stop_nginx EXIT
start_nginx "$DEMO/nginx" 80 "$DEMO/docroot"
echo "== nginx serves it on http://127.0.0.1/torvane/"

rm -rf "$GAME"
mkdir -p "$GAME"
printf '%s\n' "# This is an automatically generated file - do not modify" \
  "# It contains a list of the files currently managed by the" \
  "# updater.  Changing or deleting it may cause your next" \
  "# update to download far more things than it needs." "" > "$GAME/update_manifest.lst"

cd "$GAME"
echo "== First start of the launcher in out/game: a fresh installation"
status=0
"$LAUNCHER" "$@" || status=$?
echo "== The launcher ended with exit code $status"
echo "== Second start, with -v: the launcher says what it checked, and that"
echo "== everything is up to date"
status=0
"$LAUNCHER" -v "$@" || status=$?
echo "== The launcher ended with exit code $status"
