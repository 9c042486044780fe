"""Memory per byte of source: keyhound's whole per-file path against what
parsing alone needs, on a 20 MB file of ordinary code and on the shapes that
cost the most per byte (nested brackets, nested subscripts, backslash
continuations, long call chains); and the language server's memory after
10,000 edits of one document.

    python3 bench/memory.py BUILD_DIR [--no-server]

For each shape: its size, the nodes of its tree, the peak resident memory of
a parse and walk, of the whole path in --exact and in precise mode, those
peaks per byte of source, and what the analysis takes per node of the tree
beyond the parse. The budget keyhound refuses a file by
(kWorstBytesPerSourceByte before a parse, kWorstAnalysisBytesPerNode after
it, in src/base/memory_budget.hpp) must stay above the worst of these.
"""

import json
import os
import resource
import subprocess
import sys
import time
from pathlib import Path

BUILD = Path(sys.argv[1] if len(sys.argv) > 1 and not sys.argv[1].startswith("--")
             else "build/tests")
BENCH = BUILD / "bench" / "keyhound_bench"
COMMAND = BUILD / "keyhound"
OUT = Path(__file__).resolve().parent / "generated"


def shapes():
    """Each shape as about 1 MB of source (the ordinary file is 20 MB)."""
    size = 1_000_000
    ordinary = "".join(f"def f{i}(d):\n    return d['key{i}'] + g(d)\n" for i in range(10_000))
    depth = size // 3
    yield "ordinary code (20 MB)", ordinary * (20 * 1024 * 1024 // len(ordinary) + 1)
    yield "nested brackets", "x = " + "[" * (size // 2) + "]" * (size // 2) + "\n"
    yield "nested subscripts", "def f(a):\n    return " + "a[" * depth + "0" + "]" * depth + "\n"
    yield "backslash continuations", "def f(d):\n    return d['k'] \\\n" + " + d['k'] \\\n" * (size // 12) + " + 1\n"
    yield "long call chains", "def f(x):\n    return x" + ".m()" * (size // 4) + "\n"
    yield "subscript chain", "def f(d):\n    return d" + "['k']" * (size // 5) + "\n"
    yield "one line of lookups", "def f(d):\n    return " + " + ".join("d[k]" for _ in range(size // 7)) + "\n"
    # What precise mode's flow graphs hold most of: many keys known at once
    # in one function, and keys whose texts are as long as are compared.
    yield "known keys", "def f(d):\n" + "".join(f"    d['k{i}'] = d['j{i}']\n"
                                                  for i in range(size // 28))
    chain = "self." + ".".join(f"a{i}" for i in range(80))
    yield "long key texts", "def f(self, d):\n" + "".join(
        f"    d[{chain}{i}] = {chain}[{i}]\n" for i in range(size // (2 * len(chain) + 30)))
    yield "elif chain", "def f(d, k):\n    if k == 0:\n        d[0] = 0\n" + "".join(
        f"    elif k == {i}:\n        d[k] = d[{i}]\n" for i in range(1, size // 36))


def run(mode, path):
    out = subprocess.run([str(BENCH), mode, str(path)], check=True, capture_output=True,
                         text=True).stdout.split()
    return out


def measure_shapes():
    OUT.mkdir(exist_ok=True)
    empty = OUT / "empty.py"
    empty.write_text("")
    # What the process takes before any file: taken off every peak below.
    floor = {mode: int(run(mode, empty)[1]) * 1024
             for mode in ("parse", "analyse-exact", "analyse-precise")}
    print(f"{'shape':26} {'MB':>6} {'nodes':>9} {'parse B/B':>9} {'exact B/B':>9} "
          f"{'precise B/B':>11} {'analysis B/node':>15}")
    worst_per_byte = worst_per_node = 0.0
    for name, text in shapes():
        path = OUT / (name.split(" (")[0].replace(" ", "_") + ".py")
        path.write_text(text)
        size = path.stat().st_size
        nodes = int(run("nodes", path)[0])
        peak = {mode: max(0, int(run(mode, path)[1]) * 1024 - floor[mode]) for mode in floor}
        whole = max(peak["analyse-exact"], peak["analyse-precise"])
        per_node = max(0, whole - peak["parse"]) / max(nodes, 1)
        worst_per_byte = max(worst_per_byte, whole / size)
        worst_per_node = max(worst_per_node, per_node)
        print(f"{name:26} {size / 1e6:6.1f} {nodes:9d} {peak['parse'] / size:9.0f} "
              f"{peak['analyse-exact'] / size:9.0f} {peak['analyse-precise'] / size:11.0f} "
              f"{per_node:15.0f}")
    print(f"worst whole path per source byte: {worst_per_byte:.0f} (budget: see memory_budget.hpp)")
    print(f"worst analysis per node:          {worst_per_node:.0f}")


def frame(body):
    data = json.dumps(body).encode()
    return b"Content-Length: %d\r\n\r\n%s" % (len(data), data)


def measure_server(edits=10_000):
    """The server's resident memory after `edits` one-character edits of a
    5,000-line document, each answered before the next."""
    lines = [f"def f{i}(d):\n    return d['k{i}']\n" for i in range(2_500)]
    text = "".join(lines)
    server = subprocess.Popen([str(COMMAND), "server"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    reader = server.stdout

    def read_message():
        length = 0
        while True:
            line = reader.readline()
            if line in (b"\r\n", b"\n"):
                break
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
        return json.loads(reader.read(length))

    def send(body):
        server.stdin.write(frame(body))
        server.stdin.flush()

    def wait_for_diagnostics(version):
        while True:
            message = read_message()
            if (message.get("method") == "textDocument/publishDiagnostics"
                    and message["params"].get("version") == version):
                return

    uri = "file:///tmp/bench_memory_server.py"
    send({"jsonrpc": "2.0", "id": 1, "method": "initialize",
          "params": {"processId": None, "rootUri": None, "capabilities": {}}})
    while read_message().get("id") != 1:
        pass
    send({"jsonrpc": "2.0", "method": "initialized", "params": {}})
    send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
          "params": {"textDocument": {"uri": uri, "languageId": "python", "version": 1,
                                      "text": text}}})
    wait_for_diagnostics(1)

    def rss_kib():
        with open(f"/proc/{server.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    after_open = rss_kib()
    started = time.monotonic()
    for version in range(2, edits + 2):
        # Type a character into a name, then take it out again.
        character = "x" if version % 2 == 0 else ""
        old_end = 13 if version % 2 == 0 else 14
        send({"jsonrpc": "2.0", "method": "textDocument/didChange",
              "params": {"textDocument": {"uri": uri, "version": version},
                         "contentChanges": [{"range": {"start": {"line": 2_500, "character": 13},
                                                       "end": {"line": 2_500, "character": old_end}},
                                             "text": character}]}})
        if version % 100 == 0 or version == edits + 1:
            wait_for_diagnostics(version)
    elapsed = time.monotonic() - started
    after_edits = rss_kib()
    send({"jsonrpc": "2.0", "id": 2, "method": "shutdown"})
    send({"jsonrpc": "2.0", "method": "exit"})
    server.wait(timeout=30)
    print(f"server, 5,000-line document: {after_open / 1024:.1f} MiB after opening it, "
          f"{after_edits / 1024:.1f} MiB after {edits:,} edits ({elapsed:.1f} s)")


def main():
    measure_shapes()
    if "--no-server" not in sys.argv:
        measure_server()


if __name__ == "__main__":
    main()
