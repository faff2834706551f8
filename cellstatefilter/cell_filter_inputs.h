// The eight inputs of cellstatefilter as the gateway sees them, and the sizes
// that one check of all of them establishes before anything is created.
#pragma once

#include "cellstatefilter_inputs.h"
#include "orrim.h"

#include <cstdint>

// Y or one of A, B, C, D: one matrix for every period, or a cell array whose
// element t (0-based linear index, any cell shape) serves period t.
struct PeriodSource {
  const OrrimArray *array;
  bool isCell;
};

inline const OrrimArray *matrixOfPeriod(PeriodSource source, uint64_t t) {
  return source.isCell ? orrimCellElement(source.array, t) : source.array;
}

struct CellFilterInputs {
  PeriodSource Y, A, B, C, D;
  const OrrimArray *x0;
  const OrrimArray *P0;
  const OrrimArray *tol;
};

// Sizes that hold from the start; k, h and the series count n change by
// period when their input is a cell array.
struct CellFilterSizes {
  uint64_t T;                  // rows of Y, also when Y is a cell array
  uint64_t m;                  // rows of A, or of its element 0
  uint64_t firstSeries;        // n of period 0: rows of C, or of its element 0
  uint64_t firstDisturbances;  // k of period 0
  uint64_t firstInnovations;   // h of period 0
  uint64_t mostSeries;         // the largest series count of any period
};

// Checks the input count and that every input is there, each of Y, A, B, C, D
// a real or a cell array and the others real, then takes the handles apart.
CellFilterInputs readCellFilterInputs(int32_t inputCount, const OrrimArray *const inputs[]);

// Checks that every input holds what the filter will read in every period,
// and that no size product overflows; ends the call with a one-line
// "tarv:ssm:kfctv:..." error naming the input and the period otherwise.
CellFilterSizes checkCellFilterInputs(const CellFilterInputs &inputs);
