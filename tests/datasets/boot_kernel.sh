#!/bin/sh
# Boots KERNEL.SYS of the notice boot set under SeaBIOS and checks the text it leaves on screen.
# usage: boot_kernel.sh LOADER.BIN KERNEL.SYS WORKDIR
set -eu
loader=$1 kernel=$2 work=$3
command -v qemu-system-x86_64 >/dev/null || { echo "qemu-system-x86_64 missing"; exit 1; }
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
img=$work/disk.img
dd if=/dev/zero of="$img" bs=512 count=2048 status=none
dd if="$loader" of="$img" conv=notrunc status=none
dd if="$kernel" of="$img" bs=512 seek=1 conv=notrunc status=none
# The monitor parses "SIZE /path" as a division: the dump goes to a relative name.
cd "$work"
{ sleep 4; echo "pmemsave 0xb8000 4000 screen.bin"; sleep 1; echo quit; } |
  timeout 60 qemu-system-x86_64 -nodefaults -vga std -display none -no-reboot -m 32 \
    -drive file=disk.img,format=raw,if=ide -monitor stdio >/dev/null
# Text mode keeps character, attribute pairs: keep the characters.
python3 - screen.bin <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
text = data[0::2].decode("latin-1")
lines = [text[i:i + 80].rstrip() for i in range(0, len(text), 80)]
screen = "\n".join(lines)
print(screen)
needed = ["FreeDOS is not bundled in this build of Flashwright.", "-DFW_FREEDOS_DIR="]
sys.exit(0 if all(n in screen for n in needed) else 1)
PY
