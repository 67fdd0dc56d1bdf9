#!/bin/bash
# flashwright-cli backup/restore on image disks with 512- and 4096-byte sectors:
# byte-for-byte round trip with the read-back check, the MBR entry afterwards, and the exit
# statuses.
# usage: cli_roundtrip.sh PATH-TO-flashwright-cli
set -u
cli=$1
work=$(mktemp -d /tmp/fw-cli-images.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Partition 1 of the MBR: write "start count type" / read it back.
mbr_entry_write() {
  python3 - "$@" <<'PY'
import struct, sys
path, start, count, ptype = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
with open(path, "r+b") as f:
    f.seek(446)
    f.write(struct.pack("<B3sB3sII", 0, b"\0\0\0", ptype, b"\0\0\0", start, count) + bytes(48))
    f.seek(510)
    f.write(b"\x55\xaa")
PY
}
mbr_entry_read() {
  python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    f.seek(446)
    e = f.read(16)
start, count = struct.unpack("<II", e[8:16])
print(start, count, e[4])
PY
}

for ss in 512 4096; do
  img=$work/disk$ss.img
  start=$((1024 * 1024 / ss))      # partition 1 from 1 MiB
  count=$((40 * 1024 * 1024 / ss)) # 40 MiB long
  truncate -s 48M "$img"
  mbr_entry_write "$img" "$start" "$count" 11 || fail "MBR $ss"
  dd if=/dev/urandom of="$img" bs=1M seek=1 count=40 conv=notrunc status=none

  opts=(--no-pauses --yes --image "$img" --sector-size "$ss")
  "$cli" "${opts[@]}" backup --partition 1 --output "$work/part.bin" --verify >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "backup $ss exit $?"; }
  grep -q ' Done$' "$work/log" || fail "no closing line"
  grep -qx 'Verified' "$work/log" || fail "backup $ss: no Verified line"
  cmp -s "$work/part.bin" <(dd if="$img" bs=1M skip=1 count=40 status=none) ||
    fail "backup $ss differs from the partition"

  # A shorter image: only its bytes are written, the entry becomes type af of its length.
  head -c $((17 * 1024 * 1024 + ss)) /dev/urandom >"$work/hfs.img"
  "$cli" "${opts[@]}" restore --verify --partition 1 --input "$work/hfs.img" >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "restore $ss"; }
  grep -qx 'Verified' "$work/log" || fail "restore $ss: no Verified line"
  cmp -s "$work/hfs.img" <(dd if="$img" bs=1M skip=1 status=none | head -c $((17 * 1024 * 1024 + ss))) ||
    fail "restore $ss differs from the image"
  entry=$(mbr_entry_read "$img")
  [ "$entry" = "$start $(((17 * 1024 * 1024 + ss) / ss)) 175" ] || fail "entry after restore: $entry"
  if [ "$ss" = 512 ]; then
    sfdisk --dump "$img" | tr -d ' ' | grep -q "type=af" || fail "sfdisk sees no type af"
  fi

  # One byte more than the partition is refused and writes nothing.
  before=$(md5sum <"$img")
  head -c $((40 * 1024 * 1024 + 1)) /dev/zero >"$work/big.img"
  "$cli" "${opts[@]}" restore --partition 1 --input "$work/big.img" >"$work/log" 2>&1 &&
    fail "too big accepted"
  grep -q 'File too big:' "$work/log" || fail "no File too big box"
  [ "$(md5sum <"$img")" = "$before" ] || fail "too-big restore changed the disk"
done
# Usage errors exit 2.
"$cli" --image "$img" backup --output "$work/x.bin" >/dev/null 2>&1
[ $? -eq 2 ] || fail "missing --partition is not a usage error"
echo OK
