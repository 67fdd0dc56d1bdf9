#!/usr/bin/env bash
# The desktop program without a display (over SSH, on a console, DISPLAY naming a display that is
# not there) ends with status 1 and one line saying what to use instead, never Qt's abort, and
# writes nothing.
# Usage: no_display_test.sh FLASHWRIGHT
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

check() {  # check NAME EXPECTED-TEXT ENV...
  local name=$1 expected=$2
  shift 2
  mkdir -p "$work/$name/home"
  local status=0
  (cd "$work/$name" && env -i PATH=/usr/bin:/bin HOME="$work/$name/home" "$@" \
    timeout -s KILL 30 "$program" >out.txt 2>err.txt) || status=$?
  [[ $status == 1 ]] || fail "$name: exit status $status: $(cat "$work/$name/err.txt")"
  [[ ! -s $work/$name/out.txt ]] || fail "$name: wrote to stdout: $(cat "$work/$name/out.txt")"
  [[ $(wc -l <"$work/$name/err.txt") == 1 ]] || fail "$name: not one line: $(cat "$work/$name/err.txt")"
  grep -q -- "$expected" "$work/$name/err.txt" || fail "$name: $(cat "$work/$name/err.txt")"
  grep -q "flashwright-cli" "$work/$name/err.txt" || fail "$name: no word of the CLI"
  [[ -z $(ls -A "$work/$name/home") ]] || fail "$name: wrote into HOME: $(ls -AR "$work/$name/home")"
  [[ $(ls -A "$work/$name") == $'err.txt\nhome\nout.txt' ]] ||
    fail "$name: left files: $(ls -A "$work/$name")"
}

check none "no display to open the window on"
# A display that does not answer (nothing listens on :97), through the X11 platform.
check unreachable 'cannot open the display ":97"' DISPLAY=:97
check unreachable-xcb 'cannot open the display ":97"' DISPLAY=:97 QT_QPA_PLATFORM=xcb
echo "no-display test passed"
