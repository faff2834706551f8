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

// The inputs of one call in host form, with what keeps their memory alive.
struct HostInputs {
  // The numbers given as inputs, one place per input, which their host
  // arrays read; declared first, so that it goes last.
  std::vector<double> numbers;
  std::vector<orrim::ArrayPtr> arrays;
  // What `convert` returned: host arrays may read its numpy memory.
  std::vector<py::object> converted;
};

py::object inputName(const py::object &names, size_t position) {
  if (!names.is_none()) {
    return names[py::int_(position)];
  }
  return py::str("input " + std::to_string(position + 1));
}

// Every input in host form before the module sees any of them. With
// `convert`, a value directHostArray cannot read goes through
// convert(value, name), the package's conversion, which names the argument in
// its errors; without it, every input must already be in host form.
HostInputs toHostInputs(const py::sequence &inputs, const py::object &names, const py::object &convert) {
  const size_t count = inputs.size();
  if (!names.is_none() && py::len(names) != count) {
    throw py::value_error("one name per input is needed");
  }
  HostInputs host;
  host.numbers.resize(count);
  host.arrays.reserve(count);
  for (size_t position = 0; position < count; ++position) {
    const py::object value = inputs[position];
    try {
      orrim::ArrayPtr array = convert.is_none() ? nullptr : statespace::directHostArray(value, host.numbers[position]);
      if (array == nullptr) {
        if (convert.is_none()) {
          array = statespace::toHostArray(value);
        } else {
          py::object prepared = convert(value, inputName(names, position));
          array = statespace::toHostArray(prepared);
          host.converted.push_back(std::move(prepared));
        }
      }
      host.arrays.push_back(std::move(array));
    } catch (const orrim::HostError &error) {
      raisePythonError(PyExc_ValueError, py::str(inputName(names, position)).cast<std::string>() + ": " + error.what());
    }
  }
  return host;
}

// Returns the module's first output, or a tuple of its first `outputCount`
// outputs. The inputs stay referenced by `inputs`, and what conversion made by
// `host`, for the whole call, so the host may read numpy memory with the GIL
// released.
py::object callModule(const orrim::Module &module, const py::sequence &inputs, const py::object &names,
                      const py::object &convert, int outputCount) {
  if (outputCount < 1 || outputCount > orrim::maxOutputCount) {
    throw py::value_error("outputs must be from 1 to " + std::to_string(orrim::maxOutputCount) + ", not " +
                          std::to_string(outputCount));
  }
  const HostInputs host = toHostInputs(inputs, names, convert);
  std::vector<const OrrimArray *> handles;
  handles.reserve(host.arrays.size());
  for (const orrim::ArrayPtr &array : host.arrays) {
    handles.push_back(array.get());
  }
  orrim::CallResult result;
  {
    const py::gil_scoped_release unlocked;
    result = module.call(outputCount, handles);
  }
  if (result.failed) {
    raiseOrrimError(result.identifier, result.message);
  }
  if (outputCount == 1) {
    return statespace::fromHostArray(result.outputs.empty() ? nullptr : std::move(result.outputs[0]));
  }
  // A slot the module left empty means it gives fewer outputs than asked;
  // what it did give is released with `result`.
  for (int slot = 0; slot < outputCount; ++slot) {
    if (result.outputs[slot] == nullptr) {
      throw py::value_error("the module at " + module.path() + " gives " + std::to_string(slot) +
                            " output(s), not the " + std::to_string(outputCount) + " asked for");
    }
  }
  py::tuple outputs(outputCount);
  for (int slot = 0; slot < outputCount; ++slot) {
    outputs[slot] = statespace::fromHostArray(std::move(result.outputs[slot]));
  }
  return outputs;
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
  statespace::initialiseDirectForms();

  py::class_<orrim::Module>(extension, "Module", "A module loaded from its shared library file.")
      .def(py::init(&loadModule), py::arg("path"), "Loads the module at `path`; OSError when it cannot be loaded.")
      .def_property_readonly("path", &orrim::Module::path)
      .def("call", &callModule, py::arg("inputs"), py::arg("names") = py::none(), py::arg("convert") = py::none(),
           py::arg("outputs") = 1,
           "Calls the module and returns its first output, or a tuple of its first `outputs` outputs.\n"
           "Without `convert`, the inputs must be in host form;\n"
           "with it, any value the extension cannot read directly becomes convert(value, name), `name` from\n"
           "`names` or 'input <position>'.");

  extension.def("host_counters", &countersAsDict, "The host's memory and array counters.");
  extension.def("reset_host_counters", &orrim::resetCounters,
                "Zeroes the event counters; the counts of what exists now stay.");
  extension.def("set_memory_limit", &orrim::setMemoryLimit, py::arg("bytes"),
                "Makes host allocations fail beyond `bytes` live bytes; 0 lifts the limit.");
}
