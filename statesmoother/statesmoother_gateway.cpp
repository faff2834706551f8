// The entry point of the statesmoother module: checks the ten inputs, takes
// the 22 working blocks, runs mean path, forward pass and backward pass, and
// lets the output step write the result and give the blocks back.
#include "backward_pass.h"
#include "forward_pass.h"
#include "gateway_checks.h"
#include "mean_path.h"
#include "orrim.h"
#include "smoothed_output.h"
#include "smoother_workspace.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char *errorPrefix = "tarv:ssm:kfc:";
constexpr int inputCountRequired = 10;

// An empty intercept stands for zeros; a given one must hold every period.
const double *requireIntercept(const OrrimArray *array, const char *name, const char *shape, uint64_t rows,
                               uint64_t T) {
  if (orrimIsEmpty(array)) {
    return nullptr;
  }
  char requirement[160];
  std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64 ", or empty", shape, rows, T);
  requireElements(errorPrefix, array, name, checkedProduct(errorPrefix, rows, T, shape), requirement);
  return orrimRealData(array);
}

uint64_t checkedCount(uint64_t a, uint64_t b, const char *what) { return checkedProduct(errorPrefix, a, b, what); }

// The working storage grows as m*m*T/2 + m*n*T: every count and byte count is
// checked before anything is allocated.
std::array<uint64_t, smootherBlockCount> checkedBlockSizes(uint64_t T, uint64_t n, uint64_t m) {
  const std::array<uint64_t, smootherBlockCount> sizes = smootherBlockSizes(T, n, m, checkedCount);
  for (uint64_t doubles : sizes) {
    checkedBytes(errorPrefix, doubles, "of a working block in bytes");
  }
  return sizes;
}

}  // namespace

extern "C" void orrimGateway(int32_t /*outputCount*/, OrrimArray *outputs[], int32_t inputCount,
                             const OrrimArray *inputs[]) {
  requireRunnableKernelPath();
  if (inputCount != inputCountRequired) {
    orrimRaiseError("tarv:ssm:kfc:NotEnoughInputs", "This function requires 10 input arguments.");
  }
  const char *names[inputCountRequired] = {"Input 1 (Y)",   "Input 2 (A)",  "Input 3 (B)",
                                           "Input 4 (C)",   "Input 5 (D)",  "Input 6 (P0)",
                                           "Input 7 (tol)", "Input 8 (x0)", "Input 9 (stateIntercept)",
                                           "Input 10 (observationIntercept)"};
  for (int position = 0; position < inputCountRequired; ++position) {
    requireRealArray(errorPrefix, inputs[position], names[position]);
  }
  const OrrimArray *Y = inputs[0];
  const OrrimArray *A = inputs[1];
  const OrrimArray *B = inputs[2];
  const OrrimArray *C = inputs[3];
  const OrrimArray *D = inputs[4];

  SmootherModel model{};
  model.A.paged = isPagedCoefficient(A);
  model.B.paged = isPagedCoefficient(B);
  model.C.paged = isPagedCoefficient(C);
  model.D.paged = isPagedCoefficient(D);
  model.T = orrimRows(Y);
  model.n = orrimColumns(Y);
  model.m = orrimRows(A);
  model.k = pageColumns(B, model.B.paged, model.T);
  model.h = pageColumns(D, model.D.paged, model.T);
  const uint64_t T = model.T;
  const uint64_t n = model.n;
  const uint64_t m = model.m;

  // Every stage reads on trust, so everything it will address is checked
  // before the output exists.
  requireCoefficient(errorPrefix, Y, names[0], "T x n", T, n, false, T);
  requireCoefficient(errorPrefix, A, names[1], "m x m", m, m, model.A.paged, T);
  requireCoefficient(errorPrefix, B, names[2], "m x k", m, model.k, model.B.paged, T);
  requireCoefficient(errorPrefix, C, names[3], "n x m", n, m, model.C.paged, T);
  requireCoefficient(errorPrefix, D, names[4], "n x h", n, model.h, model.D.paged, T);
  requireCoefficient(errorPrefix, inputs[5], names[5], "m x m", m, m, false, T);
  requireElements(errorPrefix, inputs[6], names[6], 1, "one value");
  requireCoefficient(errorPrefix, inputs[7], names[7], "m x 1", m, 1, false, T);
  const double *stateIntercept = requireIntercept(inputs[8], names[8], "m x T", m, T);
  const double *observationIntercept = requireIntercept(inputs[9], names[9], "n x T", n, T);
  const std::array<uint64_t, smootherBlockCount> sizes = checkedBlockSizes(T, n, m);

  model.A.data = orrimRealData(A);
  model.B.data = orrimRealData(B);
  model.C.data = orrimRealData(C);
  model.D.data = orrimRealData(D);
  model.tol = orrimScalar(inputs[6]);

  outputs[0] = orrimCreateRealMatrix(T, m, orrimReal);
  double *out = orrimRealData(outputs[0]);

  SmootherWorkspace workspace{};
  const std::array<double **, smootherBlockCount> blocks = smootherBlocks(workspace);
  for (size_t b = 0; b < smootherBlockCount; ++b) {
    *blocks[b] = static_cast<double *>(orrimAlloc(sizes[b] * sizeof(double)));
  }

  // With neither a state nor a series every period is empty and so is the
  // T x 0 result; Y with no column may claim more periods than any loop could
  // visit, so none is.
  if (m == 0 && n == 0) {
    for (double **block : blocks) {
      orrimFree(*block);
    }
    return;
  }

  initialiseSmootherWorkspace(model, orrimRealData(Y), orrimRealData(inputs[5]), workspace);
  computeMeanPath(model, orrimRealData(inputs[7]), stateIntercept, observationIntercept, workspace);
  runForwardPass(model, workspace, orrimIsNaN);
  runBackwardPass(model, workspace);
  writeSmoothedOutput(T, m, workspace, out, orrimFree);
}
