#!/usr/bin/env python3
"""Writes a Clover-style data-set zip of about TOTAL_MB megabytes of files.

The tree looks like a boot loader's EFI folder: a few large images, a few hundred
small drivers and kext files, deep folders. Half of the bytes are random (they do
not compress, like packed drivers), half are repetitive text (plists, readmes).
The same seed gives the same files, so runs compare like with like.
"""
import random
import sys
import zipfile


def content(rng, text, size, random_bytes):
    return rng.randbytes(size) if random_bytes else (text * (size // len(text) + 1))[:size]


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: make_data_set.py OUT.zip [TOTAL_MB]")
    out = sys.argv[1]
    total = int(float(sys.argv[2]) * 1024 * 1024) if len(sys.argv) > 2 else 50 * 1024 * 1024
    rng = random.Random(5151)
    text = (b"<key>Boot</key><dict><key>Timeout</key><integer>5</integer></dict>\n" * 64)
    written = 0
    n = 0
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        # Two large files first (a quarter of the total each), then many small ones.
        plan = [("EFI/CLOVER/OEM/recovery.img", total // 4),
                ("EFI/CLOVER/tools/Shell64U.efi", total // 4)]
        for name, size in plan:
            z.writestr(name, content(rng, text, size, n % 2 == 0))
            written += size
            n += 1
        folders = ["EFI/BOOT", "EFI/CLOVER/drivers/UEFI", "EFI/CLOVER/drivers/BIOS",
                   "EFI/CLOVER/kexts/Other", "EFI/CLOVER/kexts/10.15", "EFI/CLOVER/ACPI/patched",
                   "EFI/CLOVER/themes/embedded/icons", "EFI/CLOVER/misc", "EFI/CLOVER/doc"]
        while written < total:
            size = min(total - written, rng.choice([512, 4096, 20000, 65536, 150000, 700000]))
            folder = folders[n % len(folders)]
            name = f"{folder}/file{n:04d}.{'efi' if n % 3 else 'plist'}"
            z.writestr(name, content(rng, text, size, n % 2 == 0))
            written += size
            n += 1
        z.writestr("EFI/CLOVER/config.plist", text)
    print(f"{out}: {n + 1} files, {written + len(text)} bytes")


if __name__ == "__main__":
    main()
