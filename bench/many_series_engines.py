"""Fits per second of the many-series example on each engine, and their ratios to one process.

Run with /usr/bin/python3 after the build. Each round runs the example once
per engine, in turn, on the same simulated series; printed are the medians
of the rounds and the medians of each round's ratio to --workers 1 (runs
close in time share the machine's load), and whether every run wrote the
same file. The fits per second are the example's own: series over the
time from the first chunk sent to the last fit back, after the engine is up
(a LocalCluster takes a second or more to start, which the example prints
beside them and which is shown here too). The machine may be shared: the
last column is the cores that other processes kept busy during the runs,
and a round in which they kept too many busy is run again.
"""

import argparse
import filecmp
import os
import pathlib
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
ENGINES = {"--workers 1": ["--workers", "1"], "--workers 2": ["--workers", "2"], "--dask-local 2": ["--dask-local", "2"]}
REPORT = re.compile(r": ([0-9.]+) s, ([0-9]+) fits/s \(engine ready in ([0-9.]+) s\)")


def busy_seconds():
    """(CPU seconds of the whole machine, of this process's finished children)."""
    with open("/proc/stat") as stat:
        ticks = [int(field) for field in stat.readline().split()[1:]]
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    # user, nice, system, irq, softirq, steal
    machine = sum(ticks[index] for index in (0, 1, 2, 5, 6, 7)) / os.sysconf("SC_CLK_TCK")
    return machine, children.ru_utime + children.ru_stime


def run(build_dir, arguments, engine, output):
    """(fits per second, engine start seconds, cores busy with other processes)."""
    machine_before, ours_before = busy_seconds()
    start = time.perf_counter()
    command = [sys.executable, str(ROOT / "examples" / "many_series.py"), *arguments, *engine, "--output", str(output)]
    completed = subprocess.run(command, capture_output=True, text=True, check=True,
                               env={"PYTHONPATH": str(build_dir / "python"), "PATH": "/usr/bin:/bin"})
    seconds = time.perf_counter() - start
    machine_after, ours_after = busy_seconds()
    found = REPORT.search(completed.stdout)
    others = max(0.0, (machine_after - machine_before) - (ours_after - ours_before)) / seconds
    return int(found.group(2)), float(found.group(3)), others


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--series", type=int, default=1000, help="simulated series (1000)")
    parser.add_argument("--length", type=int, default=100, help="their periods (100)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds whose medians are printed (5)")
    parser.add_argument("--most-others", type=float, default=0.25, metavar="CORES",
                        help="a round in which other processes kept more cores busy is run again (0.25)")
    arguments = parser.parse_args()
    build_dir = pathlib.Path(arguments.build_dir).resolve()
    simulated = ["--series", str(arguments.series), "--length", str(arguments.length), "--seed", "1"]
    kept = []  # per round: {engine: (fits/s, engine start seconds, cores busy with others)}
    outputs, attempts = [], 0
    with tempfile.TemporaryDirectory() as directory:
        while len(kept) < arguments.rounds and attempts < 4 * arguments.rounds:
            attempts += 1
            measured = {}
            for name, engine in ENGINES.items():
                outputs.append(pathlib.Path(directory) / f"{attempts}{name.replace(' ', '')}.csv")
                measured[name] = run(build_dir, simulated, engine, outputs[-1])
            if max(others for _, _, others in measured.values()) <= arguments.most_others:
                kept.append(measured)
        identical = all(filecmp.cmp(outputs[0], output, shallow=False) for output in outputs[1:])
    print(f"{arguments.series} series of {arguments.length} periods: medians of {len(kept)} rounds "
          f"({attempts - len(kept)} run again, other processes busy on more than {arguments.most_others} cores)")
    print(f"{'engine':<16}{'fits/s':>8}{'ratio':>8}{'engine ready':>14}{'others busy':>13}")
    for name in ENGINES:
        if not kept:
            break
        ratio = statistics.median(measured[name][0] / measured["--workers 1"][0] for measured in kept)
        rate, ready, others = (statistics.median(measured[name][field] for measured in kept) for field in range(3))
        print(f"{name:<16}{rate:>8.0f}{ratio:>7.2f}x{ready:>13.2f}s{others:>8.2f} cores")
    print(f"every run wrote the same file: {'yes' if identical else 'NO'}")
    sys.exit(0 if identical and kept else 1)


if __name__ == "__main__":
    main()
