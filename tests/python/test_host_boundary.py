"""What reaches the host: the probe module reports, for every input, its rows,
columns, dimension count, cell flag, data address and an order-sensitive
checksum."""

import numpy as np
import pytest

import statespace
from statespace import _statespace
from statespace._conversion import to_host_value
from host_support import PROBE_MODULE, requires_probe

pytestmark = requires_probe

ROWS, COLUMNS, DIMENSIONS, IS_CELL, ADDRESS, CHECKSUM = range(6)


def probe(*inputs):
    return statespace.call(PROBE_MODULE, *inputs)


def checksum(array):
    """The probe's checksum of a real array: elements weighted by their
    1-based position in column-major order."""
    values = np.asarray(array, dtype=np.float64).ravel(order="F")
    return float(np.dot(np.arange(1, values.size + 1), values))


class TestRealInputs:
    def test_fortran_float64_reaches_the_host_without_a_copy(self):
        matrix = np.asfortranarray(np.arange(6.0).reshape(2, 3))
        vector = np.arange(4.0)
        report = probe(matrix, vector)
        assert report[0, ADDRESS] == matrix.ctypes.data
        assert report[1, ADDRESS] == vector.ctypes.data

    def test_c_ordered_array_arrives_with_the_same_elements_in_host_order(self):
        matrix = np.arange(6.0).reshape(2, 3)
        report = probe(matrix)
        assert report[0, ADDRESS] != matrix.ctypes.data
        assert report[0, [ROWS, COLUMNS, DIMENSIONS]].tolist() == [2, 3, 2]
        assert report[0, CHECKSUM] == checksum(matrix)

    @pytest.mark.parametrize(
        "value, rows, columns, dimensions",
        [
            (np.zeros((2, 2, 5)), 2, 10, 3),
            (np.zeros((2, 2, 5, 1)), 2, 10, 4),
            (np.zeros(7), 7, 1, 2),
            (4.5, 1, 1, 2),
            (None, 0, 0, 2),
            (np.zeros((0, 3)), 0, 3, 2),
        ],
        ids=["paged", "four-d", "vector", "scalar", "none", "empty"],
    )
    def test_shapes_as_the_host_sees_them(self, value, rows, columns, dimensions):
        report = probe(value)
        assert report[0, [ROWS, COLUMNS, DIMENSIONS, IS_CELL]].tolist() == [rows, columns, dimensions, 0]

    def test_three_d_pages_keep_their_order(self):
        pages = np.random.default_rng(1).normal(size=(2, 3, 4))
        assert probe(pages)[0, CHECKSUM] == pytest.approx(checksum(pages), rel=1e-14)

    def test_any_number_of_inputs_and_none(self):
        inputs = [float(p) for p in range(12)]
        report = probe(*inputs)
        assert report.shape == (12, 6)
        assert report[:, CHECKSUM].tolist() == inputs
        assert probe().shape == (0, 6)


def _unaligned_doubles(count):
    storage = np.frombuffer(bytearray(8 * count + 1), dtype=np.uint8)[1:]
    array = storage.view(np.float64)
    array[:] = np.arange(1.0, count + 1.0)
    assert not array.flags.aligned
    return array


class _Subclass(np.ndarray):
    pass


_RNG = np.random.default_rng(3)
_BLOCK = _RNG.normal(size=(3, 4, 5))

# Values the extension reads itself, and their neighbours that it must leave
# to the package's conversion.
DIRECT_OR_CONVERTED = [
    2.5, -0.0, float("nan"), 7, -(2**60) - 1, np.float64(1.5), np.float32(1.25), np.int64(3), None,
    np.array(4.0), np.arange(1.0, 6.0), np.arange(1.0, 11.0)[::3], np.arange(1.0, 6.0)[::-1],
    _BLOCK[:, :, 0], np.asfortranarray(_BLOCK[:, :, 0]), _BLOCK[:, :, 0].T, _BLOCK[::2, ::-2, 1],
    _BLOCK, np.asfortranarray(_BLOCK), _BLOCK.transpose(1, 2, 0), _BLOCK[:, :, :, np.newaxis][::-1],
    np.zeros((0, 3)), np.zeros((3, 0, 2)), _BLOCK[0:1, :, 0], _unaligned_doubles(6),
    _BLOCK.astype(">f8"), np.arange(6, dtype=np.int16).reshape(2, 3), _BLOCK[:, :, 2].view(_Subclass),
]


class TestDirectReading:
    @pytest.mark.parametrize("value", DIRECT_OR_CONVERTED, ids=[f"value{i}" for i in range(len(DIRECT_OR_CONVERTED))])
    def test_the_host_sees_what_the_package_s_conversion_gives(self, value):
        module = _statespace.Module(str(PROBE_MODULE))
        direct = module.call([value], ("x",), to_host_value)
        converted = to_host_value(value, "x")
        expected = module.call([converted])
        columns = [ROWS, COLUMNS, DIMENSIONS, IS_CELL, CHECKSUM]
        np.testing.assert_array_equal(direct[:, columns], expected[:, columns])
        if isinstance(value, np.ndarray) and value.size > 0:
            # Read in place exactly when the conversion passes the value through.
            assert (direct[0, ADDRESS] == value.ctypes.data) == np.shares_memory(converted, value)


class TestCellInputs:
    def test_list_is_a_column_cell_with_elements_in_period_order(self):
        elements = [np.arange(3.0), np.ones((2, 2)), None, 7.0]
        report = probe(elements)
        assert report[0, [ROWS, COLUMNS, IS_CELL]].tolist() == [4, 1, 1]
        expected = sum((e + 1) * checksum(np.zeros((0, 0)) if x is None else x) for e, x in enumerate(elements))
        assert report[0, CHECKSUM] == expected

    def test_object_matrix_is_a_cell_in_column_major_order(self):
        cell = np.empty((2, 2), dtype=object)
        cell[0, 0], cell[1, 0], cell[0, 1], cell[1, 1] = 1.0, 2.0, 3.0, 4.0
        report = probe(cell)
        assert report[0, [ROWS, COLUMNS, IS_CELL]].tolist() == [2, 2, 1]
        assert report[0, CHECKSUM] == 1 * 1.0 + 2 * 2.0 + 3 * 3.0 + 4 * 4.0


class TestExtensionContract:
    """The extension takes only what the package prepares; anything else is a
    Python error, never a crash, and leaves nothing behind."""

    @pytest.mark.parametrize(
        "prepared, error",
        [
            (np.arange(3.0), TypeError),  # fewer than two dimensions
            (np.ones((2, 2)), TypeError),  # C order
            (np.ones((2, 2), dtype=np.float32, order="F"), TypeError),
            (((2, 1), [np.ones((1, 1), order="F")]), ValueError),  # one element short
            (((1, 1),), TypeError),
            (((1, 1), [np.ones((1, 1), order="F")], "extra"), TypeError),
            ("text", TypeError),
            (((2**40, 1), []), ValueError),  # no list holds that many elements
            (_unaligned_doubles(4).reshape(2, 2, order="F"), TypeError),
        ],
        ids=["one-d", "c-order", "float32", "short-cell", "no-elements", "long-tuple", "text", "huge-cell",
             "unaligned"],
    )
    def test_malformed_prepared_input_is_rejected(self, prepared, error):
        module = _statespace.Module(str(PROBE_MODULE))
        with pytest.raises(error):
            module.call([np.ones((1, 1), order="F"), prepared])

    def test_unloadable_file_raises_os_error(self, tmp_path):
        not_a_library = tmp_path / "module.so"
        not_a_library.write_text("not a shared library")
        with pytest.raises(OSError):
            statespace.call(not_a_library, 1.0)


class TestOutputs:
    def test_a_result_is_the_host_output_itself_and_releases_it_when_dropped(self):
        before = statespace.host_counters()["arrays_live"]
        result = statespace.statefilter(np.array([[3.0], [1.0]]), 0.5, 1.0, 1.0, 1.0, 2.0, 4.0, 0.0)
        assert result.shape == (2, 1) and result.flags.f_contiguous and result.dtype == np.float64
        assert statespace.host_counters()["arrays_live"] == before + 1
        view = result[:, 0]
        del result
        assert statespace.host_counters()["arrays_live"] == before + 1, "a view keeps the output alive"
        assert view[0] == pytest.approx(-0.5 * ((np.log(3.0) + 1.837877066409345) + 4.0 / 3.0))
        del view
        assert statespace.host_counters()["arrays_live"] == before
