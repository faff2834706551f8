// Helpers for square column-major matrices that the fast steps keep symmetric.
#pragma once

#include <cstdint>
#include <cstring>

// True when P equals its transpose bit for bit (NaNs included).
inline bool isBitwiseSymmetric(const double *P, uint64_t m) {
  for (uint64_t j = 1; j < m; ++j) {
    for (uint64_t i = 0; i < j; ++i) {
      if (std::memcmp(&P[i + j * m], &P[j + i * m], sizeof(double)) != 0) return false;
    }
  }
  return true;
}

inline void transposeInPlace(double *matrix, uint64_t m) {
  for (uint64_t j = 1; j < m; ++j) {
    for (uint64_t i = 0; i < j; ++i) {
      const double upper = matrix[i + j * m];
      matrix[i + j * m] = matrix[j + i * m];
      matrix[j + i * m] = upper;
    }
  }
}

// Copies the upper triangle onto the lower one.
inline void mirrorUpperToLower(double *matrix, uint64_t m) {
  for (uint64_t j = 1; j < m; ++j) {
    for (uint64_t i = 0; i < j; ++i) {
      matrix[j + i * m] = matrix[i + j * m];
    }
  }
}
