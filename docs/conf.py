"""Sphinx configuration of the quelm manual (built by `make docs`)."""
import re
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
# Heading depth is a matter of style; every other warning fails the build.
suppress_warnings = ["myst.header"]

# Pages that other branches add: listed in the contents only once their file exists, so the
# site builds (warnings as errors) before and after they land.
OPTIONAL_PAGES = ["architecture"]


def _drop_missing_pages(app, docname, source):
    if docname != "index":
        return
    missing = {p for p in OPTIONAL_PAGES if not (HERE / f"{p}.md").exists()}
    source[0] = "\n".join(line for line in source[0].splitlines() if line.strip() not in missing)


# A link into the source tree (outside docs/) has no page on the site: show it as a path.
_SOURCE_LINK = re.compile(r"\[([^\]]+)\]\(\.\./([^)\s]+)\)")


def _source_links_as_paths(app, docname, source):
    source[0] = _SOURCE_LINK.sub(lambda m: f"{m.group(1)} (`{m.group(2)}`)", source[0])


def setup(app):
    app.connect("source-read", _drop_missing_pages)
    app.connect("source-read", _source_links_as_paths)
    # Re-read the contents on every build, so a page that appears is listed at once.
    app.connect("env-get-outdated", lambda app, env, added, changed, removed: ["index"])
