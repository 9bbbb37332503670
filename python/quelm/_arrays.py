"""The machinery of quelm.vec: its functions are written here from the declarations of the
compiled module (quelm._core._vec_forms), one per array form, and each makes one call into C.
What stays in Python is what pandas and labels need: unwrapping Series and DataFrames,
aligning a benchmark on a panel's dates, and labelling the results. The few functions whose
bodies are Python (quelm._core._vec_python) get their signatures and docstrings here too."""
from __future__ import annotations

import inspect
import math

import numpy as np

from quelm import _core, _declared

_FORMS = _declared.forms()


def _is_pandas(x, kind: str) -> bool:
    t = type(x)
    return t.__name__ == kind and t.__module__.partition(".")[0] == "pandas"


def _pandas_any(args) -> bool:
    for a in args:
        if type(a).__module__.partition(".")[0] == "pandas":
            return True
    return False


def _nan_mode(errors) -> int:
    if errors == "raise":
        return 0
    if errors == "nan":
        return 1
    raise ValueError(f"errors must be 'raise' or 'nan', got {errors!r}")


# --- pandas columns --------------------------------------------------------------------------

def _arrow_text(arrow):
    """An Arrow string column without missing values as its offsets and character bytes, which
    the C side codes as the call runs (Arrow's dictionary encoding hashes every value); None
    for a column with missing values or of another type."""
    import pyarrow as pa

    column = arrow.chunk(0) if arrow.num_chunks == 1 else arrow.combine_chunks()
    large = pa.types.is_large_string(column.type)
    if column.null_count or not (large or pa.types.is_string(column.type)):
        return None
    _, offsets, data = column.buffers()
    offsets = np.frombuffer(offsets, dtype=np.int64 if large else np.int32)[column.offset:column.offset + len(column) + 1]
    data = np.frombuffer(data, dtype=np.uint8) if data is not None else np.zeros(1, dtype=np.uint8)
    return _core._arrow_text(offsets, data)


def _text_column(x):
    """A pandas column of strings (a Series or a pandas array such as ``pd.Categorical``) as
    the C side reads it fastest: a categorical or a dictionary-encoded column as codes into
    its categories, an Arrow string column as its buffers, a column of Python strings as
    those objects."""
    import pandas as pd

    series = _is_pandas(x, "Series")
    values = x.array if series else x
    dtype = values.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        return _core._categorical(np.asarray(values.codes), list(values.categories))
    if dtype != object and pd.api.types.is_string_dtype(dtype):
        arrow = getattr(values, "_pa_array", None)
        if arrow is not None:
            text = _arrow_text(arrow)
            if text is not None:
                return text
            encoded = arrow.combine_chunks().dictionary_encode()
            codes = encoded.indices.fill_null(-1).to_numpy(zero_copy_only=False)
            return _core._categorical(codes, encoded.dictionary.to_pylist())
        objects = getattr(values, "_ndarray", None)
        if objects is not None:
            return objects
        return np.asarray(values, dtype=object)
    return x.to_numpy() if series else np.asarray(x)


def _date_column(x):
    """A pandas column or index of dates as the C side reads it fastest: datetime64 values
    (the wall-clock dates of a time zone), else its objects (text, dates, missing cells)."""
    dtype = x.dtype
    if getattr(dtype, "tz", None) is not None:
        x = x.dt.tz_localize(None) if hasattr(x, "dt") else x.tz_localize(None)  # a Series, or an index
        return x.to_numpy()
    if getattr(dtype, "kind", None) == "M":
        return x.to_numpy()
    return x.to_numpy(dtype=object)


def _column(series, kind: str):
    if kind == "option":
        return _text_column(series)
    if kind == "date":
        return _date_column(series)
    values = series.to_numpy()
    if values.dtype == object and series.hasnans and kind == "real":
        # a nullable column's missing cells (pd.NA) read as NaN, as a float column's do
        values = series.to_numpy(dtype=np.float64, na_value=np.nan)
    return values


def _unwrap(params, args):
    """Series arguments as their columns, and the index they share (None when none is a Series;
    then a DatetimeIndex given for dates labels the result)."""
    index = dates = None
    out = list(args)
    for i, (a, (_, kind, *_)) in enumerate(zip(args, params)):
        if _is_pandas(a, "Series"):
            if index is None:
                index = a.index
            elif not index.equals(a.index):
                raise ValueError("Series inputs must share one index")
            out[i] = _column(a, kind)
        elif kind == "date" and type(a).__module__.partition(".")[0] == "pandas" and hasattr(a, "dtype"):
            if dates is None and _is_pandas(a, "DatetimeIndex"):
                dates = a
            out[i] = _date_column(a)
        elif kind == "option" and type(a).__module__.partition(".")[0] == "pandas" and hasattr(a, "dtype"):
            out[i] = _text_column(a)  # a pandas array (Categorical, string array) without an index
    return tuple(out), index if index is not None else dates


def _labelled(out, index):
    if index is not None and isinstance(out, np.ndarray) and out.shape == (len(index),):
        import pandas

        return pandas.Series(out, index=index)
    return out


def _element(form, context, args, errors):
    """An element-wise call: every argument an array or a scalar, broadcast together."""
    nan = _nan_mode(errors)
    index = None
    if _pandas_any(args):
        args, index = _unwrap(form["params"], args)
    out = _core._vec_call(form["index"], context, args, nan, 0)
    keys = form["keys"]
    if keys is None:
        return _labelled(out, index)
    return {k: _labelled(v, index) for k, v in zip(keys, out)}


def _is_dates(x) -> bool:
    """Whether an argument holds dates rather than times in years: datetime64 values, date
    objects, ISO text, or a list or object array of them (judged by its first present item)."""
    import datetime

    dtype = getattr(x, "dtype", None)
    if dtype is not None:
        if getattr(dtype, "kind", None) in ("M", "U", "S") or getattr(dtype, "tz", None) is not None:
            return True
        if getattr(dtype, "kind", None) != "O":
            return False
        x = np.asarray(x, dtype=object).ravel()
    if isinstance(x, (str, datetime.date, np.datetime64)):
        return True
    if isinstance(x, (list, tuple, np.ndarray)):
        for item in x:
            if item is not None and not (isinstance(item, float) and math.isnan(item)):
                return _is_dates(item)
    return False


def _twin_of(forms, args):
    """The form whose dated parameters match the arguments: the date twin when every argument
    it reads as a date holds dates, the primary when none does."""
    primary, twin = forms
    dated = [i for i, (p, q) in enumerate(zip(primary["params"], twin["params"])) if p[1] != q[1]]
    flags = {_is_dates(args[i]) for i in dated}
    if len(flags) > 1:
        names = " and ".join(primary["params"][i][0] for i in dated)
        every = "both" if len(dated) == 2 else "all"
        raise TypeError(f"{primary['name']}: give {names} {every} as times in years or {every} as dates")
    return twin if flags == {True} else primary


def _element_of(forms, context, args, errors):
    """An element-wise call of a form with a date twin."""
    return _element(_twin_of(forms, args), context, args, errors)


# --- return panels -----------------------------------------------------------------------------

def _panel(name: str, x, axis: int):
    """(values with the series along the last axis, labels of the series, time index, 2-D?)."""
    labels = dates = None
    if _is_pandas(x, "DataFrame"):
        labels, dates = (x.columns, x.index) if axis == 0 else (x.index, x.columns)
        x = x.to_numpy()
    elif _is_pandas(x, "Series"):
        dates = x.index
        x = _column(x, "real")
    a = x if isinstance(x, np.ndarray) else np.asarray(x)
    if a.ndim == 1:
        return a, None, dates, False
    if a.ndim != 2:
        raise ValueError(f"{name} must be a series (1-D) or a panel (2-D), got {a.ndim} dimensions")
    return (a.T if axis == 0 else a), labels, dates, True


def _aligned(bench, name: str, dates, labels, axis: int):
    """A pandas benchmark put in the panel's order of dates (and of series, for a panel)."""
    if dates is None or not (_is_pandas(bench, "Series") or _is_pandas(bench, "DataFrame")):
        return bench
    own = bench.index if (_is_pandas(bench, "Series") or axis == 0) else bench.columns
    if len(own) != len(dates) or not own.sort_values().equals(dates.sort_values()):
        raise ValueError(f"the {name}'s dates must be the panel's dates")
    if _is_pandas(bench, "Series"):
        return bench.reindex(dates)
    bench = bench.reindex(index=dates) if axis == 0 else bench.reindex(columns=dates)
    if labels is not None:
        others = bench.columns if axis == 0 else bench.index
        if set(others) != set(labels):
            raise ValueError(f"the {name}'s series must be the panel's series")
        bench = bench.reindex(columns=labels) if axis == 0 else bench.reindex(index=labels)
    return bench


def _series(form, args, axis, skipna, errors):
    """A call with one result per series: each series argument a series or a panel."""
    nan = _nan_mode(errors)
    if axis not in (0, 1, -1, -2):
        raise ValueError(f"axis must be 0 or 1, got {axis!r}")
    axis %= 2
    params = form["params"]
    out_args = list(args)
    labels = dates = None
    is_panel = False
    first = None
    for i, (name, kind, *_) in enumerate(params):
        a = args[i]
        if kind != "series" or a is None:
            continue
        if first is None:
            first = name
            out_args[i], labels, dates, is_panel = _panel(name, a, axis)
        else:
            a = _aligned(a, name, dates, labels, axis)
            out_args[i] = _panel(name, a, axis)[0]
    if _pandas_any(out_args):
        out_args, _ = _unwrap(params, out_args)
    keys = form["keys"]
    if keys is not None and not is_panel:
        table = _one_report(form, params, out_args, skipna)
    else:
        out = _core._vec_call(form["index"], None, tuple(out_args), nan, 1 if skipna else 0)
        if keys is None:
            if is_panel and labels is not None:
                import pandas

                return pandas.Series(out, index=labels)
            return out
        table = dict(zip(keys, out))
    if "peak_index" in table and dates is not None:
        table["peak_label"] = _label_at(dates, table["peak_index"])
        table["trough_label"] = _label_at(dates, table["trough_index"])
    if is_panel and labels is not None:
        import pandas

        return pandas.DataFrame([list(np.atleast_1d(v)) for v in table.values()], index=list(table), columns=labels)
    return table


def _one_report(form, params, args, skipna):
    """The report of a single series: the scalar call's own dict (None and counts kept)."""
    if skipna:
        series = [i for i, (_, kind, *_) in enumerate(params) if kind == "series" and args[i] is not None]
        arrays = [np.asarray(args[i], dtype=np.float64) for i in series]
        if len({a.shape for a in arrays}) == 1:
            keep = ~np.any([np.isnan(a) for a in arrays], axis=0)
            args = list(args)
            for i, a in zip(series, arrays):
                args[i] = a[keep]
    return dict(getattr(_core, form["scalar"])(*args))


def _label_at(dates, positions):
    if positions is None:
        return None
    if isinstance(positions, (int, float)):
        return None if isinstance(positions, float) and math.isnan(positions) else dates[int(positions)]
    return np.array([None if math.isnan(p) else dates[int(p)] for p in positions], dtype=object)


# --- writing the functions -------------------------------------------------------------------

_ELEMENT_DOC = (
    "\n\nThe array form of ``quelm.{scalar}``: every parameter is a scalar or an array (a list,\n"
    "an ndarray, a pandas Series); they broadcast together, and element i has exactly the\n"
    "bits of the scalar call on element i's inputs. ``errors=\"nan\"`` puts NaN where the\n"
    "scalar call would raise; otherwise the first failing element raises quelm.ElementError\n"
    "with its index.")
_SERIES_DOC = (
    "\n\nThe array form of ``quelm.{scalar}``: each series parameter is one series or a panel\n"
    "of series along ``axis`` (0: a DataFrame's columns are the series), giving one result\n"
    "per series, with the scalar call's bits. ``skipna=True`` drops NaN (pairwise across a\n"
    "series and its benchmark) first. A pandas benchmark is aligned on the panel's dates.")


def _source(form) -> str:
    params = []
    for name, kind, optional, default, keyword_only in form["params"]:
        if keyword_only and "*" not in params:
            params.append("*")
        params.append(name if default is None else f"{name}={default}")
    context = form["context"]
    head = ([context[0]] if context else []) + params
    star = "" if "*" in params else "*, "
    values = ", ".join(p[0] for p in form["params"])
    values = f"({values},)" if len(form["params"]) == 1 else f"({values})"
    if form["series"]:
        return (f"def {form['name']}({', '.join(head)}, {star}axis=0, skipna=False, errors=\"raise\"):\n"
                f"    return _series(_form, {values}, axis, skipna, errors)\n")
    ctx = context[0] if context else "None"
    return (f"def {form['name']}({', '.join(head)}, {star}errors=\"raise\"):\n"
            f"    return _element(_form, {ctx}, {values}, errors)\n")


def _grouped() -> dict:
    """The array forms by name, in public order: one form, or a form and its date twin."""
    groups: dict = {}
    for form in _FORMS:
        groups.setdefault(form["name"], []).append(form)
    return groups


def build_names() -> list:
    """The names of the array forms, in public order."""
    return list(_grouped())


def build(module: str) -> dict:
    """The functions of quelm.vec, by name, written from the array forms."""
    made = {}
    for forms in _grouped().values():
        form = forms[0]
        scope = {"_form": form if len(forms) == 1 else forms, "_series": _series,
                 "_element": _element if len(forms) == 1 else _element_of}
        exec(_source(form), scope)  # noqa: S102 - the source is written above from the declarations
        f = scope[form["name"]]
        f.__module__ = module
        f.__qualname__ = form["name"]
        tail = _SERIES_DOC if form["series"] else _ELEMENT_DOC
        # A private element function (a subset of a public call's parameters) is named by the public call.
        named = form["name"] if form["scalar"].startswith("_") else form["scalar"]
        scalar = named if form["context"] is None else f"{form['context'][1].__name__}.{named}"
        f.__doc__ = form["doc"] + tail.format(scalar=scalar)
        made[form["name"]] = f
    return made


def build_written(module: str, *sources) -> dict:
    """The functions of quelm.vec whose bodies are Python, by name, in declared order: each with
    its declared signature and docstring around the body of its name in `sources` (modules),
    which takes every argument by position in declared order."""
    made = {}
    for decl in _declared.written():
        name = decl["name"]
        body = next((getattr(s, name) for s in sources if hasattr(s, name)), None)
        if body is None:
            raise ImportError(f"quelm.vec.{name} is declared but has no body")
        texts, names = _declared.signature_texts(decl["params"])
        taken = inspect.signature(body).parameters
        variadic = any(p.kind is inspect.Parameter.VAR_POSITIONAL for p in taken.values())
        if not variadic and list(taken) != names:
            raise ImportError(f"quelm.vec.{name}: the body takes ({', '.join(taken)}), "
                              f"the declaration ({', '.join(names)})")
        f = _declared.define(name, texts, f"_body({', '.join(names)})", {"_body": body})
        f.__module__ = module
        f.__qualname__ = name
        f.__doc__ = decl["doc"]
        # The stub's types, as text (as annotations are read under postponed evaluation).
        f.__annotations__ = {p["name"]: _declared.annotation(p["annotation"]) for p in decl["params"]}
        f.__annotations__["return"] = decl["returns"]
        made[name] = f
    return made


def build_written_names() -> list:
    """The names of the functions written in Python, in declared order."""
    return [decl["name"] for decl in _declared.written()]


# --- bodies of the functions written in Python (their parameters: the declarations') ---------

def simulate_paths(*values):
    values, rows, cols = _core._simulate_paths(*values)
    return np.frombuffer(values, dtype=np.float64).reshape(rows, cols)


def simd_width():
    name, width, _ = _core._simd()
    return name, width
