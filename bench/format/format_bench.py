#!/usr/bin/env python3
"""The whole format job (flashwright-cli --no-pauses format) side by side with the pipeline of
ordinary tools a user would otherwise run for the same drive:

  dd (wipe of the first and last 128 sectors) + sfdisk (the job's layout) + mkfs.fat -F 32
  --offset / mkfs.exfat on a loop window + dd of the boot code + unzip and mcopy -s of the data
  set with the two indexing markers.

mtools cannot write exFAT and this kernel mounts no exFAT, so for exFAT the pipeline stops after
the format and the boot code: those rows compare the job with a format-only pipeline.

Every run works on a fresh sparse image file under the work folder; the image is created and
removed outside the timed part, on both sides. As root, the FAT32 data-set cases also run on a
loop device over such a file ("loop" rows: the job takes it as a disk of the inventory, the tools
write to the device), and the job once more with its read-back check of the data set
("+verify"). Wall time is the median of --runs runs; memory is the peak resident set of the job,
and the largest of the pipeline's commands (each command's rusage from wait4, which covers the
command's own children too).

usage: format_bench.py --cli PATH [--work DIR] [--runs N (5)] [--sizes 1G,64G] [--loop-only]
                       [--keep]
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

GIB = 1024 ** 3
SECTOR = 512
BOOT_MB = 512
LABEL = "BENCH"
ENV = dict(os.environ, PATH="/usr/sbin:/sbin:/usr/bin:/bin:" + os.environ.get("PATH", ""),
           MTOOLS_SKIP_CHECK="1", LC_ALL="C")


class Failed(Exception):
    pass


def run(argv, stdin=None, cwd=None, check=True, memory=False, env=None):
    """Runs one command; returns (seconds, peak RSS in KiB or 0, output).

    With `memory` the command runs under GNU time, whose %M is the command's own peak RSS. The
    rusage a Python parent gets from wait4 cannot serve: it keeps the peak of the forked copy of
    the interpreter from before the exec. The seconds of such a run include time's start-up and
    are not used."""
    mem_file = None
    if memory:
        fd, mem_file = tempfile.mkstemp(prefix="fw_bench_mem.")
        os.close(fd)
        argv = ["/usr/bin/time", "-f", "%M", "-o", mem_file] + argv
    t = time.perf_counter()
    p = subprocess.run(argv, input=stdin.encode() if stdin is not None else None,
                       stdin=None if stdin is not None else subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=cwd,
                       env=env or ENV)
    seconds = time.perf_counter() - t
    out = p.stdout.decode(errors="replace")
    kib = 0
    if mem_file:
        with open(mem_file) as f:
            lines = [l for l in f.read().split() if l.isdigit()]
        os.remove(mem_file)
        kib = int(lines[-1]) if lines else 0
    if check and p.returncode != 0:
        raise Failed(f"{' '.join(argv)} exited {p.returncode}:\n{out}")
    return seconds, kib, out


class Steps:
    """Sums the time of a sequence of commands and keeps the largest peak memory."""

    def __init__(self, memory=False):
        self.memory = memory
        self.seconds = 0.0
        self.peak_kib = 0
        self.parts = {}

    def __call__(self, name, argv, stdin=None, cwd=None):
        s, kib, out = run(argv, stdin=stdin, cwd=cwd, memory=self.memory)
        self.seconds += s
        self.peak_kib = max(self.peak_kib, kib)
        self.parts[name] = self.parts.get(name, 0.0) + s
        return out


def fresh_image(path, size):
    """A new sparse image; what earlier runs left dirty is written out first, so that no run
    pays for the write-back of another."""
    if os.path.exists(path):
        os.remove(path)
    with open(path, "wb") as f:
        f.truncate(size)
    os.sync()


class Target:
    """The disk of one run: a fresh sparse image file, or with `loop` a loop device over one
    (attached before and detached after the timed part). `path` is what the tools write to; the
    file stays behind for the checks."""

    def __init__(self, image, size, loop=False):
        self.image, self.size, self.loop, self.path = image, size, loop, image

    def __enter__(self):
        fresh_image(self.image, self.size)
        if self.loop:
            self.path = run(["losetup", "-f", "--show", self.image])[2].strip()
        return self

    def __exit__(self, *exc):
        if self.loop:
            run(["losetup", "-d", self.path])


def fsync_seconds(path):
    """Both sides end with the image's data on the disk, as a user's stick would."""
    t = time.perf_counter()
    fd = os.open(path, os.O_RDWR)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
    return time.perf_counter() - t


def read_at(path, offset, length):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(length)


def partitions(img):
    """(start, sectors, type) of each used MBR slot."""
    mbr = read_at(img, 0, SECTOR)
    out = []
    for i in range(4):
        e = mbr[446 + 16 * i: 462 + 16 * i]
        start = int.from_bytes(e[8:12], "little")
        count = int.from_bytes(e[12:16], "little")
        if count:
            out.append((start, count, e[4]))
    return out


def cluster_bytes(img, start, fs):
    boot = read_at(img, start * SECTOR, SECTOR)
    if fs == "exFAT":
        return (1 << boot[108]) << boot[109]
    return int.from_bytes(boot[11:13], "little") * boot[13]


def sfdisk_script(parts, boot_flag=True):
    lines = ["label: dos", "unit: sectors", ""]
    for i, (start, count, ptype) in enumerate(parts):
        flag = ", bootable" if i == 0 and boot_flag else ""
        lines.append(f"start={start}, size={count}, type={ptype:x}{flag}")
    return "\n".join(lines) + "\n"


def have_loop():
    return os.geteuid() == 0 and shutil.which("losetup") is not None


def loop_window(img, start, count):
    _, _, out = run(["losetup", "-f", "--show", "-o", str(start * SECTOR), "--sizelimit",
                     str(count * SECTOR), img])
    return out.strip()


def run_job(args, target, fs, two, zip_path, work, full=False, memory=False, verify=False):
    settings = os.path.join(work, "bench.ini")
    if os.path.exists(settings):
        os.remove(settings)
    env = None
    argv = [args.cli, "--settings", settings, "--yes", "--no-pauses"]
    if target.loop:
        # The job's inventory shows this loop device alone, as disk 0 (a fixed disk).
        with open(settings, "w") as f:
            f.write("[Data Settings]\r\nEnableFixedDisks = 1\r\n")
        env = dict(ENV, FLASHWRIGHT_BLOCK_DEVICES=os.path.basename(target.path))
        argv += ["format", "--disk", "0"]
    else:
        argv += ["--image", target.path, "format"]
    argv += ["--boot-records", "Clover", "--file-system", fs, "--align", "2048",
             "--multi-partitions", "1" if two else "0", "--boot-size", str(BOOT_MB),
             "--label", LABEL, "--quick-format", "0" if full else "1"]
    argv += ["--data-set", "Local", "--local-distr", zip_path] if zip_path else \
        ["--data-set", "Not_Install"]
    argv += ["--verify"] if verify else []
    s, kib, out = run(argv, cwd=work, memory=memory, env=env)
    if "All done" not in out:
        raise Failed("the job did not end with All done:\n" + out)
    return s + fsync_seconds(target.path), kib


def run_pipeline(img, size, fs, parts, cluster, boot, zip_path, work, full=False,
                 memory=False):
    """The same drive made with the ordinary tools, with the job's cluster size. `boot` holds
    the boot code the job wrote (MBR code, and the volume's first boot sectors) so that the
    same bytes are placed. A full format zeroes the data area: mkfs.exfat -f does so itself,
    for FAT32 dd zeroes the partition before mkfs.fat.

    mkfs.fat needs the cluster size and the hidden sectors given: with --offset it sizes
    clusters by the whole image (32 KiB clusters for a 512 MiB partition on a 64 GiB image,
    too few clusters for FAT32) and writes 0 hidden sectors."""
    st = Steps(memory)
    total = size // SECTOR
    zero = ["dd", "if=/dev/zero", f"of={img}", "bs=512", "count=128", "conv=notrunc",
            "status=none"]
    st("wipe", zero)
    st("wipe", zero + [f"seek={total - 128}"])
    st("sfdisk", ["sfdisk", "-q", "--no-reread", "--no-tell-kernel", img],
       stdin=sfdisk_script(parts))
    for start, _, _ in parts[1:]:
        st("wipe", ["dd", "if=/dev/zero", f"of={img}", "bs=512", "count=1", f"seek={start}",
                    "conv=notrunc", "status=none"])
    p1, n1, _ = parts[0]
    if fs == "exFAT":
        dev = st("losetup", ["losetup", "-f", "--show", "-o", str(p1 * SECTOR), "--sizelimit",
                             str(n1 * SECTOR), img]).strip()
        try:
            st("mkfs", ["mkfs.exfat", "-L", LABEL, "-c", str(cluster)] + (["-f"] if full else [])
               + [dev])
        finally:
            st("losetup", ["losetup", "-d", dev])
    else:
        if full:
            st("dd zero", ["dd", "if=/dev/zero", f"of={img}", "bs=4M", f"seek={p1 * SECTOR}",
                           f"count={n1 * SECTOR}", "oflag=seek_bytes", "iflag=count_bytes",
                           "conv=notrunc", "status=none"])
        st("mkfs", ["mkfs.fat", "-F", "32", "-n", LABEL, "-s", str(cluster // SECTOR), "-h",
                    str(p1), f"--offset={p1}", img, str(n1 // 2)])

    def place(src, skip, seek, count, name="dd boot"):
        st(name, ["dd", f"if={src}", f"of={img}", f"bs={count}", "count=1", f"skip={skip}",
                  f"seek={seek}", "iflag=skip_bytes,count_bytes", "oflag=seek_bytes",
                  "conv=notrunc", "status=none"])

    place(boot, 0, 0, 440)
    vol = p1 * SECTOR
    if fs == "exFAT":
        # Jump, boot code of the main boot sector and the second boot sector, main and backup.
        for base in (0, 12 * SECTOR):
            place(boot, SECTOR, vol + base, 3)
            place(boot, SECTOR + 120, vol + base + 120, 390)
            place(boot, 2 * SECTOR, vol + base + SECTOR, SECTOR)
    else:
        for base in (0, 6 * SECTOR):
            place(boot, SECTOR, vol + base, 3)
            place(boot, SECTOR + 90, vol + base + 90, 420)

    if zip_path and fs != "exFAT":
        tree = os.path.join(work, "tree")
        shutil.rmtree(tree, ignore_errors=True)
        st("unzip", ["unzip", "-q", zip_path, "-d", tree])
        mcopy_tree(st, img, vol, tree, work)
        shutil.rmtree(tree, ignore_errors=True)
    synced = fsync_seconds(img)
    st.seconds += synced
    st.parts["sync"] = synced
    return st


def mcopy_tree(st, img, vol, tree, work):
    """The tree's contents onto the FAT32 volume at byte `vol` of `img`, with the two hidden
    indexing markers the job writes (mcopy -s, mmd, mattrib)."""
    target = f"{img}@@{vol}"
    entries = [os.path.join(tree, e) for e in sorted(os.listdir(tree))]
    st("mcopy", ["mcopy", "-s", "-i", target] + entries + ["::/"])
    marker = os.path.join(work, ".metadata_never_index")
    open(marker, "wb").close()
    no_log = os.path.join(work, "no_log")
    open(no_log, "wb").close()
    st("mcopy", ["mcopy", "-i", target, marker, "::/.metadata_never_index"])
    st("mcopy", ["mmd", "-i", target, "::/.fseventsd"])
    st("mcopy", ["mcopy", "-i", target, no_log, "::/.fseventsd/no_log"])
    st("mcopy", ["mattrib", "-i", target, "+h", "::/.metadata_never_index", "::/.fseventsd",
                 "::/.fseventsd/no_log"])


def check_job_result(args, img, fs, parts, zip_files):
    """Untimed: the job's volume passes fsck, and holds the data set and the indexing markers
    when a data set was given."""
    notes = []
    p1, n1, _ = parts[0]
    if have_loop():
        dev = loop_window(img, p1, n1)
        try:
            fsck = ["fsck.exfat", "-n", dev] if fs == "exFAT" else ["fsck.fat", "-n", dev]
            p = subprocess.run(fsck, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=ENV)
            if p.returncode != 0:
                notes.append(f"{fsck[0]} exited {p.returncode}")
        finally:
            run(["losetup", "-d", dev])
    if zip_files:
        work = os.path.dirname(img)
        listing = run([args.cli, "--settings", os.path.join(work, "bench.ini"), "--image", img,
                       "list"], check=False, cwd=work)[2]
        letters = re.findall(r"Partition 1: .* ([D-Z]:)$", listing, re.M)
        root = run([args.cli, "--settings", os.path.join(work, "bench.ini"), "--image", img,
                    "volume", letters[0] if letters else "D:", "ls", "/"],
                   check=False, cwd=work)[2]
        for name in ("EFI", ".metadata_never_index", ".fseventsd"):
            if name not in root:
                notes.append(f"no {name} on the volume")
        if fs != "exFAT":
            out = run(["mdir", "-/", "-b", "-i", f"{img}@@{p1 * SECTOR}", "::/EFI"],
                      check=False)[2]
            found = sum(1 for l in out.splitlines() if l.strip() and not l.endswith("/"))
            if found < zip_files:
                notes.append(f"only {found} of {zip_files} files under EFI")
    return notes


def mdir_listing(img, start):
    _, _, out = run(["mdir", "-/", "-b", "-a", "-i", f"{img}@@{start * SECTOR}", "::/"],
                    check=False)
    return sorted(l.strip() for l in out.splitlines() if l.strip())


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", required=True, help="path of flashwright-cli")
    ap.add_argument("--work", help="work folder (default: a new folder under /tmp)")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--sizes", default="1G,64G")
    ap.add_argument("--loop-only", action="store_true",
                    help="only the rows on a loop device (first size)")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    args = ap.parse_args()
    args.cli = os.path.abspath(args.cli)

    for tool in ["sfdisk", "mkfs.fat", "mkfs.exfat", "mcopy", "mdir", "unzip", "dd"]:
        if shutil.which(tool, path=ENV["PATH"]) is None:
            sys.exit(f"missing tool: {tool}")
    if not have_loop():
        print("note: no loop devices (needs root): exFAT pipeline rows and fsck are skipped")

    work = args.work or tempfile.mkdtemp(prefix="fw_bench_format.")
    os.makedirs(work, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))
    zip_path = os.path.join(work, "Clover-5151-X64.zip")
    run([sys.executable, os.path.join(here, "make_data_set.py"), zip_path, "50"])
    zip_mb = os.path.getsize(zip_path) / 1e6
    with zipfile.ZipFile(zip_path) as zf:
        zip_files = sum(1 for i in zf.infolist() if not i.is_dir())

    sizes = []
    for s in args.sizes.split(","):
        sizes.append(int(s[:-1]) * GIB if s.upper().endswith("G") else int(s))
    rows = []
    try:
        for size in [] if args.loop_only else sizes:
            for fs in ["FAT32", "exFAT"]:
                # (two partitions, data set, full format); a full format writes the whole
                # partition, so it runs on the small images only.
                variants = [(True, False, False), (True, True, False), (False, False, False),
                            (False, True, False)]
                if size <= 4 * GIB:
                    variants.append((False, False, True))
                for two, with_data, full in variants:
                    rows.append(bench_case(args, work, size, fs, two,
                                           zip_path if with_data else None, zip_files, full))
                    print_row(rows[-1], header=len(rows) == 1)
        # The whole Clover job with the data set on a loop device, as on a real drive, and with
        # the read-back check of the data set.
        if have_loop():
            for verify in (False, True):
                rows.append(bench_case(args, work, sizes[0], "FAT32", True, zip_path, zip_files,
                                       False, loop=True, verify=verify))
                print_row(rows[-1], header=len(rows) == 1)
        elif args.loop_only:
            sys.exit("--loop-only needs root and losetup")
    finally:
        for name in ("job.img", "tools.img"):
            if os.path.exists(os.path.join(work, name)):
                os.remove(os.path.join(work, name))
        if not args.keep and not args.work:
            shutil.rmtree(work, ignore_errors=True)
    if not args.loop_only:
        print()
        print("the data set alone (time with it minus time without it):")
        for r in rows:
            if not r["data"] or r["loop"]:
                continue
            base = next(b for b in rows if not b["data"] and not b["full"] and not b["loop"] and
                        (b["size"], b["fs"], b["two"]) == (r["size"], r["fs"], r["two"]))
            case = f"{r['size'] // GIB} GiB {r['fs']} {'two' if r['two'] else 'one'}"
            line = f"  {case:<22} job {r['ours'] - base['ours']:7.3f} s"
            if r["fs"] != "exFAT" and r["ref"] is not None and base["ref"] is not None:
                job, tools = r["ours"] - base["ours"], r["ref"] - base["ref"]
                line += f"  unzip+mcopy {tools:7.3f} s  ratio {job / tools if tools else 0:5.2f}x"
            print(line)
    print()
    print(f"data set: {zip_mb:.1f} MB zip of about 50 MiB of files; layout 'two' = boot partition "
          f"of {BOOT_MB} MiB at sector 2048 then the rest unformatted, 'one' = one partition on "
          f"the whole disk; {args.runs} runs, medians.")
    print("exFAT rows: the tools' side is wipe + sfdisk + mkfs.exfat on a loop window + dd of the "
          "boot code, without the data set (no exFAT writer among the tools) and without the "
          "boot checksum sector.")


def bench_case(args, work, size, fs, two, zip_path, zip_files, full, loop=False, verify=False):
    """Runs one case on both sides (on image files, or on loop devices over them); returns its
    row for the table."""
    ours_img = os.path.join(work, "job.img")
    ref_img = os.path.join(work, "tools.img")
    boot = os.path.join(work, "boot.bin")
    ours_t, ours_m, ref_t, ref_m, parts_t = [], [], [], [], {}
    # The last run of each side only measures memory.
    for i in range(args.runs + 1):
        with Target(ours_img, size, loop) as target:
            s, kib = run_job(args, target, fs, two, zip_path, work, full, i == args.runs, verify)
        if i == args.runs:
            ours_m.append(kib)
        else:
            ours_t.append(s)
    parts = partitions(ours_img)
    notes = check_job_result(args, ours_img, fs, parts, zip_files if zip_path else 0)
    ours_cluster = cluster_bytes(ours_img, parts[0][0], fs)
    # The boot code the job placed: MBR, then the volume's first sectors.
    with open(boot, "wb") as f:
        f.write(read_at(ours_img, 0, SECTOR))
        f.write(read_at(ours_img, parts[0][0] * SECTOR, 2 * SECTOR))
    ours_listing = mdir_listing(ours_img, parts[0][0]) if fs != "exFAT" else None
    os.remove(ours_img)
    ref_cluster = 0
    if fs != "exFAT" or have_loop():
        for i in range(args.runs + 1):
            with Target(ref_img, size, loop) as target:
                st = run_pipeline(target.path, size, fs, parts, ours_cluster, boot, zip_path, work,
                                  full, i == args.runs)
            if i == args.runs:
                ref_m.append(st.peak_kib)
                continue
            ref_t.append(st.seconds)
            for k, v in st.parts.items():
                parts_t.setdefault(k, []).append(v)
        ref_cluster = cluster_bytes(ref_img, parts[0][0], fs)
        if ours_listing is not None and zip_path:
            if len(mdir_listing(ref_img, parts[0][0])) != len(ours_listing):
                notes.append("root listings differ from the tools' result")
        os.remove(ref_img)
    return dict(size=size, fs=fs, two=two, data=zip_path is not None, full=full, loop=loop,
                verify=verify,
                ours=statistics.median(ours_t), ours_kib=max(ours_m),
                ref=statistics.median(ref_t) if ref_t else None,
                ref_kib=max(ref_m) if ref_m else None,
                parts={k: statistics.median(v) for k, v in parts_t.items()},
                clusters=(ours_cluster, ref_cluster), notes=notes)


def print_row(r, header=False):
    if header:
        print(f"{'case':<34} {'job s':>8} {'tools s':>8} {'ratio':>7} {'job MiB':>8} "
              f"{'tools MiB':>9} {'ratio':>6}  clusters job/tools  tools' steps (s)")
    case = f"{r['size'] // GIB} GiB {r['fs']} {'two' if r['two'] else 'one'}" + \
        (" +data" if r["data"] else "") + (" full" if r["full"] else "") + \
        (" +verify" if r["verify"] else "") + (" loop" if r["loop"] else "")
    if r["fs"] == "exFAT" and r["data"]:
        case += "*"
    if r["ref"] is None:
        print(f"{case:<34} {r['ours']:8.3f} {'n/a':>8}")
        return
    steps = " ".join(f"{k} {v:.3f}" for k, v in r["parts"].items())
    ratio_t = r["ours"] / r["ref"] if r["ref"] else 0
    ratio_m = r["ours_kib"] / r["ref_kib"] if r["ref_kib"] else 0
    c = r["clusters"]
    print(f"{case:<34} {r['ours']:8.3f} {r['ref']:8.3f} {ratio_t:6.2f}x "
          f"{r['ours_kib'] / 1024:8.1f} {r['ref_kib'] / 1024:9.1f} {ratio_m:5.2f}x  "
          f"{c[0] // 1024:>4}K/{c[1] // 1024}K  {steps}"
          + ("" if not r["notes"] else "  !! " + "; ".join(r["notes"])), flush=True)


if __name__ == "__main__":
    main()
