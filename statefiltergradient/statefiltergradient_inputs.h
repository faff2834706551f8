// statefiltergradient takes statefilter's eight inputs, with its checks and
// its messages: the gateway checks a call against statefilter's table, which
// the fuzz contract and the tests read under this name.
#pragma once

#include "statefilter_inputs.h"

inline constexpr const GatewayDescription &statefiltergradientGateway = statefilterGateway;
