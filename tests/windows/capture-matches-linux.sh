#!/usr/bin/env bash
# kestrix-capture.exe under Wine and the Linux kestrix-capture against one Linux emulator: the same
# summary line (the counts that depend on timing aside), notices and exit codes; text records with
# the same 118-byte header line; raw records and snapshots made of the emulator's images (its
# --dump of the same settings); a live picture; a refused login, an unreachable camera and a bad
# argument fail alike.
# usage: capture-matches-linux.sh FIXTURE LINUX_CAMSIM LINUX_CAPTURE WINDOWS_CAPTURE WORK_DIR
set -euo pipefail
source "$(cd "$(dirname "$0")" && pwd)/check.sh"
fixture=$1 camsim=$2 linux=$3 windows=$4 work=$5
rm -rf "$work" && mkdir -p "$work"/{lin,win}
cd "$work"
# Frame n of a stream is the same image whenever it is sent: five minutes of frames cover the run.
settings=(--width 32 --height 24 --fps 10)
"$camsim" "${settings[@]}" --dump stream.bin --frames 3000 >/dev/null 2>&1
od -An -tx1 -v stream.bin | tr -d ' \n' >stream.hex
"$fixture" start camsim "$camsim" "${settings[@]}"
trap '"$fixture" stop camsim' EXIT
port=$(cat camsim.port)

# in_stream FILE: every 2*32*24-byte image of FILE is one of the emulator's.
in_stream() {
  local size
  size=$(stat -c %s "$1")
  [ "$size" -gt 0 ] && [ $((size % 1536)) -eq 0 ] || return 1
  { od -An -tx1 -v "$1" | tr -d ' \n'; echo; } | fold -w 3072 >images.hex
  while read -r image; do grep -qF "$image" stream.hex || return 1; done <images.hex
}

for side in lin win; do
  prog=$linux
  [ "$side" = win ] && prog="wine $windows"
  mkdir -p "$side/text" "$side/raw"
  set +e
  $prog --port "$port" --seconds 2 --record text --period 500 --snapshots 2 --storage "$side/text" \
    --png "$side/live.png" >"$side/summary" 2>"$side/notices"
  echo $? >"$side/status"
  $prog --port "$port" --seconds 2 --record raw --period 250 --storage "$side/raw" >/dev/null 2>&1
  echo $? >>"$side/status"
  $prog --port "$port" --seconds 1 --password wrong >/dev/null 2>>"$side/failures"
  echo $? >>"$side/status"
  $prog --port 1 --seconds 1 >/dev/null 2>>"$side/failures"
  echo $? >>"$side/status"
  $prog --record video >/dev/null 2>&1
  echo $? >>"$side/status"
  set -e
  tr -d '\r' <"$side/summary" | sed -E 's/(received|accepted|records) [0-9]+/\1 N/g' >"$side/summary.lf"
  # The notices name the side's own files; the failures are the same words.
  tr -d '\r' <"$side/notices" | grep -v '^kestrix-capture: \(live picture\|record file\)' >"$side/notices.lf"
  tr -d '\r' <"$side/failures" >"$side/failures.lf"
done

check "exit codes" cmp -s lin/status win/status
check "summary line" cmp -s lin/summary.lf win/summary.lf
check "snapshot notice" cmp -s lin/notices.lf win/notices.lf
check "failure messages" cmp -s lin/failures.lf win/failures.lf
check "one text record each" test "$(ls lin/text/Record_*.txt win/text/Record_*.txt | wc -l)" = 2
check "text record header line (118 bytes)" cmp -s <(head -c 118 lin/text/Record_*.txt) \
  <(head -c 118 win/text/Record_*.txt)
check "records in the text record" test "$(wc -l <win/text/Record_*.txt)" -ge 3
check "two snapshots" test "$(ls win/text/snapshot_*.raw | wc -l)" = 2
for snap in win/text/snapshot_*.raw; do check "$snap is an image of the stream" in_stream "$snap"; done
check "raw record of the stream's images" in_stream win/raw/Record_*
check "live picture is a PNG" test "$(head -c 8 win/live.png | od -An -tx1)" = " 89 50 4e 47 0d 0a 1a 0a"
cat win/summary.lf
echo "$failures failed"
[ "$failures" -eq 0 ]
