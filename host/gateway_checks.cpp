#include "gateway_checks.h"

#include "dense_kernels.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

void raiseGatewayError(const char *prefix, const char *suffix, const char *format, ...) {
  char identifier[128];
  std::snprintf(identifier, sizeof identifier, "%s%s", prefix, suffix);
  char message[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  orrimRaiseError(identifier, message);
}

void requireRunnableKernelPath() {
  const KernelPathChoice &choice = processKernelPath();
  if (choice.kernels == nullptr) {
    orrimRaiseError("orrim:KernelPathUnavailable", choice.refusal);
  }
}

void requireRealArray(const char *prefix, const OrrimArray *array, const char *name) {
  if (array == nullptr) {
    raiseGatewayError(prefix, "InputNotReal", "%s is missing; it must be a real array.", name);
  }
  if (orrimIsCell(array)) {
    raiseGatewayError(prefix, "InputNotReal", "%s is a cell array; it must be a real array.", name);
  }
}

namespace {

uint64_t heldElements(const OrrimArray *array) { return orrimIsEmpty(array) ? 0 : orrimRows(array) * orrimColumns(array); }

[[noreturn]] void raiseTooSmall(const char *prefix, const char *name, uint64_t held, uint64_t needed,
                                const char *requirement) {
  raiseGatewayError(prefix, "InputTooSmall", "%s holds %" PRIu64 " elements; it must hold at least %" PRIu64 " (%s).",
                    name, held, needed, requirement);
}

[[noreturn]] void raiseOverflow(const char *prefix, const char *what, uint64_t a, uint64_t b) {
  raiseGatewayError(prefix, "TooLarge", "The size %s (%" PRIu64 " * %" PRIu64 ") overflows a 64-bit count.", what, a,
                    b);
}

}  // namespace

void requireElements(const char *prefix, const OrrimArray *array, const char *name, uint64_t needed,
                     const char *requirement) {
  requireRealArray(prefix, array, name);
  const uint64_t held = heldElements(array);
  if (held < needed) {
    raiseTooSmall(prefix, name, held, needed, requirement);
  }
}

uint64_t checkedProduct(const char *prefix, uint64_t a, uint64_t b, const char *what) {
  uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) {
    raiseOverflow(prefix, what, a, b);
  }
  return product;
}

uint64_t checkedBytes(const char *prefix, uint64_t doubles, const char *what) {
  return checkedProduct(prefix, doubles, sizeof(double), what);
}

bool isPagedCoefficient(const OrrimArray *array) { return orrimDimensionCount(array) == 3; }

uint64_t pageColumns(const OrrimArray *array, bool paged, uint64_t periods) {
  const uint64_t columns = orrimColumns(array);
  if (!paged) {
    return columns;
  }
  return periods == 0 ? 0 : columns / periods;
}

uint64_t requireCoefficient(const char *prefix, const OrrimArray *array, const char *name, const char *shape,
                            uint64_t rows, uint64_t columns, bool paged, uint64_t periods) {
  requireRealArray(prefix, array, name);
  // The texts are made only for an error: a model fitted thousands of times
  // passes these checks on every call.
  uint64_t pageSize = 0;
  uint64_t needed = 0;
  const bool pageOverflows = __builtin_mul_overflow(rows, columns, &pageSize);
  const bool pagesOverflow = !pageOverflows && paged && __builtin_mul_overflow(pageSize, periods, &needed);
  if (pageOverflows || pagesOverflow) {
    char what[160];
    std::snprintf(what, sizeof what, "%s page of %s", name, shape);
    raiseOverflow(prefix, what, pageOverflows ? rows : pageSize, pageOverflows ? columns : periods);
  }
  if (!paged) {
    needed = pageSize;
  }
  const uint64_t held = heldElements(array);
  if (held < needed) {
    char requirement[200];
    if (paged) {
      std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64 " per page, %" PRIu64 " pages",
                    shape, rows, columns, periods);
    } else {
      std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64, shape, rows, columns);
    }
    raiseTooSmall(prefix, name, held, needed, requirement);
  }
  return pageSize;
}

double *allocateDoubles(const char *prefix, uint64_t doubles, const char *what) {
  return static_cast<double *>(orrimAlloc(checkedBytes(prefix, doubles, what)));
}
