#!/usr/bin/env python3
"""Records three screens (still, typing, moving) with quillmark-capture, with
quillmark-capture --every-frame (every frame written in full, as before empty chunks) and with
ffmpeg's x11grab, taking turns, and compares processor time per frame (the recorder's own plus
the X server's, less what the X server spends on the screen's own drawing) and bytes written
per second.

Usage: idle.py TOOL SCREEN_PROGRAM OUTDIR SHELL_PID
(QM_BENCH_SCREENS, default "still typing moving", names the screens to measure)
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "record-vs-ffmpeg"))
from measure import FPS, net_per_frame, run, server_baseline, x11grab, xvfb_pid  # noqa: E402

WIDTH, HEIGHT = 1920, 1080
# Processor time per frame against ffmpeg's; the moving screen must cost no more than writing
# every frame in full did.
TARGETS = {"still": 0.10, "typing": 0.35}


def avi_frames(path):
    """The frame count of the main AVI header (both writers put it at byte 48)."""
    with open(path, "rb") as f:
        head = f.read(52)
    return int.from_bytes(head[48:52], "little") if len(head) == 52 else 0


def main():
    tool, screen_program, outdir, parent = sys.argv[1:5]
    seconds = float(os.environ.get("QM_BENCH_SECONDS", "3"))
    repeat = int(os.environ.get("QM_BENCH_REPEAT", "3"))
    server = xvfb_pid(int(parent))
    display = os.environ["DISPLAY"]
    ffmpeg_grab = x11grab(display, WIDTH, HEIGHT, seconds)
    codecs = [
        ("uncompressed", ["--codec", "DIB"], ["-c:v", "rawvideo", "-pix_fmt", "bgr24"]),
        ("MP42", ["--codec", "MP42"], ["-c:v", "msmpeg4v2", "-qscale:v", "4", "-g", str(FPS)]),
    ]
    print(f"{seconds:g} s of {WIDTH}x{HEIGHT} at {FPS} fps, median of {repeat}; ms/frame = "
          "recorder + X server - the X server's share for drawing the screen itself")
    print(f"{'screen':<8}{'codec':<14}{'recorder':<13}{'frames':>7}{'ms/frame':>10}"
          f"{'own ms':>8}{'X ms':>7}{'MB/s':>9}{'vs ffmpeg':>11}")
    verdicts = []
    for screen in os.environ.get("QM_BENCH_SCREENS", "still typing moving").split():
        program = subprocess.Popen([screen_program, screen], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL,
                                   env=dict(os.environ, QT_QPA_PLATFORM="xcb"))
        try:
            time.sleep(2)  # shown and drawing
            if program.poll() is not None:
                sys.exit(f"the {screen} screen did not start")
            baseline = server_baseline(server, seconds)
            for name, ours, theirs in codecs:
                commands = {
                    "quillmark": lambda path: [tool, "record", path, "--fps", str(FPS),
                                               "--seconds", str(seconds)] + ours,
                    "every-frame": lambda path: [tool, "record", path, "--fps", str(FPS),
                                                 "--seconds", str(seconds), "--every-frame"]
                    + ours,
                    "ffmpeg": lambda path: ffmpeg_grab + theirs + [path],
                }
                runs = {who: [] for who in commands}
                for _ in range(repeat):
                    for who, command in commands.items():
                        path = os.path.join(outdir, f"{who}.avi")
                        os.sync()
                        own, xserver, wall = run(command(path), server)
                        frames = max(avi_frames(path), 1)
                        net = net_per_frame(own, xserver, baseline, wall, frames)
                        runs[who].append((net, own / frames, xserver / frames, frames,
                                          os.path.getsize(path) / seconds / 1e6))
                        os.remove(path)
                medians = {who: sorted(r)[len(r) // 2] for who, r in runs.items()}
                for who, (net, own, xserver, frames, rate) in medians.items():
                    ratio = net / medians["ffmpeg"][0]
                    print(f"{screen:<8}{name:<14}{who:<13}{frames:>7}{net * 1000:>10.2f}"
                          f"{own * 1000:>8.2f}{xserver * 1000:>7.2f}{rate:>9.2f}{ratio:>11.3f}"
                          f"   runs: {' '.join(f'{r[0] * 1000:.2f}' for r in runs[who])}")
                ours_net = medians["quillmark"][0]
                if screen in TARGETS:
                    ratio = ours_net / medians["ffmpeg"][0]
                    ok = ratio <= TARGETS[screen]
                    verdicts.append(f"{screen} {name}: {ratio:.3f} x ffmpeg (target <= "
                                    f"{TARGETS[screen]}) {'met' if ok else 'NOT met'}")
                else:
                    before = medians["every-frame"][0]
                    ok = ours_net <= before * 1.05
                    verdicts.append(f"{screen} {name}: {ours_net / before:.3f} x every frame in "
                                    f"full (target: no worse) {'met' if ok else 'NOT met'}")
        finally:
            program.terminate()
            program.wait()
    print()
    for verdict in verdicts:
        print(verdict)
    return 0


if __name__ == "__main__":
    sys.exit(main())
