// Checks a gateway makes before it creates anything, beside the shapes of
// its inputs (gateway_inputs.h): every input is a real array, the kernel
// path runs, and no size product overflows. Each failure ends the call with
// `<prefix>InputNotReal`, `<prefix>InputTooSmall` or `<prefix>TooLarge` (or
// orrim:KernelPathUnavailable) and a one-line message.
#pragma once

#include "orrim.h"

#include <cstdint>
#include <initializer_list>

// Ends the call with orrim:KernelPathUnavailable when ORRIM_KERNELS names a
// kernel path this process refuses: a name that is no path, or a path the
// processor cannot run. No other path is taken in its place. Gateways ask
// first, before anything is created.
void requireRunnableKernelPath();

// `name` says which input, as the user would: "Input 1 (A)".
void requireRealArray(const char *prefix, const OrrimArray *array, const char *name);

// The InputTooSmall error: `name` holds `held` elements and must hold `needed`.
[[noreturn]] void raiseInputTooSmall(const char *prefix, const char *name, uint64_t held, uint64_t needed,
                                     const char *requirement);

// The TooLarge error of the product a*b, named `what`.
[[noreturn]] void raiseSizeOverflow(const char *prefix, const char *what, uint64_t a, uint64_t b);

// a*b, or the TooLarge error naming `what` when the product overflows 64 bits.
// Inline: a call on a small model makes a dozen of them.
inline uint64_t checkedProduct(const char *prefix, uint64_t a, uint64_t b, const char *what) {
  uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) {
    raiseSizeOverflow(prefix, what, a, b);
  }
  return product;
}

// The byte count of `doubles` doubles, checked the same way.
inline uint64_t checkedBytes(const char *prefix, uint64_t doubles, const char *what) {
  return checkedProduct(prefix, doubles, sizeof(double), what);
}

// P0 (m x m, column-major) marks a state as diffuse by +Inf on its diagonal,
// its row and column otherwise zero. Ends the call with
// `<prefix>InvalidDiffuseStart`, naming the input `name` and the state or
// element, for -Inf anywhere, +Inf off the diagonal, or a diffuse state with
// a non-zero (or NaN) element beside it; NaN elsewhere is left to the
// arithmetic. Returns whether a state is diffuse.
bool requireValidDiffuseStart(const char *prefix, const char *name, const double *P0, uint64_t m);

// Creates the real array of the given dimensions in outputs[slot] and returns
// its data.
double *createOutput(OrrimArray *outputs[], int slot, std::initializer_list<uint64_t> dimensions);

// A one-line error with the identifier `<prefix><suffix>`, formatted like printf.
[[noreturn]] void raiseGatewayError(const char *prefix, const char *suffix, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
