"""Peak resident memory on a 20 MB file: keyhound's whole per-file path
against what parsing alone needs (the text plus its syntax tree), and the
native command's outcome on it (one finding per function, status 1).

    python3 bench/memory.py BUILD_DIR
"""

import subprocess
import sys
from pathlib import Path

BENCH = Path(sys.argv[1] if len(sys.argv) > 1 else "build/tests") / "bench" / "keyhound_bench"
OUT = Path(__file__).resolve().parent / "generated"


def main():
    OUT.mkdir(exist_ok=True)
    path = OUT / "twenty_megabytes.py"
    body = "".join(f"def f{i}(d):\n    return d['key{i}'] + g(d)\n" for i in range(10_000))
    path.write_text(body * (20 * 1024 * 1024 // len(body) + 1))
    size_mib = path.stat().st_size / 2**20
    results = {}
    for mode in ("parse", "full"):
        out = subprocess.run([str(BENCH), mode, str(path)], check=True, capture_output=True,
                             text=True).stdout.split()
        results[mode] = (float(out[0]), int(out[1]) / 1024)
    print(f"file: {size_mib:.1f} MiB")
    print(f"parse + walk:   {results['parse'][0]:.2f} s, peak {results['parse'][1]:.0f} MiB")
    print(f"keyhound path:  {results['full'][0]:.2f} s, peak {results['full'][1]:.0f} MiB")
    print(f"memory ratio:   {results['full'][1] / results['parse'][1]:.2f}")
    command = BENCH.parent.parent / "keyhound"
    run = subprocess.run([str(command), str(path)], stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    assert run.returncode == 1, run.returncode
    assert run.stderr.endswith(f"Potential issue(s) found in '{path}'\n".encode())
    print("command:        status 1, outcome line as expected")


if __name__ == "__main__":
    main()
