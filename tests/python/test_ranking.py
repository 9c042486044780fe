"""How likely each finding's key is to be missing: the tier and the reason
of every origin the ranking knows, the threshold that hides the rest, and
how each format carries them. `--exact` ranks nothing."""

import json

import pytest

from conftest import run_native

# (what the function does, its lookup's tier, its reason)
ORIGINS = [
    ("import os\ndef f():\n    return os.environ['HOME']\n", "high", "an environment variable"),
    ("import json\ndef f(text):\n    data = json.loads(text)\n    return data['id']\n",
     "high", "JSON data"),
    ("import json\ndef f(text):\n    data = json.loads(text)\n    return data['a']['b']\n",
     "high", "JSON data"),
    ("import yaml\ndef f(s):\n    conf = yaml.safe_load(s)\n    return conf['k']\n",
     "high", "YAML data"),
    ("import tomllib\ndef f(s):\n    conf = tomllib.loads(s)\n    return conf['k']\n",
     "high", "TOML data"),
    ("def f(session, url):\n    reply = session.get(url).json()\n    return reply['items']\n",
     "high", "JSON data"),
    ("import json\ndef f(text):\n    return json.loads(text)['id']\n", "high", "JSON data"),
    ("def f(session, url):\n    return session.get(url).json()['items']\n", "high", "JSON data"),
    ("import csv\ndef f(fh):\n    for row in csv.DictReader(fh):\n        print(row['name'])\n",
     "high", "a CSV row"),
    ("import configparser\ndef f():\n    c = configparser.ConfigParser()\n    return c['db']\n",
     "high", "a configuration file"),
    ("def f(request):\n    return request.headers['X-Token']\n", "high", "request data"),
    ("def f(**kwargs):\n    return kwargs['name']\n", "high", "keyword arguments"),
    ("HANDLERS = {}\ndef register(n, h):\n    HANDLERS[n] = h\n"
     "def dispatch(name):\n    return HANDLERS[name]\n", "high", "key 'name' from a parameter"),
    ("class Jobs:\n    def get(self, job_id):\n        return self.jobs[job_id]\n",
     "high", "key 'job_id' from a parameter"),
    ("ROUTES = {'home': '/'}\ndef f():\n    return ROUTES['about']\n",
     "high", "a key the literal does not hold"),
    ("def f(cfg):\n    return cfg['port']\n", "medium", "a mapping from a parameter"),
    ("def f(d, k):\n    return d[k]\n", "medium", "key 'k' from a parameter"),
    ("def f():\n    return load()['port']\n", "medium", "a mapping returned by a call"),
    ("def f(items):\n    d = {}\n    for i in items:\n        d[i] = 1\n    return d['x']\n",
     "medium", "a key the function's own dict may lack"),
    ("class C:\n    def f(self):\n        return self.options['verbose']\n",
     "low", "a constant key into the program's own mapping"),
    ("import json\nclass C:\n    def __init__(self, fh):\n        self.config = json.load(fh)\n"
     "    def timeout(self):\n        return self.config['timeout']\n", "high", "JSON data"),
    ("TABLE = load()\ndef f():\n    return TABLE['x']\n",
     "low", "a constant key into the program's own mapping"),
]


def ranked(tmp_path, source, *args):
    (tmp_path / "a.py").write_text(source)
    result = run_native(["--no-cache", "--output-format", "json", *args, "a.py"], cwd=tmp_path)
    return [r for r in json.loads(result.stdout) if r.get("code")], result


@pytest.mark.parametrize("source, tier, reason", ORIGINS, ids=[r for _, _, r in ORIGINS])
def test_each_origin_gives_its_tier_and_reason(tmp_path, source, tier, reason):
    records, _ = ranked(tmp_path, source, "--min-confidence", "low")
    lookups = [r for r in records if r["code"] == "KH001"]
    assert [(r["confidence"], r["reason"]) for r in lookups][-1:] == [(tier, reason)]
    assert f"({reason}) in function" in lookups[-1]["message"]


@pytest.mark.parametrize("source", [
    "import os\ndef f():\n    return os.environ.get('HOME')\n",
    "def f(d):\n    d = {'a': 1}\n    return d['a']\n",
])
def test_what_cannot_raise_is_no_finding_at_all(tmp_path, source):
    records, result = ranked(tmp_path, source, "--min-confidence", "low")
    assert records == [] and result.returncode == 0


# A call is reported where its callee shows no lookup of its own.
CALLS = ("import os\n"
         "def home():\n    return os.environ['HOME']\n"
         "def port(cfg):\n    return cfg['port']\n"
         "def find_home():\n    return home()\n"
         "def find_port(cfg):\n    return port(cfg)\n"
         "def start(cfg):\n    return find_home() + find_port(cfg)\n")


def test_a_call_is_medium_when_the_lookup_it_reaches_is_high(tmp_path):
    records, _ = ranked(tmp_path, CALLS, "--min-confidence", "low")
    calls = {r["callee"]: (r["confidence"], r["reason"]) for r in records if r["code"] == "KH002"}
    assert calls == {"find_home": ("medium", "reaches a lookup into an environment variable"),
                     "find_port": ("low", "reaches a lookup of lower confidence")}


@pytest.mark.parametrize("args, config, shown", [
    ([], "", ["KH001 high", "KH001 medium", "KH002 medium"]),
    (["--min-confidence", "low"], "", ["KH001 high", "KH001 medium", "KH002 medium",
                                       "KH002 low"]),
    (["--min-confidence", "high"], "", ["KH001 high"]),
    ([], 'min-confidence = "high"\n', ["KH001 high"]),
    (["--min-confidence", "low"], 'min-confidence = "high"\n',
     ["KH001 high", "KH001 medium", "KH002 medium", "KH002 low"]),
])
def test_the_threshold_hides_what_is_below_it(tmp_path, args, config, shown):
    (tmp_path / "pyproject.toml").write_text("[tool.keyhound]\n" + config)
    records, result = ranked(tmp_path, CALLS, *args)
    assert sorted(f"{r['code']} {r['confidence']}" for r in records) == sorted(shown)
    assert result.returncode == 1


def test_findings_below_the_threshold_do_not_fail_the_run(tmp_path):
    (tmp_path / "a.py").write_text("class C:\n    def f(self):\n        return self.o['v']\n")
    result = run_native(["--no-cache", "a.py"], cwd=tmp_path)
    assert (result.returncode, result.stdout) == (0, b"All checks passed!\n")


def test_a_bad_tier_is_a_usage_error(tmp_path):
    (tmp_path / "a.py").write_text("x = 1\n")
    result = run_native(["--min-confidence", "sure", "a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr.startswith(b"error: invalid value 'sure' for '--min-confidence <TIER>': "
                                    b"expected one of: high, medium, low")
    (tmp_path / "pyproject.toml").write_text('[tool.keyhound]\nmin-confidence = "sure"\n')
    configured = run_native(["a.py"], cwd=tmp_path)
    assert configured.returncode == 2
    assert b"'min-confidence' must be one of \"high\", \"medium\", \"low\"" in configured.stderr


def test_every_format_carries_the_tier(tmp_path):
    (tmp_path / "a.py").write_text(CALLS)
    def out(fmt):
        return run_native(["--no-cache", "--min-confidence", "low", "--output-format", fmt, "a.py"],
                          cwd=tmp_path).stdout.decode()
    lines = [json.loads(line) for line in out("json-lines").splitlines()]
    assert {(r["confidence"], r["reason"]) for r in lines} >= {("high", "an environment variable")}
    sarif = json.loads(out("sarif"))["runs"][0]["results"]
    assert sorted((r["level"], r["rank"]) for r in sarif) == [
        ("error", 90), ("note", 10), ("warning", 50), ("warning", 50)]
    assert {r["properties"]["confidence"] for r in sarif} == {"high", "medium", "low"}
    github = out("github").splitlines()
    assert sorted(line.split(" ", 1)[0] for line in github if line.startswith("::")) == [
        "::error", "::notice", "::warning", "::warning"]
    assert "KH001 [high] Possible KeyError: os.environ['HOME'] (an environment variable)" in out(
        "concise")
    assert "KH001 [high] Possible KeyError" in out("full")
    statistics = run_native(["--no-cache", "--min-confidence", "low", "--statistics", "a.py"],
                            cwd=tmp_path).stdout.decode()
    assert "by confidence: 1 high, 2 medium, 1 low\n" in statistics


def test_exact_ranks_nothing(tmp_path):
    (tmp_path / "a.py").write_text(CALLS)
    result = run_native(["--no-cache", "--exact", "--min-confidence", "high", "--output-format",
                         "json", "a.py"], cwd=tmp_path)
    records = [r for r in json.loads(result.stdout) if r.get("code")]
    assert records and all("confidence" not in r for r in records)
