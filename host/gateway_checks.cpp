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

void raiseInputTooSmall(const char *prefix, const char *name, uint64_t held, uint64_t needed,
                        const char *requirement) {
  raiseGatewayError(prefix, "InputTooSmall", "%s holds %" PRIu64 " elements; it must hold at least %" PRIu64 " (%s).",
                    name, held, needed, requirement);
}

void raiseSizeOverflow(const char *prefix, const char *what, uint64_t a, uint64_t b) {
  raiseGatewayError(prefix, "TooLarge", "The size %s (%" PRIu64 " * %" PRIu64 ") overflows a 64-bit count.", what, a,
                    b);
}

double *createOutput(OrrimArray *outputs[], int slot, std::initializer_list<uint64_t> dimensions) {
  outputs[slot] = orrimCreateRealArray(dimensions.size(), dimensions.begin(), orrimReal);
  return orrimRealData(outputs[slot]);
}

namespace {

bool isPlusInfinity(double value) { return value > 0.0 && value - value != 0.0; }
bool isMinusInfinity(double value) { return value < 0.0 && value - value != 0.0; }

}  // namespace

bool requireValidDiffuseStart(const char *prefix, const char *name, const double *P0, uint64_t m) {
  bool diffuse = false;
  for (uint64_t j = 0; j < m; ++j) {
    for (uint64_t i = 0; i < m; ++i) {
      const double value = P0[i + j * m];
      if (isMinusInfinity(value)) {
        raiseGatewayError(prefix, "InvalidDiffuseStart",
                          "%s holds -Inf at (%" PRIu64 ", %" PRIu64
                          ") (from 0); a variance is finite, or +Inf on the diagonal for a diffuse state.",
                          name, i, j);
      }
      if (isPlusInfinity(value) && i != j) {
        raiseGatewayError(prefix, "InvalidDiffuseStart",
                          "%s holds +Inf at (%" PRIu64 ", %" PRIu64
                          ") (from 0), off the diagonal; +Inf marks a diffuse state on the diagonal only.",
                          name, i, j);
      }
    }
  }
  for (uint64_t i = 0; i < m; ++i) {
    if (!isPlusInfinity(P0[i + i * m])) {
      continue;
    }
    diffuse = true;
    for (uint64_t l = 0; l < m; ++l) {
      // (l, i) in the state's column, then (i, l) in its row.
      const uint64_t places[2][2] = {{l, i}, {i, l}};
      for (const auto &place : places) {
        const double beside = P0[place[0] + place[1] * m];
        if (l != i && beside != 0.0) {
          raiseGatewayError(prefix, "InvalidDiffuseStart",
                            "%s marks state %" PRIu64 " (from 0) as diffuse with +Inf on its diagonal, but holds %g at (%" PRIu64
                            ", %" PRIu64 "); the other elements of a diffuse state's row and column must be zero.",
                            name, i, beside, place[0], place[1]);
        }
      }
    }
  }
  return diffuse;
}
