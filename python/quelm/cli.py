"""The `quelm` command line: price one option, its Greeks or its implied volatility, or a
whole CSV chain of options.

Installed as the `quelm` console script (entry point `quelm.cli:main`); also runs as
`python -m quelm.cli`.
"""
from __future__ import annotations

import argparse
import contextlib
import json
import math
import os
import signal
import sys
import threading
from typing import Callable, Sequence

import quelm

PROG = "quelm"


class CommandError(Exception):
    """A computation or data error: reported on one line, exit status 1."""


# --- the three one-option commands -------------------------------------------------------

# (flag, Python parameter, help). The flags are the parameter names with dashes.
_CONTRACT = (
    ("--spot", "spot", "price of the underlying (>= 0)"),
    ("--strike", "strike", "strike price (> 0)"),
    ("--rate", "rate", "continuously compounded risk-free rate per year, e.g. 0.05"),
)
_VOL = ("--vol", "vol", "volatility per year, e.g. 0.2 for 20%%")
_MARKET_PRICE = ("--market-price", "market_price", "observed option price to invert")
_EXPIRY = ("--t", "t", "time to expiry in years")


def _call_price(a: argparse.Namespace) -> dict:
    return quelm.price(a.spot, a.strike, a.rate, a.vol, a.t, a.option_type, a.dividend_yield)


def _call_greeks(a: argparse.Namespace) -> dict:
    return quelm.greeks(a.spot, a.strike, a.rate, a.vol, a.t, a.option_type, a.dividend_yield)


def _call_iv(a: argparse.Namespace) -> dict:
    iv = quelm.implied_volatility(a.market_price, a.spot, a.strike, a.rate, a.t, a.option_type,
                                  a.dividend_yield)
    return {"implied_volatility": iv}


def _format_value(value: object) -> str:
    # repr of a float is the shortest text that reads back to the same bits.
    return repr(value) if isinstance(value, float) else str(value)


def format_table(result: dict) -> str:
    """One `key  value` line per entry, keys in the result's order, values aligned."""
    width = max(len(k) for k in result)
    return "\n".join(f"{k:<{width}}  {_format_value(v)}" for k, v in result.items())


def format_json(result: dict) -> str:
    """Strict JSON: json.dumps writes floats with repr, so every value reads back bit for bit;
    JSON has no NaN or infinity, so such a value is null and an "error" entry names it."""
    odd = {k: v for k, v in result.items() if isinstance(v, float) and not math.isfinite(v)}
    if odd:
        result = {k: (None if k in odd else v) for k, v in result.items()}
        result["error"] = "not finite: " + ", ".join(f"{k} is {_format_value(v)}" for k, v in odd.items())
    return json.dumps(result, allow_nan=False)


def _run_option_command(compute: Callable[[argparse.Namespace], dict], args: argparse.Namespace) -> int:
    try:
        result = compute(args)
    except ValueError as exc:
        raise CommandError(str(exc)) from None
    print(format_json(result) if args.json else format_table(result))
    return 0


def _add_option_command(sub, name: str, compute, *, first, help: str, description: str,
                        epilog: str) -> None:
    p = sub.add_parser(name, help=help, description=description, epilog=epilog,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    required = p.add_argument_group("required")
    for flag, dest, text in (first, *_CONTRACT) if first is _MARKET_PRICE else (*_CONTRACT, first):
        required.add_argument(flag, dest=dest, type=float, required=True, help=text)
    required.add_argument(_EXPIRY[0], dest=_EXPIRY[1], type=float, required=True, metavar="YEARS",
                          help=_EXPIRY[2])
    required.add_argument("--option-type", dest="option_type", required=True, metavar="TYPE", type=_option_type,
                          help="call or put (also c or p)")
    optional = p.add_argument_group("optional")
    optional.add_argument("--dividend-yield", dest="dividend_yield", type=float, default=0.0, metavar="Q",
                          help="continuous dividend yield per year (default 0.0)")
    optional.add_argument("--json", action="store_true",
                          help="print one JSON object whose numbers read back exactly")
    p.set_defaults(handler=lambda a: _run_option_command(compute, a))


# (command, computation, the flag that differs, one-line help, description, example flags)
_OPTION_COMMANDS = (
    ("price", _call_price, _VOL, "price a European option (Black-Scholes-Merton)",
     "Price a European option with the Black-Scholes-Merton closed form and print\n"
     "the inputs and the price, as quelm.price returns them.",
     "--spot 100 --strike 105 --rate 0.05 --vol 0.2 --t 1 --option-type call [--json]"),
    ("greeks", _call_greeks, _VOL, "delta, gamma, vega, theta and rho of a European option",
     "Print the analytic Black-Scholes Greeks of a European option, as quelm.greeks\n"
     "returns them: per 1.00 of spot (delta, gamma), per 1.00 of volatility (vega),\n"
     "per year (theta) and per 1.00 of rate (rho).",
     "--spot 100 --strike 100 --rate 0.05 --vol 0.2 --t 1 --option-type put"),
    ("iv", _call_iv, _MARKET_PRICE, "implied volatility of a European option price",
     "Solve for the Black-Scholes volatility that reproduces --market-price, as\n"
     "quelm.implied_volatility does.",
     "--market-price 8.021352235143176 --spot 100 --strike 105 --rate 0.05 --t 1 --option-type call"),
)


# --- the parser ---------------------------------------------------------------------------

_MAIN_EPILOG = """\
examples:
  quelm price --spot 100 --strike 105 --rate 0.05 --vol 0.2 --t 1 --option-type call
  quelm greeks --spot 100 --strike 100 --rate 0.05 --vol 0.2 --t 1 --option-type put --json
  quelm iv --market-price 8.02 --spot 100 --strike 105 --rate 0.05 --t 1 --option-type call
  quelm chain options.csv -o priced.csv --greeks

Run `quelm COMMAND --help` for the flags of one command. Rates, volatilities and
dividend yields are annual decimals (0.05 is 5%); times are in years.
Exit status: 0 on success, 2 for a usage error, 1 when the inputs are rejected.
"""

_CHAIN_EPILOG = """\
input columns (header row, names as in the Python functions, in any case; --map gives
other names to them; extra columns are copied through unchanged, byte for byte):
  spot, strike, rate, t, option_type     always (t, or expiry with --valuation-date)
  vol                                    to price: adds the column `price`
  market_price                           to imply: adds the column `implied_vol`
  dividend_yield                         optional; an empty cell means 0
--spot, --rate and --dividend-yield give one value for every row of a file without that
column (a file with the column and the flag is an error: give one or the other).
With --bid and --ask, volatilities are implied at the mid of the two quote columns (added
as `mid`). With --greeks the columns delta, gamma, vega, theta and rho are added too (for
implied volatilities, the Greeks at the implied volatility).

Every number is written so that it reads back to the same double. Rows that cannot be
computed stop the command: each is listed with its line number and nothing is written.
With --errors nan their new cells are left empty, an `error` column says why, and their
number is reported on stderr. With --json the rows are written as JSON Lines, one object
per row with the same columns as keys: input cells as strings, new cells as numbers.

examples:
  quelm chain options.csv -o priced.csv
  quelm chain quotes.csv -o vols.csv --bid Bid --ask Ask --errors nan
  quelm chain book.csv --map Underlying=spot,Type=option_type --valuation-date 2025-06-30
  cat options.csv | quelm chain - --greeks > priced.csv
  quelm chain strikes.csv --spot 100 --rate 0.03 --json > priced.jsonl
"""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Price European options with quelm from the command line: one option\n"
                    "(price, greeks, iv) or a whole CSV file of them (chain).",
        epilog=_MAIN_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"{PROG} {quelm.__version__}")
    sub = parser.add_subparsers(title="commands", metavar="COMMAND", dest="command", required=True)

    for name, compute, first, help, description, example in _OPTION_COMMANDS:
        _add_option_command(sub, name, compute, first=first, help=help, description=description,
                            epilog=f"example:\n  quelm {name} {example}")

    chain = sub.add_parser(
        "chain", help="price or imply a CSV file of options",
        description="Price (when the CSV has a vol column) or imply volatilities (when it has a\n"
                    "market_price column) for every row of a CSV file, in large vectorised\n"
                    "chunks through quelm.vec.",
        epilog=_CHAIN_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    chain.add_argument("input", metavar="IN.csv", help="input CSV file with a header row ('-' for stdin)")
    chain.add_argument("-o", "--output", metavar="OUT.csv", default="-",
                       help="output CSV file (default: stdout)")
    chain.add_argument("--compute", choices=("price", "iv"),
                       help="what to compute when the file has both vol and market_price columns")
    chain.add_argument("--greeks", action="store_true", help="also add delta, gamma, vega, theta, rho")
    chain.add_argument("--errors", choices=("raise", "nan"), default="raise",
                       help="raise: list the bad rows and write nothing (default); nan: leave their new "
                            "cells empty and say why in an error column")
    chain.add_argument("--map", type=_chain_helper("parse_map"), metavar="COLUMN=NAME,...",
                       help="read header COLUMN as NAME, e.g. Spot=spot,Type=option_type (headers are "
                            "matched without regard to case)")
    chain.add_argument("--bid", metavar="COLUMN", help="the bid quote column: imply at the mid of bid and ask")
    chain.add_argument("--ask", metavar="COLUMN", help="the ask quote column (with --bid)")
    for flag, dest, text in (("--spot", "spot", "spot price"), ("--rate", "rate", "rate"),
                             ("--dividend-yield", "dividend_yield", "dividend yield")):
        chain.add_argument(flag, dest=f"const_{dest}", type=float, metavar="X",
                           help=f"one {text} for every row, for a file without a {dest} column")
    chain.add_argument("--json", action="store_true",
                       help="write JSON Lines: one object per row, the CSV's columns as keys")
    chain.add_argument("--valuation-date", type=_chain_helper("parse_date"), metavar="YYYY-MM-DD",
                       help="compute t from an expiry column of dates: days to expiry / 365 (ACT/365F)")
    chain.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                       help="show a progress bar on stderr (default: when stderr is a terminal)")
    chain.add_argument("--chunk-size", type=_positive_int, default=65536, metavar="ROWS",
                       help="rows computed per call (default 65536)")
    chain.set_defaults(handler=_run_chain, check=lambda a: _check_chain(chain, a))
    return parser


def _check_chain(parser: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    """Usage errors of the chain command that argparse cannot see one flag at a time (exit 2)."""
    if (args.bid is None) != (args.ask is None):
        given, missing = ("--bid", "--ask") if args.ask is None else ("--ask", "--bid")
        parser.error(f"argument {given}: needs {missing} too (volatilities are implied at the mid of the two)")


def _option_type(text: str) -> str:
    """An option type the library accepts (a usage error otherwise, with its message)."""
    try:
        quelm.black_scholes(1.0, 1.0, 0.0, 0.0, 0.0, text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None
    return text


def _positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be a positive integer")
    return value


def _cli_chain():
    try:
        from quelm import cli_chain  # installed: a submodule of quelm
    except ImportError:
        import cli_chain  # type: ignore[no-redef]  # from a source tree, beside this file
    return cli_chain


def _chain_helper(name: str):
    """An argument type of the chain command, loaded when the argument is read."""
    def convert(text: str):
        return getattr(_cli_chain(), name)(text)

    convert.__name__ = name
    return convert


def _run_chain(args: argparse.Namespace) -> int:
    cli_chain = _cli_chain()
    try:
        return cli_chain.run(args)
    except cli_chain.ChainError as exc:
        raise CommandError(str(exc)) from None


class Terminated(BaseException):
    """SIGTERM or SIGHUP arrived: unwound like Ctrl-C, so partial output files are removed."""

    def __init__(self, signum: int):
        super().__init__(signum)
        self.signum = signum


def _raise_terminated(signum, frame):
    raise Terminated(signum)


@contextlib.contextmanager
def _terminating_signals():
    """SIGTERM and SIGHUP raise Terminated while the command runs (unless ignored, as under
    nohup); the previous handlers come back after."""
    previous = {}
    if threading.current_thread() is threading.main_thread():
        for signum in (signal.SIGTERM, getattr(signal, "SIGHUP", None)):
            if signum is not None and signal.getsignal(signum) is signal.SIG_DFL:
                previous[signum] = signal.signal(signum, _raise_terminated)
    try:
        yield
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line with `argv` (default: sys.argv[1:]); return the exit status."""
    args = build_parser().parse_args(argv)  # usage errors exit with status 2
    if getattr(args, "check", None):
        args.check(args)
    try:
        with _terminating_signals():
            return args.handler(args)
    except CommandError as exc:
        print(f"{PROG} {args.command}: error: {exc}", file=sys.stderr)
    except MemoryError as exc:
        print(f"{PROG} {args.command}: error: {exc or 'out of memory'}", file=sys.stderr)
    except BrokenPipeError:
        # The reader went away (`quelm chain ... | head`): stop quietly, as other tools do, with
        # the status of a process ended by SIGPIPE; what is left unflushed goes nowhere.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 128 + 13
    except OSError as exc:
        print(f"{PROG} {args.command}: error: {exc}", file=sys.stderr)
    except KeyboardInterrupt:
        print(f"{PROG} {args.command}: interrupted", file=sys.stderr)
        return 130
    except Terminated as stop:
        print(f"{PROG} {args.command}: stopped by {signal.Signals(stop.signum).name}", file=sys.stderr)
        return 128 + stop.signum
    return 1


if __name__ == "__main__":
    sys.exit(main())
