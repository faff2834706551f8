#!/usr/bin/python3
"""The flow of the Nile at Aswan, 1871-1970, as a local level model.

    flow_t  = level_t + e_t,            e_t ~ N(0, sigma2_eps)
    level_t = level_{t-1} + eta_t,      eta_t ~ N(0, sigma2_eta)

The two variances are fitted by maximum likelihood on statefilter's
log-likelihood; statefilter and statesmoother then give the level behind the
noisy flows with its variance, filtered and smoothed. The report goes to
stdout and the plot, both levels with their 90% bands, to a PNG file.

Run with the package on the path, e.g. from the repository root:
    PYTHONPATH=build/python /usr/bin/python3 examples/nile_example.py --output nile.png
"""

import argparse
import csv
import pathlib
import statistics
import sys

import numpy as np

try:
    import statespace
except ImportError:
    sys.exit("statespace is not importable: build with scripts/build.sh and set PYTHONPATH=build/python")
from local_level_fit import fit_local_level, local_level_loglikelihood  # noqa: E402,F401  (the tests call both from here)

DATA_FILE = pathlib.Path(__file__).with_name("nile.csv")

# The level starts diffuse: its variance before the first flow is infinite.
DIFFUSE_VARIANCE = np.inf
# No innovation variance here comes near zero, so tol skips nothing.
TOLERANCE = 0.0
# Half the width of a 90% band, in standard deviations: the 95% point of N(0, 1).
BAND_QUANTILE = statistics.NormalDist().inv_cdf(0.95)
# The maximum-likelihood values for this model and data in Durbin & Koopman.
PUBLISHED = {"sigma2_eps": 15099.0, "sigma2_eta": 1469.1}


def load_nile(path=DATA_FILE):
    """Years and flows, from a CSV file with '#' comment lines and a year,flow header."""
    with open(path, newline="") as source:
        rows = list(csv.DictReader(line for line in source if not line.startswith("#")))
    years = np.array([int(row["year"]) for row in rows])
    flows = np.array([float(row["flow"]) for row in rows])
    return years, flows


def levels(flows, sigma2_eps, sigma2_eta):
    """The level and its variance each year: filtered (given the flows up to
    that year) and smoothed (given all of them)."""
    model = (flows, 1.0, np.sqrt(sigma2_eta), 1.0, np.sqrt(sigma2_eps))
    _, filtered, filtered_cov = statespace.statefilter(*model, 0.0, DIFFUSE_VARIANCE, TOLERANCE, return_states=True)
    smoothed, smoothed_cov = statespace.statesmoother(*model, DIFFUSE_VARIANCE, TOLERANCE, 0.0,
                                                      return_covariances=True)
    return {"filtered": filtered[:, 0], "filtered_variance": filtered_cov[:, 0, 0],
            "smoothed": smoothed[:, 0], "smoothed_variance": smoothed_cov[:, 0, 0]}


def smoothed_level(flows, sigma2_eps, sigma2_eta):
    """The level given all the flows, one value per year."""
    return levels(flows, sigma2_eps, sigma2_eta)["smoothed"]


def print_report(years, flows, sigma2_eps, sigma2_eta, loglikelihood, level):
    print(f"Nile flow at Aswan, {years[0]}-{years[-1]} ({len(flows)} years), local level model")
    print(f"  sigma2_eps (observation noise) = {sigma2_eps:10.1f}   published {PUBLISHED['sigma2_eps']:.1f}")
    print(f"  sigma2_eta (level noise)       = {sigma2_eta:10.1f}   published {PUBLISHED['sigma2_eta']:.1f}")
    print(f"  log-likelihood (diffuse level)   = {loglikelihood:.4f}")
    print("  year    flow  smoothed level  standard deviation")
    for year in (1871, 1890, 1898, 1899, 1900, 1913, 1950, 1970):
        t = int(np.flatnonzero(years == year)[0])
        deviation = np.sqrt(level["smoothed_variance"][t])
        print(f"  {year}  {flows[t]:6.0f}  {level['smoothed'][t]:14.1f}  {deviation:18.1f}")


def plot_level(axes, years, flows, level, band, colour, label, title):
    """The flows as dots, a level as a line and its band (low, high), on one panel."""
    axes.plot(years, flows, "o", markersize=3, color="0.45", label="annual flow")
    axes.plot(years, level, color=colour, linewidth=2, label=label)
    axes.fill_between(years, band[0], band[1], color=colour, alpha=0.2, label="90% band")
    axes.set_ylabel(r"flow ($10^8\,$m$^3$)")
    axes.set_title(title)
    axes.legend(loc="upper right")


def plot(years, flows, level, output):
    import matplotlib

    matplotlib.use("Agg")  # files only; no display is needed
    import matplotlib.pyplot as plt

    figure, panels = plt.subplots(2, 1, figsize=(9, 8), sharex=True, sharey=True)
    for axes, kind, colour in zip(panels, ("filtered", "smoothed"), ("tab:orange", "tab:blue")):
        half_width = BAND_QUANTILE * np.sqrt(level[kind + "_variance"])
        plot_level(axes, years, flows, level[kind], (level[kind] - half_width, level[kind] + half_width), colour,
                   f"{kind} level", f"{kind.capitalize()} level of a local level model, with its 90% band")
    panels[-1].set_xlabel("year")
    figure.suptitle("Nile at Aswan")
    figure.tight_layout()
    figure.savefig(output, dpi=120)
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", default="nile_level.png", help="where to write the plot (PNG)")
    arguments = parser.parse_args(argv)

    years, flows = load_nile()
    sigma2_eps, sigma2_eta, loglikelihood = fit_local_level(flows)
    level = levels(flows, sigma2_eps, sigma2_eta)
    print_report(years, flows, sigma2_eps, sigma2_eta, loglikelihood, level)
    output = pathlib.Path(arguments.output).resolve()
    plot(years, flows, level, output)
    print(f"Plot written to {output}")


if __name__ == "__main__":
    main()
