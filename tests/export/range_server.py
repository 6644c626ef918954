"""A loopback HTTP server for the browser test: serves a folder with byte ranges (as players
ask for them) and stores what the page posts to /result as result.json in that folder.
Prints its port on the first line of standard output."""
import http.server
import json
import os
import re
import sys

FOLDER = sys.argv[1]
RANGES = 0


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=FOLDER, **kwargs)

    def log_message(self, *args):
        pass

    def end_headers(self):
        self.send_header("Accept-Ranges", "bytes")
        super().end_headers()

    def do_GET(self):
        global RANGES
        match = re.fullmatch(r"bytes=(\d*)-(\d*)", self.headers.get("Range", ""))
        path = self.translate_path(self.path)
        if not match or not os.path.isfile(path):
            return super().do_GET()
        size = os.path.getsize(path)
        first = int(match.group(1)) if match.group(1) else max(0, size - int(match.group(2)))
        last = int(match.group(2)) if match.group(1) and match.group(2) else size - 1
        last = min(last, size - 1)
        if first > last:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{size}")
            self.end_headers()
            return
        RANGES += 1
        self.send_response(206)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
        self.send_header("Content-Length", str(last - first + 1))
        self.end_headers()
        with open(path, "rb") as f:
            f.seek(first)
            self.wfile.write(f.read(last - first + 1))

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with open(os.path.join(FOLDER, "result.json.part"), "w") as f:
            json.dump({"ranges": RANGES, "page": json.loads(body)}, f)
        os.replace(os.path.join(FOLDER, "result.json.part"), os.path.join(FOLDER, "result.json"))
        self.send_response(204)
        self.end_headers()


Handler.extensions_map.update({".mp4": "video/mp4", ".webm": "video/webm", ".gif": "image/gif"})
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
