// The entry point of the statefilter module: checks the eight inputs, takes
// the ten working blocks, runs the filter and gives the blocks back.
#include "gateway_checks.h"
#include "orrim.h"
#include "state_filter.h"

namespace {

constexpr const char *errorPrefix = "tarv:ssm:kfc:";

}  // namespace

extern "C" void orrimGateway(int32_t /*outputCount*/, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  requireRunnableKernelPath();
  if (inputCount != 8) {
    orrimRaiseError("tarv:ssm:kfc:NotEnoughInputs", "This function requires 8 input matrices.");
  }
  const char *names[8] = {"Input 1 (Y)", "Input 2 (A)",  "Input 3 (B)",  "Input 4 (C)",
                          "Input 5 (D)", "Input 6 (x0)", "Input 7 (P0)", "Input 8 (tol)"};
  for (int position = 0; position < 8; ++position) {
    requireRealArray(errorPrefix, inputs[position], names[position]);
  }
  const OrrimArray *Y = inputs[0];
  const OrrimArray *A = inputs[1];
  const OrrimArray *B = inputs[2];
  const OrrimArray *C = inputs[3];
  const OrrimArray *D = inputs[4];

  const bool pagedA = isPagedCoefficient(A);
  const bool pagedB = isPagedCoefficient(B);
  const bool pagedC = isPagedCoefficient(C);
  const bool pagedD = isPagedCoefficient(D);
  const uint64_t T = orrimRows(Y);
  const uint64_t n = orrimColumns(Y);
  const uint64_t m = orrimRows(A);
  const uint64_t k = pageColumns(B, pagedB, T);
  const uint64_t h = pageColumns(D, pagedD, T);

  // Every input must hold what the sizes address before anything is created:
  // the filter reads them on trust.
  requireCoefficient(errorPrefix, A, names[1], "m x m", m, m, pagedA, T);
  requireCoefficient(errorPrefix, B, names[2], "m x k", m, k, pagedB, T);
  requireCoefficient(errorPrefix, C, names[3], "n x m", n, m, pagedC, T);
  requireCoefficient(errorPrefix, D, names[4], "n x h", n, h, pagedD, T);
  requireCoefficient(errorPrefix, inputs[5], names[5], "m x 1", m, 1, false, T);
  requireCoefficient(errorPrefix, inputs[6], names[6], "m x m", m, m, false, T);
  requireElements(errorPrefix, inputs[7], names[7], 1, "one value");
  const uint64_t mm = checkedProduct(errorPrefix, m, m, "m*m");
  const uint64_t nm = checkedProduct(errorPrefix, n, m, "n*m");
  checkedBytes(errorPrefix, mm, "m*m doubles");
  checkedBytes(errorPrefix, nm, "n*m doubles");
  checkedBytes(errorPrefix, n, "n doubles");

  const double tol = orrimScalar(inputs[7]);
  outputs[0] = orrimCreateRealMatrix(T, 1, orrimReal);
  double *out = orrimRealData(outputs[0]);

  StateFilterWorkspace workspace{};
  workspace.model.transitionRows = allocateDoubles(errorPrefix, mm, "m*m doubles");
  workspace.model.stateNoiseCov = allocateDoubles(errorPrefix, mm, "m*m doubles");
  workspace.model.measurementRows = allocateDoubles(errorPrefix, nm, "n*m doubles");
  workspace.model.observationNoiseVar = allocateDoubles(errorPrefix, n, "n doubles");
  workspace.state.x = allocateDoubles(errorPrefix, m, "m doubles");
  workspace.state.P = allocateDoubles(errorPrefix, mm, "m*m doubles");
  workspace.scratch.covTimesRow = allocateDoubles(errorPrefix, m, "m doubles");
  workspace.scratch.gain = allocateDoubles(errorPrefix, m, "m doubles");
  workspace.scratch.transitionTimesCov = allocateDoubles(errorPrefix, mm, "m*m doubles");
  workspace.scratch.stateCopy = allocateDoubles(errorPrefix, m, "m doubles");

  runStateFilter(orrimRealData(Y), T, n, CoefficientSource{orrimRealData(A), pagedA},
                 CoefficientSource{orrimRealData(B), pagedB}, CoefficientSource{orrimRealData(C), pagedC},
                 CoefficientSource{orrimRealData(D), pagedD}, m, k, h, orrimRealData(inputs[5]),
                 orrimRealData(inputs[6]), tol, workspace, out, orrimIsNaN);

  orrimFree(workspace.model.transitionRows);
  orrimFree(workspace.model.stateNoiseCov);
  orrimFree(workspace.model.measurementRows);
  orrimFree(workspace.model.observationNoiseVar);
  orrimFree(workspace.state.x);
  orrimFree(workspace.state.P);
  orrimFree(workspace.scratch.covTimesRow);
  orrimFree(workspace.scratch.gain);
  orrimFree(workspace.scratch.transitionTimesCov);
  orrimFree(workspace.scratch.stateCopy);
}
