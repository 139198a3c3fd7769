"""Starting and stopping `kqcam view` for the tests: the address it prints, its requests."""

import json
import os
import re
import signal
import subprocess
import urllib.error
import urllib.request

STARTUP_SECONDS = 30


class View:
    """A running `kqcam view` on the bench, in `folder` (where its snaps land)."""

    def __init__(self, kqcam, folder, *arguments):
        os.makedirs(folder, exist_ok=True)
        self.process = subprocess.Popen([kqcam, "view", "--port", "0", *arguments],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, cwd=folder)
        first = self.process.stdout.readline()
        found = re.search(r"live view at (http://[^/]+)/(\?token=(\w+))?", first)
        if found is None:
            self.process.kill()
            raise AssertionError("kqcam view printed no address: %r %s" %
                                 (first, self.process.stderr.read()))
        self.base, self.token = found.group(1), found.group(3)
        self.page = found.group(0).split(" at ", 1)[1]

    def url(self, path, token=True):
        if token and self.token:
            path += ("&" if "?" in path else "?") + "token=" + self.token
        return self.base + path

    def request(self, path, body=None, content_type="application/json", headers=None,
                token=True):
        """(HTTP status, parsed JSON body or raw bytes) of one request."""
        data = body if isinstance(body, (bytes, type(None))) else body.encode()
        request = urllib.request.Request(self.url(path, token), data=data,
                                         headers=dict(headers or {}))
        if data is not None:
            request.add_header("Content-Type", content_type)
        try:
            with urllib.request.urlopen(request, timeout=STARTUP_SECONDS) as reply:
                status, raw, kind = reply.status, reply.read(), reply.headers["Content-Type"]
        except urllib.error.HTTPError as error:
            status, raw, kind = error.code, error.read(), error.headers["Content-Type"]
        return status, json.loads(raw) if kind == "application/json" else raw

    def command(self, **fields):
        return self.request("/control", json.dumps(fields))

    def status(self):
        return self.request("/status")[1]

    def interrupt(self):
        """Ctrl-C: the exit code and what it said on stderr."""
        self.process.send_signal(signal.SIGINT)
        _, err = self.process.communicate(timeout=STARTUP_SECONDS)
        return self.process.returncode, err

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.communicate()
