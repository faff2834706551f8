#include "host_values.h"

#include <pybind11/numpy.h>

#include <cstdint>
#include <cstring>
#include <utility>
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

// The host's view of numpy memory the caller keeps alive for the call.
orrim::ArrayPtr wrapDoubles(std::vector<uint64_t> dimensions, const double *data) {
  uint64_t count = 1;
  for (const uint64_t extent : dimensions) {
    count *= extent;
  }
  // numpy may give an empty array no storage at all; the host wants its own.
  if (count == 0) {
    return orrim::createReal(std::move(dimensions));
  }
  return orrim::wrapReal(std::move(dimensions), data);
}

orrim::ArrayPtr wrapPreparedDoubles(const FortranDoubles &array) {
  if (array.ndim() < 2) {
    throw py::type_error("a host array needs at least two dimensions");
  }
  std::vector<uint64_t> dimensions(static_cast<size_t>(array.ndim()));
  for (size_t d = 0; d < dimensions.size(); ++d) {
    dimensions[d] = static_cast<uint64_t>(array.shape(static_cast<py::ssize_t>(d)));
  }
  return wrapDoubles(std::move(dimensions), array.data());
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

// What directHostArray compares types with, fixed when the extension loads.
struct DirectForms {
  PyTypeObject *ndarray = nullptr;
  PyTypeObject *float64 = nullptr;  // numpy's float64 scalar, a float subclass
  PyObject *nativeDouble = nullptr;  // the dtype of native float64
};
DirectForms directForms;

// A 1 x 1 array over `storage`, which holds `value` for the call.
orrim::ArrayPtr oneValue(double value, double &storage) {
  storage = value;
  return orrim::wrapReal({1, 1}, &storage);
}

// Element by element in column-major order: the first index runs fastest.
// `strides` are in bytes and may be negative; every element is an aligned
// double.
void copyInColumnOrder(double *out, const char *data, int dimensionCount, const py::ssize_t *shape,
                       const py::ssize_t *strides) {
  const py::ssize_t rows = dimensionCount == 0 ? 1 : shape[0];
  const py::ssize_t rowStride = dimensionCount == 0 ? 0 : strides[0];
  py::ssize_t columns = 1;
  for (int d = 1; d < dimensionCount; ++d) {
    columns *= shape[d];
  }
  std::vector<py::ssize_t> index(static_cast<size_t>(dimensionCount > 1 ? dimensionCount : 1), 0);
  const char *column = data;
  for (py::ssize_t c = 0; c < columns; ++c) {
    for (py::ssize_t r = 0; r < rows; ++r) {
      *out++ = *reinterpret_cast<const double *>(column + r * rowStride);
    }
    // The next column: the lowest later dimension that has not run out steps
    // on, and those before it start again.
    for (int d = 1; d < dimensionCount; ++d) {
      if (++index[static_cast<size_t>(d)] < shape[d]) {
        column += strides[d];
        break;
      }
      column -= (shape[d] - 1) * strides[d];
      index[static_cast<size_t>(d)] = 0;
    }
  }
}

// An ndarray of native float64 with the shape the package gives it: wrapped
// in place when Fortran-ordered, else copied into a new host array in that
// order. Null when it needs the package's conversion.
orrim::ArrayPtr nativeDoubles(PyObject *object) {
  const py::detail::PyArray_Proxy *array = py::detail::array_proxy(object);
  if ((array->flags & py::detail::npy_api::NPY_ARRAY_ALIGNED_) == 0 ||
      !py::detail::npy_api::get().PyArray_EquivTypes_(array->descr, directForms.nativeDouble)) {
    return nullptr;
  }
  std::vector<uint64_t> dimensions;
  if (array->nd == 0) {
    dimensions = {1, 1};
  } else if (array->nd == 1) {
    dimensions = {static_cast<uint64_t>(array->dimensions[0]), 1};
  } else {
    dimensions.assign(array->dimensions, array->dimensions + array->nd);
  }
  if ((array->flags & py::detail::npy_api::NPY_ARRAY_F_CONTIGUOUS_) != 0) {
    return wrapDoubles(std::move(dimensions), reinterpret_cast<const double *>(array->data));
  }
  orrim::ArrayPtr copy = orrim::createReal(std::move(dimensions));
  copyInColumnOrder(orrimRealData(copy.get()), array->data, array->nd, array->dimensions, array->strides);
  return copy;
}

}  // namespace

void initialiseDirectForms() {
  // References kept for the life of the process, like the types themselves.
  directForms.ndarray = py::detail::npy_api::get().PyArray_Type_;
  const py::object float64 = py::module_::import("numpy").attr("float64");
  directForms.float64 = reinterpret_cast<PyTypeObject *>(float64.inc_ref().ptr());
  directForms.nativeDouble = py::dtype::of<double>().release().ptr();
}

orrim::ArrayPtr directHostArray(const py::handle &value, double &numberStorage) {
  PyObject *object = value.ptr();
  PyTypeObject *type = Py_TYPE(object);
  if (type == directForms.ndarray) {
    return nativeDoubles(object);
  }
  if (type == &PyFloat_Type || type == directForms.float64) {
    return oneValue(PyFloat_AS_DOUBLE(object), numberStorage);
  }
  if (type == &PyLong_Type) {
    // float(value), as the package converts it; too large for a double, it
    // is left to the package, which says so.
    const double number = PyLong_AsDouble(object);
    if (number == -1.0 && PyErr_Occurred() != nullptr) {
      PyErr_Clear();
      return nullptr;
    }
    return oneValue(number, numberStorage);
  }
  if (object == Py_None) {
    return orrim::createEmpty();
  }
  return nullptr;
}

orrim::ArrayPtr toHostArray(const py::handle &value) {
  if (py::isinstance<FortranDoubles>(value)) {
    if ((py::detail::array_proxy(value.ptr())->flags & py::detail::npy_api::NPY_ARRAY_ALIGNED_) == 0) {
      throw py::type_error("a host array must be aligned: the modules read whole doubles");
    }
    return wrapPreparedDoubles(py::reinterpret_borrow<FortranDoubles>(value));
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
  const uint64_t dimensionCount = orrimDimensionCount(array.get());
  const uint64_t *extents = orrimDimensions(array.get());
  std::vector<py::ssize_t> shape(dimensionCount);
  std::vector<py::ssize_t> strides(dimensionCount);
  py::ssize_t stride = sizeof(double);
  for (uint64_t d = 0; d < dimensionCount; ++d) {
    shape[d] = static_cast<py::ssize_t>(extents[d]);
    strides[d] = stride;
    stride *= static_cast<py::ssize_t>(extents[d] > 0 ? extents[d] : 1);
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
