#!/usr/bin/env bash
# Lists the C++ files whose layout differs from .clang-format and exits 1
# when there is any; changes nothing.  Reformat with clang-format -i FILE.
#   scripts/check-format.sh [FILE...]   (default: every tracked C++ file)
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang-format >/dev/null ||
  { echo "check-format.sh: clang-format is missing (apt-get install clang-format)" >&2; exit 1; }
if [ $# -eq 0 ]; then
  mapfile -t files < <(git ls-files '*.h' '*.cpp')
else
  files=("$@")
fi
differ=0
for f in "${files[@]}"; do
  if ! clang-format --style=file "$f" | cmp -s - "$f"; then
    echo "$f"
    differ=1
  fi
done
if [ "$differ" -ne 0 ]; then
  echo "check-format.sh: the files above differ from .clang-format" >&2
fi
exit "$differ"
