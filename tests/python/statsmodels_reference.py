"""Our model in statsmodels' representation, written once for every comparison.

Ours:  x_t = A_t x_{t-1} + s_t + B_t u_t,  y_t = C_t x_t + o_t + D_t e_t,
       x_{-1} ~ N(x0, P0).
statsmodels: alpha_{t+1} = c_t + T_t alpha_t + R_t eta_t, eta_t ~ N(0, Q_t);
       y_t = d_t + Z_t alpha_t + eps_t, eps_t ~ N(0, H_t); alpha_0 ~ N(a, P).

So its transition of step t is our A_{t+1} (with s_{t+1} and B_{t+1}B_{t+1}'),
its initial state is our prediction from x0 and P0 into period 0, and its H_t
is D_t D_t', the series' noises correlated where they share an innovation.

A P0 with +inf on its diagonal marks diffuse states, which statsmodels starts
with its exact diffuse initialisation. Its initial state is then our x_{-1}
itself: a leading period with every value missing, whose transition is our
A_0, carries it into our period 0, and its results for period t + 1 are ours
for period t. The known states must come first, the diffuse ones after them,
and the diffuse states' entries of x0 do not enter (statsmodels starts them
at zero). statsmodels' exact diffuse smoother mishandles coefficients that
change within its diffuse phase (its filter and its known start agree with
ours): a diffuse model compared with it keeps its paged coefficients
constant through its first periods.
"""

import dataclasses
import warnings

import numpy as np
from statsmodels.tsa.statespace.initialization import Initialization
from statsmodels.tsa.statespace.kalman_smoother import KalmanSmoother

from random_models import simulate

def diffuse_states(model):
    """The states P0 marks as diffuse."""
    return np.flatnonzero(np.isposinf(np.diag(model.P0)))


def to_statsmodels(model, representation=KalmanSmoother):
    """A statsmodels KalmanSmoother holding `model` (a random_models.Model),
    or another representation of that family, such as its SimulationSmoother.

    A coefficient that is one matrix for all periods is given to statsmodels
    as one matrix, so that timings compare like with like.
    """
    T, n = model.Y.shape
    m = model.A.shape[0]
    diffuse = diffuse_states(model)
    # With diffuse states, statsmodels' step 0 is the leading period and its
    # step t + 1 our period t.
    lead = 1 if len(diffuse) else 0
    reference = representation(k_endog=n, k_states=m, k_posdef=m)
    # No steady state: statsmodels would otherwise stop updating P once it
    # changes by less than its tolerance, which our filter never does.
    reference.tolerance = 0.0
    observed = _passed_over_as_missing(model)
    if lead:
        observed = np.vstack([np.full((1, n), np.nan), observed])
    reference.bind(np.ascontiguousarray(observed))

    def per_step(letter, form, leads_into_next):
        coefficient = getattr(model, letter)
        if coefficient.ndim == 2:
            return form(coefficient)
        # Step t leads into period t + 1; the last step leads out of the
        # sample and changes no result, so it repeats the last period's.
        # The leading period's own coefficients change nothing either.
        periods = [min(t + 1 - lead, T - 1) if leads_into_next else max(t - lead, 0) for t in range(T + lead)]
        return np.stack([form(model.page(letter, period)) for period in periods], axis=-1)

    reference["design"] = per_step("C", lambda C: C, False)
    reference["obs_cov"] = per_step("D", lambda D: D @ D.T, False)
    reference["transition"] = per_step("A", lambda A: A, True)
    reference["state_cov"] = per_step("B", lambda B: B @ B.T, True)
    reference["selection"] = np.eye(m)
    if model.observationIntercept is not None:
        reference["obs_intercept"] = np.stack([model.intercepts(max(t - lead, 0))[1] for t in range(T + lead)],
                                              axis=-1)
    if model.stateIntercept is not None:
        following = [model.intercepts(t + 1 - lead)[0] if t + 1 - lead < T else np.zeros(m) for t in range(T + lead)]
        reference["state_intercept"] = np.stack(following, axis=-1)
    if lead:
        reference.initialize(_mixed_initialisation(model, diffuse))
        return reference

    A0, B0 = model.page("A", 0), model.page("B", 0)
    first_state = A0 @ model.x0 + model.intercepts(0)[0]
    first_cov = A0 @ model.P0 @ A0.T + B0 @ B0.T
    reference.initialize_known(first_state, first_cov)
    return reference


def _mixed_initialisation(model, diffuse):
    """Known states first, with x0 and their block of P0; then the diffuse ones."""
    m = model.A.shape[0]
    known = m - len(diffuse)
    if not np.array_equal(diffuse, np.arange(known, m)):
        raise ValueError("the diffuse states must come after the known ones")
    initialisation = Initialization(m)
    if known:
        initialisation.set((0, known), "known", constant=model.x0[:known], stationary_cov=model.P0[:known, :known])
    initialisation.set((known, m), "diffuse")
    return initialisation


def _ours(model, values):
    """statsmodels' results for our periods: without the leading period of a
    diffuse start; periods on the last axis."""
    return values[..., 1:] if len(diffuse_states(model)) else values


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
        return _ours(model, to_statsmodels(model).filter().llf_obs)


def reference_smoothed_states(model):
    """statsmodels' smoothed states, shape (T, m) like ours."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return _ours(model, to_statsmodels(model).smooth().smoothed_state).T


def reference_filtered_states(model):
    """statsmodels' filtered means (T, m) and covariances (T, m, m), like ours;
    with diffuse states, the covariances of its diffuse phase are P* alone."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        filtered = to_statsmodels(model).filter()
    means = _ours(model, filtered.filtered_state).T
    covariances = np.moveaxis(_ours(model, filtered.filtered_state_cov), 2, 0)
    return means, covariances


def reference_diffuse_periods(model):
    """How many of our periods statsmodels' diffuse phase takes."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return max(to_statsmodels(model).filter().nobs_diffuse - 1, 0) if len(diffuse_states(model)) else 0


def reference_smoothed_covariances(model):
    """statsmodels' smoothed state covariances, shape (T, m, m) like ours."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return np.moveaxis(_ours(model, to_statsmodels(model).smooth().smoothed_state_cov), 2, 0)


def reference_draws(model, variates):
    """The draws of the states that the columns of `variates` make, as the two
    terms whose sum is each draw, both of shape (draws, T, m): from each
    column, the path x+ of the model (x+ one step before the first period x0
    + G z0, G the Cholesky factor of P0's finite block, a diffuse state
    starting at its x0; then u_t and e_t of each period), and statsmodels'
    smoothed states of Y - y+, y+ the observations on that path, under a zero
    start and no intercepts, its diffuse states diffuse. Not statsmodels' own
    simulation smoother, which mishandles missing values in Debian's
    version."""
    m = model.A.shape[0]
    known = np.flatnonzero(~np.isposinf(np.diag(model.P0)))
    factor = np.zeros((m, m))
    factor[np.ix_(known, known)] = np.linalg.cholesky(model.P0[np.ix_(known, known)])
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
