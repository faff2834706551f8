"""Linear Gaussian state-space models on numpy arrays, through Orrim modules.

``statefilter`` and ``cellstatefilter`` return the Kalman-filter
log-likelihood of every period (with ``return_states=True`` also the filtered
states and their covariances), ``statesmoother`` the smoothed states (with
``return_covariances=True`` also their covariances), ``statefiltergradient``
the log-likelihood with the gradient of its sum with respect to every input,
``fit`` the maximum-likelihood estimates of a parametrised model with that
gradient, ``simulationsmoother`` draws of the states given the data, and
``call`` calls any module built against the host, by name or path
(``outputs=k`` for more than its first output).

Timing: ``x0`` and ``P0`` are the mean and covariance of the state one step
before the first period, and ``A`` of period t carries period t-1 into t.

Conversion of every input (inputs are never modified):

- a numpy array of a real numeric dtype keeps its shape, so a 3-D
  coefficient is paged (page t for period t) and a 4-D one is not; a float64
  Fortran-ordered array is passed without a copy, any other is converted;
- a real scalar becomes 1 x 1, a 1-D array a column, ``None`` an empty array;
- a list or tuple is a cell array of len x 1 elements (element t = period t),
  and a 2-D numpy object array a cell array of that shape; inside a cell a
  list is read as a numeric array;
- complex, boolean, text, ragged or otherwise unusable values raise
  ``TypeError`` or ``ValueError`` naming the argument, before any module runs.

A module's error raises ``OrrimError``, whose ``identifier`` is the module's.
"""

from ._errors import OrrimError
from ._functions import cellstatefilter, simulationsmoother, statefilter, statesmoother
from ._gradient import FitResult, fit, statefiltergradient
from ._modules import available_modules, call
from ._statespace import host_counters

__all__ = [
    "FitResult",
    "OrrimError",
    "available_modules",
    "call",
    "cellstatefilter",
    "fit",
    "host_counters",
    "simulationsmoother",
    "statefilter",
    "statefiltergradient",
    "statesmoother",
]
