"""Our modules against statsmodels' Kalman filter and smoother on random
models: log-likelihoods, filtered and smoothed states and their covariances,
and the simulation smoother's draws against the simulated path plus the
smoothed states of the deviations, and in many draws against the smoothed
moments. tol = 0 passes over only a series whose C and D rows are zero (its
innovation variance is 0), which statsmodels is shown as missing."""

import statistics

import numpy as np
import pytest

import statespace
from host_support import requires_module
from random_models import random_model
from random_models import module_arguments
from statsmodels_reference import (reference_draws, reference_filtered_states, reference_loglikelihood,
                                   reference_smoothed_covariances, reference_smoothed_states)

RELATIVE = 1e-9

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


def assert_relatively_close(actual, expected):
    np.testing.assert_allclose(actual, expected, rtol=RELATIVE, atol=0)


def assert_close_in_every_period(actual, expected):
    """Each period's state or covariance within RELATIVE of its largest
    element: elements near zero are differences of large ones."""
    assert actual.shape == expected.shape
    for t in range(expected.shape[0]):
        scale = np.max(np.abs(expected[t]), initial=0.0)
        np.testing.assert_array_less(np.abs(actual[t] - expected[t]), RELATIVE * scale + 1e-300,
                                     err_msg=f"period {t}")


@requires_module("statefilter")
@pytest.mark.parametrize("seed, arguments", model_cases())
def test_statefilter_loglikelihood_and_filtered_states(seed, arguments):
    model = random_model(seed, **arguments)
    ours = statespace.statefilter(*module_arguments("statefilter", model))
    assert_relatively_close(ours[:, 0], reference_loglikelihood(model))
    loglik, means, covariances = statespace.statefilter(*module_arguments("statefilter", model), return_states=True)
    np.testing.assert_array_equal(loglik, ours)
    expected_means, expected_covariances = reference_filtered_states(model)
    assert_close_in_every_period(means, expected_means)
    assert_close_in_every_period(covariances, expected_covariances)


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


@requires_module("cellstatefilter")
@pytest.mark.parametrize("seed, arguments", model_cases(series=3))
def test_cellstatefilter_loglikelihood_with_changing_series(seed, arguments):
    model = random_model(seed, **arguments)
    Y, A, B, C, D = cell_form(model, np.random.default_rng(seed))
    ours, means, covariances = statespace.cellstatefilter(Y, A, B, C, D, model.x0, model.P0, 0.0, return_states=True)
    assert_relatively_close(ours[:, 0], reference_loglikelihood(model))
    expected_means, expected_covariances = reference_filtered_states(model)
    assert_close_in_every_period(means, expected_means)
    assert_close_in_every_period(covariances, expected_covariances)


@requires_module("statesmoother")
@pytest.mark.parametrize("seed, arguments", model_cases() + model_cases(
    ("constant", "time-varying", "time-varying-missing"), "-intercepts", intercepts=True))
def test_statesmoother_smoothed_states_and_covariances(seed, arguments):
    model = random_model(seed, **arguments)
    ours = statespace.statesmoother(*module_arguments("statesmoother", model))
    assert_relatively_close(ours, reference_smoothed_states(model))
    means, covariances = statespace.statesmoother(*module_arguments("statesmoother", model), return_covariances=True)
    np.testing.assert_array_equal(means, ours)
    assert_close_in_every_period(covariances, reference_smoothed_covariances(model))


def variates_for(model, draws, seed):
    """Standard normals for `draws` draws of the model: m + T*(k+h) rows."""
    T, m = model.periods, model.A.shape[0]
    rows = m + T * (model.page("B", 0).shape[1] + model.page("D", 0).shape[1])
    return np.random.default_rng(seed).standard_normal((rows, draws))


def simulation_cases(names=tuple(CASES), suffix="", **extra):
    """model_cases with noise that no two series share, each series with a
    shock of its own: the draws simulate y+ with all of D, the smoothers read
    only the diagonal of D D'."""
    cases = []
    for case in model_cases(names, suffix, uncorrelated_noise=True, **extra):
        seed, arguments = case.values
        shocks = max(arguments.get("observation_shocks", 2), arguments.get("series", 2))
        cases.append(pytest.param(seed, {**arguments, "observation_shocks": shocks}, id=case.id))
    return cases


@requires_module("simulationsmoother")
@pytest.mark.parametrize("seed, arguments", simulation_cases() + simulation_cases(
    ("constant", "time-varying-missing", "passed-over"), "-intercepts", intercepts=True))
def test_simulationsmoother_draws_are_the_simulated_path_plus_the_smoothed_deviations(seed, arguments):
    model = random_model(seed, **arguments)
    variates = variates_for(model, 3, seed)
    draws = statespace.simulationsmoother(*module_arguments("simulationsmoother", model), variates=variates)
    paths, smoothed = reference_draws(model, variates)
    # A draw is a difference of its terms where they nearly cancel: each
    # period within RELATIVE of the largest element of its terms.
    for ours, path, deviation in zip(draws, paths, smoothed):
        scale = np.max(np.abs(np.concatenate([path, deviation], axis=1)), axis=1)
        assert np.all(np.abs(ours - (path + deviation)) <= RELATIVE * scale[:, np.newaxis])


@requires_module("simulationsmoother")
@requires_module("statesmoother")
def test_many_draws_have_the_smoothed_means_and_covariances():
    model = random_model(300, periods=15, states=3, series=2, paged="AC", missing=0.2, intercepts=True,
                         uncorrelated_noise=True)
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
