"""What the tests need to know about the build they run against."""

import os
import pathlib

import pytest

import statespace
from statespace._modules import MODULE_PATHS

# The build puts the test probe module next to the package; an installed
# package has none, so the suite run against it names the build's.
PROBE_MODULE = pathlib.Path(os.environ.get("ORRIM_PROBE_MODULE") or
                            pathlib.Path(statespace.__file__).resolve().parent.parent / "testing" / "orrimprobe.so")


def requires_module(name):
    """Skips a test when the build has no file for module `name`."""
    built = name in MODULE_PATHS and os.path.isfile(MODULE_PATHS[name])
    return pytest.mark.skipif(not built, reason=f"the {name} module is not built")


requires_probe = pytest.mark.skipif(not PROBE_MODULE.is_file(), reason="built without tests: no probe module")
