"""Our Python front against statsmodels, side by side, on the benchmark workloads.

Run with /usr/bin/python3 after the build (bash scripts/compare.sh does both).
Every workload is timed in a process of its own, ours and statsmodels' in the
same process: the log-likelihood of every period (statsmodels' univariate
filter, loglikeobs) and the smoothed states (its smoother, smoothed state
only), warm and in the process's first smoother call; and our gradient of
the summed log-likelihood with respect to every input (statefiltergradient)
against our filter, timed in alternating blocks with it. statsmodels gets an
optimised OpenBLAS on one thread. Medians of several repetitions, and their
ratios, are printed; so are the GFLOP/s of our predictState at m = 64 beside
numpy's 64 x 64 matrix product in the same run.

Besides the standard workloads, two models of the size users fit by maximum
likelihood, where the cost of a call counts: the Nile (the local level model
of the example on its 100 flows, called with numbers as the example calls
it) and a medium model of 40 states, 7 series and 200 periods.

Then the draws of the states given the data: our simulation smoother's 100
draws in one call, their variates drawn from a generator, against one draw of
statsmodels' simulation smoother (which draws its own), per draw.
"""

import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]

# name: (states m, series n, periods T, paged transition, correlated noise);
# the Nile's model and data are the example's. The series' noises are
# independent but for W2c, whose every series loads on every innovation.
WORKLOADS = {
    "Nile": (1, 1, 100, False, False),
    "Medium": (40, 7, 200, False, False),
    "W1": (1, 1, 100_000, False, False),
    "W2": (10, 5, 10_000, False, False),
    "W2p": (10, 5, 10_000, True, False),
    "W2c": (10, 5, 10_000, False, True),
    "W3": (50, 20, 1_000, False, False),
}


def peer_environment(build_dir):
    """One BLAS thread, and none of the settings that slow a current OpenBLAS."""
    environment = dict(os.environ)
    for variable in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE"):
        environment.pop(variable, None)
    for variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
        environment[variable] = "1"
    paths = [str(build_dir / "python"), str(ROOT / "tests" / "python")]
    environment["PYTHONPATH"] = os.pathsep.join(paths + [environment.get("PYTHONPATH", "")])
    return environment


def ensure_packages():
    """An optimised BLAS for the peer, and threadpoolctl to say which kernel it runs."""
    missing = []
    for package in ("libopenblas0-pthread", "python3-threadpoolctl"):
        status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True, text=True)
        if "install ok installed" not in status.stdout:
            missing.append(package)
    if missing:
        print(f"Installing {' '.join(missing)} ...", flush=True)
        subprocess.run(["apt-get", "install", "-y", "-qq"] + missing, check=True,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def median_seconds(functions, repetitions):
    """The median time of one call of each function. A repetition times a
    block of calls of each in turn, as many calls as fill about 2 ms, so that
    both sides of a ratio see the same load on the machine and a block seldom
    shares its time with another process; there are `repetitions` blocks, or
    more where 0.2 s of calls of a function allow."""
    calls, blocks = [], repetitions
    for function in functions:
        start = time.perf_counter()
        function()
        single = max(time.perf_counter() - start, 1e-7)
        calls.append(max(1, round(0.002 / single)))
        blocks = max(blocks, min(1000, round(0.2 / (calls[-1] * single))))
    times = [[] for _ in functions]
    for _ in range(blocks):
        for function, count, measured in zip(functions, calls, times):
            start = time.perf_counter()
            for _ in range(count):
                function()
            measured.append((time.perf_counter() - start) / count)
    return [statistics.median(measured) for measured in times]


def nile_model():
    """The example's local level model at its maximum-likelihood variances, as a
    random_models.Model for statsmodels, and our arguments as the example
    passes them: the flows and plain numbers."""
    import numpy as np
    from random_models import Model

    sys.path.insert(0, str(ROOT / "examples"))
    import nile_example

    _, flows = nile_example.load_nile()
    eps, eta = np.sqrt(nile_example.PUBLISHED["sigma2_eps"]), np.sqrt(nile_example.PUBLISHED["sigma2_eta"])
    prior, tol = nile_example.DIFFUSE_VARIANCE, nile_example.TOLERANCE
    model = Model(Y=flows[:, np.newaxis], A=np.ones((1, 1)), B=np.full((1, 1), eta), C=np.ones((1, 1)),
                  D=np.full((1, 1), eps), x0=np.zeros(1), P0=np.full((1, 1), prior))
    filter_inputs = (flows, 1.0, eta, 1.0, eps, 0.0, prior, tol)
    smoother_inputs = (flows, 1.0, eta, 1.0, eps, prior, tol, 0.0)
    return model, filter_inputs, smoother_inputs


# Our simulation smoother's draws per call in the comparison.
DRAWS = 100


def run_workload(name, repetitions):
    """The worker: times one workload, prints one JSON line."""
    import warnings

    import numpy as np
    import statespace
    from random_models import random_model
    from statsmodels.tsa.statespace.kalman_filter import FILTER_UNIVARIATE
    from statsmodels.tsa.statespace.kalman_smoother import SMOOTHER_STATE
    from statsmodels.tsa.statespace.simulation_smoother import SimulationSmoother
    from statsmodels_reference import diffuse_states, to_statsmodels

    warnings.simplefilter("ignore")
    m, n, T, paged, correlated = WORKLOADS[name]
    if name == "Nile":
        model, filter_inputs, smoother_inputs = nile_model()
    else:
        model = random_model(seed=7, periods=T, series=n, states=m, state_shocks=m, observation_shocks=n,
                             paged="A" if paged else "", missing=0.05, independent_noise=not correlated)
        # The paged transition in the modules' layout: one Fortran-ordered m x m x T array.
        A = np.asfortranarray(model.A)
        Y = np.asfortranarray(model.Y)
        filter_inputs = (Y, A, model.B, model.C, model.D, model.x0, model.P0, 0.0)
        smoother_inputs = (Y, A, model.B, model.C, model.D, model.P0, 0.0, model.x0)

    peer = to_statsmodels(model)
    # statsmodels' univariate filter, the faster of its two, mishandles
    # correlated noise where values are missing: W2c takes its conventional
    # filter, which agrees with ours.
    if not correlated:
        peer.filter_method = FILTER_UNIVARIATE
    # With a diffuse start statsmodels' first period is a leading one (see
    # statsmodels_reference), which the comparison leaves out.
    lead = 1 if len(diffuse_states(model)) else 0
    peer.smoother_output = SMOOTHER_STATE

    ours_loglik = statespace.statefilter(*filter_inputs)[:, 0]
    peer_loglik = peer.loglikeobs()[lead:]
    # The first smoother call of this fresh process, each side: pages not yet
    # touched, the module not yet loaded.
    start = time.perf_counter()
    ours_smoothed = statespace.statesmoother(*smoother_inputs)
    ours_cold = time.perf_counter() - start
    start = time.perf_counter()
    peer_smoothed = peer.smooth().smoothed_state[:, lead:].T
    peer_cold = time.perf_counter() - start
    ours_filter, peer_filter = median_seconds([lambda: statespace.statefilter(*filter_inputs), peer.loglikeobs],
                                              repetitions)
    ours_smoother, peer_smoother = median_seconds([lambda: statespace.statesmoother(*smoother_inputs), peer.smooth],
                                                  repetitions)
    filter_beside, ours_gradient = median_seconds([lambda: statespace.statefilter(*filter_inputs),
                                                   lambda: statespace.statefiltergradient(*filter_inputs)],
                                                  repetitions)
    simulator = to_statsmodels(model, SimulationSmoother).simulation_smoother()
    generator = np.random.default_rng(3)
    ours_draws, peer_draw = median_seconds(
        [lambda: statespace.simulationsmoother(*smoother_inputs, draws=DRAWS, seed=generator), simulator.simulate],
        repetitions)
    result = {
        "workload": name,
        "ours_filter": ours_filter,
        "peer_filter": peer_filter,
        "ours_smoother": ours_smoother,
        "peer_smoother": peer_smoother,
        "ours_draw": ours_draws / DRAWS,
        "peer_draw": peer_draw,
        "ours_smoother_cold": ours_cold,
        "filter_beside_gradient": filter_beside,
        "ours_gradient": ours_gradient,
        "peer_smoother_cold": peer_cold,
        "filter_difference": float(np.max(np.abs(ours_loglik - peer_loglik) / (1 + np.abs(peer_loglik)))),
        "smoother_difference": float(np.max(np.abs(ours_smoothed - peer_smoothed) / (1 + np.abs(peer_smoothed)))),
    }
    print(json.dumps(result))


def run_matrix_product():
    """The worker: numpy's 64 x 64 matrix product in GFLOP/s, and the BLAS behind it."""
    import numpy as np

    rng = np.random.default_rng(1)
    a, b = rng.normal(size=(64, 64)), rng.normal(size=(64, 64))
    out = np.empty((64, 64))
    products = 2000
    rates = []
    for _ in range(7):
        start = time.perf_counter()
        for _ in range(products):
            np.matmul(a, b, out=out)
        rates.append(2 * 64**3 * products / (time.perf_counter() - start) / 1e9)
    blas = "unknown"
    try:
        from threadpoolctl import threadpool_info

        libraries = [f"{entry.get('internal_api')} {entry.get('version')} {entry.get('architecture')}"
                     for entry in threadpool_info() if entry.get("user_api") == "blas"]
        blas = ", ".join(libraries) or blas
    except ImportError:
        pass
    print(json.dumps({"gflops": statistics.median(rates), "blas": blas}))


def predict_state_gflops(build_dir):
    """Our predictState at m = 64, from the kernel benchmark."""
    program = build_dir / "bench" / "kernel_benchmarks"
    output = subprocess.run(
        [str(program), "--benchmark_filter=predictStateBenchmark<predictState>/64$", "--benchmark_format=json",
         "--benchmark_repetitions=5", "--benchmark_min_time=0.2"],
        capture_output=True, text=True, check=True).stdout
    rates = [entry["GFLOP/s"] for entry in json.loads(output)["benchmarks"] if entry.get("run_type") == "iteration"]
    return statistics.median(rates)


def duration(seconds):
    """Milliseconds, or microseconds below one millisecond."""
    return f"{1e3 * seconds:.2f}ms" if seconds >= 1e-3 else f"{1e6 * seconds:.1f}us"


def worker(arguments, build_dir):
    command = [sys.executable, __file__, "--build-dir", str(build_dir)] + arguments
    completed = subprocess.run(command, capture_output=True, text=True, env=peer_environment(build_dir))
    if completed.returncode != 0:
        sys.exit(f"worker {' '.join(arguments)} failed:\n{completed.stderr}")
    return json.loads(completed.stdout.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--repetitions", type=int, default=7)
    parser.add_argument("--workload", help=argparse.SUPPRESS)
    parser.add_argument("--matrix-product", action="store_true", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    build_dir = pathlib.Path(arguments.build_dir).resolve()
    if arguments.workload:
        return run_workload(arguments.workload, arguments.repetitions)
    if arguments.matrix_product:
        return run_matrix_product()

    ensure_packages()
    print("Nile: the example's model on its 100 flows; Medium: m = 40, n = 7, T = 200; W1: m = n = 1, T = 100000; "
          "W2: m = 10, n = 5, T = 10000 (W2p: A paged; W2c: correlated noise); W3: m = 50, n = 20, T = 1000")
    print(f"{'workload':8} {'filter ours':>12} {'statsmodels':>12} {'ratio':>7}   "
          f"{'smoother ours':>13} {'statsmodels':>12} {'ratio':>7}   "
          f"{'first call ours':>15} {'statsmodels':>12} {'ratio':>7}   "
          f"{'gradient ours':>13} {'/ filter':>8}   max rel. difference")
    draws = {}
    for name in WORKLOADS:
        r = worker(["--workload", name, "--repetitions", str(arguments.repetitions)], build_dir)
        draws[name] = (r["ours_draw"], r["peer_draw"])
        print(f"{name:8} {duration(r['ours_filter']):>12} {duration(r['peer_filter']):>12} "
              f"{r['peer_filter'] / r['ours_filter']:6.1f}x   {duration(r['ours_smoother']):>13} "
              f"{duration(r['peer_smoother']):>12} {r['peer_smoother'] / r['ours_smoother']:6.1f}x   "
              f"{duration(r['ours_smoother_cold']):>15} {duration(r['peer_smoother_cold']):>12} "
              f"{r['peer_smoother_cold'] / r['ours_smoother_cold']:6.1f}x   "
              f"{duration(r['ours_gradient']):>13} {r['ours_gradient'] / r['filter_beside_gradient']:7.2f}x   "
              f"{r['filter_difference']:.1e} / {r['smoother_difference']:.1e}", flush=True)
    print(f"Simulation smoother, per draw: ours in calls of {DRAWS} draws (variates from a generator included), "
          "statsmodels' one draw")
    print(f"{'workload':8} {'ours':>12} {'statsmodels':>12} {'ratio':>7}")
    for name, (ours_draw, peer_draw) in draws.items():
        print(f"{name:8} {duration(ours_draw):>12} {duration(peer_draw):>12} {peer_draw / ours_draw:6.1f}x")
    ours = predict_state_gflops(build_dir)
    numpy_product = worker(["--matrix-product"], build_dir)
    print(f"predictState m = 64: {ours:.1f} GFLOP/s; numpy 64 x 64 matmul: {numpy_product['gflops']:.1f} GFLOP/s "
          f"({numpy_product['blas']}); ratio {ours / numpy_product['gflops']:.2f}")


if __name__ == "__main__":
    main()
