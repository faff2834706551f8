"""How Python values become host arrays, checked before anything reaches the host."""

import datetime
from fractions import Fraction

import numpy as np
import pytest

from statespace._conversion import to_host_value


class TestRealArrays:
    """Shapes and copies as the host sees them are checked through the probe
    module; these are the conversions themselves."""

    @pytest.mark.parametrize("scalar", [3, 3.0, np.float32(3.0), np.int64(3), np.uint8(3), Fraction(3, 1)])
    def test_real_scalars_become_one_by_one(self, scalar):
        converted = to_host_value(scalar, "x")
        assert converted.shape == (1, 1) and converted.dtype == np.float64 and converted[0, 0] == 3.0

    @pytest.mark.parametrize(
        "array",
        [
            np.arange(6.0).reshape(2, 3),  # C order
            np.arange(12.0).reshape(3, 4)[:, ::2],  # strided view
            np.arange(6, dtype=np.int32).reshape(2, 3),
            np.arange(6, dtype=np.float32).reshape(2, 3),
            np.arange(6, dtype=np.uint16).reshape(2, 3),
            np.arange(6.0).reshape(2, 3).astype(">f8"),  # foreign byte order
        ],
        ids=["c-order", "strided", "int32", "float32", "uint16", "big-endian"],
    )
    def test_other_real_arrays_are_converted_to_fortran_float64(self, array):
        original = array.copy()
        converted = to_host_value(array, "x")
        assert converted.dtype == np.dtype("=f8") and converted.flags.f_contiguous
        assert not np.shares_memory(converted, array)
        np.testing.assert_array_equal(converted, original.astype(np.float64))
        np.testing.assert_array_equal(array, original)


class TestCells:
    def test_list_and_tuple_are_columns_of_elements_in_period_order(self):
        for sequence in ([1.0, np.ones((2, 2)), None], (1.0, np.ones((2, 2)), None)):
            dimensions, elements = to_host_value(sequence, "Y")
            assert dimensions == (3, 1)
            assert [element.shape for element in elements] == [(1, 1), (2, 2), (0, 0)]

    def test_periods_may_hold_different_numbers_of_values(self):
        _, elements = to_host_value([[1.0, 2.0], [3.0], []], "Y")
        assert [element.shape for element in elements] == [(2, 1), (1, 1), (0, 1)]

    def test_list_inside_a_cell_is_a_numeric_array(self):
        _, elements = to_host_value([[1, 2], [[1, 2], [3, 4]]], "Y")
        np.testing.assert_array_equal(elements[0], [[1.0], [2.0]])
        np.testing.assert_array_equal(elements[1], [[1.0, 2.0], [3.0, 4.0]])

    def test_fortran_float64_element_is_passed_as_it_is(self):
        element = np.asfortranarray(np.ones((2, 2)))
        assert to_host_value([element], "A")[1][0] is element


def _object_array(shape, fill):
    array = np.empty(shape, dtype=object)
    array.fill(fill)
    return array


BAD_VALUES = [
    (np.array([1 + 2j]), TypeError, "complex"),
    (1 + 2j, TypeError, "complex"),
    (np.complex128(1), TypeError, "complex"),
    ("1.0", TypeError, "str"),
    (np.array(["a", "b"]), TypeError, "<U1"),
    (True, TypeError, "bool"),
    (np.array([True, False]), TypeError, "bool"),
    (np.array(["2020-01-01"], dtype="datetime64[D]"), TypeError, "datetime64"),
    ({"a": 1}, TypeError, "dict"),
    ({1.0}, TypeError, "set"),
    (datetime.date(2020, 1, 1), TypeError, "date"),
    (np.ma.masked_array([1.0, 2.0], mask=[0, 1]), TypeError, "masked"),
    (10**400, ValueError, "too large"),
    (_object_array(3, 1.0), TypeError, "1-D"),
    (_object_array((2, 2, 2), 1.0), TypeError, "3-D"),
    ([1.0, [[1.0, 2.0], [3.0]]], ValueError, "ragged"),
    ([1.0, "text"], TypeError, "str"),
    ([1.0, [1.0, "text"]], TypeError, "<U"),
    ([1.0, 2j], TypeError, "complex"),
    ([np.ones(2), _object_array((1, 1), 1.0)], TypeError, "do not nest"),
    (_object_array((1, 2), "text"), TypeError, "str"),
]


@pytest.mark.parametrize("value, error, detail", BAD_VALUES, ids=[f"bad{i}" for i in range(len(BAD_VALUES))])
def test_unusable_values_raise_naming_the_argument(value, error, detail):
    with pytest.raises(error) as raised:
        to_host_value(value, "argument 'Q'")
    message = str(raised.value)
    assert "argument 'Q'" in message
    assert detail in message
