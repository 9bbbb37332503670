"""`quelm chain`: price or imply a CSV file of options through quelm.vec, chunk by chunk.

The file streams through in chunks of rows: each chunk is parsed into float64 columns,
computed in one vectorised call per quantity, and written out with every input cell copied
unchanged and the new numbers written with repr (so they read back to the same doubles).
"""
from __future__ import annotations

import argparse
import csv
import math
import os
import re
import sys
import tempfile
from contextlib import contextmanager
from typing import IO, Iterator

import quelm


class ChainError(Exception):
    """Bad input data or a rejected row; the message is one line."""


REQUIRED = ("spot", "strike", "rate", "t", "option_type")
GREEKS = ("delta", "gamma", "vega", "theta", "rho")
_VEC_INDEX = re.compile(r"^at index \((\d+),\): (.*)$", re.S)


def _load_libraries():
    try:
        import numpy
    except ImportError:
        raise ChainError("the chain command needs NumPy (pip install numpy)") from None
    try:
        from quelm import vec
    except ImportError as exc:
        raise ChainError(f"the chain command needs quelm.vec: {exc}") from None
    return numpy, vec


class Layout:
    """Where the inputs sit in the header, what is computed and which columns are added."""

    def __init__(self, header: list[str], compute: str | None, greeks: bool, source: str):
        names = [h.strip() for h in header]
        self.width = len(header)
        have = set(names)
        missing = [c for c in REQUIRED if c not in have]
        if compute is None:
            if "vol" in have and "market_price" in have:
                raise ChainError(f"{source}: has both vol and market_price columns; choose one with "
                                 "--compute price or --compute iv")
            compute = "iv" if "market_price" in have else "price"
        source_column = "vol" if compute == "price" else "market_price"
        if source_column not in have:
            missing.append(source_column)
        if missing:
            raise ChainError(f"{source}: missing column(s) {', '.join(missing)} "
                             f"(header: {', '.join(names) or 'empty'})")
        self.compute = compute
        self.index = {name: names.index(name) for name in (*REQUIRED, source_column, "dividend_yield")
                      if name in have}
        self.added = ["price" if compute == "price" else "implied_vol"] + (list(GREEKS) if greeks else [])
        clash = [c for c in self.added if c in have]
        if clash:
            raise ChainError(f"{source}: already has the output column(s) {', '.join(clash)}; "
                             "rename them to keep them")


class Progress:
    """A one-line text bar on stderr, redrawn in place."""

    def __init__(self, total: int | None, stream: IO[str]):
        self.total, self.done, self.stream = total, 0, stream

    def advance(self, rows: int) -> None:
        self.done += rows
        if self.total:
            frac = min(self.done / self.total, 1.0)
            bar = "#" * int(30 * frac)
            text = f"\rquelm chain [{bar:<30}] {frac:4.0%}  {self.done:,}/{self.total:,} rows"
        else:
            text = f"\rquelm chain  {self.done:,} rows"
        self.stream.write(text)
        self.stream.flush()

    def close(self) -> None:
        self.stream.write("\n")
        self.stream.flush()


def _count_rows(path: str) -> int | None:
    """Data rows in a file, counted as newlines less the header's (fast; for the bar only)."""
    if path == "-" or not os.path.isfile(path):
        return None
    lines = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            lines += block.count(b"\n")
    return max(lines - 1, 0)


def _chunks(reader, size: int) -> Iterator[tuple[list[list[str]], list[int]]]:
    """Rows with the line each one ends on, `size` rows at a time (blank lines skipped)."""
    rows: list[list[str]] = []
    lines: list[int] = []
    for row in reader:
        if not row:
            continue
        rows.append(row)
        lines.append(reader.line_num)
        if len(rows) == size:
            yield rows, lines
            rows, lines = [], []
    if rows:
        yield rows, lines


class Chunk:
    """One chunk parsed: float64 columns, and the first problem of each rejected row."""

    def __init__(self, np, rows: list[list[str]], layout: Layout, option_messages: dict):
        self.problems: dict[int, str] = {}  # row -> ": message" or ", column c: message"
        for k, row in enumerate(rows):
            if len(row) != layout.width:
                self.problems[k] = f": {len(row)} fields where the header has {layout.width}"
        short = set(self.problems)  # rows whose cells cannot be trusted to line up
        self.columns = {}
        for name, j in layout.index.items():
            if name == "option_type":
                continue
            cells = [row[j] if k not in short else "0" for k, row in enumerate(rows)]
            self.columns[name] = self._floats(np, cells, name, 0.0 if name == "dividend_yield" else None)
        if "dividend_yield" not in self.columns:
            self.columns["dividend_yield"] = np.zeros(len(rows))
        j = layout.index["option_type"]
        types = [row[j] if k not in short else "call" for k, row in enumerate(rows)]
        for k, text in enumerate(types):
            message = option_messages.get(text)
            if message is None:
                message = option_messages[text] = _option_type_problem(text)
            if message and k not in self.problems:
                self.problems[k] = f", column option_type: {message}"
        self.option_type = np.array(types)

    def _floats(self, np, cells: list[str], name: str, default: float | None):
        try:
            return np.array([float(c) for c in cells], dtype=np.float64)
        except ValueError:
            pass
        out = np.empty(len(cells))
        for k, cell in enumerate(cells):
            try:
                out[k] = float(cell)
            except ValueError:
                out[k] = math.nan
                if default is not None and not cell.strip():
                    out[k] = default
                elif k not in self.problems:
                    what = "empty cell" if not cell.strip() else f"cannot read {cell!r} as a number"
                    self.problems[k] = f", column {name}: {what}"
        return out


def _option_type_problem(text: str) -> str:
    """The library's own message for an option type it rejects, or '' when accepted."""
    try:
        quelm.black_scholes(1.0, 1.0, 0.0, 0.0, 0.0, text)
    except ValueError as exc:
        return str(exc)
    return ""


def _compute(np, vec, chunk: Chunk, rows, layout: Layout, errors: str, greeks: bool):
    """The new columns for the chunk rows `rows`, in layout.added order."""
    c = chunk.columns
    if not len(rows):
        return [np.empty(0)] * (1 + len(GREEKS) * greeks)
    args = [c["spot"][rows], c["strike"][rows], c["rate"][rows]]
    t, q, ot = c["t"][rows], c["dividend_yield"][rows], chunk.option_type[rows]
    if layout.compute == "price":
        vol = c["vol"][rows]
        first = vec.black_scholes(*args, vol, t, ot, q, errors=errors)
    else:
        first = vol = vec.implied_volatility(c["market_price"][rows], *args, t, ot, q, errors=errors)
    out = [np.asarray(first, dtype=np.float64)]
    if greeks:
        g = vec.greeks(*args, vol, t, ot, q, errors=errors)
        out.extend(np.asarray(g[name], dtype=np.float64) for name in GREEKS)
    return out


def _fail_at(source: str, line: int, problem: str):
    raise ChainError(f"{source} line {line}{problem}")


def _compute_raising(np, vec, chunk, n, layout, greeks, lines, source):
    """Compute a chunk that must have no bad row; report the earliest one by its line."""
    first_problem = min(chunk.problems, default=n)
    rows = np.arange(first_problem)
    try:
        out = _compute(np, vec, chunk, rows, layout, "raise", greeks)
    except ValueError as exc:
        found = _VEC_INDEX.match(str(exc))
        if not found:
            raise ChainError(f"{source} lines {lines[0]}-{lines[-1]}: {exc}") from None
        _fail_at(source, lines[int(found.group(1))], ": " + found.group(2))
    if first_problem < n:
        _fail_at(source, lines[first_problem], chunk.problems[first_problem])
    return out, np.zeros(n, dtype=bool)


def _compute_lenient(np, vec, chunk, n, layout, greeks):
    """Compute a chunk leaving rejected rows out; return the columns and the rejected mask."""
    bad = np.zeros(n, dtype=bool)
    bad[list(chunk.problems)] = True
    rows = np.flatnonzero(~bad)
    parts = _compute(np, vec, chunk, rows, layout, "nan", greeks)
    out = [np.full(n, math.nan) for _ in parts]
    for full, part in zip(out, parts):
        full[rows] = part
    # NaN where no input was NaN marks a row the library rejected; NaN inputs give NaN honestly.
    nan_in = np.zeros(n, dtype=bool)
    for col in chunk.columns.values():
        nan_in |= np.isnan(col)
    bad |= np.isnan(out[0]) & ~nan_in
    return out, bad


@contextmanager
def _reading(path: str):
    if path == "-":
        yield sys.stdin
        return
    with open(path, newline="", encoding="utf-8-sig") as f:
        yield f


@contextmanager
def _writing(path: str):
    """Stdout, or a temporary file renamed onto `path` only when everything succeeded."""
    if path == "-":
        yield sys.stdout
        return
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(dir=folder, prefix=".quelm-chain-", suffix=".csv")
    try:
        with os.fdopen(fd, "w", newline="", encoding="utf-8") as f:
            yield f
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def run(args: argparse.Namespace) -> int:
    np, vec = _load_libraries()
    source = "stdin" if args.input == "-" else args.input
    show = args.progress if args.progress is not None else sys.stderr.isatty()
    progress = Progress(_count_rows(args.input), sys.stderr) if show else None
    total = rejected = 0
    option_messages: dict[str, str] = {}
    with _reading(args.input) as fin, _writing(args.output) as fout:
        reader = csv.reader(fin)
        header = next(reader, None)
        if header is None:
            raise ChainError(f"{source}: empty file; the first line must name the columns")
        layout = Layout(header, args.compute, args.greeks, source)
        writer = csv.writer(fout, lineterminator="\n")
        writer.writerow(header + layout.added)
        blank = [""] * len(layout.added)
        for rows, lines in _chunks(reader, args.chunk_size):
            n = len(rows)
            chunk = Chunk(np, rows, layout, option_messages)
            if args.errors == "raise":
                out, bad = _compute_raising(np, vec, chunk, n, layout, args.greeks, lines, source)
            else:
                out, bad = _compute_lenient(np, vec, chunk, n, layout, args.greeks)
            bad_rows = bad.tolist()
            for row, is_bad, values in zip(rows, bad_rows, zip(*(col.tolist() for col in out))):
                row.extend(blank if is_bad else map(repr, values))
            writer.writerows(rows)
            total += n
            rejected += sum(bad_rows)
            if progress:
                progress.advance(n)
    if progress:
        progress.close()
    if rejected:
        print(f"quelm chain: {rejected} of {total} rows could not be computed; their new cells are empty",
              file=sys.stderr)
    return 0
