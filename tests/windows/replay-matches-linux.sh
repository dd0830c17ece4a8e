#!/usr/bin/env bash
# kestrix-replay.exe under Wine and the Linux kestrix-replay on the same emulator stream: the same
# listing (line ends aside), summary and exit code; text and raw records equal byte for byte, a
# taken record name never replaced; the snapshots equal to the emulator's images; a missing stream
# fails alike.
# usage: replay-matches-linux.sh LINUX_CAMSIM LINUX_REPLAY WINDOWS_REPLAY WORK_DIR
set -euo pipefail
source "$(cd "$(dirname "$0")" && pwd)/check.sh"
camsim=$1 linux=$2 windows=$3 work=$4
rm -rf "$work" && mkdir -p "$work"/{lin,win}
cd "$work"
"$camsim" --dump stream.bin --frames 3 --width 64 --height 48 >/dev/null 2>&1

for side in lin win; do
  prog=$linux
  [ "$side" = win ] && prog="wine $windows"
  set +e
  $prog --text-log "$side/record.txt" stream.bin >"$side/listing" 2>"$side/summary"
  echo $? >"$side/status"
  mkdir -p "$side/snaps"
  $prog --raw-log "$side/record.raw" --snapshots 2 --storage "$side/snaps" stream.bin \
    >/dev/null 2>&1
  # A taken name is never replaced: the second record goes to record_1.txt.
  $prog --text-log "$side/record.txt" --agc histeq stream.bin >/dev/null 2>&1
  $prog missing.bin >/dev/null 2>"$side/missing"
  echo $? >>"$side/status"
  set -e
  tr -d '\r' <"$side/listing" >"$side/listing.lf"
  tr -d '\r' <"$side/summary" >"$side/summary.lf"
  tr -d '\r' <"$side/missing" | sed 's/:.*//' >"$side/missing.lf"
done

check "exit codes" cmp -s lin/status win/status
check "listing" cmp -s lin/listing.lf win/listing.lf
check "summary" cmp -s lin/summary.lf win/summary.lf
check "missing stream message" cmp -s lin/missing.lf win/missing.lf
check "text record" cmp -s lin/record.txt win/record.txt
check "raw record" cmp -s lin/record.raw win/record.raw
check "second text record beside the first" cmp -s lin/record_1.txt win/record_1.txt
check "two snapshots" test "$(ls win/snaps | wc -l)" = 2
for snap in win/snaps/*; do
  # Each snapshot is one of the stream's images: 2*64*48 bytes somewhere in the raw record.
  check "snapshot $snap in the raw record" test "$(stat -c %s "$snap")" = 6144
  check "snapshot $snap content" grep -qF "$(od -An -tx1 -v "$snap" | tr -d ' \n')" \
    <(od -An -tx1 -v win/record.raw | tr -d ' \n')
done
cat win/summary.lf
echo "$failures failed"
[ "$failures" -eq 0 ]
