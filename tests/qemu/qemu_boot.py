#!/usr/bin/env python3
"""Boots a raw disk image in qemu-system-x86_64 (SeaBIOS) and checks what the boot left behind.

  qemu_boot.py DISK --serial TEXT   a line on COM1 must start with TEXT (the test payloads)
  qemu_boot.py DISK --screen TEXT   the VGA text screen must show TEXT (the loaders' messages)
  --key K      press key K (QEMU sendkey name) again and again until the payload reports
  --timeout S  give up after S seconds (default 60)

The screen is read by dumping the text buffer at 0xB8000 through the QEMU monitor. Exit status
0 when the text was seen, 1 otherwise; what the serial port and the screen held is printed.
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import time


def screen_text(path):
    try:
        data = open(path, "rb").read()
    except OSError:
        return ""
    chars = data[0::2].decode("latin-1")
    return "\n".join(chars[i:i + 80].rstrip() for i in range(0, len(chars), 80)).rstrip()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("disk")
    ap.add_argument("--serial")
    ap.add_argument("--screen")
    ap.add_argument("--key")
    ap.add_argument("--timeout", type=float, default=60)
    a = ap.parse_args()
    if bool(a.serial) == bool(a.screen):
        ap.error("give one of --serial and --screen")

    work = tempfile.mkdtemp(prefix="fw-qemu-")
    serial = os.path.join(work, "serial.txt")
    monitor = os.path.join(work, "monitor.sock")
    proc = subprocess.Popen(
        ["qemu-system-x86_64", "-nodefaults", "-vga", "std", "-display", "none", "-no-reboot",
         "-m", "64", "-net", "none", "-serial", "file:" + serial,
         "-monitor", "unix:" + monitor + ",server,nowait",
         "-drive", "file=" + os.path.abspath(a.disk) + ",format=raw,if=ide"],
        cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    mon = None
    ok = False
    screen = ""
    start = time.monotonic()
    try:
        while time.monotonic() - start < a.timeout and proc.poll() is None:
            if mon is None:
                try:
                    mon = socket.socket(socket.AF_UNIX)
                    mon.connect(monitor)
                    mon.setblocking(False)
                except OSError:
                    mon = None
                    time.sleep(0.05)
                    continue
            try:
                mon.recv(65536)  # keep the monitor's echo from filling the socket
            except BlockingIOError:
                pass
            if a.key:
                # Until the payload reports: however slowly the machine starts, a press lands
                # in the loader's short wait or waits for it in the BIOS keyboard buffer.
                mon.sendall(("sendkey %s\n" % a.key).encode())
            if a.serial:
                try:
                    lines = open(serial, "rb").read().decode("latin-1").splitlines(True)
                except OSError:
                    lines = []
                done = [l for l in lines if l.endswith("\n")]
                if any(l.startswith(a.serial) for l in done):
                    ok = True
                    break
                if any(l.startswith("FW-") for l in done):
                    break  # the payload reported something else
            else:
                if os.path.exists(serial) and b"FW-" in open(serial, "rb").read():
                    break  # a payload ran where only a message was expected
                # "pmemsave ADDR SIZE /path" would read the path as a division: use a name.
                mon.sendall(b"pmemsave 0xb8000 4000 screen.bin\n")
                time.sleep(0.2)
                screen = screen_text(os.path.join(work, "screen.bin"))
                if a.screen in screen:
                    ok = True
                    break
            time.sleep(0.25)
    finally:
        proc.kill()
        err = proc.communicate()[1].decode(errors="replace")
        if mon is not None:
            mon.close()
    print("serial: " + open(serial, "rb").read().decode("latin-1").strip()
          if os.path.exists(serial) else "serial: (none)")
    if a.screen:
        print("screen:\n" + screen)
    if err.strip():
        print("qemu: " + err.strip())
    print("elapsed %.1f s, %s" % (time.monotonic() - start, "seen" if ok else "NOT seen"))
    subprocess.run(["rm", "-rf", work])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
