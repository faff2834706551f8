/* The operations that an Orrim extension module may call, and the entry point
 * that it exports. Plain C, so that a module can be written in C or C++.
 *
 * Arrays are column-major doubles. An array of dimensions d0 x d1 x ... is seen
 * as d0 rows and d1 * d2 * ... columns. A cell array holds one array handle per
 * element, read by 0-based linear index. */
#ifndef ORRIM_H
#define ORRIM_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OrrimArray OrrimArray;

typedef enum OrrimComplexity { orrimReal = 0, orrimComplex = 1 } OrrimComplexity;

#if defined(__GNUC__)
#define ORRIM_NORETURN __attribute__((noreturn))
#define ORRIM_EXPORT __attribute__((visibility("default")))
#else
#define ORRIM_NORETURN
#define ORRIM_EXPORT
#endif

/* Ends the current module call with this error; never returns. Both texts are
 * copied before the call unwinds. */
ORRIM_NORETURN void orrimRaiseError(const char *identifier, const char *message);

uint64_t orrimRows(const OrrimArray *array);
/* The product of all dimensions after the first. */
uint64_t orrimColumns(const OrrimArray *array);
uint64_t orrimDimensionCount(const OrrimArray *array);
/* The orrimDimensionCount sizes of the array, the first dimension first
 * (at least two). Trailing dimensions of one may or may not be there: an
 * r x c x 1 array is an r x c matrix. */
const uint64_t *orrimDimensions(const OrrimArray *array);
/* The first double of a real array; null for a cell array. */
double *orrimRealData(const OrrimArray *array);
/* The first element of a real array; 0.0 for an empty or cell array. */
double orrimScalar(const OrrimArray *array);
bool orrimIsEmpty(const OrrimArray *array);
bool orrimIsCell(const OrrimArray *array);
/* Element `index` of a cell array; null for an index past the end, an element
 * never set, or an array that is not a cell array. */
const OrrimArray *orrimCellElement(const OrrimArray *cell, uint64_t index);
bool orrimIsNaN(double value);

/* A new zero-filled matrix owned by the host once stored in an output slot. */
OrrimArray *orrimCreateRealMatrix(uint64_t rows, uint64_t columns, OrrimComplexity complexity);
/* The same with any number of dimensions, dimensions[0] first; fewer than two
 * are padded with ones. */
OrrimArray *orrimCreateRealArray(uint64_t dimensionCount, const uint64_t *dimensions, OrrimComplexity complexity);

/* Host-managed memory. Never null: when memory runs out the call ends with an
 * error. Blocks that a call still holds when it ends are released by the host. */
void *orrimAlloc(uint64_t bytes);
void *orrimRealloc(void *block, uint64_t bytes);
void orrimFree(void *block);

/* The one entry point of every module. */
ORRIM_EXPORT void orrimGateway(int32_t outputCount, OrrimArray *outputs[], int32_t inputCount,
                               const OrrimArray *inputs[]);

#ifdef __cplusplus
}
#endif

#endif
