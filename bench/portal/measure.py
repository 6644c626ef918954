#!/usr/bin/env python3
"""Records the backend's 1920x1080 stream at 30 fps for QM_BENCH_SECONDS (10) with
quillmark-capture (MP42, H264) and with GStreamer (pipewiresrc on the descriptor the portal hands
out, videoconvert, avenc_msmpeg4v2 or x264enc, avimux), moving and still, and prints processor
time per frame of each, the bit rates and the ratios: medians of QM_BENCH_REPEAT (3) runs, ours
and theirs taking turns.

GStreamer's encoders run twice on the moving picture: with their own defaults ("defaults": a
third of our bit rate and, for MP42, a key frame every 12 frames) and with our settings ("ours":
the same fixed quantiser or rate factor and a key frame a second), so that both encode the same
picture to the same quality.

Usage: measure.py TOOL OUTDIR   (DBUS_SESSION_BUS_ADDRESS names the session of tests/screencast/
stack.sh, whose control file is OUTDIR/control)
"""
import os
import re
import resource
import signal
import statistics
import subprocess
import sys
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from media import frames_in  # noqa: E402

SECONDS = float(os.environ.get("QM_BENCH_SECONDS", "10"))
REPEAT = int(os.environ.get("QM_BENCH_REPEAT", "3"))
FPS = 30
ENCODERS = {
    "MP42": ["avenc_msmpeg4v2"],
    "H264": ["x264enc", "speed-preset=veryfast", "tune=zerolatency"],
}
# quillmark-capture's defaults: MP42 at quality 90 is quantiser 4, H264 at 55 is rate factor 23.
# x264enc's quality mode caps the rate at its bitrate property (2048 kbit/s by default) through
# the VBV; ours has no cap, so the property is set out of reach.
OUR_SETTINGS = {
    "MP42": ["pass=quant", "quantizer=4", "gop-size=%d" % FPS],
    "H264": ["pass=qual", "quantizer=23", "bitrate=2048000", "key-int-max=%d" % FPS],
}


def kbits(path, count):
    """The file's size over the length of its count frames, in kbit/s."""
    try:
        return os.path.getsize(path) * 8 / 1000 / max(count / FPS, 1e-3)
    except OSError:
        return 0


def child_cpu(run):
    """Processor seconds of the children that run() waits for."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    run()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


class Portal:
    """One ScreenCast session, as a client of the portal sees it."""

    def __init__(self):
        dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
        self.bus = dbus.SessionBus()
        obj = self.bus.get_object("org.freedesktop.portal.Desktop",
                                  "/org/freedesktop/portal/desktop")
        self.cast = dbus.Interface(obj, "org.freedesktop.portal.ScreenCast")
        self.sender = self.bus.get_unique_name()[1:].replace(".", "_")
        self.count = 0

    def request(self, method, *args, options):
        self.count += 1
        token = "bench%d" % self.count
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (self.sender, token)
        loop = GLib.MainLoop()
        answer = {}

        def on_response(code, results):
            answer["code"], answer["results"] = int(code), results
            loop.quit()

        match = self.bus.add_signal_receiver(on_response, "Response",
                                             "org.freedesktop.portal.Request", path=path)
        options["handle_token"] = token
        getattr(self.cast, method)(*args, options)
        loop.run()
        match.remove()
        if answer["code"] != 0:
            sys.exit("%s answered %d" % (method, answer["code"]))
        return answer["results"]

    def open(self):
        session = self.request("CreateSession", options={"session_handle_token": "bench"})
        session = dbus.ObjectPath(session["session_handle"])
        self.request("SelectSources", session,
                     options={"types": dbus.UInt32(1), "cursor_mode": dbus.UInt32(4)})
        started = self.request("Start", session, "", options={})
        node = int(started["streams"][0][0])
        fd = self.cast.OpenPipeWireRemote(session, dbus.Dictionary({}, signature="sv")).take()
        return session, node, fd

    def close(self, session):
        self.bus.get_object("org.freedesktop.portal.Desktop", session).Close(
            dbus_interface="org.freedesktop.portal.Session")


def quillmark(tool, outdir, codec):
    """Processor seconds and the frames in the file, empty chunks (unchanged frames) included,
    as the tool's closing line "FILE: N frames, R fps" counts them."""
    path = os.path.join(outdir, "quillmark-%s.avi" % codec)
    result = {}

    def run():
        result["out"] = subprocess.run(
            [tool, "record", "--source", "portal", "--fps", str(FPS), "--codec", codec,
             "--quiet", "--seconds", str(SECONDS), path],
            check=True, stdout=subprocess.PIPE, text=True).stdout

    cpu = child_cpu(run)
    match = re.search(r": (\d+) frames", result["out"])
    count = int(match.group(1)) if match else 0
    return cpu, count, kbits(path, count)


def gstreamer(portal, outdir, codec, settings):
    path = os.path.join(outdir, "gst-%s.avi" % codec)
    session, node, fd = portal.open()
    command = ["gst-launch-1.0", "-q", "-e", "pipewiresrc", "fd=%d" % fd, "path=%d" % node,
               "do-timestamp=true", "!", "videorate", "!",
               "video/x-raw,framerate=%d/1" % FPS, "!", "videoconvert", "!"]
    command += ENCODERS[codec] + settings + ["!", "avimux", "!", "filesink", "location=" + path]

    def run():
        process = subprocess.Popen(command, pass_fds=[fd])
        time.sleep(SECONDS)
        process.send_signal(signal.SIGINT)
        process.wait(60)

    cpu = child_cpu(run)
    os.close(fd)
    portal.close(session)
    count = frames_in(path)
    return cpu, count, kbits(path, count)


def per_frame(cpu, count, rate):
    return 1000 * cpu / max(count, 1), count, rate


def medians(runs):
    return tuple(statistics.median(column) for column in zip(*runs))


def main():
    tool, outdir = sys.argv[1], sys.argv[2]
    portal = Portal()
    print("%-7s %-5s %-9s %12s %7s %8s %12s %7s %8s %6s" % (
        "picture", "codec", "gst", "quillmark ms", "frames", "kbit/s", "gstreamer ms", "frames",
        "kbit/s", "ratio"))
    for picture, control in (("moving", "size=1920x1080\ncursor=400,300\n"),
                             ("still", "size=1920x1080\ncursor=400,300\nstill=2\n")):
        with open(os.path.join(outdir, "control"), "w") as f:
            f.write(control)
        for codec in ENCODERS:
            settings = [("defaults", [])]
            if picture == "moving":
                settings.append(("ours", OUR_SETTINGS[codec]))
            ours, theirs = [], {name: [] for name, _ in settings}
            for _ in range(REPEAT):
                ours.append(per_frame(*quillmark(tool, outdir, codec)))
                for name, options in settings:
                    theirs[name].append(per_frame(*gstreamer(portal, outdir, codec, options)))
            q_ms, q_frames, q_rate = medians(ours)
            for name, _ in settings:
                g_ms, g_frames, g_rate = medians(theirs[name])
                print("%-7s %-5s %-9s %12.2f %7d %8.0f %12.2f %7d %8.0f %6.2f" % (
                    picture, codec, name, q_ms, q_frames, q_rate, g_ms, g_frames, g_rate,
                    q_ms / g_ms if g_ms else 0))
                sys.stdout.flush()
    print("target: ratio <= 0.8 moving, <= 0.1 still")


if __name__ == "__main__":
    main()
