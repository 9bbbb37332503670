"""Sphinx configuration of the quelm manual (built by `make docs`)."""
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "_ext"))

import quelm  # noqa: E402  -- the API reference documents the installed module

project = "quelm"
author = "the quelm developers"
copyright = "the quelm developers"
release = version = quelm.__version__

extensions = ["myst_parser", "sphinx.ext.autodoc", "stubdoc"]
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["_build", "_ext"]
myst_enable_extensions = ["colon_fence", "dollarmath", "deflist"]
myst_heading_anchors = 3
default_role = "literal"
autodoc_typehints = "signature"
autodoc_class_signature = "separated"  # the classes have no constructor
html_theme = "furo"
html_title = f"quelm {release}"
pygments_style = "sphinx"

# Pages that other branches add: listed in the contents only once their file exists, so the
# site builds (warnings as errors) before and after they land.
OPTIONAL_PAGES = ["architecture"]


def _drop_missing_pages(app, docname, source):
    if docname != "index":
        return
    missing = {p for p in OPTIONAL_PAGES if not (HERE / f"{p}.md").exists()}
    source[0] = "\n".join(line for line in source[0].splitlines() if line.strip() not in missing)


def setup(app):
    app.connect("source-read", _drop_missing_pages)
    # Re-read the contents on every build, so a page that appears is listed at once.
    app.connect("env-get-outdated", lambda app, env, added, changed, removed: ["index"])
