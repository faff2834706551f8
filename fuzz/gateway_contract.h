// What every call of a module's gateway must keep, whatever its inputs: an
// output of the module's shape when its input rules accept the call, one of
// the errors of its faults when they refuse it, inputs left as they were,
// and nothing left behind in the host.
#pragma once

#include "fuzz_input.h"
#include "gateway_inputs.h"
#include "input_rules.h"
#include "orrim_host.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

struct GatewayContract {
  std::string name;
  std::string modulePath;
  // The module's own table: its inputs, its error prefix and the message of
  // a wrong input count.
  const GatewayDescription &gateway;
  // What the module's input rules say of a call: its faults, and the sizes T
  // and m its inputs give.
  RuleVerdict (*judge)(const GatewayDescription &gateway, const std::vector<const OrrimArray *> &inputs);
  // The dimensions of the outputs of a call that succeeds, slot by slot, from
  // the sizes the rules found and the inputs: the first, then those a caller
  // asking for more gets (the filtered states and covariances, the smoothed
  // covariances, the derivatives).
  std::vector<std::vector<uint64_t>> (*outputDimensions)(const RuleVerdict &verdict,
                                                         const std::vector<const OrrimArray *> &inputs);
  // For a call that succeeded: what else its output must agree with; empty
  // when it does. May be null.
  std::string (*crossCheck)(const std::vector<const OrrimArray *> &inputs, const OrrimArray *output);
  // The end of the identifier of a module error that needs working storage
  // to be found (a P0 that is not positive semidefinite shows in its
  // factor), which the module raises once it has given that storage back;
  // null when every error comes before anything is allocated.
  const char *errorAfterAllocating = nullptr;
};

inline int32_t inputCountOf(const GatewayContract &contract) {
  return static_cast<int32_t>(contract.gateway.inputs.size());
}

const GatewayContract &statefilterContract();
const GatewayContract &cellstatefilterContract();
const GatewayContract &statesmootherContract();
const GatewayContract &statefiltergradientContract();
const GatewayContract &simulationsmootherContract();

struct CheckedCall {
  bool failed = false;
  std::string identifier;
  std::string message;
  // Empty when the call kept the contract; otherwise what it broke.
  std::string violation;
};

// Calls the module (loaded once per process) with the decoded call and checks
// the contract, the host's counters included.
CheckedCall checkGatewayCall(const GatewayContract &contract, const DecodedCall &call);

// The body of a fuzz target: decodes, calls, and stops the process with the
// broken promise printed.
int fuzzOneCall(const GatewayContract &contract, const uint8_t *data, size_t size);

}  // namespace fuzzing
