// libFuzzer target: calls of the simulationsmoother module through the host, from any
// bytes; see fuzz_input.h for how bytes become a call.
#include "gateway_contract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return fuzzing::fuzzOneCall(fuzzing::simulationsmootherContract(), data, size);
}
