#!/usr/bin/env bash
# Runs the main example diagram and draws its picture. Usage: examples/run-demo.sh [BUILD_DIR]
set -euo pipefail
build="${1:-build}"
here="$(cd "$(dirname "$0")" && pwd)"
out="$build/demo"
mkdir -p "$out"
echo "== first: a Player of recorded values and a Timer into a Monitor"
"$build/bin/loomwork" run "$here/first/first.lwd" --until-idle --render "$out/first.png"
echo "picture: $out/first.png"
echo "== posture: three postures learned while held still, then recognised"
"$build/bin/loomwork" run "$here/posture/posture.lwd" --until-idle --render "$out/posture.png"
echo "picture: $out/posture.png"
