// The filter reads every input on trust, period by period, so every shape it
// relies on is checked here, in one pass over the cell elements, before the
// output or any working block exists. Each period's matrices must have the
// exact shapes of that period: m x m for A, m rows for B, m columns for C,
// whose rows are the period's series, as many rows for D and as many
// observations in Y. One matrix serves every period, so a matrix Y or D
// holds the series count fixed.
#include "cell_filter_inputs.h"
#include "gateway_checks.h"
#include "gateway_inputs.h"

#include <cinttypes>

namespace {

constexpr const char *prefix = cellstatefilterGateway.errorPrefix;
constexpr const GatewayInput &entryOfY = cellstatefilterInputs[0];
constexpr const GatewayInput &entryOfA = cellstatefilterInputs[1];
constexpr const GatewayInput &entryOfB = cellstatefilterInputs[2];
constexpr const GatewayInput &entryOfC = cellstatefilterInputs[3];
constexpr const GatewayInput &entryOfD = cellstatefilterInputs[4];
constexpr const char *nameOfC = entryOfC.name;

// What a matrix in place of a cell array could also have been.
constexpr const char *orCellOfMatrices = ", or a cell array with a matrix for each period";
constexpr const char *orCellOfObservations = ", or a cell array with the observations of each period";

PeriodInput inputOf(const OrrimArray *array) {
  PeriodInput input;
  input.array = array;
  input.form = orrimIsCell(array) ? InputForm::cell : InputForm::constant;
  return input;
}

uint64_t elementsOf(const OrrimArray *array) {
  return orrimIsEmpty(array) ? 0 : orrimRows(array) * orrimColumns(array);
}

// A cell array must have an element for every period; its shape is free.
void requireOnePerPeriod(const PeriodInput &input, const char *name, uint64_t T) {
  if (!isCell(input)) {
    return;
  }
  const uint64_t held = elementsOf(arrayOf(input));
  if (held < T) {
    raiseGatewayError(prefix, "InputTooSmall",
                      "%s is a cell array of %" PRIu64 " elements; it must hold one per period, at least %" PRIu64
                      " (T, the rows of input 1 (Y)).",
                      name, held, T);
  }
}

[[noreturn, gnu::cold, gnu::noinline]] void raiseElementNotReal(InputPlace place, const OrrimArray *element) {
  requireRealArray(prefix, element, PlaceText(place, false).text);
  __builtin_unreachable();
}

// The matrix that serves period t, and where an error puts it. Null only
// when there is no period and a cell array has no element to start from.
struct PeriodArray {
  const OrrimArray *array;
  InputPlace place;
};

PeriodArray periodArray(const PeriodInput &source, const char *name, uint64_t t, uint64_t T) {
  if (!isCell(source)) {
    return {arrayOf(source), {name}};
  }
  const InputPlace place{name, t};
  if (T == 0 && orrimIsEmpty(arrayOf(source))) {
    return {nullptr, place};
  }
  const OrrimArray *element = orrimCellElement(arrayOf(source), t);
  if (element == nullptr || orrimIsCell(element)) {
    raiseElementNotReal(place, element);
  }
  return {element, place};
}

// Period t's matrix of a coefficient against its entry's shape, giving the
// sizes it names first; with no element to start from, the next input that
// names them gives them (0 when none does).
void requireCoefficient(const PeriodInput &input, const GatewayInput &entry, uint64_t t, uint64_t T,
                        KnownSizes &sizes) {
  const PeriodArray matrix = periodArray(input, entry.name, t, T);
  if (matrix.array == nullptr) {
    return;
  }
  requireMatrixShape(prefix, matrix.place, matrix.array, entry.rows, entry.columns, false, sizes,
                     isCell(input) ? nullptr : orCellOfMatrices);
}

// One matrix Y or D, fitted to the series of period 0, in a later period
// with another series count.
[[noreturn, gnu::cold, gnu::noinline]] void raiseOneMatrixForChangingSeries(const GatewayInput &entry,
                                                                            const OrrimArray *array, bool tooFew,
                                                                            uint64_t firstSeries, uint64_t t,
                                                                            uint64_t n, const char *mustBe) {
  raiseGatewayError(prefix, tooFew ? "InputTooSmall" : "InputShape",
                    "%s is one matrix of %s, for the %" PRIu64 " series of period t = 0; period t = %" PRIu64
                    " has %" PRIu64 " series (the rows of %s), so it must be a cell array %s.",
                    entry.name, DimensionsText(array).text, firstSeries, t, n, PlaceText({nameOfC}, true).text,
                    mustBe);
}

// Checks what period t reads, after period 0's coefficients (which also
// serve the start-up, even when there is no period), and returns its series
// count. `sizes` holds m and T, and the n, k and h of the period before.
uint64_t checkPeriod(const CellFilterInputs &inputs, const CellFilterSizes &first, KnownSizes &sizes, uint64_t t) {
  const uint64_t T = first.T;
  if (t > 0) {
    if (isCell(inputs.A)) {
      requireCoefficient(inputs.A, entryOfA, t, T, sizes);
    }
    if (isCell(inputs.B)) {
      sizes.forget(ModelSize::k);
      requireCoefficient(inputs.B, entryOfB, t, T, sizes);
    }
    if (isCell(inputs.C)) {
      sizes.forget(ModelSize::n);
      requireCoefficient(inputs.C, entryOfC, t, T, sizes);
    }
    const uint64_t n = sizes[ModelSize::n];
    if (isCell(inputs.D)) {
      sizes.forget(ModelSize::h);
      requireCoefficient(inputs.D, entryOfD, t, T, sizes);
    } else if (n != first.firstSeries) {
      // One D matrix gives the noise variances once, for the series of
      // period 0, which another count would not read right.
      const OrrimArray *D = arrayOf(inputs.D);
      uint64_t needed = 0;
      const bool tooFew = __builtin_mul_overflow(n, first.firstInnovations, &needed) || elementsOf(D) < needed;
      raiseOneMatrixForChangingSeries(entryOfD, D, tooFew, first.firstSeries, t, n, "with a matrix for each period");
    }
    if (!isCell(inputs.Y) && n != first.firstSeries) {
      const OrrimArray *Y = arrayOf(inputs.Y);
      raiseOneMatrixForChangingSeries(entryOfY, Y, orrimColumns(Y) < n, first.firstSeries, t, n,
                                      "with the observations of each period");
    }
  }
  if (t < T) {
    if (isCell(inputs.Y)) {
      // The period's observations, as a column or a row.
      const PeriodArray Y = periodArray(inputs.Y, entryOfY.name, t, T);
      requireMatrixShape(prefix, Y.place, Y.array, ModelSize::n, ModelSize::one, false, sizes);
    } else if (t == 0) {
      requireMatrixShape(prefix, {entryOfY.name}, arrayOf(inputs.Y), ModelSize::T, ModelSize::n, false, sizes,
                         orCellOfObservations);
    }
  }
  return sizes[ModelSize::n];
}

}  // namespace

CellFilterInputs readCellFilterInputs(int32_t inputCount, const OrrimArray *const inputs[]) {
  requireGatewayInputsPresent(cellstatefilterGateway, inputCount, inputs);
  CellFilterInputs result{};
  result.Y = inputOf(inputs[0]);
  result.A = inputOf(inputs[1]);
  result.B = inputOf(inputs[2]);
  result.C = inputOf(inputs[3]);
  result.D = inputOf(inputs[4]);
  result.x0 = inputs[5];
  result.P0 = inputs[6];
  result.tol = inputs[7];
  return result;
}

CellFilterSizes checkCellFilterInputs(const CellFilterInputs &inputs) {
  CellFilterSizes sizes{};
  sizes.T = orrimRows(arrayOf(inputs.Y));
  requireOnePerPeriod(inputs.Y, entryOfY.name, sizes.T);
  requireOnePerPeriod(inputs.A, entryOfA.name, sizes.T);
  requireOnePerPeriod(inputs.B, entryOfB.name, sizes.T);
  requireOnePerPeriod(inputs.C, entryOfC.name, sizes.T);
  requireOnePerPeriod(inputs.D, entryOfD.name, sizes.T);

  // Period 0 gives m, and the first k, n and h.
  KnownSizes known;
  known.give(ModelSize::T, sizes.T);
  requireCoefficient(inputs.A, entryOfA, 0, sizes.T, known);
  requireCoefficient(inputs.B, entryOfB, 0, sizes.T, known);
  requireCoefficient(inputs.C, entryOfC, 0, sizes.T, known);
  requireCoefficient(inputs.D, entryOfD, 0, sizes.T, known);
  requireGatewayInput(cellstatefilterGateway, 5, inputs.x0, known);
  requireGatewayInput(cellstatefilterGateway, 6, inputs.P0, known);
  requireGatewayInput(cellstatefilterGateway, 7, inputs.tol, known);
  sizes.m = known[ModelSize::m];
  sizes.firstDisturbances = known[ModelSize::k];
  sizes.firstSeries = known[ModelSize::n];
  sizes.firstInnovations = known[ModelSize::h];

  sizes.mostSeries = sizes.firstSeries;
  // Without a cell array every period reads what period 0 reads, so period 0
  // stands for all: a matrix Y with no column may claim more rows than any
  // loop could visit. With one, T is bounded by the elements it holds.
  const bool anyCell = isCell(inputs.Y) || isCell(inputs.A) || isCell(inputs.B) || isCell(inputs.C) || isCell(inputs.D);
  const uint64_t periodsRead = (sizes.T == 0 || !anyCell) ? 1 : sizes.T;
  for (uint64_t t = 0; t < periodsRead; ++t) {
    const uint64_t n = checkPeriod(inputs, sizes, known, t);
    sizes.mostSeries = n > sizes.mostSeries ? n : sizes.mostSeries;
  }

  // The largest the series buffers can grow to; never less than one row.
  const uint64_t m = sizes.m;
  const uint64_t seriesRoom = sizes.mostSeries > 0 ? sizes.mostSeries : 1;
  checkedBytes(prefix, checkedProduct(prefix, m, m, "m*m"), "m*m doubles");
  checkedBytes(prefix, checkedProduct(prefix, seriesRoom, m, "n*m"), "n*m doubles");
  checkedBytes(prefix, seriesRoom, "n doubles");
  return sizes;
}
