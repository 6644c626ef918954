#!/usr/bin/env python3
"""Uncompressed full-screen recordings by quillmark-capture and by ffmpeg (rawvideo AVI), taking
turns, to a folder on the disk and to one in tmpfs: processor time per frame (the recorder's
own plus the X server's, less the X server's share for the animation) and the growth of the
page cache ("Cached" in /proc/meminfo) while each ran, against the bytes written.

Usage: measure.py TOOL DISK_DIR MEMORY_DIR SHELL_PID
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "record-vs-ffmpeg"))
from measure import (FPS, cpu_seconds, frames_in, net_per_frame, server_baseline,  # noqa: E402
                     x11grab, xvfb_pid)

# What the disk run must meet: processor time against ffmpeg's, cache growth against bytes.
TIME_TARGET = 0.45
CACHE_TARGET = 0.05


def cached_bytes():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("Cached:"):
                return int(line.split()[1]) * 1024
    return 0


def run(command, server):
    """Runs command to its end; returns (own cpu s, X server cpu s, wall s, peak cache growth)."""
    cache0 = cached_bytes()
    x0 = cpu_seconds(server)
    t0 = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    peak = 0
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        peak = max(peak, cached_bytes() - cache0)
        time.sleep(0.05)
    peak = max(peak, cached_bytes() - cache0)
    wall = time.monotonic() - t0
    x1 = cpu_seconds(server)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(command)}\n{process.stderr.read().decode(errors='replace')}")
    return usage.ru_utime + usage.ru_stime, x1 - x0, wall, peak


def main():
    tool, disk, memory, parent = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    seconds = float(os.environ.get("QM_BENCH_SECONDS", "4"))
    repeat = int(os.environ.get("QM_BENCH_REPEAT", "3"))
    server = xvfb_pid(parent)
    display = os.environ["DISPLAY"]
    width, height = 1920, 1080

    baseline = server_baseline(server, seconds)
    print(f"X server alone (animation): {baseline * 1000:.1f} ms processor per second")
    print(f"{seconds:g} s of {width}x{height} uncompressed at {FPS} fps, median of {repeat} runs; "
          "cache: growth of Cached during the run, in % of the bytes written")
    print(f"{'folder':<8}{'recorder':<11}{'frames':>7}{'ms/frame':>10}{'own ms':>8}{'X ms':>7}"
          f"{'MB':>8}{'cache MB':>10}{'cache %':>9}")

    ours = [tool, "record", None, "--fps", str(FPS), "--seconds", str(seconds), "--codec", "DIB"]
    theirs = x11grab(display, width, height, seconds) + ["-c:v", "rawvideo", "-pix_fmt", "bgr24",
                                                          None]
    verdicts = []
    for folder, where in (("disk", disk), ("tmpfs", memory)):
        runs = {"quillmark": [], "ffmpeg": []}
        for _ in range(repeat):
            for who, command in (("quillmark", ours), ("ffmpeg", theirs)):
                path = os.path.join(where, f"{who}.avi")
                command = [path if part is None else part for part in command]
                os.sync()
                own, xserver, wall, cache = run(command, server)
                frames = max(frames_in(path), 1)
                size = os.path.getsize(path)
                net = net_per_frame(own, xserver, baseline, wall, frames)
                runs[who].append((net, own / frames, xserver / frames, frames, size, cache))
                os.remove(path)
        results = {}
        for who in ("quillmark", "ffmpeg"):
            net, own, xserver, frames, size, cache = sorted(runs[who])[len(runs[who]) // 2]
            results[who] = (net, cache / max(size, 1))
            print(f"{folder:<8}{who:<11}{frames:>7}{net * 1000:>10.2f}{own * 1000:>8.2f}"
                  f"{xserver * 1000:>7.2f}{size / 1e6:>8.0f}{cache / 1e6:>10.1f}"
                  f"{100 * cache / max(size, 1):>8.1f}%"
                  f"   runs: {' '.join(f'{r[0] * 1000:.2f}' for r in runs[who])}")
        ratio = results["quillmark"][0] / results["ffmpeg"][0]
        print(f"{folder:<8}ratio ours/ffmpeg {ratio:.2f}")
        if folder == "disk":
            verdicts.append(f"time {ratio:.2f} (target <= {TIME_TARGET}) "
                            + ("met" if ratio <= TIME_TARGET else "NOT met"))
            share = results["quillmark"][1]
            verdicts.append(f"cache {100 * share:.1f}% (target < {100 * CACHE_TARGET:g}%) "
                            + ("met" if share < CACHE_TARGET else "NOT met"))
    print("disk: " + "; ".join(verdicts))
    return 0


if __name__ == "__main__":
    sys.exit(main())
