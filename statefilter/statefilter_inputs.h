// The eight inputs of statefilter, in position order, and its error prefix:
// the gateway checks a call against this table, and the fuzz contract and the
// tests read it.
#pragma once

#include "gateway_inputs.h"

#include <iterator>

inline constexpr GatewayInput statefilterInputs[] = {
    {"Input 1 (Y)", InputRule::matrix, ModelSize::T, ModelSize::n},
    {"Input 2 (A)", InputRule::matrixOrPages, ModelSize::m, ModelSize::m},
    {"Input 3 (B)", InputRule::matrixOrPages, ModelSize::m, ModelSize::k},
    {"Input 4 (C)", InputRule::matrixOrPages, ModelSize::n, ModelSize::m},
    {"Input 5 (D)", InputRule::matrixOrPages, ModelSize::n, ModelSize::h},
    {"Input 6 (x0)", InputRule::matrix, ModelSize::m, ModelSize::one},
    {"Input 7 (P0)", InputRule::matrix, ModelSize::m, ModelSize::m},
    {"Input 8 (tol)", InputRule::oneValue, ModelSize::one, ModelSize::one},
};
static_assert(std::size(statefilterInputs) <= maxGatewayInputs);

inline constexpr GatewayDescription statefilterGateway{"tarv:ssm:kfc:", "This function requires 8 input matrices.",
                                                       statefilterInputs};
