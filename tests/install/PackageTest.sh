#!/usr/bin/env bash
# Builds the Debian package with scripts/package, installs it with dpkg, records one second
# with the installed quillmark-capture, judges the file with ffprobe, removes the package and
# finds nothing of it left. It changes the system, so it runs only as root with
# QM_PACKAGE_TEST=1 (scripts/test sets it under CI) and is skipped (77) otherwise.
# Usage: PackageTest.sh SOURCE_FOLDER SCRATCH_FOLDER
set -euo pipefail
source_dir=$1 scratch=$2
if [ "$(id -u)" -ne 0 ] || [ "${QM_PACKAGE_TEST:-}" != 1 ]; then
  echo "skipped: needs root and QM_PACKAGE_TEST=1"
  exit 77
fi
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d "$scratch/package-test.XXXXXX")
trap 'dpkg --purge quillmark >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# The sanitizers of the test build do not apply to the package's own build and programs.
unset ASAN_OPTIONS UBSAN_OPTIONS
# Its release build yields the processor to the tests that run beside it and keep time.
deb=$(nice -n 15 "$source_dir/scripts/package" | tail -n1)
[ -f "$deb" ] || fail "scripts/package made no package"
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || fail "no dependencies from dpkg-shlibdeps"

dpkg -i "$deb" || fail "dpkg -i"
[ "$(command -v quillmark-capture)" = /usr/bin/quillmark-capture ] || fail "not on the PATH"
man -w quillmark-capture >/dev/null 2>&1 || [ ! -x /usr/bin/man ] || fail "man finds no manual"
! ldd /usr/bin/quillmark /usr/bin/quillmark-capture | grep -q 'not found' || fail "missing libraries"
quillmark-capture record "$work/one.avi" --fps 10 --seconds 1 || fail "recording"
probe=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,nb_read_frames -of default=noprint_wrappers=1 "$work/one.avi")
grep -q '^codec_name=msmpeg4v2$' <<<"$probe" || fail "not an MPEG-4 v2 video: $probe"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$probe")
[ "${frames:-0}" -ge 1 ] || fail "no frames: $probe"
errors=$(ffmpeg -v error -i "$work/one.avi" -f null - 2>&1)
[ -z "$errors" ] || fail "the video does not decode cleanly: $errors"

mapfile -t files < <(dpkg-query -L quillmark)
dpkg --purge quillmark || fail "dpkg --purge"
dpkg-query -W quillmark >/dev/null 2>&1 && fail "the package is still known to dpkg"
left=()
for f in "${files[@]}"; do
  if [ -f "$f" ] || [ -L "$f" ]; then left+=("$f"); fi
done
for d in /usr/share/Zorvek /usr/share/doc/quillmark; do [ -e "$d" ] && left+=("$d"); done
[ ${#left[@]} -eq 0 ] || fail "left after removal: ${left[*]}"
echo "package built, installed, recorded ${frames} frames, removed cleanly: OK"
