#!/usr/bin/env bash
# Builds the release packages (cmake --workflow --preset package, into
# build-release/) and checks what a user would get from them: the .deb and
# the .tar.gz each hold a stripped d88extract that extracts a sample disk
# and a stripped d88 that tests one, their man pages, README and LICENSE;
# the .deb names its dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check-package.sh: $*" >&2; exit 1; }

cmake --workflow --preset package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
deb=build-release/d88extract_${version}_$(dpkg --print-architecture).deb
tgz=build-release/d88extract-${version}-Linux.tar.gz
[ -f "$deb" ] || fail "no $deb"
[ -f "$tgz" ] || fail "no $tgz"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
build-release/make_samples "$scratch" >/dev/null

# check_tree ROOT PREFIX: the installed files under ROOT/PREFIX work.
check_tree() {
  local bin=$1/$2/bin/d88extract page=$1/$2/share/man/man1/d88extract.1 doc=$1/$2/share/doc/d88extract
  for f in "$bin" "$page" "$doc/README.md" "$doc/LICENSE" "$doc/docs/usage/d88extract.md"; do [ -f "$f" ] || fail "missing ${f#"$1"/}"; done
  readelf -S "$bin" | grep -q -e '\.symtab' -e '\.debug_' && fail "${bin#"$1"/} is not stripped"
  mkdir "$1/files"
  (cd "$1/files" && "$bin" "$scratch/sample-2hd.d88") >"$1/listing" || fail "${bin#"$1"/} failed"
  head -1 "$1/listing" | grep -qx 'MEDIA TYPE=2HD' || fail "unexpected listing: $(cat "$1/listing")"
  [ "$(ls "$1/files" | tr '\n' ' ')" = "LONG READ TBL " ] || fail "files extracted: $(ls "$1/files")"
  man -l "$page" 2>/dev/null | grep -q 'extract the files of a D88 floppy-disk image' ||
    fail "man -l does not show ${page#"$1"/}"
  local d88=$1/$2/bin/d88 d88page=$1/$2/share/man/man1/d88.1
  for f in "$d88" "$d88page"; do [ -f "$f" ] || fail "missing ${f#"$1"/}"; done
  readelf -S "$d88" | grep -q -e '\.symtab' -e '\.debug_' && fail "${d88#"$1"/} is not stripped"
  local status=0
  "$d88" test "$scratch/sample-damaged.d88" >"$1/test" || status=$?
  [ "$status" -eq 2 ] && grep -q '2 damaged' "$1/test" || fail "d88 test gave $status: $(cat "$1/test")"
  man -l "$d88page" 2>/dev/null | grep -qi 'd88' || fail "man -l does not show ${d88page#"$1"/}"
}

dpkg-deb --contents "$deb"
for field in Package Version Section Maintainer Depends; do
  [ -n "$(dpkg-deb --field "$deb" "$field")" ] || fail "the .deb has no $field"
done
dpkg-deb --field "$deb" Package Version Section Depends
mkdir "$scratch/deb"
dpkg-deb -x "$deb" "$scratch/deb"
check_tree "$scratch/deb" usr

tar -tzf "$tgz"
mkdir "$scratch/tgz"
tar -xzf "$tgz" -C "$scratch/tgz"
check_tree "$scratch/tgz" "d88extract-${version}-Linux"
echo "check-package.sh: the .deb and the .tar.gz hold working, stripped d88extract and d88 with their man pages, README and LICENSE"
