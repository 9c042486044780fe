"""The small project every output format is checked on: a non-ASCII line, a
multi-line call, a module-level lookup, a read error, and a file name with a
quote and a line feed in it. Written afresh into a directory by each test,
since git keeps no file name with a line feed."""

from pathlib import Path

FILES = {
    "app/config.py": (
        "# Configuration: ünïcode before the lookup moves byte columns, not characters.\n"
        "def port(cfg):\n"
        "    return cfg['pört'] + cfg[\"ключ\"]\n"
        "\n"
        "\n"
        "def guarded(cfg):\n"
        "    try:\n"
        "        return cfg['x']\n"
        "    except KeyError:\n"
        "        return None\n"
    ),
    "app/calls.py": (
        "def lookup(d):\n"
        "    return d['k']\n"
        "\n"
        "\n"
        "def relay(d):\n"
        "    return lookup(d)\n"
        "\n"
        "\n"
        "def caller(d):\n"
        "    return relay(\n"
        "        d,\n"
        "    )\n"
    ),
    "app/settings.py": "import os\n\nHOME = os.environ['HOME']\n",
    "app/clean.py": "def f(d):\n    return d.get('k')\n",
    "app/we\"ird\nname.py": "def w(d):\n    return d[0]\n",
}

# Named on the command line after the directory: it does not exist.
MISSING = "app/missing.py"


def write_project(root: Path):
    for name, text in FILES.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")
    return ["app", MISSING]
