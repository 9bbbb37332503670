"""`quelm chain` as a user runs it, in a separate process: it writes into what -o names (a file
keeps its mode, owner and links, a FIFO or a device is written straight into), reads what it is
given or says where it cannot, cleans up on SIGTERM and SIGHUP, lists every bad row, and
cleans a chain (names in any case, --map, bid/ask mids, expiry dates)."""
from __future__ import annotations

import csv
import datetime
import io
import json
import math
import os
import signal
import stat
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import quelm
from conftest import importable

pytestmark = pytest.mark.skipif(not importable("quelm.vec") or not importable("quelm.cli"),
                                reason="quelm.vec and quelm.cli are not available")

HEADER = "id,spot,strike,rate,vol,t,option_type,note\n"
ROW = "{k},100,{strike},0.05,0.2,1,{kind},n{k}\n"


def env() -> dict:
    return dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))


def quelm_cli(*argv, stdin=None, cwd=None, **kw) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "quelm.cli", *map(str, argv)], input=stdin, capture_output=True,
                          env=env(), cwd=cwd, timeout=300, **kw)


def book(path: Path, n: int = 6, bad: dict | None = None) -> Path:
    lines = [HEADER] + [ROW.format(k=k, strike=90 + k, kind="call" if k % 2 else "put") for k in range(n)]
    for k, line in (bad or {}).items():
        lines[k] = line
    path.write_bytes(b"".join(x if isinstance(x, bytes) else x.encode() for x in lines))
    return path


def priced(k: int) -> float:
    return quelm.black_scholes(100, 90 + k, 0.05, 0.2, 1, "call" if k % 2 else "put")


def prices_in(text: str) -> list[float]:
    return [float(r["price"]) for r in csv.DictReader(io.StringIO(text))]


# --- where the rows go -------------------------------------------------------------------------

def test_a_replaced_file_keeps_its_mode_owner_and_links(tmp_path):
    src = book(tmp_path / "in.csv")
    out = tmp_path / "out.csv"
    out.write_text("old\n")
    os.chmod(out, 0o640)
    before = out.stat()
    done = quelm_cli("chain", src, "-o", out)
    assert done.returncode == 0, done.stderr
    after = out.stat()
    assert stat.S_IMODE(after.st_mode) == 0o640 and (after.st_uid, after.st_gid) == (before.st_uid, before.st_gid)
    assert prices_in(out.read_text()) == [priced(k) for k in range(6)]
    # Through a symlink: the target gets the rows, the link stays a link.
    target = tmp_path / "data" / "priced.csv"
    target.parent.mkdir()
    target.write_text("old\n")
    link = tmp_path / "latest.csv"
    link.symlink_to(target)
    assert quelm_cli("chain", src, "-o", link).returncode == 0
    assert link.is_symlink() and os.readlink(link) == str(target)
    assert prices_in(target.read_text()) == [priced(k) for k in range(6)]
    # A new file gets the mode the umask gives every new file, not a temporary file's 0600.
    fresh = tmp_path / "fresh.csv"
    done = subprocess.run([sys.executable, "-c", "import os, sys, runpy; os.umask(0o027); sys.argv = sys.argv[1:];"
                           "runpy.run_module('quelm.cli', run_name='__main__')", "quelm", "chain", str(src), "-o",
                           str(fresh)], capture_output=True, env=env(), timeout=300)
    assert done.returncode == 0, done.stderr
    assert stat.S_IMODE(fresh.stat().st_mode) == 0o640
    assert not list(tmp_path.glob(".quelm-chain-*")) and not list(target.parent.glob(".quelm-chain-*"))


def test_a_fifo_is_written_into_not_replaced(tmp_path):
    src = book(tmp_path / "in.csv")
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    got = {}

    def read():
        with open(fifo, "rb") as f:
            got["data"] = f.read()

    reader = threading.Thread(target=read)
    reader.start()
    done = quelm_cli("chain", src, "-o", fifo)
    reader.join(timeout=60)
    assert done.returncode == 0, done.stderr
    assert stat.S_ISFIFO(fifo.stat().st_mode)
    assert prices_in(got["data"].decode()) == [priced(k) for k in range(6)]


def test_a_device_is_written_into_not_replaced(tmp_path):
    device = tmp_path / "null"
    try:
        os.mknod(device, stat.S_IFCHR | 0o666, os.makedev(1, 3))  # a /dev/null of the test's own
    except (PermissionError, OSError):
        pytest.skip("cannot create a device node here")
    done = quelm_cli("chain", book(tmp_path / "in.csv"), "-o", device)
    assert done.returncode == 0, done.stderr
    assert stat.S_ISCHR(device.stat().st_mode)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.csv", "null"]


@pytest.mark.parametrize("where, reason", [("missing/out.csv", "No such file or directory"),
                                           (".", "it is a directory")])
def test_errors_name_the_path_the_user_gave(tmp_path, where, reason):
    done = quelm_cli("chain", book(tmp_path / "in.csv"), "-o", where, cwd=tmp_path)
    assert done.returncode == 1
    assert done.stderr.decode() == f"quelm chain: error: cannot write {where}: {reason}\n"
    assert done.stdout == b""
    done = quelm_cli("chain", "nowhere.csv", cwd=tmp_path)
    assert done.stderr.decode() == "quelm chain: error: cannot read nowhere.csv: No such file or directory\n"


# --- what it reads -----------------------------------------------------------------------------

def test_a_byte_that_is_not_utf8_fails_its_row_only(tmp_path):
    src = book(tmp_path / "in.csv", bad={3: b"2,1\xff0,92,0.05,0.2,1,put,n2\n", 5: b"4,100,94,0.05,0.2,1,put,caf\xe9\n"})
    done = quelm_cli("chain", src)
    assert done.returncode == 1 and done.stdout == b""
    assert done.stderr.decode() == f"quelm chain: error: {src} line 4, column spot: not UTF-8 text (byte 0xff)\n"
    done = quelm_cli("chain", src, "--errors", "nan")
    assert done.returncode == 0
    lines = done.stdout.split(b"\n")
    assert lines[5] == b"4,100,94,0.05,0.2,1,put,caf\xe9," + repr(priced(4)).encode() + b","   # copied byte for byte
    rows = list(csv.DictReader(io.StringIO(done.stdout.decode("utf-8", "replace"))))
    assert [r["error"] for r in rows] == ["", "", "column spot: not UTF-8 text (byte 0xff)", "", "", ""]
    assert [r["price"] for r in rows][3:] == [repr(priced(k)) for k in (3, 4, 5)]


def test_unreadable_files_get_one_line_with_file_line_and_column(tmp_path):
    utf16 = tmp_path / "wide.csv"
    utf16.write_text(HEADER + ROW.format(k=0, strike=90, kind="put"), encoding="utf-16")
    done = quelm_cli("chain", utf16)
    assert (done.returncode, done.stdout) == (1, b"")
    assert done.stderr.decode() == (f"quelm chain: error: {utf16} line 1, column 1: UTF-16 text (a byte-order mark); "
                                    "save the file as UTF-8\n")
    long = book(tmp_path / "long.csv", bad={2: '1,100,91,0.05,0.2,1,call,"' + "x" * 140_000 + '"\n'})
    done = quelm_cli("chain", long)
    assert done.returncode == 1
    assert done.stderr.decode() == (f"quelm chain: error: {long} line 3, column 8: a field longer than 131,072 "
                                    "characters (an unclosed quote?)\n")
    nul = book(tmp_path / "nul.csv", bad={1: "0,100,90,0.05,0.2,1,ca\x00ll,n\n"})
    done = quelm_cli("chain", nul)
    assert "line 2, column option_type: a NUL byte" in done.stderr.decode() and done.stderr.count(b"\n") == 1


def test_a_duplicate_header_is_an_error(tmp_path):
    src = tmp_path / "in.csv"
    src.write_text("spot,Spot,strike,rate,vol,t,option_type\n1,1,1,0,0.2,1,call\n")
    done = quelm_cli("chain", src)
    assert done.returncode == 1
    assert done.stderr.decode() == (f"quelm chain: error: {src} line 1: columns 'spot' and 'Spot' are the same "
                                    "column 'spot'; rename one (or --map it)\n")


# --- signals and pipes -------------------------------------------------------------------------

def big_book(path: Path, rows: int = 400_000) -> Path:
    with open(path, "w") as f:
        f.write(HEADER)
        for k in range(rows):
            f.write(ROW.format(k=k, strike=50 + k % 100, kind="call" if k % 2 else "put"))
    return path


@pytest.fixture(scope="module")
def large(tmp_path_factory):
    return big_book(tmp_path_factory.mktemp("large") / "book.csv")


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP, signal.SIGINT], ids=["TERM", "HUP", "INT"])
def test_a_stopping_signal_leaves_no_partial_file(tmp_path, large, signum):
    out = tmp_path / "out.csv"
    # A background job of a shell without job control starts with SIGINT ignored, and so
    # would the command: give it the default disposition, as a terminal would.
    proc = subprocess.Popen([sys.executable, "-m", "quelm.cli", "chain", str(large), "-o", str(out), "--greeks",
                             "--chunk-size", "5000"], env=env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    deadline = time.monotonic() + 120
    while not list(tmp_path.glob(".quelm-chain-*")) and time.monotonic() < deadline and proc.poll() is None:
        time.sleep(0.02)
    assert list(tmp_path.glob(".quelm-chain-*")), "no partial file appeared"
    time.sleep(0.2)
    proc.send_signal(signum)
    _, err = proc.communicate(timeout=120)
    assert proc.returncode == 128 + signum, err
    assert list(tmp_path.iterdir()) == [], list(tmp_path.iterdir())
    name = "interrupted" if signum == signal.SIGINT else f"stopped by {signal.Signals(signum).name}"
    assert err.decode().endswith(f"quelm chain: {name}\n") and b"Traceback" not in err


def test_a_closed_pipe_ends_the_command_quietly(large):
    proc = subprocess.Popen([sys.executable, "-m", "quelm.cli", "chain", str(large), "--errors", "nan"], env=env(),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = proc.stdout.readline()
    proc.stdout.close()                       # `| head -1`
    err = proc.stderr.read()
    proc.wait(timeout=120)
    assert first.startswith(b"id,spot,")
    assert err == b"" and proc.returncode == 141


def test_json_is_strict():
    done = quelm_cli("price", "--spot", "100", "--strike", "105", "--rate", "0.05", "--vol", "nan", "--t", "1",
                     "--option-type", "call", "--json")
    assert done.returncode == 0

    def refuse(name):
        raise AssertionError(f"not JSON: {name}")

    got = json.loads(done.stdout, parse_constant=refuse)
    assert got["price"] is None and got["volatility"] is None
    assert got["error"] == "not finite: volatility is nan, price is nan"
    assert got["spot"] == 100.0


# --- bad rows, listed ----------------------------------------------------------------------------

def rejection(option_type: str) -> str:
    with pytest.raises(ValueError) as info:
        quelm.black_scholes(1, 1, 0, 0, 0, option_type)
    return str(info.value)


def test_errors_raise_lists_every_bad_row_and_writes_nothing(tmp_path):
    bad = {2: "1,100,-1,0.05,0.2,1,call,n\n", 4: "3,abc,93,0.05,0.2,1,put,n\n", 6: "5,100,95,0.05,0.2,1,puts,n\n"}
    src = book(tmp_path / "in.csv", n=8, bad=bad)
    for out in ([], ["-o", tmp_path / "out.csv"]):
        done = quelm_cli("chain", src, *out, "--chunk-size", 2)
        assert done.returncode == 1 and done.stdout == b""
        assert done.stderr.decode().splitlines() == [
            f"quelm chain: error: {src}: 3 rows cannot be computed; nothing was written:",
            "  line 3: invalid input: strike must be > 0",
            "  line 5, column spot: cannot read 'abc' as a number",
            "  line 7, column option_type: " + rejection("puts"),
        ]
        assert sorted(p.name for p in tmp_path.iterdir()) == ["in.csv"]
    many = book(tmp_path / "many.csv", n=30, bad={k: f"{k},100,-{k},0.05,0.2,1,call,n\n" for k in range(1, 31)})
    lines = quelm_cli("chain", many).stderr.decode().splitlines()
    assert len(lines) == 22 and lines[-1] == "  ... and 10 more"


# --- cleaning a chain -----------------------------------------------------------------------------

def test_headers_in_any_case_and_mapped_names(tmp_path):
    src = tmp_path / "in.csv"
    src.write_text("Ticker,Underlying,STRIKE,Rate,Vol,T,Right\nX,100,95,0.05,0.2,1,call\nX,100,105,0.05,0.2,1,put\n")
    done = quelm_cli("chain", src, "--map", "Underlying=spot,right=option_type")
    assert done.returncode == 0, done.stderr
    assert prices_in(done.stdout.decode()) == [quelm.black_scholes(100, 95, 0.05, 0.2, 1, "call"),
                                               quelm.black_scholes(100, 105, 0.05, 0.2, 1, "put")]
    assert done.stdout.decode().splitlines()[0] == "Ticker,Underlying,STRIKE,Rate,Vol,T,Right,price"
    done = quelm_cli("chain", src, "--map", "Spot=spot")
    assert done.returncode == 1 and "--map names column(s) spot, which the header does not have" in \
        done.stderr.decode()


def test_bid_and_ask_are_implied_at_the_mid(tmp_path):
    src = tmp_path / "quotes.csv"
    rows = [(95, "call", 9.1, 9.3), (105, "put", 8.0, 8.4), (100, "call", 7.0, 6.5)]
    src.write_text("spot,strike,rate,t,option_type,Bid,Ask\n" +
                   "".join(f"100,{k},0.03,0.5,{c},{b},{a}\n" for k, c, b, a in rows))
    done = quelm_cli("chain", src, "--bid", "bid", "--ask", "ASK", "--errors", "nan")
    assert done.returncode == 0, done.stderr
    got = list(csv.DictReader(io.StringIO(done.stdout.decode())))
    for row, (k, c, b, a) in zip(got[:2], rows):
        mid = (b + a) / 2
        assert float(row["mid"]) == mid
        assert float(row["implied_vol"]) == quelm.implied_volatility(mid, 100, k, 0.03, 0.5, c)
    assert got[2]["implied_vol"] == "" and got[2]["error"] == "column Ask: the ask is below the bid"
    # One quote column without the other is a usage error, caught before the file is read.
    for flag in ("--bid", "--ask"):
        alone = quelm_cli("chain", tmp_path / "missing.csv", flag, "Bid")
        other = "--ask" if flag == "--bid" else "--bid"
        assert alone.returncode == 2 and alone.stdout == b""
        assert alone.stderr.decode().startswith("usage: quelm chain ")
        assert alone.stderr.decode().endswith(f"quelm chain: error: argument {flag}: needs {other} too (volatilities "
                                              "are implied at the mid of the two)\n")


def test_expiry_dates_give_t_from_the_valuation_date(tmp_path):
    src = tmp_path / "book.csv"
    src.write_text("spot,strike,rate,vol,expiry,option_type\n100,100,0.05,0.2,2026-06-30,call\n"
                   "100,100,0.05,0.2,2025-12-31,put\n100,100,0.05,0.2,31/12/2025,put\n")
    done = quelm_cli("chain", src, "--valuation-date", "2025-06-30", "--errors", "nan")
    assert done.returncode == 0, done.stderr
    got = list(csv.DictReader(io.StringIO(done.stdout.decode())))
    for row, (day, kind) in zip(got, [(datetime.date(2026, 6, 30), "call"), (datetime.date(2025, 12, 31), "put")]):
        t = (day - datetime.date(2025, 6, 30)).days / 365.0            # ACT/365F
        assert float(row["t"]) == t
        assert float(row["price"]) == quelm.black_scholes(100, 100, 0.05, 0.2, t, kind)
    assert math.isnan(float(got[2]["t"])) and got[2]["error"] == \
        "column expiry: cannot read '31/12/2025' as a date YYYY-MM-DD"
    done = quelm_cli("chain", src)
    assert "missing column(s) t" in done.stderr.decode() and "--valuation-date" in done.stderr.decode()


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("target, extra, shown", [
    ("-o", ["--errors", "raise"], "/dev/full"),   # held until the input is known good, then copied
    ("-o", ["--errors", "nan"], "/dev/full"),     # written straight into
    ("-o", ["--json"], "/dev/full"),
    (">", [], "standard output"),
])
def test_a_full_device_is_an_error_naming_the_output(tmp_path, target, extra, shown):
    src = book(tmp_path / "book.csv")
    if target == ">":
        with open("/dev/full", "wb") as full:
            done = subprocess.run([sys.executable, "-m", "quelm.cli", "chain", str(src), *extra], stdout=full,
                                  stderr=subprocess.PIPE, env=env(), timeout=120)
    else:
        done = quelm_cli("chain", src, "-o", "/dev/full", *extra)
    assert done.returncode == 1
    assert done.stderr.decode() == f"quelm chain: error: cannot write {shown}: No space left on device\n"
