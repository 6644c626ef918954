#!/usr/bin/env python3
"""Processor time per frame of quillmark-capture without sound, with PCM and with MP3 sound,
and of ffmpeg (x11grab + -f pulse) recording the same screen and sound, while a tone plays.

Usage: measure.py TOOL   (DISPLAY and PULSE_SERVER name the servers; QM_BENCH_SECONDS and
QM_BENCH_REPEAT shorten the runs)
"""
import os
import resource
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from media import frames_in  # noqa: E402

SECONDS = float(os.environ.get("QM_BENCH_SECONDS", "10"))
REPEAT = int(os.environ.get("QM_BENCH_REPEAT", "3"))
FPS = 15
AREA = (0, 0, 1920, 1080)  # the whole screen of scripts/bench


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run(command, path):
    before = children_cpu()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False,
                   timeout=SECONDS * 4 + 60)
    cpu = children_cpu() - before
    frames = frames_in(path)
    return cpu, frames


def main():
    tool = sys.argv[1]
    display = os.environ["DISPLAY"]
    work = tempfile.mkdtemp()
    tone = os.path.join(work, "tone.wav")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"sine=frequency=440:duration={SECONDS * (4 * REPEAT + 2)}", "-ar", "48000",
                    "-ac", "2", tone], check=True)
    player = subprocess.Popen(["paplay", tone])
    left, top, width, height = AREA
    area = f"{left},{top},{width},{height}"
    cases = {
        "quillmark, no sound": lambda p: [tool, "record", p, "--area", area, "--fps", str(FPS),
                                          "--seconds", str(SECONDS), "--every-frame", "--quiet"],
        "quillmark, PCM": lambda p: [tool, "record", p, "--area", area, "--fps", str(FPS),
                                     "--seconds", str(SECONDS), "--every-frame", "--quiet",
                                     "--sound", "desktop", "--sound-codec", "pcm"],
        "quillmark, MP3": lambda p: [tool, "record", p, "--area", area, "--fps", str(FPS),
                                     "--seconds", str(SECONDS), "--every-frame", "--quiet",
                                     "--sound", "desktop", "--sound-codec", "mp3"],
        "ffmpeg x11grab + pulse": lambda p: [
            "ffmpeg", "-v", "error", "-y", "-f", "x11grab", "-framerate", str(FPS),
            "-video_size", f"{width}x{height}", "-i", f"{display}+{left},{top}",
            "-f", "pulse", "-i", "default", "-t", str(SECONDS), "-c:v", "msmpeg4v2",
            "-c:a", "libmp3lame", p],
    }
    results = {name: [] for name in cases}
    try:
        for round_ in range(REPEAT):
            for name, command in cases.items():
                path = os.path.join(work, f"r{round_}.avi")
                cpu, frames = run(command(path), path)
                if frames:
                    results[name].append(cpu / frames)
                os.remove(path) if os.path.exists(path) else None
    finally:
        player.terminate()
        player.wait()
    base = min(results["quillmark, no sound"]) if results["quillmark, no sound"] else 0
    print(f"{'recorder':26} {'ms per frame (best of ' + str(REPEAT) + ')':>26} {'x no sound':>12}")
    for name, values in results.items():
        if not values:
            print(f"{name:26} {'failed':>26}")
            continue
        best = min(values)
        ratio = best / base if base else 0
        print(f"{name:26} {best * 1000:26.3f} {ratio:12.3f}")


if __name__ == "__main__":
    main()
