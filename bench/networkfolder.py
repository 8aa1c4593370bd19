#!/usr/bin/env python3
"""The log on a network folder that stops answering or fails at close, measured from outside:
Zel_Connect on a private Xvfb, fed by the simulated sensor at the full line rate (256000 baud,
about 1,160 samples a second), logs into a FUSE folder (build/bin/zel-faultyfolder) that
misbehaves as a network share does. Its own folder is read-only (chmod 555, chattr +i), so the
log goes to its data folder, XDG_DATA_HOME/Zel_Connect/app.txt, on the FUSE mount.

For every run:
  hold      after about 3 s of logging the folder holds every write for --hold seconds, while
            a key is pressed in the input field every 40 ms (xprobe): keys pressed, the worst
            delay until a key shows and when in the hold it was pressed, the median, and the
            keys that did not show in 5 s.
  quota     after about 3 s of logging every write-back fails (EDQUOT at close, and what the
            handle wrote is dropped) for --quota seconds; no keys.
            In both, the sensor is then paused (SIGSTOP) and the folder answers again: the
            lines the log gains from then until it stops growing are the lines that waited
            at the peak. The program is ended (SIGTERM; "end s" is how long it took), then
            the sensor, which says how many lines it sent. The log is read line by line:
            logged lines, repeated (x not above the line before), missing (gaps in x: the
            program numbered a sample that the log lacks), torn (not "<x>, R=<r> G=<g> B=<b>"
            CR LF); and "not logged", the lines sent less the distinct ones logged and the
            missing ones: 1 where all is well, as a reading is plotted (and logged) only when
            the "R" of the next one arrives.
  local     the log beside the program in an ordinary temporary folder: CPU (% of one core)
            over --local-seconds at the line rate after 2 s, and opens of app.txt per second
            (strace, 10 s, in a run of its own). With --base, the same for that other binary,
            the two in alternate order, and the ratio of the medians.
Medians of the runs are printed at the end.

Usage: bench/networkfolder.py [--hold 30] [--quota 10] [--runs 3] [--base OTHER_Zel_Connect]
           [--local-seconds 20]
Run it as root after a build (build/bin, build/bin/zel-faultyfolder, build/bench/xprobe);
it needs /dev/fuse, Xvfb, chattr and strace (installed with apt-get when missing). Only the
processes it started are ended; the FUSE folders are always unmounted.
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sidebyside  # noqa: E402
from sidebyside import STARTED, RunFailed  # noqa: E402

FAULTY = os.path.join(sidebyside.ROOT, "build", "bin", "zel-faultyfolder")
ZEL = os.path.join(sidebyside.BIN, "Zel_Connect")
TITLE = "Zel Connect"
LINE = re.compile(rb"^\d+, R=\d+ G=\d+ B=\d+\r$")
STEP = 100
NOT_SHOWN_MS = 5000.0  # what xprobe reports for a key that did not show
QUIET_S = 4.0  # longer than the writer's 2 s between tries, so a pending try is not missed


class FaultyFolder:
    """A FUSE mount served by zel-faultyfolder; close() always unmounts it."""

    def __init__(self, workdir):
        self.backing = os.path.join(workdir, "backing")
        self.mount = os.path.join(workdir, "mount")
        os.makedirs(self.backing)
        os.makedirs(self.mount)
        self.process = STARTED.start([FAULTY, self.backing, self.mount], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True, bufsize=1)

    def wait_ready(self):
        if sidebyside.wait_line(self.process, 10).strip() != "ready":
            raise RunFailed("zel-faultyfolder did not mount")

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = sidebyside.wait_line(self.process, 10).strip()
        if answer != "ok":
            raise RunFailed(f"zel-faultyfolder answered {answer!r} to {line}")

    def close(self):
        if self.process.poll() is None:
            try:
                # End of input releases what is held and unmounts.
                self.process.stdin.close()
            except OSError:
                pass
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)
        if os.path.ismount(self.mount):
            subprocess.run(["fusermount3", "-u", "-z", self.mount], timeout=10,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return not os.path.ismount(self.mount)


class ReadOnlyFolder:
    """A copy of the binary in a folder that not even root may write to."""

    def __init__(self, workdir, binary):
        self.path = os.path.join(workdir, "program")
        os.makedirs(self.path)
        shutil.copy(binary, self.path)
        os.chmod(self.path, 0o555)
        subprocess.run(["chattr", "+i", self.path], check=True)

    def undo(self):
        subprocess.run(["chattr", "-i", self.path], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        os.chmod(self.path, 0o755)


def program_for(binary, name, extra_env):
    program = sidebyside.ours(name, binary, TITLE)
    program.prepare = lambda device, workdir: extra_env(workdir)
    return program


def fresh_home(workdir):
    # Settings of their own for every start: no start sees what an earlier one remembered.
    config = tempfile.mkdtemp(prefix="config-", dir=workdir)
    data = tempfile.mkdtemp(prefix="data-", dir=workdir)
    return {"XDG_CONFIG_HOME": config, "XDG_DATA_HOME": data}


def counted_sensor(workdir):
    """The sensor at the line rate; its standard error says at the end what it sent."""
    errors = open(os.path.join(workdir, "sensor.err"), "w")
    process = STARTED.start([sidebyside.SIM, "--baud", "256000"], stdout=subprocess.PIPE,
                            stderr=errors, text=True)
    errors.close()
    return process, sidebyside.wait_line(process, 10).strip()


def sensor_sent(process, workdir):
    """Ends the (maybe paused) sensor; the lines it says it sent, or None."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        process.send_signal(signal.SIGCONT)
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    with open(os.path.join(workdir, "sensor.err"), errors="replace") as errors:
        found = re.search(r"sent (\d+) lines", errors.read())
    return int(found.group(1)) if found else None


def end_program(process, limit=15.0):
    """SIGTERM and the seconds until it ended; killed (and noted) after limit."""
    start = time.monotonic()
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(limit)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            return time.monotonic() - start, True
    return time.monotonic() - start, False


def find_log(backing, limit=30.0):
    wanted = os.path.join(backing, "Zel_Connect", "app.txt")
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if os.path.exists(wanted) and os.path.getsize(wanted) > 0:
            return wanted
        for folder, _, files in os.walk(backing):
            if "app.txt" in files and os.path.getsize(os.path.join(folder, "app.txt")) > 0:
                return os.path.join(folder, "app.txt")
        time.sleep(0.2)
    raise RunFailed(f"no app.txt under the FUSE folder in {limit:.0f} s")


def line_count(path):
    # The backing folder, not the mount: reading through a held mount would wait too.
    with open(path, "rb") as log:
        return log.read().count(b"\n")


def least_line_count(path, samples=3):
    # A try that fails at close leaves its lines in the file for a moment; the least of a
    # few looks is what the folder kept.
    counts = []
    for _ in range(samples):
        counts.append(line_count(path))
        time.sleep(0.1)
    return min(counts)


def wait_until_still(path, quiet=QUIET_S, limit=120.0):
    """Until the file has not grown for quiet seconds; False if it still grew at limit."""
    start = time.monotonic()
    size, since = os.path.getsize(path), time.monotonic()
    while time.monotonic() - start < limit:
        time.sleep(0.25)
        now = os.path.getsize(path)
        if now != size:
            size, since = now, time.monotonic()
        elif time.monotonic() - since >= quiet:
            return True
    return False


def check_log(path):
    with open(path, "rb") as log:
        data = log.read()
    lines = data.split(b"\n")
    torn = 1 if lines[-1] else 0  # a last line without its LF
    lines = lines[:-1]
    logged = len(lines)
    repeated = missing = odd_steps = 0
    previous = -STEP
    for line in lines:
        if not LINE.match(line):
            torn += 1
            continue
        x = int(line.split(b",", 1)[0])
        if x <= previous:
            repeated += 1
            continue
        gap, rest = divmod(x - previous, STEP)
        missing += gap - 1
        odd_steps += rest != 0
        previous = x
    return {"logged": logged, "repeated": repeated, "missing": missing, "torn": torn,
            "odd steps": odd_steps}


class KeyProbe:
    """xprobe's key delays, each with the moment the key was pressed."""

    def __init__(self, program):
        self.process = sidebyside.key_delays(program, 100000, 40)
        self.delays = []  # (pressed, ms)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            if line and line[0].isdigit():
                ms = float(line)
                self.delays.append((time.monotonic() - ms / 1000, ms))

    def stop(self):
        STARTED.stop(self.process)
        self.reader.join(5)

    def delays_within(self, start, end):
        return [(pressed, ms) for pressed, ms in self.delays if start <= pressed <= end]

    def within(self, start, end):
        return [ms for _, ms in self.delays_within(start, end)]


def network_phase(kind, seconds, workdir, probe_keys):
    """One hold or quota phase; figures and notes."""
    notes = []
    folder = readonly = sim = process = probe = None
    result = {}
    try:
        folder = FaultyFolder(workdir)
        folder.wait_ready()
        readonly = ReadOnlyFolder(workdir, ZEL)
        config = tempfile.mkdtemp(prefix="config-", dir=workdir)
        program = program_for(ZEL, "Zel_Connect", lambda _: {"XDG_DATA_HOME": folder.mount,
                                                              "XDG_CONFIG_HOME": config})
        sim, device = counted_sensor(workdir)
        process = sidebyside.launch(program, device, readonly.path)
        time.sleep(1.0)
        sidebyside.wait_for_window(program)
        log = find_log(folder.backing)
        time.sleep(3.0)
        if probe_keys:
            probe = KeyProbe(program)
            time.sleep(1.0)  # its click and the first key, which only focuses the field
        at_fault = line_count(log)
        folder.command("hold" if kind == "hold" else "fail-sync")
        fault_start = time.monotonic()
        time.sleep(seconds)
        fault_end = time.monotonic()
        if probe:
            probe.stop()
            keys = probe.within(fault_start, fault_end)
            worst = max(probe.delays_within(fault_start, fault_end), default=None,
                        key=lambda pressed_ms: pressed_ms[1])
            result.update({"keys": len(keys),
                           "key ms worst": max(keys) if keys else float("nan"),
                           "worst at s": worst[0] - fault_start if worst else float("nan"),
                           "key ms median": statistics.median(keys) if keys else float("nan"),
                           "not shown": sum(ms >= NOT_SHOWN_MS for ms in keys)})
            if not keys:
                notes.append("the probe pressed no key during the hold")
        # Paused, the sensor adds no lines, so all the log gains from here on waited.
        sim.send_signal(signal.SIGSTOP)
        time.sleep(0.5)
        before = least_line_count(log)
        if kind == "hold" and before != at_fault:
            notes.append(f"{before - at_fault:+d} lines in the file during the hold")
        folder.command("release" if kind == "hold" else "sync-ok")
        if not wait_until_still(log):
            notes.append("the log still grew 120 s after the folder answered again")
        result["waiting at peak"] = line_count(log) - before
        result["end s"], killed = end_program(process)
        if killed:
            notes.append("the program did not end in 15 s after SIGTERM and was killed")
        sent = sensor_sent(sim, workdir)
        checked = check_log(log)
        result["sent"] = sent if sent is not None else checked["logged"] + checked["missing"]
        if sent is None:
            notes.append("the sensor did not say what it sent: sent = logged + missing")
        result.update(checked)
        unique = checked["logged"] - checked["repeated"] - checked["torn"]
        result["not logged"] = result["sent"] - unique - checked["missing"]
        if sent is not None and result["not logged"] != 1:
            notes.append(f"sent {sent}: {unique} distinct lines logged, {checked['missing']} "
                         "missing (1 not logged expected: the last reading waits for an R)")
        if checked["odd steps"]:
            notes.append(f"{checked['odd steps']} steps of x not a multiple of {STEP}")
        return result, notes
    finally:
        if folder and folder.process.poll() is None and process and process.poll() is None:
            # Cut short: the folder answers again first, or the program could not end.
            for line in ("release", "sync-ok"):
                try:
                    folder.command(line)
                except (OSError, RunFailed):
                    pass
        for started in (probe.process if probe else None, process, sim):
            if started:
                if started is sim and sim.poll() is None:
                    sim.send_signal(signal.SIGCONT)
                STARTED.stop(started)
        if folder and not folder.close():
            notes.append(f"{folder.mount} could not be unmounted")
        if readonly:
            readonly.undo()


def local_cpu(binary, name, workdir, seconds):
    program = program_for(binary, name, fresh_home)
    return sidebyside.line_rate(program, workdir, seconds)


def local_opens(binary, name, workdir, seconds=10.0):
    program = program_for(binary, name, fresh_home)
    sim, device = sidebyside.sensor("--baud", "256000")
    process = sidebyside.launch(program, device, workdir)
    trace = os.path.join(workdir, "openat.txt")
    try:
        time.sleep(1.0)
        sidebyside.wait_for_window(program)
        time.sleep(2.0)
        tracer = STARTED.start(["strace", "-f", "-qq", "-e", "trace=openat", "-o", trace, "-p",
                                str(process.pid)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        start = time.monotonic()
        time.sleep(seconds)
        STARTED.stop(tracer, signal.SIGINT)  # detaches and leaves the program running
        elapsed = time.monotonic() - start
    finally:
        STARTED.stop(process)
        STARTED.stop(sim)
    opens = 0
    with open(trace, errors="replace") as lines:
        for line in lines:
            if re.search(r'openat\([^"]*"[^"]*app\.txt"', line):
                opens += 1
    return opens / elapsed


def local_phase(binaries, run, workdir, seconds):
    """CPU and opens of app.txt per binary; the order alternates from run to run."""
    order = binaries if run % 2 == 0 else list(reversed(binaries))
    result = {}
    for name, binary in order:
        folder = tempfile.mkdtemp(prefix="local-", dir=workdir)
        cpu = opens = logged = None
        try:
            cpu = local_cpu(binary, name, folder, seconds)
            log = os.path.join(folder, "app.txt")
            logged = line_count(log) if os.path.exists(log) else 0
            opens = local_opens(binary, name, tempfile.mkdtemp(prefix="opens-", dir=workdir))
        except RunFailed as failure:
            print(f"  {name} on the local disk failed: {failure}", flush=True)
        result[name] = {"CPU % core": cpu, "app.txt opens/s": opens, "logged": logged}
    return result


def table(header, rows):
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]
    for row in [header, *rows]:
        print("  " + " | ".join(str(cell).rjust(width) for cell, width in zip(row, widths)))


def shown(value, digits=1):
    if value is None:
        return "-"
    if isinstance(value, float):
        return "nan" if value != value else f"{value:.{digits}f}"
    return str(value)


NETWORK_COLUMNS = ["keys", "key ms worst", "worst at s", "key ms median", "not shown",
                   "waiting at peak", "sent", "logged", "repeated", "missing", "torn",
                   "not logged", "end s"]


def print_network(rows):
    table(["phase", *NETWORK_COLUMNS],
          [[kind, *(shown(figures.get(column), 2 if column == "end s" else 1)
                    for column in NETWORK_COLUMNS)]
           for kind, figures in rows])


def print_local(local):
    table(["program", "CPU % core", "app.txt opens/s", "lines logged"],
          [[name, shown(f["CPU % core"]), shown(f["app.txt opens/s"], 2), shown(f["logged"])]
           for name, f in local.items()])


def ratio(a, b):
    return "-" if not a or not b else f"{a / b:.2f}"


def median_of(values):
    values = [v for v in values if v is not None and v == v]
    return statistics.median(values) if values else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--hold", type=float, default=30)
    parser.add_argument("--quota", type=float, default=10)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--base", help="another Zel_Connect binary for the local-disk figures")
    parser.add_argument("--local-seconds", type=float, default=20)
    args = parser.parse_args()

    for needed in (ZEL, sidebyside.SIM, FAULTY, sidebyside.XPROBE):
        if not os.access(needed, os.X_OK):
            sys.exit(f"{needed} is missing: build it first")
    if args.base and not os.access(args.base, os.X_OK):
        sys.exit(f"{args.base} is missing")
    if not os.path.exists("/dev/fuse"):
        sys.exit("/dev/fuse is missing")
    for tool, package in (("strace", "strace"), ("Xvfb", "xvfb"), ("chattr", "e2fsprogs")):
        if not shutil.which(tool):
            subprocess.run(["apt-get", "install", "-y", package], check=True,
                           stdout=subprocess.DEVNULL)

    # Ended from outside, the processes started here are still ended and the mounts undone.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    root = tempfile.mkdtemp(prefix="networkfolder-")
    os.environ["DISPLAY"] = sidebyside.private_display()
    os.environ.pop("QT_QPA_PLATFORM", None)
    os.environ["XDG_RUNTIME_DIR"] = tempfile.mkdtemp(prefix="runtime-", dir=root)
    binaries = [("Zel_Connect", ZEL)] + ([("base", args.base)] if args.base else [])
    runs = []
    clean = True
    try:
        for run in range(args.runs):
            network, notes = [], []
            for kind, seconds, keys in (("hold", args.hold, True),
                                        ("quota", args.quota, False)):
                workdir = tempfile.mkdtemp(prefix=f"{kind}-", dir=root)
                try:
                    figures, phase_notes = network_phase(kind, seconds, workdir, keys)
                except RunFailed as failure:
                    figures, phase_notes = {}, [f"failed: {failure}"]
                network.append((kind, figures))
                notes += [f"{kind}: {note}" for note in phase_notes]
                if any("could not be unmounted" in note for note in phase_notes):
                    clean = False
            local = local_phase(binaries, run, tempfile.mkdtemp(prefix="local-", dir=root),
                                args.local_seconds)
            runs.append((network, local))
            print(f"run {run + 1}", flush=True)
            print_network(network)
            print_local(local)
            for note in notes:
                print(f"  note: {note}")
            print(flush=True)
    finally:
        STARTED.stop_all()
        if clean:
            shutil.rmtree(root, ignore_errors=True)
        else:
            print(f"left {root} behind: a mount in it did not go", file=sys.stderr)

    print(f"medians of {args.runs} runs (hold {args.hold:g} s, quota {args.quota:g} s, "
          f"local {args.local_seconds:g} s)")
    medians = []
    for index, (kind, _) in enumerate(runs[0][0]):
        figures = {column: median_of([network[index][1].get(column) for network, _ in runs])
                   for column in NETWORK_COLUMNS}
        medians.append((kind, figures))
    print_network(medians)
    local_medians = {name: {column: median_of([local[name][column] for _, local in runs])
                            for column in ("CPU % core", "app.txt opens/s", "logged")}
                     for name, _ in binaries}
    print_local(local_medians)
    if args.base:
        ours, base = local_medians["Zel_Connect"], local_medians["base"]
        print(f"  Zel_Connect / base: CPU {ratio(ours['CPU % core'], base['CPU % core'])}, "
              f"app.txt opens/s {ratio(ours['app.txt opens/s'], base['app.txt opens/s'])}")


if __name__ == "__main__":
    main()
