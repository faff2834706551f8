// The eight inputs of cellstatefilter as the gateway sees them, and the sizes
// that one check of all of them establishes before anything is created.
#pragma once

#include "cellstatefilter_inputs.h"
#include "orrim.h"
#include "state_space_model.h"

#include <cstdint>

// Y or one of A, B, C, D is a PeriodInput of the form constant (one matrix;
// for Y, row t serves period t) or cell (element t, by 0-based linear index
// in any cell shape, serves period t), with its host array.
inline const OrrimArray *arrayOf(const PeriodInput &input) { return static_cast<const OrrimArray *>(input.array); }

inline bool isCell(const PeriodInput &input) { return input.form == InputForm::cell; }

// The array that serves period t.
inline const OrrimArray *arrayOfPeriod(const PeriodInput &input, uint64_t t) {
  return isCell(input) ? orrimCellElement(arrayOf(input), t) : arrayOf(input);
}

struct CellFilterInputs {
  PeriodInput Y, A, B, C, D;
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
