// The ten inputs of statesmoother, in position order, and its error prefix:
// the gateway checks a call against this table, and the fuzz contract and the
// tests read it.
#pragma once

#include "gateway_inputs.h"

#include <iterator>

inline constexpr GatewayInput statesmootherInputs[] = {
    {"Input 1 (Y)", InputRule::matrix, ModelSize::T, ModelSize::n, false},
    {"Input 2 (A)", InputRule::matrix, ModelSize::m, ModelSize::m, true},
    {"Input 3 (B)", InputRule::matrix, ModelSize::m, ModelSize::k, true},
    {"Input 4 (C)", InputRule::matrix, ModelSize::n, ModelSize::m, true},
    {"Input 5 (D)", InputRule::matrix, ModelSize::n, ModelSize::h, true},
    {"Input 6 (P0)", InputRule::matrix, ModelSize::m, ModelSize::m, false},
    {"Input 7 (tol)", InputRule::oneValue, ModelSize::one, ModelSize::one, false},
    {"Input 8 (x0)", InputRule::matrix, ModelSize::m, ModelSize::one, false},
    {"Input 9 (stateIntercept)", InputRule::perPeriodOrEmpty, ModelSize::m, ModelSize::T, false},
    {"Input 10 (observationIntercept)", InputRule::perPeriodOrEmpty, ModelSize::n, ModelSize::T, false},
};
static_assert(std::size(statesmootherInputs) <= maxGatewayInputs);

inline constexpr GatewayDescription statesmootherGateway{
    "tarv:ssm:kfc:", "This function requires 10 input arguments.", statesmootherInputs};
