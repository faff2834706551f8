// What a module's input rules, as the README states them, say of a call:
// worked out here from each array's dimensions, apart from the module's own
// checks, so that the fuzz contract can hold the module to them. A call the
// rules refuse must be refused with one of the errors of its faults; a call
// they accept must not be refused for its inputs.
#pragma once

#include "gateway_inputs.h"
#include "orrim_host.hpp"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace fuzzing {

struct RuleVerdict {
  // The ends of the identifiers the faults raise ("InputShape", ...); empty
  // when the rules accept the call.
  std::set<std::string> faults;
  uint64_t T = 0, m = 0, n = 0, k = 0, h = 0;  // the sizes the inputs give
};

// The dimensions of an array that count: trailing ones dropped, two at
// least. Three of them make a paged coefficient.
std::vector<uint64_t> countedDimensions(const OrrimArray *array);

// A module whose every input is held to its table: statefilter, statesmoother.
RuleVerdict judgeTableCall(const GatewayDescription &gateway, const std::vector<const OrrimArray *> &inputs);

// cellstatefilter: the table's matrices, and each period's cell elements in
// the shapes of that period.
RuleVerdict judgeCellFilterCall(const GatewayDescription &gateway, const std::vector<const OrrimArray *> &inputs);

}  // namespace fuzzing
