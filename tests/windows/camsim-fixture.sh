#!/usr/bin/env bash
# Starts a camera emulator on a free loopback port for the Windows tests, or ends the one started.
# usage: camsim-fixture.sh start NAME PROGRAM [options...] | camsim-fixture.sh stop NAME
# "start" writes NAME.port and NAME.pid in the working folder once the emulator listens.
set -euo pipefail
action=$1 name=$2
shift 2
if [ "$action" = stop ]; then
  if [ -f "$name.pid" ]; then
    pid=$(cat "$name.pid")
    kill "$pid" 2>/dev/null || true
    rm -f "$name.pid" "$name.port"
  fi
  exit 0
fi
rm -f "$name.port"
"$@" --address 127.0.0.1 --port 0 </dev/null >/dev/null 2>"$name.log" &
echo $! >"$name.pid"
for _ in $(seq 200); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$name.log" | head -n1)
  if [ -n "$port" ]; then
    echo "$port" >"$name.port"
    exit 0
  fi
  kill -0 "$(cat "$name.pid")" 2>/dev/null || break
  sleep 0.05
done
echo "camsim-fixture: $* did not start:" >&2
cat "$name.log" >&2
exit 1
