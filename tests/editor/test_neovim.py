"""In a real editor: Neovim's built-in LSP client, headless, on
`keyhound server`, reading what vim.diagnostic shows."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("KEYHOUND_BUILD_DIR", ROOT / "build" / "tests")).resolve()
SCRIPT = Path(__file__).resolve().parent / "check_diagnostics.lua"

SAMPLE = ("def load(cfg):\n"
          "    return cfg['port']\n"
          "\n"
          "\n"
          "def label(names, key):\n"
          "    s = 'é😀'; return names[key]\n")


def test_neovim_shows_the_findings(tmp_path):
    nvim = shutil.which("nvim")
    if nvim is None:
        pytest.skip("Neovim is not installed (tests/run_all.sh installs it as root)")
    sample = tmp_path / "app.py"
    sample.write_text(SAMPLE, encoding="utf-8")
    result = tmp_path / "diagnostics.txt"
    env = {**os.environ, "KEYHOUND_NATIVE": str(BUILD_DIR / "keyhound"),
           "KEYHOUND_SAMPLE": str(sample), "KEYHOUND_RESULT": str(result),
           "HOME": str(tmp_path), "XDG_STATE_HOME": str(tmp_path / "state")}
    completed = subprocess.run([nvim, "--headless", "--clean", "-c", f"luafile {SCRIPT}"],
                               env=env, cwd=tmp_path, capture_output=True, timeout=60)
    assert result.exists(), completed.stderr
    # Neovim counts columns in bytes: the server sends UTF-16 (22), which
    # Neovim turns into the 25 bytes before `names`.
    assert result.read_text().splitlines() == [
        "KH001 1 11 keyhound",
        "KH001 5 25 keyhound",
    ]
