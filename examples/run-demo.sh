#!/usr/bin/env bash
# Runs the main example diagrams and draws their pictures. Usage: examples/run-demo.sh [BUILD_DIR]
set -euo pipefail
build="${1:-build}"
here="$(cd "$(dirname "$0")" && pwd)"
out="$build/demo"
mkdir -p "$out"

echo "== first: a Player of recorded values and a Timer into a Monitor"
echo "   'M monitor.0 N' is a recorded integer, monitor.1 a text, monitor.2 bytes (0x and hex);"
echo "   monitor.3 counts the Timer's ticks (every 50 ms) while the recording plays."
"$build/bin/loomwork" run "$here/first/first.lwd" --until-idle --render "$out/first.png"
echo "picture: $out/first.png"
echo
echo "== posture: three sensor channels; postures held still are learned, then recognised"
echo "   'M monitor.1 65535' means the creator saw the hands held still and asks for a posture to be"
echo "   learned ('M monitor.1 0': moving again); 'M monitor.0 N' is the posture recognised now: 1, 2, 3"
echo "   as each is learned (0 while moving between them), then 1, 3, 2 and 1 as the postures are taken"
echo "   again in that order (0 where the move passes no learned posture). (About 25 s.)"
"$build/bin/loomwork" run "$here/posture/posture.lwd" --until-idle --render "$out/posture.png"
echo "picture: $out/posture.png"
