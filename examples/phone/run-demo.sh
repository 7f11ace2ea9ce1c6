#!/usr/bin/env bash
# The telephone path end to end: a simulated caller rings, Callwatch takes a message and forwards
# the caller's touch-tone digits to loomwork, whose tone digit receiver turns them into keys.
# Usage: examples/phone/run-demo.sh [BUILD_DIR]
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
work="$build/demo/phone"
rm -rf "$work"
mkdir -p "$work/Messages"
export PHONESIM_SOCKET="$work/phonesim.sock"
export XDG_CONFIG_HOME="$work/config"   # Callwatch's settings: the defaults (4 rings)

pids=()
stop() { for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done; wait || true; }
trap stop EXIT

echo "== loomwork runs examples/tones/tones.lwd: the tone digit receiver on port 3502, keys to Monitors"
"$build/bin/loomwork" run "$here/../tones/tones.lwd" > "$work/loomwork.txt" 2>&1 &
pids+=($!)
echo "== callwatch --headless watches the simulated lines; connect.txt names 127.0.0.1"
echo "127.0.0.1" > "$work/connect.txt"
(cd "$work" && exec "$build/bin/callwatch" --headless --messages "$work/Messages") \
  > "$work/callwatch.txt" 2> "$work/callwatch-err.txt" &
pids+=($!)
for _ in $(seq 50); do grep -q watching "$work/callwatch-err.txt" 2>/dev/null && break; sleep 0.1; done

echo "== phonesim: VUD VEROD calls line 0, speaks after the greeting, then presses 1, 2, #, *"
"$build/bin/phonesim" call --line 0 --name "VUD VEROD" --number 14255550123 \
  --audio "$here/caller.wav" --digits '12#*' --ring-ms 500 --digit-ms 500
sleep 0.5
stop
trap - EXIT
echo
echo "== callwatch's call log (one line per change of the call's record):"
cat "$work/callwatch.txt"
echo
echo "== loomwork's Monitors: the keys 1, 2 and # went up (65535) and their digit codes arrived;"
echo "   '*' ended the call in Callwatch and never reached loomwork"
grep -E "^M (keys\.[0-9]+ 65535|digit\.0)" "$work/loomwork.txt" || true
echo
echo "== the message, the caller's words up to the first digit:"
ls -l "$work/Messages"
