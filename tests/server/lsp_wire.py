"""A bare client of the base protocol, for the tests that must send what no
real client sends: broken frames, bad JSON, requests out of order."""

import json
import os
import queue
import subprocess
import threading
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("KEYHOUND_BUILD_DIR", ROOT / "build" / "tests")).resolve()
NATIVE = BUILD_DIR / "keyhound"


def frame(message):
    body = message if isinstance(message, bytes) else json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


class WireClient:
    """The server in a child process; what it sends is read on a thread."""

    def __init__(self, cwd=None, preexec_fn=None):
        self.process = subprocess.Popen([str(NATIVE), "server"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd,
                                        preexec_fn=preexec_fn)
        self.received = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        stream = self.process.stdout
        while True:
            headers = {}
            while True:
                line = stream.readline()
                if not line:
                    self.received.put(None)
                    return
                line = line.strip()
                if not line:
                    break
                name, _, value = line.partition(b":")
                headers[name.strip().lower()] = value.strip()
            body = stream.read(int(headers[b"content-length"]))
            self.received.put(json.loads(body))

    def send(self, raw):
        self.process.stdin.write(raw)
        self.process.stdin.flush()

    def request(self, id, method, params=None):
        self.send(frame({"jsonrpc": "2.0", "id": id, "method": method, "params": params or {}}))

    def notify(self, method, params=None):
        self.send(frame({"jsonrpc": "2.0", "method": method, "params": params or {}}))

    def next(self, timeout=20):
        return self.received.get(timeout=timeout)

    def answer_to(self, id, timeout=20):
        """Waits for the answer to request `id`; returns it and what came before."""
        before = []
        while True:
            message = self.next(timeout)
            assert message is not None, f"the server ended before answering {id}: {before}"
            if message.get("id") == id and "method" not in message:
                return message, before
            before.append(message)

    def initialize(self, capabilities=None, root=None, options=None):
        params = {"capabilities": capabilities or {}, "processId": None}
        if root is not None:
            params["rootUri"] = Path(root).as_uri()
        if options is not None:
            params["initializationOptions"] = options
        self.request(0, "initialize", params)
        answer, _ = self.answer_to(0)
        self.notify("initialized")
        return answer

    def finish(self, timeout=20):
        """Closes the input; returns the exit status and standard error."""
        self.process.stdin.close()
        status = self.process.wait(timeout)
        return status, self.process.stderr.read()
