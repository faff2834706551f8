"""Calling the modules from Python: results, errors and what a call leaves."""

import copy
import os
import pathlib
import pickle
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import statespace
from statespace import _statespace
from statespace._modules import MODULE_PATHS
from host_support import requires_module
from random_models import module_arguments, random_model

FILTER_ARGUMENTS = ("Y", "A", "B", "C", "D", "x0", "P0", "tol")


def filter_inputs(model, tol=0.0):
    return [model.Y, model.A, model.B, model.C, model.D, model.x0, model.P0, tol]


def smoother_inputs(model, tol=0.0):
    return [model.Y, model.A, model.B, model.C, model.D, model.P0, tol, model.x0,
            model.stateIntercept, model.observationIntercept]


def cell_filter_inputs(model):
    """A paged model as cellstatefilter takes it: lists of per-period matrices."""
    inputs = filter_inputs(model)
    inputs[0] = [model.Y[t] for t in range(model.periods)]
    inputs[3] = [model.C[:, :, t] for t in range(model.periods)]
    inputs[4] = tuple(np.asfortranarray(model.D[:, :, t]) for t in range(model.periods))
    return inputs


def assert_same_values(expected, actual):
    if isinstance(expected, (list, tuple)):
        assert len(actual) == len(expected)
        for old, new in zip(expected, actual):
            assert_same_values(old, new)
    elif expected is None:
        assert actual is None
    else:
        np.testing.assert_array_equal(np.asarray(actual), expected)


@pytest.mark.parametrize(
    "function, inputs",
    [
        pytest.param(statespace.statefilter, filter_inputs(random_model(2, paged="AD", missing=0.2)),
                     marks=requires_module("statefilter"), id="statefilter"),
        pytest.param(statespace.cellstatefilter, cell_filter_inputs(random_model(12, paged="CD")),
                     marks=requires_module("cellstatefilter"), id="cellstatefilter"),
        pytest.param(statespace.statesmoother, smoother_inputs(random_model(15, paged="AB", intercepts=True)),
                     marks=requires_module("statesmoother"), id="statesmoother"),
        pytest.param(statespace.simulationsmoother, smoother_inputs(random_model(16, paged="BD", intercepts=True)),
                     marks=requires_module("simulationsmoother"), id="simulationsmoother"),
    ],
)
def test_inputs_are_not_modified(function, inputs):
    # Fortran-ordered float64 inputs reach the module in place, others as copies.
    inputs[1] = np.asfortranarray(inputs[1])
    inputs[2] = np.ascontiguousarray(inputs[2])
    before = copy.deepcopy(inputs)
    function(*inputs)
    assert_same_values(before, inputs)


@requires_module("statefilter")
class TestStatefilter:
    def test_result_is_a_float64_column_per_period(self):
        model = random_model(1, periods=9)
        result = statespace.statefilter(*filter_inputs(model))
        assert result.shape == (9, 1) and result.dtype == np.float64
        assert np.all(np.isfinite(result))

    def test_no_periods_give_an_empty_column(self):
        model = random_model(1)
        model.Y = np.zeros((0, 2))
        assert statespace.statefilter(*filter_inputs(model)).shape == (0, 1)

    def test_any_real_form_of_the_same_values_gives_the_same_result(self):
        model = random_model(3, series=1, states=1, state_shocks=1, observation_shocks=1)
        model.Y = np.round(model.Y * 10)
        reference = statespace.statefilter(*filter_inputs(model))
        as_integers = statespace.statefilter(model.Y.astype(np.int32), *filter_inputs(model)[1:])
        as_vector = statespace.statefilter(model.Y[:, 0], *filter_inputs(model)[1:])
        as_scalars = statespace.statefilter(
            model.Y, float(model.A[0, 0]), float(model.B[0, 0]), float(model.C[0, 0]), float(model.D[0, 0]),
            float(model.x0[0]), float(model.P0[0, 0]), np.int8(0))
        for result in (as_integers, as_vector, as_scalars):
            np.testing.assert_array_equal(result, reference)

    def test_three_d_coefficient_is_paged_and_a_fourth_dimension_must_be_one(self):
        model = random_model(5, paged="A")
        paged = statespace.statefilter(*filter_inputs(model))
        inputs = filter_inputs(model)
        inputs[1] = model.A[:, :, :, np.newaxis]
        np.testing.assert_array_equal(statespace.statefilter(*inputs), paged)
        inputs[1] = model.A[:, :, 0]
        assert not np.array_equal(paged, statespace.statefilter(*inputs))
        inputs[1] = np.stack([model.A, model.A], axis=3)
        with pytest.raises(statespace.OrrimError) as raised:
            statespace.statefilter(*inputs)
        assert raised.value.identifier == "tarv:ssm:kfc:InputShape"
        assert str(raised.value).startswith("Input 2 (A) is 3 x 3 x 20 x 2;"), str(raised.value)

    def test_by_name_and_by_path_are_the_same_module(self):
        inputs = filter_inputs(random_model(6))
        np.testing.assert_array_equal(statespace.call("statefilter", *inputs),
                                      statespace.call(MODULE_PATHS["statefilter"], *inputs))

    @pytest.mark.parametrize("periods", [0, 1, 6])
    def test_covariances_are_a_view_of_the_module_s_pages(self, periods):
        model = random_model(8, periods=periods, states=3)
        loglik, means, covariances = statespace.statefilter(*filter_inputs(model), return_states=True)
        assert (loglik.shape, means.shape, covariances.shape) == ((periods, 1), (periods, 3), (periods, 3, 3))
        pages = statespace.call("statefilter", *filter_inputs(model), outputs=3)[2]
        assert pages.shape == (3, 3, periods)
        np.testing.assert_array_equal(covariances, np.moveaxis(pages, 2, 0))
        if periods > 0:
            assert not covariances.flags.owndata
            assert covariances.strides == (72, 8, 24)

    def test_more_outputs_than_the_module_gives_are_refused(self):
        inputs = filter_inputs(random_model(9))
        allocations = statespace.host_counters()["allocations"]
        with pytest.raises(ValueError, match="gives 3 outputs, not the 4 asked for"):
            statespace.call("statefilter", *inputs, outputs=4)
        assert statespace.host_counters()["allocations"] == allocations, "refused before the module ran"
        # By path the front learns it from the module, which fills what it has.
        with pytest.raises(ValueError, match="gives 3 output"):
            statespace.call(MODULE_PATHS["statefilter"], *inputs, outputs=5)
        for outputs in (0, 17):
            with pytest.raises(ValueError, match="outputs must be from 1 to 16"):
                statespace.call(MODULE_PATHS["statefilter"], *inputs, outputs=outputs)


@requires_module("statefilter")
class TestErrors:
    def test_wrong_input_count_raises_the_module_error_before_any_allocation(self):
        inputs = filter_inputs(random_model(7))
        allocations = statespace.host_counters()["allocations"]
        for count in (7, 9):
            with pytest.raises(statespace.OrrimError) as raised:
                statespace.call("statefilter", *(inputs + [0.0])[:count])
            assert raised.value.identifier == "tarv:ssm:kfc:NotEnoughInputs"
            assert str(raised.value) == "This function requires 8 input matrices."
        assert statespace.host_counters()["allocations"] == allocations

    def test_module_error_is_an_exception_that_keeps_its_identifier_when_pickled(self):
        error = statespace.OrrimError("message", "a:b:C")
        assert isinstance(error, Exception)
        copy = pickle.loads(pickle.dumps(error))
        assert (copy.identifier, str(copy)) == ("a:b:C", "message")

    def test_inconsistent_shape_is_the_module_s_error(self):
        inputs = filter_inputs(random_model(8, states=3))
        inputs[6] = np.eye(2)  # P0 too small for three states
        with pytest.raises(statespace.OrrimError) as raised:
            statespace.statefilter(*inputs)
        assert raised.value.identifier.startswith("tarv:ssm:kfc:")

    @pytest.mark.reclaims_blocks
    def test_memory_running_out_mid_call_is_an_error_and_frees_every_block(self):
        # The smoother with its covariances takes its blocks in turn: limits
        # from none of them to all but the last run out at each in turn.
        inputs = smoother_inputs(random_model(9, states=6))
        limit, reclaimed_mid_call = 64, False
        while True:
            reclaimed = statespace.host_counters()["blocks_reclaimed"]
            _statespace.set_memory_limit(limit)
            try:
                statespace.statesmoother(*inputs, return_covariances=True)
                break
            except statespace.OrrimError as raised:
                assert raised.identifier == "orrim:OutOfMemory"
            finally:
                _statespace.set_memory_limit(0)
            counters = statespace.host_counters()
            assert counters["blocks_live"] == 0, limit
            reclaimed_mid_call |= counters["blocks_reclaimed"] > reclaimed
            limit += 64
        assert reclaimed_mid_call, "no limit ran out after a block was taken"

    @pytest.mark.parametrize("position", range(8))
    def test_bad_value_names_the_argument_and_stops_before_the_module(self, position):
        inputs = filter_inputs(random_model(10))
        inputs[position] = np.array([1j])
        allocations = statespace.host_counters()["allocations"]
        with pytest.raises(TypeError, match=f"statefilter\\(\\) argument '{FILTER_ARGUMENTS[position]}'"):
            statespace.statefilter(*inputs)
        assert statespace.host_counters()["allocations"] == allocations

    def test_call_names_inputs_by_position(self):
        with pytest.raises(ValueError, match="input 3"):
            statespace.call("statefilter", 1.0, 1.0, [[1.0], [1.0, 2.0, [3.0]]])

    def test_module_names_and_paths_are_checked(self, tmp_path):
        with pytest.raises(ValueError, match="unknown module 'statefilters'"):
            statespace.call("statefilters")
        with pytest.raises(FileNotFoundError):
            statespace.call(str(tmp_path / "missing.so"))
        with pytest.raises(TypeError):
            statespace.call(3)


@requires_module("cellstatefilter")
class TestCellstatefilter:
    def test_list_inputs_give_a_column_per_period(self):
        result = statespace.cellstatefilter(
            [[1.0, 2.0], [3.0], []], 0.9, 0.5, [np.ones((2, 1)), np.ones((1, 1)), np.zeros((0, 1))],
            [np.ones((2, 1)), np.ones((1, 1)), np.zeros((0, 1))], 0.0, 1.0, 0.0)
        assert result.shape == (3, 1)
        assert result[2, 0] == 0.0

    @requires_module("statefilter")
    def test_matrices_only_give_statefilter_s_result(self):
        inputs = filter_inputs(random_model(11, missing=0.2))
        np.testing.assert_array_equal(statespace.cellstatefilter(*inputs), statespace.statefilter(*inputs))

    def test_wrong_input_count_is_its_own_error(self):
        with pytest.raises(statespace.OrrimError) as raised:
            statespace.call("cellstatefilter", 1.0)
        assert raised.value.identifier == "tarv:ssm:kfctv:NotEnoughInputs"
        assert str(raised.value) == "This function requires 8 input matrices."

    def test_bad_value_names_the_argument(self):
        with pytest.raises(ValueError, match=r"cellstatefilter\(\) argument 'C'\[1\]"):
            statespace.cellstatefilter(1.0, 1.0, 1.0, [1.0, [[1.0], [1.0, 2.0]]], 1.0, 0.0, 1.0, 0.0)


@requires_module("statefiltergradient")
@requires_module("statefilter")
class TestStatefiltergradient:
    def test_log_likelihood_is_statefilter_s_and_each_derivative_has_its_argument_s_shape(self):
        # B as a number, x0 as a row: each derivative in the argument's shape.
        inputs = filter_inputs(random_model(21, periods=6, states=1, series=2, paged="AD", missing=0.2))
        inputs[2], inputs[5] = 0.4, np.array([[0.3]])
        loglik, gradient = statespace.statefiltergradient(*inputs)
        np.testing.assert_array_equal(loglik, statespace.statefilter(*inputs))
        assert list(gradient) == ["A", "B", "C", "D", "x0", "P0"]
        for name, argument in zip(gradient, inputs[1:7]):
            assert gradient[name].shape == np.shape(argument), name
        assert gradient["x0"][0, 0] != 0.0
        outputs = statespace.call("statefiltergradient", *inputs, outputs=7)
        assert outputs[1].shape == (1, 1, 6) and outputs[5].shape == (1, 1)

    def test_gradient_is_the_slope_of_the_log_likelihood(self):
        # A central difference of the summed log-likelihood along a random
        # direction of every input at once, against the gradient's projection.
        model = random_model(22, periods=15, series=3, states=3, paged="CB", missing=0.1)
        inputs = filter_inputs(model)
        rng = np.random.default_rng(5)
        directions = [rng.normal(size=np.shape(value)) for value in inputs[1:7]]
        directions[5] = directions[5] + directions[5].T
        _, gradient = statespace.statefiltergradient(*inputs)
        slope = sum(np.sum(gradient[name] * d) for name, d in zip(gradient, directions))
        step = 1e-6

        def moved(sign):
            shifted = inputs[:1] + [value + sign * step * d for value, d in zip(inputs[1:7], directions)] + inputs[7:]
            return np.sum(statespace.statefilter(*shifted))

        assert abs((moved(1) - moved(-1)) / (2 * step) - slope) <= 1e-5 * (1 + abs(slope))

    def test_statefilter_s_errors_and_no_output_slots_beyond_seven(self):
        inputs = filter_inputs(random_model(23))
        with pytest.raises(statespace.OrrimError) as raised:
            statespace.call("statefiltergradient", *inputs[:7])
        assert (raised.value.identifier, str(raised.value)) == ("tarv:ssm:kfc:NotEnoughInputs",
                                                                "This function requires 8 input matrices.")
        with pytest.raises(ValueError, match="gives 7 outputs"):
            statespace.call("statefiltergradient", *inputs, outputs=8)


@requires_module("statesmoother")
class TestStatesmoother:
    def test_result_has_a_row_per_period_and_a_column_per_state(self):
        model = random_model(13, periods=7, states=3)
        assert statespace.statesmoother(*smoother_inputs(model)).shape == (7, 3)

    def test_a_third_output_is_refused(self):
        with pytest.raises(ValueError, match="gives 2 outputs, not the 3 asked for"):
            statespace.call("statesmoother", *smoother_inputs(random_model(13)), outputs=3)

    def test_missing_intercepts_are_zeros(self):
        model = random_model(14)
        without = statespace.statesmoother(*smoother_inputs(model)[:8])
        zeros = statespace.statesmoother(*smoother_inputs(model)[:8], np.zeros((3, model.periods)),
                                         np.zeros((2, model.periods)))
        np.testing.assert_array_equal(without, zeros)

    def test_wrong_input_count_is_its_own_error(self):
        with pytest.raises(statespace.OrrimError) as raised:
            statespace.call("statesmoother", *smoother_inputs(random_model(16))[:9])
        assert raised.value.identifier == "tarv:ssm:kfc:NotEnoughInputs"
        assert str(raised.value) == "This function requires 10 input arguments."

    def test_bad_value_names_the_argument(self):
        inputs = smoother_inputs(random_model(17))
        inputs[9] = "none"
        with pytest.raises(TypeError, match=r"statesmoother\(\) argument 'observationIntercept'"):
            statespace.statesmoother(*inputs)


@requires_module("simulationsmoother")
class TestSimulationsmoother:
    def test_draws_come_pages_first_as_a_view_of_the_module_s_output(self):
        model = random_model(18, periods=7, states=3)
        draws = statespace.simulationsmoother(*smoother_inputs(model), draws=4, seed=2)
        assert draws.shape == (4, 7, 3) and draws.dtype == np.float64 and not draws.flags.owndata
        variates = np.random.default_rng(2).standard_normal((4, 3 + 7 * (2 + 2))).T
        pages = statespace.call("simulationsmoother", *smoother_inputs(model), variates)
        assert pages.shape == (7, 3, 4)
        np.testing.assert_array_equal(draws, np.moveaxis(pages, 2, 0))
        np.testing.assert_array_equal(statespace.simulationsmoother(*smoother_inputs(model), variates=variates), draws)

    def test_the_first_draws_are_the_same_for_any_number_and_a_generator_is_drawn_from(self):
        # Paged loadings: the front counts k and h per page, as the module does.
        inputs = smoother_inputs(random_model(19, paged="BD"))
        few = statespace.simulationsmoother(*inputs, draws=2, seed=3)
        variates = np.random.default_rng(3).standard_normal((2, 3 + 20 * (2 + 2))).T
        np.testing.assert_array_equal(statespace.simulationsmoother(*inputs, variates=variates), few)
        np.testing.assert_array_equal(statespace.simulationsmoother(*inputs, draws=9, seed=3)[:2], few)
        generator = np.random.default_rng(3)
        first = statespace.simulationsmoother(*inputs, seed=generator)
        second = statespace.simulationsmoother(*inputs, seed=generator)
        np.testing.assert_array_equal(first, few[:1])
        assert not np.array_equal(first, second)

    def test_what_the_front_and_the_module_refuse_is_named(self):
        inputs = smoother_inputs(random_model(20))
        for draws in (0, -1, 1.5, True):
            with pytest.raises(ValueError, match="argument 'draws'"):
                statespace.simulationsmoother(*inputs, draws=draws)
        variates = np.zeros((3 + 20 * 4, 2))
        with pytest.raises(ValueError, match="variates or a seed"):
            statespace.simulationsmoother(*inputs, variates=variates, seed=1)
        with pytest.raises(ValueError, match="argument 'draws' is 3"):
            statespace.simulationsmoother(*inputs, variates=variates, draws=3)
        with pytest.raises(TypeError, match=r"simulationsmoother\(\) argument 'variates'"):
            statespace.simulationsmoother(*inputs, variates=variates.astype(complex))
        with pytest.raises(statespace.OrrimError) as raised:
            statespace.call("simulationsmoother", *inputs)
        assert raised.value.identifier == "tarv:ssm:kfc:NotEnoughInputs"
        assert str(raised.value) == "This function requires 11 input arguments."


KERNEL_PATHS = ("reference", "portable", "avx2", "avx512")

# Each module on models from one state to more than the vectorised paths
# keep in registers, with correlated noise, known or diffuse at the start,
# every output it gives (the uncertainty ones too), printed as the hex of the
# results' bits, or the error.
CALLS_ON_EVERY_SIZE = textwrap.dedent("""
    import numpy as np
    import statespace
    from statespace._module_list import MODULE_OUTPUT_COUNTS
    from random_models import module_arguments, random_model
    results = []
    try:
        for states, diffuse in [(size, diffuse) for size in (1, 5, 20, 70) for diffuse in (0, min(size, 3))]:
            model = random_model(states, periods=12, series=3, states=states, paged="AC", missing=0.2,
                                 intercepts=True, diffuse=diffuse)
            for module in ("statefilter", "cellstatefilter", "statesmoother", "statefiltergradient"):
                outputs = statespace.call(module, *module_arguments(module, model),
                                          outputs=MODULE_OUTPUT_COUNTS[module])
                results.extend(output.ravel(order="F") for output in outputs)
            results.append(statespace.simulationsmoother(*module_arguments("simulationsmoother", model), draws=11,
                                                         seed=states).ravel())
    except statespace.OrrimError as error:
        print(error.identifier, error)
    else:
        print(np.concatenate(results).view(np.uint64).tobytes().hex())
""")


def run_on_kernel_path(path, script):
    """What `script` prints in a fresh interpreter with ORRIM_KERNELS=path: a
    module reads it once, as it is loaded."""
    search = [os.environ.get("PYTHONPATH"), str(pathlib.Path(__file__).resolve().parent)]
    environment = dict(os.environ, ORRIM_KERNELS=path, PYTHONPATH=os.pathsep.join(filter(None, search)))
    done = subprocess.run([sys.executable, "-c", script], env=environment, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    return done.stdout.strip()


@requires_module("statefilter")
@requires_module("cellstatefilter")
@requires_module("statesmoother")
@requires_module("statefiltergradient")
@requires_module("simulationsmoother")
class TestKernelPaths:
    def test_every_path_the_processor_runs_gives_the_same_bits(self):
        outputs = {path: run_on_kernel_path(path, CALLS_ON_EVERY_SIZE) for path in KERNEL_PATHS}
        ran = {path: output for path, output in outputs.items()
               if not output.startswith("orrim:KernelPathUnavailable")}
        assert {"reference", "portable"} <= ran.keys(), outputs
        for path, output in ran.items():
            assert output == ran["reference"], f"{path} differs from the plain loops"

    def test_a_name_that_is_no_path_fails_every_call_and_runs_nothing(self):
        output = run_on_kernel_path("avx-512", textwrap.dedent("""
            import statespace
            from random_models import module_arguments, random_model
            model = random_model(1, intercepts=True)
            for module in ("statefilter", "cellstatefilter", "statesmoother", "simulationsmoother"):
                allocations = statespace.host_counters()["allocations"]
                try:
                    if module == "simulationsmoother":
                        statespace.simulationsmoother(*module_arguments(module, model))
                    else:
                        statespace.call(module, *module_arguments(module, model))
                except statespace.OrrimError as error:
                    print(error.identifier, statespace.host_counters()["allocations"] - allocations, error)
        """))
        lines = output.splitlines()
        assert len(lines) == 4, output
        for line in lines:
            assert line.startswith("orrim:KernelPathUnavailable 0 ORRIM_KERNELS=avx-512 names no kernel path;"), line


def wait_for_child(pid, seconds):
    """The child's exit code, or None when it ran past `seconds` (a hang) and was killed."""
    deadline = time.monotonic() + seconds
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            return None
        time.sleep(0.002)


@requires_module("statefilter")
@requires_module("statesmoother")
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's allocator is not safe across fork: a child can hang inside it")
def test_children_forked_beside_a_thread_inside_calls_can_call_modules():
    # As multiprocessing forks beside a thread pool: the call the thread has in
    # progress at the fork never ends in the child, which must neither wait for
    # it nor count its blocks.
    filter_arguments = filter_inputs(random_model(21))
    smoother_arguments = smoother_inputs(random_model(22, intercepts=True))
    expected = statespace.statefilter(*filter_arguments)
    stop = threading.Event()

    def call_in_a_loop():
        while not stop.is_set():
            statespace.statesmoother(*smoother_arguments)

    thread = threading.Thread(target=call_in_a_loop)
    thread.start()
    try:
        for child in range(50):
            pid = os.fork()
            if pid == 0:
                code = 1
                try:
                    same = np.array_equal(statespace.statefilter(*filter_arguments), expected)
                    code = 0 if same and statespace.host_counters()["blocks_live"] == 0 else 2
                finally:
                    os._exit(code)
            assert wait_for_child(pid, seconds=60) == 0, f"child {child}"
    finally:
        stop.set()
        thread.join()
