#!/usr/bin/env python3
"""Records the whole screen with quillmark-capture and with ffmpeg's x11grab, one after the
other, and compares processor time per frame (the recorder's own plus the X server's share),
frames written and file size. Then watches the resident memory of one long recording.

Usage: measure.py TOOL OUTDIR SHELL_PID   (DISPLAY names the X server, which SHELL_PID
started, or QM_XVFB_PID names it; QM_BENCH_SECONDS and QM_BENCH_MEMORY_SECONDS shorten the
runs, QM_BENCH_MEMORY_SECONDS=0 leaves the memory run out; QM_BENCH_CASES picks the cases by
code, "DIB,MP42,H264" by default)
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from media import frames_in  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
FPS = 30


def xvfb_pid(parent):
    """The Xvfb that the shell which started us started (scripts/bench, or the caller's)."""
    if os.environ.get("QM_XVFB_PID"):
        return int(os.environ["QM_XVFB_PID"])
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        name = text[text.index("(") + 1:text.rindex(")")]
        ppid = int(text.rsplit(")", 1)[1].split()[1])
        if name == "Xvfb" and ppid == parent:
            return int(entry)
    sys.exit("no Xvfb started by the calling shell; set QM_XVFB_PID")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def run(command, server):
    """Runs command to its end; returns (own cpu s, X server cpu s, wall s)."""
    x0 = cpu_seconds(server)
    t0 = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - t0
    x1 = cpu_seconds(server)
    if process.returncode != 0:
        sys.exit(f"failed ({process.returncode}): {' '.join(command)}\n"
                 f"{process.stderr.read().decode(errors='replace')}")
    return usage.ru_utime + usage.ru_stime, x1 - x0, wall


def server_baseline(server, seconds):
    """The X server's processor seconds per second while it only draws the screen's content,
    to take out of every recorder's figure."""
    x0 = cpu_seconds(server)
    time.sleep(seconds)
    return (cpu_seconds(server) - x0) / seconds


def x11grab(display, width, height, seconds):
    """ffmpeg's x11grab of the whole screen at FPS for seconds; the codec and file follow."""
    return ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "x11grab",
            "-draw_mouse", "0", "-framerate", str(FPS),
            "-video_size", f"{width}x{height}", "-i", f"{display}+0,0", "-t", str(seconds)]


def screen_size():
    """The whole screen of DISPLAY, as xdpyinfo reports it."""
    out = subprocess.run(["xdpyinfo"], capture_output=True, text=True, check=True).stdout
    match = re.search(r"dimensions:\s+(\d+)x(\d+) pixels", out)
    if not match:
        sys.exit("xdpyinfo names no screen size")
    return int(match.group(1)), int(match.group(2))


def net_per_frame(own, xserver, baseline, wall, frames):
    """Processor seconds per frame: the recorder's own plus what it cost the X server."""
    return (own + max(xserver - baseline * wall, 0.0)) / frames


def main():
    tool, outdir, parent = sys.argv[1], sys.argv[2], int(sys.argv[3])
    seconds = float(os.environ.get("QM_BENCH_SECONDS", "10"))
    memory_seconds = float(os.environ.get("QM_BENCH_MEMORY_SECONDS", "600"))
    server = xvfb_pid(parent)
    display = os.environ["DISPLAY"]
    width, height = screen_size()
    wanted = os.environ.get("QM_BENCH_CASES", "DIB,MP42,H264").split(",")

    # What the X server spends on the moving content alone, to take out of both recorders.
    baseline = server_baseline(server, seconds)
    print(f"X server alone (animation): {baseline * 1000:.1f} ms processor per second")

    ffmpeg_grab = x11grab(display, width, height, seconds)
    cases = [
        ("uncompressed", ["--codec", "DIB"], ["-c:v", "rawvideo", "-pix_fmt", "bgr24"], 0.6),
        # The same key-frame interval as ours: one key frame per second.
        ("MPEG-4 v2", ["--codec", "MP42"],
         ["-c:v", "msmpeg4v2", "-qscale:v", "4", "-g", str(FPS)], 0.75),
        # x264 as ours runs it: veryfast, no look-ahead, a key frame per second.
        ("H264", ["--codec", "H264"],
         ["-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-g", str(FPS)], 0.85),
    ]
    cases = [case for case in cases if case[1][1] in wanted]
    print(f"\n{seconds:g} s of {width}x{height} at {FPS} fps; processor time per frame "
          "= recorder + X server - X server's share for the animation (median of "
          f"{os.environ.get('QM_BENCH_REPEAT', '3')} runs; raw: without taking the animation out)")
    expected = int(round(seconds * FPS))
    print(f"frames: in the file (empty ones of unchanged frames included) of the {expected} due")
    print(f"{'case':<14}{'recorder':<11}{'frames':>7}{'ms/frame':>10}{'(raw)':>9}"
          f"{'own ms':>8}{'X ms':>7}{'MB':>9}")
    # The uncompressed runs write 6 MB per frame, so the kernel's page-cache copy is most of
    # their processor time and it varies with the state of the page cache: the two recorders
    # take turns, several times, and the median counts.
    repeat = int(os.environ.get("QM_BENCH_REPEAT", "3"))
    for name, ours_args, ffmpeg_args, target in cases:
        runs = {"quillmark": [], "ffmpeg": []}
        for _ in range(repeat):
            for who in ("quillmark", "ffmpeg"):
                path = os.path.join(outdir, f"{who}-{ours_args[1]}.avi")
                if who == "quillmark":
                    command = [tool, "record", path, "--fps", str(FPS), "--seconds", str(seconds)]
                    command += ours_args
                else:
                    command = ffmpeg_grab + ffmpeg_args + [path]
                os.sync()
                own, xserver, wall = run(command, server)
                frames = max(frames_in(path), 1)
                net = net_per_frame(own, xserver, baseline, wall, frames)
                runs[who].append((net, (own + xserver) / frames, own / frames, xserver / frames,
                                  frames, os.path.getsize(path) / 1e6))
                os.remove(path)
        results = {}
        for who in ("quillmark", "ffmpeg"):
            net, raw, own, xserver, frames, size = sorted(runs[who])[len(runs[who]) // 2]
            results[who] = net
            print(f"{name:<14}{who:<11}{frames:>7}{net * 1000:>10.2f}{raw * 1000:>9.2f}"
                  f"{own * 1000:>8.2f}{xserver * 1000:>7.2f}{size:>9.1f}"
                  f"   runs: {' '.join(f'{r[0] * 1000:.2f}' for r in runs[who])}"
                  f"   frames: {' '.join(str(r[4]) for r in runs[who])}")
        ratio = results["quillmark"] / results["ffmpeg"]
        verdict = "met" if ratio <= target else "NOT met"
        print(f"{name:<14}ratio ours/ffmpeg {ratio:.2f} (target <= {target}) {verdict}")

    # Resident memory over one long recording must not grow: the index goes to the spool
    # file, and nothing is allocated per frame.
    if memory_seconds <= 0:
        return 0
    path = os.path.join(outdir, "memory.avi")
    command = [tool, "record", path, "--fps", str(FPS), "--seconds", str(memory_seconds),
               "--codec", "MP42"]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    settle = min(5.0, memory_seconds / 4)
    time.sleep(settle)
    first = rss_kib(process.pid)
    peak = first
    last = first
    while process.poll() is None:
        time.sleep(1)
        if process.poll() is None:
            last = rss_kib(process.pid) or last
            peak = max(peak, last)
    frames = frames_in(path)
    print(f"\nresident memory, {memory_seconds:g} s recording at {FPS} fps ({frames} frames, MP42): "
          f"{first / 1024:.1f} MiB after {settle:g} s, {last / 1024:.1f} MiB at the end, "
          f"peak {peak / 1024:.1f} MiB")
    grew = last > first * 1.05 + 1024
    print("memory: " + ("GREW" if grew else "steady"))
    os.remove(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
