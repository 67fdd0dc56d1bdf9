#!/usr/bin/env python3
"""Looks into (and damages on purpose) a FAT32 volume inside a disk image, for the boot tests.

  fat32_tool.py layout IMG OFFSET NAME   prints "<root clusters> <root cluster holding NAME>
                                         <runs of NAME's chain>"; runs = contiguous pieces
  fat32_tool.py cut IMG OFFSET NAME N    ends NAME's chain after N clusters, in every FAT
  fat32_tool.py hint IMG OFFSET          sets the FSInfo next-free hint to cluster 2, so the
                                         next file written fills the holes from the start
NAME is the 11-byte 8.3 name, e.g. "BOOT       ".
"""
import struct
import sys


class Volume:
    def __init__(self, path, offset):
        self.f = open(path, "r+b")
        self.off = offset
        self.f.seek(offset)
        bs = self.f.read(512)
        self.bps, self.spc, self.rsv, self.nfat = struct.unpack_from("<HBHB", bs, 11)
        self.fatsz, = struct.unpack_from("<I", bs, 0x24)
        self.root, = struct.unpack_from("<I", bs, 0x2C)
        self.fsinfo, = struct.unpack_from("<H", bs, 0x30)
        self.f.seek(offset + self.rsv * self.bps)
        self.fat = bytearray(self.f.read(self.fatsz * self.bps))
        self.data = offset + (self.rsv + self.nfat * self.fatsz) * self.bps

    def entry(self, c):
        return struct.unpack_from("<I", self.fat, 4 * c)[0] & 0x0FFFFFFF

    def chain(self, c):
        out = []
        while 2 <= c < 0x0FFFFFF8 and len(out) < len(self.fat) // 4:
            out.append(c)
            c = self.entry(c)
        return out

    def find(self, name):
        """(index of the root cluster holding the entry, first cluster of the file)."""
        for i, c in enumerate(self.chain(self.root)):
            self.f.seek(self.data + (c - 2) * self.spc * self.bps)
            d = self.f.read(self.spc * self.bps)
            for e in range(0, len(d), 32):
                if d[e:e + 11] == name.encode() and not d[e + 11] & 0x18:
                    hi, = struct.unpack_from("<H", d, e + 20)
                    lo, = struct.unpack_from("<H", d, e + 26)
                    return i, hi << 16 | lo
        sys.exit("no entry " + name)

    def set_entry(self, c, value):
        struct.pack_into("<I", self.fat, 4 * c, value)
        for n in range(self.nfat):
            self.f.seek(self.off + (self.rsv + n * self.fatsz) * self.bps + 4 * c)
            self.f.write(struct.pack("<I", value))


def runs(chain):
    return 1 + sum(1 for a, b in zip(chain, chain[1:]) if b != a + 1) if chain else 0


def main():
    cmd, path, offset = sys.argv[1], sys.argv[2], int(sys.argv[3])
    v = Volume(path, offset)
    if cmd == "layout":
        where, first = v.find(sys.argv[4])
        print(len(v.chain(v.root)), where, runs(v.chain(first)))
    elif cmd == "cut":
        _, first = v.find(sys.argv[4])
        v.set_entry(v.chain(first)[int(sys.argv[5]) - 1], 0x0FFFFFFF)
    elif cmd == "hint":
        v.f.seek(offset + v.fsinfo * v.bps + 492)
        v.f.write(struct.pack("<I", 2))
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
