"""What keyhound writes never costs the user a file: `-o` cannot replace a
source, a device or a read-only file, `--add-noqa` loses no change and no
property of the files it edits, and an interrupted run leaves nothing."""

import os
import signal
import stat
import subprocess
import time

import pytest

from conftest import NATIVE, clean_env, run_native

RAISING = "def f(d):\n    return d['k']\n"


def leftovers(directory):
    return [p.name for p in directory.rglob("*") if ".keyhound-" in p.name]


def test_the_output_file_cannot_be_an_input(tmp_path):
    source = tmp_path / "a.py"
    source.write_text(RAISING)
    (tmp_path / "link.py").symlink_to(source)
    for output, inputs in [("a.py", ["a.py"]), ("a.py", ["."]), ("link.py", ["a.py"])]:
        result = run_native(["-o", output, *inputs], cwd=tmp_path)
        assert result.returncode == 2, output
        assert b"is one of the files to check" in result.stderr
        assert source.read_text() == RAISING
    assert leftovers(tmp_path) == []


def test_a_fifo_is_written_in_place(tmp_path):
    (tmp_path / "a.py").write_text(RAISING)
    fifo = tmp_path / "report"
    os.mkfifo(fifo)
    # The reader is there before keyhound starts (a thread that had not yet
    # reached its open() once made the run find no reader, under load).
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        process = subprocess.Popen([str(NATIVE), "-o", str(fifo), "a.py"], cwd=tmp_path,
                                   env=clean_env(), stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        received = b""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                chunk = os.read(reader, 65536)
            except BlockingIOError:
                chunk = None
            if chunk:
                received += chunk
            elif process.poll() is not None:
                break
            else:
                time.sleep(0.01)
        process.communicate(timeout=30)
        # What it wrote between the last read and its exit.
        while True:
            try:
                chunk = os.read(reader, 65536)
            except BlockingIOError:
                break
            if not chunk:
                break
            received += chunk
    finally:
        os.close(reader)
    assert process.returncode == 1
    assert stat.S_ISFIFO(fifo.stat().st_mode)
    assert b"Possible KeyError: d['k'] (a mapping from a parameter) in function 'f'" in received


@pytest.mark.skipif(os.geteuid() != 0, reason="mknod needs root")
def test_a_character_device_is_written_not_replaced(tmp_path):
    (tmp_path / "a.py").write_text(RAISING)
    null = tmp_path / "null"
    os.mknod(null, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    result = run_native(["-o", str(null), "a.py"], cwd=tmp_path)
    assert result.returncode == 1
    assert stat.S_ISCHR(null.stat().st_mode)
    assert leftovers(tmp_path) == []


def test_a_link_is_followed_and_kept(tmp_path):
    (tmp_path / "a.py").write_text(RAISING)
    (tmp_path / "reports").mkdir()
    target = tmp_path / "reports" / "out.txt"
    target.write_text("old report\n")
    (tmp_path / "out.txt").symlink_to(target)
    result = run_native(["-o", "out.txt", "a.py"], cwd=tmp_path)
    assert result.returncode == 1
    assert (tmp_path / "out.txt").is_symlink()
    assert b"Possible KeyError" in target.read_bytes()


def test_a_read_only_file_is_an_error_not_replaced(tmp_path):
    (tmp_path / "a.py").write_text(RAISING)
    report = tmp_path / "out.txt"
    report.write_text("kept\n")
    report.chmod(0o444)
    result = run_native(["-o", "out.txt", "a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr.startswith(b"error: cannot write output file 'out.txt': Permission denied")
    assert report.read_text() == "kept\n"


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full")
def test_a_full_disk_is_one_line_and_status_2(tmp_path):
    (tmp_path / "a.py").write_text(RAISING)
    result = run_native(["-o", "/dev/full", "a.py"], cwd=tmp_path)
    assert result.returncode == 2
    assert result.stderr.endswith(b"\nerror: cannot write output file '/dev/full': "
                                  b"No space left on device (os error 28)\n")
    assert result.stderr.count(b"error:") == 1  # no internal fault, no backtrace advice


def test_stale_temporary_files_of_a_killed_run_are_removed(tmp_path):
    (tmp_path / "a.py").write_text(RAISING)
    stale = tmp_path / ".out.txt.keyhound-AbC123"
    young = tmp_path / ".out.txt.keyhound-XyZ789"
    other = tmp_path / ".notes.keyhound-AbC123"
    for path in (stale, young, other):
        path.write_text("half")
    hours_ago = time.time() - 7200
    for path in (stale, other):
        os.utime(path, (hours_ago, hours_ago))
    run_native(["-o", "out.txt", "a.py"], cwd=tmp_path)
    assert not stale.exists()
    assert young.exists() and other.exists()


@pytest.mark.parametrize("signal_number,status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_a_signal_ends_the_run_promptly_and_leaves_nothing(tmp_path, signal_number, status):
    (tmp_path / "a.py").write_text(RAISING)
    os.mkfifo(tmp_path / "blocked.py")  # nobody writes: the read waits
    process = subprocess.Popen([str(NATIVE), "-o", "out.txt", "a.py", "blocked.py"],
                               cwd=tmp_path, env=clean_env(), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    deadline = time.time() + 20
    while not leftovers(tmp_path) and time.time() < deadline:
        time.sleep(0.02)
    assert leftovers(tmp_path), "the run never started writing"
    time.sleep(0.2)
    process.send_signal(signal_number)
    assert process.wait(10) == status
    assert leftovers(tmp_path) == []
    assert not (tmp_path / "out.txt").exists()


# --add-noqa

def add_noqa(path, cwd):
    return run_native(["--add-noqa", str(path)], cwd=cwd)


def test_add_noqa_leaves_a_file_that_changed_meanwhile(tmp_path):
    """A line appended while keyhound works on the file must not be lost:
    the file is large enough that the append lands between its read and
    its write."""
    source = tmp_path / "a.py"
    source.write_text("".join(f"def f{i}(d):\n    return d['k']\n" for i in range(20000)))
    process = subprocess.Popen([str(NATIVE), "--add-noqa", "a.py"], cwd=tmp_path,
                               env=clean_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(0.3)
    with open(source, "a") as appended:
        appended.write("X = 1\n")
    out, err = process.communicate(timeout=60)
    assert source.read_text().endswith("X = 1\n")
    assert "# noqa" not in source.read_text()
    assert err == (b"Error writing file 'a.py': it changed while keyhound was running; "
                   b"left as it was\nAdded 0 noqa comments to 0 files.\n")
    assert process.returncode == 2
    assert leftovers(tmp_path) == []


def test_add_noqa_edits_the_target_of_a_link(tmp_path):
    (tmp_path / "real").mkdir()
    target = tmp_path / "real" / "a.py"
    target.write_text(RAISING)
    link = tmp_path / "a.py"
    link.symlink_to(target)
    result = add_noqa("a.py", tmp_path)
    assert result.returncode == 0, result.stderr
    assert link.is_symlink()
    assert "# noqa: KH001" in target.read_text()
    assert leftovers(tmp_path) == []


def test_add_noqa_edits_a_hard_linked_file_in_place(tmp_path):
    source = tmp_path / "a.py"
    source.write_text(RAISING)
    other = tmp_path / "other_name.py"
    os.link(source, other)
    inode = source.stat().st_ino
    assert add_noqa("a.py", tmp_path).returncode == 0
    assert source.stat().st_ino == inode
    assert "# noqa: KH001" in other.read_text()


def test_add_noqa_keeps_mode_owner_and_extended_attributes(tmp_path):
    source = tmp_path / "a.py"
    source.write_text(RAISING)
    source.chmod(0o640)
    try:
        os.setxattr(source, "user.origin", b"reviewed")
    except OSError:
        pytest.skip("this file system takes no user extended attributes")
    if os.geteuid() == 0:
        os.chown(source, 4321, 8765)
    before = source.stat()
    assert add_noqa("a.py", tmp_path).returncode == 0
    after = source.stat()
    assert "# noqa: KH001" in source.read_text()
    assert after.st_ino != before.st_ino  # replaced, not rewritten
    assert stat.S_IMODE(after.st_mode) == 0o640
    assert (after.st_uid, after.st_gid) == (before.st_uid, before.st_gid)
    assert os.getxattr(source, "user.origin") == b"reviewed"


def test_add_noqa_says_when_a_finding_cannot_take_a_comment(tmp_path):
    source = tmp_path / "a.py"
    source.write_text("def f(d):\n    return d['k'] \\")
    result = add_noqa("a.py", tmp_path)
    assert source.read_text() == "def f(d):\n    return d['k'] \\"
    assert (b"warning: no noqa comment can be added for KH001, KH003 at 'a.py' line 2: its line ends "
            b"in a backslash that continues past the end of the file\n") in result.stderr
