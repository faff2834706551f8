// Whole module calls on the standard workloads.
#include "workloads.h"

#include <benchmark/benchmark.h>

namespace {

// draws > 0 calls the simulation smoother for that many draws.
void callModule(benchmark::State &run, const char *path, const Workload &workload, bool smoother,
                int32_t outputCount = 1, uint64_t draws = 0) {
  const orrim::Module module = orrim::Module::load(path);
  WorkloadInputs inputs = makeWorkload(workload, 42);
  const std::vector<const OrrimArray *> arguments =
      draws > 0 ? inputs.simulationInputs(draws) : smoother ? inputs.smootherInputs() : inputs.filterInputs();
  for (auto _ : run) {
    orrim::CallResult result = module.call(outputCount, arguments);
    if (result.failed) {
      run.SkipWithError(result.message.c_str());
      break;
    }
    benchmark::DoNotOptimize(result.outputs[0].get());
  }
}

void registerModule(const char *name, const char *path, bool smoother, int32_t outputCount = 1,
                    bool readsPages = true, uint64_t draws = 0) {
  for (const Workload &workload : standardWorkloads()) {
    if (workload.pagedA && !readsPages) {
      continue;
    }
    benchmark::RegisterBenchmark((std::string(name) + "/" + workload.name).c_str(),
                                 [path, workload, smoother, outputCount, draws](benchmark::State &run) {
                                   callModule(run, path, workload, smoother, outputCount, draws);
                                 })
        ->Unit(benchmark::kMillisecond);
  }
}

const bool registered = [] {
  // One small call, where the host's own cost per call shows: a model of the
  // Nile's size, as a user fitting it by maximum likelihood calls it
  // thousands of times.
  benchmark::RegisterBenchmark("statefilter/Nile", [](benchmark::State &run) {
    callModule(run, STATEFILTER_MODULE, Workload{"Nile", 1, 1, 100, false}, false);
  })->Unit(benchmark::kMicrosecond);
  registerModule("statefilter", STATEFILTER_MODULE, false);
  // What the uncertainty outputs add: the filtered states and covariances,
  // the smoothed covariances.
  registerModule("statefilter-with-states", STATEFILTER_MODULE, false, 3);
#ifdef CELLSTATEFILTER_MODULE
  // It pages nothing: a paged A is refused, as it is from any caller.
  registerModule("cellstatefilter", CELLSTATEFILTER_MODULE, false, 1, false);
#endif
#ifdef STATEFILTERGRADIENT_MODULE
  // The log-likelihood and its gradient with respect to every input, against
  // statefilter's log-likelihood alone.
  registerModule("statefiltergradient", STATEFILTERGRADIENT_MODULE, false, 7);
#endif
#ifdef STATESMOOTHER_MODULE
  registerModule("statesmoother", STATESMOOTHER_MODULE, true);
  registerModule("statesmoother-with-covariances", STATESMOOTHER_MODULE, true, 2);
#endif
#ifdef SIMULATIONSMOOTHER_MODULE
  // One draw, and 100 sharing one covariance pass: against one statesmoother
  // call, what a draw costs.
  // A Gibbs sampler's draw on the Nile's model, as each of its iterations makes it.
  benchmark::RegisterBenchmark("simulationsmoother-1-draw/Nile", [](benchmark::State &run) {
    callModule(run, SIMULATIONSMOOTHER_MODULE, Workload{"Nile", 1, 1, 100, false}, true, 1, 1);
  })->Unit(benchmark::kMicrosecond);
  // The same with the level diffuse at the start, as the Gibbs example draws it.
  benchmark::RegisterBenchmark("simulationsmoother-1-draw/Nile-diffuse", [](benchmark::State &run) {
    const Workload nile{"Nile", 1, 1, 100, false, ObservationNoise::independent, true};
    callModule(run, SIMULATIONSMOOTHER_MODULE, nile, true, 1, 1);
  })->Unit(benchmark::kMicrosecond);
  registerModule("simulationsmoother-1-draw", SIMULATIONSMOOTHER_MODULE, true, 1, true, 1);
  registerModule("simulationsmoother-100-draws", SIMULATIONSMOOTHER_MODULE, true, 1, true, 100);
#endif
  return true;
}();

}  // namespace
