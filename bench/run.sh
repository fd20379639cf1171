#!/usr/bin/env bash
# Builds the tool and the benchmark in build/ and prints the performance
# figures: the tool against the I/O floor, crafted against normal
# containers, 4 MiB against 1 MiB, and the peak memory; then d88 test
# against d88extract on the same inputs, and d88 add of a 40,000-byte file
# to the six-file container against d88extract on it.  Each goal is marked
# met or MISSED, and the script exits non-zero when one is missed.  Then
# d88 test over a generated collection of D88_BENCH_CONTAINERS containers
# (1000 by default, about 1.2 GB in the temporary directory) against cat
# and a process per container.
#   bash bench/run.sh [ROUNDS] [BASELINE_D88EXTRACT]
# With BASELINE_D88EXTRACT (an older d88extract binary) that one is timed
# beside the new one on the six-file and the crafted containers, each
# pair back to back, and each "d88extract / baseline" ratio has the goal
# <= 1.03.
set -euo pipefail
baseline=""
if [ $# -ge 2 ]; then
  [ -x "$2" ] || { echo "run.sh: $2 is not an executable" >&2; exit 2; }
  baseline=$(realpath "$2")
fi
cd "$(dirname "$0")/.."
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build build --target d88extract d88 d88bench io_floor d88collectionbench >/dev/null
status=0
build/d88bench build/d88extract build/io_floor "${1:-31}" build/d88 ${baseline:+"$baseline"} || status=$?
echo
build/d88collectionbench build/d88 "${D88_BENCH_CONTAINERS:-1000}" || status=$?
exit $status
