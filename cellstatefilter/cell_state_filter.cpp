#include "cell_state_filter.h"

#include "model_preparation.h"

namespace {

double *grownTo(double *block, uint64_t doubles) {
  return static_cast<double *>(orrimRealloc(block, doubles * sizeof(double)));
}

// Every grown element is written by the period that needs it before it is
// read, so only the room matters here. A matrix Y holds the series count of
// period 0 in every period (the checks see to it), so its row never grows.
void growSeriesBuffers(CellFilterWorkspace &workspace, uint64_t seriesCount) {
  PreparedModel &period = workspace.model.period;
  period.measurementRows = grownTo(period.measurementRows, seriesCount * workspace.model.m);
  period.observationNoiseVar = grownTo(period.observationNoiseVar, seriesCount);
  workspace.seriesCapacity = seriesCount;
}

// One matrix for every period, of the sizes of period 0.
PeriodInput matrixInput(PeriodInput input, uint64_t rows, uint64_t columns) {
  if (!isCell(input)) {
    input.data = orrimRealData(arrayOf(input));
    input.rows = rows;
    input.columns = columns;
  }
  return input;
}

}  // namespace

StateSpaceModel cellFilterModel(const CellFilterInputs &inputs, const CellFilterSizes &sizes) {
  StateSpaceModel model;
  model.T = sizes.T;
  model.m = sizes.m;
  model.n = sizes.firstSeries;
  model.k = sizes.firstDisturbances;
  model.h = sizes.firstInnovations;
  model.A = matrixInput(inputs.A, model.m, model.m);
  model.B = matrixInput(inputs.B, model.m, model.k);
  model.C = matrixInput(inputs.C, model.n, model.m);
  model.D = matrixInput(inputs.D, model.n, model.h);
  model.tol = orrimScalar(inputs.tol);
  return model;
}

void runCellStateFilter(CellFilterWorkspace &workspace, const CellFilterInputs &inputs, double *out,
                        const FilteredOutputs &filtered) {
  StateSpaceModel &model = workspace.model;
  const uint64_t T = model.T;
  // With no period the state is never looked at, and a cell array may have no
  // element to prepare from.
  if (T == 0) {
    return;
  }
  const double *matrixY = isCell(inputs.Y) ? nullptr : orrimRealData(arrayOf(inputs.Y));
  const auto makeRoomForSeries = [&](uint64_t n) {
    if (n > workspace.seriesCapacity) {
      growSeriesBuffers(workspace, n);
    }
  };
  // A coefficient's matrix of period t; a cell array's element in the shape
  // its checks read it in: beside m rows for A and B, m columns for C and
  // the period's series as the rows of D, a shape of one row or one column
  // may have come the other way round.
  const auto matrixOfPeriod = [&model](const PeriodInput &input, uint64_t t) -> PeriodMatrix {
    if (!isCell(input)) {
      return pageOfPeriod(input, t);
    }
    const OrrimArray *element = orrimCellElement(arrayOf(input), t);
    const double *data = orrimRealData(element);
    const uint64_t rows = orrimRows(element);
    const uint64_t columns = orrimColumns(element);
    if (&input == &model.C) {
      return {data, givenRows(rows, columns, model.m), model.m};
    }
    const uint64_t knownRows = &input == &model.D ? model.n : model.m;
    return {data, knownRows, givenColumns(rows, columns, knownRows)};
  };
  prepareCoefficients(model, 0, filteringForms, true, matrixOfPeriod, makeRoomForSeries);
  initialiseState(workspace.state, orrimRealData(inputs.x0), orrimRealData(inputs.P0), model.m);
  DiffuseStart &diffuse = workspace.diffuse;
  if (diffuse.infinitePart != nullptr) {
    startDiffusePhase(diffuse, workspace.state.P, model.m);
  }

  const bool changes = changesByPeriod(model);
  for (uint64_t t = 0; t < T; ++t) {
    if (changes) {
      prepareCoefficients(model, t, filteringForms, false, matrixOfPeriod, makeRoomForSeries);
    }
    // Row t of a matrix Y, one value per series.
    const double *observations = workspace.observationRow;
    if (matrixY != nullptr) {
      for (uint64_t j = 0; j < model.n; ++j) {
        workspace.observationRow[j] = matrixY[t + j * T];
      }
    } else {
      observations = orrimRealData(arrayOfPeriod(inputs.Y, t));
    }

    // Also with no series: the state keeps moving through the period.
    if (diffuse.active) [[unlikely]] {
      out[t] = filterPeriodInDiffusePhase(model, workspace.state, workspace.scratch, observations, 1, orrimIsNaN,
                                          workspace.decorrelation, diffuse);
      if (filtered.wanted()) {
        recordDiffuseFilteredState(filtered, model, workspace.state, diffuse, t);
      }
      continue;
    }
    out[t] = filterPeriod(model, workspace.state, workspace.scratch, observations, 1, true, orrimIsNaN,
                          workspace.decorrelation);
    if (filtered.wanted()) {
      recordFilteredState(filtered, model, workspace.state, t);
    }
  }
}
