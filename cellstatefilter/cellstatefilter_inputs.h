// The eight inputs of cellstatefilter, in position order, and its error
// prefix: the gateway checks the count and presence of a call's inputs
// against this table (what each period reads, cell_input_checks.cpp), and the
// fuzz contract and the tests read it. Rows and columns name the shape each
// period reads; the checks of a cell element say more.
#pragma once

#include "gateway_inputs.h"

#include <iterator>

inline constexpr GatewayInput cellstatefilterInputs[] = {
    {"Input 1 (Y)", InputRule::matrixOrCell, ModelSize::T, ModelSize::n},
    {"Input 2 (A)", InputRule::matrixOrCell, ModelSize::m, ModelSize::m},
    {"Input 3 (B)", InputRule::matrixOrCell, ModelSize::m, ModelSize::k},
    {"Input 4 (C)", InputRule::matrixOrCell, ModelSize::n, ModelSize::m},
    {"Input 5 (D)", InputRule::matrixOrCell, ModelSize::n, ModelSize::h},
    {"Input 6 (x0)", InputRule::matrix, ModelSize::m, ModelSize::one},
    {"Input 7 (P0)", InputRule::matrix, ModelSize::m, ModelSize::m},
    {"Input 8 (tol)", InputRule::oneValue, ModelSize::one, ModelSize::one},
};
static_assert(std::size(cellstatefilterInputs) <= maxGatewayInputs);

inline constexpr GatewayDescription cellstatefilterGateway{
    "tarv:ssm:kfctv:", "This function requires 8 input matrices.", cellstatefilterInputs};
