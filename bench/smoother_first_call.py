"""The smoother's first call in a fresh process against the calls that follow,
and the host bytes one call holds at its peak.

Run with /usr/bin/python3 after the build, for example
    /usr/bin/python3 bench/smoother_first_call.py --states 50 --series 20 --periods 1000
Every run is a process of its own: its first call loads the module and
touches the pages of its working blocks for the first time, which the host
keeps for the calls that follow.
"""

import argparse
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]


def one_process(arguments):
    """The worker: prints the times of its calls in milliseconds, then the peak bytes."""
    sys.path[:0] = [str(pathlib.Path(arguments.build_dir) / "python"), str(ROOT / "tests" / "python")]
    import numpy as np
    import statespace
    from statespace import _statespace
    from random_models import random_model

    model = random_model(seed=7, periods=arguments.periods, series=arguments.series, states=arguments.states,
                         state_shocks=arguments.states, observation_shocks=arguments.series, paged="", missing=0.05)
    inputs = (np.asfortranarray(model.Y), np.asfortranarray(model.A), model.B, model.C, model.D, model.P0, 0.0,
              model.x0)
    _statespace.reset_host_counters()
    times = []
    for _ in range(arguments.calls):
        start = time.perf_counter()
        statespace.statesmoother(*inputs)
        times.append(time.perf_counter() - start)
    print(" ".join(f"{1e3 * t:.4f}" for t in times), _statespace.host_counters()["peak_bytes"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--states", type=int, default=50)
    parser.add_argument("--series", type=int, default=20)
    parser.add_argument("--periods", type=int, default=1000)
    parser.add_argument("--processes", type=int, default=7)
    parser.add_argument("--calls", type=int, default=3)
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.worker:
        return one_process(arguments)

    m, n, T = arguments.states, arguments.series, arguments.periods
    bound = 8 * (m * m * T + 3 * m * n * T + 4 * (m + n) * T) + 2**20
    print(f"m = {m}, n = {n}, T = {T}: one process a line, each call's time, first against the next")
    ratios = []
    for _ in range(arguments.processes):
        command = [sys.executable, __file__, "--worker"] + sys.argv[1:]
        *times, peak = subprocess.run(command, capture_output=True, text=True, check=True).stdout.split()
        times = [float(t) for t in times]
        ratios.append(times[0] / times[1])
        print(f"  {' '.join(f'{t:9.2f}ms' for t in times)}   first / next {ratios[-1]:.2f}")
    ratios.sort()
    print(f"median first / next {ratios[len(ratios) // 2]:.2f}; host bytes at the peak of a call "
          f"{int(peak) / 1e6:.1f} MB, against 8*(m*m*T + 3*m*n*T + 4*(m+n)*T) + 1 MiB = {bound / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
