// The dense kernels for AVX2: four doubles per vector, masked tails.
#include <immintrin.h>

namespace avx2_kernels {
namespace {

struct Lanes {
  static constexpr int W = 4;
  static constexpr int blockVectors = 2;
  using V = __m256d;
  static __m256i mask(int n) {
    return _mm256_cmpgt_epi64(_mm256_set1_epi64x(n), _mm256_setr_epi64x(0, 1, 2, 3));
  }
  static V load(const double *p) { return _mm256_loadu_pd(p); }
  static V loadPartial(const double *p, int n) { return _mm256_maskload_pd(p, mask(n)); }
  static void store(double *p, V v) { _mm256_storeu_pd(p, v); }
  // Through a full store and single copies: a masked store keeps later loads
  // of nearby memory from being forwarded, a stall of tens of cycles.
  static void storePartial(double *p, V v, int n) {
    alignas(32) double lanes[W];
    _mm256_store_pd(lanes, v);
    for (int lane = 0; lane < n; ++lane) p[lane] = lanes[lane];
  }
  static V broadcast(double s) { return _mm256_set1_pd(s); }
  static V zero() { return _mm256_setzero_pd(); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
  static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V blendFirst(int n, V a, V b) { return _mm256_blendv_pd(b, a, _mm256_castsi256_pd(mask(n))); }
  // Pairs of rows interleaved, then their 128-bit halves gathered.
  static void transposeTile(V (&rows)[W]) {
    const V even01 = _mm256_unpacklo_pd(rows[0], rows[1]);  // columns 0 and 2 of rows 0 and 1
    const V odd01 = _mm256_unpackhi_pd(rows[0], rows[1]);   // columns 1 and 3
    const V even23 = _mm256_unpacklo_pd(rows[2], rows[3]);
    const V odd23 = _mm256_unpackhi_pd(rows[2], rows[3]);
    rows[0] = _mm256_permute2f128_pd(even01, even23, 0x20);
    rows[1] = _mm256_permute2f128_pd(odd01, odd23, 0x20);
    rows[2] = _mm256_permute2f128_pd(even01, even23, 0x31);
    rows[3] = _mm256_permute2f128_pd(odd01, odd23, 0x31);
  }
  static bool anyAtMostZero(V v, int n) {
    return (_mm256_movemask_pd(_mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_LE_OQ)) & ((1 << n) - 1)) != 0;
  }
};

}  // namespace
}  // namespace avx2_kernels

#define KERNEL_NAMESPACE avx2_kernels
#define KERNEL_NAME "avx2"
#include "dense_kernels_body.inc"
