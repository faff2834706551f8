// Helpers for tests that drive a module through the host the way a host does.
#pragma once

#include "gateway_inputs.h"
#include "orrim_host.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A real array of the given dimensions holding `values` in storage order.
orrim::ArrayPtr realArray(const std::vector<uint64_t> &dimensions, const std::vector<double> &values);
orrim::ArrayPtr scalar(double value);
// A rows x 1 cell array whose element t is elements[t].
orrim::ArrayPtr cellColumn(std::vector<orrim::ArrayPtr> elements);

std::vector<const OrrimArray *> handles(const std::vector<orrim::ArrayPtr> &arrays);

// The arrays as a list, in the order given.
template <class... Arrays>
std::vector<orrim::ArrayPtr> arrayList(Arrays... arrays) {
  std::vector<orrim::ArrayPtr> list;
  (list.push_back(std::move(arrays)), ...);
  return list;
}

// The doubles of a real array, in storage order.
std::vector<double> valuesOf(const OrrimArray *array);

// Calls the module and checks what every call must leave behind: no block and
// no array but the output, and, when the call succeeded, no block that the
// host had to reclaim because the module forgot to free it.
orrim::CallResult callChecked(const orrim::Module &module, const std::vector<const OrrimArray *> &inputs,
                              int32_t outputCount = 1);

// Expects the call to fail with `identifier`; returns the message.
std::string expectError(const orrim::Module &module, const std::vector<const OrrimArray *> &inputs,
                        const std::string &identifier);

// A call with no input, one input fewer or one more than the gateway's
// table lists, made from the inputs of a valid call, is refused with
// `<prefix>NotEnoughInputs` and the gateway's count message.
void expectInputCountRefused(const orrim::Module &module, const GatewayDescription &gateway,
                             const std::vector<const OrrimArray *> &validInputs);

// Bit-for-bit equality of two double sequences, the sign of zero included;
// any NaN equals any NaN, since payloads carry no result. Reports the first
// difference.
::testing::AssertionResult bitIdentical(const std::vector<double> &expected, const std::vector<double> &actual);

}  // namespace testing_support
