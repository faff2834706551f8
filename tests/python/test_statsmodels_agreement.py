"""Our modules against statsmodels' Kalman filter and smoother on random
models: log-likelihoods, filtered and smoothed states and their covariances,
and the simulation smoother's draws against the simulated path plus the
smoothed states of the deviations, and in many draws against the smoothed
moments. tol = 0 passes over only a series whose C and D rows are zero (its
innovation variance is 0), which statsmodels is shown as missing. The random
D loads every series on every innovation, so the series' noises are
correlated, and where there are fewer innovations than series they share
their shocks."""

import statistics

import numpy as np
import pytest

import statespace
from host_support import requires_module
from random_models import random_model
from random_models import module_arguments
from statsmodels_reference import (reference_diffuse_periods, reference_draws, reference_filtered_states,
                                   reference_loglikelihood, reference_smoothed_covariances, reference_smoothed_states)

RELATIVE = 1e-9
# Series that share their shocks (fewer innovations than series) make the
# noise covariance singular: a decorrelated series then carries no noise, and
# the difference of nearly equal numbers that forms it loses digits. Such a
# series also determines a direction of the state exactly, whose variance is
# then zero but for rounding, on both sides, of the size of the model's
# covariances: they are compared with the largest element of any period.
SHARED_SHOCKS_RELATIVE = 1e-7

# (description, arguments of random_model)
CASES = {
    "constant": dict(),
    "one-state": dict(series=1, states=1, state_shocks=1, observation_shocks=1),
    "time-varying": dict(paged="ABCD"),
    "transition-only-varying": dict(paged="A", series=3, states=2),
    "missing": dict(missing=0.25),
    "time-varying-missing": dict(paged="BC", missing=0.3, series=3),
    "more-shocks-than-states": dict(states=2, state_shocks=4, observation_shocks=3),
    "passed-over": dict(series=3, paged="AC", missing=0.2, silent_last_series=True),
    "larger": dict(states=12, series=5, paged="A", missing=0.1),
}


def model_cases(names=tuple(CASES), suffix="", **extra):
    return [pytest.param(seed, {**arguments, **extra}, id=name + suffix)
            for seed, (name, arguments) in enumerate(CASES.items(), start=100) if name in names]


def shares_shocks(model):
    return model.D.shape[1] < model.D.shape[0]


def tolerance(model):
    return SHARED_SHOCKS_RELATIVE if shares_shocks(model) else RELATIVE


def assert_relatively_close(actual, expected, relative=RELATIVE):
    np.testing.assert_allclose(actual, expected, rtol=relative, atol=0)


def assert_close_in_every_period(actual, expected, relative=RELATIVE, across_periods=False):
    """Each period's state or covariance within `relative` of its largest
    element (elements near zero are differences of large ones), or with
    `across_periods` of the largest element of any period."""
    assert actual.shape == expected.shape
    largest = np.max(np.abs(expected), initial=0.0)
    for t in range(expected.shape[0]):
        scale = largest if across_periods else np.max(np.abs(expected[t]), initial=0.0)
        np.testing.assert_array_less(np.abs(actual[t] - expected[t]), relative * scale + 1e-300,
                                     err_msg=f"period {t}")


@requires_module("statefilter")
@pytest.mark.parametrize("seed, arguments", model_cases())
def test_statefilter_loglikelihood_and_filtered_states(seed, arguments):
    model = random_model(seed, **arguments)
    relative = tolerance(model)
    ours = statespace.statefilter(*module_arguments("statefilter", model))
    assert_relatively_close(ours[:, 0], reference_loglikelihood(model), relative)
    loglik, means, covariances = statespace.statefilter(*module_arguments("statefilter", model), return_states=True)
    np.testing.assert_array_equal(loglik, ours)
    expected_means, expected_covariances = reference_filtered_states(model)
    assert_close_in_every_period(means, expected_means, relative)
    assert_close_in_every_period(covariances, expected_covariances, relative, shares_shocks(model))


def cell_form(model, rng):
    """The model as cellstatefilter takes it, each period observing only a
    random subset of the series. statsmodels sees the same data with the other
    series missing, which leaves every period's likelihood unchanged."""
    T, n = model.Y.shape
    Y, C, D = [], [], []
    for t in range(T):
        observed = np.flatnonzero(rng.random(n) < 0.7)
        unobserved = np.setdiff1d(np.arange(n), observed)
        Y.append(model.Y[t, observed].copy())
        C.append(model.page("C", t)[observed, :])
        D.append(model.page("D", t)[observed, :])
        model.Y[t, unobserved] = np.nan
    A = [model.page("A", t) for t in range(T)] if model.A.ndim == 3 else model.A
    B = [model.page("B", t) for t in range(T)] if model.B.ndim == 3 else model.B
    return Y, A, B, C, D


# Three series, but two for the one-state model: with one state and one
# shock, three series would make the peer's multivariate F singular.
@requires_module("cellstatefilter")
@pytest.mark.parametrize("seed, arguments", model_cases(tuple(name for name in CASES if name != "one-state"), series=3)
                         + model_cases(("one-state",), series=2))
def test_cellstatefilter_loglikelihood_with_changing_series(seed, arguments):
    model = random_model(seed, **arguments)
    relative = tolerance(model)
    Y, A, B, C, D = cell_form(model, np.random.default_rng(seed))
    ours, means, covariances = statespace.cellstatefilter(Y, A, B, C, D, model.x0, model.P0, 0.0, return_states=True)
    assert_relatively_close(ours[:, 0], reference_loglikelihood(model), relative)
    expected_means, expected_covariances = reference_filtered_states(model)
    assert_close_in_every_period(means, expected_means, relative)
    assert_close_in_every_period(covariances, expected_covariances, relative, shares_shocks(model))


@requires_module("statesmoother")
@pytest.mark.parametrize("seed, arguments", model_cases() + model_cases(
    ("constant", "time-varying", "time-varying-missing"), "-intercepts", intercepts=True))
def test_statesmoother_smoothed_states_and_covariances(seed, arguments):
    model = random_model(seed, **arguments)
    relative = tolerance(model)
    ours = statespace.statesmoother(*module_arguments("statesmoother", model))
    assert_relatively_close(ours, reference_smoothed_states(model), relative)
    means, covariances = statespace.statesmoother(*module_arguments("statesmoother", model), return_covariances=True)
    np.testing.assert_array_equal(means, ours)
    assert_close_in_every_period(covariances, reference_smoothed_covariances(model), relative, shares_shocks(model))


# Diffuse starts: the last `diffuse` states start with +inf on P0's diagonal.
# A model whose F_inf is neither clearly zero nor clearly positive would test
# the rule, not the recursions: the random loadings keep every F_inf of these
# models far from both (F_inf / (sum of c^2 * max |P_inf|) outside 1e-13 ..
# 1e-3). statsmodels' exact diffuse smoother mishandles coefficients that
# change within its diffuse phase (its known start agrees with ours, and our
# diffuse results are the limit of our known start, which
# test_paged_coefficients_in_the_diffuse_phase_are_the_limit_of_a_known_start
# checks), so the paged coefficients here change only after the phase; the
# simulation smoother's draws are compared on the same models.
DIFFUSE_CASES = {
    "all-diffuse": dict(diffuse=3),
    "known-and-diffuse": dict(diffuse=2, states=4, series=2),
    "one-diffuse-of-five": dict(diffuse=1, states=5, series=3, missing=0.2),
    "paged": dict(diffuse=3, paged="ABCD"),
    "missing": dict(diffuse=2, missing=0.25),
    "one-series": dict(diffuse=3, series=1, states=4),
    "independent-noise": dict(diffuse=2, independent_noise=True),
    "shared-shocks": dict(diffuse=2, series=3, observation_shocks=2, state_shocks=3),
}


def diffuse_model(seed, **arguments):
    """A random diffuse model, its paged coefficients constant through the
    first four periods, and x0 zero where statsmodels' diffuse states start."""
    model = random_model(seed, **arguments)
    for letter in arguments.get("paged", ""):
        pages = getattr(model, letter)
        pages[:, :, 1:4] = pages[:, :, :1]
    model.x0[len(model.x0) - arguments["diffuse"]:] = 0.0
    return model


def diffuse_cases(suffix="", **extra):
    return [pytest.param(seed, {**arguments, **extra}, id=name + suffix)
            for seed, (name, arguments) in enumerate(DIFFUSE_CASES.items(), start=300)]


@requires_module("statefilter")
@pytest.mark.parametrize("seed, arguments", diffuse_cases())
def test_statefilter_with_a_diffuse_start(seed, arguments):
    model = diffuse_model(seed, **arguments)
    relative = tolerance(model)
    loglik, means, covariances = statespace.statefilter(*module_arguments("statefilter", model), return_states=True)
    assert_relatively_close(loglik[:, 0], reference_loglikelihood(model), relative)
    expected_means, expected_covariances = reference_filtered_states(model)
    assert_close_in_every_period(means, expected_means, relative)
    # In the diffuse phase statsmodels gives P* alone, where ours is infinite
    # in the directions still diffuse.
    # Its phase counts the period in which the last diffuse direction is
    # seen, after which ours gives P* too.
    phase = reference_diffuse_periods(model) - 1
    assert np.all(np.isinf(covariances[:phase]).any(axis=(1, 2)))
    assert np.all(np.isfinite(covariances[phase:]))
    assert_close_in_every_period(covariances[phase:], expected_covariances[phase:], relative, shares_shocks(model))
    # The diffuse states' x0 makes no difference once they are seen.
    model.x0[len(model.x0) - arguments["diffuse"]:] = [5.0, -3.0, 1.0, 2.0][:arguments["diffuse"]]
    moved = statespace.statefilter(*module_arguments("statefilter", model))
    assert_relatively_close(moved[:, 0], loglik[:, 0], 1e-9)


@requires_module("cellstatefilter")
@pytest.mark.parametrize("seed, arguments", diffuse_cases(series=2))
def test_cellstatefilter_with_a_diffuse_start(seed, arguments):
    model = diffuse_model(seed, **arguments)
    Y, A, B, C, D = cell_form(model, np.random.default_rng(seed))
    loglik = statespace.cellstatefilter(Y, A, B, C, D, model.x0, model.P0, 0.0)
    assert_relatively_close(loglik[:, 0], reference_loglikelihood(model), tolerance(model))


@requires_module("statesmoother")
@pytest.mark.parametrize("seed, arguments", diffuse_cases() + diffuse_cases("-intercepts", intercepts=True))
def test_statesmoother_with_a_diffuse_start(seed, arguments):
    model = diffuse_model(seed, **arguments)
    relative = tolerance(model)
    means, covariances = statespace.statesmoother(*module_arguments("statesmoother", model), return_covariances=True)
    assert_close_in_every_period(means, reference_smoothed_states(model), relative)
    assert_close_in_every_period(covariances, reference_smoothed_covariances(model), relative, shares_shocks(model))


@requires_module("statesmoother")
@pytest.mark.parametrize("paged", ["A", "D", "ABCD"])
def test_paged_coefficients_in_the_diffuse_phase_are_the_limit_of_a_known_start(paged):
    """With P0 = kappa on the diffuse states the smoother differs from the
    exact diffuse one by O(1/kappa): ten times kappa, a tenth of the difference."""
    model = random_model(321, diffuse=3, paged=paged, missing=0.1)
    exact = statespace.statesmoother(*module_arguments("statesmoother", model), return_covariances=True)
    differences = []
    for kappa in (1e3, 1e4):
        known = random_model(321, diffuse=3, paged=paged, missing=0.1)
        known.P0[np.isinf(known.P0)] = kappa
        approximate = statespace.statesmoother(*module_arguments("statesmoother", known), return_covariances=True)
        differences.append([np.max(np.abs(a - e)) for a, e in zip(approximate, exact)])
    for larger, smaller in zip(*differences):
        assert 7 < larger / smaller < 14, differences


@requires_module("statefilter")
@requires_module("statesmoother")
def test_a_state_no_observation_sees_stays_diffuse_and_leaves_the_others_as_they_are():
    """A cycle at frequency pi whose second component never enters the
    observation: that component keeps an infinite variance, filtered and
    smoothed, and the first is what the model without the second gives."""
    rng = np.random.default_rng(330)
    Y = rng.normal(size=(12, 1))
    Y[4] = np.nan
    model = (Y, -np.eye(2), 0.5 * np.eye(2), np.array([[1.0, 0.0]]), np.ones((1, 1)))
    alone = (Y, -np.eye(1), 0.5 * np.eye(1), np.ones((1, 1)), np.ones((1, 1)))
    x0, P0 = np.array([0.3, -0.7]), np.diag([np.inf, np.inf])
    loglik, means, covariances = statespace.statefilter(*model, x0, P0, 0.0, return_states=True)
    smoothed, smoothed_covariances = statespace.statesmoother(*model, P0, 0.0, x0, return_covariances=True)
    expected = statespace.statefilter(*alone, x0[:1], np.array([[np.inf]]), 0.0, return_states=True)
    expected_smoothed = statespace.statesmoother(*alone, np.array([[np.inf]]), 0.0, x0[:1], return_covariances=True)
    np.testing.assert_array_equal(loglik, expected[0])
    for kept, seen in ((covariances, expected[2]), (smoothed_covariances, expected_smoothed[1])):
        assert np.all(kept[:, 1, 1] == np.inf) and not np.isnan(kept).any()
        assert_relatively_close(kept[:, 0, 0], seen[:, 0, 0])
    assert_relatively_close(smoothed[:, 0], expected_smoothed[0][:, 0])
    # Unseen, the second component only follows its start.
    np.testing.assert_array_equal(smoothed[:, 1], -0.7 * (-1.0) ** np.arange(1, 13))


def variates_for(model, draws, seed):
    """Standard normals for `draws` draws of the model: m + T*(k+h) rows."""
    T, m = model.periods, model.A.shape[0]
    rows = m + T * (model.page("B", 0).shape[1] + model.page("D", 0).shape[1])
    return np.random.default_rng(seed).standard_normal((rows, draws))


@requires_module("simulationsmoother")
@pytest.mark.parametrize("seed, arguments", model_cases() + model_cases(
    ("constant", "time-varying-missing", "passed-over"), "-intercepts", intercepts=True)
    + diffuse_cases("-diffuse") + diffuse_cases("-diffuse-intercepts", intercepts=True))
def test_simulationsmoother_draws_are_the_simulated_path_plus_the_smoothed_deviations(seed, arguments):
    model = diffuse_model(seed, **arguments) if "diffuse" in arguments else random_model(seed, **arguments)
    variates = variates_for(model, 3, seed)
    draws = statespace.simulationsmoother(*module_arguments("simulationsmoother", model), variates=variates)
    paths, smoothed = reference_draws(model, variates)
    # A draw is a difference of its terms where they nearly cancel: each
    # period within the tolerance of the largest element of its terms.
    relative = tolerance(model)
    for ours, path, deviation in zip(draws, paths, smoothed):
        scale = np.max(np.abs(np.concatenate([path, deviation], axis=1)), axis=1)
        assert np.all(np.abs(ours - (path + deviation)) <= relative * scale[:, np.newaxis])


@requires_module("simulationsmoother")
@requires_module("statesmoother")
@pytest.mark.parametrize("noise, diffuse", [("independent", 0), ("correlated", 0), ("correlated", 2)],
                         ids=["independent-noise", "correlated-noise", "diffuse"])
def test_many_draws_have_the_smoothed_means_and_covariances(noise, diffuse):
    model = (diffuse_model if diffuse else random_model)(300, periods=15, states=3, series=2, paged="AC", missing=0.2,
                                                         intercepts=True, independent_noise=noise == "independent",
                                                         diffuse=diffuse)
    count = 4000
    draws = statespace.simulationsmoother(*module_arguments("simulationsmoother", model), draws=count, seed=5)
    means, covariances = statespace.statesmoother(*module_arguments("statesmoother", model), return_covariances=True)
    # Each sample mean and covariance is off by a normal error of the standard
    # deviation below; Bonferroni over all of them at a family-wise 1e-3.
    variances = np.diagonal(covariances, axis1=1, axis2=2)
    mean_error = np.sqrt(variances / count)
    cov_error = np.sqrt((variances[:, :, np.newaxis] * variances[:, np.newaxis, :] + covariances ** 2) / count)
    z = statistics.NormalDist().inv_cdf(1 - 1e-3 / (2 * (mean_error.size + cov_error.size)))
    sample_covariances = np.einsum("sti,stj->tij", draws - draws.mean(axis=0), draws - draws.mean(axis=0)) / (count - 1)
    assert np.all(np.abs(draws.mean(axis=0) - means) <= z * mean_error)
    assert np.all(np.abs(sample_covariances - covariances) <= z * cov_error)
