"""The modules as Python functions, arguments in the modules' own order."""

import math
import numbers

import numpy as np

from ._modules import call_with_names

_FILTER_ARGUMENTS = ("Y", "A", "B", "C", "D", "x0", "P0", "tol")
_SMOOTHER_ARGUMENTS = ("Y", "A", "B", "C", "D", "P0", "tol", "x0", "stateIntercept", "observationIntercept")


def _argument_names(function, arguments):
    return tuple(f"{function}() argument {argument!r}" for argument in arguments)


_STATEFILTER_NAMES = _argument_names("statefilter", _FILTER_ARGUMENTS)
_CELLSTATEFILTER_NAMES = _argument_names("cellstatefilter", _FILTER_ARGUMENTS)
_STATESMOOTHER_NAMES = _argument_names("statesmoother", _SMOOTHER_ARGUMENTS)
_SIMULATIONSMOOTHER_NAMES = _argument_names("simulationsmoother", _SMOOTHER_ARGUMENTS + ("variates",))


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


def _host_shape(value):
    """The dimensions the host sees of a real value (at least two), or None
    for a value the conversion will refuse or pass as a cell array. A Gibbs
    sampler asks for every draw: the commonest values are told apart first."""
    kind = type(value)
    if kind is float or kind is int:
        return (1, 1)
    if value is None:
        return (0, 0)
    if isinstance(value, np.ndarray):
        if value.dtype == object:
            return None
        shape = value.shape
    elif isinstance(value, numbers.Real):
        return (1, 1)
    else:
        return None
    if len(shape) >= 2:
        return shape
    return (shape[0], 1) if shape else (1, 1)


def _loading_width(shape, rows):
    """The columns of a loading matrix of `rows` rows given with `shape`, as
    the module reads them: trailing dimensions of one dropped, and a shape of
    one row or one column the other way round read as the module reads it."""
    while len(shape) > 2 and shape[-1] == 1:
        shape = shape[:-1]
    given_rows, given_columns = shape[0], shape[1]
    if given_rows != rows and rows == 1 and given_columns == 1:
        return given_rows  # one row, given as a column
    if given_rows != rows and given_rows == 1 and given_columns == rows:
        return 1  # one column, given as a row
    return given_columns


def _is_whole_number(value):
    """An int, or an integral number of another type, not a bool. A Gibbs
    sampler passes an int every iteration: it is told apart first."""
    return type(value) is int or (type(value) is not bool and isinstance(value, numbers.Integral))


def _variate_rows(Y, A, B, D):
    """m + T*(k+h), as the module reads the sizes: T and n the rows and columns
    of Y, m the rows of A, k and h the columns of B and D (their second
    dimension). 0 when a shape is unusable: the module's own checks then name
    the input."""
    Y_shape, A_shape, B_shape, D_shape = _host_shape(Y), _host_shape(A), _host_shape(B), _host_shape(D)
    if Y_shape is None or A_shape is None or B_shape is None or D_shape is None:
        return 0
    m = A_shape[0]
    return m + Y_shape[0] * (_loading_width(B_shape, m) + _loading_width(D_shape, Y_shape[1]))


def simulationsmoother(Y, A, B, C, D, P0, tol, x0, stateIntercept=None, observationIntercept=None, *, draws=1,
                       seed=None, variates=None):
    """Draws of the states given all the data, for Gibbs samplers.

    The model, its arguments and their shapes are those of ``statesmoother``
    (note the order: ``P0`` and ``tol`` before ``x0``). Each draw is a sample
    of x_0 .. x_{T-1} from their joint distribution given all of ``Y``
    (Durbin & Koopman's simulation smoother, by mean corrections): a path x+
    and observations y+ simulated from the model, plus the smoothed states of
    ``Y - y+`` under a zero start and no intercepts. All draws share one pass
    of the covariance recursions.

    The smoothing is the smoother's: series that share noise are taken
    through their decorrelated series, and a state with +inf on P0's
    diagonal starts diffuse (``np.inf``), at its x0 in x+, and stays diffuse
    in the smoothing of ``Y - y+``.

    The standard normal numbers come from ``variates``, m + T*(k+h) rows and
    one column per draw: column s holds z0 (m values, x+ one step before the
    first period being x0 + G z0 with G G' the finite block of P0; the rows
    of diffuse states are not read), then u_t (k) and e_t (h) of each period
    in turn. Without ``variates``,
    ``numpy.random.default_rng(seed).standard_normal((draws, rows))`` is
    used, transposed, so that the first draws are the same for any number of
    draws (``seed`` may be a Generator, which is then drawn from). With
    ``variates``, its columns are used as given, and ``seed`` must be None and
    ``draws`` 1 or its column count.

    Returns a float64 array of shape (draws, T, m): ``result[s, t]`` is draw s
    of x_t, a view of the module's T x m x draws output. A draw whose variates
    hold a NaN is NaN throughout.
    """
    if variates is None:
        if not _is_whole_number(draws) or draws < 1:
            raise ValueError(f"simulationsmoother() argument 'draws' must be a whole number above 0, not {draws!r}")
        rows = _variate_rows(Y, A, B, D)
        # default_rng gives a Generator back as it is.
        generator = seed if type(seed) is np.random.Generator else np.random.default_rng(seed)
        # One draw's rows are the first of the stream either way; a vector
        # is a column to the host.
        variates = (generator.standard_normal(rows) if draws == 1 else
                    generator.standard_normal((int(draws), rows)).T)
    elif seed is not None:
        raise ValueError("simulationsmoother() takes either variates or a seed, not both")
    elif draws != 1 and draws != math.prod(np.shape(variates)[1:]):
        raise ValueError(f"simulationsmoother() argument 'draws' is {draws!r}, but the variates hold "
                         f"{math.prod(np.shape(variates)[1:])} columns")
    inputs = (Y, A, B, C, D, P0, tol, x0, stateIntercept, observationIntercept, variates)
    drawn = call_with_names("simulationsmoother", inputs, _SIMULATIONSMOOTHER_NAMES)
    # The module's T x m x S, pages first, without a copy; the host may drop
    # trailing dimensions of one, so the shape is set again.
    T, m, S = drawn.shape[0], drawn.shape[1], math.prod(drawn.shape[2:])
    return drawn.reshape((T, m, S), order="F").transpose(2, 0, 1)
