#!/bin/bash
# The FAT32 boot sectors on disks made by the format job (flashwright-cli on image files), booted
# in qemu-system-x86_64 with SeaBIOS:
#  - Clover / FAT32 (partition 1 from sector 63, partition 2 behind it): the root file "boot"
#    (fragmented, its entry in a later, non-adjacent root cluster) starts at 2000:0200 with
#    DL = 0x80; the key 6 starts "boot6"; the key 7 (no boot7) falls back to "boot"; a chain cut
#    short gives "Bad boot" instead of a jump; no file gives "No boot".
#  - Clover / FAT32-LBA with 32 KiB clusters: the largest file that fits below the top of
#    conventional memory starts, a larger one gives "Bad boot".
#  - FreeDos: the job's own KERNEL.SYS shows its notice; a fragmented KERNEL.SYS of ours starts at
#    0060:0000 with BL = 0x80 and SS:BP at the boot sector copy; the largest kernel that stays
#    clear of the boot sector's stack starts, a larger one gives "Bad KERNEL"; no file gives
#    "No KERNEL".
# usage: fat32_boot_test.sh FLASHWRIGHT-CLI TEST-SOURCE-DIR USB-HDD+.bin
set -u
cli=$(realpath "$1") src=$(realpath "$2") usbhdd=$(realpath "$3")
for tool in qemu-system-x86_64 mcopy nasm python3; do
  command -v $tool >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
work=$(mktemp -d /tmp/fw-fat32-boot.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1 # the program writes its download list into the current folder
export MTOOLS_SKIP_CHECK=1
# Only the image disks of this test: no block device of the machine is listed.
export FLASHWRIGHT_BLOCK_DEVICES=
fail() { echo "FAIL: $*"; exit 1; }
boot() { python3 "$src/qemu_boot.py" "$@" --timeout 60 || fail "boot $*"; }
payload() { # OUT TAG BLOCKS [KERNEL]
  nasm -f bin ${4:+-DKERNEL} "-DTAG=\"$2\"" "-DBLOCKS=$3" -o "$1" "$src/fat32_payload.asm" ||
    fail "payload $2"
}
# Formats an image disk; sets off = byte offset of partition 1 (from its MBR entry).
format() { # IMG BOOT-RECORDS [FILE-SYSTEM [SIZE [ALIGN [MULTI-PARTITIONS]]]]
  "$cli" --settings "$work/settings.ini" --yes --no-pauses --image "$1" --create "${4:-100M}" \
    format --boot-records "$2" --file-system "${3:-FAT32}" --align "${5:-2048}" \
    --multi-partitions "${6:-0}" --data-set Not_Install >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "format $2"; }
  off=$(($(od -An -tu4 -j 454 -N4 "$1") * 512))
}
# As many files with long names (3 directory entries each) as one root cluster has entries,
# every other one of the second half deleted and the free-cluster hint reset: the next file
# fills the holes and its entry lands in a later root cluster than the first.
fragment() { # IMG
  local n half i
  n=$(($(od -An -tu2 -j $((off + 11)) -N2 "$1") * $(od -An -tu1 -j $((off + 13)) -N1 "$1") / 32))
  half=$((n / 2))
  rm -f "$work"/filler_*
  for i in $(seq 1000 $((999 + n))); do head -c 3072 /dev/zero >"$work/filler_long_name_$i.bin"; done
  mcopy -i "$1@@$off" "$work"/filler_long_name_*.bin ::/ || fail "fillers"
  for i in $(seq $((1000 + half)) 2 $((999 + n))); do
    mdel -i "$1@@$off" "::filler_long_name_$i.bin" || fail "mdel"
  done
  python3 "$src/fat32_tool.py" hint "$1" "$off"
}
check_layout() { # IMG NAME LOWEST-ROOT-CLUSTER-OF-THE-ENTRY
  read -r rootclusters where pieces < <(python3 "$src/fat32_tool.py" layout "$1" "$off" "$2")
  echo "root folder: $rootclusters clusters, entry in cluster #$where; file in $pieces pieces"
  [ "$rootclusters" -ge 2 ] && [ "$where" -ge "$3" ] && [ "$pieces" -ge 3 ] ||
    fail "the test disk is not fragmented as intended"
}

# Clover on FAT32, partitions from sector 63 and a second partition behind the first.
img=$work/clover.img
format "$img" Clover FAT32 300M 63 1
[ "$off" = $((63 * 512)) ] || fail "partition 1 at byte $off"
if grep -q "no boot0 boot code" <(head -c 512 "$img"); then
  # The job carries no Clover MBR in this build: sector 0 gets the USB-HDD+ code, which starts
  # the active partition the same way.
  echo "note: no boot0 in this build; sector 0 runs USB-HDD+"
  dd if="$usbhdd" of="$img" bs=440 count=1 conv=notrunc status=none
fi
fragment "$img"
payload "$work/boot.bin" BOOT 160
payload "$work/boot6.bin" BOOT6 20
mcopy -i "$img@@$off" "$work/boot.bin" ::boot || fail "mcopy boot"
mcopy -i "$img@@$off" "$work/boot6.bin" ::boot6 || fail "mcopy boot6"
check_layout "$img" "BOOT       " 1
boot "$img" --serial "FW-BOOT OK"
boot "$img" --serial "FW-BOOT6 OK" --key 6
boot "$img" --serial "FW-BOOT OK" --key 7
python3 "$src/fat32_tool.py" cut "$img" "$off" "BOOT       " 5
boot "$img" --screen "Bad boot"
mdel -i "$img@@$off" ::boot ::boot6 || fail "mdel boot"
boot "$img" --screen "No boot"

# Clover on FAT32-LBA on a 40 GiB disk (sparse), where the formatter picks 32 KiB clusters: a
# "boot" that just fits below the top of conventional memory (SeaBIOS leaves 639 KiB: 522752
# bytes from 0x20200) loads; a bigger one is refused before a sector is read over the BIOS data.
img=$work/clover-lba.img
format "$img" Clover FAT32-LBA 40G
[ "$(od -An -tu1 -j $((off + 13)) -N1 "$img" | tr -d ' ')" = 64 ] ||
  fail "the FAT32-LBA volume does not have 64 sectors per cluster"
grep -q "no boot0 boot code" <(head -c 512 "$img") &&
  dd if="$usbhdd" of="$img" bs=440 count=1 conv=notrunc status=none
payload "$work/big.bin" BOOT 1020
mcopy -i "$img@@$off" "$work/big.bin" ::boot || fail "mcopy big boot"
boot "$img" --serial "FW-BOOT OK"
payload "$work/big.bin" BOOT 1022
mcopy -o -i "$img@@$off" "$work/big.bin" ::boot || fail "mcopy too big boot"
boot "$img" --screen "Bad boot"

# FreeDos.
img=$work/freedos.img
format "$img" FreeDos
boot "$img" --screen "FreeDOS is not bundled in this build of Flashwright."
fragment "$img"
payload "$work/kernel.bin" KERNEL 100 kernel
mcopy -o -i "$img@@$off" "$work/kernel.bin" ::KERNEL.SYS || fail "mcopy KERNEL.SYS"
check_layout "$img" "KERNEL  SYS" 0
boot "$img" --serial "FW-KERNEL OK"
# The kernel may reach up to linear 0x27000 (158208 bytes from 0x600), just under the running
# boot sector's stack; one that would reach further is refused.
payload "$work/kernel.bin" KERNEL 308 kernel
mcopy -o -i "$img@@$off" "$work/kernel.bin" ::KERNEL.SYS || fail "mcopy big KERNEL.SYS"
boot "$img" --serial "FW-KERNEL OK"
payload "$work/kernel.bin" KERNEL 310 kernel
mcopy -o -i "$img@@$off" "$work/kernel.bin" ::KERNEL.SYS || fail "mcopy too big KERNEL.SYS"
boot "$img" --screen "Bad KERNEL"
mdel -i "$img@@$off" ::KERNEL.SYS || fail "mdel KERNEL.SYS"
boot "$img" --screen "No KERNEL"
echo OK
