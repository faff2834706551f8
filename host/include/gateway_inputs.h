// A gateway's inputs described once, in a table of one entry per position,
// and the one routine that checks a call's inputs against it before anything
// is created. The fuzz contracts and the tests read the same tables.
#pragma once

#include "orrim.h"

#include <cstdint>
#include <span>

// The sizes an input's shape is given in: T periods, n series, m states, k
// state disturbances, h observation disturbances, or 1.
enum class ModelSize : uint8_t { T, n, m, k, h, one };

enum class InputRule : uint8_t {
  givesSizes,        // read for its sizes only, so it holds them by construction
  matrix,            // rows x columns, or one such page per period when paged
  oneValue,          // at least one element
  perPeriodOrEmpty,  // rows x T, or empty for zeros
  matrixOrCell,      // a real array or a cell array of one matrix per period;
                     // the module checks what each period reads
  variateColumns,    // one column per draw, at least one, each of at least
                     // m + T*(k+h) rows: z0, then u_t and e_t of every period
};

struct GatewayInput {
  const char *name;  // with its position, as the user reads it: "Input 2 (A)"
  InputRule rule;
  ModelSize rows;
  ModelSize columns;
  bool pageable;  // given with exactly three dimensions, one page per period
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
  bool paged[maxGatewayInputs];  // by position: a pageable input given with one page per period
};

// The input count, then every input present and real (or a cell array where
// the table allows one), in position order. Ends the call with
// `<prefix>NotEnoughInputs` or `<prefix>InputNotReal` otherwise.
void requireGatewayInputsPresent(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]);

// requireGatewayInputsPresent, then the sizes, then every input against its
// rule in position order; the first input that does not hold what its shape
// addresses ends the call with `<prefix>InputTooSmall` or `<prefix>TooLarge`.
CheckedInputs checkGatewayInputs(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]);
