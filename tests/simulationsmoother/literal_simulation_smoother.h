// The simulation smoother written out the plainest way, one draw at a time,
// independently of core/ and of the module's stages: the covariances filtered
// again for every draw, coefficients read straight from their pages. The
// reference the module must match to the bit, on every kernel path.
#pragma once

#include "smoother_test_model.h"

#include <vector>

// What the module makes of one column of variates (m + T*(k+h) values): its
// T x m draw, column-major; or `refused` when P0 is not positive
// semidefinite by the module's rule.
struct LiteralDraw {
  bool refused = false;
  std::vector<double> states;
};

LiteralDraw literalSimulationDraw(const SmootherTestModel &model, const double *variates);
