#!/bin/bash
# The default job (Clover boot records, FAT32, data set "DL") with flashwright-cli on image files
# against a code-hosting site on 127.0.0.1:
#  - the job checks the revision, downloads and unpacks the release archive and installs it: the
#    volume passes fsck.fat, holds the release tree with the root boot files (checked with mtools)
#    and the indexing markers, and boots in QEMU (SeaBIOS): boot0, boot1f32alt, then the root
#    "boot", which is the archive's boot6, here a payload that reports on the serial port;
#  - a release that cannot be had ends the job before its question: the disk is untouched.
# usage: clover_dl_job_test.sh FLASHWRIGHT-CLI FW_MAKE_CLOVER_RELEASE QEMU-TEST-DIR
set -u
cli=$(realpath "$1") maker=$(realpath "$2") qemu=$(realpath "$3")
for tool in mcopy mdir mtype fsck.fat nasm python3 7zz; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
work=$(mktemp -d /tmp/fw-clover-dl.XXXXXX)
server=
trap '[ -n "$server" ] && kill $server 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
export MTOOLS_SKIP_CHECK=1 FLASHWRIGHT_BLOCK_DEVICES= TMPDIR=$work/tmp
mkdir -p tmp repo
fail() { echo "FAIL: $*"; exit 1; }

# The site: a release page naming r5119 and its archive, whose boot6 is the test's payload.
project=site/CloverHackyColor/CloverBootloader
mkdir -p "$project/releases/download/5119"
nasm -f bin '-DTAG="CLOVER"' -DBLOCKS=20 -o boot6.bin "$qemu/fat32_payload.asm" || fail nasm
"$maker" "$project/releases/download/5119" 5119 --boot6 boot6.bin >/dev/null || fail "archive"
printf '<a href="/CloverHackyColor/CloverBootloader/releases/download/5119/Clover_r5119.pkg">Clover_r5119.pkg</a>\n' \
  >"$project/releases/index.html"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory site >/dev/null 2>&1 &
server=$!
for _ in $(seq 50); do curl -s "http://127.0.0.1:$port/" >/dev/null && break; sleep 0.1; done
export FLASHWRIGHT_CODE_HOST=http://127.0.0.1:$port

settings() { printf '[Data Settings]\nCloverLocalRepository = %s/repo/\n' "$work" >settings.ini; }
job() { # IMG [options]
  local img=$1; shift
  "$cli" --settings settings.ini --yes --no-pauses --image "$img" format "$@" >log 2>&1
}

# The default job: nothing but the data-set source named.
settings
truncate -s 100M dl.img
job dl.img --data-set DL || { cat log; fail "the DL job failed"; }
grep -q "Found Latest Clover r5119" log || { cat log; fail "no revision check"; }
grep -q "Clover r5119 Downloaded" log || { cat log; fail "no download"; }
grep -q "Clover Data set files Installed" log || { cat log; fail "data set not installed"; }
grep -q "CloverLastRev = 5119" settings.ini || fail "revision not stored"
off=$(($(od -An -tu4 -j 454 -N4 dl.img) * 512))
len=$(($(od -An -tu4 -j 458 -N4 dl.img) * 512))
dd if=dl.img of=vol.img bs=1M iflag=skip_bytes,count_bytes skip=$off count=$len status=none
fsck.fat -n vol.img >fsck.log 2>&1 || { cat fsck.log; fail "fsck.fat"; }
root=$(mdir -i vol.img -b -/ ::/ | sed 's|^::/||' | sort | tr '\n' ' ')
echo "volume: $root"
for f in EFI/BOOT/BOOTX64.efi EFI/CLOVER/CLOVERX64.efi EFI/CLOVER/config.plist boot boot6 boot7 \
  usr/standalone/i386/x64/boot6 .metadata_never_index .fseventsd/no_log; do
  grep -q "::/$f\$" <(mdir -i vol.img -b -/ ::/) || fail "no $f on the volume"
done
grep -q '\[BOOT\]' <(mdir -i vol.img -b -/ ::/) && fail "[BOOT] on the volume"
mtype -i vol.img ::/boot >boot.out && cmp -s boot.out <(cat boot6.bin; printf '\r\nClover revision: 5119\r\n') ||
  fail "boot is not the archive's boot6"
python3 "$qemu/qemu_boot.py" dl.img --serial "FW-CLOVER OK" --timeout 60 || fail "QEMU boot"

# A revision that the site does not have: the job ends before the question, the disk untouched.
head -c 10M /dev/urandom >keep.img
sum=$(md5sum <keep.img)
settings
if job keep.img --data-set DL --clover-rev 4000; then fail "a job without its data set succeeded"; fi
grep -q "HTTP status code = 404" log || { cat log; fail "no download error"; }
grep -q "ALL DATA ON DEVICE" log && { cat log; fail "the question was asked"; }
[ "$(md5sum <keep.img)" = "$sum" ] || fail "the disk was changed"
echo OK
