// One call of a module on a standard workload, for instruction counts:
//
//   valgrind --tool=callgrind --toggle-collect=orrimGateway
//       build/bench/one_module_call build/statefilter/statefilter.so W2
//   one_module_call MODULE WORKLOAD [filter|smoother] [OUTPUTS]
//
// counts the module's gateway alone, the same on every run. Prints the first
// element of the first output.
#include "workloads.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: one_module_call MODULE WORKLOAD [filter|smoother] [OUTPUTS]\n");
    return 2;
  }
  const bool smoother = argc > 3 && std::strcmp(argv[3], "smoother") == 0;
  const int outputs = argc > 4 ? std::atoi(argv[4]) : 1;
  for (const Workload &workload : standardWorkloads()) {
    if (workload.name != argv[2]) continue;
    const WorkloadInputs inputs = makeWorkload(workload, 42);
    const orrim::Module module = orrim::Module::load(argv[1]);
    const orrim::CallResult result = module.call(outputs, smoother ? inputs.smootherInputs() : inputs.filterInputs());
    if (result.failed) {
      std::fprintf(stderr, "%s: %s\n", result.identifier.c_str(), result.message.c_str());
      return 1;
    }
    std::printf("%.17g\n", orrimRealData(result.outputs[0].get())[0]);
    return 0;
  }
  std::fprintf(stderr, "no workload %s\n", argv[2]);
  return 2;
}
