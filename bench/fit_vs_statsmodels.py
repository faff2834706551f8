"""statespace.fit against statsmodels on two factor models, side by side.

Run with /usr/bin/python3 after the build (bash scripts/compare.sh runs it):

- the example's model (examples/factor_model_fit.py): one AR(2) factor
  behind seven US macroeconomic series, 16 parameters, beside statsmodels'
  DynamicFactor;
- a two-factor model of 5 series and T = 200 simulated from it, 18
  parameters: loadings with one zero (9), log idiosyncratic variances (5) and
  a VAR(1) of the factors with B = I (4: A = M / sqrt(1 + sum of M's squared
  elements), whose norm below one keeps every trial point stationary),
  beside an MLEModel of the same model with the same parameters.

Both sides start from the same point and the same stationary start of the
state; each fit is timed whole (statsmodels' with the covariance of its
estimates, ours with the standard errors), medians of alternating runs in
one process, which runs with one BLAS thread and without the settings that
slow a current OpenBLAS, as compare_with_statsmodels.py gives the peer. The
maximum each reaches and their difference are printed.
"""

import argparse
import math
import os
import pathlib
import statistics
import sys
import time
import warnings

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "examples"), str(ROOT / "bench")]

import compare_with_statsmodels  # noqa: E402
import factor_model_fit  # noqa: E402
import statespace  # noqa: E402

SERIES, FACTORS = 5, 2
# The loading of the first series on the second factor is zero; the others
# are free, in this order (their indices in the loadings' row-major order).
FREE_LOADINGS = [(i, j) for i in range(SERIES) for j in range(FACTORS) if (i, j) != (0, 1)]
FREE_INDICES = np.array([i * FACTORS + j for i, j in FREE_LOADINGS])


def two_factor_matrices(theta):
    """The loadings, the idiosyncratic variances and the transition at theta
    (real, or complex for statsmodels' complex steps)."""
    loadings = np.zeros((SERIES, FACTORS), dtype=theta.dtype)
    loadings.flat[FREE_INDICES] = theta[:len(FREE_LOADINGS)]
    start = len(FREE_LOADINGS)
    variances = np.exp(theta[start:start + SERIES])
    unconstrained = theta[start + SERIES:].reshape(FACTORS, FACTORS)
    transition = unconstrained / np.sqrt(1.0 + np.sum(unconstrained * unconstrained))
    return loadings, variances, transition


IDENTITY_SQUARED = np.eye(FACTORS * FACTORS)
IDENTITY_VECTOR = np.eye(FACTORS).ravel()


def stationary_covariance(transition):
    """P with P = A P A' + I: the factors' stationary covariance."""
    # A kron A, element (i*k + r, j*k + l) = A(i, j)*A(r, l), without np.kron's overhead.
    kronecker = (transition[:, None, :, None] * transition[None, :, None, :]).reshape(FACTORS ** 2, FACTORS ** 2)
    vector = np.linalg.solve(IDENTITY_SQUARED - kronecker, IDENTITY_VECTOR)
    P = vector.reshape(FACTORS, FACTORS)
    return 0.5 * (P + P.T)


def two_factor_build(theta):
    """Our build: the matrices of two_factor_matrices, formed from Python
    numbers where they are a few (P0 by Cramer's rule from the three
    equations of the symmetric P = A P A' + I), since a parameter costs two
    builds."""
    theta = np.asarray(theta, dtype=float)
    loadings = np.zeros((SERIES, FACTORS))
    loadings.flat[FREE_INDICES] = theta[:len(FREE_LOADINGS)]
    start = len(FREE_LOADINGS)
    noise = np.diag(np.exp(0.5 * theta[start:start + SERIES]))
    m11, m12, m21, m22 = (float(value) for value in theta[start + SERIES:])
    scale = 1.0 / math.sqrt(1.0 + m11 * m11 + m12 * m12 + m21 * m21 + m22 * m22)
    a11, a12, a21, a22 = m11 * scale, m12 * scale, m21 * scale, m22 * scale
    # Unknowns p11, p12, p22: rows of (I - A (x) A) on the symmetric P, and the right side of I.
    rows = ((1.0 - a11 * a11, -2.0 * a11 * a12, -a12 * a12, 1.0),
            (-a11 * a21, 1.0 - (a11 * a22 + a12 * a21), -a12 * a22, 0.0),
            (-a21 * a21, -2.0 * a21 * a22, 1.0 - a22 * a22, 1.0))
    p11, p12, p22 = _cramer(rows)
    return (np.array([[a11, a12], [a21, a22]]), FACTOR_SHOCKS, loadings, noise, ZERO_STATE,
            np.array([[p11, p12], [p12, p22]]))


def _cramer(rows):
    """The solution of a 3 x 3 system given as rows (a, b, c, right side)."""
    (a, b, c, r), (d, e, f, q), (g, h, i, p) = rows
    whole = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g)
    first = r * (e * i - f * h) - b * (q * i - f * p) + c * (q * h - e * p)
    second = a * (q * i - f * p) - r * (d * i - f * g) + c * (d * p - q * g)
    third = a * (e * p - q * h) - b * (d * p - q * g) + r * (d * h - e * g)
    return first / whole, second / whole, third / whole


FACTOR_SHOCKS = np.eye(FACTORS)
ZERO_STATE = np.zeros(FACTORS)


def two_factor_data(seed=2024, periods=200):
    """Observations simulated from the model at known parameters, and a start."""
    rng = np.random.default_rng(seed)
    truth = np.concatenate([rng.normal(0.8, 0.3, size=len(FREE_LOADINGS)), np.log(np.full(SERIES, 0.5)),
                            [0.9, 0.3, -0.2, 0.6]])
    A, B, C, D, _, P0 = two_factor_build(truth)
    state = np.linalg.cholesky(P0) @ rng.normal(size=FACTORS)
    Y = np.empty((periods, SERIES))
    for t in range(periods):
        state = A @ state + B @ rng.normal(size=FACTORS)
        Y[t] = C @ state + D @ rng.normal(size=SERIES)
    start = np.concatenate([np.full(len(FREE_LOADINGS), 0.5), np.zeros(SERIES), np.zeros(FACTORS * FACTORS)])
    return Y, start


def two_factor_statsmodels(Y):
    """An MLEModel of the same model, parameters and start of the state."""
    from statsmodels.tsa.statespace.mlemodel import MLEModel

    class TwoFactorModel(MLEModel):
        def __init__(self, endog):
            super().__init__(endog, k_states=FACTORS, k_posdef=FACTORS, initialization="stationary")
            self["selection"] = np.eye(FACTORS)
            self["state_cov"] = np.eye(FACTORS)

        def update(self, params, **kwargs):
            params = super().update(params, **kwargs)
            loadings, variances, transition = two_factor_matrices(params)
            self["design"] = loadings
            self["obs_cov"] = np.diag(variances)
            self["transition"] = transition

    return TwoFactorModel(Y)


def compare(name, Y, build, theta0, peer_model, peer_start, repetitions):
    ours_times, peer_times = [], []
    for _ in range(repetitions):
        ours = statespace.fit(Y, build, theta0)
        ours_times.append(ours.seconds)
        began = time.perf_counter()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            peer = peer_model.fit(start_params=peer_start, disp=False, maxiter=2000)
        peer_times.append(time.perf_counter() - began)
    ours_seconds, peer_seconds = statistics.median(ours_times), statistics.median(peer_times)
    print(f"{name:34} {ours.loglik:16.8f} {peer.llf:16.8f} {ours.loglik - peer.llf:+10.1e} "
          f"{ours_seconds:9.3f}s {peer_seconds:9.3f}s {peer_seconds / ours_seconds:6.1f}x   "
          f"{ours.iterations} / {peer.mle_retvals.get('iterations', '?')}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--repetitions", type=int, default=3)
    arguments = parser.parse_args()
    if os.environ.get("ORRIM_FIT_COMPARISON") is None:
        # Again in a process with the peer's environment, set before numpy loads.
        environment = compare_with_statsmodels.peer_environment(pathlib.Path(arguments.build_dir).resolve())
        environment["ORRIM_FIT_COMPARISON"] = "1"
        os.execve(sys.executable, [sys.executable, __file__] + sys.argv[1:], environment)
    print(f"{'model':34} {'max ours':>16} {'statsmodels':>16} {'difference':>10} {'ours':>10} {'statsmodels':>10} "
          f"{'ratio':>7}   iterations")
    Y, names = factor_model_fit.growth_rates()
    n = len(names)
    theta0 = factor_model_fit.starting_point(n)
    compare(f"example: 1 factor, {n} series, {theta0.size} par.", Y, factor_model_fit.build, theta0,
            factor_model_fit.statsmodels_model(Y), factor_model_fit.statsmodels_start(theta0, n),
            arguments.repetitions)
    Y, theta0 = two_factor_data()
    compare(f"2 factors, {SERIES} series, T = {Y.shape[0]}, {theta0.size} par.", Y, two_factor_build, theta0,
            two_factor_statsmodels(Y), theta0, arguments.repetitions)


if __name__ == "__main__":
    main()
