#include "correlated_noise.h"

#include <cstring>

bool seriesShareInnovations(const double *D, uint64_t n, uint64_t h) {
  // With fewer than two series D holds no element to share, whatever number
  // of columns it claims.
  if (n < 2) {
    return false;
  }
  for (uint64_t l = 0; l < h; ++l) {
    uint64_t loaded = 0;
    for (uint64_t j = 0; j < n; ++j) {
      if (D[j + l * n] != 0.0 && ++loaded == 2) {
        return true;
      }
    }
  }
  return false;
}

namespace {

// a*b, or all bits set when it overflows, which no allocation can meet: the
// host then ends the call for want of memory.
uint64_t productOrHuge(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? ~uint64_t{0} : product;
}

void makeRoom(Decorrelation &decorrelation, uint64_t n, uint64_t m) {
  if (n <= decorrelation.capacity) {
    return;
  }
  BlockCounts counts{};
  counts[nnDoubles] = productOrHuge(n, n);
  counts[nmDoubles] = productOrHuge(n, m);
  counts[nDoubles] = n;
  for (const WorkingBlock &block : decorrelationBlocks) {
    double *&pointer = blockPointer(&decorrelation, block);
    pointer = static_cast<double *>(decorrelation.grow(pointer, productOrHuge(counts[block.size], sizeof(double))));
  }
  for (uint64_t i = 0; i < n; ++i) {
    decorrelation.zeros[i] = 0.0;
  }
  decorrelation.capacity = n;
}

bool observed(const PeriodSeries &series, uint64_t j) { return !series.isMissing(series.y[j * series.yStride]); }

// How many series the period observes, counted before any block is taken:
// one alone shares its noise with nobody.
uint64_t countObservedSeries(const PeriodSeries &series) {
  uint64_t p = 0;
  for (uint64_t j = 0; j < series.n; ++j) {
    p += observed(series, j) ? 1 : 0;
  }
  return p;
}

// The observed series of the period, ascending, into decorrelation.series;
// returns their count, and in *same whether they are those of the kept factor.
uint64_t gatherObservedSeries(const PeriodSeries &series, Decorrelation &decorrelation, bool *same) {
  uint64_t p = 0;
  bool unchanged = true;
  for (uint64_t j = 0; j < series.n; ++j) {
    if (observed(series, j)) {
      const double index = static_cast<double>(j);
      unchanged = unchanged && p < decorrelation.factoredCount && decorrelation.series[p] == index;
      decorrelation.series[p++] = index;
    }
  }
  *same = unchanged && p == decorrelation.factoredCount;
  return p;
}

// The lower triangle of H_O, row by row, into the factor; returns whether
// an element off its diagonal is not zero (NaN is not zero).
bool formObservedNoiseCovariance(const PeriodSeries &series, uint64_t p, Decorrelation &decorrelation) {
  const double *D = series.period.sharedNoiseLoadings;
  const uint64_t n = series.n;
  bool correlated = false;
  for (uint64_t i = 0; i < p; ++i) {
    const uint64_t ji = static_cast<uint64_t>(decorrelation.series[i]);
    double *row = decorrelation.factor + i * p;
    for (uint64_t q = 0; q < i; ++q) {
      const uint64_t jq = static_cast<uint64_t>(decorrelation.series[q]);
      double s = 0.0;
      for (uint64_t l = 0; l < series.h; ++l) {
        const double a = D[ji + l * n];
        const double b = D[jq + l * n];
        if (a != 0.0 && b != 0.0) {
          s += a * b;
        }
      }
      row[q] = s;
      correlated |= s != 0.0;
    }
    row[i] = series.period.observationNoiseVar[ji];
  }
  return correlated;
}

// H_O = L*Delta*L' in place: L below the diagonal of the factor, Delta in
// variances. The sums as the header fixes them.
void factorNoiseCovariance(uint64_t p, Decorrelation &decorrelation) {
  double *W = decorrelation.factorRow;
  double *variances = decorrelation.variances;
  double largest = 0.0;
  for (uint64_t i = 0; i < p; ++i) {
    const double variance = decorrelation.factor[i * p + i];
    if (variance > largest) {
      largest = variance;
    }
  }
  const double zeroPivot = zeroPivotTolerance * largest;
  for (uint64_t i = 0; i < p; ++i) {
    double *row = decorrelation.factor + i * p;
    for (uint64_t q = 0; q < i; ++q) {
      const double *rowOfPivot = decorrelation.factor + q * p;
      double w = row[q];
      for (uint64_t r = 0; r < q; ++r) {
        w -= W[r] * rowOfPivot[r];
      }
      W[q] = w;
    }
    double pivot = row[i];
    for (uint64_t q = 0; q < i; ++q) {
      // A zero pivot's column is zero: its series carries no noise to remove.
      row[q] = variances[q] == 0.0 ? 0.0 : W[q] / variances[q];
      pivot -= W[q] * row[q];
    }
    // Ordered: a NaN pivot is kept.
    variances[i] = pivot <= zeroPivot ? 0.0 : pivot;
  }
}

// `row`, row i of `rows` (`width` values a row), less L(i, q) times each
// earlier row q, q ascending, with `factorRow` row i of L: each of its values
// one sum of its own, so the loop over them runs across independent sums.
void subtractEarlierRows(double *row, const double *factorRow, const double *rows, uint64_t i, uint64_t width) {
  for (uint64_t q = 0; q < i; ++q) {
    const double weight = factorRow[q];
    const double *earlier = rows + q * width;
    for (uint64_t s = 0; s < width; ++s) {
      row[s] -= weight * earlier[s];
    }
  }
}

// C* = L^-1*C_O row by row, each element from C(O_i, s) less L(i, q)*C*(q, s)
// in ascending q.
void transformMeasurementRows(const PeriodSeries &series, uint64_t p, Decorrelation &decorrelation) {
  const uint64_t m = series.m;
  for (uint64_t i = 0; i < p; ++i) {
    const uint64_t j = static_cast<uint64_t>(decorrelation.series[i]);
    double *row = decorrelation.rows + i * m;
    if (m != 0) {
      std::memcpy(row, series.period.measurementRows + j * m, m * sizeof(double));
    }
    subtractEarlierRows(row, decorrelation.factor + i * p, decorrelation.rows, i, m);
  }
}

// y* = L^-1*(y_O - means_O), the mean subtracted first.
void transformObservations(const PeriodSeries &series, uint64_t p, Decorrelation &decorrelation) {
  double *transformed = decorrelation.observations;
  for (uint64_t i = 0; i < p; ++i) {
    const uint64_t j = static_cast<uint64_t>(decorrelation.series[i]);
    const double *factorRow = decorrelation.factor + i * p;
    double value = series.y[j * series.yStride];
    if (series.means != nullptr) {
      value = value - series.means[j];
    }
    for (uint64_t q = 0; q < i; ++q) {
      value -= factorRow[q] * transformed[q];
    }
    transformed[i] = value;
  }
}

}  // namespace

DecorrelatedSeries decorrelateSeries(const PeriodSeries &series, Decorrelation &decorrelation) {
  DecorrelatedSeries result{false, 0, series.period};
  if (decorrelation.capacity < series.n) {
    if (countObservedSeries(series) < 2) {
      return result;
    }
    makeRoom(decorrelation, series.n, series.m);
    decorrelation.factoredCount = 0;
  }
  bool same = false;
  const uint64_t p = gatherObservedSeries(series, decorrelation, &same);
  if (p < 2) {
    decorrelation.factoredCount = 0;
    return result;
  }
  if (!same || !series.sameAsFactored) {
    decorrelation.factoredCorrelated = formObservedNoiseCovariance(series, p, decorrelation);
    if (decorrelation.factoredCorrelated) {
      factorNoiseCovariance(p, decorrelation);
      transformMeasurementRows(series, p, decorrelation);
    }
    decorrelation.factoredCount = p;
  }
  if (!decorrelation.factoredCorrelated) {
    return result;
  }
  if (!series.rowsOnly) {
    transformObservations(series, p, decorrelation);
  }
  result.transformed = true;
  result.count = p;
  result.period.measurementRows = decorrelation.rows;
  result.period.observationNoiseVar = decorrelation.variances;
  return result;
}

void decorrelateRowsInPlace(const Decorrelation &decorrelation, uint64_t p, double *rows, uint64_t width) {
  for (uint64_t i = 0; i < p; ++i) {
    // Series O_i is at or after row i, and rows before it are done with:
    // row i is free to take it.
    const uint64_t j = static_cast<uint64_t>(decorrelation.series[i]);
    if (j != i && width != 0) {
      std::memcpy(rows + i * width, rows + j * width, width * sizeof(double));
    }
    subtractEarlierRows(rows + i * width, decorrelation.factor + i * p, rows, i, width);
  }
}
