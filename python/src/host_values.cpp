#include "host_values.h"

#include <pybind11/numpy.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace py = pybind11;

namespace statespace {
namespace {

using FortranDoubles = py::array_t<double, py::array::f_style>;

std::vector<uint64_t> dimensionsOf(const py::handle &shape) {
  std::vector<uint64_t> dimensions;
  for (const py::handle extent : shape) {
    dimensions.push_back(extent.cast<uint64_t>());
  }
  return dimensions;
}

orrim::ArrayPtr wrapDoubles(const FortranDoubles &array) {
  if (array.ndim() < 2) {
    throw py::type_error("a host array needs at least two dimensions");
  }
  std::vector<uint64_t> dimensions(static_cast<size_t>(array.ndim()));
  for (size_t d = 0; d < dimensions.size(); ++d) {
    dimensions[d] = static_cast<uint64_t>(array.shape(static_cast<py::ssize_t>(d)));
  }
  // numpy may give an empty array no storage at all; the host wants its own.
  if (array.size() == 0) {
    return orrim::createReal(dimensions);
  }
  return orrim::wrapReal(dimensions, array.data());
}

orrim::ArrayPtr buildCell(const py::tuple &cell) {
  if (cell.size() != 2) {
    throw py::type_error("a cell is the tuple (dimensions, elements)");
  }
  const std::vector<uint64_t> dimensions = dimensionsOf(cell[0]);
  const py::sequence elements = cell[1].cast<py::sequence>();
  // Compared before the cell is made: a cell of absurd dimensions would make
  // the host try to reserve its slots, and no list can be that long.
  uint64_t positions = 1;
  for (const uint64_t extent : dimensions) {
    if (__builtin_mul_overflow(positions, extent, &positions)) {
      throw py::value_error("a cell needs one element per position");
    }
  }
  if (elements.size() != positions) {
    throw py::value_error("a cell needs one element per position");
  }
  orrim::ArrayPtr array = orrim::createCell(dimensions);
  for (size_t index = 0; index < elements.size(); ++index) {
    orrim::setCellElement(array.get(), index, toHostArray(elements[index]));
  }
  return array;
}

}  // namespace

orrim::ArrayPtr toHostArray(const py::handle &value) {
  if (py::isinstance<FortranDoubles>(value)) {
    return wrapDoubles(py::reinterpret_borrow<FortranDoubles>(value));
  }
  if (py::isinstance<py::tuple>(value)) {
    return buildCell(py::reinterpret_borrow<py::tuple>(value));
  }
  throw py::type_error("a host input must be a float64 Fortran-ordered array or a (dimensions, elements) cell");
}

py::object fromHostArray(orrim::ArrayPtr array) {
  if (array == nullptr) {
    return py::none();
  }
  // Modules can only create real matrices, so a cell here is a broken host.
  if (orrimIsCell(array.get())) {
    throw py::type_error("a module returned a cell array, which this front cannot read");
  }
  std::vector<py::ssize_t> shape;
  std::vector<py::ssize_t> strides;
  py::ssize_t stride = sizeof(double);
  for (const uint64_t extent : orrim::dimensions(array.get())) {
    shape.push_back(static_cast<py::ssize_t>(extent));
    strides.push_back(stride);
    stride *= static_cast<py::ssize_t>(extent > 0 ? extent : 1);
  }
  double *data = orrimRealData(array.get());
  // The capsule takes the host array over only once it exists: if it cannot
  // be made, `array` still frees it. From then on the capsule does, also when
  // the numpy array cannot be made.
  const py::capsule owner(array.get(), [](void *held) { orrim::ArrayDeleter()(static_cast<OrrimArray *>(held)); });
  array.release();
  return py::array_t<double>(shape, strides, data, owner);
}

}  // namespace statespace
