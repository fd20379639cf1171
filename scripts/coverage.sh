#!/usr/bin/env bash
# Line and branch coverage of every product folder by the whole test suite:
# builds and runs the tests of the coverage preset into build-coverage/ and
# prints gcovr's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v gcovr >/dev/null || { echo "coverage.sh: gcovr is missing (apt-get install gcovr)" >&2; exit 1; }
# Counts from an earlier run would add up with this one's.
if [ -d build-coverage ]; then find build-coverage -name '*.gcda' -delete; fi
cmake --workflow --preset coverage
gcovr --root . --object-directory build-coverage --filter 'diskimage/' --filter 'tool/' \
  --filter 'geometry/' --filter 'filesystem/' --filter 'fat12/' --filter 'flat/' \
  --filter 'survey/' --filter 'views/' --filter 'output/' --filter 'change/' --filter 'edit/' --filter 'platform/' --filter 'd88/' --exclude-unreachable-branches --print-summary "$@"
