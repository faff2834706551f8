"""Finding, loading and calling modules."""

import os

from . import _statespace
from ._conversion import to_host_value
# The module names and the most outputs each gives (the log-likelihood,
# filtered means and covariances; the smoothed means and covariances), written
# by the build from modules.txt.
from ._module_list import MODULE_NAMES, MODULE_OUTPUT_COUNTS
from ._module_paths import MODULE_PATHS as _RECORDED_PATHS

# An installed package records where its modules are relative to itself, so
# that it finds them inside itself wherever it is installed; a build tree
# records absolute paths, which the join leaves as they are.
_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
MODULE_PATHS = {name: os.path.join(_PACKAGE_DIR, path) for name, path in _RECORDED_PATHS.items()}

# Loaded modules by real path; a module stays loaded for the life of the process.
_loaded = {}
# The same modules by the names and absolute paths they were called by, so that
# a repeated call finds its module without asking the file system. A relative
# path is not kept: it means another file once the working directory changes.
_resolved = {}


def available_modules():
    """The names of the modules this build provides, in a fixed order."""
    return tuple(name for name in MODULE_NAMES if name in MODULE_PATHS)


def call(module, *inputs, outputs=1):
    """Calls a module with any number of inputs and returns its first output,
    or with ``outputs`` > 1 a tuple of its first ``outputs`` outputs.

    ``module`` is a module name (``"statefilter"``, ``"cellstatefilter"``,
    ``"statefiltergradient"``,
    ``"statesmoother"``) or the path of any module built against the host.
    A module file is loaded on its first call and stays loaded for the life
    of the process. Inputs are converted as described in the package
    documentation and are never modified. A module's error raises
    ``OrrimError``; asking for more outputs than the module gives raises
    ``ValueError``. Outputs come as the module made them: the covariances of
    ``statefilter`` and ``statesmoother`` are m x m x T.
    """
    return call_with_names(module, inputs, None, outputs)


def call_with_names(module, inputs, names, outputs=1):
    """``call`` with the names that conversion errors give each input (a tuple
    of one name per input), or None for "input <position>"."""
    if outputs != 1:
        _check_output_count(module, outputs)
    loaded = _resolved.get(module) if type(module) is str else None
    if loaded is None:
        loaded = _load(module)
    # The extension converts every input before the module runs, so a bad
    # one stops the call before the module has seen anything.
    return loaded.call(inputs, names, to_host_value, outputs)


def _check_output_count(module, outputs):
    if type(outputs) is not int:
        raise TypeError(f"outputs is a count, not {type(outputs).__name__}")
    gives = MODULE_OUTPUT_COUNTS.get(module) if type(module) is str else None
    if gives is not None and outputs > gives:
        raise ValueError(f"the module {module!r} gives {gives} outputs, not the {outputs} asked for")


def _load(module):
    path = _module_path(module)
    real_path = os.path.realpath(path)
    if real_path not in _loaded:
        _loaded[real_path] = _statespace.Module(real_path)
    loaded = _loaded[real_path]
    if type(module) is str and (module in MODULE_PATHS or os.path.isabs(module)):
        _resolved[module] = loaded
    return loaded


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
