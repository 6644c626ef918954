#!/usr/bin/env python3
"""Drives the real quillmark under openbox and trayer as a user does, through xdotool: starts
a full-screen recording with the start shortcut, lets it run, opens the tray menu and stops
it there. Prints, per compressor, the time from the click to the menu shown and from Stop to
the complete file (the recording's note gone), p50 and p95.

Usage: responsive.py QUILLMARK   (DISPLAY names the X server; QM_BENCH_TRIES sets the tries)
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TRIES = int(os.environ.get("QM_BENCH_TRIES", "20"))
# (label, index in the compressor list, frames per second)
CASES = [("H264 30 fps", 4, 30), ("Cinepak 10 fps", 8, 10)]


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True).stdout.split()


def shown_windows():
    return set(xdotool("search", "--onlyvisible", "--classname", "^quillmark$"))


def wait_for(done, seconds=120, step=0.002):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if done():
            return time.monotonic()
        time.sleep(step)
    sys.exit(f"timed out (line {sys._getframe(1).f_lineno})")


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def run_case(app, work, label, codec, fps):
    config = os.path.join(work, "config", "Zorvek")
    os.makedirs(config, exist_ok=True)
    out = os.path.join(work, "out")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(config, "Quillmark.conf"), "w") as f:
        f.write("[Capture%20area]\nCapture%20area=0\n\n[Dialogs]\nHiding%20window=1\n\n"
                f"[Folder]\nOutput%20Folder={out}/\n\n[Preference]\n"
                "Automatic%20update%20check=0\n\n"
                f"[Video]\nFPS={fps}\nStart%20delay=0\nVideo%20Compression={codec}\nPlayResult=0\n")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"),
               XDG_RUNTIME_DIR=os.path.join(work, "runtime"),
               XDG_STATE_HOME=os.path.join(work, "state"), DBUS_SESSION_BUS_ADDRESS="disabled:")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    notes = os.path.join(work, "state", "Quillmark", "*.recording")
    proc = subprocess.Popen([app], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: len(shown_windows()) >= 1, 30, 0.1)  # the main window
        main_window = shown_windows()
        time.sleep(1)
        menu_ms, stop_ms = [], []
        for _ in range(TRIES):
            before = len(os.listdir(out))
            subprocess.run(["xdotool", "keydown", "ctrl", "alt", "s"])
            time.sleep(0.3)
            subprocess.run(["xdotool", "keyup", "s", "alt", "ctrl"])
            wait_for(lambda: len(os.listdir(out)) > before and glob.glob(notes), 30, 0.01)
            time.sleep(2)
            # Hidden into the tray: the icon is the program's one window shown now.
            icons = []
            wait_for(lambda: icons.extend(shown_windows() - main_window) or icons, 30, 0.05)
            newest = max(icons, key=int)
            geometry = xdotool("getwindowgeometry", "--shell", newest)
            where = dict(item.split("=") for item in geometry)
            windows = shown_windows()
            subprocess.run(["xdotool", "mousemove", str(int(where["X"]) + 8),
                            str(int(where["Y"]) + 8), "click", "1"])
            clicked = time.monotonic()
            shown = wait_for(lambda: len(shown_windows() - windows) > 0, 30)
            menu_ms.append((shown - clicked) * 1000)
            time.sleep(0.2)
            subprocess.run(["xdotool", "key", "Down", "Down"])  # Pause, Stop
            time.sleep(0.1)
            stopped = time.monotonic()  # the key's own delivery counts
            subprocess.run(["xdotool", "key", "Return"])
            done = wait_for(lambda: not glob.glob(notes), 120)
            stop_ms.append((done - stopped) * 1000)
            time.sleep(0.5)
        print(f"{label}: menu shown p50 {statistics.median(menu_ms):.0f} ms, "
              f"p95 {percentile(menu_ms, 95):.0f} ms; Stop to complete file p50 "
              f"{statistics.median(stop_ms):.0f} ms, p95 {percentile(stop_ms, 95):.0f} ms "
              f"({TRIES} tries)")
    finally:
        proc.terminate()
        proc.wait(60)


def main():
    app = sys.argv[1]
    helpers = [subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL),
               subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype",
                                 "request", "--height", "24", "--transparent", "false"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    work = tempfile.mkdtemp()
    try:
        time.sleep(1)
        for label, codec, fps in CASES:
            run_case(app, os.path.join(work, label.split()[0]), label, codec, fps)
    finally:
        for helper in helpers:
            helper.terminate()
            helper.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
