"""The modules as Python functions, arguments in the modules' own order."""

from ._modules import call_with_names

_FILTER_ARGUMENTS = ("Y", "A", "B", "C", "D", "x0", "P0", "tol")
_SMOOTHER_ARGUMENTS = ("Y", "A", "B", "C", "D", "P0", "tol", "x0", "stateIntercept", "observationIntercept")


def _argument_names(function, arguments):
    return tuple(f"{function}() argument {argument!r}" for argument in arguments)


_STATEFILTER_NAMES = _argument_names("statefilter", _FILTER_ARGUMENTS)
_CELLSTATEFILTER_NAMES = _argument_names("cellstatefilter", _FILTER_ARGUMENTS)
_STATESMOOTHER_NAMES = _argument_names("statesmoother", _SMOOTHER_ARGUMENTS)


def _pages_first(covariances, m, T):
    """The module's m x m x T covariances as a (T, m, m) view, without a copy.
    The host may drop trailing dimensions of one, so the shape is set again."""
    return covariances.reshape((m, m, T), order="F").transpose(2, 0, 1)


def _filter_states(module, inputs, names):
    loglik, means, covariances = call_with_names(module, inputs, names, 3)
    T, m = means.shape
    return loglik, means, _pages_first(covariances, m, T)


def statefilter(Y, A, B, C, D, x0, P0, tol, return_states=False):
    """Kalman-filter log-likelihood of every period.

    Model, for periods t = 0 .. T-1::

        x_t = A_t x_{t-1} + B_t u_t,     u_t ~ N(0, I_k)
        y_t = C_t x_t     + D_t e_t,     e_t ~ N(0, I_h)

    ``x0`` (m values) and ``P0`` (m x m) are the mean and covariance of the
    state one step *before* the first period, x_{-1}; so ``A`` of period t
    carries period t-1 into t, and period 0 starts by predicting from ``x0``.
    ``np.inf`` on the diagonal of ``P0`` (its row and column otherwise zero)
    starts that state diffuse, taken by the exact diffuse recursions; the
    filtered covariances are then infinite where the state is still diffuse.
    The series of a period are taken one at a time; where their noises are
    correlated (rows of D_t that load on one innovation), they are first
    decorrelated through H = L Delta L', so the likelihood is that of the
    whole model.

    Shapes: ``Y`` is T x n, one row per period, NaN for a missing value.
    ``A`` (m x m), ``B`` (m x k), ``C`` (n x m) and ``D`` (n x h) are each one
    matrix for all periods, or a 3-D array with page ``[:, :, t]`` for period
    t (m x m x T, ...; pages past the T-th are not read). ``tol`` is a
    scalar: an observation whose innovation variance is not above it is
    passed over. Shapes are exact; a 1-D array also stands for a shape of one
    row (C of one series, B of one state). A wrong shape raises
    ``statespace.OrrimError`` with identifier "tarv:ssm:kfc:InputShape" and a
    message that names the argument (README, Input shapes).

    Returns a float64 array of shape (T, 1): element t is the sum of the
    log-likelihood terms of period t (0.0 when nothing was used). With
    ``return_states=True``, a tuple ``(loglik, means, covariances)`` adds the
    filtered states, E[x_t | y_0 .. y_t] as ``means[t]`` (shape (T, m)) and
    their covariances as ``covariances[t]`` (shape (T, m, m), a view of the
    module's m x m x T output).
    """
    inputs = (Y, A, B, C, D, x0, P0, tol)
    if return_states:
        return _filter_states("statefilter", inputs, _STATEFILTER_NAMES)
    return call_with_names("statefilter", inputs, _STATEFILTER_NAMES)


def cellstatefilter(Y, A, B, C, D, x0, P0, tol, return_states=False):
    """``statefilter`` with per-period lists, so the number of series may change.

    Same model, timing and result as ``statefilter``: a float64 array of
    shape (T, 1). Each of ``Y``, ``A``, ``B``, ``C`` and ``D`` is one matrix
    for all periods, or a list (or tuple) whose item t is the matrix of
    period t. The number of series in period t is the row count of its
    ``C``, n_t; with a list ``Y``, item t holds those n_t observations
    (NaN = missing), and a list ``D`` gives n_t rows in period t. A 3-D array
    is not read as pages here. T is the length of a list ``Y`` or the row
    count of a matrix ``Y``; ``x0`` (m values), ``P0`` (m x m), ``tol`` and
    ``return_states`` are as in ``statefilter``. Each period's matrices must
    have that period's exact shapes, and a matrix ``Y`` or ``D`` serves one
    series count in every period.
    """
    inputs = (Y, A, B, C, D, x0, P0, tol)
    if return_states:
        return _filter_states("cellstatefilter", inputs, _CELLSTATEFILTER_NAMES)
    return call_with_names("cellstatefilter", inputs, _CELLSTATEFILTER_NAMES)


def statesmoother(Y, A, B, C, D, P0, tol, x0, stateIntercept=None, observationIntercept=None,
                  return_covariances=False):
    """Smoothed state means of every period.

    Model, for periods t = 0 .. T-1::

        x_t = A_t x_{t-1} + s_t + B_t u_t,     u_t ~ N(0, I_k)
        y_t = C_t x_t     + o_t + D_t e_t,     e_t ~ N(0, I_h)

    ``x0`` (m values) and ``P0`` (m x m) describe the state one step *before*
    the first period, x_{-1}; ``A`` of period t carries period t-1 into t;
    ``np.inf`` on the diagonal of ``P0`` starts that state diffuse, as in
    ``statefilter``. Note the argument order: ``P0`` and ``tol`` come before
    ``x0``.

    Shapes: ``Y`` is T x n (NaN = missing); ``A``, ``B``, ``C``, ``D`` as in
    ``statefilter``, one matrix or a 3-D array of T pages. ``stateIntercept``
    s is m x T (column t for period t) and ``observationIntercept`` o is
    n x T; None means zeros. ``tol`` is the cutoff on the innovation variance.
    Shapes are exact, as in ``statefilter``.

    Returns a float64 array of shape (T, m): row t is E[x_t | all of Y].
    With ``return_covariances=True``, a tuple ``(means, covariances)`` adds
    Var[x_t | all of Y] as ``covariances[t]`` (shape (T, m, m), a view of the
    module's m x m x T output).
    """
    inputs = (Y, A, B, C, D, P0, tol, x0, stateIntercept, observationIntercept)
    if return_covariances:
        means, covariances = call_with_names("statesmoother", inputs, _STATESMOOTHER_NAMES, 2)
        T, m = means.shape
        return means, _pages_first(covariances, m, T)
    return call_with_names("statesmoother", inputs, _STATESMOOTHER_NAMES)
