"""The `quelm` command line: one-option commands print exactly what the library returns, and
`quelm chain` prices a CSV file bit for bit like the scalar calls, with bad rows named by line."""
from __future__ import annotations

import csv
import io
import json
import math
import os
import random
import re
import subprocess
import sys
from pathlib import Path

import pytest

import quelm
from conftest import importable, load_python_source

ROOT = Path(__file__).resolve().parent.parent


cli = load_python_source("cli", siblings=("cli_chain",))


def run(capsys, *argv):
    """main(argv) -> (exit status, stdout, stderr); argparse's exits count as statuses."""
    try:
        code = cli.main([str(a) for a in argv])
    except SystemExit as exc:
        code = exc.code
    out, err = capsys.readouterr()
    return code, out, err


def flags(**values):
    return [x for k, v in values.items() for x in (f"--{k.replace('_', '-')}", v)]


CASES = [
    dict(spot=100.0, strike=105.0, rate=0.05, vol=0.2, t=1.0, option_type="call"),
    dict(spot=100.0, strike=95.0, rate=0.03, vol=0.35, t=0.25, option_type="put", dividend_yield=0.01),
    dict(spot=42.5, strike=40.0, rate=-0.01, vol=0.6, t=2.5, option_type="p", dividend_yield=0.02),
    dict(spot=0.0, strike=10.0, rate=0.05, vol=0.0, t=0.0, option_type="c"),
]


def library(command, case):
    if command == "price":
        return quelm.price(**case)
    if command == "greeks":
        return quelm.greeks(**case)
    iv_case = {k: v for k, v in case.items() if k != "vol"}
    iv_case["market_price"] = quelm.black_scholes(**case)
    return {"implied_volatility": quelm.implied_volatility(**iv_case)}, iv_case


def expected_and_argv(command, case):
    if command == "iv":
        result, iv_case = library("iv", case)
        return result, [command, *flags(**{k: repr(v) if isinstance(v, float) else v
                                          for k, v in iv_case.items()})]
    return library(command, case), [command, *flags(**{k: repr(v) if isinstance(v, float) else v
                                                      for k, v in case.items()})]


def same_bits(a, b):
    return (isinstance(a, float) and isinstance(b, float) and math.copysign(1, a) == math.copysign(1, b)
            and (a == b or (math.isnan(a) and math.isnan(b)))) or (not isinstance(a, float) and a == b)


# --- one option ---------------------------------------------------------------------------

@pytest.mark.parametrize("command", ["price", "greeks", "iv"])
@pytest.mark.parametrize("case", CASES[:3], ids=["call", "put-dividend", "p-negative-rate"])
def test_json_is_the_library_result_exactly(capsys, command, case):
    expected, argv = expected_and_argv(command, case)
    code, out, err = run(capsys, *argv, "--json")
    assert (code, err) == (0, "")
    got = json.loads(out)
    assert list(got) == list(expected)
    assert all(same_bits(got[k], expected[k]) for k in expected), (got, expected)


@pytest.mark.parametrize("command", ["price", "greeks"])
@pytest.mark.parametrize("case", CASES, ids=["call", "put-dividend", "p-negative-rate", "degenerate"])
def test_table_lists_every_key_in_order_with_exact_values(capsys, command, case):
    expected, argv = expected_and_argv(command, case)
    code, out, _ = run(capsys, *argv)
    assert code == 0
    lines = out.splitlines()
    assert [line.split()[0] for line in lines] == list(expected)
    assert len({line.index(line.split()[1]) for line in lines}) == 1  # values start in one column
    for line in lines:
        key, text = line.split()
        value = expected[key]
        assert same_bits(float(text), value) if isinstance(value, float) else text == value


def test_price_shape_matches_the_library_and_the_stub(capsys):
    code, out, _ = run(capsys, "price", *flags(spot=100, strike=105, rate=0.05, vol=0.2, t=1,
                                                  option_type="call", dividend_yield=0.01), "--json")
    got = json.loads(out)
    assert list(got) == ["model", "option_type", "exercise", "spot", "strike", "rate", "volatility",
                         "time", "dividend_yield", "price"]
    assert got == quelm.price(100, 105, 0.05, 0.2, 1, "call", 0.01)


def library_message(fn, *args):
    with pytest.raises(ValueError) as info:
        fn(*args)
    return str(info.value)


BASE = dict(spot=100, strike=105, rate=0.05, vol=0.2, t=1, option_type="call")
IV_BASE = dict(market_price=8.0, spot=100, strike=105, rate=0.05, t=1, option_type="call")


@pytest.mark.parametrize("argv, message", [
    (["price", *flags(**{**BASE, "strike": -5})], "invalid input: strike must be > 0"),
    (["greeks", *flags(**{**BASE, "vol": -0.2})], library_message(quelm.greeks, 100, 105, 0.05, -0.2, 1, "call")),
    (["iv", *flags(**{**IV_BASE, "market_price": 200})],
     library_message(quelm.implied_volatility, 200, 100, 105, 0.05, 1, "call")),
], ids=["negative-strike", "negative-vol", "iv-out-of-bounds"])
def test_rejected_inputs_exit_1_with_the_library_message(capsys, argv, message):
    code, out, err = run(capsys, *argv)
    assert code == 1 and out == ""
    assert err.count("\n") == 1 and "Traceback" not in err
    assert err.rstrip().endswith(message)


@pytest.mark.parametrize("argv", [
    [],
    ["value"],
    ["price", *flags(spot=100, strike=105, rate=0.05, t=1, option_type="call")],      # no --vol
    ["price", *flags(**{**BASE, "spot": "abc"})],
    ["iv", *flags(**BASE)],                                                          # no --market-price
    ["chain"],
    ["chain", "x.csv", "--errors", "skip"],
    ["chain", "x.csv", "--chunk-size", "0"],
], ids=["no-command", "unknown-command", "missing-flag", "not-a-number", "iv-needs-price", "chain-no-file",
        "bad-errors-mode", "bad-chunk-size"])
def test_usage_errors_exit_2(capsys, argv):
    code, out, err = run(capsys, *argv)
    assert code == 2 and out == ""
    assert "usage: quelm" in err


@pytest.mark.parametrize("argv, message", [
    (["price", *flags(**{**BASE, "option_type": "Straddle"})],
     "argument --option-type: " + library_message(quelm.price, 100, 105, 0.05, 0.2, 1, "Straddle")),
    (["iv", *flags(**{**IV_BASE, "option_type": "straddle"})],
     "argument --option-type: " + library_message(quelm.implied_volatility, 8.0, 100, 105, 0.05, 1, "straddle")),
    (["chain", "x.csv", "--map", "Spot=price"], "argument --map: 'price' is not a column the command reads"),
    (["chain", "x.csv", "--map", "Spot"], "argument --map: expected COLUMN=PARAMETER pairs, got 'Spot'"),
    (["chain", "x.csv", "--valuation-date", "30/06/2025"],
     "argument --valuation-date: expected a date YYYY-MM-DD, got '30/06/2025'"),
], ids=["option-type", "iv-option-type", "map-target", "map-pair", "valuation-date"])
def test_a_malformed_flag_is_a_usage_error_with_its_reason(capsys, argv, message):
    code, out, err = run(capsys, *argv)
    assert code == 2 and out == "" and "usage: quelm" in err
    assert message in err.splitlines()[-1]


def test_version_and_help(capsys):
    code, out, _ = run(capsys, "--version")
    assert (code, out.strip()) == (0, f"quelm {quelm.__version__}")
    code, out, _ = run(capsys, "--help")
    assert code == 0
    assert all(word in out for word in ("price", "greeks", "iv", "chain", "examples:", "Exit status", "5%)"))
    for command in ("price", "greeks", "iv", "chain"):
        code, out, _ = run(capsys, command, "--help")
        assert code == 0 and f"quelm {command}" in out and "example" in out and "%%" not in out
        assert "--option-type" in out and "--dividend-yield" in out or command == "chain"


def run_script(*argv):
    return subprocess.run([sys.executable, "-m", "quelm.cli", *map(str, argv)], capture_output=True, text=True,
                          timeout=120, env={**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p)})


def test_runs_as_a_program():
    case = dict(spot=100.0, strike=105.0, rate=0.05, vol=0.2, t=1.0, option_type="call", dividend_yield=0.01)
    done = run_script("price", *flags(**case), "--json")
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == quelm.price(**case)
    bad = run_script("price", *flags(**{**case, "strike": -1}))
    assert bad.returncode == 1
    assert bad.stderr == "quelm price: error: invalid input: strike must be > 0\n"
    usage = run_script("greeks", "--spot", "1")
    assert usage.returncode == 2 and "the following arguments are required" in usage.stderr


# --- a CSV chain --------------------------------------------------------------------------


chain_test = pytest.mark.skipif(not importable("quelm.vec"), reason="quelm.vec is not available")


def random_book(n, seed, *, dividends=True):
    rng = random.Random(seed)
    rows = []
    for i in range(n):
        row = dict(id=f"opt-{i}", spot=rng.uniform(50, 150), strike=rng.uniform(50, 150),
                   rate=rng.uniform(-0.01, 0.08), vol=rng.uniform(0.05, 0.9), t=rng.uniform(0.02, 3.0),
                   option_type=rng.choice(["call", "put", "c", "p"]), note=rng.choice(["", "a,b", 'say "hi"']))
        if dividends:
            row["dividend_yield"] = rng.choice([0.0, rng.uniform(0, 0.05)])
        rows.append(row)
    return rows


def write_csv(path, rows, columns=None):
    columns = columns or list(rows[0])
    with open(path, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(columns)
        for row in rows:
            writer.writerow([repr(row[c]) if isinstance(row.get(c), float) else row.get(c, "") for c in columns])
    return path


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def args_of(row, *names):
    return [float(row[n]) if n != "option_type" else row[n] for n in names]


PRICE_ARGS = ("spot", "strike", "rate", "vol", "t", "option_type", "dividend_yield")
IV_ARGS = ("market_price", "spot", "strike", "rate", "t", "option_type", "dividend_yield")


@chain_test
@pytest.mark.parametrize("chunk", [7, 65536])
def test_chain_prices_bit_for_bit_and_passes_columns_through(capsys, tmp_path, chunk):
    book = random_book(50, seed=chunk)
    src = write_csv(tmp_path / "in.csv", book)
    code, _, err = run(capsys, "chain", src, "-o", tmp_path / "out.csv", "--greeks", "--chunk-size", chunk)
    assert (code, err) == (0, "")
    out = read_csv(tmp_path / "out.csv")
    assert list(out[0]) == [*book[0], "price", "delta", "gamma", "vega", "theta", "rho"]
    with open(src, newline="") as f:
        original = list(csv.DictReader(f))
    for row, before in zip(out, original, strict=True):
        assert {k: row[k] for k in before} == before
        args = args_of(row, *PRICE_ARGS)
        assert float(row["price"]) == quelm.black_scholes(*args)
        assert {k: float(row[k]) for k in quelm.greeks(*args)} == quelm.greeks(*args)


@chain_test
def test_chain_implies_volatility_bit_for_bit(capsys, tmp_path):
    book = random_book(40, seed=3, dividends=False)
    for row in book:
        row["market_price"] = quelm.black_scholes(*args_of({k: str(v) for k, v in row.items()},
                                                           *PRICE_ARGS[:-1]))
        row["vol"] = None
    columns = ["market_price", "spot", "strike", "rate", "t", "option_type", "id"]
    src = write_csv(tmp_path / "quotes.csv", book, columns)
    code, _, err = run(capsys, "chain", src, "-o", tmp_path / "ivs.csv", "--greeks", "--errors", "nan")
    assert code == 0
    for row in read_csv(tmp_path / "ivs.csv"):
        args = args_of(row, *IV_ARGS[:-1])
        try:
            iv = quelm.implied_volatility(*args)
        except ValueError:          # a quote too close to its bounds for the solver
            assert row["implied_vol"] == "" and "could not be computed" in err
            continue
        assert float(row["implied_vol"]) == iv
        greeks = quelm.greeks(args[1], args[2], args[3], iv, args[4], args[5])
        assert {k: float(row[k]) for k in greeks} == greeks


GOOD = dict(spot="100", strike="105", rate="0.05", vol="0.2", t="1", option_type="call", dividend_yield="")


def small_chain(path, bad_line, **bad_cells):
    """Eight good rows on lines 2-9, one of them (at `bad_line`) changed to `bad_cells`."""
    rows = [dict(GOOD, **(bad_cells if line == bad_line else {})) for line in range(2, 10)]
    return write_csv(path, rows, list(GOOD))


@chain_test
@pytest.mark.parametrize("bad_line, cells, message", [
    (5, dict(strike="-5"), "line 5: invalid input: strike must be > 0"),
    (2, dict(vol="-0.1"), "line 2: " + library_message(quelm.black_scholes, 100, 105, 0.05, -0.1, 1, "call")),
    (9, dict(t="-1"), "line 9: " + library_message(quelm.black_scholes, 100, 105, 0.05, 0.2, -1, "call")),
    (4, dict(spot="abc"), "line 4, column spot: cannot read 'abc' as a number"),
    (7, dict(rate=""), "line 7, column rate: empty cell"),
    (6, dict(option_type="Straddle"),
     "line 6, column option_type: " + library_message(quelm.black_scholes, 1, 1, 0, 0, 0, "Straddle")),
], ids=["strike", "vol", "t-last-row", "not-a-number", "empty-cell", "option-type"])
@pytest.mark.parametrize("chunk", [3, 100])
def test_chain_names_the_bad_line_and_writes_nothing(capsys, tmp_path, bad_line, cells, message, chunk):
    src = small_chain(tmp_path / "in.csv", bad_line, **cells)
    code, out, err = run(capsys, "chain", src, "-o", tmp_path / "out.csv", "--chunk-size", chunk)
    assert code == 1 and out == ""
    assert err == f"quelm chain: error: {src} {message}\n"
    assert list(tmp_path.iterdir()) == [src]          # no output file, no temporary left behind


@chain_test
def test_chain_line_numbers_count_physical_lines(capsys, tmp_path):
    src = tmp_path / "in.csv"
    src.write_text('spot,strike,rate,vol,t,option_type,note\n'
                   '100,105,0.05,0.2,1,call,"two\nlines"\n'
                   '\n'
                   '100,-1,0.05,0.2,1,call,x\n')
    code, _, err = run(capsys, "chain", src)
    assert code == 1 and err.endswith(f"{src} line 5: invalid input: strike must be > 0\n")
    src.write_text("spot,strike,rate,vol,t,option_type\n100,105,0.05,0.2,1\n")
    code, _, err = run(capsys, "chain", src)
    assert code == 1 and err.endswith("line 2: 5 fields where the header has 6\n")


@chain_test
def test_chain_errors_nan_leaves_bad_rows_empty_and_counts_them(capsys, tmp_path):
    rows = [dict(GOOD, strike=str(k)) for k in (90, -1, 100, 110)] + [dict(GOOD, spot="x"), dict(GOOD, vol="nan")]
    src = write_csv(tmp_path / "in.csv", rows, list(GOOD))
    code, out, err = run(capsys, "chain", src, "--errors", "nan", "--greeks")
    assert code == 0
    got = list(csv.DictReader(io.StringIO(out)))
    empty = [i for i, row in enumerate(got) if row["price"] == ""]
    assert empty == [1, 4] and all(got[i]["rho"] == "" for i in empty)
    assert got[5]["price"] == "nan"            # a NaN input prices to NaN: not a rejected row
    assert float(got[2]["price"]) == quelm.black_scholes(100, 100, 0.05, 0.2, 1, "call")
    assert [row["error"] for row in got] == ["", "invalid input: strike must be > 0", "", "",
                                           "column spot: cannot read 'x' as a number", ""]
    assert err == ("quelm chain: 2 of 6 rows could not be computed; their new cells are empty and the error "
                   "column says why\n")


@chain_test
@pytest.mark.parametrize("header, extra, message", [
    ("spot,strike,rate,t,option_type", [], "missing column(s) vol"),
    ("spot,rate,vol,t", [], "missing column(s) strike, option_type"),
    ("spot,strike,rate,vol,t,option_type,market_price", [], "both vol and market_price"),
    ("spot,strike,rate,vol,t,option_type,price", [], "already has the output column(s) price"),
    ("spot,strike,rate,vol,t,option_type,market_price", ["--compute", "iv", "--greeks"], None),
], ids=["no-vol", "several-missing", "ambiguous", "clash", "compute-chooses"])
def test_chain_checks_the_header(capsys, tmp_path, header, extra, message):
    src = tmp_path / "in.csv"
    src.write_text(header + "\n" + ",".join(["100", "105", "0.05", "0.2", "1", "call", "8"][:header.count(",") + 1])
                   + "\n")
    code, out, err = run(capsys, "chain", src, *extra)
    if message is None:
        assert code == 0
        row = next(csv.DictReader(io.StringIO(out)))
        assert float(row["implied_vol"]) == quelm.implied_volatility(8, 100, 105, 0.05, 1, "call")
        assert row["vol"] == "0.2" and "price" not in row
    else:
        assert code == 1 and message in err and err.count("\n") == 1


@chain_test
def test_chain_progress_bar_and_stdin(capsys, tmp_path, monkeypatch):
    src = write_csv(tmp_path / "in.csv", random_book(25, seed=9))
    code, _, err = run(capsys, "chain", src, "-o", tmp_path / "out.csv", "--progress", "--chunk-size", 10)
    assert code == 0
    frames = err.rstrip("\n").split("\r")[1:]
    assert [f.split()[-2] for f in frames] == ["10/25", "20/25", "25/25"] and "100%" in frames[-1]
    monkeypatch.setattr(sys, "stdin", io.StringIO(src.read_text()))
    code, out, err = run(capsys, "chain", "-", "--no-progress")
    assert (code, err) == (0, "")
    assert out == (tmp_path / "out.csv").read_text()


# --- chain: JSON rows, constants for missing columns ------------------------------------------


def json_rows(text):
    return [json.loads(line) for line in text.splitlines()]


@chain_test
@pytest.mark.parametrize("extra", [["--greeks"], ["--errors", "nan"], ["--greeks", "--errors", "nan", "--chunk-size", "2"]])
def test_chain_json_holds_the_csv_rows_exactly(capsys, tmp_path, extra):
    rows = [dict(GOOD, strike=str(k)) for k in (90, -1, 100)] + [dict(GOOD, vol="nan"), dict(GOOD, note="é \"q\"")]
    src = write_csv(tmp_path / "in.csv", rows, [*GOOD, "note"])
    code, as_csv, _ = run(capsys, "chain", src, *extra, "--errors", "nan")
    code_json, as_json, _ = run(capsys, "chain", src, *extra, "--errors", "nan", "--json")
    assert code == code_json == 0
    table = list(csv.DictReader(io.StringIO(as_csv)))
    objects = json_rows(as_json)
    assert [list(o) for o in objects] == [list(r) for r in table]     # the same columns, in order
    added = ["price", *(["delta", "gamma", "vega", "theta", "rho"] if "--greeks" in extra else [])]
    for obj, row in zip(objects, table, strict=True):
        assert {k: obj[k] for k in GOOD} == {k: row[k] for k in GOOD} and obj["note"] == row["note"]
        for name in added:
            if row[name] in ("", "nan"):
                assert obj[name] is None
            else:
                assert same_bits(obj[name], float(row[name]))
    assert objects[1]["error"] == "invalid input: strike must be > 0"
    assert objects[3]["error"] == "not finite: " + ", ".join(f"{n} is nan" for n in added)
    assert objects[0]["error"] is None


@chain_test
def test_chain_json_is_strict_and_its_keys_distinct(capsys, tmp_path):
    src = tmp_path / "in.csv"
    src.write_text("spot,strike,rate,vol,t,option_type\n100,105,0.05,nan,1,call\n")
    code, out, err = run(capsys, "chain", src, "--json")
    assert (code, err) == (0, "")
    assert out == ('{"spot": "100", "strike": "105", "rate": "0.05", "vol": "nan", "t": "1", "option_type": "call", '
                   '"price": null, "error": "not finite: price is nan"}\n')
    # An input column named error would give a row two "error" keys.
    src.write_text("spot,strike,rate,vol,t,option_type,Error\n100,105,0.05,0.2,1,call,a\n")
    assert run(capsys, "chain", src)[0] == 0
    code, out, err = run(capsys, "chain", src, "--json")
    assert code == 1 and out == ""
    assert err == (f"quelm chain: error: {src}: already has the output column(s) error; rename them to keep them\n")


@chain_test
@pytest.mark.parametrize("header, cells, flags_given", [
    ("strike,vol,t,option_type", "105,0.2,1,call", dict(spot=100, rate=0.05)),
    ("strike,rate,vol,t,option_type", "95,0.03,0.35,0.25,put", dict(spot=100, dividend_yield=0.01)),
    ("spot,strike,vol,t,option_type,dividend_yield", "42.5,40,0.6,2.5,p,", dict(rate=-0.01)),
], ids=["spot-rate", "spot-dividend", "rate-empty-dividend"])
def test_chain_constants_stand_in_for_missing_columns(capsys, tmp_path, header, cells, flags_given):
    src = tmp_path / "in.csv"
    src.write_text(f"{header}\n{cells}\n")
    code, out, err = run(capsys, "chain", src, *flags(**flags_given))
    assert (code, err) == (0, "")
    row = next(csv.DictReader(io.StringIO(out)))
    assert list(row) == [*header.split(","), "price"]            # the constants add no column
    values = {**{k: row[k] for k in header.split(",")}, **{k: str(v) for k, v in flags_given.items()}}
    values["dividend_yield"] = values.get("dividend_yield") or "0"
    assert float(row["price"]) == quelm.black_scholes(*args_of(values, *PRICE_ARGS))


@chain_test
@pytest.mark.parametrize("flag, header", [
    ("--spot", "Spot,strike,rate,vol,t,option_type"),
    ("--rate", "spot,strike,RATE,vol,t,option_type"),
    ("--dividend-yield", "spot,strike,rate,vol,t,option_type,dividend_yield"),
])
def test_chain_a_constant_and_its_column_are_an_error(capsys, tmp_path, flag, header):
    # Neither may silently win: the file and the flag disagree about where the value comes from.
    src = tmp_path / "in.csv"
    src.write_text(f"{header}\n" + ",".join("100,105,0.05,0.2,1,call,0.01".split(",")[:header.count(",") + 1]) + "\n")
    code, out, err = run(capsys, "chain", src, flag, "0.02", "-o", tmp_path / "out.csv")
    name = flag[2:].replace("-", "_")
    column = next(h for h in header.split(",") if h.lower() == name)
    assert code == 1 and out == "" and not (tmp_path / "out.csv").exists()
    assert err == (f"quelm chain: error: {src}: has a {name} column ({column!r}) and {flag} gives one "
                   f"{name.replace('_', ' ')} for every row; give either the column or {flag}\n")


@chain_test
@pytest.mark.parametrize("mode", ["raise", "nan"])
def test_chain_a_failed_rename_names_the_output(capsys, tmp_path, monkeypatch, mode):
    # A full disk can also fail the last step of an atomic write; no temporary file stays.
    src = small_chain(tmp_path / "in.csv", 0)
    (tmp_path / "out").mkdir()

    def full(*_):
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(os, "replace", full)
    code, out, err = run(capsys, "chain", src, "-o", tmp_path / "out" / "priced.csv", "--errors", mode)
    assert (code, out) == (1, "")
    assert err == f"quelm chain: error: cannot write {tmp_path / 'out' / 'priced.csv'}: No space left on device\n"
    assert list((tmp_path / "out").iterdir()) == []


# --- the examples in docs/cli.md ----------------------------------------------------------------


def console_examples():
    """(files written so far, argv, expected stdout) for each `$ quelm ...` example of the
    command-line page that prints to standard output only; `$ cat FILE` examples give the files."""
    files: dict[str, str] = {}
    text = (ROOT / "docs" / "cli.md").read_text()
    for block in re.findall(r"```console\n(.*?)```", text, re.S):
        commands = re.split(r"^\$ ", block, flags=re.M)[1:]
        for command in commands:
            line, _, output = command.partition("\n")
            words = line.split()
            if words[0] == "cat" and len(words) == 2:
                files[words[1]] = output
            elif (words[0] == "quelm" and output and not re.search(r"^(quelm |usage:)", output, re.M)
                  and not {"-o", "|", ">", "<"} & set(words) and "$?" not in line):
                yield dict(files), words[1:], output


@chain_test
@pytest.mark.parametrize("files, argv, expected", list(console_examples()),
                         ids=lambda x: " ".join(x) if isinstance(x, list) else "")
def test_the_documented_examples_print_what_the_page_shows(capsys, tmp_path, monkeypatch, files, argv, expected):
    # The page's numbers are the library's bits; a change there must show up here.
    for name, content in files.items():
        (tmp_path / name).write_text(content)
    monkeypatch.chdir(tmp_path)
    code, out, err = run(capsys, *argv)
    assert (code, err) == (0, "")
    assert out == expected
