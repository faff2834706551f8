// The ten inputs of statesmoother, in position order, and its error prefix:
// the gateway checks a call against this table, and the fuzz contract and the
// tests read it.
#pragma once

#include "gateway_inputs.h"

#include <iterator>

inline constexpr GatewayInput statesmootherInputs[] = {
    {"Input 1 (Y)", InputRule::matrix, ModelSize::T, ModelSize::n},
    {"Input 2 (A)", InputRule::matrixOrPages, ModelSize::m, ModelSize::m},
    {"Input 3 (B)", InputRule::matrixOrPages, ModelSize::m, ModelSize::k},
    {"Input 4 (C)", InputRule::matrixOrPages, ModelSize::n, ModelSize::m},
    {"Input 5 (D)", InputRule::matrixOrPages, ModelSize::n, ModelSize::h},
    {"Input 6 (P0)", InputRule::matrix, ModelSize::m, ModelSize::m},
    {"Input 7 (tol)", InputRule::oneValue, ModelSize::one, ModelSize::one},
    {"Input 8 (x0)", InputRule::matrix, ModelSize::m, ModelSize::one},
    {"Input 9 (stateIntercept)", InputRule::perPeriodOrEmpty, ModelSize::m, ModelSize::T},
    {"Input 10 (observationIntercept)", InputRule::perPeriodOrEmpty, ModelSize::n, ModelSize::T},
};
static_assert(std::size(statesmootherInputs) <= maxGatewayInputs);

inline constexpr GatewayDescription statesmootherGateway{
    "tarv:ssm:kfc:", "This function requires 10 input arguments.", statesmootherInputs};
