#include "filter_period.h"

double updateWithSeriesThatMayShareNoise(const StateSpaceModel &model, FilterState state, FilterScratch scratch,
                                         const double *y, uint64_t yStride, MissingTest isMissing,
                                         Decorrelation &decorrelation) {
  const PeriodSeries series{model.period, model.n,   model.h, model.m, y, yStride, nullptr,
                            isMissing,    false,     measurementStaysTheSame(model)};
  const DecorrelatedSeries decorrelated = decorrelateSeries(series, decorrelation);
  if (!decorrelated.transformed) {
    return updateWithObservations(y, yStride, model.n, model.period, model.tol, model.m, state, scratch, isMissing);
  }
  return updateWithObservations(decorrelation.observations, 1, decorrelated.count, decorrelated.period, model.tol,
                                model.m, state, scratch, neverMissing);
}

double filterPeriodInDiffusePhase(const StateSpaceModel &model, FilterState state, FilterScratch scratch,
                                  const double *y, uint64_t yStride, MissingTest isMissing,
                                  Decorrelation &decorrelation, DiffuseStart &diffuse) {
  const uint64_t m = model.m;
  const PreparedModel &period = model.period;
  predictState(state, period, scratch, m);
  predictInfinitePart(diffuse, period.transitionColumns, scratch.transitionTimesCov, m);
  double logLikelihood = 0.0;
  if (period.sharedNoiseLoadings != nullptr) {
    const PeriodSeries series{period,    model.n, model.h, m, y, yStride, nullptr,
                              isMissing, false,   measurementStaysTheSame(model)};
    const DecorrelatedSeries decorrelated = decorrelateSeries(series, decorrelation);
    if (decorrelated.transformed) {
      logLikelihood = updateInDiffusePhase(decorrelation.observations, 1, nullptr, decorrelated.count,
                                           decorrelated.period, model.tol, m, state, scratch, diffuse, neverMissing);
      endDiffusePhaseWhenDone(diffuse, m);
      return logLikelihood;
    }
  }
  logLikelihood = updateInDiffusePhase(y, yStride, nullptr, model.n, period, model.tol, m, state, scratch, diffuse,
                                       isMissing);
  endDiffusePhaseWhenDone(diffuse, m);
  return logLikelihood;
}
