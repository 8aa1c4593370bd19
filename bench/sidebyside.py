#!/usr/bin/env python3
"""What a user feels, measured side by side: Tolvek, Zel_Connect and any other serial
terminal, one after the other on a private Xvfb, each fed by the simulated sensor over a
pseudo-terminal.

For every program and run:
  start-up     milliseconds from starting the program until its window is shown and painted
  burst        a 1 MB and a 5 MB burst of reading lines: CPU seconds and resident-memory
               growth per MB received (from /proc), and the worst and median delay between a
               key press in the program's input field and the repaint that shows it, while the
               5 MB burst arrives (xprobe, XTEST) and when idle
  line rate    CPU use while the sensor sends at the full 256000-baud line rate for 20 s
and once a 20 MB burst, for the memory it leaves behind. Medians of the runs are printed.

Usage: bench/sidebyside.py [--runs N] [--only zel,tolvek]
           [--peer NAME --peer-command 'CMD {device}' --peer-title TITLE --peer-input X,Y
            [--peer-open X,Y] [--peer-env NAME=VALUE ...]]
A peer is started with its command ({device} replaced by the sensor's device), clicked at
--peer-open (if given) to open the port, and typed into at --peer-input (window coordinates).
Run it after a build (build/bin and build/bench/xprobe). Only processes it started are ended.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")
XPROBE = os.path.join(ROOT, "build", "bench", "xprobe")
SIM = os.path.join(BIN, "zel-colorsim")
TICK = os.sysconf("SC_CLK_TCK")
MB = 1 << 20


class Program:
    def __init__(self, name, command, title, input_at, env=None, open_at=None, copy=None):
        self.name, self.command, self.title = name, command, title
        self.input_at, self.env, self.open_at, self.copy = input_at, env or {}, open_at, copy


def ours(name, binary, title):
    # The input field, txtTextOut, in window coordinates: 64 + 100, menu bar + 32 + 9.
    return Program(name, ["{exe}"], title, (164, 61),
                   env={"ZEL_COM1": "{device}", "ZEL_CONNECT_AT_START": "1"}, copy=binary)


class Started:
    """Processes this script started, and only those, are ended on the way out."""

    def __init__(self):
        self.processes = []

    def start(self, command, **kwargs):
        process = subprocess.Popen(command, **kwargs)
        self.processes.append(process)
        return process

    def stop(self, process, how=signal.SIGTERM):
        if process.poll() is None:
            process.send_signal(how)
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def stop_all(self):
        for process in reversed(self.processes):
            self.stop(process)


STARTED = Started()


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def resident_mb(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return 0.0


def sensor(*options):
    process = STARTED.start([SIM, *options], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True)
    return process, process.stdout.readline().strip()


def launch(program, device, workdir):
    exe = program.command[0]
    if program.copy:
        exe = os.path.join(workdir, os.path.basename(program.copy))
        if not os.path.exists(exe):
            shutil.copy(program.copy, exe)
    command = [part.replace("{exe}", exe).replace("{device}", device) for part in program.command]
    env = dict(os.environ)
    env.update({k: v.replace("{device}", device) for k, v in program.env.items()})
    process = STARTED.start(command, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, cwd=workdir)
    return process


def wait_for_window(program):
    subprocess.run([XPROBE, "startup", program.title, "--", "true"], capture_output=True)


def click(program, at):
    # A click through the probe: a zero-key run clicks and returns.
    subprocess.run([XPROBE, "keys", program.title, str(at[0]), str(at[1]), "0", "0"],
                   capture_output=True)


def key_delays(program, count, interval):
    return STARTED.start([XPROBE, "keys", program.title, str(program.input_at[0]),
                          str(program.input_at[1]), str(count), str(interval)],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)


def parse_delays(probe):
    out, _ = probe.communicate(timeout=120)
    values = [float(line) for line in out.split("\n") if line and line[0].isdigit()]
    return values


def startup_ms(program, workdir):
    link = os.path.join(workdir, "idle-sensor")
    sim, device = sensor("--rate", "0", "--link", link)
    exe = program.command[0]
    if program.copy:
        exe = os.path.join(workdir, os.path.basename(program.copy))
        if not os.path.exists(exe):
            shutil.copy(program.copy, exe)
    command = [part.replace("{exe}", exe).replace("{device}", device) for part in program.command]
    env = dict(os.environ)
    env.update({k: v.replace("{device}", device) for k, v in program.env.items()})
    env.pop("ZEL_CONNECT_AT_START", None)
    result = subprocess.run([XPROBE, "startup", program.title, "--", *command], env=env,
                            capture_output=True, text=True, cwd=workdir)
    STARTED.stop(sim)
    try:
        return float(result.stdout.strip().split("\n")[-1])
    except ValueError:
        return float("nan")


def burst(program, workdir, size_mb, probe_keys):
    sim, device = sensor("--burst", str(int(size_mb * MB)), "--wait", "3", "--rate", "0")
    process = launch(program, device, workdir)
    time.sleep(1.0)
    if program.open_at:
        click(program, program.open_at)
    idle = []
    if probe_keys:
        idle = parse_delays(key_delays(program, 8, 40))
    time.sleep(0.2)
    cpu0, rss0 = cpu_seconds(process.pid), resident_mb(process.pid)
    busy_probe = key_delays(program, 60, 40) if probe_keys else None
    sim.stdout.readline()  # "burst done"
    time.sleep(1.0)
    cpu1, rss1 = cpu_seconds(process.pid), resident_mb(process.pid)
    busy = parse_delays(busy_probe) if busy_probe else []
    STARTED.stop(process)
    STARTED.stop(sim)
    return {"cpu_per_mb": (cpu1 - cpu0) / size_mb, "rss_per_mb": (rss1 - rss0) / size_mb,
            "rss_after": rss1, "rss_before": rss0,
            "busy_worst": max(busy) if busy else float("nan"),
            "busy_median": statistics.median(busy) if busy else float("nan"),
            "idle_median": statistics.median(idle) if idle else float("nan")}


def line_rate(program, workdir, seconds=20):
    sim, device = sensor("--baud", "256000")
    process = launch(program, device, workdir)
    time.sleep(1.0)
    if program.open_at:
        click(program, program.open_at)
    time.sleep(2.0)
    cpu0, t0 = cpu_seconds(process.pid), time.time()
    time.sleep(seconds)
    cpu1, t1 = cpu_seconds(process.pid), time.time()
    STARTED.stop(process)
    STARTED.stop(sim)
    return 100 * (cpu1 - cpu0) / (t1 - t0)


def private_display():
    for number in range(91, 120):
        if not os.path.exists(f"/tmp/.X{number}-lock"):
            server = STARTED.start(["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten",
                                    "tcp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(1.0)
            if server.poll() is None:
                return f":{number}"
    sys.exit("no free display for Xvfb")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--only", default="tolvek,zel")
    parser.add_argument("--peer")
    parser.add_argument("--peer-command")
    parser.add_argument("--peer-title")
    parser.add_argument("--peer-input")
    parser.add_argument("--peer-open")
    parser.add_argument("--peer-env", action="append", default=[])
    args = parser.parse_args()

    programs = []
    chosen = args.only.split(",")
    if "tolvek" in chosen:
        programs.append(ours("Tolvek", os.path.join(BIN, "Tolvek"), "Basic Communications"))
    if "zel" in chosen:
        programs.append(ours("Zel_Connect", os.path.join(BIN, "Zel_Connect"), "Zel Connect"))
    if args.peer:
        point = lambda text: tuple(int(v) for v in text.split(",")) if text else None
        programs.append(Program(args.peer, args.peer_command.split(), args.peer_title,
                                point(args.peer_input),
                                env=dict(e.split("=", 1) for e in args.peer_env),
                                open_at=point(args.peer_open)))

    os.environ["DISPLAY"] = private_display()
    os.environ.pop("QT_QPA_PLATFORM", None)
    os.environ.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp())
    rows = []
    try:
        for program in programs:
            runs = []
            for run in range(args.runs):
                workdir = tempfile.mkdtemp()
                result = {"startup": startup_ms(program, workdir)}
                b1 = burst(program, workdir, 1, False)
                b5 = burst(program, workdir, 5, True)
                result.update({"cpu1": b1["cpu_per_mb"], "cpu5": b5["cpu_per_mb"],
                               "rss1": b1["rss_per_mb"], "rss5": b5["rss_per_mb"],
                               "busy_worst": b5["busy_worst"], "busy_median": b5["busy_median"],
                               "idle": b5["idle_median"], "line": line_rate(program, workdir)})
                runs.append(result)
                print(f"  {program.name} run {run + 1}: " +
                      ", ".join(f"{k} {v:.3f}" for k, v in result.items()), flush=True)
                shutil.rmtree(workdir, ignore_errors=True)
            workdir = tempfile.mkdtemp()
            b20 = burst(program, workdir, 20, False)
            shutil.rmtree(workdir, ignore_errors=True)
            median = {k: statistics.median(r[k] for r in runs) for k in runs[0]}
            rows.append((program.name, median, b20))
    finally:
        STARTED.stop_all()

    print()
    print(f"medians of {args.runs} runs; one 20 MB burst each")
    header = ("program", "start-up ms", "CPU s/MB 1MB", "CPU s/MB 5MB", "RSS MB/MB 1MB",
              "RSS MB/MB 5MB", "key ms worst (5MB)", "key ms median (5MB)", "key ms idle",
              "line rate % core", "RSS after 20MB")
    print(" | ".join(header))
    for name, m, b20 in rows:
        print(" | ".join([name, f"{m['startup']:.0f}", f"{m['cpu1']:.3f}", f"{m['cpu5']:.3f}",
                          f"{m['rss1']:.2f}", f"{m['rss5']:.2f}", f"{m['busy_worst']:.0f}",
                          f"{m['busy_median']:.1f}", f"{m['idle']:.1f}", f"{m['line']:.1f}",
                          f"{b20['rss_after']:.0f} MB (+{b20['rss_after'] - b20['rss_before']:.0f})"]))


if __name__ == "__main__":
    main()
