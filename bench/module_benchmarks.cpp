// Whole module calls on the standard workloads.
#include "workloads.h"

#include <benchmark/benchmark.h>

namespace {

void callModule(benchmark::State &run, const char *path, const Workload &workload, bool smoother) {
  const orrim::Module module = orrim::Module::load(path);
  const WorkloadInputs inputs = makeWorkload(workload, 42);
  const std::vector<const OrrimArray *> arguments = smoother ? inputs.smootherInputs() : inputs.filterInputs();
  for (auto _ : run) {
    orrim::CallResult result = module.call(1, arguments);
    if (result.failed) {
      run.SkipWithError(result.message.c_str());
      break;
    }
    benchmark::DoNotOptimize(result.outputs[0].get());
  }
}

void registerModule(const char *name, const char *path, bool smoother) {
  for (const Workload &workload : standardWorkloads()) {
    benchmark::RegisterBenchmark((std::string(name) + "/" + workload.name).c_str(),
                                 [path, workload, smoother](benchmark::State &run) {
                                   callModule(run, path, workload, smoother);
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
#ifdef CELLSTATEFILTER_MODULE
  registerModule("cellstatefilter", CELLSTATEFILTER_MODULE, false);
#endif
#ifdef STATESMOOTHER_MODULE
  registerModule("statesmoother", STATESMOOTHER_MODULE, true);
#endif
  return true;
}();

}  // namespace
