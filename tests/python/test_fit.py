"""statespace.fit: the maximum of a model simulated from known parameters,
its standard errors, and the errors that name theta."""

import numpy as np
import pytest

import statespace
from host_support import requires_module

pytestmark = requires_module("statefiltergradient")


def local_level_build(theta, start=10.0):
    """A local level model with its variances as logarithms; a known start,
    or with `start` inf a diffuse one."""
    return 1.0, np.exp(0.5 * theta[1]), 1.0, np.exp(0.5 * theta[0]), 0.0, start


def simulated_local_level(seed=3, periods=150):
    rng = np.random.default_rng(seed)
    level = np.cumsum(rng.normal(scale=np.sqrt(0.5), size=periods))
    return level + rng.normal(size=periods)


def summed(Y, theta, start=10.0):
    return float(np.sum(statespace.statefilter(Y, *local_level_build(theta, start), 0.0)))


@pytest.mark.parametrize("start", [10.0, np.inf])
def test_reaches_the_maximum_with_finite_standard_errors(start):
    Y = simulated_local_level()
    result = statespace.fit(Y, lambda theta: local_level_build(theta, start), [0.0, 0.0])
    assert result.converged and result.evaluations > 0 and result.seconds > 0.0
    assert result.loglik == pytest.approx(summed(Y, result.theta, start), abs=1e-12)
    assert np.max(np.abs(result.gradient)) < 1e-3
    # No point nearby is higher, and the standard errors match the curvature
    # of the log-likelihood by second differences of statefilter's values.
    step = 1e-3
    for k in range(2):
        ahead, behind = result.theta.copy(), result.theta.copy()
        ahead[k] += step
        behind[k] -= step
        curvature = (summed(Y, ahead, start) - 2 * result.loglik + summed(Y, behind, start)) / step ** 2
        assert curvature < 0.0
        assert summed(Y, ahead, start) <= result.loglik and summed(Y, behind, start) <= result.loglik
    assert np.all(np.isfinite(result.std_errors)) and np.all(result.std_errors > 0.0)
    hessian = np.empty((2, 2))
    for k in range(2):
        for l in range(2):
            corners = []
            for a, b in ((1, 1), (1, -1), (-1, 1), (-1, -1)):
                theta = result.theta.copy()
                theta[k] += a * step
                theta[l] += b * step
                corners.append(summed(Y, theta, start))
            hessian[k, l] = (corners[0] - corners[1] - corners[2] + corners[3]) / (4 * step ** 2)
    expected = np.sqrt(np.diag(np.linalg.inv(-hessian)))
    np.testing.assert_allclose(result.std_errors, expected, rtol=1e-3)


def test_bounds_hold_the_estimates():
    Y = simulated_local_level()
    result = statespace.fit(Y, local_level_build, [0.0, 0.0], bounds=[(None, None), (-5.0, -2.0)])
    assert -5.0 <= result.theta[1] <= -2.0


def test_a_build_that_raises_names_theta():
    def failing(theta):
        raise RuntimeError("no model here")

    with pytest.raises(ValueError, match=r"build raised RuntimeError: no model here at theta = \[0\.5"):
        statespace.fit(np.ones(5), failing, [0.5, 1.0])


def test_a_likelihood_that_is_not_finite_names_theta():
    def infinite_variance(theta):
        return 1.0, 1.0, 1.0, np.inf * theta[0], 0.0, 1.0

    with pytest.raises(FloatingPointError, match=r"at theta = \[2\.\]"):
        statespace.fit(np.ones(5), infinite_variance, [2.0])


def test_a_build_whose_shapes_change_with_theta_names_theta():
    # D has one column at theta itself and two a step away.
    def changing(theta):
        columns = 1 if theta[0] == 0.5 else 2
        return 1.0, 1.0, 1.0, np.full((1, columns), np.exp(theta[0])), 0.0, 1.0

    with pytest.raises(ValueError, match=r"build returned coefficients of other shapes near theta = \[0\.5\]"):
        statespace.fit(np.ones(5), changing, [0.5])
