#!/usr/bin/python3
"""The flow of the Nile at Aswan, 1871-1970, as a local level model.

    flow_t  = level_t + e_t,            e_t ~ N(0, sigma2_eps)
    level_t = level_{t-1} + eta_t,      eta_t ~ N(0, sigma2_eta)

The two variances are fitted by maximum likelihood on statefilter's
log-likelihood; statesmoother then gives the level behind the noisy flows.
The report goes to stdout and the plot to a PNG file.

Run with the package on the path, e.g. from the repository root:
    PYTHONPATH=build/python /usr/bin/python3 examples/nile_example.py --output nile.png
"""

import argparse
import csv
import pathlib
import sys

import numpy as np

try:
    import statespace
except ImportError:
    sys.exit("statespace is not importable: build with scripts/build.sh and set PYTHONPATH=build/python")
from local_level_fit import fit_local_level, local_level_loglikelihood  # noqa: E402,F401  (the tests call both from here)

DATA_FILE = pathlib.Path(__file__).with_name("nile.csv")

# A prior variance this large makes the first period's filtered level the first
# flow to within a few parts per million, which is what a diffuse start gives.
DIFFUSE_VARIANCE = 1e10
# No innovation variance here comes near zero, so tol skips nothing.
TOLERANCE = 0.0
# The maximum-likelihood values for this model and data in Durbin & Koopman.
PUBLISHED = {"sigma2_eps": 15099.0, "sigma2_eta": 1469.1}


def load_nile(path=DATA_FILE):
    """Years and flows, from a CSV file with '#' comment lines and a year,flow header."""
    with open(path, newline="") as source:
        rows = list(csv.DictReader(line for line in source if not line.startswith("#")))
    years = np.array([int(row["year"]) for row in rows])
    flows = np.array([float(row["flow"]) for row in rows])
    return years, flows


def smoothed_level(flows, sigma2_eps, sigma2_eta):
    """The level given all the flows, one value per year."""
    level = statespace.statesmoother(
        flows, 1.0, np.sqrt(sigma2_eta), 1.0, np.sqrt(sigma2_eps), DIFFUSE_VARIANCE, TOLERANCE, 0.0
    )
    return level[:, 0]


def print_report(years, flows, sigma2_eps, sigma2_eta, loglikelihood, level):
    print(f"Nile flow at Aswan, {years[0]}-{years[-1]} ({len(flows)} years), local level model")
    print(f"  sigma2_eps (observation noise) = {sigma2_eps:10.1f}   published {PUBLISHED['sigma2_eps']:.1f}")
    print(f"  sigma2_eta (level noise)       = {sigma2_eta:10.1f}   published {PUBLISHED['sigma2_eta']:.1f}")
    print(f"  log-likelihood (years 2-{len(flows)}) = {loglikelihood:.4f}")
    print("  year    flow  smoothed level")
    for year in (1871, 1890, 1898, 1899, 1900, 1913, 1950, 1970):
        t = int(np.flatnonzero(years == year)[0])
        print(f"  {year}  {flows[t]:6.0f}  {level[t]:14.1f}")


def plot(years, flows, level, output):
    import matplotlib

    matplotlib.use("Agg")  # files only; no display is needed
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(9, 4.5))
    axes.plot(years, flows, "o", markersize=3, color="0.45", label="annual flow")
    axes.plot(years, level, color="tab:blue", linewidth=2, label="smoothed level")
    axes.set_xlabel("year")
    axes.set_ylabel(r"flow ($10^8\,$m$^3$)")
    axes.set_title("Nile at Aswan: flow and smoothed level of a local level model")
    axes.legend()
    figure.tight_layout()
    figure.savefig(output, dpi=120)
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", default="nile_level.png", help="where to write the plot (PNG)")
    arguments = parser.parse_args(argv)

    years, flows = load_nile()
    sigma2_eps, sigma2_eta, loglikelihood = fit_local_level(flows)
    level = smoothed_level(flows, sigma2_eps, sigma2_eta)
    print_report(years, flows, sigma2_eps, sigma2_eta, loglikelihood, level)
    output = pathlib.Path(arguments.output).resolve()
    plot(years, flows, level, output)
    print(f"Plot written to {output}")


if __name__ == "__main__":
    main()
