#!/usr/bin/env bash
# Checks the Debian package a build made: the files a user needs are in it, test programs are not,
# and its dependencies are declared. Usage: tests/package-check.sh [BUILD_DIR]
set -euo pipefail
build="${1:-build}"
deb=$(ls -t "$build"/loomwork_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no package in $build (make package)"; exit 1; }
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
missing=0
for f in ./usr/bin/loomwork ./usr/bin/lwd2html ./usr/lib/loomwork/modules/JToneDigitObj.so \
         ./usr/share/loomwork/examples/first/first.lwd ./usr/share/loomwork/examples/sdk/CMakeLists.txt \
         ./usr/include/loomwork/loom/JModuleObj.h ./usr/include/loomwork/modules/Module.h; do
  grep -qx "$f" <<<"$files" || { echo "missing: $f"; missing=1; }
done
grep -q "LoomworkConfig.cmake$" <<<"$files" || { echo "missing: LoomworkConfig.cmake"; missing=1; }
if grep -E '_tests$|bench_|fuzz_' <<<"$files"; then echo "test programs in the package"; missing=1; fi
depends=$(dpkg-deb -f "$deb" Depends)
for d in libc6 libpng16-16 libfreetype6 fonts-dejavu-core; do
  grep -q "$d" <<<"$depends" || { echo "not a declared dependency: $d"; missing=1; }
done
[ "$missing" -eq 0 ] && echo "package ok: $deb ($(wc -l <<<"$files") entries; depends: $depends)"
exit "$missing"
