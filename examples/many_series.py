#!/usr/bin/python3
"""A local level model fitted to each of many series by maximum likelihood,
on the cores of this machine or on a Dask cluster.

Each series gets the Nile example's fit (local_level_fit.py), which gives the
same estimates, to the bit, on any engine and any number of workers.

Run from the repository root with the package on the path, e.g.:
    PYTHONPATH=build/python /usr/bin/python3 examples/many_series.py --series 1000 --length 100
    PYTHONPATH=build/python /usr/bin/python3 examples/many_series.py --input series.csv --output fits.csv
"""

import argparse
import collections
import contextlib
import os
import sys
import time

import numpy as np

try:
    import statespace  # noqa: F401  (the fitting code calls it)
except ImportError:
    sys.exit("statespace is not importable: build with scripts/build.sh and set PYTHONPATH=build/python")
import many_series_engines as engines  # noqa: E402
from simulated_series import simulate_local_level  # noqa: E402
from wide_csv import MalformedCsv, read_wide_csv, write_fits_csv  # noqa: E402

# Simulated series printed beside their true variances.
SHOWN_SERIES = 10
# Series named for each reason a fit failed.
SHOWN_FAILURES = 3


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    source = parser.add_argument_group("series (a CSV file, or else simulated)")
    source.add_argument("--input", metavar="FILE.csv",
                        help="wide CSV: the period, then one column per series headed by its name; empty = missing")
    source.add_argument("--series", type=count_argument(0), default=1000, metavar="N", help="simulated series (1000)")
    source.add_argument("--length", type=count_argument(1), default=100, metavar="T", help="their periods (100)")
    source.add_argument("--seed", type=int, default=1, metavar="S", help="their seed (1)")
    engine = parser.add_mutually_exclusive_group()
    engine.add_argument("--workers", type=count_argument(1), metavar="K",
                        help="K worker processes on this machine; 1 fits in this process (default: the cores)")
    engine.add_argument("--dask-local", type=count_argument(1), metavar="K", help="a Dask LocalCluster of K worker processes")
    engine.add_argument("--scheduler", metavar="ADDRESS", help="the Dask cluster whose scheduler is at ADDRESS")
    parser.add_argument("--output", metavar="FILE.csv",
                        help="write series,sigma2_eps,sigma2_eta,loglik,converged, one row per series")
    return parser.parse_args(argv)


def count_argument(least):
    def parse(text):
        value = int(text)
        if value < least:
            raise argparse.ArgumentTypeError(f"must be at least {least}")
        return value

    return parse


def load_series(arguments):
    """(names, count x periods array, true variances or None)."""
    if arguments.input is None:
        names, series, sigma2_eps, sigma2_eta = simulate_local_level(arguments.series, arguments.length, arguments.seed)
        return names, series, (sigma2_eps, sigma2_eta)
    try:
        names, series = read_wide_csv(arguments.input)
    except MalformedCsv as error:
        sys.exit(f"error: {error}")
    except OSError as error:
        sys.exit(f"error: cannot read {arguments.input}: {error.strerror}")
    return names, series, None


@contextlib.contextmanager
def engine(arguments):
    """(what it is, how many workers, a function from chunks to (index, fits))."""
    if arguments.dask_local is not None:
        with engines.dask_client(local_workers=arguments.dask_local) as client:
            yield (f"on a Dask LocalCluster of {arguments.dask_local} worker processes", arguments.dask_local,
                   lambda chunks: engines.fit_on_dask(client, chunks))
    elif arguments.scheduler is not None:
        with engines.dask_client(scheduler=arguments.scheduler) as client:
            workers = len(client.scheduler_info()["workers"])
            yield (f"on the Dask cluster at {arguments.scheduler} ({workers} workers)", max(workers, 1),
                   lambda chunks: engines.fit_on_dask(client, chunks))
    else:
        workers = arguments.workers or len(os.sched_getaffinity(0))
        if workers == 1:
            yield "in this process", 1, engines.fit_here
        else:
            yield (f"on {workers} worker processes", workers, lambda chunks: engines.fit_in_processes(chunks, workers))


def fit_in_order(fit, chunks, total):
    """The fits of every series in input order, whatever order the chunks
    finish in, with a count per second on standard error while it lasts."""
    by_chunk = [None] * len(chunks)
    start = last_report = time.perf_counter()
    done = 0
    for index, fits in fit(chunks):
        by_chunk[index] = fits
        done += len(fits)
        now = time.perf_counter()
        if now - last_report >= 1.0 and done < total:
            print(f"{done}/{total} series fitted, {done / (now - start):.0f} per second", file=sys.stderr, flush=True)
            last_report = now
    return [row for fits in by_chunk for row in fits]


def print_report(names, series, truth, fits, description, ready_seconds, fit_seconds):
    count, periods = series.shape
    rate = f"{count / fit_seconds:.0f} fits/s" if fit_seconds > 0 else "fits/s not measurable"
    print(f"Fitted {count} series of {periods} periods {description}: "
          f"{fit_seconds:.3f} s, {rate} (engine ready in {ready_seconds:.3f} s)")
    converged = sum(fit[3] for fit in fits)
    print(f"  converged: {converged}, not fitted: {count - converged}")
    failures = collections.defaultdict(list)
    for name, fit in zip(names, fits):
        if not fit[3]:
            failures[fit[4]].append(name)
    for reason, failed in failures.items():
        shown = ", ".join(failed[:SHOWN_FAILURES]) + (", ..." if len(failed) > SHOWN_FAILURES else "")
        print(f"  not fitted, {reason}: {len(failed)} ({shown})")
    if truth is not None:
        print_against_truth(names, fits, *truth)


def print_against_truth(names, fits, sigma2_eps, sigma2_eta):
    print(f"  {'series':<12}{'sigma2_eps':>12}{'estimate':>12}{'sigma2_eta':>12}{'estimate':>12}")
    for index in range(min(SHOWN_SERIES, len(names))):
        print(f"  {names[index]:<12}{sigma2_eps[index]:12.4f}{fits[index][0]:12.4f}"
              f"{sigma2_eta[index]:12.4f}{fits[index][1]:12.4f}")
    converged = [index for index, fit in enumerate(fits) if fit[3]]
    if converged:
        eps_ratio = np.median([fits[index][0] / sigma2_eps[index] for index in converged])
        eta_ratio = np.median([fits[index][1] / sigma2_eta[index] for index in converged])
        print(f"  median estimate / true value: sigma2_eps {eps_ratio:.3f}, sigma2_eta {eta_ratio:.3f}")


def main(argv=None):
    arguments = parse_arguments(argv)
    names, series, truth = load_series(arguments)
    starting = time.perf_counter()
    with engine(arguments) as (description, workers, fit):
        chunks = engines.chunked(series, workers)
        start = time.perf_counter()
        fits = fit_in_order(fit, chunks, len(names))
        fit_seconds = time.perf_counter() - start
    print_report(names, series, truth, fits, description, start - starting, fit_seconds)
    if arguments.output is not None:
        write_fits_csv(arguments.output, names, [fit[:4] for fit in fits])
        print(f"Estimates written to {os.path.abspath(arguments.output)}")


if __name__ == "__main__":
    main()
