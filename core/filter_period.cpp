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
