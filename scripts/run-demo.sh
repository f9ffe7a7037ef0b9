#!/usr/bin/env bash
# Builds the manager and runs it against the local demo catalog server on loopback.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOLVANE_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"

# The demo catalog server (tools/catalogserver) on a free loopback port; the manager reaches it
# through its host, port and scheme variables. The server stops when the manager exits.
url_file=$(mktemp)
"$build/tools/catalogserver/catalogserver" --url-file "$url_file" &
server=$!
trap 'kill "$server" 2>/dev/null || true; rm -f "$url_file"' EXIT
for _ in $(seq 100); do [ -s "$url_file" ] && break; sleep 0.1; done
[ -s "$url_file" ] || { echo "run-demo: the demo catalog server did not start" >&2; exit 1; }
base=$(cat "$url_file")
export KELTRIX_APP_MANAGER_SCHEME=http SOLVANE_BRAND_HOST=127.0.0.1 SOLVANE_LEGACY_HOST=127.0.0.1
export SOLVANE_API_PORT=${base##*:}
echo "run-demo: catalog server at $base"
# Without a display the manager runs offscreen (it still serves commands of later starts).
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run-demo: no display, running offscreen"
  export QT_QPA_PLATFORM=offscreen
fi
"$build/manager/app/SolvaneManager" "$@"
