"""A dynamic factor model fitted by maximum likelihood with the analytic
gradient of statefiltergradient, beside statsmodels' DynamicFactor.

Seven quarterly series of the US economy, 1959-2009, from statsmodels'
macrodata: the growth rates of real consumption, investment and disposable
income, of the price level and of M1 (100 times the difference of their
logarithms), and the changes of the unemployment rate and of the 3-month
Treasury bill rate, each standardised, share one factor that follows an
AR(2):

    y_t = lambda * f_t + e_t,               e_t ~ N(0, diag(sigma2))
    f_t = phi1 * f_{t-1} + phi2 * f_{t-2} + u_t,   u_t ~ N(0, 1)

16 parameters: 7 loadings, 7 idiosyncratic variances (estimated as their
logarithms), and the AR coefficients, estimated as the partial
autocorrelations p1 = tanh(a1), p2 = tanh(a2) with phi2 = p2 and
phi1 = p1 * (1 - p2), so that every trial point is stationary. The state
(f_t, f_{t-1}) starts from its stationary distribution, as statsmodels'
does: x0 = 0 and P0 the solution of P0 = A P0 A' + B B', which the first
period's prediction maps to itself.

Both fits start from the same point and report the maximum they reach and
the time they took; ours includes its standard errors (the inverse of the
negative Hessian from differences of the analytic gradient).

    PYTHONPATH=build/python /usr/bin/python3 examples/factor_model_fit.py
"""

import math
import os
import time
import warnings

# Both fits on one thread: statsmodels' BLAS would otherwise take every core
# for products of a few states (set before numpy loads; a value given wins).
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import statespace  # noqa: E402

SERIES = ("realcons", "realinv", "realdpi", "cpi", "m1", "unemp", "tbilrate")
# Rates whose changes are taken as they are; the others grow.
RATES = ("unemp", "tbilrate")


def growth_rates():
    """The seven standardised series, T x 7, and their names."""
    from statsmodels.datasets import macrodata

    data = macrodata.load_pandas().data
    columns = []
    for name in SERIES:
        values = data[name].to_numpy(dtype=float)
        columns.append(np.diff(values) if name in RATES else 100.0 * np.diff(np.log(values)))
    changes = np.column_stack(columns)
    return (changes - changes.mean(axis=0)) / changes.std(axis=0), SERIES


def ar_coefficients(a1, a2):
    """phi1, phi2 of a stationary AR(2) from unbounded a1, a2."""
    p1, p2 = math.tanh(a1), math.tanh(a2)
    return p1 * (1.0 - p2), p2


def stationary_covariance(phi1, phi2):
    """The covariance of (f_t, f_{t-1}) of a stationary AR(2) with unit shocks."""
    variance = (1.0 - phi2) / ((1.0 + phi2) * ((1.0 - phi2) ** 2 - phi1 ** 2))
    covariance = phi1 * variance / (1.0 - phi2)
    return np.array([[variance, covariance], [covariance, variance]])


def build(theta, series=len(SERIES)):
    """(A, B, C, D, x0, P0) of the model at theta = (loadings, log variances, a1, a2)."""
    n = series
    loadings, log_variances = theta[:n], theta[n:2 * n]
    phi1, phi2 = ar_coefficients(theta[2 * n], theta[2 * n + 1])
    A = np.array([[phi1, phi2], [1.0, 0.0]])
    C = np.zeros((n, 2))
    C[:, 0] = loadings
    D = np.diag(np.exp(0.5 * log_variances))
    return A, FACTOR_LOADING, C, D, INITIAL_STATE, stationary_covariance(phi1, phi2)


# The factor's own shock enters the first state; the state starts at zero.
FACTOR_LOADING = np.array([[1.0], [0.0]])
INITIAL_STATE = np.zeros(2)


def starting_point(series=len(SERIES)):
    return np.concatenate([np.full(series, 0.5), np.zeros(series), [0.0, 0.0]])


def statsmodels_model(Y):
    """statsmodels' DynamicFactor of the same model."""
    from statsmodels.tsa.statespace.dynamic_factor import DynamicFactor

    return DynamicFactor(Y, k_factors=1, factor_order=2)


def statsmodels_start(theta0, n):
    """theta0 as DynamicFactor's parameters: the loadings, the variances and
    phi1, phi2."""
    phi1, phi2 = ar_coefficients(theta0[2 * n], theta0[2 * n + 1])
    return np.concatenate([theta0[:n], np.exp(theta0[n:2 * n]), [phi1, phi2]])


def statsmodels_fit(Y, theta0):
    """statsmodels' fit of the same model from the same point."""
    model = statsmodels_model(Y)
    start = statsmodels_start(theta0, Y.shape[1])
    began = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        result = model.fit(start_params=start, disp=False, maxiter=2000)
    return result, time.perf_counter() - began


def main():
    Y, names = growth_rates()
    T, n = Y.shape
    theta0 = starting_point(n)
    ours = statespace.fit(Y, build, theta0)
    peer, peer_seconds = statsmodels_fit(Y, theta0)

    print(f"One-factor AR(2) model of {n} US series, {T} quarters, {theta0.size} parameters")
    print(f"{'parameter':24} {'estimate':>10} {'std. error':>10}")
    labels = ([f"loading {name}" for name in names] + [f"log variance {name}" for name in names] +
              ["a1 (p1 = tanh a1)", "a2 (p2 = tanh a2)"])
    for label, estimate, error in zip(labels, ours.theta, ours.std_errors):
        print(f"{label:24} {estimate:10.4f} {error:10.4f}")
    phi1, phi2 = ar_coefficients(ours.theta[2 * n], ours.theta[2 * n + 1])
    print(f"phi1 = {phi1:.4f}, phi2 = {phi2:.4f}")
    print(f"statespace.fit:          log-likelihood {ours.loglik:.8f}, {ours.seconds:.3f} s "
          f"({ours.iterations} iterations, {ours.evaluations} evaluations, converged {ours.converged})")
    print(f"statsmodels DynamicFactor: log-likelihood {peer.llf:.8f}, {peer_seconds:.3f} s")
    print(f"difference {ours.loglik - peer.llf:+.2e}; statsmodels took {peer_seconds / ours.seconds:.1f}x as long")


if __name__ == "__main__":
    main()
