"""Turning Python values into the two forms the host takes.

A real array becomes a float64, Fortran-ordered numpy array of at least two
dimensions; a cell becomes the tuple ``(dimensions, elements)`` with its
elements in column-major order. Every value is checked here, so that a bad one
raises before any module is called.
"""

import numbers

import numpy as np

# An empty real array stands for None, as the modules read "no intercept".
_EMPTY_SHAPE = (0, 0)


def to_host_value(value, name):
    """The host form of ``value``; ``name`` says which argument it is in errors.

    - ``None``: an empty 0 x 0 array;
    - a real number (Python or numpy, not bool): a 1 x 1 array;
    - a numpy array of a real numeric dtype keeps its shape, a 0-d one becoming
      1 x 1 and a 1-D one a column; a float64 Fortran-ordered array is passed
      as it is, without a copy;
    - a list or tuple: a len x 1 cell array, element t from item t;
    - a 2-D numpy object array: a cell array of that shape.
    """
    if value is None:
        return np.zeros(_EMPTY_SHAPE, order="F")
    if isinstance(value, (list, tuple)):
        elements = [_cell_element(item, f"{name}[{t}]") for t, item in enumerate(value)]
        return ((len(elements), 1), elements)
    if isinstance(value, np.ndarray) and value.dtype == object:
        return _object_array_cell(value, name)
    return _real_array(value, name)


def _object_array_cell(value, name):
    if value.ndim != 2:
        raise TypeError(
            f"{name}: an object array is read as a cell array and must be 2-D, not {value.ndim}-D; "
            "pass a list for one cell element per period"
        )
    rows, columns = value.shape
    elements = [
        _cell_element(value[i, j], f"{name}[{i}, {j}]") for j in range(columns) for i in range(rows)
    ]
    return ((rows, columns), elements)


def _cell_element(item, name):
    """One element of a cell array: a real array; cells do not nest."""
    if item is None:
        return np.zeros(_EMPTY_SHAPE, order="F")
    if isinstance(item, np.ndarray) and item.dtype == object:
        raise TypeError(f"{name}: cell arrays do not nest; an element must hold real numbers")
    if isinstance(item, (list, tuple)):
        item = _sequence_as_array(item, name)
    return _real_array(item, name)


def _sequence_as_array(items, name):
    try:
        array = np.asarray(items)
    except ValueError as error:
        raise ValueError(f"{name}: a ragged sequence is not a matrix ({error})") from None
    if array.dtype == object:
        raise ValueError(f"{name}: a ragged or mixed sequence is not a matrix")
    return array


def _real_array(value, name):
    if isinstance(value, np.ndarray):
        array = value
    elif _is_real_scalar(value):
        try:
            array = np.array(float(value))
        except OverflowError:
            raise ValueError(f"{name}: {value!r} is too large for a double") from None
    else:
        raise TypeError(
            f"{name}: cannot pass a value of type {type(value).__name__}; give a real number, "
            "a numpy array of real numbers, None, a list or tuple (cell array) or a 2-D object array"
        )
    if isinstance(array, np.ma.MaskedArray):
        raise TypeError(f"{name}: masked arrays are not read; mark missing values with NaN, e.g. .filled(np.nan)")
    _require_real_dtype(array.dtype, name)
    if array.ndim == 0:
        array = array.reshape(1, 1)
    elif array.ndim == 1:
        array = array.reshape(-1, 1)
    # A copy unless it already is what the host reads in place. Aligned too:
    # asfortranarray alone passes an unaligned array through, and the modules
    # read whole doubles.
    return np.require(array, dtype=np.float64, requirements=("F_CONTIGUOUS", "ALIGNED"))


def _is_real_scalar(value):
    if isinstance(value, (bool, np.bool_)):
        return False
    return isinstance(value, (numbers.Real, np.integer, np.floating))


def _require_real_dtype(dtype, name):
    # Integers and floats convert exactly or by rounding; every other kind
    # (bool, complex, text, dates, records) has no meaning as model data.
    if dtype.kind not in "iuf":
        raise TypeError(f"{name}: an array of dtype {dtype} cannot be passed; only real numbers can")
