#!/usr/bin/env bash
# Soak: the simulated sensor at 256000 baud for a while into Zel_Connect (offscreen) with the
# log on. Reports resident memory over the run, the program's CPU use, and the samples the
# sensor sent against the lines in app.txt.
# Usage: bench/soak.sh [seconds, default 600]   (after a build: build/bin must exist)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
work="$(mktemp -d)"
cp build/bin/Zel_Connect "$work/"

build/bin/zel-colorsim --baud 256000 --garbage 2 --link "$work/sensor" >/dev/null 2>"$work/sensor.log" &
sensor=$!
trap 'kill "$sensor" "${program:-}" 2>/dev/null || true' EXIT
while [ ! -e "$work/sensor" ]; do sleep 0.1; done

QT_QPA_PLATFORM=offscreen ZEL_COM1="$work/sensor" ZEL_CONNECT_AT_START=1 "$work/Zel_Connect" \
    >/dev/null 2>&1 &
program=$!
ticks=$(getconf CLK_TCK)
rss() { awk '/VmRSS/ {print $2}' "/proc/$program/status"; }
cpu() { awk -v t="$ticks" '{print ($14 + $15) / t}' "/proc/$program/stat"; }

sleep 5
start_rss=$(rss); start_cpu=$(cpu); start_time=$(date +%s.%N)
peak_rss=$start_rss
echo "seconds  rss_kB  log_lines"
for ((elapsed = 0; elapsed < seconds; elapsed += 30)); do
    sleep 30
    now=$(rss); [ "$now" -gt "$peak_rss" ] && peak_rss=$now
    echo "$((elapsed + 30))  $now  $(wc -l < "$work/app.txt")"
done
end_rss=$(rss); end_cpu=$(cpu); end_time=$(date +%s.%N)

kill -INT "$sensor"; wait "$sensor" || true
sleep 2 # the program takes in what was still on its way
logged=$(wc -l < "$work/app.txt")
kill "$program"; wait "$program" 2>/dev/null || true
sent=$(sed -n 's/.*sent \([0-9]*\) lines.*/\1/p' "$work/sensor.log")
lost=$(sed -n 's/.*; \([0-9]*\) lines while.*/\1/p' "$work/sensor.log")

echo
echo "resident memory: $start_rss kB after 5 s, $end_rss kB at the end, peak $peak_rss kB"
awk -v c0="$start_cpu" -v c1="$end_cpu" -v t0="$start_time" -v t1="$end_time" \
    'BEGIN { printf "CPU: %.1f s in %.0f s, %.1f %% of one core\n", c1 - c0, t1 - t0, 100 * (c1 - c0) / (t1 - t0) }'
echo "sensor: $(cat "$work/sensor.log")"
echo "lines the sensor sent while connected: $sent (lost before Connect: $lost)"
echo "lines in app.txt: $logged (the last line sent waits for the next R: expected $((sent - 1)))"
# Every logged sample is a line the sensor sent, in order, exactly once.
duplicates=$(cut -d, -f2- "$work/app.txt" | uniq -d | wc -l)
echo "adjacent repeated samples in app.txt: $duplicates"
rm -rf "$work"
