#!/usr/bin/env python3
"""The default job with the "DL" data set (flashwright-cli --no-pauses format --data-set DL:
revision check, download of the release archive, unpack, zip, wipe, partition, format, boot
code, data set) side by side with the pipeline a user would run by hand for the same drive:

  curl (the release archive) + 7zz e (the ISO out of the archive) + 7zz x (the ISO's tree) +
  the root boot files copied + 7zz a -tzip (the data-set zip) + dd/sfdisk/mkfs.fat/dd of the boot
  code (as bench/format does) + mcopy -s of the tree onto the volume with the indexing markers.

Both sides fetch from an HTTP server on 127.0.0.1 that serves a release page and the archive
(made by fw_make_clover_release with --bulk-mb MiB of loader-like files). Every run works on a
fresh sparse image; wall time is the median of --runs runs, each side ending with the image
synced. The job runs twice per case: as configured by default (the zip is used once and
stored uncompressed) and with SaveLatestCloverAfterDL = 1 (the zip is kept in the repository and
packed with -mx9).

usage: clover_bench.py --cli PATH --maker PATH [--work DIR] [--runs N (5)] [--bulk-mb 40]
                       [--size 1G]
"""
import argparse
import functools
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "format"))
import format_bench as fb  # noqa: E402

REV = "5151"
PROJECT = "CloverHackyColor/CloverBootloader"
ARCHIVE = f"Clover-{REV}-X64.iso.7z"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(site):
    handler = functools.partial(QuietHandler, directory=site)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def make_site(args, work):
    site = os.path.join(work, "site")
    releases = os.path.join(site, PROJECT, "releases")
    download = os.path.join(releases, "download", REV)
    os.makedirs(download, exist_ok=True)
    made = fb.run([args.maker, download, REV, "--bulk-mb", str(args.bulk_mb)])[2].strip()
    with open(os.path.join(releases, "index.html"), "w") as f:
        f.write(f'<a href="/{PROJECT}/releases/download/{REV}/Clover_r{REV}.pkg">'
                f"Clover_r{REV}.pkg</a>\n")
    return site, made


def run_job(args, img, work, host, keep_zip):
    settings = os.path.join(work, "bench.ini")
    if os.path.exists(settings):
        os.remove(settings)
    repo = os.path.join(work, "repo")
    shutil.rmtree(repo, ignore_errors=True)
    os.makedirs(repo)
    with open(settings, "w") as f:
        f.write(f"[Data Settings]\nCloverLocalRepository = {repo}/\n"
                f"SaveLatestCloverAfterDL = {1 if keep_zip else 0}\n")
    env = dict(fb.ENV, FLASHWRIGHT_CODE_HOST=host, TMPDIR=os.path.join(work, "tmp"))
    os.makedirs(env["TMPDIR"], exist_ok=True)
    argv = [args.cli, "--settings", settings, "--yes", "--no-pauses", "--image", img, "format",
            "--boot-records", "Clover", "--file-system", "FAT32", "--align", "2048",
            "--multi-partitions", "0", "--label", fb.LABEL, "--data-set", "DL"]
    t = time.perf_counter()
    p = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=work, env=env)
    seconds = time.perf_counter() - t
    out = p.stdout.decode(errors="replace")
    if p.returncode != 0 or "Clover Data set files Installed" not in out:
        raise fb.Failed("the job did not install the data set:\n" + out)
    return seconds + fb.fsync_seconds(img)


def run_manual(img, size, parts, cluster, boot, work, url):
    """The user's pipeline; returns its Steps (time per part)."""
    hand = os.path.join(work, "hand")
    shutil.rmtree(hand, ignore_errors=True)
    os.makedirs(hand)
    st = fb.Steps()
    u = os.path.join(hand, f"Clover-{REV}-X64")
    st("curl", ["curl", "-sSfL", "-o", os.path.join(hand, ARCHIVE), url])
    st("7zz e", ["7zz", "e", "-bd", "-y", os.path.join(hand, ARCHIVE), f"-o{u}", "-i!*.iso"])
    iso = os.path.join(u, f"Clover-{REV}-X64.iso")
    st("7zz x", ["7zz", "x", "-bd", "-y", iso, f"-o{u}"])
    os.remove(iso)
    shutil.rmtree(os.path.join(u, "[BOOT]"), ignore_errors=True)
    x64 = os.path.join(u, "usr", "standalone", "i386", "x64")
    for name in os.listdir(x64):
        if name.startswith("boot"):
            st("cp", ["cp", os.path.join(x64, name), u])
    st("cp", ["cp", os.path.join(x64, "boot6"), os.path.join(u, "boot")])
    st("7zz a", ["7zz", "a", "-bd", "-tzip", "-r", os.path.join(hand, f"Clover-{REV}-X64.zip"),
                 "*"], cwd=u)
    fmt = fb.run_pipeline(img, size, "FAT32", parts, cluster, boot, None, work)
    for k, v in fmt.parts.items():
        st.parts["format " + k] = v
    st.seconds += fmt.seconds
    fb.mcopy_tree(st, img, parts[0][0] * fb.SECTOR, u, hand)
    synced = fb.fsync_seconds(img)
    st.seconds += synced
    st.parts["sync"] = st.parts.get("sync", 0.0) + synced
    shutil.rmtree(hand, ignore_errors=True)
    return st


def check(img, parts):
    """Untimed: fsck.fat on the job's volume (needs loop devices) and its root listing."""
    notes = []
    p1, n1, _ = parts[0]
    if fb.have_loop():
        dev = fb.loop_window(img, p1, n1)
        try:
            p = subprocess.run(["fsck.fat", "-n", dev], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, env=fb.ENV)
            if p.returncode != 0:
                notes.append(f"fsck.fat exited {p.returncode}")
        finally:
            fb.run(["losetup", "-d", dev])
    return notes, fb.mdir_listing(img, p1)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", required=True)
    ap.add_argument("--maker", required=True, help="path of fw_make_clover_release")
    ap.add_argument("--work")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--bulk-mb", type=float, default=40)
    ap.add_argument("--size", default="1G")
    args = ap.parse_args()
    args.cli = os.path.abspath(args.cli)
    args.maker = os.path.abspath(args.maker)
    for tool in ["curl", "7zz", "sfdisk", "mkfs.fat", "mcopy", "mdir", "dd"]:
        if shutil.which(tool, path=fb.ENV["PATH"]) is None:
            sys.exit(f"missing tool: {tool}")
    size = int(args.size[:-1]) * fb.GIB if args.size.upper().endswith("G") else int(args.size)
    work = args.work or tempfile.mkdtemp(prefix="fw_bench_clover.")
    os.makedirs(work, exist_ok=True)
    site, made = make_site(args, work)
    archive_mb = os.path.getsize(made) / 1e6
    server = serve(site)
    host = f"http://127.0.0.1:{server.server_address[1]}"
    url = f"{host}/{PROJECT}/releases/download/{REV}/{ARCHIVE}"
    img = os.path.join(work, "job.img")
    ref = os.path.join(work, "tools.img")
    boot = os.path.join(work, "boot.bin")
    try:
        rows = {}
        for keep in (False, True):
            times = []
            for _ in range(args.runs):
                fb.fresh_image(img, size)
                times.append(run_job(args, img, work, host, keep))
            rows[keep] = statistics.median(times)
        parts = fb.partitions(img)
        notes, ours = check(img, parts)
        cluster = fb.cluster_bytes(img, parts[0][0], "FAT32")
        with open(boot, "wb") as f:
            f.write(fb.read_at(img, 0, fb.SECTOR))
            f.write(fb.read_at(img, parts[0][0] * fb.SECTOR, 2 * fb.SECTOR))
        manual, manual_parts = [], {}
        for _ in range(args.runs):
            fb.fresh_image(ref, size)
            st = run_manual(ref, size, parts, cluster, boot, work, url)
            manual.append(st.seconds)
            for k, v in st.parts.items():
                manual_parts.setdefault(k, []).append(v)
        theirs = fb.mdir_listing(ref, parts[0][0])
        if len(theirs) != len(ours):
            notes.append(f"root listings differ: job {ours} tools {theirs}")
    finally:
        server.shutdown()
        for p in (img, ref):
            if os.path.exists(p):
                os.remove(p)
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    hand = statistics.median(manual)
    print(f"release archive {archive_mb:.1f} MB"
          f" ({args.bulk_mb:g} MiB of loader files), {args.size} image, {args.runs} runs, medians")
    print(f"  flashwright-cli format --data-set DL        {rows[False]:7.3f} s  "
          f"ratio {rows[False] / hand:5.2f}x")
    print(f"  the same, zip kept in the repository (-mx9) {rows[True]:7.3f} s  "
          f"ratio {rows[True] / hand:5.2f}x")
    print(f"  curl + 7zz e/x/a + format + mcopy          {hand:7.3f} s")
    for k, v in sorted(manual_parts.items()):
        print(f"      {k:<20} {statistics.median(v):7.3f} s")
    for n in notes:
        print("  note: " + n)


if __name__ == "__main__":
    main()
