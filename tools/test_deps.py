"""Print the `test` extra of pyproject.toml as shell-quoted pip requirements (the Makefile
installs them), so the test dependencies are listed in one place. Any Python 3 runs it."""
import re
import shlex
from pathlib import Path

text = (Path(__file__).resolve().parent.parent / "pyproject.toml").read_text()
extra = re.search(r"^test\s*=\s*\[(.*?)\]\s*$", text, re.S | re.M)
print(" ".join(shlex.quote(r) for r in re.findall(r'"([^"]+)"', extra.group(1))))
