#!/bin/bash
# Boots a disk image whose sector 0 holds the embedded USB-HDD+ MBR and whose active partition
# at sector 2048 holds a payload that reports on the serial port how it was started.
set -eu
BIN="$1"; SRC="$2"; WORK=$(mktemp -d); trap 'rm -rf "$WORK"' EXIT
nasm -f bin -o "$WORK/pbr.bin" "$SRC/mbr_payload.asm"
python3 - "$BIN" "$WORK" <<'PY'
import struct, sys
mbr = bytearray(open(sys.argv[1], 'rb').read())
entry = struct.pack('<BBHBBHII', 0x80, 32, 0x21, 0x0C, 254, 0xFFFF, 2048, 18432)
mbr[446:462] = entry
img = bytearray(20480 * 512)
img[0:512] = mbr
img[2048 * 512:2049 * 512] = open(sys.argv[2] + '/pbr.bin', 'rb').read()
open(sys.argv[2] + '/disk.img', 'wb').write(img)
PY
timeout 20 qemu-system-x86_64 -display none -net none -serial "file:$WORK/serial.txt" \
  -drive "file=$WORK/disk.img,format=raw,if=ide" -m 32 -no-reboot &
PID=$!
for _ in $(seq 1 150); do
  grep -q "FW-PBR-STARTED" "$WORK/serial.txt" 2>/dev/null && break; sleep 0.1
done
kill $PID 2>/dev/null || true; wait $PID 2>/dev/null || true
cat "$WORK/serial.txt"
grep -q "FW-PBR-STARTED Y" "$WORK/serial.txt"
