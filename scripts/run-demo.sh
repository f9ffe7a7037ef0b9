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
feed=""
tls_dir=$(mktemp -d)
trap 'kill "$server" $feed 2>/dev/null || true; rm -rf "$url_file" "$tls_dir"' EXIT
for _ in $(seq 100); do [ -s "$url_file" ] && break; sleep 0.1; done
[ -s "$url_file" ] || { echo "run-demo: the demo catalog server did not start" >&2; exit 1; }
base=$(cat "$url_file")
export KELTRIX_APP_MANAGER_SCHEME=http SOLVANE_BRAND_HOST=127.0.0.1 SOLVANE_LEGACY_HOST=127.0.0.1
export SOLVANE_API_PORT=${base##*:}
echo "run-demo: catalog server at $base"

# The update feed is always HTTPS: a second server with a throw-away certificate that the
# manager's update check is told to trust.
if openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
     -addext subjectAltName=IP:127.0.0.1,DNS:localhost \
     -keyout "$tls_dir/feed.key" -out "$tls_dir/feed.crt" 2>/dev/null; then
  "$build/tools/catalogserver/catalogserver" --url-file "$tls_dir/url" \
    --tls-cert "$tls_dir/feed.crt" --tls-key "$tls_dir/feed.key" &
  feed=$!
  for _ in $(seq 100); do [ -s "$tls_dir/url" ] && break; sleep 0.1; done
  if [ -s "$tls_dir/url" ]; then
    feed_base=$(cat "$tls_dir/url")
    export SOLVANE_UPDATE_PORT=${feed_base##*:} SOLVANE_UPDATE_CA_FILE="$tls_dir/feed.crt"
    echo "run-demo: update feed at $feed_base/windows/appcast.xml"
  fi
else
  echo "run-demo: no openssl, the update check will fail" >&2
fi
# The web view's sandbox refuses to run as root; a root session runs it without.
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
# Without a display the manager runs offscreen (it still serves commands of later starts); the
# message view's web engine then has no GPU either and renders in software.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run-demo: no display, running offscreen"
  export QT_QPA_PLATFORM=offscreen
fi
if [ "${QT_QPA_PLATFORM:-}" = offscreen ]; then
  export QT_QUICK_BACKEND=${QT_QUICK_BACKEND:-software}
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --disable-gpu"
fi
"$build/manager/app/SolvaneManager" "$@"
