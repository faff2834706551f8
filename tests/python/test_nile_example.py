"""The Nile examples: the data, the estimates and the output of the fit, and
the Gibbs sampler's steps and output."""

import pathlib
import sys

import numpy as np
import pytest

from host_support import requires_module

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples"))
import nile_example  # noqa: E402
import nile_gibbs  # noqa: E402


def test_data_is_the_annual_series_1871_to_1970():
    years, flows = nile_example.load_nile()
    np.testing.assert_array_equal(years, np.arange(1871, 1971))
    assert flows.mean() == pytest.approx(919.35)
    assert (flows.min(), flows.max()) == (456.0, 1370.0)


@requires_module("statefilter")
def test_fit_lands_on_the_published_estimates():
    _, flows = nile_example.load_nile()
    sigma2_eps, sigma2_eta, loglikelihood = nile_example.fit_local_level(flows)
    assert sigma2_eps == pytest.approx(15099.0, rel=1e-4)
    assert sigma2_eta == pytest.approx(1469.1, rel=1e-4)
    # A maximum: moving either variance a little either way gives less.
    for eps_factor, eta_factor in ((0.98, 1), (1.02, 1), (1, 0.98), (1, 1.02)):
        nearby = nile_example.local_level_loglikelihood(flows, sigma2_eps * eps_factor, sigma2_eta * eta_factor)
        assert nearby < loglikelihood


@requires_module("statefilter")
def test_loglikelihood_at_the_published_estimates():
    # KFAS prints -632.5456: it leaves out -log(2 pi)/2 for the diffuse first flow.
    _, flows = nile_example.load_nile()
    loglikelihood = nile_example.local_level_loglikelihood(flows, 15099.0, 1469.1)
    assert loglikelihood + 0.5 * np.log(2 * np.pi) == pytest.approx(-632.5456, abs=5e-5)


@requires_module("statefilter")
@requires_module("statesmoother")
def test_report_and_plot(tmp_path, capsys):
    output = tmp_path / "nile.png"
    nile_example.main(["--output", str(output)])
    report = capsys.readouterr().out
    assert "sigma2_eps" in report and "sigma2_eta" in report and "log-likelihood" in report
    assert f"Plot written to {output}" in report
    assert output.read_bytes().startswith(b"\x89PNG")


@requires_module("statefilter")
@requires_module("statesmoother")
def test_smoothed_level_follows_the_drop_around_1899_and_knows_more_than_the_filtered():
    years, flows = nile_example.load_nile()
    level = nile_example.levels(flows, 15099.0, 1469.1)
    assert level["smoothed"].shape == (100,)
    np.testing.assert_array_equal(level["smoothed"], nile_example.smoothed_level(flows, 15099.0, 1469.1))
    before, after = level["smoothed"][years < 1895].mean(), level["smoothed"][years > 1905].mean()
    assert before > 1050 and after < 900
    # All the flows tell more than those up to a year, and the last year's
    # level is told by the same flows either way.
    assert np.all(level["smoothed_variance"][:-1] < level["filtered_variance"][:-1])
    assert level["smoothed_variance"][-1] == pytest.approx(level["filtered_variance"][-1], rel=1e-12)
    # Steady state of the filter: P = P_pred - P_pred^2 / (P_pred + eps), P_pred = P + eta.
    P = level["filtered_variance"][50]
    assert P == pytest.approx((P + 1469.1) * 15099.0 / (P + 1469.1 + 15099.0), rel=1e-9)


@requires_module("simulationsmoother")
def test_gibbs_report_and_plot(tmp_path, capsys):
    output = tmp_path / "gibbs.png"
    nile_gibbs.main(["--iterations", "30", "--seed", "3", "--output", str(output)])
    report = capsys.readouterr().out
    for text in ("sigma2_eps posterior mean", "sigma2_eta posterior mean", "us per iteration"):
        assert report.count(text) == 2, report  # both samplers
    assert "faster than statsmodels' simulation smoother" in report
    assert f"Plot written to {output}" in report
    assert output.read_bytes().startswith(b"\x89PNG")


@requires_module("simulationsmoother")
@requires_module("statesmoother")
def test_gibbs_steps_draw_from_their_full_conditionals():
    """Each step against the moments of its conditional distribution, within
    4.5 standard errors of the mean of its draws."""
    _, flows = nile_example.load_nile()
    sigma2_eps, sigma2_eta = nile_example.PUBLISHED["sigma2_eps"], nile_example.PUBLISHED["sigma2_eta"]
    rng = np.random.default_rng(4)
    count = 400
    level = nile_example.levels(flows, sigma2_eps, sigma2_eta)
    # The smoother in the example starts from the same diffuse level.
    for draw_level in (nile_gibbs.SimulationsmootherLevel(flows), nile_gibbs.StatsmodelsLevel(flows)):
        draws = np.array([draw_level(rng, flows, sigma2_eps, sigma2_eta) for _ in range(count)])
        error = np.sqrt(level["smoothed_variance"] / count)
        assert np.all(np.abs(draws.mean(axis=0) - level["smoothed"]) < 4.5 * error), type(draw_level).__name__
    # Given one path, each variance is inverse gamma with the shape and scale
    # the example states: mean b / (a - 1), variance mean^2 / (a - 2).
    path = level["smoothed"]
    variances = np.array([nile_gibbs.draw_variances(rng, flows, path) for _ in range(4000)])
    squares = (np.sum((flows - path) ** 2), np.sum(np.diff(path) ** 2))
    for column, (name, observed) in enumerate((("sigma2_eps", len(flows)), ("sigma2_eta", len(flows) - 1))):
        shape, scale = nile_gibbs.PRIORS[name]
        shape, scale = shape + observed / 2, scale + squares[column] / 2
        mean = scale / (shape - 1)
        assert abs(variances[:, column].mean() - mean) < 4.5 * mean / np.sqrt((shape - 2) * 4000), name
