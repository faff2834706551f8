// A gateway's inputs described once, in a table of one entry per position,
// and the one routine that checks a call's inputs against it before anything
// is created. The fuzz contracts and the tests read the same tables.
#pragma once

#include "orrim.h"

#include <cstdint>
#include <span>

// The sizes an input's shape is given in: T periods, n series, m states, k
// state disturbances, h observation disturbances, or 1. A size made of
// others (the rows of a block of variates, say) would be one more entry,
// known once the sizes it is made of are.
enum class ModelSize : uint8_t { T, n, m, k, h, one };
inline constexpr int modelSizeCount = 6;

// What an input must be. Shapes are exact, in the rows and columns of the
// input's entry: the first input of a table whose shape names a size gives
// it (T and n are the rows and columns of Y, m the rows of A, k and h the
// columns of B and D, or of their pages), and every later input is held to
// it. The same numbers in another form are the same input: a shape of one
// row or one column may be given the other way round, trailing dimensions
// of one do not count (an r x c x 1 array is an r x c matrix), and an array
// without elements fits any shape without elements (x0 when m = 0).
enum class InputRule : uint8_t {
  matrix,            // rows x columns
  matrixOrPages,     // rows x columns for every period, or rows x columns x p
                     // with p >= T pages, page t for period t (later pages
                     // are not read)
  oneValue,          // exactly one element
  perPeriodOrEmpty,  // rows x T, column t for period t; or empty, for zeros
  matrixOrCell,      // rows x columns, or a cell array of at least T
                     // elements, element t of its own shape for period t;
                     // the module checks what each period reads
  variateColumns,    // one column per draw, at least one, each of exactly
                     // m + T*(k+h) rows: z0, then u_t and e_t of every period
};

struct GatewayInput {
  const char *name;  // with its position, as the user reads it: "Input 2 (A)"
  InputRule rule;
  ModelSize rows;
  ModelSize columns;
};

struct GatewayDescription {
  const char *errorPrefix;   // every identifier the module raises starts with it
  const char *countMessage;  // the message of a call with another input count
  std::span<const GatewayInput> inputs;
};

// Every module takes Y, A, B, C, D first: T and n are the rows and columns of
// Y, m the rows of A, k and h the page widths of B and D.
struct ModelSizes {
  uint64_t T, n, m, k, h;
};

inline constexpr int maxGatewayInputs = 16;

struct CheckedInputs {
  ModelSizes sizes;
  bool paged[maxGatewayInputs];  // by position: an input given with one page per period
};

// The sizes as the checks of one call learn them, by ModelSize.
struct KnownSizes {
  uint64_t value[modelSizeCount] = {0, 0, 0, 0, 0, 1};
  bool known[modelSizeCount] = {false, false, false, false, false, true};

  uint64_t operator[](ModelSize size) const { return value[static_cast<int>(size)]; }
  void give(ModelSize size, uint64_t given) {
    value[static_cast<int>(size)] = given;
    known[static_cast<int>(size)] = true;
  }
  // A size that the next matrix gives anew, as a cell array's element does
  // for its period.
  void forget(ModelSize size) { known[static_cast<int>(size)] = false; }
};

// The input an error names: its entry's name, or the element of period t of
// a cell array input. Two words, passed in registers.
struct InputPlace {
  static constexpr uint64_t wholeInput = ~uint64_t{0};
  const char *name;
  uint64_t period = wholeInput;  // of a cell array's element
  bool isCellElement() const { return period != wholeInput; }
};

// The size a matrix gives beside a size already known, its number of rows
// or of columns: its own, unless it is a shape of one row or one column
// given the other way round. With 2 rows known, a 1 x 2 matrix is the column
// 2 x 1; with 1 row known, a 3 x 1 matrix is the row 1 x 3.
inline uint64_t givenColumns(uint64_t rows, uint64_t columns, uint64_t knownRows) {
  if (rows == knownRows) return columns;
  if (knownRows == 1 && columns == 1) return rows;
  if (rows == 1 && columns == knownRows) return 1;
  return columns;
}
inline uint64_t givenRows(uint64_t rows, uint64_t columns, uint64_t knownColumns) {
  if (columns == knownColumns) return rows;
  if (knownColumns == 1 && rows == 1) return columns;
  if (columns == 1 && rows == knownColumns) return 1;
  return rows;
}

// The input count, then every input present and real (or a cell array where
// the table allows one), in position order. Ends the call with
// `<prefix>NotEnoughInputs` or `<prefix>InputNotReal` otherwise.
void requireGatewayInputsPresent(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]);

// requireGatewayInputsPresent, then every input against its rule in
// position order (requireGatewayInput). The sizes are those the inputs gave.
CheckedInputs checkGatewayInputs(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]);

// Input `position` of the table against its rule (a matrixOrCell input is
// left to its module), with the sizes known so far, which it may add to.
// Returns whether it was given with one page per period. The first fault
// ends the call: `<prefix>InputTooSmall` for fewer elements than the shape
// holds, `<prefix>InputShape` for enough in another shape, `<prefix>TooLarge`
// for a shape beyond a 64-bit count; the messages name the input and give
// the shape given and the shape wanted, in sizes and in numbers.
bool requireGatewayInput(const GatewayDescription &gateway, size_t position, const OrrimArray *array,
                         KnownSizes &sizes);

// What requireGatewayInput checks a matrix or matrixOrPages input with, for
// one array in any place: rows x columns, or pages of it when `pageable`,
// giving the sizes it names first. `otherForm`, when not null, ends the
// wanted shape of an error (", or a cell array of one per period").
bool requireMatrixShape(const char *prefix, InputPlace place, const OrrimArray *array, ModelSize rows,
                        ModelSize columns, bool pageable, KnownSizes &sizes, const char *otherForm = nullptr);

// The texts of an error, made only when it is raised. An array's
// dimensions: "2 x 3 x 4".
struct DimensionsText {
  char text[128];
  explicit DimensionsText(const OrrimArray *array);
};

// Where an input is: "Input 4 (C)", or "The cell of period t = 1 in input 4
// (C)"; with a small first letter when it stands inside a sentence.
struct PlaceText {
  char text[160];
  PlaceText(const InputPlace &place, bool insideSentence);
};
