// Checks a gateway makes before it creates anything: every input is a real
// array holding at least what the sizes address, and no size product
// overflows. Each failure ends the call with `<prefix>InputNotReal`,
// `<prefix>InputTooSmall` or `<prefix>TooLarge` and a one-line message.
#pragma once

#include "orrim.h"

#include <cstdint>

// Ends the call with orrim:KernelPathUnavailable when ORRIM_KERNELS names a
// kernel path this process refuses: a name that is no path, or a path the
// processor cannot run. No other path is taken in its place. Gateways ask
// first, before anything is created.
void requireRunnableKernelPath();

// `name` says which input, as the user would: "Input 1 (A)".
void requireRealArray(const char *prefix, const OrrimArray *array, const char *name);

// `requirement` says where the count comes from, e.g. "m*m with m = 3".
void requireElements(const char *prefix, const OrrimArray *array, const char *name, uint64_t needed,
                     const char *requirement);

// A coefficient given with exactly three dimensions holds one page per
// period; any other count (2, or 4 and more) is one matrix for every period.
bool isPagedCoefficient(const OrrimArray *array);

// The page width of a coefficient: its columns, or for a paged one its
// columns (pages times width) divided by the period count. With no period
// there is no page, and nothing is divided.
uint64_t pageColumns(const OrrimArray *array, bool paged, uint64_t periods);

// Checks that a coefficient holds one rows x columns page, or `periods` pages
// when paged; `shape` names the page, e.g. "m x k". Returns the page size.
uint64_t requireCoefficient(const char *prefix, const OrrimArray *array, const char *name, const char *shape,
                            uint64_t rows, uint64_t columns, bool paged, uint64_t periods);

// a*b, or the TooLarge error naming `what` when the product overflows 64 bits.
uint64_t checkedProduct(const char *prefix, uint64_t a, uint64_t b, const char *what);

// The byte count of `doubles` doubles, checked the same way.
uint64_t checkedBytes(const char *prefix, uint64_t doubles, const char *what);

// A working block of `doubles` doubles from orrimAlloc, its byte count checked
// as checkedBytes does.
double *allocateDoubles(const char *prefix, uint64_t doubles, const char *what);

// A one-line error with the identifier `<prefix><suffix>`, formatted like printf.
[[noreturn]] void raiseGatewayError(const char *prefix, const char *suffix, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
