"""Series side by side in a CSV file, and the fits of each, one per row."""

import csv
import io
import math

import numpy as np

FIT_COLUMNS = ("series", "sigma2_eps", "sigma2_eta", "loglik", "converged")


class MalformedCsv(ValueError):
    """A CSV file that cannot be read as series, with the line at fault."""


def read_wide_csv(path):
    """Series from a CSV file whose first row names the period column and then
    each series, and whose every later row holds a period and one value per
    series; an empty cell (or NaN) is a missing value, blank lines are
    skipped. Returns (names, series as a count x periods float64 array)."""
    with open(path, "rb") as source:
        data = source.read()
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line = data[:error.start].count(b"\n") + 1
        raise MalformedCsv(f"{path}, line {line}: not UTF-8 text") from None
    reader = csv.reader(io.StringIO(text, newline=""), strict=True)
    try:
        names = check_header(next(reader, None))
        rows = [parse_row(row, names) for row in reader if row]
    except (MalformedCsv, csv.Error) as error:
        raise MalformedCsv(f"{path}, line {max(reader.line_num, 1)}: {error}") from None
    series = np.array(rows, dtype=np.float64).reshape(len(rows), len(names))
    return names, np.ascontiguousarray(series.T)


def check_header(header):
    if not header:
        raise MalformedCsv("expected a header: the period column's name, then one name per series")
    names = [name.strip() for name in header[1:]]
    if not names:
        raise MalformedCsv("the header names no series after the period column")
    seen = set()
    for column, name in enumerate(names, start=2):
        if not name:
            raise MalformedCsv(f"column {column} has no series name")
        if name in seen:
            raise MalformedCsv(f"series name {name!r} appears twice")
        seen.add(name)
    return names


def parse_row(row, names):
    if len(row) != len(names) + 1:
        raise MalformedCsv(f"{len(row)} fields where the header has {len(names) + 1} (the period and {len(names)} series)")
    values = []
    for name, cell in zip(names, row[1:]):
        text = cell.strip()
        try:
            value = float(text) if text else math.nan
        except ValueError:
            raise MalformedCsv(f"series {name!r}: {cell!r} is not a number") from None
        if math.isinf(value):
            raise MalformedCsv(f"series {name!r}: {cell!r} is not finite")
        values.append(value)
    return values


def write_fits_csv(path, names, fits):
    """One row per series, in order; floats as repr writes them, which
    reads back to the same bits."""
    with open(path, "w", newline="", encoding="utf-8") as target:
        writer = csv.writer(target, lineterminator="\n")
        writer.writerow(FIT_COLUMNS)
        for name, (sigma2_eps, sigma2_eta, loglik, converged) in zip(names, fits):
            writer.writerow([name, repr(sigma2_eps), repr(sigma2_eta), repr(loglik), repr(converged)])
