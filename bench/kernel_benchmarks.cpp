// The two halves of a filtering step on their own, and a whole period of
// five series, for m from 1 to 128.
#include "measurement_update.h"
#include "model_preparation.h"
#include "reference_steps.h"
#include "time_update.h"

#include "step_buffers.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using testing_support::StepBuffers;

// A stable A scaled down with m, A's columns offered, P = I, B*B' = 0.1*I and
// one measurement row.
StepBuffers settledStep(uint64_t m) {
  StepBuffers step(m);
  std::mt19937_64 engine(m);
  std::normal_distribution<double> normal;
  for (double &value : step.rows) value = normal(engine) / static_cast<double>(2 * m);
  step.offerColumns();
  for (double &value : step.measurement) value = normal(engine);
  for (double &value : step.x) value = normal(engine);
  for (uint64_t i = 0; i < m; ++i) {
    step.P[i + i * m] = 1.0;
    step.noise[i + i * m] = 0.1;
  }
  step.observationNoise[0] = 1.0;
  return step;
}

template <void (*predict)(FilterState, const PreparedModel &, FilterScratch, uint64_t)>
void predictStateBenchmark(benchmark::State &run) {
  const auto m = static_cast<uint64_t>(run.range(0));
  StepBuffers step = settledStep(m);
  for (auto _ : run) {
    // A is scaled to be stable, so P settles and the work stays the same.
    predict(step.state(), step.model(), step.scratch(), m);
    benchmark::DoNotOptimize(step.P.data());
  }
  const double md = static_cast<double>(m);
  const double flops = 2.0 * (md * md * md + md * md * (md + 1) / 2 + md * md);
  run.counters["GFLOP/s"] = benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
}

// The plain loops of the update, for comparison in the same run.
bool updateWithObservationPlain(double y, const double *c, double d, double tol, uint64_t m, FilterState state,
                                FilterScratch scratch, MissingTest isMissing, double *logLikelihood) {
  if (isMissing(y)) return false;
  const ObservationOutcome outcome = updateWithObservationReference(y, c, d, tol, m, state, scratch);
  if (outcome.used) *logLikelihood -= logLikelihoodTerm(outcome.variance, outcome.innovation, outcome.reciprocal);
  return outcome.used;
}

template <bool (*update)(double, const double *, double, double, uint64_t, FilterState, FilterScratch, MissingTest,
                         double *)>
void updateWithObservationBenchmark(benchmark::State &run) {
  const auto m = static_cast<uint64_t>(run.range(0));
  StepBuffers step = settledStep(m);
  double ell = 0.0;
  for (auto _ : run) {
    update(0.5, step.measurement.data(), 1.0, 0.0, m, step.state(), step.scratch(), isIeeeNaN, &ell);
    benchmark::DoNotOptimize(ell);
  }
}

// One whole period: the prediction, then five series, as the filter modules
// run it; P settles, so every period does the same work.
void filterPeriodBenchmark(benchmark::State &run) {
  const auto m = static_cast<uint64_t>(run.range(0));
  constexpr uint64_t series = 5;
  StepBuffers step = settledStep(m);
  std::mt19937_64 engine(m + 1);
  std::normal_distribution<double> normal;
  std::vector<double> rows(series * m), noise(series, 1.0), observations(series);
  for (double &value : rows) value = normal(engine);
  for (double &value : observations) value = normal(engine);
  PreparedModel model = step.model();
  model.measurementRows = rows.data();
  model.observationNoiseVar = noise.data();
  double ell = 0.0;
  for (auto _ : run) {
    predictState(step.state(), model, step.scratch(), m);
    ell += updateWithObservations(observations.data(), 1, series, model, 0.0, m, step.state(), step.scratch(),
                                  isIeeeNaN);
    benchmark::DoNotOptimize(ell);
  }
}

// The correction of P by one used observation alone, P on a cache line as the
// host hands out its blocks; w and K are small, so that P stays as it is.
template <bool fast>
void covarianceCorrectionBenchmark(benchmark::State &run) {
  const auto m = static_cast<uint64_t>(run.range(0));
  StepBuffers step = settledStep(m);
  std::vector<double> storage(m * m + 8);
  double *P = storage.data() + (8 - reinterpret_cast<uintptr_t>(storage.data()) / sizeof(double) % 8) % 8;
  std::copy(step.P.begin(), step.P.end(), P);
  for (uint64_t i = 0; i < m; ++i) {
    step.w[i] = 1e-9 * static_cast<double>(i + 1);
    step.K[i] = 1e-9 * static_cast<double>(m - i);
  }
  for (auto _ : run) {
    if constexpr (fast) {
      downdateCovarianceVectorised(P, step.w.data(), step.K.data(), m);
    } else {
      downdateCovarianceReference(P, step.w.data(), step.K.data(), m);
    }
    benchmark::DoNotOptimize(P);
  }
}

}  // namespace

#define STATE_SIZES DenseRange(1, 8)->Arg(10)->Arg(16)->Arg(20)->Arg(32)->Arg(40)->Arg(50)->Arg(64)->Arg(100)->Arg(128)
BENCHMARK(predictStateBenchmark<predictState>)->STATE_SIZES;
BENCHMARK(predictStateBenchmark<predictStateReference>)->STATE_SIZES;
BENCHMARK(updateWithObservationBenchmark<updateWithObservation>)->STATE_SIZES;
BENCHMARK(updateWithObservationBenchmark<updateWithObservationPlain>)->STATE_SIZES;
BENCHMARK(filterPeriodBenchmark)->STATE_SIZES;
BENCHMARK(covarianceCorrectionBenchmark<true>)->Arg(17)->Arg(32)->Arg(50)->Arg(64)->Arg(100)->Arg(128);
BENCHMARK(covarianceCorrectionBenchmark<false>)->Arg(17)->Arg(32)->Arg(50)->Arg(64)->Arg(100)->Arg(128);
