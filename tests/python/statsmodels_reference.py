"""Our model in statsmodels' representation, written once for every comparison.

Ours:  x_t = A_t x_{t-1} + s_t + B_t u_t,  y_t = C_t x_t + o_t + D_t e_t,
       x_{-1} ~ N(x0, P0), series taken one at a time.
statsmodels: alpha_{t+1} = c_t + T_t alpha_t + R_t eta_t, eta_t ~ N(0, Q_t);
       y_t = d_t + Z_t alpha_t + eps_t, eps_t ~ N(0, H_t); alpha_0 ~ N(a, P).

So its transition of step t is our A_{t+1} (with s_{t+1} and B_{t+1}B_{t+1}'),
its initial state is our prediction from x0 and P0 into period 0, and its H_t
is the diagonal of D_t D_t', the only part of it our modules read.
"""

import dataclasses
import warnings

import numpy as np
from statsmodels.tsa.statespace.kalman_smoother import KalmanSmoother

from random_models import simulate


def to_statsmodels(model, representation=KalmanSmoother):
    """A statsmodels KalmanSmoother holding `model` (a random_models.Model),
    or another representation of that family, such as its SimulationSmoother.

    A coefficient that is one matrix for all periods is given to statsmodels
    as one matrix, so that timings compare like with like.
    """
    T, n = model.Y.shape
    m = model.A.shape[0]
    reference = representation(k_endog=n, k_states=m, k_posdef=m)
    reference.bind(np.ascontiguousarray(_passed_over_as_missing(model)))

    def per_step(letter, form, leads_into_next):
        coefficient = getattr(model, letter)
        if coefficient.ndim == 2:
            return form(coefficient)
        # Step t leads into period t + 1; the last step leads out of the
        # sample and changes no result, so it repeats the last period's.
        periods = [min(t + 1, T - 1) if leads_into_next else t for t in range(T)]
        return np.stack([form(model.page(letter, period)) for period in periods], axis=-1)

    reference["design"] = per_step("C", lambda C: C, False)
    reference["obs_cov"] = per_step("D", lambda D: np.diag(np.sum(D * D, axis=1)), False)
    reference["transition"] = per_step("A", lambda A: A, True)
    reference["state_cov"] = per_step("B", lambda B: B @ B.T, True)
    reference["selection"] = np.eye(m)
    if model.observationIntercept is not None:
        reference["obs_intercept"] = np.stack([model.intercepts(t)[1] for t in range(T)], axis=-1)
    if model.stateIntercept is not None:
        following = [model.intercepts(t + 1)[0] if t + 1 < T else np.zeros(m) for t in range(T)]
        reference["state_intercept"] = np.stack(following, axis=-1)

    A0, B0 = model.page("A", 0), model.page("B", 0)
    first_state = A0 @ model.x0 + model.intercepts(0)[0]
    first_cov = A0 @ model.P0 @ A0.T + B0 @ B0.T
    reference.initialize_known(first_state, first_cov)
    return reference


def _passed_over_as_missing(model):
    """Y with every observation whose C row and D row are zero in its period
    made missing: its innovation variance is 0, which our modules pass over at
    tol >= 0 and statsmodels cannot divide by."""
    Y = model.Y.copy()
    for t in range(Y.shape[0]):
        silent = ~np.any(model.page("C", t), axis=1) & ~np.any(model.page("D", t), axis=1)
        Y[t, silent] = np.nan
    return Y


def reference_loglikelihood(model):
    """statsmodels' log-likelihood of every period, shape (T,)."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return to_statsmodels(model).filter().llf_obs


def reference_smoothed_states(model):
    """statsmodels' smoothed states, shape (T, m) like ours."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return to_statsmodels(model).smooth().smoothed_state.T


def reference_filtered_states(model):
    """statsmodels' filtered means (T, m) and covariances (T, m, m), like ours."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        filtered = to_statsmodels(model).filter()
    return filtered.filtered_state.T, np.moveaxis(filtered.filtered_state_cov, 2, 0)


def reference_smoothed_covariances(model):
    """statsmodels' smoothed state covariances, shape (T, m, m) like ours."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return np.moveaxis(to_statsmodels(model).smooth().smoothed_state_cov, 2, 0)


def reference_draws(model, variates):
    """The draws of the states that the columns of `variates` make, as the two
    terms whose sum is each draw, both of shape (draws, T, m): from each
    column, the path x+ of the model (x+ one step before the first period x0
    + G z0, G the Cholesky factor of P0, then u_t and e_t of each period), and
    statsmodels' smoothed states of Y - y+, y+ the observations on that path,
    under a zero start and no intercepts. Not statsmodels' own simulation
    smoother, which mishandles missing values in Debian's version."""
    m = model.A.shape[0]
    factor = np.linalg.cholesky(model.P0)
    unconditional = dataclasses.replace(model, x0=np.zeros(m), stateIntercept=None, observationIntercept=None)
    paths, smoothed = [], []
    for column in np.asarray(variates, dtype=np.float64).T:
        read = iter(np.split(column[m:], np.cumsum(_shock_counts(model))[:-1]))
        states, observations = simulate(model, model.x0 + factor @ column[:m], lambda count: next(read))
        paths.append(states)
        smoothed.append(reference_smoothed_states(dataclasses.replace(unconditional, Y=model.Y - observations)))
    return np.stack(paths), np.stack(smoothed)


def _shock_counts(model):
    """The numbers of normals simulate() asks for, in turn: k, h of each period."""
    return [count for t in range(model.periods) for count in (model.page("B", t).shape[1], model.page("D", t).shape[1])]
