#!/usr/bin/env python3
"""Records the scene on the whole screen of DISPLAY with quillmark-capture (H264) and, in turn,
with SimpleScreenRecorder, ffmpeg's x11grab and GStreamer's ximagesrc, all with x264 at the same
settings (veryfast, zerolatency, rate factor 23, a key frame a second, 30 fps). For each: the
processor time per frame (the recorder's own and what it cost the X server, beyond the X
server's share for drawing the scene), the frames in the file and the PSNR of sampled frames
against the pictures that were on the screen; medians of QM_BENCH_REPEAT (3) runs.

Processor time is counted from the moment the recorder's file appears to its exit, so that
starting a program with a window of its own is not counted against it.

Usage: measure.py TOOL SCENE OUTDIR SETTINGS   (QM_XVFB_PID names the X server of DISPLAY,
which shows SCENE; SETTINGS is SimpleScreenRecorder's settings template; QM_BENCH_BEFORE names
another quillmark-capture, an earlier build, to measure beside this one as "before")
"""
import os
import re
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from media import frames_in  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")
FPS = 30
CRF = 23
SECONDS = float(os.environ.get("QM_BENCH_SECONDS", "10"))
REPEAT = int(os.environ.get("QM_BENCH_REPEAT", "3"))
# Every SAMPLE-th frame of a recording is judged.
SAMPLE = 15
CODE_BITS = 20
CODE_BLOCK = 16
TARGET = 0.9  # ours at most this share of SimpleScreenRecorder's
OWN_THREADS = 4  # quillmark-capture's threads recording without sound


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / TICK


def packets_in(path):
    """Frames of a Matroska file: its video packets."""
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
         "stream=nb_read_packets", "-of", "csv=p=0", path], capture_output=True, text=True)
    try:
        return int(out.stdout.strip().split(",")[0])
    except ValueError:
        return 0


class Run:
    """One recorder's run: started by start(), timed from its file's appearance."""

    def __init__(self, server, path):
        self.server, self.path = server, path

    def timed(self, process, stop):
        """Waits for the file, marks the processor time, lets stop() end the recording, and
        returns (recorder s, X server s, wall s) since the mark."""
        while not os.path.exists(self.path):
            if process.poll() is not None:
                sys.exit(f"{process.args[0]} ended before recording: "
                         f"{process.stderr.read().decode(errors='replace') if process.stderr else ''}")
            time.sleep(0.005)
        own0, x0, t0 = cpu_seconds(process.pid) or 0.0, cpu_seconds(self.server), time.monotonic()
        stop(process)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.monotonic() - t0
        x1 = cpu_seconds(self.server)
        code = os.waitstatus_to_exitcode(status)
        if code not in (0, -signal.SIGINT):
            sys.exit(f"{process.args[0]} failed ({code})")
        return usage.ru_utime + usage.ru_stime - own0, x1 - x0, wall


def thread_counts(pid):
    """The process's thread count every 100 ms until it has ended (and waits to be reaped)."""
    counts = []
    while True:
        try:
            with open(f"/proc/{pid}/status") as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
        except OSError:
            break
        if fields.get("State", "Z").strip().startswith("Z"):
            break
        counts.append(int(fields["Threads"]))
        time.sleep(0.1)
    return counts


def quillmark(tool, run):
    """Also the share of the recording x264 spent in slices: the time the process ran the
    slices' workers beside its own threads (the main, capture, writer and file syncer threads
    of a recording without sound)."""
    process = subprocess.Popen(
        [tool, "record", run.path, "--fps", str(FPS), "--seconds", str(SECONDS), "--codec",
         "H264", "--quiet"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    counts = []
    figures = run.timed(process, lambda p: counts.extend(thread_counts(p.pid)))
    sliced = sum(c > OWN_THREADS + 1 for c in counts) / len(counts) * 100 if counts else 0
    return figures, frames_in(run.path), sliced


def simplescreenrecorder(template, outdir, size, run):
    settings = os.path.join(outdir, "ssr.conf")
    with open(template) as f:
        text = f.read()
    with open(settings, "w") as f:
        f.write(text.replace("@WIDTH@", str(size[0])).replace("@HEIGHT@", str(size[1]))
                .replace("@FILE@", run.path))
    process = subprocess.Popen(
        ["simplescreenrecorder", f"--settingsfile={settings}", "--start-hidden",
         "--start-recording", "--no-systray", f"--statsfile={os.path.join(outdir, 'ssr.stats')}"],
        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(p):
        time.sleep(SECONDS)
        p.stdin.write(b"record-save\nquit\n")
        p.stdin.flush()

    return run.timed(process, stop), packets_in(run.path), None


def ffmpeg(display, size, run):
    process = subprocess.Popen(
        ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "x11grab", "-draw_mouse", "0",
         "-framerate", str(FPS), "-video_size", f"{size[0]}x{size[1]}", "-i", f"{display}+0,0",
         "-t", str(SECONDS), "-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency",
         "-crf", str(CRF), "-g", str(FPS), "-pix_fmt", "yuv420p", run.path],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return run.timed(process, lambda p: None), packets_in(run.path), None


def gstreamer(run):
    # x264enc's quality mode is the rate factor; its default bit rate would cap it through the
    # VBV, so the rate is set out of reach.
    process = subprocess.Popen(
        ["gst-launch-1.0", "-q", "-e", "ximagesrc", "use-damage=false", "show-pointer=false", "!",
         f"video/x-raw,framerate={FPS}/1", "!", "videoconvert", "!", "video/x-raw,format=I420",
         "!", "x264enc", "speed-preset=veryfast", "tune=zerolatency", "pass=qual",
         f"quantizer={CRF}", "bitrate=2048000", f"key-int-max={FPS}", "!", "matroskamux", "!",
         "filesink", f"location={run.path}"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def stop(p):
        time.sleep(SECONDS)
        p.send_signal(signal.SIGINT)

    return run.timed(process, stop), packets_in(run.path), None


def code_of(frame, width):
    """The picture number the scene drew into the frame's top left blocks."""
    k = 0
    for bit in range(CODE_BITS):
        centre = ((CODE_BLOCK // 2) * width + bit * CODE_BLOCK + CODE_BLOCK // 2) * 3
        if sum(frame[centre:centre + 3]) > 3 * 128:
            k |= 1 << bit
    return k


def psnr(scene, path, size, outdir):
    """PSNR in dB of every SAMPLE-th frame of the file against the scene's picture of the
    number it carries (over all their pixels and colours at once)."""
    width, height = size
    frame_bytes = width * height * 3
    decoded = subprocess.run(
        ["ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-vf",
         f"select=not(mod(n\\,{SAMPLE}))", "-fps_mode", "passthrough", "-f", "rawvideo",
         "-pix_fmt", "bgr24", "-"], capture_output=True, check=True).stdout
    frames = [decoded[i:i + frame_bytes] for i in range(0, len(decoded) - frame_bytes + 1,
                                                        frame_bytes)]
    if not frames:
        return 0.0
    ours = os.path.join(outdir, "sampled.raw")
    with open(ours, "wb") as f:
        for frame in frames:
            f.write(frame)
    codes = "\n".join(str(code_of(frame, width)) for frame in frames) + "\n"
    reference = os.path.join(outdir, "reference.raw")
    with open(reference, "wb") as f:
        subprocess.run([scene, "--render", f"{width}x{height}"], input=codes.encode(), stdout=f,
                       stderr=subprocess.DEVNULL, check=True)
    raw = ["-f", "rawvideo", "-pix_fmt", "bgr24", "-s", f"{width}x{height}"]
    report = subprocess.run(
        ["ffmpeg", "-nostdin", "-hide_banner"] + raw + ["-i", ours] + raw +
        ["-i", reference, "-lavfi", "psnr", "-f", "null", "-"],
        capture_output=True, text=True).stderr
    os.remove(ours)
    os.remove(reference)
    match = re.search(r"PSNR .*average:([0-9.]+|inf)", report)
    return float(match.group(1)) if match else 0.0


def screen_size():
    out = subprocess.run(["xdpyinfo"], capture_output=True, text=True, check=True).stdout
    match = re.search(r"dimensions:\s+(\d+)x(\d+) pixels", out)
    return int(match.group(1)), int(match.group(2))


def main():
    tool, scene, outdir, template = sys.argv[1:5]
    server = int(os.environ["QM_XVFB_PID"])
    display = os.environ["DISPLAY"]
    size = screen_size()

    x0 = cpu_seconds(server)
    time.sleep(SECONDS)
    baseline = (cpu_seconds(server) - x0) / SECONDS
    print(f"{size[0]}x{size[1]}, {SECONDS:g} s at {FPS} fps, H264 veryfast zerolatency CRF {CRF}"
          f", key frame every {FPS}; X server alone (scene): {baseline * 1000:.1f} ms a second")

    recorders = {"quillmark": lambda run: quillmark(tool, run)}
    if os.environ.get("QM_BENCH_BEFORE"):
        recorders["before"] = lambda run: quillmark(os.environ["QM_BENCH_BEFORE"], run)
    recorders |= {
        "ssr": lambda run: simplescreenrecorder(template, outdir, size, run),
        "ffmpeg": lambda run: ffmpeg(display, size, run),
        "gstreamer": gstreamer,
    }
    results = {name: [] for name in recorders}
    for _ in range(REPEAT):
        for name, record in recorders.items():
            path = os.path.join(outdir, name + (".avi" if name in ("quillmark", "before") else ".mkv"))
            if os.path.exists(path):
                os.remove(path)
            os.sync()
            (own, xserver, wall), frames, sliced = record(Run(server, path))
            frames = max(frames, 1)
            net = (own + max(xserver - baseline * wall, 0.0)) / frames
            results[name].append((net * 1000, own / frames * 1000, xserver / frames * 1000,
                                  frames, psnr(scene, path, size, outdir), sliced))
            os.remove(path)

    print(f"{'recorder':<11}{'ms/frame':>9}{'own ms':>8}{'X ms':>7}{'frames':>7}{'PSNR dB':>9}"
          f"{'ours/theirs':>13}   runs (ms/frame/frames, and the % of the time in slices)")
    ours = statistics.median(r[0] for r in results["quillmark"])
    for name, runs in results.items():
        column = [statistics.median(r[i] for r in runs) for i in range(5)]
        ratio = f"{ours / column[0]:.2f}" if name != "quillmark" else ""
        print(f"{name:<11}{column[0]:>9.2f}{column[1]:>8.2f}{column[2]:>7.2f}{column[3]:>7.0f}"
              f"{column[4]:>9.2f}{ratio:>13}   "
              + " ".join(f"{r[0]:.2f}/{r[3]}" + (f"/{r[5]:.0f}%" if r[5] is not None else "")
                         for r in runs))
    ratio = ours / statistics.median(r[0] for r in results["ssr"])
    print(f"ours/SimpleScreenRecorder {ratio:.2f} (target <= {TARGET}) "
          + ("met" if ratio <= TARGET else "NOT met"))
    sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
