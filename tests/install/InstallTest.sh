#!/usr/bin/env bash
# Installs the build tree into a temporary DESTDIR and checks what a desktop and a user see:
# every file in its freedesktop/Debian place and nothing else, a valid desktop entry and
# AppStream metadata, icons of the sizes they claim, manuals that carry every option of the
# help text, a working installed quillmark-capture and its completion.
# Usage: InstallTest.sh BUILD_FOLDER APP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3
dest=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$dest"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$dest" cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root="$dest$prefix"

sizes=(16 22 24 32 48 64 128 256)
expected=(
  bin/quillmark bin/quillmark-capture
  share/applications/$id.desktop share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg
  share/man/man1/quillmark.1.gz share/man/man1/quillmark-capture.1.gz
  share/bash-completion/completions/quillmark-capture
  share/doc/quillmark/README.md share/doc/quillmark/copyright share/doc/quillmark/LICENSE
  share/Zorvek/Quillmark/Help/Default.htm
)
for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x$s/apps/$id.png"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f | sed 's|^\./||' | sort) ||
  fail "the installed tree differs from the expected one (< expected, > installed)"
[ "$(find "$dest" -type f | wc -l)" -eq "${#expected[@]}" ] || fail "files outside the prefix"

for s in "${sizes[@]}"; do
  file "$root/share/icons/hicolor/${s}x$s/apps/$id.png" | grep -q "PNG image data, $s x $s," ||
    fail "the ${s}x$s icon is not a $s x $s PNG"
done
desktop-file-validate "$root/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" || fail "appstreamcli"
# The screenshots the metadata names are the ones scripts/screenshots makes.
for shot in $(grep -o '[a-z-]*\.png' "$root/share/metainfo/$id.metainfo.xml"); do
  [ -f "$(dirname "$0")/../../docs/screenshots/$shot" ] || fail "no docs/screenshots/$shot"
done

tool="$root/bin/quillmark-capture"
help=$("$tool" --help) || fail "--help"
grep -q '^usage:' <<<"$help" || fail "--help prints no usage"
"$tool" --version | grep -qF "$version" || fail "--version does not print $version"
codes=$("$tool" codecs) || fail "codecs"
grep -q '^MP42'$'\t' <<<"$codes" || fail "codecs does not list MP42"
manual=$(zcat "$root/share/man/man1/quillmark-capture.1.gz")
for command in $(awk '/^  [a-z]/ { print $1 }' <<<"$help"); do
  usage=$("$tool" "$command" --help) || fail "$command --help"
  grep -q "^usage: quillmark-capture $command" <<<"$usage" || fail "$command --help"
  grep -q "^\.B $command$" <<<"$manual" || fail "the manual lacks $command"
  for option in $(awk '/^  --/ { print $1 }' <<<"$usage"); do
    grep -qF -- "${option//-/\\-}" <<<"$manual" || fail "the manual lacks $command $option"
  done
done
# Both manuals render without a warning.
for page in quillmark quillmark-capture; do
  warnings=$(zcat "$root/share/man/man1/$page.1.gz" | groff -man -ww -Tutf8 -z 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done

# Completion of commands, options and the codes that codecs lists, from the installed tool.
complete_line() {
  PATH="$root/bin:$PATH" bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quillmark_capture; echo "${COMPREPLY[*]}"' \
    complete "$root/share/bash-completion/completions/quillmark-capture" "$@"
}
[ "$(complete_line quillmark-capture re)" = "record repair" ] || fail "completing commands"
[ "$(complete_line quillmark-capture record --co)" = "--codec" ] || fail "completing options"
[ "$(complete_line quillmark-capture photo --q)" = "--quality" ] || fail "completing options"
[ "$(complete_line quillmark-capture record --codec MP4)" = "MP42" ] || fail "completing codes"
echo "installed tree, desktop entry, metainfo, manuals, tool and completion: OK"
