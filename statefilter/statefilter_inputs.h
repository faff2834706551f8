// The eight inputs of statefilter, in position order, and its error prefix:
// the gateway checks a call against this table, and the fuzz contract and the
// tests read it.
#pragma once

#include "gateway_inputs.h"

#include <iterator>

inline constexpr GatewayInput statefilterInputs[] = {
    {"Input 1 (Y)", InputRule::givesSizes, ModelSize::T, ModelSize::n, false},
    {"Input 2 (A)", InputRule::matrix, ModelSize::m, ModelSize::m, true},
    {"Input 3 (B)", InputRule::matrix, ModelSize::m, ModelSize::k, true},
    {"Input 4 (C)", InputRule::matrix, ModelSize::n, ModelSize::m, true},
    {"Input 5 (D)", InputRule::matrix, ModelSize::n, ModelSize::h, true},
    {"Input 6 (x0)", InputRule::matrix, ModelSize::m, ModelSize::one, false},
    {"Input 7 (P0)", InputRule::matrix, ModelSize::m, ModelSize::m, false},
    {"Input 8 (tol)", InputRule::oneValue, ModelSize::one, ModelSize::one, false},
};
static_assert(std::size(statefilterInputs) <= maxGatewayInputs);

inline constexpr GatewayDescription statefilterGateway{"tarv:ssm:kfc:", "This function requires 8 input matrices.",
                                                       statefilterInputs};
