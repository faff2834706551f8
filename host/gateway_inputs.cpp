#include "gateway_inputs.h"

#include "gateway_checks.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char *sizeNames[] = {"T", "n", "m", "k", "h", "1"};

// "m x k": the shape as an error names it, made only for an error.
struct ShapeText {
  char text[16];
  explicit ShapeText(const GatewayInput &input) {
    std::snprintf(text, sizeof text, "%s x %s", sizeNames[static_cast<int>(input.rows)],
                  sizeNames[static_cast<int>(input.columns)]);
  }
};

bool isPagedCoefficient(const OrrimArray *array) { return orrimDimensionCount(array) == 3; }

// The page width of a coefficient: its columns, or for a paged one its
// columns (pages times width) divided by the period count. With no period
// there is no page, and nothing is divided.
uint64_t pageColumns(const OrrimArray *array, bool paged, uint64_t periods) {
  const uint64_t columns = orrimColumns(array);
  if (!paged) {
    return columns;
  }
  return periods == 0 ? 0 : columns / periods;
}

// One rows x columns page, or `periods` pages when paged. The texts are made
// only for an error: a model fitted thousands of times passes these checks on
// every call.
void requireMatrix(const char *prefix, const OrrimArray *array, const GatewayInput &input, uint64_t rows,
                   uint64_t columns, bool paged, uint64_t periods) {
  uint64_t pageSize = 0;
  uint64_t needed = 0;
  const bool pageOverflows = __builtin_mul_overflow(rows, columns, &pageSize);
  const bool pagesOverflow = !pageOverflows && paged && __builtin_mul_overflow(pageSize, periods, &needed);
  if (pageOverflows || pagesOverflow) {
    char what[160];
    std::snprintf(what, sizeof what, "%s page of %s", input.name, ShapeText(input).text);
    raiseSizeOverflow(prefix, what, pageOverflows ? rows : pageSize, pageOverflows ? columns : periods);
  }
  if (!paged) {
    needed = pageSize;
  }
  const uint64_t held = heldElements(array);
  if (held < needed) {
    char requirement[200];
    if (paged) {
      std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64 " per page, %" PRIu64 " pages",
                    ShapeText(input).text, rows, columns, periods);
    } else {
      std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64, ShapeText(input).text, rows,
                    columns);
    }
    raiseInputTooSmall(prefix, input.name, held, needed, requirement);
  }
}

// An empty input stands for zeros; a given one must hold rows x columns.
void requireMatrixOrEmpty(const char *prefix, const OrrimArray *array, const GatewayInput &input, uint64_t rows,
                          uint64_t columns) {
  if (orrimIsEmpty(array)) {
    return;
  }
  uint64_t needed = 0;
  if (__builtin_mul_overflow(rows, columns, &needed)) {
    raiseSizeOverflow(prefix, ShapeText(input).text, rows, columns);
  }
  const uint64_t held = heldElements(array);
  if (held < needed) {
    char requirement[160];
    std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64 ", or empty", ShapeText(input).text,
                  rows, columns);
    raiseInputTooSmall(prefix, input.name, held, needed, requirement);
  }
}

// At least m + T*(k+h) rows, the variates of one draw, and at least one
// column: the draws. Rows past those are not read; a column starts where the
// array's own rows say.
void requireVariateColumns(const char *prefix, const OrrimArray *array, const GatewayInput &input,
                           const ModelSizes &sizes) {
  uint64_t perPeriod = 0;
  uint64_t periods = 0;
  uint64_t needed = 0;
  if (__builtin_add_overflow(sizes.k, sizes.h, &perPeriod) || __builtin_mul_overflow(sizes.T, perPeriod, &periods) ||
      __builtin_add_overflow(sizes.m, periods, &needed)) {
    raiseGatewayError(prefix, "TooLarge", "The rows m + T*(k+h) of %s (m = %" PRIu64 ", T = %" PRIu64 ", k = %" PRIu64
                      ", h = %" PRIu64 ") overflow a 64-bit count.", input.name, sizes.m, sizes.T, sizes.k, sizes.h);
  }
  const uint64_t rows = orrimRows(array);
  const uint64_t columns = orrimColumns(array);
  if (rows < needed || columns == 0) {
    raiseGatewayError(prefix, "InputTooSmall",
                      "%s is %" PRIu64 " x %" PRIu64 "; it must have at least m + T*(k+h) = %" PRIu64
                      " rows and one column per draw, at least one.",
                      input.name, rows, columns, needed);
  }
}

// Inline in both callers: checkGatewayInputs runs on every call of a model
// fitted thousands of times.
inline void requirePresent(const GatewayDescription &gateway, int32_t inputCount, const OrrimArray *const inputs[]) {
  if (inputCount != static_cast<int32_t>(gateway.inputs.size())) {
    raiseGatewayError(gateway.errorPrefix, "NotEnoughInputs", "%s", gateway.countMessage);
  }
  for (size_t position = 0; position < gateway.inputs.size(); ++position) {
    const GatewayInput &input = gateway.inputs[position];
    if (input.rule != InputRule::matrixOrCell) {
      requireRealArray(gateway.errorPrefix, inputs[position], input.name);
    } else if (inputs[position] == nullptr) {
      raiseGatewayError(gateway.errorPrefix, "InputNotReal", "%s is missing; it must be a real array or a cell array.",
                        input.name);
    }
  }
}

}  // namespace

void requireGatewayInputsPresent(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]) {
  requirePresent(gateway, inputCount, inputs);
}

CheckedInputs checkGatewayInputs(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]) {
  requirePresent(gateway, inputCount, inputs);
  CheckedInputs checked{};
  for (size_t position = 0; position < gateway.inputs.size(); ++position) {
    checked.paged[position] = gateway.inputs[position].pageable && isPagedCoefficient(inputs[position]);
  }
  ModelSizes &sizes = checked.sizes;
  sizes.T = orrimRows(inputs[0]);
  sizes.n = orrimColumns(inputs[0]);
  sizes.m = orrimRows(inputs[1]);
  sizes.k = pageColumns(inputs[2], checked.paged[2], sizes.T);
  sizes.h = pageColumns(inputs[4], checked.paged[4], sizes.T);

  // Every input must hold what the sizes address before anything is
  // created: the module reads them on trust.
  const char *prefix = gateway.errorPrefix;
  const uint64_t sizeValues[] = {sizes.T, sizes.n, sizes.m, sizes.k, sizes.h, 1};  // by ModelSize
  for (size_t position = 0; position < gateway.inputs.size(); ++position) {
    const GatewayInput &input = gateway.inputs[position];
    const OrrimArray *array = inputs[position];
    const uint64_t rows = sizeValues[static_cast<int>(input.rows)];
    const uint64_t columns = sizeValues[static_cast<int>(input.columns)];
    switch (input.rule) {
      case InputRule::matrix:
        requireMatrix(prefix, array, input, rows, columns, checked.paged[position], sizes.T);
        break;
      case InputRule::oneValue:
        requireElements(prefix, array, input.name, 1, "one value");
        break;
      case InputRule::perPeriodOrEmpty:
        requireMatrixOrEmpty(prefix, array, input, rows, columns);
        break;
      case InputRule::variateColumns:
        requireVariateColumns(prefix, array, input, sizes);
        break;
      case InputRule::givesSizes:
      case InputRule::matrixOrCell:
        break;
    }
  }
  return checked;
}
