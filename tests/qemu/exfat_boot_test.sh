#!/bin/bash
# Clover on exFAT, made by the format job (flashwright-cli on image files) and booted in
# qemu-system-x86_64 with SeaBIOS: boot0 in sector 0 picks the active partition, boot1xalt finds
# the root file "boot" and starts it at 2000:0200 with DL = 0x80 (the payload checks how it was
# started and that every sector arrived in order, then reports on COM1); the volume stays valid
# for fsck.exfat; without an active partition boot0 takes the exFAT one, without any bootable
# entry it says so; a volume without "boot" gives the loader's message instead of a jump.
# usage: exfat_boot_test.sh FLASHWRIGHT-CLI TEST-SOURCE-DIR
set -u
cli=$(realpath "$1") src=$(realpath "$2")
for tool in qemu-system-x86_64 nasm python3 fsck.exfat; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
work=$(mktemp -d /tmp/fw-exfat-boot.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1 # the program writes its download list into the current folder
# Only the image disks of this test: no block device of the machine is listed.
export FLASHWRIGHT_BLOCK_DEVICES=
fail() { echo "FAIL: $*"; exit 1; }
boot() { python3 "$src/qemu_boot.py" "$@" --timeout 60 || fail "boot $*"; }
format() { # IMG SIZE ALIGN
  "$cli" --settings "$work/settings.ini" --yes --no-pauses --image "$1" --create "$2" \
    format --boot-records Clover --file-system exFAT --align "$3" --multi-partitions 0 \
    --data-set Not_Install >"$work/log" 2>&1 || { cat "$work/log"; fail "format"; }
  off=$(($(od -An -tu4 -j 454 -N4 "$1") * 512))
}

# A 300-sector "boot" (more than one 32 KiB cluster) on a disk aligned to 2048.
nasm -f bin '-DTAG="BOOT"' -DBLOCKS=300 -o "$work/boot.bin" "$src/fat32_payload.asm" ||
  fail "payload"
img=$work/clover.img
format "$img" 128M 2048
[ "$(od -An -tx1 -j 450 -N1 "$img" | tr -d ' ')" = 07 ] || fail "partition type"
# The volume's letter in the drive tree, then the file through the program's engine.
letter=$("$cli" --settings "$work/settings.ini" --image "$img" list |
  sed -n 's/^ *Partition 1: .* \([D-Z]:\)$/\1/p')
[ -n "$letter" ] || fail "no letter for the exFAT volume"
"$cli" --settings "$work/settings.ini" --yes --image "$img" volume "$letter" put \
  "$work/boot.bin" boot >"$work/log" 2>&1 || { cat "$work/log"; fail "put boot"; }
dd if="$img" of="$work/part.img" bs=512 skip=$((off / 512)) status=none
fsck.exfat -n "$work/part.img" || fail "fsck.exfat"
boot "$img" --serial "FW-BOOT OK"

# boot0 without an active partition takes the first exFAT/FAT32/NTFS entry carrying our boot
# sector; with no such entry it says so.
printf '\x00' | dd of="$img" bs=1 seek=446 conv=notrunc status=none
boot "$img" --serial "FW-BOOT OK"
printf '\x83' | dd of="$img" bs=1 seek=450 conv=notrunc status=none
boot "$img" --serial "boot0: no bootable partition"

# The same on a disk aligned to 63 sectors, and without the file.
img=$work/empty.img
format "$img" 64M 63
boot "$img" --serial "boot1xalt: no file boot"
echo "PASS"
