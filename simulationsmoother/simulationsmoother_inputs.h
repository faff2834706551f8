// The eleven inputs of simulationsmoother, in position order, and its error
// prefix: the ten of statesmoother, read and checked as that module reads
// them, then the variates of the draws. The gateway checks a call against
// this table, and the fuzz contract and the tests read it.
#pragma once

#include "gateway_inputs.h"
#include "statesmoother_inputs.h"

#include <iterator>

inline constexpr GatewayInput simulationsmootherInputs[] = {
    statesmootherInputs[0], statesmootherInputs[1], statesmootherInputs[2], statesmootherInputs[3],
    statesmootherInputs[4], statesmootherInputs[5], statesmootherInputs[6], statesmootherInputs[7],
    statesmootherInputs[8], statesmootherInputs[9],
    // Standard normal numbers, one column per draw: z0 (m), then u_t (k) and
    // e_t (h) of each period in turn. Its rows follow a rule of their own.
    {"Input 11 (variates)", InputRule::variateColumns, ModelSize::one, ModelSize::one},
};
static_assert(std::size(simulationsmootherInputs) == std::size(statesmootherInputs) + 1);
static_assert(std::size(simulationsmootherInputs) <= maxGatewayInputs);

inline constexpr GatewayDescription simulationsmootherGateway{
    statesmootherGateway.errorPrefix, "This function requires 11 input arguments.", simulationsmootherInputs};
