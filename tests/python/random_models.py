"""Random state-space models for the tests, reproducible from a seed.

A model is held the way the modules take it: Y is T x n, each of A, B, C, D
one matrix or a 3-D array with page [:, :, t] for period t, x0 and P0 the
state one step before the first period, intercepts m x T and n x T or None.
"""

import dataclasses

import numpy as np


@dataclasses.dataclass
class Model:
    Y: np.ndarray
    A: np.ndarray
    B: np.ndarray
    C: np.ndarray
    D: np.ndarray
    x0: np.ndarray
    P0: np.ndarray
    stateIntercept: np.ndarray = None
    observationIntercept: np.ndarray = None

    @property
    def periods(self):
        return self.Y.shape[0]

    def page(self, letter, t):
        """The matrix of period t of coefficient `letter`."""
        coefficient = getattr(self, letter)
        return coefficient[:, :, t] if coefficient.ndim == 3 else coefficient

    def intercepts(self, t):
        """(state intercept, observation intercept) of period t, zeros when absent."""
        m, n = self.A.shape[0], self.Y.shape[1]
        s = self.stateIntercept[:, t] if self.stateIntercept is not None else np.zeros(m)
        o = self.observationIntercept[:, t] if self.observationIntercept is not None else np.zeros(n)
        return s, o


def random_model(seed, periods=20, series=2, states=3, state_shocks=2, observation_shocks=2,
                 paged="", missing=0.0, intercepts=False, silent_last_series=False, independent_noise=False,
                 diffuse=0):
    """A random model whose observations are simulated from it.

    `paged` names the coefficients that change by period (e.g. "AC");
    `missing` is the share of observations replaced by NaN, and then one whole
    period is missing as well. With `silent_last_series`, the last series has
    zero rows of C and D: its innovation variance is 0, so at tol >= 0 it is
    passed over in every period. Every series loads on every innovation, so
    their noises are correlated, unless `independent_noise` keeps column l of
    D in row l mod n alone (the same draws). The last `diffuse` states start
    diffuse: +inf on their diagonal of P0, zeros beside it.
    """
    rng = np.random.default_rng(seed)
    T, n, m, k, h = periods, series, states, state_shocks, observation_shocks

    def coefficient(letter, draw):
        if letter in paged:
            return np.stack([draw() for _ in range(T)], axis=2)
        return draw()

    A = coefficient("A", lambda: _stable_transition(rng, m))
    B = coefficient("B", lambda: 0.6 * rng.normal(size=(m, k)))
    C = coefficient("C", lambda: rng.normal(size=(n, m)))
    D = coefficient("D", lambda: 0.3 + 0.5 * np.abs(rng.normal(size=(n, h))))
    if independent_noise and n > 0:
        D = D * (np.arange(n)[:, np.newaxis] == np.arange(h) % n).reshape((n, h) + (1,) * (D.ndim - 2))
    if silent_last_series:
        C[-1] = 0.0
        D[-1] = 0.0
    root = rng.normal(size=(m, m))
    model = Model(
        Y=np.zeros((T, n)), A=A, B=B, C=C, D=D,
        x0=rng.normal(size=m), P0=root @ root.T + 0.5 * np.eye(m),
        stateIntercept=rng.normal(size=(m, T)) if intercepts else None,
        observationIntercept=rng.normal(size=(n, T)) if intercepts else None,
    )
    model.Y = _simulate(model, rng)
    if diffuse:
        model.P0[m - diffuse:, :] = 0.0
        model.P0[:, m - diffuse:] = 0.0
        model.P0[range(m - diffuse, m), range(m - diffuse, m)] = np.inf
    if missing > 0:
        model.Y[rng.random(size=(T, n)) < missing] = np.nan
        model.Y[T // 2, :] = np.nan
    return model


def _stable_transition(rng, m):
    transition = rng.normal(size=(m, m))
    radius = np.max(np.abs(np.linalg.eigvals(transition)))
    return transition * (0.95 / radius)


def _simulate(model, rng):
    return simulate(model, model.x0, lambda count: rng.normal(size=count))[1]


def simulate(model, start, normals):
    """The states (T x m) and observations (T x n) the model gives from
    `start`, the state one step before the first period, with the shocks of
    each period drawn by normals(count): its k state shocks, then its h
    observation shocks. Y is read for its shape only."""
    T, n = model.Y.shape
    state = np.array(start, dtype=np.float64)
    states, observations = np.empty((T, state.size)), np.empty((T, n))
    for t in range(T):
        s, o = model.intercepts(t)
        B = model.page("B", t)
        D = model.page("D", t)
        state = model.page("A", t) @ state + s + B @ normals(B.shape[1])
        states[t] = state
        observations[t] = model.page("C", t) @ state + o + D @ normals(D.shape[1])
    return states, observations


def module_arguments(module, model, tol=0.0):
    """The model as the arguments of `module`, in that module's own order."""
    if module in ("statesmoother", "simulationsmoother"):
        return [model.Y, model.A, model.B, model.C, model.D, model.P0, tol, model.x0,
                model.stateIntercept, model.observationIntercept]
    return [model.Y, model.A, model.B, model.C, model.D, model.x0, model.P0, tol]
