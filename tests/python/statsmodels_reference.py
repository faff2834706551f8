"""Our model in statsmodels' representation, written once for every comparison.

Ours:  x_t = A_t x_{t-1} + s_t + B_t u_t,  y_t = C_t x_t + o_t + D_t e_t,
       x_{-1} ~ N(x0, P0), series taken one at a time.
statsmodels: alpha_{t+1} = c_t + T_t alpha_t + R_t eta_t, eta_t ~ N(0, Q_t);
       y_t = d_t + Z_t alpha_t + eps_t, eps_t ~ N(0, H_t); alpha_0 ~ N(a, P).

So its transition of step t is our A_{t+1} (with s_{t+1} and B_{t+1}B_{t+1}'),
its initial state is our prediction from x0 and P0 into period 0, and its H_t
is the diagonal of D_t D_t', the only part of it our modules read.
"""

import warnings

import numpy as np
from statsmodels.tsa.statespace.kalman_smoother import KalmanSmoother


def to_statsmodels(model):
    """A statsmodels KalmanSmoother holding `model` (a random_models.Model)."""
    T, n = model.Y.shape
    m = model.A.shape[0]
    reference = KalmanSmoother(k_endog=n, k_states=m, k_posdef=m)
    reference.bind(np.ascontiguousarray(model.Y))

    design = np.empty((n, m, T))
    obs_intercept = np.empty((n, T))
    obs_cov = np.zeros((n, n, T))
    transition = np.empty((m, m, T))
    state_intercept = np.zeros((m, T))
    state_cov = np.empty((m, m, T))
    for t in range(T):
        design[:, :, t] = model.page("C", t)
        obs_intercept[:, t] = model.intercepts(t)[1]
        D = model.page("D", t)
        obs_cov[:, :, t] = np.diag(np.sum(D * D, axis=1))
        # Step t leads into period t + 1; the last step leads out of the sample
        # and changes no result, so it repeats the last period's coefficients.
        following = min(t + 1, T - 1)
        transition[:, :, t] = model.page("A", following)
        B = model.page("B", following)
        state_cov[:, :, t] = B @ B.T
        if t + 1 < T:
            state_intercept[:, t] = model.intercepts(t + 1)[0]
    reference["design"] = design
    reference["obs_intercept"] = obs_intercept
    reference["obs_cov"] = obs_cov
    reference["transition"] = transition
    reference["state_intercept"] = state_intercept
    reference["selection"] = np.eye(m)
    reference["state_cov"] = state_cov

    A0, B0 = model.page("A", 0), model.page("B", 0)
    first_state = A0 @ model.x0 + model.intercepts(0)[0]
    first_cov = A0 @ model.P0 @ A0.T + B0 @ B0.T
    reference.initialize_known(first_state, first_cov)
    return reference


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
