"""The local level model's log-likelihood on statefilter, and its maximum.

    y_t     = level_t + e_t,            e_t ~ N(0, sigma2_eps)
    level_t = level_{t-1} + eta_t,      eta_t ~ N(0, sigma2_eta)

NaN in a series is a missing value. The level starts diffuse (P0 = +inf),
which statefilter takes exactly: the first observed value only places it,
and the likelihood does not depend on where the series lies or on its units.
Its first observed value adds -log(2 pi)/2, the diffuse term of Durbin and
Koopman and of statsmodels.

Every fit takes the same steps from the same starting points, with sums in
index order and scalar functions from the math module, so a series gets the
same estimates, to the bit, in any process that fits it.
"""

import collections
import math

import numpy as np
from scipy.optimize import minimize_scalar

import statespace

# Two variances need two values beyond the one that places the level.
MINIMUM_OBSERVED = 3
# An innovation variance is above zero whenever either variance is, so tol
# skips nothing.
TOLERANCE = 0.0
# The signal-to-noise ratio q = sigma2_eta / sigma2_eps is searched over
# log q on this grid, and then around each of the grid's peaks.
LOG_RATIO_GRID = np.arange(-20.0, 20.5, 1.0)
LOG_RATIO_TOLERANCE = 1e-9


class FitFailed(RuntimeError):
    """A series whose variances could not be estimated, and why."""


def local_level_loglikelihood(series, sigma2_eps, sigma2_eta):
    """The log-likelihood of the series, its level diffuse at the start."""
    return diffuse_loglikelihood(observed_series(series), sigma2_eps, sigma2_eta)


def fit_local_level(series):
    """Maximum-likelihood variances. Returns (sigma2_eps, sigma2_eta,
    loglikelihood); raises FitFailed for a series too short or constant to
    fit, or when the search does not converge.

    The scale of the variances is concentrated out: for a ratio q, the best
    sigma2_eps has a closed form, which leaves a search in one dimension,
    log q, over a grid wide enough to find every peak and then around each.
    The limits q = 0 (a fixed level) and q = infinity (no observation noise)
    are candidates too, since a series may be likeliest under either.
    """
    prepared = observed_series(series)
    check_fittable(prepared)
    scale = change_scale(prepared.observed)

    def profile(log_ratio):
        return profile_loglikelihood(prepared, scale, log_ratio)[0]

    on_grid = [profile(log_ratio) for log_ratio in LOG_RATIO_GRID]
    step = LOG_RATIO_GRID[1] - LOG_RATIO_GRID[0]
    # (log-likelihood, log q) of the limits, of the grid's points and of the
    # top of each of its peaks.
    candidates = [(profile(-math.inf), -math.inf), (profile(math.inf), math.inf)]
    candidates += list(zip(on_grid, LOG_RATIO_GRID.tolist()))
    # Every peak of the grid is searched: the grid's highest point need not
    # lie under the highest peak, when a narrow one falls between two points.
    for index in peaks(on_grid):
        found = minimize_scalar(lambda log_ratio: -profile(log_ratio), method="bounded",
                                bounds=(LOG_RATIO_GRID[index] - step, LOG_RATIO_GRID[index] + step),
                                options={"xatol": LOG_RATIO_TOLERANCE, "maxiter": 500})
        if not found.success:
            raise FitFailed(f"the likelihood search did not converge: {found.message}")
        candidates.append((-float(found.fun), float(found.x)))
    # max keeps the first of equal values, so ties always go the same way.
    highest, log_ratio = max(candidates, key=lambda candidate: candidate[0])
    if not math.isfinite(highest):
        raise FitFailed("the likelihood is not finite at any ratio of the variances")
    _, sigma2_eps, sigma2_eta = profile_loglikelihood(prepared, scale, log_ratio)
    loglikelihood = diffuse_loglikelihood(prepared, sigma2_eps, sigma2_eta)
    if not (math.isfinite(sigma2_eps) and math.isfinite(sigma2_eta) and math.isfinite(loglikelihood)):
        raise FitFailed("the likelihood search ended on values that are not finite")
    return sigma2_eps, sigma2_eta, loglikelihood


def peaks(values):
    """The indices of the points above their left neighbour and not below their right one."""
    return [index for index, value in enumerate(values)
            if (index == 0 or value > values[index - 1]) and (index + 1 == len(values) or value >= values[index + 1])]


ObservedSeries = collections.namedtuple("ObservedSeries", "values observed")


def observed_series(series):
    """The series as statefilter takes it, and its observed values."""
    values = np.array(series, dtype=np.float64).ravel()
    return ObservedSeries(values, values[~np.isnan(values)])


def check_fittable(series):
    count = len(series.observed)
    if count == 0:
        raise FitFailed("every value is missing")
    if not np.all(np.isfinite(series.observed)):
        raise FitFailed("a value is infinite")
    if count < MINIMUM_OBSERVED:
        raise FitFailed(f"{count} observed values, fewer than {MINIMUM_OBSERVED}")
    if np.all(series.observed == series.observed[0]):
        raise FitFailed("every observed value is the same")


def diffuse_loglikelihood(series, sigma2_eps, sigma2_eta):
    if len(series.observed) == 0:
        raise FitFailed("every value is missing")
    if not (sigma2_eps >= 0 and sigma2_eta >= 0 and sigma2_eps + sigma2_eta > 0):
        raise ValueError(f"variances must be non-negative and not both zero: {sigma2_eps!r}, {sigma2_eta!r}")
    per_period = statespace.statefilter(series.values, 1.0, math.sqrt(sigma2_eta), 1.0, math.sqrt(sigma2_eps), 0.0,
                                        math.inf, TOLERANCE)
    return summed(per_period[:, 0])


def profile_loglikelihood(series, scale, log_ratio):
    """The log-likelihood at the best variances whose ratio is q =
    exp(log_ratio), and those variances: (loglikelihood, sigma2_eps,
    sigma2_eta). log_ratio may be -inf or inf, the limits of q.

    Multiplying both variances by 4 multiplies every innovation variance F
    after the first observed value by exactly 4 and changes no innovation v,
    so the log-likelihoods of the two tell the sums of log F and of v^2 / F
    apart, and with them the best multiple of the variances; the first
    value's diffuse term is the same in both.
    """
    used = len(series.observed) - 1
    # Innovation variances near the scale of the changes, whatever q is.
    if log_ratio == math.inf:
        sigma2_eps, sigma2_eta = 0.0, scale
    else:
        ratio = math.exp(log_ratio)
        sigma2_eps = scale / (1.0 + ratio)
        sigma2_eta = ratio * sigma2_eps
    at_one = diffuse_loglikelihood(series, sigma2_eps, sigma2_eta)
    at_four = diffuse_loglikelihood(series, 4.0 * sigma2_eps, 4.0 * sigma2_eta)
    squares = (0.5 * used * math.log(4.0) - (at_one - at_four)) / 0.375
    multiple = squares / used
    if not multiple > 0:
        return -math.inf, math.nan, math.nan
    best = at_one + 0.5 * squares - 0.5 * used * math.log(multiple) - 0.5 * used
    return best, multiple * sigma2_eps, multiple * sigma2_eta


def change_scale(observed):
    """A power of two within a factor of two of the mean square change from
    one observed value to the next: a scale that multiplies without rounding."""
    changes = np.diff(observed)
    return math.ldexp(1.0, math.frexp(summed(changes * changes) / len(changes))[1])


def summed(terms):
    """The sum in index order with one accumulator: the same bits on every
    machine, where np.sum pairs terms in an order of numpy's choosing."""
    return float(np.cumsum(terms)[-1]) if len(terms) else 0.0
