#!/bin/bash
# `make demo`: flies flights/demo.flight with the built Tralix.xpl in the headless
# host against the embedded service stand-in, at high speed: start-up activation
# of a demo key, a stream of accepted broadcasts, one landing event, then the summary.
# Usage: tools/tralix-sim/demo.sh [BUILD_DIR [XPLANE_VERSION]]   (default build, 12)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=${1:-build}
xplane=${2:-12}
[[ $build_dir == /* ]] || build_dir=$root/$build_dir
sim=$build_dir/tools/tralix-sim/tralix-sim
out=$build_dir/demo
[[ $xplane == 12 ]] || out=$build_dir/demo-xp$xplane

cd "$root"
if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
# Up to date after `make build`; builds the runner and the plug-in otherwise.
cmake --build "$build_dir" --target tralix-sim -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

echo "Demo: the plug-in folder is $out/Tralix/lin_x64/ with a Tralix.cfg holding the demo key"
echo "TRALIX-DEMO-KEY and no token, so the plug-in activates it at start-up."
started=$(date +%s%N)
status=0
"$sim" --out "$out" --xplane "$xplane" --api-key TRALIX-DEMO-KEY --expect-landings 1 flights/demo.flight ||
  status=$?
finished=$(date +%s%N)
echo
tenths=$(((finished - started) / 100000000))
printf 'Demo flown in %d.%d s of wall time (exit status %d). Log: %s/Log.txt\n' \
  $((tenths / 10)) $((tenths % 10)) "$status" "$out"
exit "$status"
