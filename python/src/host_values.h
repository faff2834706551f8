// Moving values across the boundary between Python and the host. The Python
// side of the package has already brought every input into one of the two
// forms below, so nothing here guesses at conversions.
#pragma once

#include "orrim_host.hpp"

#include <pybind11/pybind11.h>

namespace statespace {

// An input is either an aligned, float64, Fortran-ordered numpy array of two or
// more dimensions, wrapped without a copy, or a cell given as the tuple
// (dimensions, elements) with the elements in column-major order, each again
// such an input. Anything else is a TypeError: the package never sends it.
orrim::ArrayPtr toHostArray(const pybind11::handle &value);

// The commonest values, read here as the package's conversion reads them but
// without going back to Python: a numpy.ndarray (not a subclass) of aligned
// native float64 (0-d as 1 x 1, 1-D as a column), wrapped without a copy when
// Fortran-ordered and copied into a new host array otherwise; a float,
// numpy.float64 or int that a double holds, as a 1 x 1 array over
// `numberStorage`, which the caller keeps for as long as the array; None as
// an empty array. Null for any other value, which the package converts.
orrim::ArrayPtr directHostArray(const pybind11::handle &value, double &numberStorage);
// Once, when the extension loads, before directHostArray is called.
void initialiseDirectForms();

// A real host array becomes a float64 Fortran-ordered numpy array of the same
// dimensions that owns it: no copy, and the host array goes when the numpy
// array does. A missing output becomes None.
pybind11::object fromHostArray(orrim::ArrayPtr array);

}  // namespace statespace
