"""`quelm chain`: price or imply a CSV file of options through quelm.vec, chunk by chunk.

The file streams through in chunks of rows: each chunk is parsed into float64 columns,
computed in one vectorised call per quantity, and written out with every input cell copied
unchanged (bytes that are not UTF-8 included) and the new numbers written with repr (so they
read back to the same doubles).
"""
from __future__ import annotations

import argparse
import csv
import datetime
import io
import json
import math
import os
import re
import stat
import sys
import tempfile
from contextlib import contextmanager
from typing import IO, Iterator

import quelm
from quelm import _declared


class ChainError(Exception):
    """Bad input data or rejected rows; the message names the file, the line and the column."""


# The two calls the command makes per row, by quelm.vec name: a price from a vol, or the vol
# a market price implies. Their parameters are the columns it reads.
PRICE, IMPLY = "black_scholes", "implied_volatility"
# The inputs both need.
REQUIRED = tuple(n for n in _declared.required(PRICE) if n in _declared.required(IMPLY))
# The inputs a flag may give as one value for every row (--spot, --rate, --dividend-yield).
CONSTANTS = ("spot", "rate", "dividend_yield")
GREEKS = _declared.keys("greeks")
# The columns the command reads, by name (and an expiry for t); --map gives other names to them.
PARAMETERS = (*dict.fromkeys(_declared.positional(PRICE) + _declared.positional(IMPLY)), "expiry")
# What an empty cell or a missing column of an input with a default reads as.
DEFAULTS = _declared.defaults(PRICE)
# The inputs that are option strings rather than numbers.
TEXTS = _declared.of_kind(PRICE, "option")
# Bad rows listed in full when --errors raise stops the command; the rest are counted.
ROWS_LISTED = 20
FIELD_LIMIT = csv.field_size_limit()
_DATE = re.compile(r"\d{4}-\d{2}-\d{2}")


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


def _shown(text: str) -> str:
    """A cell as text that prints: bytes that were not UTF-8 as \\x escapes."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def _bad_byte(text: str) -> str | None:
    """The message for a cell that is not UTF-8 text (or holds a NUL), else None."""
    for ch in text:
        if "\udc80" <= ch <= "\udcff":
            return f"not UTF-8 text (byte 0x{ord(ch) - 0xdc00:02x})"
        if ch == "\x00":
            return "a NUL byte: UTF-16 or binary data, not UTF-8 text"
    return None


# --- argument types -------------------------------------------------------------------------

def parse_map(text: str) -> dict[str, str]:
    """--map Spot=spot,Type=option_type: {header name (lower case): parameter}."""
    mapping = {}
    for item in text.split(","):
        name, eq, parameter = item.partition("=")
        name, parameter = name.strip(), parameter.strip().lower()
        if not eq or not name:
            raise argparse.ArgumentTypeError(f"expected COLUMN=PARAMETER pairs, got {item.strip()!r}")
        if parameter not in PARAMETERS:
            raise argparse.ArgumentTypeError(f"{parameter!r} is not a column the command reads "
                                             f"({', '.join(PARAMETERS)})")
        mapping[name.lower()] = parameter
    return mapping


def parse_date(text: str) -> datetime.date:
    try:
        if not _DATE.fullmatch(text):
            raise ValueError
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a date YYYY-MM-DD, got {text!r}") from None


# --- the header -----------------------------------------------------------------------------

class Layout:
    """Where the inputs sit in the header, what is computed and which columns are added."""

    def __init__(self, header: list[str], args: argparse.Namespace, source: str):
        names = [h.strip() for h in header]
        self.width = len(header)
        for j, name in enumerate(names):
            problem = _bad_byte(name)
            if problem:
                raise ChainError(f"{source} line 1, column {j + 1}: {problem}")
        mapping = args.map or {}
        unknown = [m for m in mapping if m not in {n.lower() for n in names}]
        if unknown:
            raise ChainError(f"{source}: --map names column(s) {', '.join(unknown)}, which the header does not have "
                             f"(header: {', '.join(names)})")
        # Header names are matched without regard to case; two that match one name are an error.
        seen: dict[str, str] = {}
        self.index: dict[str, int] = {}
        for j, name in enumerate(names):
            key = mapping.get(name.lower(), name.lower())
            if key in seen:
                raise ChainError(f"{source} line 1: columns {seen[key]!r} and {name!r} are the same column "
                                 f"{key!r}; rename one (or --map it)")
            seen[key] = name
            if key in PARAMETERS:
                self.index[key] = j
        self.quotes = None
        if args.bid or args.ask:
            found = [next((j for j, n in enumerate(names) if n.lower() == c.lower()), None) for c in (args.bid, args.ask)]
            missing = [c for c, j in zip((args.bid, args.ask), found) if j is None]
            if missing:
                raise ChainError(f"{source}: no column {', '.join(missing)} for --bid/--ask "
                                 f"(header: {', '.join(names)})")
            self.quotes = (found[0], found[1])
            self.quote_names = (names[found[0]], names[found[1]])
        # One value for every row, from a flag, for a file without the column; a file with the
        # column and the flag is ambiguous, so neither silently wins.
        self.constants = {name: value for name in CONSTANTS
                          if (value := getattr(args, f"const_{name}", None)) is not None}
        for name in self.constants:
            if name in self.index:
                flag = "--" + name.replace("_", "-")
                raise ChainError(f"{source}: has a {name} column ({names[self.index[name]]!r}) and {flag} gives "
                                 f"one {name.replace('_', ' ')} for every row; give either the column or {flag}")
        have = set(self.index) | set(self.constants)
        compute = args.compute
        if self.quotes:
            if compute == "price":
                raise ChainError(f"{source}: --bid and --ask give quotes to imply, not to price")
            compute = "iv"
        elif compute is None:
            if "vol" in have and "market_price" in have:
                raise ChainError(f"{source}: has both vol and market_price columns; choose one with "
                                 "--compute price or --compute iv")
            compute = "iv" if "market_price" in have else "price"
        self.derive_t = args.valuation_date is not None
        if self.derive_t and "t" in have:
            raise ChainError(f"{source}: has a t column and --valuation-date asks for t from expiry; drop one")
        needed = [c for c in REQUIRED if not (c == "t" and self.derive_t)]
        needed += ["expiry"] if self.derive_t else []
        needed += [] if self.quotes else ["vol" if compute == "price" else "market_price"]
        missing = [c for c in needed if c not in have]
        if missing:
            hint = "; or give --valuation-date for t from an expiry column" if missing == ["t"] and "expiry" in have \
                else ""
            raise ChainError(f"{source}: missing column(s) {', '.join(missing)} "
                             f"(header: {', '.join(names) or 'empty'}){hint}")
        self.compute = compute
        self.valuation_date = args.valuation_date
        self.added = (["t"] if self.derive_t else []) + (["mid"] if self.quotes else [])
        self.added += ["price" if compute == "price" else "implied_vol"] + (list(GREEKS) if args.greeks else [])
        self.added += ["error"] if args.errors == "nan" else []
        lower = {n.lower() for n in names}
        # A JSON row may name a value that is not finite in its "error" entry.
        keys = self.added + (["error"] if getattr(args, "json", False) and "error" not in self.added else [])
        clash = [c for c in keys if c in lower]
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


# --- reading ----------------------------------------------------------------------------------

class Reader:
    """CSV rows with the line each one ends on; a structural problem (a field longer than the
    limit, an unclosed quote) fails the file with its line and column."""

    def __init__(self, stream: IO[str], source: str):
        self.source = source
        self.pending: list[str] = []  # the raw lines of the record being read
        self.rows = csv.reader(self._lines(stream))

    def _lines(self, stream):
        for line in stream:
            self.pending.append(line)
            yield line

    @property
    def line_num(self) -> int:
        return self.rows.line_num

    def __iter__(self):
        return self

    def __next__(self) -> list[str]:
        self.pending = []
        try:
            return next(self.rows)
        except csv.Error as exc:
            where = f"{self.source} line {self.rows.line_num}"
            if "field larger than field limit" in str(exc):
                column = _long_field("".join(self.pending))
                raise ChainError(f"{where}, column {column}: a field longer than {FIELD_LIMIT:,} characters "
                                 "(an unclosed quote?)") from None
            raise ChainError(f"{where}: {exc}") from None


def _long_field(record: str) -> int:
    """The 1-based position of the first field of a CSV record longer than the field limit."""
    field, length, quoted = 1, 0, False
    for k, ch in enumerate(record):
        if ch == '"' and (quoted or length == 0):
            if quoted and record[k + 1:k + 2] == '"':
                length += 1
                continue
            quoted = not quoted
        elif ch == "," and not quoted:
            field, length = field + 1, 0
            continue
        length += 1
        if length > FIELD_LIMIT:
            return field
    return field


def _chunks(reader: Reader, size: int) -> Iterator[tuple[list[list[str]], list[int]]]:
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


@contextmanager
def _reading(path: str, source: str):
    """The input as text: UTF-8 (a byte-order mark skipped), bytes that are not UTF-8 kept as
    surrogates so that a bad byte fails its row and passes through other columns unchanged."""
    if path == "-":
        binary = getattr(sys.stdin, "buffer", None)
        if binary is None:  # already text (an embedding program's stream)
            yield sys.stdin
            return
        text = _decoded(binary, source)
        try:
            yield text
        finally:
            text.detach()  # standard input stays open
        return
    try:
        binary = open(path, "rb")
    except OSError as exc:
        raise ChainError(f"cannot read {path}: {exc.strerror}") from None
    with binary:
        yield _decoded(binary, source)


def _decoded(binary, source: str):
    start = binary.peek(4)[:4] if hasattr(binary, "peek") else b""
    for mark, name in ((b"\xff\xfe\x00\x00", "UTF-32"), (b"\x00\x00\xfe\xff", "UTF-32"), (b"\xff\xfe", "UTF-16"),
                       (b"\xfe\xff", "UTF-16")):
        if start.startswith(mark):
            raise ChainError(f"{source} line 1, column 1: {name} text (a byte-order mark); save the file as UTF-8")
    return io.TextIOWrapper(binary, encoding="utf-8-sig", errors="surrogateescape", newline="")


# --- writing ----------------------------------------------------------------------------------

class Output:
    """Where the rows go: standard output, a stream (a FIFO, a device) written straight into,
    or a regular file written atomically: a temporary file beside it, renamed over it when
    everything succeeded, with the file's mode and owner (a symlink keeps pointing at it)."""

    def __init__(self, path: str):
        self.path = path
        self.target = path
        self.kind = "stdout" if path == "-" else "file"
        self.existing = None
        if path != "-":
            self.target = os.path.realpath(path)
            try:
                self.existing = os.stat(self.target)
            except FileNotFoundError:
                pass
            except OSError as exc:
                raise self.error(exc) from None
            if self.existing is not None:
                if stat.S_ISDIR(self.existing.st_mode):
                    raise ChainError(f"cannot write {path}: it is a directory")
                if not stat.S_ISREG(self.existing.st_mode):
                    self.kind = "stream"

    def error(self, exc: OSError) -> ChainError:
        shown = "standard output" if self.kind == "stdout" else self.path
        return ChainError(f"cannot write {shown}: {exc.strerror or exc}")

    @contextmanager
    def open(self, spool: bool):
        """A binary stream for the rows; they reach the output when the block ends normally.
        With `spool` nothing reaches a stream or standard output before then."""
        if self.kind == "file":
            with self._atomic() as f:
                yield f
            return
        if spool:
            with tempfile.TemporaryFile() as held:
                yield held
                held.seek(0)
                with self._stream() as out:
                    for block in iter(lambda: held.read(1 << 20), b""):
                        out.write(block)
            return
        with self._stream() as out:
            yield out

    @contextmanager
    def _stream(self):
        if self.kind == "stdout":
            sys.stdout.flush()
            out = getattr(sys.stdout, "buffer", None)
            if out is None:  # a text stream (an embedding program's): decode for it
                out = _TextSink(sys.stdout)
            sink = _Guarded(out, self)
            yield sink
            sink.flush()
            return
        try:
            f = open(self.target, "wb")
        except OSError as exc:
            raise self.error(exc) from None
        with self._closing(f) as sink:
            yield sink

    @contextmanager
    def _closing(self, f):
        """f's writes, flush and close, a failure (ENOSPC, EIO) reported with the path."""
        sink = _Guarded(f, self)
        done = False
        try:
            yield sink
            sink.flush()
            done = True
        finally:
            try:
                f.close()
            except OSError as exc:
                if done:  # else the failure that stopped the writes is already on its way
                    raise self.error(exc) from None

    @contextmanager
    def _atomic(self):
        folder = os.path.dirname(self.target)
        try:
            fd, tmp = tempfile.mkstemp(dir=folder, prefix=".quelm-chain-", suffix=".csv")
        except OSError as exc:
            raise self.error(exc) from None
        try:
            with self._closing(os.fdopen(fd, "wb")) as f:
                yield f
                self._settle(f.fileno())
            try:
                os.replace(tmp, self.target)
            except OSError as exc:
                raise self.error(exc) from None
        except BaseException:
            try:
                os.unlink(tmp)
            except OSError:
                pass
            raise

    def _settle(self, fd: int) -> None:
        """The replaced file's mode and owner, or a new file's usual mode."""
        try:
            if self.existing is None:
                mask = os.umask(0)
                os.umask(mask)
                os.fchmod(fd, 0o666 & ~mask)
                return
            os.fchmod(fd, stat.S_IMODE(self.existing.st_mode))
            if (self.existing.st_uid, self.existing.st_gid) != (os.geteuid(), os.getegid()):
                try:
                    os.fchown(fd, self.existing.st_uid, self.existing.st_gid)
                except PermissionError:
                    pass  # only root may give a file away; it keeps the writer's owner
        except OSError as exc:
            raise self.error(exc) from None


class _Guarded:
    """A binary stream whose write failures name the output (a full disk, /dev/full). A closed
    pipe is not one of them: the command then stops quietly (cli.main)."""

    def __init__(self, stream, output: Output):
        self.stream, self.output = stream, output

    def write(self, data: bytes) -> None:
        self._do(self.stream.write, data)

    def flush(self) -> None:
        self._do(self.stream.flush)

    def fileno(self) -> int:
        return self.stream.fileno()

    def _do(self, step, *args) -> None:
        try:
            step(*args)
        except BrokenPipeError:
            raise
        except OSError as exc:
            if self.output.kind == "stdout":
                # What is left in the buffer goes nowhere, so leaving does not fail again.
                try:
                    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
                except (OSError, ValueError):
                    pass  # not a file descriptor (an embedding program's stream)
            raise self.output.error(exc) from None


class _TextSink:
    def __init__(self, text):
        self.text = text

    def write(self, data: bytes) -> None:
        self.text.write(data.decode("utf-8", "surrogateescape"))

    def flush(self) -> None:
        self.text.flush()


def _encoded(rows: list[list[str]]) -> bytes:
    buf = io.StringIO()
    csv.writer(buf, lineterminator="\n").writerows(rows)
    return buf.getvalue().encode("utf-8", "surrogateescape")


class JsonRows:
    """Rows as JSON Lines: one object per row, the CSV's columns as keys. Input cells are
    strings (copied as read; bytes that are not UTF-8 as \\x escapes, since JSON is text), new
    cells numbers written as repr writes them (null when empty); as the option commands do,
    a value that is not finite is null and the "error" entry names it."""

    def __init__(self, header: list[str], layout: Layout):
        names = [_shown(h) for h in header] + layout.added  # distinct: Layout refuses a name twice
        self.width = len(header)
        self.lenient = "error" in layout.added
        self.added = [n for n in layout.added if n != "error"]
        self.keys = [json.dumps(n) for n in names]

    def __call__(self, rows: list[list[str]]) -> bytes:
        lines = []
        n_new = len(self.added) + self.lenient
        for row in rows:
            given, new = row[:-n_new], row[-n_new:]
            given = (given + [None] * self.width)[:self.width]  # a short row (rejected) padded
            parts = [json.dumps(None if c is None else _shown(c), ensure_ascii=False) for c in given]
            odd = []
            for name, cell in zip(self.added, new):
                if cell in ("nan", "inf", "-inf"):
                    odd.append(f"{name} is {cell}")
                    parts.append("null")
                else:
                    parts.append(cell or "null")  # repr of a finite float is a JSON number
            error = new[-1] if self.lenient and new[-1] else None
            if odd and error is None:
                error = "not finite: " + ", ".join(odd)
            fields = [f"{k}: {v}" for k, v in zip(self.keys, parts)]
            if self.lenient:
                fields.append(f"{self.keys[-1]}: {json.dumps(error, ensure_ascii=False)}")
            elif error is not None:
                fields.append(f'"error": {json.dumps(error, ensure_ascii=False)}')
            lines.append("{" + ", ".join(fields) + "}\n")
        return "".join(lines).encode("utf-8")


# --- one chunk --------------------------------------------------------------------------------

class Chunk:
    """One chunk parsed: float64 columns, and the first problem of each rejected row."""

    def __init__(self, np, rows: list[list[str]], layout: Layout, caches: dict):
        self.problems: dict[int, str] = {}  # row -> ": message" or ", column c: message"
        n = len(rows)
        for k, row in enumerate(rows):
            if len(row) != layout.width:
                self.problems[k] = f": {len(row)} fields where the header has {layout.width}"
        short = set(self.problems)  # rows whose cells cannot be trusted to line up
        self.columns = {}
        for name, j in layout.index.items():
            if name in ("option_type", "expiry") or (name == "market_price" and layout.quotes):
                continue
            if name == "vol" and layout.compute != "price" or name == "market_price" and layout.compute != "iv":
                continue
            cells = [row[j] if k not in short else "0" for k, row in enumerate(rows)]
            self.columns[name] = self._floats(np, cells, name, DEFAULTS.get(name))
        for name, value in layout.constants.items():
            self.columns[name] = np.full(n, value)
        for name, value in DEFAULTS.items():
            if name not in self.columns:
                self.columns[name] = np.full(n, value, dtype=np.float64)
        if layout.quotes:
            bid, ask = (self._floats(np, [row[j] if k not in short else "0" for k, row in enumerate(rows)], name, None)
                        for j, name in zip(layout.quotes, layout.quote_names))
            for k in np.flatnonzero(ask < bid):
                self._problem(int(k), f", column {layout.quote_names[1]}: the ask is below the bid")
            self.columns["market_price"] = self.columns["mid"] = (bid + ask) / 2.0
        if layout.derive_t:
            j = layout.index["expiry"]
            dates = caches.setdefault("expiry", {})
            t = np.empty(n)
            for k, row in enumerate(rows):
                cell = row[j] if k not in short else "2000-01-01"
                if cell not in dates:
                    dates[cell] = _year_fraction(cell, layout.valuation_date)
                value = dates[cell]
                if isinstance(value, str):
                    t[k] = math.nan
                    self._problem(k, f", column expiry: {value}")
                else:
                    t[k] = value
            self.columns["t"] = t
        j = layout.index["option_type"]
        types = [row[j] if k not in short else "call" for k, row in enumerate(rows)]
        messages = caches.setdefault("option_type", {})
        for k, text in enumerate(types):
            message = messages.get(text)
            if message is None:
                message = messages[text] = _bad_byte(text) or _option_type_problem(text)
            if message:
                self._problem(k, f", column option_type: {message}")
                types[k] = "call"
        self.option_type = np.array(types)

    def _problem(self, k: int, text: str) -> None:
        self.problems.setdefault(k, text)

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
                else:
                    what = ("empty cell" if not cell.strip() else _bad_byte(cell)
                            or f"cannot read {_shown(cell)!r} as a number")
                    self._problem(k, f", column {name}: {what}")
        return out


def _year_fraction(cell: str, valuation: datetime.date) -> float | str:
    """Years from the valuation date to an expiry date, ACT/365F; a message for a bad date."""
    problem = _bad_byte(cell)
    if problem:
        return problem
    try:
        if not _DATE.fullmatch(cell.strip()):
            raise ValueError
        expiry = datetime.date.fromisoformat(cell.strip())
    except ValueError:
        return f"cannot read {_shown(cell)!r} as a date YYYY-MM-DD"
    return (expiry - valuation).days / 365.0


def _option_type_problem(text: str) -> str:
    """The library's own message for an option type it rejects, or '' when accepted."""
    try:
        quelm.black_scholes(1.0, 1.0, 0.0, 0.0, 0.0, text)
    except ValueError as exc:
        return str(exc)
    return ""


def _arguments(function: str, chunk: Chunk, rows, **given) -> dict:
    """The arguments of `function` (by name) for the chunk rows `rows`: its columns, or `given`."""
    return {name: given[name] if name in given else (chunk.option_type if name in TEXTS else chunk.columns[name])[rows]
            for name in _declared.positional(function)}


def _compute(np, vec, chunk: Chunk, rows, layout: Layout, greeks: bool):
    """The computed columns for the chunk rows `rows` (NaN where a row is rejected)."""
    if not len(rows):
        return [np.empty(0)] * (1 + len(GREEKS) * greeks)
    if layout.compute == "price":
        first = vec.black_scholes(**_arguments(PRICE, chunk, rows), errors="nan")
        given = {}
    else:
        first = vec.implied_volatility(**_arguments(IMPLY, chunk, rows), errors="nan")
        given = {"vol": first}
    out = [np.asarray(first, dtype=np.float64)]
    if greeks:
        g = vec.greeks(**_arguments("greeks", chunk, rows, **given), errors="nan")
        out.extend(np.asarray(g[name], dtype=np.float64) for name in GREEKS)
    return out


def _library_message(chunk: Chunk, k: int, layout: Layout) -> str:
    """The scalar function's message for row k, which the array call left NaN."""
    function = PRICE if layout.compute == "price" else IMPLY
    args = {name: str(chunk.option_type[k]) if name in TEXTS else float(chunk.columns[name][k])
            for name in _declared.positional(function)}
    try:
        getattr(quelm, function)(**args)
    except ValueError as exc:
        return str(exc)
    return "could not be computed"


def _computed(np, vec, chunk: Chunk, n: int, layout: Layout, greeks: bool):
    """The chunk's new columns, and each rejected row's problem."""
    bad = np.zeros(n, dtype=bool)
    bad[list(chunk.problems)] = True
    rows = np.flatnonzero(~bad)
    parts = _compute(np, vec, chunk, rows, layout, greeks)
    out = [np.full(n, math.nan) for _ in parts]
    for full, part in zip(out, parts):
        full[rows] = part
    # NaN where no input was NaN marks a row the library rejected; NaN inputs give NaN honestly.
    nan_in = np.zeros(n, dtype=bool)
    for col in chunk.columns.values():
        nan_in |= np.isnan(col)
    problems = dict(chunk.problems)
    for k in np.flatnonzero(np.isnan(out[0]) & ~nan_in & ~bad):
        problems[int(k)] = ": " + _library_message(chunk, int(k), layout)
    return out, problems


# --- the command --------------------------------------------------------------------------------

def run(args: argparse.Namespace) -> int:
    np, vec = _load_libraries()
    source = "stdin" if args.input == "-" else args.input
    if (args.bid is None) != (args.ask is None):
        raise ChainError("--bid and --ask go together")
    output = Output(args.output)
    show = args.progress if args.progress is not None else sys.stderr.isatty()
    progress = Progress(_count_rows(args.input), sys.stderr) if show else None
    total = 0
    failed: list[tuple[int, str]] = []  # (line, problem), the first ROWS_LISTED
    failures = 0
    caches: dict = {}
    lenient = args.errors == "nan"
    with _reading(args.input, source) as fin, output.open(spool=not lenient) as fout:
        reader = Reader(fin, source)
        header = next(reader, None)
        if header is None:
            raise ChainError(f"{source}: empty file; the first line must name the columns")
        layout = Layout(header, args, source)
        encode = JsonRows(header, layout) if getattr(args, "json", False) else _encoded
        if encode is _encoded:
            fout.write(_encoded([header + layout.added]))
        for rows, lines in _chunks(reader, args.chunk_size):
            n = len(rows)
            chunk = Chunk(np, rows, layout, caches)
            out, problems = _computed(np, vec, chunk, n, layout, args.greeks)
            failures += len(problems)
            for k in sorted(problems)[:max(ROWS_LISTED - len(failed), 0)]:
                failed.append((lines[k], problems[k]))
            total += n
            if progress:
                progress.advance(n)
            if failures and not lenient:
                continue  # reading on, to report every bad row; nothing will be written
            derived = [chunk.columns[c] for c in ("t", "mid") if c in layout.added]
            values = [col.tolist() for col in derived + out]
            for k, row in enumerate(rows):
                problem = problems.get(k)
                cells = [repr(col[k]) for col in values[:len(derived)]]
                if problem is None:
                    cells += [repr(col[k]) for col in values[len(derived):]]
                else:
                    cells += [""] * (len(values) - len(derived))
                if lenient:
                    cells.append("" if problem is None else _shown(problem[2:]))  # ": m" or ", column c: m"
                row.extend(cells)
            fout.write(encode(rows))
        if failures and not lenient:
            raise ChainError(_report(source, failed, failures))
    if progress:
        progress.close()
    if failures:
        print(f"quelm chain: {failures} of {total} rows could not be computed; their new cells are empty "
              "and the error column says why", file=sys.stderr)
    return 0


def _report(source: str, failed: list[tuple[int, str]], failures: int) -> str:
    if failures == 1:
        line, problem = failed[0]
        return f"{source} line {line}{_shown(problem)}"
    listed = "\n".join(f"  line {line}{_shown(problem)}" for line, problem in failed)
    more = f"\n  ... and {failures - len(failed)} more" if failures > len(failed) else ""
    return f"{source}: {failures} rows cannot be computed; nothing was written:\n{listed}{more}"
