#!/usr/bin/env python3
"""The programmer against the kernel's own serial drivers: a QEMU guest with four emulated FTDI
adapters (ftdi_sio) and a PCI 16550 (8250_pci), each line's far end a moravent-unitsim on this
host. One boot; the guest (init, guest.sh) runs the programmer and reports, this side unplugs
adapters at the right moments, reads QEMU's trace of the adapters' control requests and checks.

usage: qemu_drivers.py --cli CLI --job-tool JOB --unitsim SIM --work DIR
Exit status 0 when every check passed."""
import argparse
import glob
import json
import lzma
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]
SUCCESS = "Unit Successfully Programmed!"
GONE = re.compile(r"has gone: the adapter was unplugged|went dead: the adapter was unplugged")
BOOT_LIMIT_S = 240
PHASE_LIMIT_S = 15  # the longest phase time-out a lost adapter may cost, with room for a loaded machine

# Line id, QEMU device, serial number, the unit's own options.
LINES = [
    ("u0", "ftdi0", "MVA0001", []),
    ("u1", "ftdi1", "MVA0002", ["--reply-delay", "verify-block=60"]),
    ("u2", "ftdi2", "MVA0003", ["--block-delay", "60"]),
    ("u3", "ftdi3", "MVA0004", ["--hangup-at-program-block", "5"]),
    ("s4", None, None, []),
]


def run(*cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def kernel_package():
    deps = subprocess.run(["apt-cache", "depends", "linux-image-amd64"], capture_output=True, text=True).stdout
    return re.search(r"Depends: (linux-image-\S+)", deps)


def kernel(cache):
    """vmlinux and the adapter's modules from Debian's kernel package, unpacked once into cache."""
    vmlinux = os.path.join(cache, "vmlinux")
    if os.path.exists(vmlinux) and all(os.path.exists(os.path.join(cache, m + ".ko")) for m in MODULES):
        return vmlinux
    os.makedirs(cache, exist_ok=True)
    match = kernel_package()
    if not match and os.geteuid() == 0:
        run("apt-get", "update", "-qq")
        match = kernel_package()
    if not match:
        sys.exit("linux-image-amd64 is unknown to apt (run apt-get update first)")
    for old in glob.glob(os.path.join(cache, "*.deb")):
        os.remove(old)
    run("apt-get", "download", match.group(1), cwd=cache, stdout=subprocess.DEVNULL)
    tree = os.path.join(cache, "tree")
    shutil.rmtree(tree, ignore_errors=True)
    run("dpkg-deb", "-x", glob.glob(os.path.join(cache, "*.deb"))[0], tree)
    # QEMU boots an uncompressed kernel through PVH: no decompression under TCG on every boot.
    bz = open(glob.glob(os.path.join(tree, "boot", "vmlinuz-*"))[0], "rb").read()
    payload = bz[bz.index(b"\xfd7zXZ\x00"):]
    with open(vmlinux + ".part", "wb") as f:
        f.write(lzma.LZMADecompressor().decompress(payload))
    for m in MODULES:
        found = glob.glob(os.path.join(tree, "lib", "modules", "*", "kernel", "**", m + ".ko"), recursive=True)
        if not found:
            sys.exit(f"the kernel package has no {m}.ko")
        shutil.copy(found[0], os.path.join(cache, m + ".ko"))
    os.replace(vmlinux + ".part", vmlinux)
    shutil.rmtree(tree)
    for deb in glob.glob(os.path.join(cache, "*.deb")):
        os.remove(deb)
    return vmlinux


def programmer(args, work, image):
    with open(os.path.join(work, "image.bin"), "wb") as f:
        f.write(image)
    with open(os.path.join(work, "job.json"), "w") as f:
        json.dump({"title": "QEMU Job", "flash_start": 6144, "flash_length": 256000, "flash_check_seed": 129,
                   "program_serial": {"baud": 57600, "data_bits": 8, "stop_bits": 1, "parity": "none"},
                   "image": "image.bin"}, f)
    out = os.path.join(work, "programmer")
    run(args.job_tool, "build", os.path.join(work, "job.json"), "-o", out, "--template", args.cli,
        stdout=subprocess.DEVNULL)
    return out


def initramfs(work, cache, prog):
    root = os.path.join(work, "root")
    shutil.rmtree(root, ignore_errors=True)
    for d in ("bin", "sbin", "etc", "lib/modules", "proc", "sys", "dev", "tmp"):
        os.makedirs(os.path.join(root, d))
    shutil.copy(shutil.which("busybox"), os.path.join(root, "bin", "busybox"))
    applets = subprocess.run([os.path.join(root, "bin", "busybox"), "--list"], capture_output=True,
                             text=True).stdout.split()
    for a in applets:
        if a != "busybox":
            os.symlink("busybox", os.path.join(root, "bin", a))
    for m in MODULES:
        shutil.copy(os.path.join(cache, m + ".ko"), os.path.join(root, "lib", "modules"))
    shutil.copy(prog, os.path.join(root, "bin", "moravent-flash-cli"))
    ldd = subprocess.run(["ldd", prog], capture_output=True, text=True, check=True).stdout
    for lib in re.findall(r"(/\S+) \(0x", ldd):
        dest = os.path.join(root, lib.lstrip("/"))
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        shutil.copy(lib, dest)
    run("cc", "-static", "-O2", "-o", os.path.join(root, "bin", "lowlatency"), os.path.join(HERE, "lowlatency.c"))
    for name in ("init", "guest.sh"):
        shutil.copy(os.path.join(HERE, name), os.path.join(root, name))
    os.chmod(os.path.join(root, "init"), 0o755)
    with open(os.path.join(root, "etc", "passwd"), "w") as f:
        f.write("root:x:0:0::/:/bin/sh\nflasher:x:1000:1000::/tmp:/bin/sh\noutsider:x:1001:1001::/tmp:/bin/sh\n")
    with open(os.path.join(root, "etc", "group"), "w") as f:
        f.write("root:x:0:\ndialout:x:20:flasher\nflasher:x:1000:\noutsider:x:1001:\n")
    archive = os.path.join(work, "initrd.cpio")
    files = subprocess.run(["find", "."], cwd=root, capture_output=True, check=True).stdout
    with open(archive, "wb") as f:
        run("cpio", "-o", "-H", "newc", "--quiet", cwd=root, input=files, stdout=f)
    return archive


def start_units(args, work):
    units = {}
    for line, _, _, extra in LINES:
        p = subprocess.Popen([args.unitsim, "--dump", os.path.join(work, line + ".flash")] + extra,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        units[line] = (p, p.stdout.readline().strip())
    return units


def qemu_command(work, vmlinux, initrd, units):
    cmd = ["qemu-system-x86_64", "-accel", "tcg", "-m", "512", "-smp", "1", "-nic", "none", "-display", "none",
           "-no-reboot", "-serial", "stdio", "-kernel", vmlinux, "-initrd", initrd,
           "-append", "console=ttyS0 quiet panic=-1 rdinit=/init",
           "-monitor", "unix:" + os.path.join(work, "monitor.sock") + ",server,nowait",
           "-trace", "usb_serial_handle_control,file=" + os.path.join(work, "trace.log"), "-msg", "timestamp=on",
           "-device", "qemu-xhci,id=xhci"]
    for line, dev, serial, _ in LINES:
        cmd += ["-chardev", f"serial,id={line},path={units[line][1]}"]
        cmd += ["-device", f"usb-serial,bus=xhci.0,chardev={line},id={dev},serial={serial}" if dev
                else f"pci-serial,chardev={line}"]
    return cmd


def unplug(work, dev):
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(os.path.join(work, "monitor.sock"))
        s.sendall(f"device_del {dev}\n".encode())
        sent = time.time()
        time.sleep(0.2)  # the monitor takes the command before the connection goes
    return sent


class Guest:
    """What the guest said, step by step: output lines, exit status, when it ended."""

    def __init__(self):
        self.steps, self.facts, self.reports, self.unplugged = {}, {}, {}, {}

    def take(self, work, line, current):
        if line.startswith("@@BEGIN "):
            name = line.split()[1]
            self.steps[name] = {"out": [], "rc": None, "begin": time.time()}
            return name
        if line.startswith("@@END "):
            _, name, rc = line.split()
            self.steps[name].update(rc=int(rc), end=time.time())
            return None
        if line.startswith("@@REPORT "):
            _, name, record = line.split(" ", 2)
            self.reports.setdefault(name, []).append(json.loads(record))
        elif line.startswith("@@"):
            key, _, rest = line[2:].partition(" ")
            self.facts.setdefault(key, []).append(rest)
        elif current:
            self.steps[current]["out"].append(line)
            self.watch(work, current, line)
        return current

    def tty(self, serial):
        return next((f.split()[1] for f in self.facts.get("TTY", []) if f.startswith(serial + " ")), None)

    def watch(self, work, step, line):
        # The adapter goes while the programmer writes, then while it reads back.
        wanted = {"unplug-program": ("program", "MVA0003", "ftdi2"), "unplug-verify": ("verify", "MVA0002", "ftdi1")}
        if step in wanted and step not in self.unplugged and line.startswith("{"):
            phase, serial, dev = wanted[step]
            try:
                event = json.loads(line)
            except ValueError:
                return
            if event.get("phase") == phase and event.get("port") == self.tty(serial):
                self.unplugged[step] = unplug(work, dev)


def boot(cmd, work):
    guest = Guest()
    q = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                         errors="replace")
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(x) for x in q.stdout] + [lines.put(None)], daemon=True).start()
    deadline, current = time.time() + BOOT_LIMIT_S, None
    with open(os.path.join(work, "console.log"), "w") as log:
        try:
            while time.time() < deadline:
                try:
                    raw = lines.get(timeout=1)
                except queue.Empty:
                    continue
                if raw is None:
                    break
                line = raw.rstrip("\r\n")
                log.write(line + "\n")
                log.flush()
                current = guest.take(work, line, current)
                if line == "@@DONE":
                    q.wait(timeout=30)
                    break
        finally:
            if q.poll() is None:
                q.kill()
                q.wait()
    return guest


def modem_states(work, begin, end):
    """DTR and RTS as the FTDI's modem-control requests (0x4001) set them between begin and end."""
    dtr = rts = None
    states = []
    for line in open(os.path.join(work, "trace.log"), errors="replace"):
        m = re.search(r"@(\d+\.\d+):usb_serial_handle_control .*control 0x(\w+), value 0x(\w+)", line)
        if not m or not begin <= float(m.group(1)) <= end or int(m.group(2), 16) != 0x4001:
            continue
        value = int(m.group(3), 16)
        if value & 0x100:
            dtr = bool(value & 1)
        if value & 0x200:
            rts = bool(value & 2)
        states.append((dtr, rts))
    return states


def checks(guest, work, image):
    s = guest.steps
    out = {k: "\n".join(v["out"]) for k, v in s.items()}

    def ended(step, rc):
        return s.get(step, {}).get("rc") == rc

    def last_line(step):
        return s[step]["out"][-1] if s.get(step, {}).get("out") else ""

    def after(step):
        return next((f.split(" ", 1)[1] for f in guest.facts.get("AFTER", []) if f.startswith(step + " ")), "")

    def latency(step):
        return next((f.split()[1:] for f in guest.facts.get("LATENCY", []) if f.startswith(step + " ")), [])

    def listed():
        ports = json.loads(out["list"])
        usb = {p["serial"]: p for p in ports if p.get("driver") == "ftdi_sio"}
        pci = [p for p in ports if p.get("bus") == "pci"]
        return (sorted(usb) == ["MVA0001", "MVA0002", "MVA0003", "MVA0004"] and
                all(p["vid"] == "0403" and p["pid"] == "6001" and p["usb_path"] for p in usb.values()) and
                len(pci) == 1 and pci[0]["path"] == guest.facts["PCI"][0])

    def flashed(line):
        with open(os.path.join(work, line + ".flash"), "rb") as f:
            return f.read(len(image)) == image

    def unplugged_in_time(step):
        return step in guest.unplugged and s[step]["end"] - guest.unplugged[step] < PHASE_LIMIT_S

    def failed_cleanly(step):
        return ended(step, 1) and SUCCESS not in out[step] and GONE.search(out[step]) is not None

    def only_unplugged_failed():
        results = {r["port"]: r["result"] for r in guest.reports.get("unplug-verify", [])}
        ok = {r["result"] for r in guest.reports.get("station", [])}
        return len(results) == 3 and len(ok) == 1 and [p for p, r in results.items() if r not in ok] == [
            guest.tty("MVA0002")]

    def modem(step):
        states = modem_states(work, s[step]["begin"], s[step]["end"])
        return (True, False) in states and states[-1:] == [(False, False)]

    table = [
        ("ports listed from sysfs: ftdi_sio 0403:6001, serials, usb_path; the 16550 on PCI",
         lambda: ended("list", 0) and listed()),
        ("outside dialout: the node's real owner and group named",
         lambda: ended("permission", 1) and "belongs to root, group dialout" in out["permission"] and
         "user outsider is not in group dialout" in out["permission"]),
        ("usb:SERIAL programs a unit", lambda: ended("clear-before", 0) and last_line("clear-before") == SUCCESS),
        ("latency timer 1 while held", lambda: "1" in latency("clear-before") and "1" in latency("set-before")),
        ("low latency cleared again at close when it was clear", lambda: after("clear-before") == "flag=0 timer=0"),
        ("low latency left set at close when it was set", lambda: after("set-before") == "flag=1 timer=1"),
        ("DTR on, RTS off for the user connect; both lowered at close", lambda: modem("clear-before")),
        ("a station programs three units, the 16550 among them, with a report",
         lambda: ended("station", 0) and len(guest.reports.get("station", [])) == 3),
        ("the units' flash equals the image", lambda: all(flashed(line) for line in ("u0", "u1", "s4"))),
        ("unplugged while programming: exit 1, the diagnosis, no success",
         lambda: failed_cleanly("unplug-program") and unplugged_in_time("unplug-program")),
        ("unplugged while verifying in a station: that unit alone fails",
         lambda: failed_cleanly("unplug-verify") and unplugged_in_time("unplug-verify") and only_unplugged_failed()),
        ("the unit's side hangs up: exit 1, the diagnosis, no success", lambda: failed_cleanly("hangup")),
    ]
    failed = 0
    for name, check in table:
        try:
            ok = bool(check())
        except (KeyError, IndexError, ValueError, OSError) as e:
            ok, name = False, f"{name} ({type(e).__name__}: {e})"
        failed += not ok
        print(("ok   " if ok else "FAIL ") + name)
    print(f"{len(table) - failed} passed, {failed} failed")
    return failed


def main():
    ap = argparse.ArgumentParser()
    for opt in ("--cli", "--job-tool", "--unitsim", "--work"):
        ap.add_argument(opt, required=True)
    args = ap.parse_args()
    # A time-out's SIGTERM still ends the guest and the units.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    work = os.path.abspath(args.work)
    cache = os.path.join(work, "kernel")
    run_dir = os.path.join(work, "run")
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(run_dir)
    started = time.time()
    vmlinux = kernel(cache)
    image = bytes((i * 7 + i // 256) & 0xFF for i in range(4096))
    initrd = initramfs(run_dir, cache, programmer(args, run_dir, image))
    prepared = time.time()
    units = start_units(args, run_dir)
    try:
        guest = boot(qemu_command(run_dir, vmlinux, initrd, units), run_dir)
    finally:
        for p, _ in units.values():
            p.terminate()
        for p, _ in units.values():
            p.wait(timeout=10)
    print(f"kernel and initramfs {prepared - started:.1f} s, guest {time.time() - prepared:.1f} s "
          f"(console: {run_dir}/console.log)")
    return 1 if checks(guest, run_dir, image) else 0


if __name__ == "__main__":
    sys.exit(main())
