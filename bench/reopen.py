#!/usr/bin/env python3
"""How soon a device that went away is open again once it is back.

A sensor on a pseudo-terminal behind a link (Com 1) streams distinct samples at a line rate
into Zel_Connect, then goes away (its terminal closed, the link removed) and comes back (a new
terminal behind the same link), again and again. For every return it measures the time from
the moment the link leads to the device again to the moment the program has the terminal
open, and counts the samples the sensor sent meanwhile (lost: nobody had the port open). At
the end the log must hold only samples that were sent, each once and in order.

With --wait-seconds N, the device then stays away for N seconds while the CPU the program
uses waiting for it is measured (under Wine, the wineserver's too), before it comes back for
the last samples.

Usage: bench/reopen.py [--glitches N] [--baud N] [--program build/bin/Zel_Connect] [--seed N]
           [--wine [PREFIX]] [--wait-seconds N]
With --wine, the program is the Windows build (build-windows/bin/Zel_Connect.exe) run by wine
in the prefix scripts/windows-test prepares, where COM1 leads to PREFIX/zel-com1; its log is
app.txt beside it (one there before is moved aside).
Run it after a build; nothing else should load the machine meanwhile.
"""
import argparse
import os
import random
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LINE = "R={:04d} G={:04d} B=1000\r\n"  # each reading four characters, as a sensor sends


def sample_line(number):
    return LINE.format(number % 10000, number // 10000 % 10000).encode()


def sample_number(red, green):
    return int(green) * 10000 + int(red)


class Sensor:
    """The device end of the terminal behind the link; gone and back as asked."""

    def __init__(self, link, baud):
        self.link = link
        self.bytes_per_second = baud / 10
        self.master = None
        self.next_number = 0
        self.sent = []  # numbers of the samples the program could hear
        self.unheard = 0  # samples sent while nobody had the port open
        self.budget = 0.0
        self.last = time.monotonic()

    def come_back(self):
        master, slave = os.openpty()
        name = os.ttyname(slave)
        os.close(slave)
        temporary = self.link + ".new"
        if os.path.lexists(temporary):
            os.remove(temporary)
        os.symlink(name, temporary)
        self.master = master
        os.rename(temporary, self.link)  # the device appears at once, whole
        return time.monotonic()

    def go_away(self):
        os.remove(self.link)
        os.close(self.master)
        self.master = None

    def heard(self):
        """True while the program has the terminal open."""
        state = select.poll()
        state.register(self.master, select.POLLHUP)
        return not any(event & select.POLLHUP for _, event in state.poll(0))

    def stream(self, open_now):
        """Samples due by now at the line rate: written when heard, else lost."""
        now = time.monotonic()
        self.budget += (now - self.last) * self.bytes_per_second
        self.last = now
        lines = []
        while self.budget >= len(sample_line(self.next_number)):
            line = sample_line(self.next_number)
            self.budget -= len(line)
            lines.append((self.next_number, line))
            self.next_number += 1
        if not open_now:
            self.unheard += len(lines)
            return len(lines)
        # Whole lines only (a blocking write: the program reads at least every 100 ms), so
        # that no line is cut and what follows it mixed in.
        for number, line in lines:
            try:
                os.write(self.master, line)
            except OSError:
                self.unheard += 1
                continue
            self.sent.append(number)
        return 0


def cpu_seconds(pid):
    """CPU time of a process, all its threads, so far."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wineserver_pids():
    pids = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/comm") as comm:
                if comm.read().strip().startswith("wineserver"):
                    pids.append(int(entry))
        except (OSError, ValueError):
            continue
    return pids


def cpu_while_away(sensor, seconds, pid, wine):
    """The share of a core the program (and wineserver) takes while the device is away."""
    sensor.go_away()
    time.sleep(1.0)  # the loss handled
    servers = wineserver_pids() if wine else []
    before = [cpu_seconds(p) for p in [pid] + servers]
    time.sleep(seconds)
    after = [cpu_seconds(p) for p in [pid] + servers]
    shares = [100 * (b - a) / seconds for a, b in zip(before, after)]
    return shares[0], sum(shares[1:])


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--glitches", type=int, default=200)
    parser.add_argument("--baud", type=int, default=256000)
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "bin", "Zel_Connect"))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--wine", metavar="PREFIX", nargs="?", const=os.path.expanduser(
        "~/.cache/zel-connect/windows/wineprefix"))
    parser.add_argument("--wait-seconds", type=float, default=0)
    args = parser.parse_args()
    random.seed(args.seed)

    work = tempfile.mkdtemp(prefix="zel-reopen-")
    program = os.path.join(work, os.path.basename(args.program))
    if args.wine:
        # The Windows program needs its runtime beside it: run it where it was built.
        program = args.program
        if program == parser.get_default("program"):
            program = os.path.join(ROOT, "build-windows", "bin", "Zel_Connect.exe")
        log = os.path.join(os.path.dirname(program), "app.txt")
        if os.path.exists(log):
            os.replace(log, log + ".before-bench")
        link = os.path.join(args.wine, "zel-com1")
    else:
        shutil.copy2(args.program, program)
        link = os.path.join(work, "sensor")
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZEL_CONNECT_AT_START="1",
                       ZEL_COM1=link, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                       XDG_DATA_HOME=os.path.join(work, "data"))
    if args.wine:
        environment.update(WINEPREFIX=args.wine, WINEDEBUG="-all")
    sensor = Sensor(link, args.baud)
    if os.path.lexists(link):
        os.remove(link)
    back_at = sensor.come_back()
    command = ["wine", program] if args.wine else [program]
    started = subprocess.Popen(command, env=environment, cwd=work,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    reopen_ms = []
    lost_per_glitch = []
    try:
        for glitch in range(args.glitches + 1):
            # Back: wait until the program has the terminal open, the sensor talking meanwhile.
            lost = 0
            deadline = time.monotonic() + (60 if glitch == 0 else 10)  # Wine starts slowly
            while not sensor.heard():
                if time.monotonic() > deadline or started.poll() is not None:
                    sys.exit(f"the program did not open the device again (glitch {glitch})")
                lost += sensor.stream(False)
                time.sleep(0.001)
            if glitch > 0:
                reopen_ms.append((time.monotonic() - back_at) * 1000)
                lost_per_glitch.append(lost)
            if glitch == args.glitches:
                break
            # Talking for a while, then gone for a while.
            until = time.monotonic() + random.uniform(0.2, 0.5)
            while time.monotonic() < until:
                sensor.stream(True)
                time.sleep(0.002)
            sensor.go_away()
            until = time.monotonic() + random.uniform(0.3, 1.5)  # a cable's glitch, a replug
            while time.monotonic() < until:
                sensor.stream(False)
                time.sleep(0.002)
            back_at = sensor.come_back()
        waiting = None
        if args.wait_seconds > 0:
            waiting = cpu_while_away(sensor, args.wait_seconds, started.pid, args.wine)
            sensor.come_back()
            deadline = time.monotonic() + 10
            while not sensor.heard():
                if time.monotonic() > deadline:
                    sys.exit("the program did not open the device again after the wait")
                time.sleep(0.001)
        # The last samples, then the end of the program.
        until = time.monotonic() + 0.5
        while time.monotonic() < until:
            sensor.stream(True)
            time.sleep(0.002)
        os.write(sensor.master, b"R")  # ends the last sample
        time.sleep(1.0)
    finally:
        started.send_signal(signal.SIGTERM)
        try:
            started.wait(20)
        except subprocess.TimeoutExpired:
            started.kill()

    log_path = os.path.join(os.path.dirname(program), "app.txt")
    if not os.path.exists(log_path):
        sys.exit(f"no log in {work}")
    with open(log_path, encoding="latin-1") as log:
        logged = [sample_number(red, green)
                  for red, green in re.findall(r"R=(\d{4}) G=(\d{4}) B=1000", log.read())]
    sent = set(sensor.sent)
    invented = [number for number in logged if number not in sent]
    out_of_order = sum(1 for a, b in zip(logged, logged[1:]) if b <= a)
    print(f"{args.glitches} glitches at {args.baud} baud ({sensor.bytes_per_second / 20:.0f} "
          f"samples/s); program {os.path.basename(args.program)}")
    print(f"reopen after the device is back: median {statistics.median(reopen_ms):.0f} ms, "
          f"95th percentile {percentile(reopen_ms, 0.95):.0f} ms, max {max(reopen_ms):.0f} ms")
    print(f"samples lost per glitch while the device was back but not open: median "
          f"{statistics.median(lost_per_glitch):.0f}, max {max(lost_per_glitch)} "
          f"(at 4 samples/s: median {statistics.median(reopen_ms) * 4 / 1000:.2f})")
    print(f"log: {len(logged)} samples of {len(sent)} written while open (the rest were in the "
          f"terminal when it went away, or the last one); invented {len(invented)}, repeated or "
          f"out of order {out_of_order}")
    if waiting:
        print(f"CPU while waiting {args.wait_seconds:.0f} s for the device: program "
              f"{waiting[0]:.2f} % of a core" +
              (f", wineserver {waiting[1]:.2f} %" if args.wine else ""))
    if not args.wine:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if invented or out_of_order else 0


if __name__ == "__main__":
    sys.exit(main())
