// Module calls in turn on one standard workload, for comparing builds on a
// noisy machine: the modules (two builds of one, or a module and the filter
// it is measured against) are called one after the other, round after round,
// so that a slow stretch of the machine falls on all of them alike.
//
//   modules_in_turn WORKLOAD ROUNDS MODULE[:OUTPUTS]...
//
// e.g. modules_in_turn W3 40 old/statefiltergradient.so:7
//      build/statefiltergradient/statefiltergradient.so:7 build/statefilter/statefilter.so
// (a module without :OUTPUTS is asked for one output). Prints each module's
// median, first quartile and fastest call in milliseconds. Copy a build's
// module elsewhere before rebuilding: each path is loaded once.
#include "workloads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: modules_in_turn WORKLOAD ROUNDS MODULE[:OUTPUTS]...\n");
    return 2;
  }
  const std::string name = argv[1];
  const int rounds = std::atoi(argv[2]);
  if (rounds < 1) {
    std::fprintf(stderr, "ROUNDS must be at least 1\n");
    return 2;
  }
  std::vector<orrim::Module> modules;
  std::vector<int32_t> outputs;
  for (int a = 3; a < argc; ++a) {
    const std::string argument = argv[a];
    const size_t colon = argument.rfind(':');
    outputs.push_back(colon == std::string::npos ? 1 : std::atoi(argument.c_str() + colon + 1));
    modules.push_back(orrim::Module::load(argument.substr(0, colon)));
  }
  for (const Workload &workload : standardWorkloads()) {
    if (workload.name != name) continue;
    const WorkloadInputs inputs = makeWorkload(workload, 42);
    const std::vector<const OrrimArray *> arguments = inputs.filterInputs();
    std::vector<std::vector<double>> milliseconds(modules.size());
    for (int round = 0; round < rounds; ++round) {
      for (size_t i = 0; i < modules.size(); ++i) {
        const auto start = std::chrono::steady_clock::now();
        const orrim::CallResult result = modules[i].call(outputs[i], arguments);
        const auto end = std::chrono::steady_clock::now();
        if (result.failed) {
          std::fprintf(stderr, "%s: %s\n", result.identifier.c_str(), result.message.c_str());
          return 1;
        }
        milliseconds[i].push_back(std::chrono::duration<double, std::milli>(end - start).count());
      }
    }
    for (size_t i = 0; i < modules.size(); ++i) {
      std::vector<double> &times = milliseconds[i];
      std::sort(times.begin(), times.end());
      std::printf("%-60s median %8.3f  first quartile %8.3f  fastest %8.3f\n", argv[3 + i], times[times.size() / 2],
                  times[times.size() / 4], times[0]);
    }
    return 0;
  }
  std::fprintf(stderr, "no workload %s\n", name.c_str());
  return 2;
}
