"""Fits per second of the many-series example on each engine, and their ratios to one process.

Run with /usr/bin/python3 after the build. Each round runs the example once
per engine, in turn, on the same simulated series; printed are the medians
of the rounds and the medians of each round's ratio to --workers 1 (runs
close in time share the machine's load), and whether every run wrote the
same file. The fits per second are the example's own: series over the
time from the first chunk sent to the last fit back, after the engine is up
(a LocalCluster takes a second or more to start, which the example prints
beside them and which is shown here too).
"""

import argparse
import filecmp
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
ENGINES = {"--workers 1": ["--workers", "1"], "--workers 2": ["--workers", "2"], "--dask-local 2": ["--dask-local", "2"]}
REPORT = re.compile(r": ([0-9.]+) s, ([0-9]+) fits/s \(engine ready in ([0-9.]+) s\)")


def run(build_dir, arguments, engine, output):
    command = [sys.executable, str(ROOT / "examples" / "many_series.py"), *arguments, *engine, "--output", str(output)]
    completed = subprocess.run(command, capture_output=True, text=True, check=True,
                               env={"PYTHONPATH": str(build_dir / "python"), "PATH": "/usr/bin:/bin"})
    found = REPORT.search(completed.stdout)
    return int(found.group(2)), float(found.group(3))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--series", type=int, default=1000)
    parser.add_argument("--length", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=5)
    arguments = parser.parse_args()
    build_dir = pathlib.Path(arguments.build_dir).resolve()
    simulated = ["--series", str(arguments.series), "--length", str(arguments.length), "--seed", "1"]
    rates = {name: [] for name in ENGINES}
    ready = {name: [] for name in ENGINES}
    with tempfile.TemporaryDirectory() as directory:
        outputs = []
        for round_ in range(arguments.rounds):
            for name, engine in ENGINES.items():
                outputs.append(pathlib.Path(directory) / f"{round_}{name.replace(' ', '')}.csv")
                rate, seconds = run(build_dir, simulated, engine, outputs[-1])
                rates[name].append(rate)
                ready[name].append(seconds)
        identical = all(filecmp.cmp(outputs[0], output, shallow=False) for output in outputs[1:])
    print(f"{arguments.series} series of {arguments.length} periods, medians of {arguments.rounds} rounds")
    print(f"{'engine':<16}{'fits/s':>8}{'ratio':>8}{'engine ready':>14}")
    for name in ENGINES:
        ratio = statistics.median(rate / serial for rate, serial in zip(rates[name], rates["--workers 1"]))
        print(f"{name:<16}{statistics.median(rates[name]):>8.0f}{ratio:>7.2f}x{statistics.median(ready[name]):>13.2f}s")
    print(f"every run wrote the same file: {'yes' if identical else 'NO'}")
    sys.exit(0 if identical else 1)


if __name__ == "__main__":
    main()
