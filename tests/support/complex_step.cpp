#include "complex_step.h"

#include "literal_steps.h"

#include <cmath>

namespace testing_support {

namespace {

// a + b*i with b of the order of the step, in complex arithmetic less the
// product of two imaginary parts (1e-60 at most): so every real part is
// formed by exactly the operations of the real filter, and every decision on
// it (F at or below tol, a variance at or below zero) is the filter's, also
// where a real part is exactly zero and the b*d of complex arithmetic would
// move it off zero. The imaginary part is the step times the derivative.
struct Complex {
  double re = 0.0, im = 0.0;
  Complex() = default;
  Complex(double real) : re(real) {}  // NOLINT: the literals of the steps
  Complex(double real, double imaginary) : re(real), im(imaginary) {}
  double real() const { return re; }
  double imag() const { return im; }
  Complex &operator+=(Complex b) { return *this = Complex(re + b.re, im + b.im); }
  Complex &operator-=(Complex b) { return *this = Complex(re - b.re, im - b.im); }
};
Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
Complex operator*(Complex a, Complex b) { return {a.re * b.re, a.re * b.im + a.im * b.re}; }
Complex operator/(Complex a, Complex b) { return {a.re / b.re, (a.im * b.re - a.re * b.im) / (b.re * b.re)}; }
Complex log(Complex a) { return {std::log(a.re), a.im / a.re}; }
double log(double a) { return std::log(a); }

// The model's real inputs in the arithmetic of the filter that runs on them.
template <class Scalar>
struct Coefficients {
  std::vector<Scalar> A, B, C, D, x0, P0;
};

template <class Scalar>
std::vector<Scalar> converted(const std::vector<double> &values) {
  return std::vector<Scalar>(values.begin(), values.end());
}

template <class Scalar>
Coefficients<Scalar> coefficientsOf(const ModelVectors &model) {
  return {converted<Scalar>(model.A), converted<Scalar>(model.B), converted<Scalar>(model.C),
          converted<Scalar>(model.D), converted<Scalar>(model.x0), converted<Scalar>(model.P0)};
}

// What a run of the literal filter saw: the F of every present observation
// (to keep tol clear of them) and F_inf / ((sum of c^2) * largest) of every
// present one in the diffuse phase (to keep the rule clear of them).
struct Seen {
  std::vector<double> variances, diffuseRatios;
};

// The sum over periods of the literal filter's log-likelihood terms: in each
// period the prediction, then the updates by its series, decorrelated when
// two or more are observed, in the diffuse phase by its steps.
template <class Scalar>
Scalar summedLogLikelihood(const ModelVectors &model, const Coefficients<Scalar> &in, Seen *seen = nullptr) {
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  std::vector<Scalar> x(in.x0.begin(), in.x0.begin() + static_cast<long>(m));
  std::vector<Scalar> P(in.P0.begin(), in.P0.begin() + static_cast<long>(m * m));
  LiteralDiffuseOf<Scalar> diffuse = literalDiffuseStart(P, m);
  std::vector<double> *variances = seen != nullptr ? &seen->variances : nullptr;
  Scalar sum = 0.0;
  // The prediction belongs to the first series: with none, nothing is read.
  for (uint64_t t = 0; t < T && n > 0; ++t) {
    const Scalar *A = literalPage(in.A, model.pagedA, t, m * m);
    const Scalar *C = literalPage(in.C, model.pagedC, t, n * m);
    const Scalar *D = literalPage(in.D, model.pagedD, t, n * h);
    literalPrediction(x, P, A, literalPage(in.B, model.pagedB, t, m * k), m, k);
    if (diffuse.active) literalInfinitePrediction(diffuse, A, m);
    std::vector<double> y(n);
    std::vector<Scalar> starts(n);
    for (uint64_t j = 0; j < n; ++j) starts[j] = y[j] = model.Y[t + j * T];
    const LiteralSeriesOf<Scalar> series = literalDecorrelatedSeries(y, starts, C, D, n, m, h);
    const bool decorrelated = series.observed.size() >= 2;
    for (uint64_t j = 0; j < (decorrelated ? series.observed.size() : n); ++j) {
      const double observation = decorrelated ? 0.0 : y[j];
      const Scalar start = decorrelated ? series.starts[j] : starts[j];
      const Scalar *row = decorrelated ? series.rows.data() + j * m : C + j;
      const uint64_t stride = decorrelated ? 1 : n;
      const Scalar noiseVariance = decorrelated ? series.variances[j] : literalNoiseVariance(D, n, j, h);
      const LiteralUpdateOf<Scalar> update =
          diffuse.active
              ? literalDiffuseUpdate(observation, start, row, stride, noiseVariance, m, model.tol, x, P, diffuse)
              : literalUpdateWithRow(observation, start, row, stride, noiseVariance, m, model.tol, x, P);
      if (seen != nullptr && diffuse.active && update.present) seen->diffuseRatios.push_back(update.infiniteRatio);
      if (update.diffuseStep) {
        sum -= 0.5 * (log(update.variance) + 1.837877066409345);
        continue;
      }
      if (variances != nullptr && update.present) variances->push_back(realPart(update.variance));
      if (update.used) {
        sum -= 0.5 * ((log(update.variance) + 1.837877066409345) +
                      (update.innovation * update.innovation) * update.reciprocal);
      }
    }
    if (diffuse.active) literalEndDiffusePhaseWhenDone(diffuse);
  }
  return sum;
}

constexpr double step = 1e-30;

}  // namespace

std::vector<double> innovationVariances(const ModelVectors &model) {
  Seen seen;
  summedLogLikelihood(model, coefficientsOf<double>(model), &seen);
  return seen.variances;
}

std::vector<double> diffuseVarianceRatios(const ModelVectors &model) {
  Seen seen;
  summedLogLikelihood(model, coefficientsOf<double>(model), &seen);
  return seen.diffuseRatios;
}

ModelGradient complexStepGradient(const ModelVectors &model) {
  const Coefficients<Complex> base = coefficientsOf<Complex>(model);
  ModelGradient gradient;
  // Each element of one input in turn, moved by the step.
  auto derivatives = [&](std::vector<Complex> Coefficients<Complex>::*input, uint64_t count) {
    std::vector<double> result(count);
    Coefficients<Complex> moved = base;
    for (uint64_t e = 0; e < count; ++e) {
      (moved.*input)[e] += Complex(0.0, step);
      result[e] = summedLogLikelihood(model, moved).imag() / step;
      (moved.*input)[e] = (base.*input)[e];
    }
    return result;
  };
  gradient.A = derivatives(&Coefficients<Complex>::A, model.A.size());
  gradient.B = derivatives(&Coefficients<Complex>::B, model.B.size());
  gradient.C = derivatives(&Coefficients<Complex>::C, model.C.size());
  gradient.D = derivatives(&Coefficients<Complex>::D, model.D.size());
  gradient.x0 = derivatives(&Coefficients<Complex>::x0, model.m);
  const uint64_t m = model.m;
  gradient.P0.assign(m * m, 0.0);
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t l = 0; l <= i; ++l) {
      Coefficients<Complex> moved = base;
      moved.P0[i + l * m] += Complex(0.0, step);
      if (l != i) moved.P0[l + i * m] += Complex(0.0, step);
      const double derivative = summedLogLikelihood(model, moved).imag() / step;
      gradient.P0[i + l * m] = gradient.P0[l + i * m] = l == i ? derivative : 0.5 * derivative;
    }
  }
  return gradient;
}

}  // namespace testing_support
