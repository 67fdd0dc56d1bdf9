#!/usr/bin/env bash
# The Debian package: `cpack -G DEB` from the build folder, its control fields (library
# dependencies from dpkg-shlibdeps, the programs the jobs run), its file list, and the unpacked
# flashwright-cli running --version and a format of an image file.
# Usage: package_test.sh BUILD_DIR PROJECT_VERSION GUI(ON|OFF)
set -euo pipefail
build=$1 version=$2 gui=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Packages go to a folder of this run: two runs at once must not share the staging tree.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack failed"
}
deb=$(ls "$work"/out/flashwright_"$version"_*.deb 2>/dev/null | head -n 1)
[[ -n $deb ]] || { ls -R "$work/out" >&2; fail "no flashwright_${version}_*.deb"; }

info=$(dpkg-deb -I "$deb")
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[[ $(field Package) == flashwright ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture"
depends=$(field Depends)
# Libraries found by dpkg-shlibdeps, not written by hand.
for lib in libc6 libstdc++6 libcurl4 libarchive13 liblzma5; do
  grep -qE "(^|, )${lib//+/\\+}( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[[ $gui != ON ]] || grep -qE "(^|, )libqt6widgets6( |,|$)" <<<"$depends" ||
  fail "Depends lacks libqt6widgets6: $depends"
for program in 7zip ntfs-3g udftools; do
  grep -qE "(^|, )$program(,|$)" <<<"$depends" || fail "Depends lacks $program: $depends"
done
grep -qE "(^|, )udisks2(,|$)" <<<"$(field Recommends)" ||
  fail "Recommends lacks udisks2: $(field Recommends)"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
expect=(
  ./usr/bin/flashwright-cli
  ./usr/share/man/man1/flashwright-cli.1.gz
  ./usr/share/man/man1/flashwright.1.gz
  ./usr/share/bash-completion/completions/flashwright-cli
  ./usr/share/doc/flashwright/manual.html
)
[[ $gui != ON ]] || expect+=(
  ./usr/bin/flashwright
  ./usr/share/applications/flashwright.desktop
  ./usr/share/metainfo/io.github.flashwright_mivo.flashwright.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/flashwright.svg
  ./usr/share/icons/hicolor/48x48/apps/flashwright.png
  ./usr/share/polkit-1/actions/io.github.flashwright-mivo.flashwright.policy
)
for f in "${expect[@]}"; do
  grep -qx -- "$f" <<<"$contents" || fail "the package lacks $f"
done
if grep -vE '^\./usr(/|$)' <<<"$contents" | grep -q .; then
  fail "the package installs outside /usr: $(grep -vE '^\./usr(/|$)' <<<"$contents" | head -n 3)"
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
if [[ $gui == ON ]]; then
  grep -q '>/usr/bin/flashwright<' "$root/usr/share/polkit-1/actions/"*.policy ||
    fail "the packaged polkit action does not name /usr/bin/flashwright"
fi
cli=$root/usr/bin/flashwright-cli
"$cli" --version | grep -qx "Flashwright v.* Beta (.*)" || fail "--version: $("$cli" --version)"

# A format of an image file, run from the unpacked tree (a folder below $work: the settings rule
# for programs outside the system prefixes applies, and --settings keeps it in $work anyway).
cd "$work"
"$cli" --yes --no-pauses --settings "$work/flashwright.ini" --image "$work/disk.img" \
  --create 96M format --data-set Not_Install --boot-size 48 --align 2048 >"$work/format.log" 2>&1 ||
  { cat "$work/format.log" >&2; fail "the packaged flashwright-cli could not format an image"; }
grep -q "All done" "$work/format.log" || fail "no \"All done\": $(cat "$work/format.log")"
# The MBR's signature and a FAT32-LBA (0x0C) first partition at sector 2048, active.
mbr=$(od -v -An -tx1 -j446 -N66 "$work/disk.img" | tr -d ' \n')
[[ ${mbr:0:2} == 80 && ${mbr:8:2} == 0c && ${mbr:16:8} == 00080000 && ${mbr:128:4} == 55aa ]] ||
  fail "unexpected partition table: $mbr"
# The first partition holds a FAT32 file system that fsck.fat accepts.
dd if="$work/disk.img" of="$work/part1.img" bs=1M skip=1 count=48 status=none
fsck.fat -n "$work/part1.img" >"$work/fsck.log" 2>&1 || fail "fsck.fat: $(cat "$work/fsck.log")"
echo "package test passed: $(basename "$deb"), Depends: $depends"
