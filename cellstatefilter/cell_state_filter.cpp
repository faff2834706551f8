#include "cell_state_filter.h"

#include "model_preparation.h"

namespace {

double *grownTo(double *block, uint64_t doubles) {
  return static_cast<double *>(orrimRealloc(block, doubles * sizeof(double)));
}

// Every grown element is written by the period that needs it before it is
// read, so only the room matters here.
void growSeriesBuffers(CellFilterWorkspace &workspace, uint64_t seriesCount, uint64_t m, bool matrixY) {
  workspace.model.measurementRows = grownTo(workspace.model.measurementRows, seriesCount * m);
  workspace.model.observationNoiseVar = grownTo(workspace.model.observationNoiseVar, seriesCount);
  if (matrixY) {
    workspace.observationRow = grownTo(workspace.observationRow, seriesCount);
  }
  workspace.seriesCapacity = seriesCount;
}

const double *dataOfPeriod(PeriodSource source, uint64_t t) { return orrimRealData(matrixOfPeriod(source, t)); }

}  // namespace

void runCellStateFilter(const CellFilterInputs &inputs, const CellFilterSizes &sizes, CellFilterWorkspace &workspace,
                        double *out, const FilteredOutputs &filtered) {
  const uint64_t T = sizes.T;
  // With no period the state is never looked at, and a cell array may have no
  // element to prepare from.
  if (T == 0) {
    return;
  }
  const uint64_t m = sizes.m;
  uint64_t n = sizes.firstSeries;
  uint64_t k = sizes.firstDisturbances;
  uint64_t h = sizes.firstInnovations;
  const double tol = orrimScalar(inputs.tol);
  PreparedModel &model = workspace.model;

  prepareTransitionForFiltering(model, dataOfPeriod(inputs.A, 0), m);
  prepareStateNoise(model.stateNoiseCov, dataOfPeriod(inputs.B, 0), m, k);
  prepareMeasurement(model.measurementRows, dataOfPeriod(inputs.C, 0), n, m);
  prepareObservationNoise(model.observationNoiseVar, dataOfPeriod(inputs.D, 0), n, h);
  initialiseState(workspace.state, orrimRealData(inputs.x0), orrimRealData(inputs.P0), m);

  const double *matrixY = inputs.Y.isCell ? nullptr : orrimRealData(inputs.Y.array);
  for (uint64_t t = 0; t < T; ++t) {
    if (inputs.A.isCell) {
      prepareTransitionForFiltering(model, dataOfPeriod(inputs.A, t), m);
    }
    if (inputs.B.isCell) {
      const OrrimArray *B = orrimCellElement(inputs.B.array, t);
      k = orrimColumns(B);
      prepareStateNoise(model.stateNoiseCov, orrimRealData(B), m, k);
    }
    if (inputs.C.isCell) {
      const OrrimArray *C = orrimCellElement(inputs.C.array, t);
      n = orrimRows(C);
      if (n > workspace.seriesCapacity) {
        growSeriesBuffers(workspace, n, m, matrixY != nullptr);
      }
      prepareMeasurement(model.measurementRows, orrimRealData(C), n, m);
    }
    if (inputs.D.isCell) {
      const OrrimArray *D = orrimCellElement(inputs.D.array, t);
      h = orrimColumns(D);
      prepareObservationNoise(model.observationNoiseVar, orrimRealData(D), n, h);
    }
    // Row t of a matrix Y is copied only once the period's series count is
    // known: copied with the count of the period before, a period with more
    // series would read values another period left in the row.
    const double *observations = workspace.observationRow;
    if (matrixY != nullptr) {
      for (uint64_t j = 0; j < n; ++j) {
        workspace.observationRow[j] = matrixY[t + j * T];
      }
    } else {
      observations = dataOfPeriod(inputs.Y, t);
    }

    // Also with no series: the state keeps moving through the period.
    out[t] = filterPeriod(observations, 1, n, true, model, tol, m, workspace.state, workspace.scratch, orrimIsNaN);
    if (filtered.wanted()) {
      recordFilteredState(filtered, workspace.state, m, T, t);
    }
  }
}
