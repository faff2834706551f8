#include "input_rules.h"

#include <cstring>
#include <limits>
#include <map>
#include <optional>

namespace fuzzing {
namespace {

// The sizes a call's inputs have given so far; "1" is always known.
class GivenSizes {
 public:
  GivenSizes() { sizes_[ModelSize::one] = 1; }
  std::optional<uint64_t> of(ModelSize size) const {
    const auto found = sizes_.find(size);
    return found == sizes_.end() ? std::nullopt : std::optional<uint64_t>(found->second);
  }
  uint64_t valueOf(ModelSize size) const { return of(size).value_or(0); }
  void set(ModelSize size, uint64_t value) { sizes_[size] = value; }
  void drop(ModelSize size) { sizes_.erase(size); }

 private:
  std::map<ModelSize, uint64_t> sizes_;
};

struct Judgement {
  GivenSizes sizes;
  std::set<std::string> faults;
};

bool isCellArray(const OrrimArray *array) { return array != nullptr && orrimIsCell(array); }

// `array` as one rows x columns matrix, or (pageable) as pages of one: the
// sizes it names first it gives, a shape of one row or one column may come
// the other way round, pages beyond T are allowed, and no elements fit a
// shape of none.
void judgeMatrix(Judgement &judgement, const OrrimArray *array, ModelSize rowsSize, ModelSize columnsSize,
                 bool pageable) {
  const std::vector<uint64_t> dimensions = countedDimensions(array);
  const bool paged = pageable && dimensions.size() == 3;
  const uint64_t givenRows = dimensions[0];
  uint64_t givenColumns = dimensions[1];
  for (size_t d = 2; !paged && d < dimensions.size(); ++d) {
    givenColumns *= dimensions[d];
  }
  // A size the matrix gives beside a known one: where the known one does not
  // match, the matrix may be the wanted row or column the other way round.
  const auto besideKnown = [](uint64_t known, uint64_t matching, uint64_t other) {
    if (matching != known && known == 1 && other == 1) return matching;  // a row as a column
    if (matching != known && matching == 1 && other == known) return uint64_t{1};  // a column as a row
    return other;
  };
  GivenSizes &sizes = judgement.sizes;
  if (!sizes.of(rowsSize)) {
    const std::optional<uint64_t> known = sizes.of(columnsSize);
    sizes.set(rowsSize, known ? besideKnown(*known, givenColumns, givenRows) : givenRows);
  }
  const uint64_t rows = *sizes.of(rowsSize);
  if (!sizes.of(columnsSize)) {
    sizes.set(columnsSize, besideKnown(rows, givenRows, givenColumns));
  }
  const uint64_t columns = *sizes.of(columnsSize);

  uint64_t needed = 0;
  if (__builtin_mul_overflow(rows, columns, &needed) ||
      (paged && __builtin_mul_overflow(needed, sizes.valueOf(ModelSize::T), &needed))) {
    judgement.faults.insert("TooLarge");
    return;
  }
  const uint64_t held = orrim::elementCount(array);
  if (held < needed) {
    judgement.faults.insert("InputTooSmall");
    return;
  }
  if (held == 0 && needed == 0) {
    return;
  }
  const bool sameWay = givenRows == rows && givenColumns == columns;
  const bool otherWay = (rows == 1 || columns == 1) && givenRows == columns && givenColumns == rows;
  if (dimensions.size() != (paged ? 3u : 2u) || !(sameWay || otherWay)) {
    judgement.faults.insert("InputShape");
  }
}

// An input of the table other than a cell array's.
void judgeEntry(Judgement &judgement, const GatewayInput &entry, const OrrimArray *array) {
  const uint64_t held = orrim::elementCount(array);
  switch (entry.rule) {
    case InputRule::matrix:
      judgeMatrix(judgement, array, entry.rows, entry.columns, false);
      return;
    case InputRule::matrixOrPages:
      judgeMatrix(judgement, array, entry.rows, entry.columns, true);
      return;
    case InputRule::oneValue:
      if (held != 1) {
        judgement.faults.insert(held == 0 ? "InputTooSmall" : "InputShape");
      }
      return;
    case InputRule::perPeriodOrEmpty:
      if (held != 0) {
        judgeMatrix(judgement, array, entry.rows, entry.columns, false);
      }
      return;
    case InputRule::variateColumns: {
      // Exactly m + T*(k+h) rows, one column per draw, at least one.
      const GivenSizes &sizes = judgement.sizes;
      uint64_t perPeriod = 0, periods = 0, needed = 0;
      if (__builtin_add_overflow(sizes.valueOf(ModelSize::k), sizes.valueOf(ModelSize::h), &perPeriod) ||
          __builtin_mul_overflow(sizes.valueOf(ModelSize::T), perPeriod, &periods) ||
          __builtin_add_overflow(sizes.valueOf(ModelSize::m), periods, &needed)) {
        judgement.faults.insert("TooLarge");
        return;
      }
      const std::vector<uint64_t> dimensions = countedDimensions(array);
      uint64_t columns = 1;
      for (size_t d = 1; d < dimensions.size(); ++d) columns *= dimensions[d];
      if (dimensions[0] < needed || columns == 0) {
        judgement.faults.insert("InputTooSmall");
      } else if (dimensions.size() != 2 || dimensions[0] != needed) {
        judgement.faults.insert("InputShape");
      }
      return;
    }
    case InputRule::matrixOrCell:
      return;
  }
}

// The count, then every input there and real, or a cell array where the
// table allows one: checked before anything else.
bool inputsPresent(const GatewayDescription &gateway, const std::vector<const OrrimArray *> &inputs,
                   RuleVerdict &verdict) {
  if (inputs.size() != gateway.inputs.size()) {
    verdict.faults.insert("NotEnoughInputs");
    return false;
  }
  for (size_t position = 0; position < inputs.size(); ++position) {
    const bool cellAllowed = gateway.inputs[position].rule == InputRule::matrixOrCell;
    if (inputs[position] == nullptr || (!cellAllowed && isCellArray(inputs[position]))) {
      verdict.faults.insert("InputNotReal");
    }
  }
  return verdict.faults.empty();
}

// Whether the m x m P0 breaks the rules of a diffuse start: -inf anywhere,
// +inf off the diagonal, or +inf on it beside a non-zero (or NaN) element of
// its row or column.
bool breaksTheDiffuseStart(const double *P0, uint64_t m) {
  const double infinity = std::numeric_limits<double>::infinity();
  for (uint64_t j = 0; j < m; ++j) {
    for (uint64_t i = 0; i < m; ++i) {
      const double value = P0[i + j * m];
      const bool diffuseBeside = P0[i + i * m] == infinity || P0[j + j * m] == infinity;
      if (value == -infinity || (i != j && (value == infinity || (diffuseBeside && value != 0.0)))) {
        return true;
      }
    }
  }
  return false;
}

// The verdict of the shapes, and where they keep the rules, of P0's diffuse
// start, which the modules check after them.
RuleVerdict verdictOf(const Judgement &judgement, const GatewayDescription &gateway,
                      const std::vector<const OrrimArray *> &inputs) {
  RuleVerdict verdict;
  verdict.faults = judgement.faults;
  verdict.T = judgement.sizes.valueOf(ModelSize::T);
  verdict.m = judgement.sizes.valueOf(ModelSize::m);
  verdict.n = judgement.sizes.valueOf(ModelSize::n);
  verdict.k = judgement.sizes.valueOf(ModelSize::k);
  verdict.h = judgement.sizes.valueOf(ModelSize::h);
  if (verdict.faults.empty() && verdict.m > 0) {
    for (size_t position = 0; position < gateway.inputs.size(); ++position) {
      if (std::strstr(gateway.inputs[position].name, "(P0)") != nullptr &&
          breaksTheDiffuseStart(orrimRealData(inputs[position]), verdict.m)) {
        verdict.faults.insert("InvalidDiffuseStart");
      }
    }
  }
  return verdict;
}

}  // namespace

std::vector<uint64_t> countedDimensions(const OrrimArray *array) {
  std::vector<uint64_t> dimensions = orrim::dimensions(array);
  while (dimensions.size() > 2 && dimensions.back() == 1) {
    dimensions.pop_back();
  }
  return dimensions;
}

RuleVerdict judgeTableCall(const GatewayDescription &gateway, const std::vector<const OrrimArray *> &inputs) {
  RuleVerdict verdict;
  if (!inputsPresent(gateway, inputs, verdict)) {
    return verdict;
  }
  Judgement judgement;
  for (size_t position = 0; position < inputs.size(); ++position) {
    judgeEntry(judgement, gateway.inputs[position], inputs[position]);
  }
  return verdictOf(judgement, gateway, inputs);
}

RuleVerdict judgeCellFilterCall(const GatewayDescription &gateway, const std::vector<const OrrimArray *> &inputs) {
  RuleVerdict verdict;
  if (!inputsPresent(gateway, inputs, verdict)) {
    return verdict;
  }
  Judgement judgement;
  const uint64_t T = orrimRows(inputs[0]);
  judgement.sizes.set(ModelSize::T, T);
  // Y, A, B, C, D: a cell array must have an element for every period.
  bool everyPeriodThere = true;
  bool anyCell = false;
  for (size_t position = 0; position < 5; ++position) {
    if (isCellArray(inputs[position])) {
      anyCell = true;
      if (orrim::elementCount(inputs[position]) < T) {
        judgement.faults.insert("InputTooSmall");
        everyPeriodThere = false;
      }
    }
  }
  // The matrix of period t, or null when a cell array has none to give
  // (no period and no element, or an element that is not real).
  const auto matrixOf = [&](size_t position, uint64_t t) -> const OrrimArray * {
    const OrrimArray *input = inputs[position];
    if (!isCellArray(input)) {
      return input;
    }
    if (T == 0 && orrim::elementCount(input) == 0) {
      return nullptr;
    }
    const OrrimArray *element = orrimCellElement(input, t);
    if (element == nullptr || orrimIsCell(element)) {
      judgement.faults.insert("InputNotReal");
      return nullptr;
    }
    return element;
  };
  const auto judgeCoefficient = [&](size_t position, uint64_t t) {
    if (const OrrimArray *matrix = matrixOf(position, t)) {
      const GatewayInput &entry = gateway.inputs[position];
      judgeMatrix(judgement, matrix, entry.rows, entry.columns, false);
    }
  };

  // Period 0 gives m and the first n, k and h.
  for (size_t position = 1; position < 5; ++position) {
    judgeCoefficient(position, 0);
  }
  const uint64_t firstSeries = judgement.sizes.valueOf(ModelSize::n);
  const uint64_t firstInnovations = judgement.sizes.valueOf(ModelSize::h);
  for (size_t position = 5; position < 8; ++position) {
    judgeEntry(judgement, gateway.inputs[position], inputs[position]);
  }
  const uint64_t periods = (T == 0 || !anyCell || !everyPeriodThere) ? 1 : T;
  for (uint64_t t = 0; t < periods; ++t) {
    if (t > 0) {
      const ModelSize givenByElement[] = {ModelSize::m, ModelSize::k, ModelSize::n, ModelSize::h};
      for (size_t position = 1; position < 5; ++position) {
        if (isCellArray(inputs[position])) {
          if (position > 1) judgement.sizes.drop(givenByElement[position - 1]);
          judgeCoefficient(position, t);
        }
      }
      // One matrix Y or D serves period 0's series count in every period.
      const uint64_t n = judgement.sizes.valueOf(ModelSize::n);
      if (!isCellArray(inputs[4]) && n != firstSeries) {
        uint64_t needed = 0;
        const bool tooFew = __builtin_mul_overflow(n, firstInnovations, &needed) ||
                            orrim::elementCount(inputs[4]) < needed;
        judgement.faults.insert(tooFew ? "InputTooSmall" : "InputShape");
      }
      if (!isCellArray(inputs[0]) && n != firstSeries) {
        judgement.faults.insert(orrimColumns(inputs[0]) < n ? "InputTooSmall" : "InputShape");
      }
    }
    if (t < T) {
      if (isCellArray(inputs[0])) {
        if (const OrrimArray *observations = matrixOf(0, t)) {
          judgeMatrix(judgement, observations, ModelSize::n, ModelSize::one, false);
        }
      } else if (t == 0) {
        judgeMatrix(judgement, inputs[0], ModelSize::T, ModelSize::n, false);
      }
    }
  }
  return verdictOf(judgement, gateway, inputs);
}

}  // namespace fuzzing
