#!/usr/bin/env bash
# Starts a camera emulator on a free loopback port for the Windows tests, or ends the one started.
# usage: camsim-fixture.sh start NAME PROGRAM [options...] | camsim-fixture.sh stop NAME
# "start" writes NAME.port and NAME.pid in the working folder once the emulator listens; PROGRAM
# may be "wine kestrix-camsim.exe". "stop" fails when the emulator does not end on SIGINT.
set -euo pipefail
action=$1 name=$2
shift 2
if [ "$action" = stop ]; then
  [ -f "$name.pid" ] || exit 0
  pid=$(cat "$name.pid")
  rm -f "$name.pid" "$name.port"
  # SIGINT, as Ctrl+C in a terminal (Wine hands it to the console control handler): the emulator
  # says goodbye to its clients and exits. One that does not is a failure.
  kill -INT "$pid" 2>/dev/null || exit 0
  for _ in $(seq 200); do
    if ! kill -0 "$pid" 2>/dev/null; then
      grep -q 'kestrix-camsim: stopping' "$name.log" && exit 0
      echo "camsim-fixture: $name ended on SIGINT without stopping its server" >&2
      exit 1
    fi
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  echo "camsim-fixture: $name did not stop on SIGINT" >&2
  exit 1
fi
rm -f "$name.port"
"$@" --address 127.0.0.1 --port 0 </dev/null >/dev/null 2>"$name.log" &
echo $! >"$name.pid"
for _ in $(seq 600); do
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
