"""The log-likelihood with its gradient, and maximum likelihood with it."""

import math
import time

import numpy as np

from ._functions import _FILTER_ARGUMENTS, _argument_names
from ._modules import call_with_names

_GRADIENT_NAMES = _argument_names("statefiltergradient", _FILTER_ARGUMENTS)
_DIFFERENTIATED = ("A", "B", "C", "D", "x0", "P0")


def statefiltergradient(Y, A, B, C, D, x0, P0, tol):
    """The log-likelihood of every period and the gradient of its sum.

    Same model, timing, shapes and ``loglik`` as ``statefilter``. Returns
    ``(loglik, gradient)``: ``loglik`` of shape (T, 1), with statefilter's
    bits, and ``gradient`` a dict whose keys "A", "B", "C", "D", "x0" and
    "P0" hold the derivatives of ``loglik.sum()`` with respect to each element
    of that argument, in the argument's own shape (a 3-D coefficient one page
    per period; a scalar a 0-d array; elements the module does not read are
    0). For ``P0`` it is the symmetric gradient G: the sum changes by
    sum(G * dP0) for a symmetric change dP0, zero in the rows and columns of
    diffuse states. An observation passed over (innovation variance not above
    ``tol``) contributes nothing; at F = tol the sum jumps and no derivative
    is defined. A state variance that an update leaves at or below zero is
    cleared, and the cleared row is a constant. Correlated measurement noise
    and the diffuse start are differentiated as ``statefilter`` computes
    them, through the decorrelated series and the exact diffuse steps; ``D``
    has derivatives in its zero elements too, as the likelihood changes when
    they move. The gradient comes from one backward pass over what the filter
    kept, for about the cost of two more filters, whatever the number of
    coefficients.
    """
    arguments = (Y, A, B, C, D, x0, P0, tol)
    loglik, *derivatives = call_with_names("statefiltergradient", arguments, _GRADIENT_NAMES, 7)
    gradient = {name: _as_argument(derivative, argument)
                for name, derivative, argument in zip(_DIFFERENTIATED, derivatives, arguments[1:7])}
    return loglik, gradient


def _as_argument(derivative, argument):
    """The module's derivative (as it reads the input) in the shape of the
    argument as given, element for element in storage order."""
    shape = np.shape(argument)
    if derivative.shape == shape:
        return derivative
    size = math.prod(shape)
    values = derivative.reshape(-1, order="F")
    if values.size != size:
        padded = np.zeros(size)
        padded[:min(size, values.size)] = values[:size]
        values = padded
    return values.reshape(shape, order="F")


class FitResult:
    """What ``fit`` found: ``theta`` (the estimates), ``loglik`` (the summed
    log-likelihood there), ``gradient`` (its gradient in theta there),
    ``std_errors`` (square roots of the diagonal of the inverse of the
    negative Hessian; NaN where that is not positive definite), ``converged``
    (L-BFGS-B's verdict), ``iterations``, ``evaluations`` (likelihood and
    gradient evaluations by the optimiser), ``seconds`` (the whole fit,
    standard errors included) and ``message``."""

    def __init__(self, **fields):
        self.__dict__.update(fields)

    def __repr__(self):
        return (f"FitResult(loglik={self.loglik!r}, converged={self.converged!r}, iterations={self.iterations}, "
                f"evaluations={self.evaluations}, seconds={self.seconds:.3g})")


class _Objective:
    """The summed log-likelihood and its gradient in theta: the module's
    gradient in the coefficients, chained through the Jacobian of ``build`` by
    central differences of ``build`` in theta (no filter call per parameter)."""

    def __init__(self, Y, build, tol, size):
        self.Y = Y
        self.build = build
        self.tol = tol
        self.size = size
        self.evaluations = 0
        # The coefficients built by theta while the Hessian is formed: the
        # gradients a step apart in two parameters build the same points.
        self.kept = None

    def coefficients_near(self, theta):
        if self.kept is None:
            return self.coefficients(theta)
        key = theta.tobytes()
        built = self.kept.get(key)
        if built is None:
            built = self.kept[key] = self.coefficients(theta)
        return built

    def coefficients(self, theta):
        try:
            built = self.build(theta)
        except Exception as error:
            raise ValueError(f"build raised {type(error).__name__}: {error} at theta = {_text(theta)}") from error
        if not isinstance(built, (tuple, list)) or len(built) != 6:
            raise ValueError(f"build must return (A, B, C, D, x0, P0); at theta = {_text(theta)} it returned "
                             f"{type(built).__name__}")
        return built

    def value_and_gradient(self, theta):
        theta = np.asarray(theta, dtype=float)
        coefficients = self.coefficients(theta)
        loglik, gradient = statefiltergradient(self.Y, *coefficients, self.tol)
        self.evaluations += 1
        total = float(np.sum(loglik))
        if not np.isfinite(total):
            raise FloatingPointError(f"the log-likelihood is {total} at theta = {_text(theta)}")
        # The coefficients a step ahead and a step behind in each parameter,
        # in turn; then the differences of every coefficient at once, one row
        # a parameter, against the gradient laid end to end.
        steps = _steps(theta)
        moved = theta.copy()
        points = []
        for k in range(self.size):
            moved[k] = theta[k] + steps[k]
            points.append(self.coefficients_near(moved))
            moved[k] = theta[k] - steps[k]
            points.append(self.coefficients_near(moved))
            moved[k] = theta[k]
        columns = []
        for position, name in enumerate(_DIFFERENTIATED):
            shape = np.shape(gradient[name])
            try:
                stacked = np.array([point[position] for point in points], dtype=float)
            except ValueError:
                stacked = None
            if stacked is None or stacked.shape[1:] != shape:
                raise ValueError(f"build returned coefficients of other shapes near theta = {_text(theta)}")
            columns.append(stacked.reshape(2 * self.size, -1))
        every_coefficient = np.concatenate(columns, axis=1)
        up, down = every_coefficient[0::2], every_coefficient[1::2]
        # An element the step does not move has no derivative: +inf, which
        # marks a diffuse state, less itself would be NaN.
        differences = np.subtract(up, down, out=np.zeros(up.shape), where=up != down)
        slopes = differences @ np.concatenate([np.ravel(gradient[name]) for name in _DIFFERENTIATED])
        derivative = slopes / (2.0 * steps)
        if not np.all(np.isfinite(derivative)):
            raise FloatingPointError(f"the gradient is not finite at theta = {_text(theta)}")
        return total, derivative

    def negative(self, theta):
        total, derivative = self.value_and_gradient(theta)
        return -total, -derivative


def _steps(theta):
    """Central differences' steps: the cube root of the double's precision,
    relative to each value's size."""
    return 6e-6 * np.maximum(1.0, np.abs(theta))


def _text(theta):
    return np.array2string(np.asarray(theta, dtype=float), precision=17, separator=", ")


def fit(Y, build, theta0, *, tol=0.0, bounds=None):
    """Maximum likelihood: maximises the summed log-likelihood of ``Y`` over
    theta with scipy's L-BFGS-B, from ``theta0``.

    ``build(theta)`` returns ``(A, B, C, D, x0, P0)`` for a parameter vector,
    in ``statefilter``'s shapes (paged coefficients and diffuse states,
    ``np.inf`` on ``P0``'s diagonal, allowed; ``P0`` must be symmetric). The
    gradient is the module's (``statefiltergradient``),
    chained through the Jacobian of ``build`` by central differences of
    ``build`` in theta, so a parameter costs two calls of ``build`` and no
    filter. ``bounds`` is L-BFGS-B's: a sequence of (low, high) pairs, None
    for no bound. The standard errors are the square roots of the diagonal of
    the inverse of the negative Hessian, formed by central differences of the
    analytic gradient. A ``build`` that raises, or a log-likelihood or
    gradient that is not finite, raises an error naming theta; nothing is
    kept from a fit that stops so.

    Returns a ``FitResult``.
    """
    from scipy.optimize import minimize  # imported here, not with the package, and not timed

    start = time.perf_counter()
    theta0 = np.array(theta0, dtype=float).ravel()
    objective = _Objective(Y, build, tol, theta0.size)
    result = minimize(objective.negative, theta0, jac=True, method="L-BFGS-B", bounds=bounds)
    evaluations = objective.evaluations
    theta = np.asarray(result.x, dtype=float)
    loglik, gradient = objective.value_and_gradient(theta)
    return FitResult(theta=theta, loglik=loglik, gradient=gradient,
                     std_errors=_standard_errors(objective, theta), converged=bool(result.success),
                     iterations=int(result.nit), evaluations=evaluations, seconds=time.perf_counter() - start,
                     message=str(result.message))


def _standard_errors(objective, theta):
    """sqrt(diag((-H)^-1)), H by central differences of the gradient."""
    size = theta.size
    hessian = np.empty((size, size))
    steps = _steps(theta)
    objective.kept = {}
    for k in range(size):
        step = steps[k]
        ahead, behind = theta.copy(), theta.copy()
        ahead[k] += step
        behind[k] -= step
        hessian[:, k] = (objective.value_and_gradient(ahead)[1] - objective.value_and_gradient(behind)[1]) / (2 * step)
    objective.kept = None
    information = -0.5 * (hessian + hessian.T)
    try:
        np.linalg.cholesky(information)
    except np.linalg.LinAlgError:
        return np.full(size, np.nan)
    return np.sqrt(np.diag(np.linalg.inv(information)))
