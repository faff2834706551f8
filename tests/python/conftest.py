"""Every test must leave the host as it found it: no block, and no array but
the results it still holds."""

import gc

import pytest

import statespace


def pytest_configure(config):
    config.addinivalue_line("markers", "reclaims_blocks: the test makes the host reclaim blocks on purpose")


@pytest.fixture(autouse=True)
def host_left_clean(request):
    before = statespace.host_counters()
    yield
    # A result is a numpy array over the host's output array, which lives as
    # long as the result does; once the test's results are gone, so are they.
    after = statespace.host_counters()
    if after["arrays_live"] > before["arrays_live"]:
        gc.collect()
        after = statespace.host_counters()
    assert after["blocks_live"] == 0, "a call left blocks allocated"
    assert after["bytes_live"] == 0
    assert after["arrays_live"] <= before["arrays_live"], "a call left host arrays behind"
    if request.node.get_closest_marker("reclaims_blocks") is None:
        assert after["blocks_reclaimed"] == before["blocks_reclaimed"], "a module did not free its blocks"
