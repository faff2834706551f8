"""Our local level fit against statsmodels' UnobservedComponents(y, 'llevel'), series by series.

Run with /usr/bin/python3 after the build. On the simulated series of the
many-series example, one seed after another, each series is fitted by both
in turn on one core, and our log-likelihood is evaluated at both sets of
estimates. Per seed it prints the worst relative shortfall of our fit,
(ours at theirs - ours at ours) / |ours at ours| (a negative value: ours is
higher on every series), the number of series short by more than 1e-6 of
that (a sound fit has none), and the fits per second of each, with their
ratio. statsmodels gets OpenBLAS on one thread.
"""

import argparse
import math
import os
import pathlib
import subprocess
import sys
import time
import warnings

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "examples"))

from compare_with_statsmodels import ensure_packages, peer_environment  # noqa: E402

SOUND_SHORTFALL = 1e-6


def fit_statsmodels(series):
    from statsmodels.tsa.statespace.structural import UnobservedComponents

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # its convergence warnings; the likelihoods below judge the fit
        sigma2_eps, sigma2_eta = UnobservedComponents(series, "llevel").fit(disp=False).params
    return float(sigma2_eps), float(sigma2_eta)


def compare_seed(count, length, seed):
    """(worst shortfall and its series, series short by more than SOUND_SHORTFALL,
    our seconds, statsmodels' seconds)."""
    from local_level_fit import fit_local_level, local_level_loglikelihood
    from simulated_series import simulate_local_level

    _, all_series, _, _ = simulate_local_level(count, length, seed)
    worst, worst_series, unsound = -math.inf, None, 0
    ours_seconds = theirs_seconds = 0.0
    for index, series in enumerate(all_series):
        start = time.perf_counter()
        sigma2_eps, sigma2_eta, at_ours = fit_local_level(series)
        middle = time.perf_counter()
        theirs = fit_statsmodels(series)
        ours_seconds += middle - start
        theirs_seconds += time.perf_counter() - middle
        shortfall = (local_level_loglikelihood(series, *theirs) - at_ours) / abs(at_ours)
        unsound += shortfall > SOUND_SHORTFALL
        if shortfall > worst:
            worst, worst_series = shortfall, (index, (sigma2_eps, sigma2_eta), theirs)
    return worst, worst_series, unsound, ours_seconds, theirs_seconds


def measure(arguments):
    # One core for both: our fit is one thread, and statsmodels gets one BLAS thread.
    core = max(os.sched_getaffinity(0))
    os.sched_setaffinity(0, {core})
    print(f"{arguments.series} series of {arguments.length} periods per seed, on core {core}")
    print(f"{'seed':>6}{'worst shortfall':>17}{'short > 1e-6':>14}{'ours fits/s':>13}{'statsmodels':>13}{'ratio':>8}")
    for seed in arguments.seeds:
        worst, worst_series, unsound, ours, theirs = compare_seed(arguments.series, arguments.length, seed)
        print(f"{seed:>6}{worst:>17.2e}{unsound:>14}{arguments.series / ours:>13.0f}"
              f"{arguments.series / theirs:>13.1f}{theirs / ours:>7.1f}x", flush=True)
        index, at_ours, at_theirs = worst_series
        print(f"{'':>6}worst: series {index + 1}, ours (sigma2_eps, sigma2_eta) = {at_ours}, statsmodels' = {at_theirs}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--series", type=int, default=1000)
    parser.add_argument("--length", type=int, default=100)
    parser.add_argument("--seeds", type=int, nargs="+", default=[1, 2, 3])
    parser.add_argument("--measure", action="store_true", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.measure:
        measure(arguments)
        return
    ensure_packages()
    # In a process of its own, whose BLAS reads the peer's settings as it loads.
    build_dir = pathlib.Path(arguments.build_dir).resolve()
    sys.exit(subprocess.run([sys.executable, __file__, "--measure"] + sys.argv[1:],
                            env=peer_environment(build_dir)).returncode)


if __name__ == "__main__":
    main()
