// The filter reads every input on trust, period by period, so every shape it
// relies on is checked here, in one pass over the cell elements, before the
// output or any working block exists.
#include "cell_filter_inputs.h"
#include "gateway_checks.h"
#include "gateway_inputs.h"

#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr const char *prefix = cellstatefilterGateway.errorPrefix;
constexpr const char *nameOfY = cellstatefilterInputs[0].name;
constexpr const char *nameOfA = cellstatefilterInputs[1].name;
constexpr const char *nameOfB = cellstatefilterInputs[2].name;
constexpr const char *nameOfC = cellstatefilterInputs[3].name;
constexpr const char *nameOfD = cellstatefilterInputs[4].name;
constexpr const char *nameOfX0 = cellstatefilterInputs[5].name;
constexpr const char *nameOfP0 = cellstatefilterInputs[6].name;
constexpr const char *nameOfTol = cellstatefilterInputs[7].name;

PeriodInput inputOf(const OrrimArray *array) {
  PeriodInput input;
  input.array = array;
  input.form = orrimIsCell(array) ? InputForm::cell : InputForm::constant;
  return input;
}

// For a name used inside a sentence.
void lowerFirst(char *text) { text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0]))); }

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

// The matrix that serves period t, with the name an error gives it. Null only
// when there is no period and a cell array has no element to start from.
struct NamedMatrix {
  const OrrimArray *array;
  char name[96];
};

NamedMatrix periodMatrix(const PeriodInput &source, const char *inputName, uint64_t t, uint64_t T) {
  NamedMatrix result{};
  if (!isCell(source)) {
    result.array = arrayOf(source);
    std::snprintf(result.name, sizeof result.name, "%s", inputName);
    return result;
  }
  char input[32];
  std::snprintf(input, sizeof input, "%s", inputName);
  lowerFirst(input);
  std::snprintf(result.name, sizeof result.name, "The cell of period t = %" PRIu64 " in %s", t, input);
  if (T == 0 && orrimIsEmpty(arrayOf(source))) {
    return result;
  }
  result.array = orrimCellElement(arrayOf(source), t);
  requireRealArray(prefix, result.array, result.name);
  return result;
}

// Requires a*b elements of the matrix; `product` names a*b for an overflow
// error, the detail says where a and b come from.
__attribute__((format(printf, 5, 6))) void requireProduct(const NamedMatrix &matrix, uint64_t a, uint64_t b,
                                                          const char *product, const char *detailFormat, ...) {
  char subject[sizeof matrix.name];
  std::snprintf(subject, sizeof subject, "%s", matrix.name);
  lowerFirst(subject);
  char what[160];
  std::snprintf(what, sizeof what, "%s of %s", product, subject);
  const uint64_t needed = checkedProduct(prefix, a, b, what);
  char detail[160];
  va_list arguments;
  va_start(arguments, detailFormat);
  std::vsnprintf(detail, sizeof detail, detailFormat, arguments);
  va_end(arguments);
  requireElements(prefix, matrix.array, matrix.name, needed, detail);
}

// Checks what period t reads (t = 0 also stands for the start-up, which
// reads period 0's matrices even when there is no period) and returns its
// series count.
uint64_t checkPeriod(const CellFilterInputs &inputs, const CellFilterSizes &sizes, uint64_t t) {
  const uint64_t m = sizes.m;
  const bool first = t == 0;
  if (first || isCell(inputs.A)) {
    const NamedMatrix A = periodMatrix(inputs.A, nameOfA, t, sizes.T);
    if (A.array != nullptr) {
      requireProduct(A, m, m, "m*m", "m*m with m = %" PRIu64, m);
    }
  }
  if (first || isCell(inputs.B)) {
    const NamedMatrix B = periodMatrix(inputs.B, nameOfB, t, sizes.T);
    if (B.array != nullptr) {
      const uint64_t k = orrimColumns(B.array);
      requireProduct(B, m, k, "m*k", "m*k with m = %" PRIu64 " and k = %" PRIu64 ", its columns", m, k);
    }
  }
  uint64_t n = sizes.firstSeries;
  if (first || isCell(inputs.C)) {
    const NamedMatrix C = periodMatrix(inputs.C, nameOfC, t, sizes.T);
    if (C.array != nullptr) {
      n = orrimRows(C.array);
      requireProduct(C, n, m, "n*m", "n*m with n = %" PRIu64 ", its rows, and m = %" PRIu64, n, m);
    }
  }
  if (first || isCell(inputs.D)) {
    const NamedMatrix D = periodMatrix(inputs.D, nameOfD, t, sizes.T);
    if (D.array != nullptr) {
      const uint64_t h = orrimColumns(D.array);
      requireProduct(D, n, h, "n*h",
                     "n*h with n = %" PRIu64 ", the series of period t = %" PRIu64 ", and h = %" PRIu64 ", its columns",
                     n, t, h);
    }
  } else if (n > sizes.firstSeries) {
    // One D matrix is turned into noise variances once, for the series of
    // period 0; a later period with more series would read variances that
    // were never formed.
    raiseGatewayError(prefix, "InputTooSmall",
                      "%s is one matrix, which gives the noise of the %" PRIu64
                      " series of period t = 0; period t = %" PRIu64 " has %" PRIu64
                      " series, so D must be a cell array with a matrix for each period.",
                      nameOfD, sizes.firstSeries, t, n);
  }
  if (t >= sizes.T) {
    return n;
  }
  if (isCell(inputs.Y)) {
    const NamedMatrix Y = periodMatrix(inputs.Y, nameOfY, t, sizes.T);
    char detail[96];
    std::snprintf(detail, sizeof detail, "the %" PRIu64 " series of period t = %" PRIu64, n, t);
    requireElements(prefix, Y.array, Y.name, n, detail);
  } else if (orrimColumns(arrayOf(inputs.Y)) < n) {
    raiseGatewayError(prefix, "InputTooSmall",
                      "%s has %" PRIu64 " columns; period t = %" PRIu64 " has %" PRIu64
                      " series (the rows of input 4 (C)), so it must have at least %" PRIu64 ".",
                      nameOfY, orrimColumns(arrayOf(inputs.Y)), t, n, n);
  }
  return n;
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
  requireOnePerPeriod(inputs.Y, nameOfY, sizes.T);
  requireOnePerPeriod(inputs.A, nameOfA, sizes.T);
  requireOnePerPeriod(inputs.B, nameOfB, sizes.T);
  requireOnePerPeriod(inputs.C, nameOfC, sizes.T);
  requireOnePerPeriod(inputs.D, nameOfD, sizes.T);

  const NamedMatrix A = periodMatrix(inputs.A, nameOfA, 0, sizes.T);
  const NamedMatrix B = periodMatrix(inputs.B, nameOfB, 0, sizes.T);
  const NamedMatrix C = periodMatrix(inputs.C, nameOfC, 0, sizes.T);
  const NamedMatrix D = periodMatrix(inputs.D, nameOfD, 0, sizes.T);
  sizes.m = A.array != nullptr ? orrimRows(A.array) : 0;
  sizes.firstDisturbances = B.array != nullptr ? orrimColumns(B.array) : 0;
  sizes.firstSeries = C.array != nullptr ? orrimRows(C.array) : 0;
  sizes.firstInnovations = D.array != nullptr ? orrimColumns(D.array) : 0;

  const uint64_t m = sizes.m;
  const uint64_t mm = checkedProduct(prefix, m, m, "m*m of input 2 (A)");
  char detail[96];
  std::snprintf(detail, sizeof detail, "m = %" PRIu64 ", the rows of input 2 (A)", m);
  requireElements(prefix, inputs.x0, nameOfX0, m, detail);
  std::snprintf(detail, sizeof detail, "m*m with m = %" PRIu64, m);
  requireElements(prefix, inputs.P0, nameOfP0, mm, detail);
  requireElements(prefix, inputs.tol, nameOfTol, 1, "one value");

  sizes.mostSeries = sizes.firstSeries;
  // Without a cell array every period reads what period 0 reads, so period 0
  // stands for all: a matrix Y with no column may claim more rows than any
  // loop could visit. With one, T is bounded by the elements it holds.
  const bool anyCell = isCell(inputs.Y) || isCell(inputs.A) || isCell(inputs.B) || isCell(inputs.C) || isCell(inputs.D);
  const uint64_t periodsRead = (sizes.T == 0 || !anyCell) ? 1 : sizes.T;
  for (uint64_t t = 0; t < periodsRead; ++t) {
    const uint64_t n = checkPeriod(inputs, sizes, t);
    sizes.mostSeries = n > sizes.mostSeries ? n : sizes.mostSeries;
  }

  // The largest the series buffers can grow to; never less than one row.
  const uint64_t seriesRoom = sizes.mostSeries > 0 ? sizes.mostSeries : 1;
  checkedBytes(prefix, mm, "m*m doubles");
  checkedBytes(prefix, checkedProduct(prefix, seriesRoom, m, "n*m"), "n*m doubles");
  checkedBytes(prefix, seriesRoom, "n doubles");
  return sizes;
}
