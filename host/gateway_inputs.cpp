#include "gateway_inputs.h"

#include "gateway_checks.h"

#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr const char *sizeNames[] = {"T", "n", "m", "k", "h", "1"};

const char *nameOf(ModelSize size) { return sizeNames[static_cast<int>(size)]; }

// An array's shape as the checks read it: without its trailing dimensions of
// one, which a host may keep or drop, but never fewer than two.
struct GivenShape {
  uint64_t rows;
  uint64_t columns;      // every column: the product of the dimensions after the first
  uint64_t pageColumns;  // the second dimension
  uint64_t elements;
  uint64_t dimensions;   // those left
};

// Two host calls and a few multiplications: every input of every call
// passes here.
inline GivenShape givenShape(const OrrimArray *array) {
  const uint64_t *extent = orrimDimensions(array);
  uint64_t dimensions = orrimDimensionCount(array);
  if (dimensions <= 2) {
    return {extent[0], extent[1], extent[1], extent[0] * extent[1], 2};
  }
  while (dimensions > 2 && extent[dimensions - 1] == 1) {
    --dimensions;
  }
  // Exact in unsigned arithmetic: the host holds the element count in 64
  // bits, and a product with a zero factor is zero however its partial
  // products wrap.
  uint64_t columns = extent[1];
  for (uint64_t d = 2; d < dimensions; ++d) {
    columns *= extent[d];
  }
  return {extent[0], columns, extent[1], extent[0] * columns, dimensions};
}

// The sizes of one shape, as the texts of its errors give them; the texts
// are made only for an error, since every call passes the checks.
struct WantedShape {
  ModelSize rowsSize, columnsSize;
  uint64_t rows, columns;
  bool rowsByName, columnsByName;  // sizes the input gives itself, free to be any
  bool pageable;
  uint64_t periods;
  const char *otherForm;
};

int appendText(char *text, size_t room, int used, const char *format, ...) __attribute__((format(printf, 4, 5)));
int appendText(char *text, size_t room, int used, const char *format, ...) {
  if (used < 0 || static_cast<size_t>(used) >= room) {
    return used;
  }
  va_list arguments;
  va_start(arguments, format);
  const int added = std::vsnprintf(text + used, room - static_cast<size_t>(used), format, arguments);
  va_end(arguments);
  return added < 0 ? used : used + added;
}

// "n x m = 3 x 2 (one page), or n x m x T = 3 x 2 x 30"; "m x k = 2 x k";
// "m x 1 = 3 x 1 (or 1 x 3)".
void describeWanted(char *text, size_t room, const WantedShape &shape) {
  const char *rowsName = nameOf(shape.rowsSize);
  const char *columnsName = nameOf(shape.columnsSize);
  char rowsValue[24];
  char columnsValue[24];
  std::snprintf(rowsValue, sizeof rowsValue, "%" PRIu64, shape.rows);
  std::snprintf(columnsValue, sizeof columnsValue, "%" PRIu64, shape.columns);
  const char *rows = shape.rowsByName ? rowsName : rowsValue;
  const char *columns = shape.columnsByName ? columnsName : columnsValue;
  int used = std::snprintf(text, room, "%s x %s", rowsName, columnsName);
  if (!shape.rowsByName || !shape.columnsByName) {
    used = appendText(text, room, used, " = %s x %s", rows, columns);
  }
  if (!shape.rowsByName && !shape.columnsByName && (shape.rows == 1) != (shape.columns == 1)) {
    used = appendText(text, room, used, " (or %s x %s)", columns, rows);
  }
  if (shape.pageable) {
    used = appendText(text, room, used, " (one page), or %s x %s x T", rowsName, columnsName);
    if (!shape.rowsByName || !shape.columnsByName) {
      used = appendText(text, room, used, " = %s x %s x %" PRIu64, rows, columns, shape.periods);
    }
  }
  if (shape.otherForm != nullptr) {
    appendText(text, room, used, "%s", shape.otherForm);
  }
}

[[noreturn, gnu::cold, gnu::noinline]] void raiseShape(const char *prefix, const InputPlace &place,
                                                       const OrrimArray *array, const WantedShape &shape) {
  char wanted[320];
  describeWanted(wanted, sizeof wanted, shape);
  raiseGatewayError(prefix, "InputShape", "%s is %s; it must be %s.", PlaceText(place, false).text,
                    DimensionsText(array).text, wanted);
}

[[noreturn, gnu::cold, gnu::noinline]] void raiseTooSmall(const char *prefix, const InputPlace &place,
                                                          uint64_t held, uint64_t needed, const WantedShape &shape,
                                                          bool paged) {
  char requirement[200];
  const char *rowsName = nameOf(shape.rowsSize);
  const char *columnsName = nameOf(shape.columnsSize);
  if (paged) {
    std::snprintf(requirement, sizeof requirement, "%s x %s = %" PRIu64 " x %" PRIu64 " per page, %" PRIu64 " pages",
                  rowsName, columnsName, shape.rows, shape.columns, shape.periods);
  } else {
    std::snprintf(requirement, sizeof requirement, "%s x %s = %" PRIu64 " x %" PRIu64, rowsName, columnsName,
                  shape.rows, shape.columns);
  }
  raiseInputTooSmall(prefix, PlaceText(place, false).text, held, needed, requirement);
}

[[noreturn, gnu::cold, gnu::noinline]] void raiseShapeOverflow(const char *prefix, const InputPlace &place,
                                                               const WantedShape &shape, bool ofPages, uint64_t a,
                                                               uint64_t b) {
  char what[240];
  std::snprintf(what, sizeof what, "%s*%s%s of %s", nameOf(shape.rowsSize), nameOf(shape.columnsSize),
                ofPages ? "*T" : "", PlaceText(place, true).text);
  raiseSizeOverflow(prefix, what, a, b);
}

[[noreturn, gnu::cold, gnu::noinline]] void raiseNotOneValue(const char *prefix, const char *name,
                                                             const OrrimArray *array) {
  raiseGatewayError(prefix, "InputShape", "%s is %s; it must be one value.", name, DimensionsText(array).text);
}

// What a matrix check found, for the error it ends the call with: a shape
// beyond a 64-bit count, too few elements, or enough in another shape.
[[noreturn, gnu::cold, gnu::noinline]] void raiseMatrixFault(const char *prefix, const InputPlace &place,
                                                             const OrrimArray *array, const WantedShape &shape,
                                                             bool paged) {
  uint64_t page = 0;
  if (__builtin_mul_overflow(shape.rows, shape.columns, &page)) {
    raiseShapeOverflow(prefix, place, shape, false, shape.rows, shape.columns);
  }
  uint64_t needed = page;
  if (paged && __builtin_mul_overflow(page, shape.periods, &needed)) {
    raiseShapeOverflow(prefix, place, shape, true, page, shape.periods);
  }
  const uint64_t held = givenShape(array).elements;
  if (held < needed) {
    raiseTooSmall(prefix, place, held, needed, shape, paged);
  }
  raiseShape(prefix, place, array, shape);
}

inline bool checkMatrixShape(const char *prefix, InputPlace place, const OrrimArray *array,
                             ModelSize rowsSize, ModelSize columnsSize, bool pageable, KnownSizes &sizes,
                             const char *otherForm) {
  const GivenShape given = givenShape(array);
  const bool paged = pageable && given.dimensions == 3;
  const uint64_t givenColumnCount = paged ? given.pageColumns : given.columns;
  const bool rowsGiven = !sizes.known[static_cast<int>(rowsSize)];
  if (rowsGiven) {
    const bool columnsKnown = sizes.known[static_cast<int>(columnsSize)];
    sizes.give(rowsSize, columnsKnown ? givenRows(given.rows, givenColumnCount, sizes[columnsSize]) : given.rows);
  }
  const uint64_t rows = sizes[rowsSize];
  const bool columnsGiven = !sizes.known[static_cast<int>(columnsSize)];
  if (columnsGiven) {
    sizes.give(columnsSize, givenColumns(given.rows, givenColumnCount, rows));
  }
  const uint64_t columns = sizes[columnsSize];
  const uint64_t periods = sizes[ModelSize::T];

  uint64_t needed = 0;
  bool overflows = __builtin_mul_overflow(rows, columns, &needed);
  if (paged) {
    overflows |= __builtin_mul_overflow(needed, periods, &needed);
  }
  // Pages past the T-th are not read. A shape of one row or one column may
  // come the other way round: the same numbers, read the same.
  const bool exact = given.rows == rows && givenColumnCount == columns;
  const bool turned = (rows == 1 || columns == 1) && given.rows == columns && givenColumnCount == rows;
  const bool fits = given.dimensions == (paged ? 3u : 2u) && (exact || turned);
  if (overflows || given.elements < needed || (!fits && (given.elements != 0 || needed != 0))) {
    raiseMatrixFault(prefix, place, array,
                     {rowsSize, columnsSize, rows, columns, rowsGiven && rowsSize != columnsSize, columnsGiven,
                      pageable, periods, otherForm},
                     paged);
  }
  return paged;
}

// The variates of the draws: exactly m + T*(k+h) rows, the variates of one
// draw, and one column per draw, at least one. Texts are made only for an
// error.
[[gnu::cold, gnu::noinline]] void raiseVariateShape(const char *prefix, const GatewayInput &input,
                                                   const OrrimArray *array, uint64_t needed, bool overflow,
                                                   const KnownSizes &sizes) {
  if (overflow) {
    raiseGatewayError(prefix, "TooLarge",
                      "The rows m + T*(k+h) of %s (m = %" PRIu64 ", T = %" PRIu64 ", k = %" PRIu64 ", h = %" PRIu64
                      ") overflow a 64-bit count.",
                      input.name, sizes[ModelSize::m], sizes[ModelSize::T], sizes[ModelSize::k], sizes[ModelSize::h]);
  }
  const GivenShape given = givenShape(array);
  const uint64_t rows = given.rows;
  const uint64_t columns = given.columns;
  const bool tooFew = rows < needed || columns == 0;
  raiseGatewayError(prefix, tooFew ? "InputTooSmall" : "InputShape",
                    "%s is %" PRIu64 " x %" PRIu64 "; it must be (m + T*(k+h)) x draws = %" PRIu64
                    " x draws, with one draw at least.",
                    input.name, rows, columns, needed);
}

void requireVariateColumns(const char *prefix, const GatewayInput &input, const OrrimArray *array,
                           const KnownSizes &sizes) {
  uint64_t perPeriod = 0;
  uint64_t periods = 0;
  uint64_t needed = 0;
  const bool overflow = __builtin_add_overflow(sizes[ModelSize::k], sizes[ModelSize::h], &perPeriod) ||
                        __builtin_mul_overflow(sizes[ModelSize::T], perPeriod, &periods) ||
                        __builtin_add_overflow(sizes[ModelSize::m], periods, &needed);
  const GivenShape given = givenShape(array);
  if (overflow || given.dimensions != 2 || given.rows != needed || given.columns == 0) {
    raiseVariateShape(prefix, input, array, needed, overflow, sizes);
  }
}

inline bool checkInput(const char *prefix, const GatewayInput &input, const OrrimArray *array, KnownSizes &sizes) {
  switch (input.rule) {
    case InputRule::matrix:
    case InputRule::matrixOrPages:
      return checkMatrixShape(prefix, {input.name}, array, input.rows, input.columns,
                              input.rule == InputRule::matrixOrPages, sizes, nullptr);
    case InputRule::oneValue: {
      const GivenShape given = givenShape(array);
      if (given.elements == 0) {
        raiseInputTooSmall(prefix, input.name, 0, 1, "one value");
      }
      if (given.elements != 1) {
        raiseNotOneValue(prefix, input.name, array);
      }
      return false;
    }
    case InputRule::perPeriodOrEmpty:
      return !orrimIsEmpty(array) &&
             checkMatrixShape(prefix, {input.name}, array, input.rows, input.columns, false, sizes, ", or empty");
    case InputRule::variateColumns:
      requireVariateColumns(prefix, input, array, sizes);
      return false;
    case InputRule::matrixOrCell:
      return false;
  }
  return false;
}

[[noreturn, gnu::cold, gnu::noinline]] void raiseNotReal(const char *prefix, const OrrimArray *array,
                                                         const char *name) {
  requireRealArray(prefix, array, name);
  __builtin_unreachable();
}

// Inline in both callers: checkGatewayInputs runs on every call of a model
// fitted thousands of times.
inline void requirePresent(const GatewayDescription &gateway, int32_t inputCount, const OrrimArray *const inputs[]) {
  if (inputCount != static_cast<int32_t>(gateway.inputs.size())) {
    raiseGatewayError(gateway.errorPrefix, "NotEnoughInputs", "%s", gateway.countMessage);
  }
  for (size_t position = 0; position < gateway.inputs.size(); ++position) {
    const GatewayInput &input = gateway.inputs[position];
    const OrrimArray *array = inputs[position];
    if (input.rule != InputRule::matrixOrCell) {
      if (array == nullptr || orrimIsCell(array)) {
        raiseNotReal(gateway.errorPrefix, array, input.name);
      }
    } else if (array == nullptr) {
      raiseGatewayError(gateway.errorPrefix, "InputNotReal", "%s is missing; it must be a real array or a cell array.",
                        input.name);
    }
  }
}

}  // namespace

DimensionsText::DimensionsText(const OrrimArray *array) {
  const uint64_t *extent = orrimDimensions(array);
  const uint64_t count = orrimDimensionCount(array);
  int used = 0;
  text[0] = '\0';
  for (uint64_t d = 0; d < count; ++d) {
    used = appendText(text, sizeof text, used, d == 0 ? "%" PRIu64 : " x %" PRIu64, extent[d]);
  }
}

PlaceText::PlaceText(const InputPlace &place, bool insideSentence) {
  if (place.isCellElement()) {
    std::snprintf(text, sizeof text, "The cell of period t = %" PRIu64 " in %c%s", place.period,
                  std::tolower(static_cast<unsigned char>(place.name[0])), place.name + 1);
  } else {
    std::snprintf(text, sizeof text, "%s", place.name);
  }
  if (insideSentence) {
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  }
}

void requireGatewayInputsPresent(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]) {
  requirePresent(gateway, inputCount, inputs);
}

bool requireMatrixShape(const char *prefix, InputPlace place, const OrrimArray *array, ModelSize rows,
                        ModelSize columns, bool pageable, KnownSizes &sizes, const char *otherForm) {
  return checkMatrixShape(prefix, place, array, rows, columns, pageable, sizes, otherForm);
}

bool requireGatewayInput(const GatewayDescription &gateway, size_t position, const OrrimArray *array,
                         KnownSizes &sizes) {
  return checkInput(gateway.errorPrefix, gateway.inputs[position], array, sizes);
}

CheckedInputs checkGatewayInputs(const GatewayDescription &gateway, int32_t inputCount,
                                 const OrrimArray *const inputs[]) {
  requirePresent(gateway, inputCount, inputs);
  // In position order: Y gives T and n, A gives m, B and D give k and h, and
  // every input after them is held to them before anything is created.
  CheckedInputs checked{};
  KnownSizes sizes;
  for (size_t position = 0; position < gateway.inputs.size(); ++position) {
    checked.paged[position] = checkInput(gateway.errorPrefix, gateway.inputs[position], inputs[position], sizes);
  }
  checked.sizes = {sizes[ModelSize::T], sizes[ModelSize::n], sizes[ModelSize::m], sizes[ModelSize::k],
                   sizes[ModelSize::h]};
  return checked;
}
