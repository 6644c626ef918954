"""What the benchmark scripts share: reading a recording's frame count as players see it."""
import subprocess


def frames_in(path):
    """Frames in the file's stream header: every frame a player shows, the empty chunks of
    frames in which nothing changed included (ffprobe's packet count leaves those out)."""
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=nb_frames",
         "-of", "csv=p=0", path],
        capture_output=True, text=True)
    try:
        return int(out.stdout.strip().split(",")[0])
    except ValueError:
        return 0
