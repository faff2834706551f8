"""The many-series example: every engine writes the same file, a malformed
CSV stops with the line at fault, and the fit finds the highest peak."""

import math
import os
import pathlib
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import statespace
from host_support import requires_module

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
sys.path.insert(0, str(EXAMPLES))
import local_level_fit  # noqa: E402
from simulated_series import simulate_local_level  # noqa: E402

# Long enough for a LocalCluster to start and stop on a loaded machine.
RUN_TIMEOUT_SECONDS = 120


def run_many_series(*arguments):
    """Runs the example in a session of its own, and fails the test if it
    outlives the timeout or leaves a live process of that session behind."""
    environment = dict(os.environ, PYTHONPATH=str(pathlib.Path(statespace.__file__).resolve().parents[1]))
    process = subprocess.Popen([sys.executable, str(EXAMPLES / "many_series.py"), *arguments], env=environment,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        output, errors = process.communicate(timeout=RUN_TIMEOUT_SECONDS)
    finally:
        left = live_processes_in_session(process.pid)
        if left:
            os.killpg(process.pid, signal.SIGKILL)
    assert not left, f"processes left behind: {left}"
    return process.returncode, output, errors


def live_processes_in_session(session, grace_seconds=10.0):
    """The processes of `session` still running after the grace that helpers
    such as multiprocessing's resource tracker take to end once their parent
    has; ended ones that wait to be reaped do not count."""
    deadline = time.monotonic() + grace_seconds
    while True:
        live = []
        for entry in os.listdir("/proc"):
            try:
                if entry.isdigit() and os.getsid(int(entry)) == session:
                    with open(f"/proc/{entry}/stat") as stat:
                        if stat.read().rpartition(")")[2].split()[0] != "Z":
                            live.append(int(entry))
            except (ProcessLookupError, FileNotFoundError):
                pass
        if not live or time.monotonic() > deadline:
            return live
        time.sleep(0.1)


def write_wide_csv(path, columns, length):
    with open(path, "w") as target:
        target.write("period," + ",".join(columns) + "\n")
        for t in range(length):
            target.write(f"{t}," + ",".join(cell(columns[name][t]) for name in columns) + "\n")


def cell(value):
    return "" if math.isnan(value) else repr(value)


@pytest.fixture(scope="module")
def small_wide_csv(tmp_path_factory):
    """A few series: whole, with gaps (leading ones too), all missing, constant."""
    _, series, _, _ = simulate_local_level(3, 40, seed=5)
    gaps = series[1].copy()
    gaps[[0, 1, 5, 6, 7, 20, 39]] = np.nan
    columns = {"whole": series[0], "gaps": gaps, "missing": np.full(40, np.nan), "constant": np.full(40, 2.5),
               "other": series[2]}
    path = tmp_path_factory.mktemp("many_series") / "wide.csv"
    write_wide_csv(path, columns, 40)
    return path, columns


@pytest.fixture(scope="module")
def serial_fits(small_wide_csv, tmp_path_factory):
    output = tmp_path_factory.mktemp("serial") / "fits.csv"
    returncode, _, errors = run_many_series("--input", str(small_wide_csv[0]), "--workers", "1", "--output", str(output))
    assert returncode == 0, errors
    return output.read_bytes()


@requires_module("statefilter")
def test_serial_file_holds_each_series_fit_in_order(small_wide_csv, serial_fits):
    rows = [line.split(",") for line in serial_fits.decode().splitlines()]
    assert rows[0] == ["series", "sigma2_eps", "sigma2_eta", "loglik", "converged"]
    _, columns = small_wide_csv
    assert [row[0] for row in rows[1:]] == list(columns)
    for row, series in zip(rows[1:], columns.values()):
        try:
            expected = [*local_level_fit.fit_local_level(series), True]
        except local_level_fit.FitFailed:
            expected = [math.nan, math.nan, math.nan, False]
        written = [float(text) for text in row[1:4]] + [row[4] == "True"]
        np.testing.assert_array_equal(written, expected)  # bit for bit, NaN where the fit failed


@requires_module("statefilter")
@pytest.mark.parametrize("engine", [["--workers", "2"], ["--dask-local", "2"]], ids=["workers", "dask-local"])
def test_every_engine_writes_the_serial_file(engine, small_wide_csv, serial_fits, tmp_path):
    output = tmp_path / "fits.csv"
    returncode, report, errors = run_many_series("--input", str(small_wide_csv[0]), *engine, "--output", str(output))
    assert returncode == 0, errors
    assert "Fitted 5 series" in report and "not fitted: 2" in report
    assert output.read_bytes() == serial_fits


@pytest.mark.parametrize("content, line, problem", [
    ("period,a,b\n1,1.5,2\n2,1.5\n", 3, "2 fields where the header has 3"),
    ("period,a,b\n1,1.5,2\n\n3,x,2\n", 4, "'x' is not a number"),
    ("period,a,a\n1,1.5,2\n", 1, "'a' appears twice"),
    ("period,a,b\n1,1.5,2\n2,inf,2\n", 3, "is not finite"),
])
def test_malformed_csv_stops_naming_the_line(content, line, problem, tmp_path):
    path = tmp_path / "bad.csv"
    path.write_text(content)
    returncode, _, errors = run_many_series("--input", str(path), "--workers", "1")
    assert returncode != 0
    assert f"{path}, line {line}: " in errors and problem in errors


@requires_module("statefilter")
def test_fit_finds_the_highest_peak_when_the_grid_misses_it():
    _, series, _, _ = simulate_local_level(20, 30, seed=12)
    series[np.random.default_rng(12).random(series.shape) < 0.2] = np.nan
    fine_grid = np.arange(-20.0, 20.0001, 0.05).tolist() + [-math.inf, math.inf]
    grid_misses_the_peak = 0
    for values in series:
        prepared = local_level_fit.observed_series(values)
        scale = local_level_fit.change_scale(prepared.observed)
        on_fine_grid = max(local_level_fit.profile_loglikelihood(prepared, scale, log_ratio)[0]
                           for log_ratio in fine_grid)
        on_grid = max(local_level_fit.profile_loglikelihood(prepared, scale, log_ratio)[0]
                      for log_ratio in local_level_fit.LOG_RATIO_GRID)
        _, _, loglikelihood = local_level_fit.fit_local_level(values)
        assert loglikelihood >= on_fine_grid - 1e-9 * abs(on_fine_grid)
        grid_misses_the_peak += on_grid < loglikelihood - 1e-3
    assert grid_misses_the_peak, "no series here has a peak between the grid's points: the test checks nothing"
