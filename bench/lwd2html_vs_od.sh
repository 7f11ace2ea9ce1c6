#!/usr/bin/env bash
# Compares the throughput of lwd2html with `od -An -tu1 -v` on the same 64 MiB random file.
# Usage: bench/lwd2html_vs_od.sh [path/to/lwd2html]   (default: build/bin/lwd2html)
# Build lwd2html in a Release build first; timings of a Debug or sanitizer build mean little.
set -euo pipefail

bin=${1:-build/bin/lwd2html}
[[ -x $bin ]] || { echo "no executable lwd2html at '$bin'" >&2; exit 1; }
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")

mib=64
work=$(mktemp -d "${TMPDIR:-/tmp}/lwd2html_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c $((mib << 20)) /dev/urandom >"$work/in.lwd"
cat "$work/in.lwd" >/dev/null  # both runs start with the input in the page cache

now() { date +%s.%N; }
# lwd2html takes a fraction of a second, so it runs three times and the fastest run counts
# (less noise from other load); od is slow enough that one run suffices.
best=
for _ in 1 2 3; do
  rm -f "$work/in_lwd.html"
  t0=$(now)
  (cd "$work" && "$bin" in.lwd >/dev/null) || { echo "lwd2html failed" >&2; exit 1; }
  t1=$(now)
  best=$(awk -v d="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" -v m="$best" \
    'BEGIN { print (m == "" || d < m) ? d : m }')
done
t0=$(now)
od -An -tu1 -v "$work/in.lwd" >/dev/null
t1=$(now)

awk -v mib="$mib" -v a="$best" -v t0="$t0" -v t1="$t1" 'BEGIN {
  b = t1 - t0
  printf "input        %d MiB random bytes\n", mib
  printf "lwd2html     %8.3f s  %9.1f MiB/s (best of 3, writes the page to disk)\n", a, mib / a
  printf "od -tu1      %8.3f s  %9.1f MiB/s (output to /dev/null)\n", b, mib / b
  printf "ratio        %8.1f x\n", b / a
}'
