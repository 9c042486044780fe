#!/usr/bin/env python3
"""The language server's latency and memory while a user types.

    python3 bench/server.py build/tests [--lines 5000] [--edits 200]

Opens a generated file of that many lines in `keyhound server`, then sends
one-character edits one after another (a letter typed into a name on a
line in the middle, and taken out again), each time measuring from the moment the didChange
is written to the moment the publishDiagnostics of that version arrives.
With --line-start the letter goes before the name instead, at the start of
the line's first word, where the incremental parse builds the statements
after it anew (the same statements, new nodes), so that the analysis walks
them again.
For comparison it also measures the same file sent whole (no range), which
the server parses afresh, and the didOpen. The server's resident memory is
read from /proc after the first edits and after the last."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path


def generated_source(lines):
    """Functions with lookups, guarded and not, calls between them, and a
    class: what a large module looks like to the analysis."""
    out = []
    index = 0
    while len(out) < lines:
        out += [f"def load_{index}(cfg, key):",
                f"    value = cfg['section_{index}'][key]",
                "    try:",
                f"        other = cfg['other_{index}']",
                "    except KeyError:",
                "        other = None",
                f"    return value, other, helper_{index}(cfg)",
                "",
                f"def helper_{index}(cfg):",
                f"    return cfg.get('x_{index}', 0) + len(cfg)",
                "",
                ""]
        index += 1
    return "\n".join(out[:lines]) + "\n"


class Server:
    def __init__(self, native):
        self.process = subprocess.Popen([native, "server"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE)

    def send(self, message):
        body = json.dumps(message).encode()
        self.process.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.process.stdin.flush()

    def receive(self):
        length = None
        while True:
            line = self.process.stdout.readline()
            if not line:
                raise SystemExit("the server ended")
            if line in (b"\r\n", b"\n"):
                break
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value)
        return json.loads(self.process.stdout.read(length))

    def published(self, version):
        while True:
            message = self.receive()
            if (message.get("method") == "textDocument/publishDiagnostics"
                    and message["params"].get("version") == version):
                return message["params"]["diagnostics"]

    def resident_kib(self):
        for line in Path(f"/proc/{self.process.pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--lines", type=int, default=5000)
    parser.add_argument("--edits", type=int, default=200)
    parser.add_argument("--file", help="a real file to type into instead of a generated one")
    parser.add_argument("--line-start", action="store_true",
                        help="type at the start of the line's first word rather than inside it")
    options = parser.parse_args()
    native = os.path.join(options.build, "keyhound")
    if options.file:
        source = Path(options.file).read_text(encoding="utf-8")
        options.lines = source.count("\n")
    else:
        source = generated_source(options.lines)
    uri = "file:///tmp/keyhound-bench-server/module.py"

    server = Server(native)
    server.send({"jsonrpc": "2.0", "id": 0, "method": "initialize",
                 "params": {"processId": None, "capabilities": {}, "rootUri": None}})
    server.receive()
    server.send({"jsonrpc": "2.0", "method": "initialized", "params": {}})

    started = time.perf_counter()
    server.send({"jsonrpc": "2.0", "method": "textDocument/didOpen", "params": {"textDocument": {
        "uri": uri, "languageId": "python", "version": 1, "text": source}}})
    findings = len(server.published(1))
    opened = time.perf_counter() - started

    # A line in the middle of the file that assigns `value`: the edits type
    # a letter into that name and take it out again, so that every version
    # parses cleanly, as most keystrokes in a name leave the code.
    rows = source.split("\n")
    def assigns_a_name(row):
        words = rows[row][8:].split(" ")
        return (rows[row].startswith("        ") and len(words) > 2 and words[1] == "="
                and words[0].isidentifier() and len(words[0]) > 1)

    middle = next(row for row in range(options.lines // 2, options.lines)
                  if rows[row].startswith("    value = ") or (options.file and assigns_a_name(row)))
    latencies = []
    memory = []
    version = 1
    for edit in range(options.edits):
        version += 1
        typing = edit % 2 == 0
        column = (8 if options.file else 4) if options.line_start else (9 if options.file else 6)
        change = {"range": {"start": {"line": middle, "character": column},
                            "end": {"line": middle, "character": column if typing else column + 1}},
                  "text": "x" if typing else ""}
        started = time.perf_counter()
        server.send({"jsonrpc": "2.0", "method": "textDocument/didChange", "params": {
            "textDocument": {"uri": uri, "version": version}, "contentChanges": [change]}})
        server.published(version)
        latencies.append(time.perf_counter() - started)
        if edit == 19 or edit == options.edits - 1:
            memory.append(server.resident_kib())

    whole = []
    for _ in range(10):
        version += 1
        started = time.perf_counter()
        server.send({"jsonrpc": "2.0", "method": "textDocument/didChange", "params": {
            "textDocument": {"uri": uri, "version": version}, "contentChanges": [{"text": source}]}})
        server.published(version)
        whole.append(time.perf_counter() - started)

    server.send({"jsonrpc": "2.0", "id": 1, "method": "shutdown", "params": None})
    server.receive()
    server.send({"jsonrpc": "2.0", "method": "exit", "params": None})
    server.process.wait(10)

    ms = lambda seconds: f"{seconds * 1000:.2f} ms"
    print(f"file: {options.lines} lines, {len(source)} bytes, {findings} findings")
    print(f"didOpen to diagnostics (full parse and analysis): {ms(opened)}")
    print(f"one-character edit to diagnostics, {options.edits} edits: median "
          f"{ms(statistics.median(latencies))}, 90th percentile "
          f"{ms(sorted(latencies)[int(len(latencies) * 0.9)])}, slowest {ms(max(latencies))}")
    print(f"whole text sent again (parsed afresh), 10 times: median {ms(statistics.median(whole))}")
    print(f"resident memory after edit 20: {memory[0]} KiB; after edit {options.edits}: "
          f"{memory[-1]} KiB ({memory[-1] - memory[0]:+d} KiB)")


if __name__ == "__main__":
    sys.exit(main())
