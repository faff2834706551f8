#include "gateway_checks.h"

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

void requireRealArray(const char *prefix, const OrrimArray *array, const char *name) {
  if (array == nullptr) {
    raiseGatewayError(prefix, "InputNotReal", "%s is missing; it must be a real array.", name);
  }
  if (orrimIsCell(array)) {
    raiseGatewayError(prefix, "InputNotReal", "%s is a cell array; it must be a real array.", name);
  }
}

void requireElements(const char *prefix, const OrrimArray *array, const char *name, uint64_t needed,
                     const char *requirement) {
  requireRealArray(prefix, array, name);
  const uint64_t held = orrimIsEmpty(array) ? 0 : orrimRows(array) * orrimColumns(array);
  if (held < needed) {
    raiseGatewayError(prefix, "InputTooSmall", "%s holds %" PRIu64 " elements; it must hold at least %" PRIu64 " (%s).",
                      name, held, needed, requirement);
  }
}

uint64_t checkedProduct(const char *prefix, uint64_t a, uint64_t b, const char *what) {
  uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) {
    raiseGatewayError(prefix, "TooLarge", "The size %s (%" PRIu64 " * %" PRIu64 ") overflows a 64-bit count.", what, a,
                      b);
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
  char what[160];
  std::snprintf(what, sizeof what, "%s page of %s", name, shape);
  const uint64_t pageSize = checkedProduct(prefix, rows, columns, what);
  const uint64_t needed = paged ? checkedProduct(prefix, pageSize, periods, what) : pageSize;
  char requirement[200];
  if (paged) {
    std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64 " per page, %" PRIu64 " pages",
                  shape, rows, columns, periods);
  } else {
    std::snprintf(requirement, sizeof requirement, "%s = %" PRIu64 " x %" PRIu64, shape, rows, columns);
  }
  requireElements(prefix, array, name, needed, requirement);
  return pageSize;
}

double *allocateDoubles(const char *prefix, uint64_t doubles, const char *what) {
  return static_cast<double *>(orrimAlloc(checkedBytes(prefix, doubles, what)));
}
