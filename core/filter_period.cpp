#include "filter_period.h"

SeriesTaken seriesTaken(const StateSpaceModel &model, const double *y, uint64_t yStride, MissingTest isMissing,
                        Decorrelation &decorrelation, const ObservationRecords *records) {
  SeriesTaken taken{y,         yStride, model.n, model.period, isMissing, records != nullptr ? *records : ObservationRecords{},
                    false};
  if (model.period.sharedNoiseLoadings == nullptr) {
    return taken;
  }
  const PeriodSeries series{model.period, model.n, model.h, model.m, y, yStride, taken.records.means,
                            isMissing,    false,   measurementStaysTheSame(model)};
  const DecorrelatedSeries decorrelated = decorrelateSeries(series, decorrelation);
  if (!decorrelated.transformed) {
    return taken;
  }
  taken.y = decorrelation.observations;
  taken.yStride = 1;
  taken.count = decorrelated.count;
  taken.period = decorrelated.period;
  taken.isMissing = neverMissing;
  taken.decorrelated = true;
  if (records != nullptr) {
    // The way back forms the decorrelated rows again and passes over the rest.
    for (uint64_t j = decorrelated.count; j < model.n; ++j) {
      taken.records.skipFlags[j] = 1.0;
    }
    if (taken.records.means != nullptr) {
      taken.records.means = decorrelation.zeros;
    }
  }
  return taken;
}

double updateWithSeriesThatMayShareNoise(const StateSpaceModel &model, FilterState state, FilterScratch scratch,
                                         const double *y, uint64_t yStride, MissingTest isMissing,
                                         Decorrelation &decorrelation, const ObservationRecords *records) {
  const SeriesTaken taken = seriesTaken(model, y, yStride, isMissing, decorrelation, records);
  return updateWithObservations(taken.y, taken.yStride, taken.count, taken.period, model.tol, model.m, state, scratch,
                                taken.isMissing, records != nullptr ? &taken.records : nullptr);
}

double filterPeriodInDiffusePhase(const StateSpaceModel &model, FilterState state, FilterScratch scratch,
                                  const double *y, uint64_t yStride, MissingTest isMissing,
                                  Decorrelation &decorrelation, DiffuseStart &diffuse) {
  const uint64_t m = model.m;
  predictState(state, model.period, scratch, m);
  predictInfinitePart(diffuse, model.period.transitionColumns, scratch.transitionTimesCov, m);
  const SeriesTaken taken = seriesTaken(model, y, yStride, isMissing, decorrelation, nullptr);
  const double logLikelihood = updateInDiffusePhase(taken.y, taken.yStride, taken.count, taken.period, model.tol, m,
                                                    state, scratch, diffuse, taken.isMissing);
  endDiffusePhaseWhenDone(diffuse, m);
  return logLikelihood;
}
