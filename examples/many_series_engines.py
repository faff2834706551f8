"""Fitting many series: in this process, in worker processes of this machine,
or on a Dask cluster. Every engine fits the same chunks with the same
function and yields (chunk index, fits) as chunks finish."""

import concurrent.futures
import contextlib
import math
import multiprocessing
import pathlib

from local_level_fit import fit_local_level

# Enough chunks per worker that a slow one does not keep the rest waiting
# long, few enough that each worker waits for its next chunk only a few
# times, and few enough values in a chunk that it travels as one small message.
CHUNKS_PER_WORKER = 4
MOST_VALUES_PER_CHUNK = 100_000


def fit_or_fail(series):
    """(sigma2_eps, sigma2_eta, loglik, converged, why not): a series that
    cannot be fitted gets NaN estimates and the reason, and the run goes on."""
    try:
        sigma2_eps, sigma2_eta, loglik = fit_local_level(series)
    except Exception as error:  # one series' failure belongs to its row, not to the run
        return math.nan, math.nan, math.nan, False, str(error) or type(error).__name__
    return sigma2_eps, sigma2_eta, loglik, True, ""


def fit_chunk(chunk):
    return [fit_or_fail(series) for series in chunk]


def chunked(series, workers):
    """The rows of a count x periods array in consecutive chunks."""
    count, periods = series.shape
    size = math.ceil(count / (CHUNKS_PER_WORKER * workers))
    size = max(1, min(size, MOST_VALUES_PER_CHUNK // max(periods, 1)))
    return [series[start:start + size] for start in range(0, count, size)]


def fit_here(chunks):
    for index, chunk in enumerate(chunks):
        yield index, fit_chunk(chunk)


def fit_in_processes(chunks, workers):
    # Forked workers start with everything imported; the host they inherit is
    # safe across fork, and this process holds none of its calls meanwhile.
    context = multiprocessing.get_context("fork")
    with concurrent.futures.ProcessPoolExecutor(workers, mp_context=context) as pool:
        index_of = {pool.submit(fit_chunk, chunk): index for index, chunk in enumerate(chunks)}
        for future in concurrent.futures.as_completed(index_of):
            yield index_of[future], future.result()


def fit_on_dask(client, chunks):
    import distributed

    # One message for every chunk: submitting them one by one delays the first
    # by tens of milliseconds, a tenth of a run of a thousand series.
    futures = client.map(fit_chunk, chunks, pure=False)
    index_of = {future.key: index for index, future in enumerate(futures)}
    for future in distributed.as_completed(futures):
        yield index_of[future.key], future.result()


@contextlib.contextmanager
def dask_client(local_workers=None, scheduler=None):
    """A client of a new LocalCluster of `local_workers` processes, or of the
    cluster at `scheduler`, whose workers can import the fitting code."""
    import dask
    import distributed
    from distributed.diagnostics.plugin import UploadFile

    with contextlib.ExitStack() as stack:
        if scheduler is None:
            # A worker samples the stack of its task every 10 ms for its
            # dashboard, which nobody reads here, at a cost to every fit.
            with dask.config.set({"distributed.worker.profile.enabled": False}):
                cluster = stack.enter_context(distributed.LocalCluster(
                    n_workers=local_workers, threads_per_worker=1, processes=True, dashboard_address=None))
            scheduler = cluster
        client = stack.enter_context(distributed.Client(scheduler))
        # The workers need statespace from the build on their path; the
        # example's own code is sent to them, to every worker that joins later
        # too. Each is imported as it arrives, so no fit pays for imports.
        here = pathlib.Path(__file__).resolve().parent
        try:
            for module in ("local_level_fit.py", "many_series_engines.py"):
                client.register_worker_plugin(UploadFile(str(here / module)), name=f"many_series {module}")
        except ImportError as error:
            raise SystemExit(f"error: a Dask worker cannot import the fitting code: {error}; "
                             "start workers with PYTHONPATH=build/python") from None
        yield client
