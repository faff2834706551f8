"""What users pass by mistake, through each of the modules: every value
gets a result or a clear exception, and the caller's arrays are never
modified, whatever form they come in."""

import copy

import numpy as np
import pytest

import statespace
from host_support import PROBE_MODULE, requires_module, requires_probe
from random_models import module_arguments, random_model
from statespace._modules import MODULE_NAMES
MODULES = [pytest.param(name, marks=requires_module(name), id=name) for name in MODULE_NAMES]

ARGUMENT_NAMES = {
    "statefilter": ("Y", "A", "B", "C", "D", "x0", "P0", "tol"),
    "cellstatefilter": ("Y", "A", "B", "C", "D", "x0", "P0", "tol"),
    "statesmoother": ("Y", "A", "B", "C", "D", "P0", "tol", "x0", "stateIntercept", "observationIntercept"),
    "statefiltergradient": ("Y", "A", "B", "C", "D", "x0", "P0", "tol"),
}
ARGUMENT_NAMES["simulationsmoother"] = ARGUMENT_NAMES["statesmoother"]
ERROR_PREFIX = {"statefilter": "tarv:ssm:kfc:", "cellstatefilter": "tarv:ssm:kfctv:", "statesmoother": "tarv:ssm:kfc:",
                "statefiltergradient": "tarv:ssm:kfc:", "simulationsmoother": "tarv:ssm:kfc:"}
# The smoothers take intercepts and give one row per period and a column per state.
SMOOTHERS = ("statesmoother", "simulationsmoother")


def run(module, arguments):
    """The module's first result: the gradient's log-likelihood, whose
    derivatives come from the same call; the simulation smoother's one draw
    from a fixed seed, so that equal inputs give equal draws."""
    if module == "statefiltergradient":
        return statespace.statefiltergradient(*arguments)[0]
    if module == "simulationsmoother":
        return statespace.simulationsmoother(*arguments, seed=1)[0]
    return getattr(statespace, module)(*arguments)


def model_arguments(module, seed, **options):
    """A random model as the module takes it; cellstatefilter gets Y, C and D
    as lists of per-period matrices, so that cells go through every form."""
    model = random_model(seed, intercepts=module in SMOOTHERS, **options)
    arguments = module_arguments(module, model)
    if module == "cellstatefilter":
        arguments[0] = [model.Y[t] for t in range(model.periods)]
        arguments[3] = [model.page("C", t) for t in range(model.periods)]
        arguments[4] = [model.page("D", t) for t in range(model.periods)]
    return arguments


def rows(value):
    """The rows of a value as the host sees it."""
    if value is None:
        return 0
    if isinstance(value, (list, tuple)):
        return len(value)
    return np.shape(value)[0] if np.ndim(value) > 0 else 1


def result_shape(module, arguments):
    return (rows(arguments[0]), rows(arguments[1]) if module in SMOOTHERS else 1)


def each_array(value, transform):
    """`value` with `transform` applied to every numpy array in it, cells included."""
    if isinstance(value, (list, tuple)):
        return type(value)(each_array(item, transform) for item in value)
    if isinstance(value, np.ndarray):
        return transform(value)
    return value


def arrays_in(value):
    if isinstance(value, (list, tuple)):
        return [array for item in value for array in arrays_in(item)]
    return [value] if isinstance(value, np.ndarray) else []


def assert_unchanged(before, after):
    """Same values (NaN where NaN was), dtype and shape."""
    assert len(before) == len(after)
    for old, new in zip(arrays_in(before), arrays_in(after)):
        assert new.dtype == old.dtype and new.shape == old.shape
        np.testing.assert_array_equal(new, old)


def strided_view(array):
    """The same values as a view that is neither C- nor F-contiguous."""
    spread = np.zeros(tuple(2 * extent for extent in array.shape), dtype=array.dtype)
    every_other = tuple(slice(None, None, 2) for _ in array.shape)
    spread[every_other] = array
    return spread[every_other]


def reversed_view(array):
    """The same values through negative strides."""
    if array.ndim == 0:
        return array.copy()
    flipped = np.flip(array).copy()
    return np.flip(flipped)


def fortran_transpose_view(array):
    """The same values as the transpose of a C-ordered array: F-contiguous
    float64, so it reaches the module without a copy."""
    return np.ascontiguousarray(np.asarray(array, dtype=np.float64).T).T


def read_only(array):
    frozen = np.array(array, order="F", copy=True)
    frozen.flags.writeable = False
    return frozen


def read_only_mapping(directory):
    """A read-only memory map of the values: the module reads it in place, and
    a write to it would stop the process."""
    count = iter(range(10**6))

    def mapped(array):
        path = directory / f"input{next(count)}.bin"
        source = np.asfortranarray(array, dtype=np.float64)
        source.T.tofile(path) if source.ndim > 1 else source.tofile(path)
        return np.memmap(path, dtype=np.float64, mode="r", shape=source.shape, order="F")

    return mapped


@pytest.mark.parametrize("module", MODULES)
class TestEveryFormOfTheSameValues:
    """Views, read-only and mapped arrays carry the same values: the result is
    bit for bit that of plain float64 arrays, and nothing of theirs changes."""

    @pytest.mark.parametrize(
        "form",
        [np.ascontiguousarray, strided_view, reversed_view, fortran_transpose_view, read_only],
        ids=["c-order", "strided-view", "negative-strides", "fortran-transpose-view", "read-only"],
    )
    def test_views_and_read_only_arrays(self, module, form):
        plain = model_arguments(module, 21, paged="A" if module != "cellstatefilter" else "", missing=0.2)
        expected = run(module, plain)
        given = each_array(copy.deepcopy(plain), form)
        before = copy.deepcopy(given)
        writeable = [array.flags.writeable for array in arrays_in(given)]
        np.testing.assert_array_equal(run(module, given), expected)
        assert_unchanged(before, given)
        assert [array.flags.writeable for array in arrays_in(given)] == writeable

    @requires_probe
    def test_read_only_memory_maps_are_read_in_place(self, module, tmp_path):
        plain = model_arguments(module, 22, missing=0.1)
        expected = run(module, plain)
        mapped = each_array(plain, read_only_mapping(tmp_path))
        np.testing.assert_array_equal(run(module, mapped), expected)
        # In place: the host sees the mapping's own memory, where a write
        # would stop the process.
        P0 = mapped[ARGUMENT_NAMES[module].index("P0")]
        assert statespace.call(PROBE_MODULE, P0)[0, 4] == P0.ctypes.data

    def test_integer_arrays_give_the_float_result(self, module):
        rng = np.random.default_rng(23)
        T, n, m = 6, 2, 2
        Y = rng.integers(-5, 6, size=(T, n)).astype(np.float64)
        Y[2, 1] = np.nan
        # Non-negative, so that every integer type holds them exactly.
        A, B, C, D = np.eye(m), np.ones((m, m)), rng.integers(0, 3, size=(n, m)), np.ones((n, 1))
        x0, P0 = np.arange(m), 3 * np.eye(m)
        floats = module_arguments(module, random_model(0, periods=T, series=n, states=m), 0.0)
        for position, value in enumerate([Y, A, B, C, D]):
            floats[position] = np.asarray(value, dtype=np.float64)
        floats[ARGUMENT_NAMES[module].index("x0")] = x0.astype(np.float64)
        floats[ARGUMENT_NAMES[module].index("P0")] = P0.astype(np.float64)
        expected = run(module, floats)
        for dtype in (np.int8, np.int64, np.uint16):
            integers = [value if position == 0 or not isinstance(value, np.ndarray) else value.astype(dtype)
                        for position, value in enumerate(floats)]
            np.testing.assert_array_equal(run(module, integers), expected)

    def test_arrays_that_alias_one_another(self, module):
        # One buffer holds every coefficient: B, C, D and P0 are the very
        # same array, and A and x0 are column views into it.
        shared = np.asfortranarray(np.array([[1.5, 0.25, 0.5, 0.1, 0.2], [0.25, 1.0, -0.3, 0.9, -0.1]]))
        M = shared[:, 0:2]
        A, x0 = shared[:, 2:4], shared[:, 4]
        assert M.base is shared and A.base is shared and M.flags.f_contiguous
        Y = np.random.default_rng(24).normal(size=(8, 2))
        names = ARGUMENT_NAMES[module]
        aliased = [{"Y": Y, "A": A, "B": M, "C": M, "D": M, "x0": x0, "P0": M}.get(name) for name in names]
        aliased[names.index("tol")] = 0.0
        if module == "cellstatefilter":
            aliased[3] = [M] * 8  # one object for every period
        separate = [copy.deepcopy(value) for value in aliased]
        before = shared.copy()
        result = run(module, aliased)
        np.testing.assert_array_equal(result, run(module, separate))
        np.testing.assert_array_equal(shared, before)
        assert not any(np.shares_memory(result, array) for array in arrays_in(aliased))


def mistakes(module):
    """(position, value, error, detail) that the package refuses before the
    module runs."""
    first_cell = 0 if module == "cellstatefilter" else 1
    return [
        (0, "1.0", TypeError, "str"),
        (1, np.array([[0.9 + 0j]]), TypeError, "complex"),
        (2, np.array([[True]]), TypeError, "bool"),
        (3, np.array([["1.0"]], dtype=object), TypeError, "str"),
        (first_cell, [[[1.0, 2.0], [3.0]]], ValueError, "ragged"),
        (first_cell, [np.array([[1.0]], dtype=object)], TypeError, "do not nest"),
        (4, np.array([np.eye(2), np.eye(2)], dtype=object), TypeError, "3-D"),
        (5, np.ma.masked_array([1.0, 2.0], mask=[0, 1]), TypeError, "masked"),
        (7, True, TypeError, "bool"),
    ]


@pytest.mark.parametrize("module", MODULES)
def test_unusable_values_are_refused_before_the_module_runs(module):
    for position, value, error, detail in mistakes(module):
        arguments = model_arguments(module, 25)
        arguments[position] = value
        kept = copy.deepcopy(value)
        allocations = statespace.host_counters()["allocations"]
        with pytest.raises(error) as raised:
            run(module, arguments)
        message = str(raised.value)
        assert f"{module}() argument '{ARGUMENT_NAMES[module][position]}'" in message and detail in message, message
        assert statespace.host_counters()["allocations"] == allocations, "the module was called"
        assert_unchanged([kept], [value])


@pytest.mark.parametrize("module", MODULES)
class TestMistakesTheModuleRefuses:
    """Values the package can pass but that do not make a model: the module's
    own error, naming the input."""

    def test_list_of_lists_is_a_cell_array(self, module):
        arguments = model_arguments(module, 26, missing=0.2)
        matrix_Y = np.array(arguments[0]) if module == "cellstatefilter" else arguments[0]
        arguments[0] = matrix_Y.tolist()
        if module == "cellstatefilter":
            # One list per period is this module's own form of Y.
            with_matrix = list(arguments)
            with_matrix[0] = matrix_Y
            np.testing.assert_array_equal(run(module, arguments), run(module, with_matrix))
            return
        with pytest.raises(statespace.OrrimError) as raised:
            run(module, arguments)
        assert raised.value.identifier == ERROR_PREFIX[module] + "InputNotReal"
        assert str(raised.value).startswith("Input 1 (Y) is a cell array")

    def test_empty_value_in_any_position(self, module):
        # An input that sets a size (T and n from Y, m from A, k from B, h from
        # D, and n from C in cellstatefilter) may make another input too small.
        setting_sizes = {"Y", "A", "B", "D"} | ({"C"} if module == "cellstatefilter" else set())
        for position, name in enumerate(ARGUMENT_NAMES[module]):
            for empty in (None, np.zeros((0, 3))):
                arguments = model_arguments(module, 27, states=3)
                arguments[position] = empty
                try:
                    shape = run(module, arguments).shape
                except statespace.OrrimError as error:
                    message = str(error)
                    assert error.identifier.startswith(ERROR_PREFIX[module]), error.identifier
                    names_it = f"Input {position + 1} " in message or f"input {position + 1} " in message
                    assert names_it or (name in setting_sizes and "nput " in message), (name, message)
                else:
                    assert shape == result_shape(module, arguments), name

    @pytest.mark.parametrize("change, mentions", [
        (((1, 1), -np.inf), "-Inf at (1, 1)"),
        (((0, 1), np.inf), "+Inf at (0, 1) (from 0), off the diagonal"),
        (((2, 2), np.inf, (0, 2), 0.5), "state 2 (from 0) as diffuse with +Inf on its diagonal, but holds 0.5 at (0, 2)"),
        (((2, 2), np.inf, (2, 1), -0.25), "but holds -0.25 at (2, 1)"),
        (((0, 0), np.inf, (1, 0), np.nan), "but holds nan at (1, 0)"),
    ], ids=["minus-infinity", "plus-infinity-off-the-diagonal", "diffuse-beside-its-column",
            "diffuse-beside-its-row", "diffuse-beside-nan"])
    def test_a_diffuse_start_that_is_not_one(self, module, change, mentions):
        arguments = model_arguments(module, 29, states=3, diffuse=1)
        position = ARGUMENT_NAMES[module].index("P0")
        P0 = np.array(arguments[position])
        for place, value in zip(change[::2], change[1::2]):
            P0[place] = value
        arguments[position] = P0
        allocations = statespace.host_counters()["allocations"]
        with pytest.raises(statespace.OrrimError) as raised:
            run(module, arguments)
        assert raised.value.identifier == ERROR_PREFIX[module] + "InvalidDiffuseStart"
        message = str(raised.value)
        assert message.startswith(f"Input {position + 1} (P0) ") and mentions in message, message
        assert statespace.host_counters()["allocations"] == allocations, "a block was taken"

    def test_observations_given_transposed(self, module):
        arguments = model_arguments(module, 28, periods=12, states=3)
        arguments[0] = np.array(arguments[0]).T
        with pytest.raises(statespace.OrrimError) as raised:
            run(module, arguments)
        if module == "cellstatefilter":
            # Its series count comes from C: the two rows of Y.T are two
            # periods, and their 12 values are not the 2 series of C.
            assert raised.value.identifier == ERROR_PREFIX[module] + "InputShape"
            assert str(raised.value).startswith("Input 1 (Y) is 2 x 12; it must be T x n = 2 x 2"), str(raised.value)
            return
        assert raised.value.identifier == ERROR_PREFIX[module] + "InputTooSmall"
        assert "Input 4 (C)" in str(raised.value) and "12 x 3" in str(raised.value), str(raised.value)

    def test_wrong_shapes_with_enough_values_are_refused(self, module):
        # T = 30, n = 3, m = 2, k = h = 2, as a new user might get them wrong.
        names = ARGUMENT_NAMES[module]
        cells = module == "cellstatefilter"
        model = random_model(29, periods=30, series=3, states=2, intercepts=module == "statesmoother")
        mistakes = [
            ("C", [C.T for C in model_arguments(module, 29, periods=30, series=3, states=2)[3]] if cells else model.C.T,
             "is 2 x 3; it must be n x m = " + ("n x 2." if cells else "3 x 2 (one page), or n x m x T = 3 x 2 x 30.")),
            ("C", np.ones((4, 4)), "is 4 x 4;"),
            ("P0", np.eye(3), "is 3 x 3; it must be m x m = 2 x 2."),
            ("B", np.ones((3, 2)), "is 3 x 2; it must be m x k = 2 x k"),
            ("x0", np.zeros(3), "is 3 x 1; it must be m x 1 = 2 x 1 (or 1 x 2)."),
            ("tol", np.zeros(2), "is 2 x 1; it must be one value."),
        ]
        if not cells:
            mistakes.append(("A", np.stack([model.A] * 30, axis=2)[:, :, :, np.newaxis].repeat(2, axis=3),
                             "is 2 x 2 x 30 x 2;"))
        if module == "statesmoother":
            mistakes.append(("stateIntercept", model.stateIntercept.T, "is 30 x 2; it must be m x T = 2 x 30, or empty."))
            mistakes.append(("observationIntercept", model.observationIntercept.T, "is 30 x 3;"))
        for name, value, says in mistakes:
            arguments = model_arguments(module, 29, periods=30, series=3, states=2)
            if module == "statesmoother":
                arguments[8:10] = [model.stateIntercept, model.observationIntercept]
            run(module, arguments)
            arguments[names.index(name)] = value
            with pytest.raises(statespace.OrrimError) as raised:
                run(module, arguments)
            message = str(raised.value)
            assert raised.value.identifier == ERROR_PREFIX[module] + "InputShape", (name, message)
            assert f"nput {names.index(name) + 1} ({name})" in message and says in message, (name, message)

    def test_one_row_given_as_a_vector_is_read_whole(self, module):
        # m = 1, n = 1: B (1 x k) and D (1 x h) from 1-D arrays, which arrive
        # as columns, and C (1 x m) likewise; the same bits as the rows.
        model = random_model(30, periods=12, series=1, states=1, state_shocks=3, observation_shocks=2)
        rows = module_arguments(module, model)
        vectors = list(rows)
        for name in ("B", "C", "D"):
            vectors[ARGUMENT_NAMES[module].index(name)] = getattr(model, name).ravel()
        if module == "cellstatefilter":
            vectors[4] = [model.D.ravel()] * model.periods  # a cell of columns
        np.testing.assert_array_equal(run(module, vectors), run(module, rows))


class TestPeriodCountsNoMemoryHolds:
    """Y with no column can claim 2^40 periods without holding a value."""

    Y = np.empty((2**40, 0))

    @pytest.mark.parametrize("module", [p for p in MODULES if p.id in SMOOTHERS])
    def test_smoother_with_no_state_and_no_series_returns_the_empty_result_at_once(self, module):
        result = run(module, [self.Y, None, None, None, None, None, 0.0, None])
        assert result.shape == (2**40, 0)

    @pytest.mark.parametrize("module", [p for p in MODULES if p.id not in SMOOTHERS])
    def test_filters_report_the_output_they_cannot_hold(self, module):
        with pytest.raises(statespace.OrrimError) as raised:
            run(module, [self.Y, None, None, None, None, None, None, 0.0])
        assert raised.value.identifier == "orrim:OutOfMemory"
