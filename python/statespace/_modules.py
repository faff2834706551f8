"""Finding, loading and calling modules."""

import os

from . import _statespace
from ._conversion import to_host_value
from ._module_paths import MODULE_PATHS

MODULE_NAMES = ("statefilter", "cellstatefilter", "statesmoother")

# Loaded modules by real path; a module stays loaded for the life of the process.
_loaded = {}


def available_modules():
    """The names of the modules this build provides, in a fixed order."""
    return tuple(name for name in MODULE_NAMES if name in MODULE_PATHS)


def call(module, *inputs):
    """Calls a module with any number of inputs and returns its first output.

    ``module`` is a module name (``"statefilter"``, ``"cellstatefilter"``,
    ``"statesmoother"``) or the path of any module built against the host.
    Inputs are converted as described in the package documentation and are
    never modified. A module's error raises ``OrrimError``.
    """
    names = [f"input {position}" for position in range(1, len(inputs) + 1)]
    return call_with_names(module, inputs, names)


def call_with_names(module, inputs, names):
    """``call`` with the names that conversion errors give each input."""
    loaded = _load(module)
    # Every input is converted before the module runs, so a bad one stops the
    # call before the module has seen anything.
    host_inputs = [to_host_value(value, name) for value, name in zip(inputs, names)]
    return loaded.call(host_inputs)


def _load(module):
    path = _module_path(module)
    real_path = os.path.realpath(path)
    if real_path not in _loaded:
        _loaded[real_path] = _statespace.Module(real_path)
    return _loaded[real_path]


def _module_path(module):
    if isinstance(module, os.PathLike):
        module = os.fspath(module)
    if not isinstance(module, str):
        raise TypeError(f"a module is named by a string or a path, not by {type(module).__name__}")
    if module in MODULE_PATHS:
        return MODULE_PATHS[module]
    if module in MODULE_NAMES:
        raise FileNotFoundError(f"the module {module!r} is not built in this build tree")
    if os.sep not in module and not os.path.exists(module):
        known = ", ".join(available_modules())
        raise ValueError(f"unknown module {module!r}; give one of {known} or the path of a module file")
    if not os.path.isfile(module):
        raise FileNotFoundError(f"no module file at {module!r}")
    return module
