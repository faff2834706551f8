// The `_statespace` extension: the host as the `statespace` package sees it.
// It loads modules, calls them with inputs the package has already prepared,
// and turns a module's error into `statespace.OrrimError`.
#include "host_values.h"
#include "orrim_host.hpp"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

namespace py = pybind11;

namespace {

[[noreturn]] void raisePythonError(PyObject *type, const std::string &message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

// The exception class lives in Python, where its docstring and attributes are
// easy to read; the extension only raises it.
[[noreturn]] void raiseOrrimError(const std::string &identifier, const std::string &message) {
  const py::object errorType = py::module_::import("statespace._errors").attr("OrrimError");
  const py::object error = errorType(message, identifier);
  PyErr_SetObject(errorType.ptr(), error.ptr());
  throw py::error_already_set();
}

orrim::Module loadModule(const std::string &path) {
  try {
    return orrim::Module::load(path);
  } catch (const orrim::HostError &error) {
    raisePythonError(PyExc_OSError, error.what());
  }
}

std::vector<orrim::ArrayPtr> toHostArrays(const py::sequence &inputs) {
  std::vector<orrim::ArrayPtr> arrays;
  arrays.reserve(inputs.size());
  for (size_t position = 0; position < inputs.size(); ++position) {
    try {
      arrays.push_back(statespace::toHostArray(inputs[position]));
    } catch (const orrim::HostError &error) {
      raisePythonError(PyExc_ValueError, "input " + std::to_string(position + 1) + ": " + error.what());
    }
  }
  return arrays;
}

// Returns the module's first output. The inputs stay referenced by `inputs`
// for the whole call, so the host may read numpy memory with the GIL released.
py::object callModule(const orrim::Module &module, const py::sequence &inputs) {
  const std::vector<orrim::ArrayPtr> arrays = toHostArrays(inputs);
  std::vector<const OrrimArray *> handles;
  handles.reserve(arrays.size());
  for (const orrim::ArrayPtr &array : arrays) {
    handles.push_back(array.get());
  }
  orrim::CallResult result;
  {
    const py::gil_scoped_release unlocked;
    result = module.call(1, handles);
  }
  if (result.failed) {
    raiseOrrimError(result.identifier, result.message);
  }
  return statespace::fromHostArray(result.outputs.empty() ? nullptr : std::move(result.outputs[0]));
}

py::dict countersAsDict() {
  const orrim::Counters counters = orrim::counters();
  py::dict result;
  result["blocks_live"] = counters.blocksLive;
  result["allocations"] = counters.allocations;
  result["reallocations"] = counters.reallocations;
  result["bytes_live"] = counters.bytesLive;
  result["peak_bytes"] = counters.peakBytes;
  result["blocks_reclaimed"] = counters.blocksReclaimed;
  result["arrays_live"] = counters.arraysLive;
  return result;
}

}  // namespace

PYBIND11_MODULE(_statespace, extension) {
  extension.doc() = "The Orrim host for the statespace package.";

  py::class_<orrim::Module>(extension, "Module", "A module loaded from its shared library file.")
      .def(py::init(&loadModule), py::arg("path"), "Loads the module at `path`; OSError when it cannot be loaded.")
      .def_property_readonly("path", &orrim::Module::path)
      .def("call", &callModule, py::arg("inputs"),
           "Calls the module with prepared inputs and returns its first output.");

  extension.def("host_counters", &countersAsDict, "The host's memory and array counters.");
  extension.def("reset_host_counters", &orrim::resetCounters,
                "Zeroes the event counters; the counts of what exists now stay.");
  extension.def("set_memory_limit", &orrim::setMemoryLimit, py::arg("bytes"),
                "Makes host allocations fail beyond `bytes` live bytes; 0 lifts the limit.");
}
