#!/usr/bin/env python3
"""What a user feels, measured side by side: Tolvek, Zel_Connect and any other serial
terminal, one after the other on a private Xvfb, each fed by the simulated sensor over a
pseudo-terminal.

For every program and run:
  start-up     milliseconds from starting the program until its window is shown and painted
  burst        a 1 MB and a 5 MB burst of reading lines (the sensor writes blocks of 8 KB,
               as fast as they are taken): CPU seconds and resident-memory growth per MB
               received, from /proc, until the program is idle again
  keys         another 5 MB burst, with the delay between a key press in the program's input
               field and the repaint that shows it (xprobe, XTEST), pressed every 40 ms from
               the burst's start until the program is idle again; and when idle
  line rate    CPU use while the sensor sends at the full 256000-baud line rate for 20 s
and once a 20 MB burst, for the memory it leaves behind. Medians of the runs are printed.

Usage: bench/sidebyside.py [--runs N] [--only zel,tolvek] [--cutecom]
           [--peer NAME --peer-command 'CMD {device}' --peer-title TITLE --peer-input X,Y
            [--peer-open X,Y] [--peer-env NAME=VALUE ...]]
A peer is started with its command ({device} replaced by the sensor's device), clicked at
--peer-open (if given) to open the port, and typed into at --peer-input (window coordinates).
--cutecom puts Debian's CuteCom (apt-get install cutecom) beside ours: a fresh settings file
names the device, the Open button is clicked, and build/bench/libfake_modem_lines.so is
preloaded, since CuteCom closes a port whose modem lines it cannot read.
Run it after a build (build/bin and build/bench/xprobe). Only processes it started are ended.
"""
import argparse
import os
import select
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
    def __init__(self, name, command, title, input_at, env=None, open_at=None, copy=None,
                 prepare=None):
        self.name, self.command, self.title = name, command, title
        self.input_at, self.env, self.open_at, self.copy = input_at, env or {}, open_at, copy
        self.prepare = prepare  # (device, workdir) -> more environment


def cutecom():
    def prepare(device, workdir):
        home = os.path.join(workdir, "home")
        os.makedirs(os.path.join(home, ".config", "CuteCom"), exist_ok=True)
        with open(os.path.join(home, ".config", "CuteCom", "CuteCom5.conf"), "w") as conf:
            conf.write("[sessions]\n1\\BaudRate=115200\n1\\DataBits=8\n"
                       f"1\\Device={device}\n1\\FlowControl=0\n1\\OpenMode=3\n"
                       "1\\Parity=0\n1\\StopBits=1\n1\\autoReconnect=false\n"
                       "1\\name=Default\n1\\showCtrlCharacters=false\n"
                       "1\\showTimestamp=false\nsize=1\n")
        return {"HOME": home,
                "LD_PRELOAD": os.path.join(ROOT, "build", "bench", "libfake_modem_lines.so")}
    return Program("CuteCom", ["cutecom"], "CuteCom", (137, 243), open_at=(50, 43),
                   prepare=prepare)


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
    # Nanoseconds on the CPU of every thread (schedstat): the clock ticks of /proc/PID/stat
    # are 10 ms, too coarse for a 1 MB burst.
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        return total / 1e9
    except (OSError, ValueError, IndexError):
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


def command_and_env(program, device, workdir):
    """The program's command line and environment for the sensor at device."""
    exe = program.command[0]
    if program.copy:
        exe = os.path.join(workdir, os.path.basename(program.copy))
        if not os.path.exists(exe):
            shutil.copy(program.copy, exe)
    command = [part.replace("{exe}", exe).replace("{device}", device) for part in program.command]
    env = dict(os.environ)
    env.update({k: v.replace("{device}", device) for k, v in program.env.items()})
    if program.prepare:
        env.update(program.prepare(device, workdir))
    return command, env


def launch(program, device, workdir):
    command, env = command_and_env(program, device, workdir)
    return STARTED.start(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         cwd=workdir)


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
    command, env = command_and_env(program, device, workdir)
    env.pop("ZEL_CONNECT_AT_START", None)
    result = subprocess.run([XPROBE, "startup", program.title, "--", *command], env=env,
                            capture_output=True, text=True, cwd=workdir)
    STARTED.stop(sim)
    try:
        return float(result.stdout.strip().split("\n")[-1])
    except ValueError:
        return float("nan")


class RunFailed(Exception):
    pass


def wait_line(process, seconds):
    if not select.select([process.stdout], [], [], seconds)[0]:
        raise RunFailed(f"no word from {process.args[0]} in {seconds} s")
    return process.stdout.readline()


def wait_until_idle(pid, limit=120):
    """Until the program has taken in what was sent: its CPU use stays under 10 % for 0.2 s."""
    quiet, last, waited = 0, cpu_seconds(pid), 0.0
    while quiet < 2 and waited < limit:
        time.sleep(0.1)
        waited += 0.1
        now = cpu_seconds(pid)
        quiet = quiet + 1 if now - last < 0.01 else 0
        last = now


def burst(program, workdir, size_mb, probe_keys):
    """CPU and memory of a burst; with probe_keys, instead, key delays while it arrives (the
    typing is not counted in the CPU figures of the other runs)."""
    sim, device = sensor("--burst", str(int(size_mb * MB)), "--wait", "3", "--rate", "0")
    process = launch(program, device, workdir)
    time.sleep(1.0)
    wait_for_window(program)
    if program.open_at:
        click(program, program.open_at)
    idle = []
    if probe_keys:
        idle = parse_delays(key_delays(program, 8, 40))
    time.sleep(0.2)
    cpu0, rss0 = cpu_seconds(process.pid), resident_mb(process.pid)
    busy_probe = key_delays(program, 100000, 40) if probe_keys else None
    try:
        wait_line(sim, 60 + 10 * size_mb)  # "burst done"; never, if the port was not opened
    except RunFailed:
        for started in (busy_probe, process, sim):
            if started:
                STARTED.stop(started)
        raise
    wait_until_idle(process.pid)
    cpu1, rss1 = cpu_seconds(process.pid), resident_mb(process.pid)
    busy = []
    if busy_probe:
        STARTED.stop(busy_probe)
        busy = parse_delays(busy_probe)
    STARTED.stop(process)
    STARTED.stop(sim)
    return {"cpu_per_mb": (cpu1 - cpu0) / size_mb, "rss_per_mb": (rss1 - rss0) / size_mb,
            "rss_after": rss1, "rss_before": rss0, "keys": len(busy),
            "busy_worst": max(busy) if busy else float("nan"),
            "busy_median": statistics.median(busy) if busy else float("nan"),
            "idle_median": statistics.median(idle) if idle else float("nan")}


def line_rate(program, workdir, seconds=20):
    sim, device = sensor("--baud", "256000")
    process = launch(program, device, workdir)
    time.sleep(1.0)
    wait_for_window(program)
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
    parser.add_argument("--cutecom", action="store_true")
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
    if args.cutecom:
        programs.append(cutecom())
    if args.peer:
        point = lambda text: tuple(int(v) for v in text.split(",")) if text else None
        programs.append(Program(args.peer, args.peer_command.split(), args.peer_title,
                                point(args.peer_input),
                                env=dict(e.split("=", 1) for e in args.peer_env),
                                open_at=point(args.peer_open)))

    # Ended from outside, the processes started here are still ended.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    os.environ["DISPLAY"] = private_display()
    os.environ.pop("QT_QPA_PLATFORM", None)
    os.environ.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp())
    rows = []
    try:
        for program in programs:
            runs = []
            attempts = 0
            while len(runs) < args.runs:
                workdir = tempfile.mkdtemp()
                try:
                    result = {"startup": startup_ms(program, workdir)}
                    b1 = burst(program, workdir, 1, False)
                    b5 = burst(program, workdir, 5, False)
                    k5 = burst(program, workdir, 5, True)
                    result.update({"cpu1": b1["cpu_per_mb"], "cpu5": b5["cpu_per_mb"],
                                   "rss1": b1["rss_per_mb"], "rss5": b5["rss_per_mb"],
                                   "keys": k5["keys"], "busy_worst": k5["busy_worst"],
                                   "busy_median": k5["busy_median"], "idle": k5["idle_median"],
                                   "line": line_rate(program, workdir)})
                except RunFailed as failure:
                    # A peer that missed its Open click: that run is repeated, twice at most.
                    attempts += 1
                    print(f"  {program.name}: run failed ({failure}), again", flush=True)
                    if attempts > 2:
                        raise
                    continue
                finally:
                    shutil.rmtree(workdir, ignore_errors=True)
                runs.append(result)
                print(f"  {program.name} run {len(runs)}: " +
                      ", ".join(f"{k} {v:.3f}" for k, v in result.items()), flush=True)
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
              "RSS MB/MB 5MB", "keys (5MB)", "key ms worst (5MB)", "key ms median (5MB)",
              "key ms idle",
              "line rate % core", "RSS after 20MB")
    print(" | ".join(header))
    for name, m, b20 in rows:
        print(" | ".join([name, f"{m['startup']:.0f}", f"{m['cpu1']:.3f}", f"{m['cpu5']:.3f}",
                          f"{m['rss1']:.2f}", f"{m['rss5']:.2f}", f"{m['keys']:.0f}",
                          f"{m['busy_worst']:.0f}",
                          f"{m['busy_median']:.1f}", f"{m['idle']:.1f}", f"{m['line']:.1f}",
                          f"{b20['rss_after']:.0f} MB (+{b20['rss_after'] - b20['rss_before']:.0f})"]))


if __name__ == "__main__":
    main()
