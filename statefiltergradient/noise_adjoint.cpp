#include "noise_adjoint.h"

#include "dense_kernels.h"

namespace {

// a*b, or all bits set when it overflows, which no allocation can meet: the
// host then ends the call for want of memory.
uint64_t productOrHuge(uint64_t a, uint64_t b) {
  uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? ~uint64_t{0} : product;
}

void makeRoom(DecorrelationAdjoint &adjoint, uint64_t p) {
  if (p <= adjoint.capacity) {
    return;
  }
  const uint64_t bytes = productOrHuge(productOrHuge(p, p), sizeof(double));
  adjoint.factorAdjoint = static_cast<double *>(adjoint.grow(adjoint.factorAdjoint, bytes));
  adjoint.covarianceAdjoint = static_cast<double *>(adjoint.grow(adjoint.covarianceAdjoint, bytes));
  adjoint.capacity = p;
}

// rows_i <- rows_i less L(q, i)*rows_q for q ascending above i, rows from the
// last: L^-T times the p rows of `width` (row i at i*width).
void backSubstitute(double *rows, uint64_t width, const double *L, uint64_t p) {
  for (uint64_t i = p; i-- > 0;) {
    double *row = rows + i * width;
    for (uint64_t q = i + 1; q < p; ++q) {
      const double weight = L[q * p + i];
      const double *later = rows + q * width;
      for (uint64_t s = 0; s < width; ++s) {
        row[s] -= weight * later[s];
      }
    }
  }
}

// The derivatives with respect to L below the diagonal from the
// substitutions, into `factorAdjoint`; zero in a zero pivot's column.
void factorAdjointOfSubstitutions(double *factorAdjoint, const Decorrelation &decorrelation, const double *G,
                                  const double *g, uint64_t p, uint64_t m) {
  for (uint64_t i = 0; i < p; ++i) {
    for (uint64_t q = 0; q < i; ++q) {
      if (decorrelation.variances[q] == 0.0) {
        factorAdjoint[i * p + q] = 0.0;
        continue;
      }
      const double *row = decorrelation.rows + q * m;
      double s = 0.0;
      for (uint64_t l = 0; l < m; ++l) {
        s += G[i * m + l] * row[l];
      }
      factorAdjoint[i * p + q] = -(s + g[i] * decorrelation.observations[q]);
    }
  }
}

// The factor's steps taken back (see the header): from the derivatives with
// respect to L and Delta, those with respect to the lower triangle of H_O,
// into covarianceAdjoint; factorAdjoint ends with L's whole derivatives.
void goBackThroughFactor(double *factorAdjoint, double *covarianceAdjoint, const Decorrelation &decorrelation,
                         const double *variancesAdjoint, uint64_t p) {
  const double *L = decorrelation.factor;
  const double *Delta = decorrelation.variances;
  double *Lbar = factorAdjoint;
  double *Hbar = covarianceAdjoint;
  for (uint64_t i = p; i-- > 0;) {
    for (uint64_t r = 0; r < i; ++r) {
      if (Delta[r] == 0.0) {
        Lbar[i * p + r] = 0.0;
        continue;
      }
      double s = Lbar[i * p + r];
      for (uint64_t later = i + 1; later < p; ++later) {
        s -= Hbar[later * p + i] * (L[later * p + r] * Delta[r]);
      }
      Lbar[i * p + r] = s;
    }
    double pivotAdjoint = 0.0;
    if (Delta[i] != 0.0) {
      double s = 0.0;
      for (uint64_t later = i + 1; later < p; ++later) {
        s += Lbar[later * p + i] * L[later * p + i];
      }
      pivotAdjoint = variancesAdjoint[i] - s / Delta[i];
    }
    double *row = Hbar + i * p;
    row[i] = pivotAdjoint;
    // W(i, q)'s derivative, in H(i, q)'s place until that is formed.
    for (uint64_t q = 0; q < i; ++q) {
      if (Delta[q] == 0.0) {
        Lbar[i * p + q] = 0.0;
        row[q] = 0.0;
        continue;
      }
      const double factor = Lbar[i * p + q] - pivotAdjoint * (L[i * p + q] * Delta[q]);
      Lbar[i * p + q] = factor;
      row[q] = factor / Delta[q] - pivotAdjoint * L[i * p + q];
    }
    for (uint64_t q = i; q-- > 0;) {
      double s = row[q];
      for (uint64_t later = q + 1; later < i; ++later) {
        s -= L[later * p + q] * row[later];
      }
      row[q] = s;
    }
  }
}

// Where the derivatives with respect to H = D*D' go: for a constant D whose
// n x n sums the workspace keeps, H(a, b)'s (a >= b) into them; else
// straight into D's derivative, D(a, l) gaining value*D(b, l) and D(b, l)
// gaining value*D(a, l) (a zero element of D takes no part), and on the
// diagonal (2*value)*D(a, l).
struct NoiseTarget {
  double *sums;  // n x n, row a at a*n, or null
  double *out;   // page t of a paged D's derivative, or a constant D's
  const double *D;
  uint64_t n, h;

  void add(uint64_t a, uint64_t b, double value) const {
    if (sums != nullptr) {
      sums[a * n + b] = sums[a * n + b] + value;
      return;
    }
    for (uint64_t l = 0; l < h; ++l) {
      const double Da = D[a + l * n];
      const double Db = D[b + l * n];
      if (Db != 0.0) out[a + l * n] = out[a + l * n] + value * Db;
      if (Da != 0.0) out[b + l * n] = out[b + l * n] + value * Da;
    }
  }
};

// The pairs of a period whose series were taken as they are, the
// derivative with respect to H(i, q) formed row by row: the products R_i*C_q
// of row i with every earlier row, each one accumulator from 0.0 in
// ascending index (for many states through the kernel, four rows at a time
// across q against C's rows transposed), then -(that + b_i*y_q) *
// (1/Delta_q).
void addPairsOfIndependentSeries(GradientWorkspace &workspace, uint64_t t, const SeriesTaken &taken,
                                 const NoiseTarget &target) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t m = model.m;
  const double *variances = model.period.observationNoiseVar;
  const double *rows = model.period.measurementRows;
  const double *flags = workspace.skipFlags + t * n;
  // 1/Delta_q of an observed series, 0.0 for one that is not or whose
  // variance is a zero pivot by the rule. A used series is observed; only
  // one passed over is asked about.
  double *reciprocals = workspace.seriesScalars;
  double largest = 0.0;
  for (uint64_t j = 0; j < n; ++j) {
    const bool observed = flags[j] < 0.5 || !taken.isMissing(taken.y[j * taken.yStride]);
    reciprocals[j] = observed ? 1.0 : 0.0;
    if (observed && variances[j] > largest) largest = variances[j];
  }
  const double zeroPivot = zeroPivotTolerance * largest;
  for (uint64_t j = 0; j < n; ++j) {
    reciprocals[j] = reciprocals[j] != 0.0 && variances[j] > zeroPivot ? 1.0 / variances[j] : 0.0;
  }
  const bool throughKernel = m > largestCompiledFixedSize;
  constexpr uint64_t group = 4;
  double *products = workspace.groupCoefficients;  // 4 rows of n
  for (uint64_t i = 1; i < n; ++i) {
    if (throughKernel && (i - 1) % group == 0) {
      // Rows i to i + 3 against the rows before the last of them; a row
      // passed over has zero derivatives, and its products are not read.
      const uint64_t count = n - i < group ? n - i : group;
      denseKernels().rowsTimesColumns(products, n, nullptr, 0, workspace.rowGradients + i * m, m,
                                      workspace.transposedMeasurement, n, count, i + count - 1, m);
    }
    // A series passed over, or missing, has no derivatives to pass on.
    if (flags[i] >= 0.5) continue;
    const double *R = workspace.rowGradients + i * m;
    const double b = workspace.innovationGradients[i];
    for (uint64_t q = 0; q < i; ++q) {
      if (reciprocals[q] == 0.0) continue;
      double product = 0.0;
      if (throughKernel) {
        product = products[((i - 1) % group) * n + q];
      } else {
        for (uint64_t s = 0; s < m; ++s) product += R[s] * rows[q * m + s];
      }
      target.add(i, q, -(product + b * taken.y[q * taken.yStride]) * reciprocals[q]);
    }
  }
}

}  // namespace

void goBackThroughDecorrelation(GradientWorkspace &workspace, const SeriesTaken &taken, bool wantsNoise) {
  if (!taken.decorrelated) {
    return;
  }
  const uint64_t n = workspace.model.n;
  const uint64_t m = workspace.model.m;
  const uint64_t p = taken.count;
  const Decorrelation &decorrelation = workspace.decorrelation;
  double *G = workspace.rowGradients;
  backSubstitute(G, m, decorrelation.factor, p);
  if (wantsNoise) {
    DecorrelationAdjoint &adjoint = workspace.decorrelationAdjoint;
    makeRoom(adjoint, p);
    double *g = workspace.innovationGradients;
    backSubstitute(g, 1, decorrelation.factor, p);
    factorAdjointOfSubstitutions(adjoint.factorAdjoint, decorrelation, G, g, p, m);
    goBackThroughFactor(adjoint.factorAdjoint, adjoint.covarianceAdjoint, decorrelation, workspace.noiseGradients, p);
  }
  // Slot i to the row of series O_i >= i, from the last, so that no slot is
  // written before it is read; the series not observed have none.
  uint64_t next = n;
  for (uint64_t i = p; i-- > 0;) {
    const uint64_t j = static_cast<uint64_t>(decorrelation.series[i]);
    for (uint64_t unseen = j + 1; unseen < next; ++unseen) {
      for (uint64_t s = 0; s < m; ++s) G[unseen * m + s] = 0.0;
      workspace.noiseGradients[unseen] = 0.0;
    }
    for (uint64_t s = 0; s < m; ++s) G[j * m + s] = G[i * m + s];
    workspace.noiseGradients[j] = wantsNoise ? workspace.decorrelationAdjoint.covarianceAdjoint[i * p + i] : 0.0;
    next = j;
  }
  for (uint64_t unseen = 0; unseen < next; ++unseen) {
    for (uint64_t s = 0; s < m; ++s) G[unseen * m + s] = 0.0;
    workspace.noiseGradients[unseen] = 0.0;
  }
}

void addNoiseGradients(GradientWorkspace &workspace, uint64_t t, const SeriesTaken &taken, double *out) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const uint64_t h = model.h;
  const NoiseTarget target{workspace.noiseCovarianceSums, out, pageOfPeriod(model.D, t).data, n, h};
  // The diagonal: the noise variances' derivatives.
  const double *diagonal = workspace.noiseGradients;
  if (target.sums != nullptr) {
    for (uint64_t j = 0; j < n; ++j) target.sums[j * n + j] = target.sums[j * n + j] + diagonal[j];
  } else {
    const bool paged = changesByPeriod(model.D);
    for (uint64_t l = 0; l < h; ++l) {
      for (uint64_t j = 0; j < n; ++j) {
        const double term = (2.0 * diagonal[j]) * target.D[j + l * n];
        out[j + l * n] = paged ? term : out[j + l * n] + term;
      }
    }
  }
  if (!taken.decorrelated) {
    addPairsOfIndependentSeries(workspace, t, taken, target);
    return;
  }
  const uint64_t p = taken.count;
  const double *Hbar = workspace.decorrelationAdjoint.covarianceAdjoint;
  const double *series = workspace.decorrelation.series;
  for (uint64_t i = 1; i < p; ++i) {
    for (uint64_t q = 0; q < i; ++q) {
      target.add(static_cast<uint64_t>(series[i]), static_cast<uint64_t>(series[q]), Hbar[i * p + q]);
    }
  }
}

void finishNoiseGradient(const GradientWorkspace &workspace, double *out) {
  const StateSpaceModel &model = workspace.model;
  const uint64_t n = model.n;
  const double *sums = workspace.noiseCovarianceSums;
  const double *D = model.D.data;
  for (uint64_t l = 0; l < model.h; ++l) {
    for (uint64_t a = 0; a < n; ++a) {
      double s = 0.0;
      for (uint64_t q = 0; q < n; ++q) {
        const double factor = q == a ? 2.0 * sums[a * n + a] : q < a ? sums[a * n + q] : sums[q * n + a];
        if (D[q + l * n] != 0.0) s += factor * D[q + l * n];
      }
      out[a + l * n] = s;
    }
  }
}
