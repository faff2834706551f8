#include "diffuse_start.h"

#include <cmath>
#include <limits>

bool hasDiffuseStates(const double *P0, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    if (P0[i + i * m] == std::numeric_limits<double>::infinity()) {
      return true;
    }
  }
  return false;
}

namespace {

double magnitude(double value) { return value < 0.0 ? -value : value; }

// out_i = sum over q of M(q, i)*c_q, q ascending, for the symmetric M: the
// sum of w = P*c' in the update of a known start.
void symmetricTimesRow(double *out, const double *M, const double *c, uint64_t m) {
  for (uint64_t i = 0; i < m; ++i) {
    double s = 0.0;
    for (uint64_t q = 0; q < m; ++q) {
      s += M[q + i * m] * c[q];
    }
    out[i] = s;
  }
}

// init + sum over q of c_q*w_q, q ascending.
double rowTimesVector(double init, const double *c, const double *w, uint64_t m) {
  double s = init;
  for (uint64_t q = 0; q < m; ++q) {
    s += c[q] * w[q];
  }
  return s;
}

struct DiffuseStep {
  double innovation;     // v
  double reciprocal;     // 1/F_inf
  double finiteVariance;  // F*
};

// The diffuse step of an observation whose F_inf is not zero, with M_inf in
// diffuse.infiniteGain; K0 is left in `gain`, M* in diffuse.finiteGain.
// Element (l, i), l >= i, of P_inf becomes P_inf(l, i) - M_inf(i)*K0(l), and
// of P* ((P*(l, i) + K0(l)*(F* * K0(i))) - K0(l)*M*(i)) - M*(l)*K0(i), each
// mirrored.
DiffuseStep takeDiffuseStep(double innovationStart, double infiniteVariance, const double *c, double noiseVar,
                            uint64_t m, FilterState state, DiffuseStart &diffuse, double *gain) {
  double *Pinf = diffuse.infinitePart;
  double *P = state.P;
  const double *Minf = diffuse.infiniteGain;
  double *Mfinite = diffuse.finiteGain;
  symmetricTimesRow(Mfinite, P, c, m);
  const double finiteVariance = rowTimesVector(noiseVar, c, Mfinite, m);
  double v = innovationStart;
  for (uint64_t s = 0; s < m; ++s) {
    v -= c[s] * state.x[s];
  }
  const double reciprocal = 1.0 / infiniteVariance;
  for (uint64_t s = 0; s < m; ++s) {
    gain[s] = reciprocal * Minf[s];
    state.x[s] = v * gain[s] + state.x[s];
  }
  for (uint64_t i = 0; i < m; ++i) {
    const double scaledGain = finiteVariance * gain[i];
    for (uint64_t l = i; l < m; ++l) {
      const double infinite = Pinf[l + i * m] - Minf[i] * gain[l];
      Pinf[l + i * m] = infinite;
      Pinf[i + l * m] = infinite;
      const double finite = ((P[l + i * m] + gain[l] * scaledGain) - gain[l] * Mfinite[i]) - Mfinite[l] * gain[i];
      P[l + i * m] = finite;
      P[i + l * m] = finite;
    }
  }
  clearNonPositiveVariances(Pinf, m);
  clearNonPositiveVariances(P, m);
  return DiffuseStep{v, reciprocal, finiteVariance};
}

}  // namespace

void startDiffusePhase(DiffuseStart &diffuse, double *P, uint64_t m) {
  const double infinity = std::numeric_limits<double>::infinity();
  for (uint64_t e = 0; e < m * m; ++e) {
    diffuse.infinitePart[e] = 0.0;
  }
  for (uint64_t i = 0; i < m; ++i) {
    if (P[i + i * m] == infinity) {
      diffuse.infinitePart[i + i * m] = 1.0;
      P[i + i * m] = 0.0;
    }
  }
  diffuse.largest = 1.0;
  diffuse.active = true;
}

void predictInfinitePart(DiffuseStart &diffuse, const double *Acolumns, double *product, uint64_t m) {
  double *Pinf = diffuse.infinitePart;
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = 0; j < m; ++j) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        s += Acolumns[i + q * m] * Pinf[q + j * m];
      }
      product[i * m + j] = s;
    }
  }
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = i; j < m; ++j) {
      double s = 0.0;
      for (uint64_t q = 0; q < m; ++q) {
        s += Acolumns[j + q * m] * product[i * m + q];
      }
      Pinf[j + i * m] = s;
      Pinf[i + j * m] = s;
      if (magnitude(s) > diffuse.largest) {
        diffuse.largest = magnitude(s);
      }
    }
  }
}

double updateInDiffusePhase(const double *y, uint64_t yStride, uint64_t count, const PreparedModel &period, double tol,
                            uint64_t m, FilterState state, FilterScratch scratch, DiffuseStart &diffuse,
                            MissingTest isMissing, const ObservationRecords *records,
                            const DiffuseStepRecords *stepRecords) {
  const bool formsLogLikelihoodTerms = formsLogLikelihood(records);
  double logLikelihood = 0.0;
  for (uint64_t j = 0; j < count; ++j) {
    if (isMissing(y[j * yStride])) {
      if (records != nullptr) records->skipFlags[j] = 1.0;
      continue;
    }
    const double *c = period.measurementRows + j * m;
    const double noiseVar = period.observationNoiseVar[j];
    const double start = innovationStartOf(records, y, yStride, j);
    symmetricTimesRow(diffuse.infiniteGain, diffuse.infinitePart, c, m);
    const double infiniteVariance = rowTimesVector(0.0, c, diffuse.infiniteGain, m);
    const double squares = rowTimesVector(0.0, c, c, m);
    // Ordered: a NaN F_inf takes the diffuse step, and spreads.
    if (infiniteVariance <= diffuseZeroTolerance * squares * diffuse.largest) {
      // The update of a known start, on P*.
      const double F = innovationVariance(c, noiseVar, state.P, m, scratch.covTimesRow);
      if (F <= tol) {  // ordered: a NaN F or tol never passes the observation over
        if (records != nullptr) records->skipFlags[j] = 1.0;
        continue;
      }
      const UsedObservation used = assimilateObservation(start, F, c, m, state, scratch);
      if (records != nullptr) {
        recordUsedSeries(*records, j, scratch.gain, used, m);
      }
      if (formsLogLikelihoodTerms) {
        logLikelihood -= logLikelihoodTerm(F, used.innovation, used.reciprocal);
      }
      continue;
    }
    const DiffuseStep step = takeDiffuseStep(start, infiniteVariance, c, noiseVar, m, state, diffuse, scratch.gain);
    if (formsLogLikelihoodTerms) {
      logLikelihood -= 0.5 * (std::log(infiniteVariance) + logTwoPi);
    }
    if (records == nullptr) {
      continue;
    }
    recordUsedSeries(*records, j, scratch.gain, {step.innovation, step.reciprocal}, m);
    records->skipFlags[j] = diffuseStepFlag;
    if (stepRecords == nullptr) {
      continue;
    }
    double *correction = stepRecords->gainCorrections + j * m;
    for (uint64_t i = 0; i < m; ++i) {
      correction[i] = step.reciprocal * (diffuse.finiteGain[i] - scratch.gain[i] * step.finiteVariance);
    }
    stepRecords->finiteTerms[j] = (step.finiteVariance * step.reciprocal) * step.reciprocal;
  }
  return logLikelihood;
}

bool endDiffusePhaseWhenDone(DiffuseStart &diffuse, uint64_t m) {
  for (uint64_t e = 0; e < m * m; ++e) {
    if (!infinitePartIsZero(diffuse, e)) {
      return false;
    }
  }
  diffuse.active = false;
  return true;
}

void writeDiffuseCovariance(double *page, const double *P, const DiffuseStart &diffuse, uint64_t m) {
  const double infinity = std::numeric_limits<double>::infinity();
  for (uint64_t e = 0; e < m * m; ++e) {
    const double infinite = diffuse.infinitePart[e];
    // A NaN element of P_inf gives NaN.
    page[e] = infinitePartIsZero(diffuse, e) ? P[e] : infinite != infinite ? infinite : std::copysign(infinity, infinite);
  }
}
