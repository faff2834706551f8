"""Local level series with known variances, for trying the fit at scale."""

import numpy as np

# Observation noise from 0.1 to 10, and a signal-to-noise ratio
# sigma2_eta / sigma2_eps from 0.01 (a level that hardly moves) to 10 (one
# that the observations follow closely); both uniform on a log scale.
LOG10_SIGMA2_EPS = (-1.0, 1.0)
LOG10_RATIO = (-2.0, 1.0)


def simulate_local_level(count, length, seed):
    """`count` series of `length` periods from one seed. Returns (names,
    series as a count x length array, sigma2_eps, sigma2_eta)."""
    generator = np.random.default_rng(seed)
    sigma2_eps = 10.0 ** generator.uniform(*LOG10_SIGMA2_EPS, size=count)
    sigma2_eta = sigma2_eps * 10.0 ** generator.uniform(*LOG10_RATIO, size=count)
    start = generator.normal(0.0, 10.0, size=count)
    level = start[:, None] + np.cumsum(generator.standard_normal((count, length)) * np.sqrt(sigma2_eta)[:, None], axis=1)
    series = level + generator.standard_normal((count, length)) * np.sqrt(sigma2_eps)[:, None]
    names = [f"series{index:0{len(str(count))}d}" for index in range(1, count + 1)]
    return names, series, sigma2_eps, sigma2_eta
