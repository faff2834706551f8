#include "random_model.h"

#include "host_testing.h"

#include <cmath>
#include <limits>

namespace testing_support {

std::vector<double> RandomSource::normals(uint64_t count, double scale) {
  std::vector<double> values(count);
  for (double &value : values) {
    value = scale * normal();
  }
  return values;
}

std::vector<double> RandomSource::covariance(uint64_t m) {
  const std::vector<double> root = normals(m * m);
  std::vector<double> result(m * m);
  for (uint64_t i = 0; i < m; ++i) {
    for (uint64_t j = 0; j < m; ++j) {
      double s = i == j ? 1.0 : 0.0;
      for (uint64_t l = 0; l < m; ++l) {
        s += root[i + l * m] * root[j + l * m];
      }
      result[i + j * m] = s;
    }
  }
  return result;
}

std::vector<double> RandomSource::stableTransition(uint64_t m) {
  // Row sums of absolute values below 0.95 bound the spectral radius.
  std::vector<double> result = normals(m * m);
  for (uint64_t i = 0; i < m; ++i) {
    double rowSum = 0.0;
    for (uint64_t j = 0; j < m; ++j) {
      rowSum += result[i + j * m] < 0 ? -result[i + j * m] : result[i + j * m];
    }
    const double scale = rowSum > 0 ? uniform(0.2, 0.95) / rowSum : 0.0;
    for (uint64_t j = 0; j < m; ++j) {
      result[i + j * m] *= scale;
    }
  }
  return result;
}

std::vector<double> RandomSource::stableTransitions(uint64_t pages, uint64_t m) {
  std::vector<double> result;
  for (uint64_t t = 0; t < pages; ++t) {
    const std::vector<double> page = stableTransition(m);
    result.insert(result.end(), page.begin(), page.end());
  }
  return result;
}

namespace {

std::vector<uint64_t> coefficientDimensions(uint64_t rows, uint64_t columns, bool paged, uint64_t T) {
  return paged ? std::vector<uint64_t>{rows, columns, T} : std::vector<uint64_t>{rows, columns};
}

}  // namespace

std::vector<orrim::ArrayPtr> observationAndCoefficientArrays(const ModelVectors &model) {
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  return arrayList(realArray({T, n}, model.Y), realArray(coefficientDimensions(m, m, model.pagedA, T), model.A),
                   realArray(coefficientDimensions(m, k, model.pagedB, T), model.B),
                   realArray(coefficientDimensions(n, m, model.pagedC, T), model.C),
                   realArray(coefficientDimensions(n, h, model.pagedD, T), model.D));
}

ModelVectors randomModel(RandomSource &random, const RandomShape &shape) {
  constexpr double missing = std::numeric_limits<double>::quiet_NaN();
  ModelVectors model;
  model.T = random.below(shape.maxT + 1);
  model.n = random.below(shape.maxN + 1);
  model.m = random.below(shape.maxM + 1);
  model.k = random.below(4);
  model.h = random.below(3);
  for (bool *paged : {&model.pagedA, &model.pagedB, &model.pagedC, &model.pagedD}) {
    *paged = random.chance(0.5);
  }
  const uint64_t T = model.T, n = model.n, m = model.m, k = model.k, h = model.h;
  model.A = random.stableTransitions(model.pagedA ? T : 1, m);
  model.B = random.normals((model.pagedB ? T : 1) * m * k);
  model.C = random.normals((model.pagedC ? T : 1) * n * m);
  model.D = random.normals((model.pagedD ? T : 1) * n * h);
  model.P0 = random.covariance(m);
  if (m > 0 && random.chance(0.3)) model.P0[0] = 0.0;     // a zero variance to start from
  if (m >= 2 && random.chance(0.2)) model.P0[m] += 0.5;  // taken as given: read by columns, never symmetrised
  // The stream draws m or m + 1 values, as it always has, so that every seed
  // keeps its model; x0 keeps the first m, its exact length.
  model.x0 = random.normals(m + random.below(2), 2.0);
  model.x0.resize(m);
  model.Y = random.normals(T * n, 3.0);
  for (double &value : model.Y) {
    if (random.chance(shape.missingChance)) value = missing;
  }
  if (shape.allowCutoffs) {
    // F meets tol exactly, or falls to 0.
    for (double &value : model.C) if (random.chance(0.15)) value = 0.0;
    for (double &value : model.D) if (random.chance(0.3)) value = random.chance(0.5) ? 0.0 : 1.0;
    const double tols[] = {0.0, 0.5, 1.0, 1e-12, -1.0, missing, 2.5};
    model.tol = tols[random.below(std::size(tols))];
  }
  // The streams are drawn as before.
  if (shape.independentNoise) keepEachInnovationInOneSeries(model.D, n, h);
  return model;
}

bool takesDecorrelationBlocks(const ModelVectors &model) {
  const uint64_t T = model.T, n = model.n, h = model.h;
  for (uint64_t t = 0; t < T; ++t) {
    uint64_t observed = 0;
    for (uint64_t j = 0; j < n; ++j) observed += std::isnan(model.Y[t + j * T]) ? 0 : 1;
    const double *D = model.D.data() + (model.pagedD ? t * n * h : 0);
    for (uint64_t l = 0; l < h && observed >= 2; ++l) {
      uint64_t loaded = 0;
      for (uint64_t j = 0; j < n; ++j) loaded += D[j + l * n] != 0.0 ? 1 : 0;
      if (loaded >= 2) return true;
    }
  }
  return false;
}

void keepEachInnovationInOneSeries(std::vector<double> &D, uint64_t n, uint64_t h) {
  if (n == 0 || h == 0) return;
  for (uint64_t page = 0; page < D.size() / (n * h); ++page)
    for (uint64_t l = 0; l < h; ++l)
      for (uint64_t j = 0; j < n; ++j)
        if (j != l % n) D[page * n * h + j + l * n] = 0.0;
}

}  // namespace testing_support
