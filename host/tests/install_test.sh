#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs what was installed: the
# versions and help, and the installed client, headless, signing in once to
# the installed server's demo account.
# Usage: install_test.sh BUILD_FOLDER
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/olvaro-install-XXXXXX)
server_pid=""
client_pid=""
cleanup() {
  for pid in $client_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install test: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install failed"; }

# The program folder holds the host, the hub, the platform and every plug-in.
for f in olvaro libapi.so libplatform.so connection.so messaging.so panorel.so updates.so glimmet.so; do
  [ -f "$prefix/lib/olvaro/$f" ] || fail "lib/olvaro/$f is missing"
done
[ -L "$prefix/bin/olvaro" ] || fail "bin/olvaro is not a link"
[ -x "$prefix/bin/olvaro-server" ] || fail "bin/olvaro-server is missing"
grep -qx 'Exec=olvaro' "$prefix/share/applications/olvaro.desktop" || fail "no desktop entry"
grep -qx 'Icon=olvaro' "$prefix/share/applications/olvaro.desktop" || fail "the desktop entry names no icon"
for size in 16 22 32; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/olvaro.png
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  # A real PNG of that size.
  [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$icon is not a PNG"
  [ "$(od -An -tu1 -j 16 -N 8 "$icon" | tr -s ' ' | sed 's/^ //')" = "0 0 0 $size 0 0 0 $size" ] ||
    fail "$icon is not ${size}x${size}"
done
# Nothing of the build folder is needed: no test programs, no build paths.
[ ! -e "$prefix/lib/olvaro/olvaro_tests" ] && ! ls "$prefix/lib/olvaro" | grep -q _tests || fail "test programs installed"
if grep -qa "$(cd "$build" && pwd)/bin" "$prefix/lib/olvaro/olvaro"; then fail "the host points into the build folder"; fi

export OLVARO_HOME=$work/home
mkdir -p "$OLVARO_HOME"
out=$("$prefix/bin/olvaro" --version)
echo "$out" | grep -Eq '^olvaro [0-9]+\.[0-9]+\.[0-9]+$' || fail "olvaro --version said: $out"
"$prefix/bin/olvaro" --help | grep -q '/hidden' || fail "olvaro --help has no /hidden"
"$prefix/bin/olvaro" --help | grep -q 'OLVARO_HOME' || fail "olvaro --help has no OLVARO_HOME"
out=$("$prefix/bin/olvaro-server" --version)
echo "$out" | grep -Eq '^olvaro-server [0-9]+\.[0-9]+\.[0-9]+$' || fail "olvaro-server --version said: $out"

# The installed server with its demo accounts, on a free loopback port.
"$prefix/bin/olvaro-server" --demo --bind 127.0.0.1 --port 0 --db "$work/server.db" --update-port 0 \
  >"$work/server.log" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on port \([0-9][0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/server.log"; fail "the server did not start"; }

{
  echo "; olvaro registry 1"
  echo
  echo '[SOFTWARE\\Orvalo\\Settings]'
  echo "\"Connection/Servers/List\"=sz:\"127.0.0.1:$port\""
  echo '"connection.user"=sz:"alice@olvaro.demo"'
  echo '"connection.pass"=sz:"demo"'
} >"$OLVARO_HOME/HKCU.reg"
chmod 600 "$OLVARO_HOME/HKCU.reg"

# Started through the launcher, from another folder. Under LeakSanitizer,
# fontconfig's lifelong cache is not a leak of the program's.
echo "leak:libfontconfig.so" >"$work/lsan.supp"
(cd "$work" && exec env -u DISPLAY -u WAYLAND_DISPLAY OLVARO_BACKEND=headless OLVARO_TRACE_STATES=1 \
  LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$work/lsan.supp" \
  "$prefix/bin/olvaro" /newinstance >"$work/client.log" 2>&1) &
client_pid=$!
for _ in $(seq 300); do
  grep -q 'connection.state 100' "$work/client.log" && break
  kill -0 "$client_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q 'connection.state 100' "$work/client.log" || { cat "$work/client.log"; fail "the installed client did not sign in"; }
kill -TERM "$client_pid"
wait "$client_pid" || { cat "$work/client.log"; fail "the installed client did not end cleanly"; }
client_pid=""
echo "install test: installed into $prefix, signed in as alice@olvaro.demo on port $port"
