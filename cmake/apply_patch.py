"""Applies a unified diff to one file, strictly: every hunk's context and
removed lines must match the source exactly, or the build stops. Used at
configure time on the pinned grammar sources, so no `patch` program is
needed.

    python apply_patch.py SOURCE PATCH OUTPUT
"""

import re
import sys


def hunks(patch_lines):
    header = re.compile(r"^@@ -(\d+)(?:,(\d+))? \+(\d+)(?:,(\d+))? @@")
    current = None
    for line in patch_lines:
        match = header.match(line)
        if match:
            if current:
                yield current
            current = {"old_start": int(match.group(1)), "lines": []}
        elif current is not None and line[:1] in (" ", "-", "+"):
            current["lines"].append(line)
        elif current is not None and line.startswith("\\"):
            continue  # "\ No newline at end of file"
    if current:
        yield current


def apply(source_lines, patch_lines):
    result = []
    position = 0  # index into source_lines of the next line to copy
    for hunk in hunks(patch_lines):
        start = hunk["old_start"] - 1
        if start < position:
            raise SystemExit(f"overlapping hunk at line {hunk['old_start']}")
        result.extend(source_lines[position:start])
        position = start
        for line in hunk["lines"]:
            kind, text = line[0], line[1:]
            if kind in (" ", "-"):
                if position >= len(source_lines) or source_lines[position] != text:
                    raise SystemExit(
                        f"patch does not apply at line {position + 1}: expected {text!r}")
                position += 1
                if kind == " ":
                    result.append(text)
            else:
                result.append(text)
    result.extend(source_lines[position:])
    return result


def main():
    source, patch, output = sys.argv[1:4]
    with open(source, encoding="utf-8") as file:
        source_lines = file.read().split("\n")
    with open(patch, encoding="utf-8") as file:
        patch_lines = file.read().split("\n")
    patched = apply(source_lines, patch_lines)
    with open(output, "w", encoding="utf-8") as file:
        file.write("\n".join(patched))


if __name__ == "__main__":
    main()
