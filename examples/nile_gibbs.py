#!/usr/bin/python3
"""A Gibbs sampler for the two variances of the Nile's local level model.

    flow_t  = level_t + e_t,            e_t ~ N(0, sigma2_eps)
    level_t = level_{t-1} + eta_t,      eta_t ~ N(0, sigma2_eta)

Priors, inverse gamma with shape a and scale b (density ~ x^(-a-1) exp(-b/x)):
sigma2_eps ~ IG(2.5, 15000) and sigma2_eta ~ IG(2.5, 1500), prior means 10000
and 1000, both loose beside the 100 flows. Each iteration draws the path of
the level given the variances (simulationsmoother, one draw), then each
variance from its full conditional given the path:

    sigma2_eps | level ~ IG(2.5 + n/2,     15000 + sum of (flow_t - level_t)^2 / 2)
    sigma2_eta | level ~ IG(2.5 + (T-1)/2, 1500 + sum of (level_t - level_{t-1})^2 / 2)

The level starts diffuse, so its first value has no increment. The same
sampler then runs on statsmodels' simulation smoother (UnobservedComponents,
'llevel'), on variates from the same generator. The two chains advance in
turn, a block of iterations each, and the time per iteration of each is the
median over its blocks. The report gives the posterior means and 90%
intervals of both variances after the burn-in, from both samplers, and the
time per iteration of each; the plot, the traces and the level's posterior
band.

Run with the package on the path, e.g. from the repository root:
    PYTHONPATH=build/python /usr/bin/python3 examples/nile_gibbs.py --iterations 2000 --seed 1
"""

import argparse
import math
import pathlib
import statistics
import sys
import time
import warnings

import numpy as np

try:
    import statespace
except ImportError:
    sys.exit("statespace is not importable: build with scripts/build.sh and set PYTHONPATH=build/python")
from nile_example import DIFFUSE_VARIANCE, PUBLISHED, TOLERANCE, load_nile, plot_level  # noqa: E402

# (shape, scale) of each variance's inverse-gamma prior.
PRIORS = {"sigma2_eps": (2.5, 15000.0), "sigma2_eta": (2.5, 1500.0)}
# The level one step before the first year starts diffuse, as in the Nile
# example: its variance is infinite, and its mean, unused, zero.
INITIAL_LEVEL, INITIAL_VARIANCE = 0.0, DIFFUSE_VARIANCE
INTERVAL = (0.05, 0.95)


def inverse_gamma(rng, shape, scale):
    """One draw of IG(shape, scale): scale over a gamma draw of unit scale."""
    return scale / rng.gamma(shape)


def draw_variances(rng, flows, level):
    """sigma2_eps and sigma2_eta from their full conditionals given the level."""
    shape, scale = PRIORS["sigma2_eps"]
    residuals = flows - level
    sigma2_eps = inverse_gamma(rng, shape + 0.5 * len(flows), scale + 0.5 * float(residuals.dot(residuals)))
    shape, scale = PRIORS["sigma2_eta"]
    increments = level[1:] - level[:-1]
    sigma2_eta = inverse_gamma(rng, shape + 0.5 * len(increments), scale + 0.5 * float(increments.dot(increments)))
    return sigma2_eps, sigma2_eta


class SimulationsmootherLevel:
    """One draw of the level given the flows, from the generator's variates.
    The flows go as one column, which the module reads in place."""

    def __init__(self, flows):
        self.flows = np.asfortranarray(flows[:, np.newaxis])

    def __call__(self, rng, flows, sigma2_eps, sigma2_eta):
        drawn = statespace.simulationsmoother(self.flows, 1.0, math.sqrt(sigma2_eta), 1.0, math.sqrt(sigma2_eps),
                                              INITIAL_VARIANCE, TOLERANCE, INITIAL_LEVEL, seed=rng)
        return drawn[0, :, 0]


class StatsmodelsLevel:
    """The same draw on statsmodels' simulation smoother. Its first state is
    the level of the first year, one step after ours, and diffuse as well:
    its exact diffuse initialisation, set once, stays through the updates of
    the variances."""

    def __init__(self, flows):
        from statsmodels.tsa.statespace.structural import UnobservedComponents

        self.model = UnobservedComponents(flows, "llevel")
        self.model.ssm.initialize_diffuse()
        self.simulator = self.model.simulation_smoother()
        self.periods = len(flows)

    def __call__(self, rng, flows, sigma2_eps, sigma2_eta):
        self.model.update(np.array([sigma2_eps, sigma2_eta]))
        self.simulator.simulate(disturbance_variates=rng.standard_normal(2 * self.periods),
                                initial_state_variates=rng.standard_normal(1))
        return self.simulator.simulated_state[0]


class Chain:
    """One sampler's chain of (sigma2_eps, sigma2_eta) and of the level, on
    its own generator, advanced a block of iterations at a time."""

    def __init__(self, draw_level, flows, iterations, seed):
        self.draw_level, self.flows = draw_level, flows
        self.rng = np.random.default_rng(seed)
        self.sigma2_eps = self.sigma2_eta = 0.5 * float(np.var(flows))
        # Written through once here, so that the pages of the chain are not
        # first touched in the timed iterations.
        self.variances = np.full((iterations, 2), np.nan)
        self.levels = np.full((iterations, len(flows)), np.nan)
        self.done = 0
        self.block_seconds = []  # per iteration, of each block
        # Draws off the clock, which leave the chain's generator alone.
        self.spare_rng = np.random.default_rng(0)

    def advance(self, count):
        # The other sampler's block has pushed this one's code and data out
        # of the caches: the first module call after it took some 80 us
        # more than the next, a cost that a sampler run alone pays once, not
        # every block. One iteration off the clock and off the chain, on a
        # generator of its own, brings them back.
        draw_variances(self.spare_rng, self.flows,
                       self.draw_level(self.spare_rng, self.flows, self.sigma2_eps, self.sigma2_eta))
        start = time.perf_counter()
        for iteration in range(self.done, self.done + count):
            self.levels[iteration] = self.draw_level(self.rng, self.flows, self.sigma2_eps, self.sigma2_eta)
            self.sigma2_eps, self.sigma2_eta = draw_variances(self.rng, self.flows, self.levels[iteration])
            self.variances[iteration] = self.sigma2_eps, self.sigma2_eta
        self.block_seconds.append((time.perf_counter() - start) / count)
        self.done += count


def run_samplers(draw_levels, flows, iterations, seed, block=100):
    """Each sampler's chain, every one on a generator seeded with `seed`, and
    its seconds per iteration. The chains advance in turn, a block of
    iterations each, and the time per iteration is the median over a chain's
    blocks: on a shared machine a slow spell then falls on both samplers
    alike, and a block it spoils does not move the median. Each block
    starts with an iteration outside the chain and the clock, so that
    neither loading a module or building a model on the first, nor the
    caches the other sampler left on the later ones, is counted."""
    chains = [Chain(draw_level, flows, iterations, seed) for draw_level in draw_levels]
    while chains[0].done < iterations:
        count = min(block, iterations - chains[0].done)
        for chain in chains:
            chain.advance(count)
    return [(chain.variances, chain.levels, statistics.median(chain.block_seconds)) for chain in chains]


def summary(chain):
    """Posterior mean and 90% interval of each column."""
    low, high = np.quantile(chain, INTERVAL, axis=0)
    return chain.mean(axis=0), low, high


def print_report(iterations, burn_in, ours, theirs):
    print(f"Nile flow at Aswan, local level model: Gibbs sampler, {iterations} iterations, "
          f"the first {burn_in} left out")
    for label, (variances, _, seconds) in (("simulationsmoother", ours), ("statsmodels", theirs)):
        mean, low, high = summary(variances[burn_in:])
        print(f"  {label}:")
        for column, name in enumerate(("sigma2_eps", "sigma2_eta")):
            print(f"    {name} posterior mean {mean[column]:10.1f}   90% interval {low[column]:10.1f} .. "
                  f"{high[column]:10.1f}   (maximum likelihood {PUBLISHED[name]:.1f})")
        print(f"    {1e6 * seconds:.1f} us per iteration")
    print(f"  per iteration, simulationsmoother is {theirs[2] / ours[2]:.1f}x faster than statsmodels' "
          "simulation smoother")


def plot(years, flows, variances, levels, burn_in, output):
    import matplotlib

    matplotlib.use("Agg")  # files only; no display is needed
    import matplotlib.pyplot as plt

    figure = plt.figure(figsize=(10, 9))
    grid = figure.add_gridspec(3, 2)
    for column, (name, symbol) in enumerate((("sigma2_eps", r"$\sigma^2_\varepsilon$"),
                                             ("sigma2_eta", r"$\sigma^2_\eta$"))):
        axes = figure.add_subplot(grid[0, column])
        axes.plot(variances[:, column], linewidth=0.6, color="tab:blue")
        axes.axvline(burn_in, color="0.5", linestyle="--", linewidth=1, label="end of burn-in")
        axes.set_title(f"Trace of {symbol}")
        axes.set_xlabel("iteration")
        axes.legend(loc="upper right")
    axes = figure.add_subplot(grid[1:, :])
    low, median, high = np.quantile(levels[burn_in:], (INTERVAL[0], 0.5, INTERVAL[1]), axis=0)
    plot_level(axes, years, flows, median, (low, high), "tab:blue", "posterior median of the level",
               "Level of the Nile given all the flows, the variances unknown: its 90% posterior band")
    axes.set_xlabel("year")
    figure.suptitle("Nile at Aswan: Gibbs sampler on simulationsmoother")
    figure.tight_layout()
    figure.savefig(output, dpi=120)
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--iterations", type=int, default=2000, help="iterations of each sampler")
    parser.add_argument("--seed", type=int, default=1, help="seed of the variates and of the variance draws")
    parser.add_argument("--burn-in", type=int, help="iterations left out of the summaries (default: a fifth)")
    parser.add_argument("--output", default="nile_gibbs.png", help="where to write the plot (PNG)")
    arguments = parser.parse_args(argv)
    if arguments.iterations < 2:
        parser.error("--iterations must be at least 2")
    burn_in = arguments.iterations // 5 if arguments.burn_in is None else arguments.burn_in
    if not 0 <= burn_in < arguments.iterations:
        parser.error("--burn-in must leave at least one iteration")

    years, flows = load_nile()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        ours, theirs = run_samplers((SimulationsmootherLevel(flows), StatsmodelsLevel(flows)), flows,
                                    arguments.iterations, arguments.seed)
    print_report(arguments.iterations, burn_in, ours, theirs)
    output = pathlib.Path(arguments.output).resolve()
    plot(years, flows, ours[0], ours[1], burn_in, output)
    print(f"Plot written to {output}")


if __name__ == "__main__":
    main()
