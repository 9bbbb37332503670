"""Run a build command and show its progress without its noise.

    python tools/build_progress.py -- python -m pip install -v --no-build-isolation .

Shown as they come: Ninja's status line per compiled file ("[12/140] Building CXX object
...") and scikit-build-core's stage lines ("*** Building project with Ninja..."). Everything
else (pip's own lines, CMake's configure output) is held back, and printed only when the
command fails, since the compiler's error messages are among it. The exit status is the
command's.
"""
from __future__ import annotations

import re
import subprocess
import sys

# Ninja's status line; scikit-build-core's stage line.
SHOWN = re.compile(r"^\s*(\[\d+/\d+\] |\*\*\* )")


def run(command: list[str], out=sys.stdout) -> int:
    held: list[str] = []
    with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", bufsize=1) as proc:
        assert proc.stdout is not None
        for line in proc.stdout:
            if SHOWN.match(line):
                out.write(line.strip() + "\n")
                out.flush()
            else:
                held.append(line)
    if proc.returncode != 0:
        out.write("".join(held))
        out.flush()
    return proc.returncode


def main(argv: list[str]) -> int:
    if argv[:1] == ["--"]:
        argv = argv[1:]
    if not argv:
        print("usage: build_progress.py -- COMMAND [ARG ...]", file=sys.stderr)
        return 2
    return run(argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
