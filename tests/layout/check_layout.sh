#!/usr/bin/env bash
# The layout's rules, checked on the source tree:
#  - Qt headers only under gui/ (and the GUI tests);
#  - curl, udev, D-Bus and Linux system headers only under platform/ (tests may use the system
#    to build their fixtures, so *_test.cpp and test helpers are not held to it);
#  - the front ends call the jobs, never the other way round: only cli/ includes cli/, only gui/
#    (and the GUI tests) include gui/.
set -euo pipefail
root="${1:-$(dirname "$0")/../..}"
cd "$root"
status=0
sources() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort; }
is_test() { case "$1" in *_test.cpp | *_test.h | *test_support* | tests/*) return 0 ;; esac; return 1; }
fail() { echo "layout: $1"; status=1; }

system='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(unistd|fcntl|signal|poll|dirent|pwd|grp|termios|mntent|libudev|sched|dlfcn|execinfo|ucontext)\.h>|^[[:space:]]*#[[:space:]]*include[[:space:]]*<(sys|linux|curl|systemd|dbus|blkid|libmount)/'
qt='^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q'

for f in $(sources app disk prepare images datasets net fs cli gui); do
  if ! is_test "$f" && grep -Eq "$system" "$f"; then
    fail "$f includes a system header: $(grep -Em1 "$system" "$f")"
  fi
done
for f in $(sources app disk prepare images datasets net fs cli platform resources tools); do
  grep -Eq "$qt" "$f" && fail "$f includes a Qt header outside gui/: $(grep -Em1 "$qt" "$f")"
done
for f in $(sources app disk prepare images datasets net fs platform gui); do
  grep -Eq '#include "cli/' "$f" && fail "$f includes the command-line front end"
done
for f in $(sources app disk prepare images datasets net fs platform cli); do
  grep -Eq '#include "gui/' "$f" && fail "$f includes the desktop front end"
done
exit "$status"
