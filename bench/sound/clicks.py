#!/usr/bin/env python3
"""Whether recorded sound keeps its time: a click every second plays into the sound server's
default output while quillmark-capture records the desktop's sound and parecord records the
same monitor beside it; prints, for both, how many intervals between clicks are off by more
than 2 ms and the worst. Holes or cuts in the sound show up as such intervals.

Usage: clicks.py TOOL   (DISPLAY and PULSE_SERVER name the servers; QM_BENCH_SECONDS, default
60, sets the length)
"""
import array
import os
import subprocess
import sys
import tempfile

SECONDS = int(float(os.environ.get("QM_BENCH_SECONDS", "60")))
RATE = 48000


def clicks_in(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "s16le",
                          "-ac", "1", "-ar", str(RATE), "-"], capture_output=True).stdout
    samples = array.array("h", raw[: len(raw) // 2 * 2])
    found, after = [], 0
    for i, value in enumerate(samples):
        # A click's first loud sample; the rest of the burst is not another.
        if i >= after and abs(value) > 8000:
            found.append(i)
            after = i + RATE // 10
    return found


def report(name, found):
    steps = [b - a for a, b in zip(found, found[1:])]
    off = [s - RATE for s in steps if abs(s - RATE) > RATE * 2 // 1000]
    worst = max((abs(s - RATE) for s in steps), default=0)
    print(f"{name:12} {len(found):6} clicks  {len(off):3} of {len(steps)} intervals off by > 2 ms"
          f"  worst {worst * 1000 / RATE:6.1f} ms"
          + (f" ({', '.join(f'{o * 1000 / RATE:+.1f}' for o in off)} ms)" if off else ""))


def main():
    tool = sys.argv[1]
    work = tempfile.mkdtemp()
    track = os.path.join(work, "clicks.wav")
    # A 2 ms burst at the start of every second.
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    f"aevalsrc='if(lt(mod(t,1),0.002),0.8*sin(2*PI*3000*t),0)'"
                    f":s={RATE}:d={SECONDS + 6}", "-ac", "2", track], check=True)
    monitor = subprocess.run(["pactl", "get-default-sink"], capture_output=True,
                             text=True).stdout.strip() + ".monitor"
    ours = os.path.join(work, "ours.avi")
    theirs = os.path.join(work, "theirs.wav")
    player = subprocess.Popen(["paplay", track])
    reference = subprocess.Popen(["parecord", "-d", monitor, "--rate", str(RATE), "--channels",
                                  "2", "--file-format=wav", theirs])
    try:
        subprocess.run([tool, "record", ours, "--area", "0,0,320,240", "--fps", "10",
                        "--seconds", str(SECONDS), "--sound", "desktop", "--quiet"],
                       check=False, timeout=SECONDS * 3 + 60)
    finally:
        reference.terminate()
        reference.wait()
        player.terminate()
        player.wait()
    report("quillmark", clicks_in(ours))
    report("parecord", clicks_in(theirs))


if __name__ == "__main__":
    main()
