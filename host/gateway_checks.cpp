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
