#include "textbook_smoother.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// A dense row-major matrix.
struct Matrix {
  uint64_t rows = 0, cols = 0;
  std::vector<double> v;
  Matrix(uint64_t r, uint64_t c) : rows(r), cols(c), v(r * c, 0.0) {}
  double &operator()(uint64_t i, uint64_t j) { return v[i * cols + j]; }
  double operator()(uint64_t i, uint64_t j) const { return v[i * cols + j]; }
};

Matrix multiply(const Matrix &x, const Matrix &y) {
  Matrix z(x.rows, y.cols);
  for (uint64_t i = 0; i < x.rows; ++i)
    for (uint64_t j = 0; j < y.cols; ++j)
      for (uint64_t q = 0; q < x.cols; ++q) z(i, j) += x(i, q) * y(q, j);
  return z;
}

Matrix transpose(const Matrix &x) {
  Matrix z(x.cols, x.rows);
  for (uint64_t i = 0; i < x.rows; ++i)
    for (uint64_t j = 0; j < x.cols; ++j) z(j, i) = x(i, j);
  return z;
}

Matrix add(const Matrix &x, const Matrix &y, double sign = 1.0) {
  Matrix z = x;
  for (uint64_t e = 0; e < z.v.size(); ++e) z.v[e] += sign * y.v[e];
  return z;
}

// Gauss-Jordan elimination with partial pivoting.
Matrix inverse(Matrix x) {
  const uint64_t size = x.rows;
  Matrix result(size, size);
  for (uint64_t i = 0; i < size; ++i) result(i, i) = 1.0;
  for (uint64_t col = 0; col < size; ++col) {
    uint64_t pivot = col;
    for (uint64_t i = col + 1; i < size; ++i)
      if (std::fabs(x(i, col)) > std::fabs(x(pivot, col))) pivot = i;
    for (uint64_t j = 0; j < size; ++j) {
      std::swap(x(col, j), x(pivot, j));
      std::swap(result(col, j), result(pivot, j));
    }
    const double scale = 1.0 / x(col, col);
    for (uint64_t j = 0; j < size; ++j) {
      x(col, j) *= scale;
      result(col, j) *= scale;
    }
    for (uint64_t i = 0; i < size; ++i) {
      if (i == col) continue;
      const double factor = x(i, col);
      for (uint64_t j = 0; j < size; ++j) {
        x(i, j) -= factor * x(col, j);
        result(i, j) -= factor * result(col, j);
      }
    }
  }
  return result;
}

// The column-major rows x cols matrix of period t.
Matrix page(const std::vector<double> &data, bool paged, uint64_t t, uint64_t rows, uint64_t cols) {
  Matrix z(rows, cols);
  const uint64_t start = paged ? t * rows * cols : 0;
  for (uint64_t i = 0; i < rows; ++i)
    for (uint64_t j = 0; j < cols; ++j) z(i, j) = data[start + i + j * rows];
  return z;
}

Matrix column(const std::vector<double> &data, uint64_t start, uint64_t size) {
  Matrix z(size, 1);
  for (uint64_t i = 0; i < size; ++i) z(i, 0) = data.empty() ? 0.0 : data[start + i];
  return z;
}

}  // namespace

std::vector<double> textbookSmoother(const SmootherTestModel &model, std::vector<double> *covariances) {
  const uint64_t T = model.T, n = model.n, m = model.m;
  std::vector<Matrix> predictedMean, predictedCov, filteredMean, filteredCov;
  Matrix mean = column(model.x0, 0, m);
  Matrix cov = page(model.P0, false, 0, m, m);
  for (uint64_t t = 0; t < T; ++t) {
    const Matrix A = page(model.A, model.pagedA, t, m, m);
    const Matrix B = page(model.B, model.pagedB, t, m, model.k);
    const Matrix C = page(model.C, model.pagedC, t, n, m);
    const Matrix D = page(model.D, model.pagedD, t, n, model.h);
    mean = add(multiply(A, mean), column(model.stateIntercept, t * m, m));
    cov = add(multiply(multiply(A, cov), transpose(A)), multiply(B, transpose(B)));
    predictedMean.push_back(mean);
    predictedCov.push_back(cov);

    std::vector<uint64_t> present;
    for (uint64_t j = 0; j < n; ++j)
      if (!std::isnan(model.Y[t + j * T])) present.push_back(j);
    if (!present.empty()) {
      const uint64_t p = present.size();
      Matrix Z(p, m), R(p, p), innovation(p, 1);
      const Matrix DDt = multiply(D, transpose(D));
      const Matrix offsets = column(model.observationIntercept, t * n, n);
      for (uint64_t a = 0; a < p; ++a) {
        const uint64_t j = present[a];
        for (uint64_t s = 0; s < m; ++s) Z(a, s) = C(j, s);
        for (uint64_t b = 0; b < p; ++b) R(a, b) = DDt(j, present[b]);
        innovation(a, 0) = model.Y[t + j * T] - offsets(j, 0);
      }
      innovation = add(innovation, multiply(Z, mean), -1.0);
      const Matrix F = add(multiply(multiply(Z, cov), transpose(Z)), R);
      const Matrix gain = multiply(multiply(cov, transpose(Z)), inverse(F));
      mean = add(mean, multiply(gain, innovation));
      cov = add(cov, multiply(multiply(gain, Z), cov), -1.0);
    }
    filteredMean.push_back(mean);
    filteredCov.push_back(cov);
  }

  std::vector<double> out(T * m);
  Matrix smoothed = T > 0 ? filteredMean[T - 1] : Matrix(m, 1);
  Matrix smoothedCov = T > 0 ? filteredCov[T - 1] : Matrix(m, m);
  if (covariances != nullptr) covariances->assign(m * m * T, 0.0);
  for (uint64_t t = T; t-- > 0;) {
    if (t + 1 < T) {
      const Matrix nextA = page(model.A, model.pagedA, t + 1, m, m);
      const Matrix J = multiply(multiply(filteredCov[t], transpose(nextA)), inverse(predictedCov[t + 1]));
      smoothed = add(filteredMean[t], multiply(J, add(smoothed, predictedMean[t + 1], -1.0)));
      smoothedCov = add(filteredCov[t], multiply(multiply(J, add(smoothedCov, predictedCov[t + 1], -1.0)), transpose(J)));
    }
    for (uint64_t i = 0; i < m; ++i) out[t + i * T] = smoothed(i, 0);
    if (covariances != nullptr) std::copy(smoothedCov.v.begin(), smoothedCov.v.end(), covariances->begin() + t * m * m);
  }
  return out;
}
