#!/bin/bash
# The Clover commands of flashwright-cli against a code-hosting site on 127.0.0.1, and the format
# job with the "DL" and release-archive data sets on image files:
#  - clover-check finds the newest revision (numeric order) and keeps it in the settings;
#    a page without package names fails; clover-repo lists the repository and saves nothing; make-clover-zip makes the data-set zip,
#    and fails cleanly on a broken archive and without 7zz;
#  - the default job with "DL" checks, downloads, unpacks and installs the release: the volume
#    passes fsck.fat, holds the release tree with the root boot files (mtools) and the indexing
#    markers, and boots in QEMU (SeaBIOS): boot0, boot1f32alt, then the root "boot", which is
#    the archive's boot6, here a payload that reports on the serial port;
#  - a release archive from the repository is installed the same way;
#  - a release that cannot be had, or a broken archive, ends the job before its question: the
#    disk is untouched.
# usage: clover_cli_test.sh FLASHWRIGHT-CLI FW_MAKE_CLOVER_RELEASE QEMU-TEST-DIR
set -u
cli=$(realpath "$1") maker=$(realpath "$2") qemu=$(realpath "$3")
for tool in mcopy mdir mtype fsck.fat nasm python3 7zz curl; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
work=$(mktemp -d /tmp/fw-clover-cli.XXXXXX)
server=
trap '[ -n "$server" ] && kill $server 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
export MTOOLS_SKIP_CHECK=1 FLASHWRIGHT_BLOCK_DEVICES= TMPDIR=$work/tmp
mkdir -p tmp repo out
fail() { echo "FAIL: $*"; exit 1; }
settings() { printf '[Data Settings]\nCloverLocalRepository = %s/repo/\n' "$work" >settings.ini; }
fw() { "$cli" --settings settings.ini --yes --no-pauses "$@" >log 2>&1; }
# Files and folders of partition 1 of an image, after fsck.fat has passed it.
volume() { # IMG
  local off len
  off=$(($(od -An -tu4 -j 454 -N4 "$1") * 512))
  len=$(($(od -An -tu4 -j 458 -N4 "$1") * 512))
  dd if="$1" of=vol.img bs=1M iflag=skip_bytes,count_bytes skip=$off count=$len status=none
  fsck.fat -n vol.img >fsck.log 2>&1 || { cat fsck.log; fail "fsck.fat on $1"; }
  mdir -a -i vol.img -b -/ ::/ | sed 's|^::/||' | sort >tree
}

# The site: a release page naming r999, r1000 and r5119, and the archive of r5119, whose boot6
# is the test's payload.
project=site/CloverHackyColor/CloverBootloader
mkdir -p "$project/releases/download/5119"
nasm -f bin '-DTAG="CLOVER"' -DBLOCKS=20 -o boot6.bin "$qemu/fat32_payload.asm" || fail nasm
"$maker" "$project/releases/download/5119" 5119 --boot6 boot6.bin >/dev/null || fail "archive"
archive=$project/releases/download/5119/Clover-5119-X64.iso.7z
page() { # REVISION...
  for r in "$@"; do
    printf '<a href="/CloverHackyColor/CloverBootloader/releases/download/%s/Clover_r%s.pkg">Clover_r%s.pkg</a>\n' "$r" "$r" "$r"
  done >"$project/releases/index.html"
}
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory site >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do curl -s "http://127.0.0.1:$port/" >/dev/null && break; sleep 0.1; done
export FLASHWRIGHT_CODE_HOST=http://127.0.0.1:$port

# clover-check: numeric order, duplicates once, the result kept in the settings.
settings
page 999 1000 5119 1000
fw clover-check || { cat log; fail "clover-check"; }
[ "$(grep -A3 '^Found Latest Clover r5119$' log)" = $'Found Latest Clover r5119\n5119\n1000\n999' ] ||
  { cat log; fail "clover-check output"; }
grep -q "^CloverLastRev = 5119" settings.ini || fail "revision not stored"
grep -Eq "^CloverLastRevCheckDate = [0-9]{2}\.[0-9]{2}\.[0-9]{2} [0-9]{2}:[0-9]{2}" settings.ini ||
  fail "check date not stored"
page  # a page that names no package
if fw clover-check; then fail "clover-check without a package name succeeded"; fi
grep -q "Not Found standart Clover archive distribution file:" log || { cat log; fail "no box"; }
page 999 1000 5119

# make-clover-zip: the data-set zip beside nothing else; broken archives and a missing 7zz fail.
fw make-clover-zip "$archive" --output out || { cat log; fail "make-clover-zip"; }
[ "$(ls -A out)" = "Clover-5119-X64.zip" ] || fail "out holds $(ls -A out)"
7zz l -slt out/Clover-5119-X64.zip >list || fail "7zz l"
for f in boot boot6 boot7 EFI/CLOVER/config.plist usr/standalone/i386/x64/boot6; do
  grep -qx "Path = $f" list || fail "no $f in the zip"
done
grep -q '\[BOOT\]\|\.iso$' list && fail "[BOOT] or the ISO in the zip"
head -c 6 "$archive" >broken.iso.7z && head -c 3000 /dev/urandom >>broken.iso.7z
if fw make-clover-zip broken.iso.7z --output out2; then fail "a broken archive made a zip"; fi
grep -q "exit code 4" log || { cat log; fail "broken archive text"; }
[ -z "$(ls -A out2)" ] || fail "a broken archive left $(ls -A out2)"
if PATH=/nonexistent "$cli" --settings settings.ini --no-pauses make-clover-zip "$archive" \
  --output out3 >log 2>&1; then fail "make-clover-zip without 7zz succeeded"; fi
grep -q "package 7zip" log || { cat log; fail "missing 7zz text"; }
if fw make-clover-zip missing.iso.7z --output out4; then fail "a missing archive made a zip"; fi
grep -q "no such file: missing.iso.7z" log || { cat log; fail "missing archive text"; }

# clover-repo: the archive and the zip made from it, highest first; nothing saved.
cp "$archive" out/Clover-5119-X64.zip repo/
cp out/Clover-5119-X64.zip repo/Clover-5070-X64.zip  # its "boot" still names 5119
printf 'no distribution' >repo/readme.zip
cp settings.ini settings.before
fw clover-repo || { cat log; fail "clover-repo"; }
[ "$(grep Rev log)" = $'Clover-5070-X64.zip (Rev.5119)\nClover-5119-X64.iso.7z (Rev.5119)\nClover-5119-X64.zip (Rev.5119)' ] ||
  { cat log; fail "clover-repo lines"; }
cmp -s settings.ini settings.before || fail "clover-repo changed the settings"
fw clover-repo --repo "$work/out" && [ "$(grep Rev log)" = "Clover-5119-X64.zip (Rev.5119)" ] ||
  { cat log; fail "clover-repo --repo"; }

# The default job with the latest release.
settings
truncate -s 400M dl.img  # room for the default 200 MB boot partition and a second one
fw --image dl.img format --data-set DL || { cat log; fail "the DL job failed"; }
for t in "Found Latest Clover r5119" "Clover r5119 Downloaded" "Clover:	DL r5119" \
  "Clover Data set files Installed"; do
  grep -q "$t" log || { cat log; fail "no \"$t\""; }
done
volume dl.img
echo "volume: $(tr '\n' ' ' <tree)"
for f in EFI/BOOT/BOOTX64.efi EFI/CLOVER/CLOVERX64.efi EFI/CLOVER/config.plist boot boot6 boot7 \
  usr/standalone/i386/x64/boot6 .metadata_never_index .fseventsd/no_log; do
  grep -qx "$f" tree || fail "no $f on the volume"
done
grep -q '\[BOOT\]\|\.iso$' tree && fail "[BOOT] or the ISO on the volume"
mtype -i vol.img ::/boot >boot.out
cmp -s boot.out <(cat boot6.bin; printf '\r\nClover revision: 5119\r\n') ||
  fail "boot is not the archive's boot6"
if command -v qemu-system-x86_64 >/dev/null; then
  python3 "$qemu/qemu_boot.py" dl.img --serial "FW-CLOVER OK" --timeout 60 || fail "QEMU boot"
fi

# A release archive of the repository, on one partition, read back after the extraction.
truncate -s 100M local.img
fw --image local.img format --multi-partitions 0 --data-set Local \
  --local-distr "repo/Clover-5119-X64.iso.7z" --verify || { cat log; fail "the Local job failed"; }
grep -q "^Verified ([0-9]*/[0-9]*) files on " log || { cat log; fail "no Verified line"; }
volume local.img
grep -qx boot tree && grep -qx EFI/CLOVER/config.plist tree || fail "local archive not installed"

# What cannot be had ends the job before its question, and the disk keeps every byte.
head -c 4M /dev/urandom >keep.img
truncate -s 400M keep.img
sum=$(md5sum <keep.img)
if fw --image keep.img format --data-set DL --clover-rev 4000; then
  fail "a job without its release succeeded"
fi
grep -q "HTTP status code = 404" log || { cat log; fail "no download error"; }
grep -q "ALL DATA ON DEVICE" log && { cat log; fail "the question was asked"; }
if fw --image keep.img format --data-set Local --local-distr broken.iso.7z; then
  fail "a job with a broken archive succeeded"
fi
grep -q "Error During Extract Latest Clover Data Set." log || { cat log; fail "no extract error"; }
grep -q "ALL DATA ON DEVICE" log && { cat log; fail "the question was asked"; }
[ "$(md5sum <keep.img)" = "$sum" ] || fail "the disk was changed"
echo OK
