// The dense kernels for AVX-512: eight doubles per vector, masked tails.
#include <immintrin.h>

namespace avx512_kernels {
namespace {

struct Lanes {
  static constexpr int W = 8;
  static constexpr int blockVectors = 3;
  using V = __m512d;
  static __mmask8 mask(int n) { return static_cast<__mmask8>((1u << n) - 1u); }  // n <= 8
  static V load(const double *p) { return _mm512_loadu_pd(p); }
  static V loadPartial(const double *p, int n) { return _mm512_maskz_loadu_pd(mask(n), p); }
  static void store(double *p, V v) { _mm512_storeu_pd(p, v); }
  // Through a full store and single copies: a masked store keeps later loads
  // of nearby memory from being forwarded, a stall of tens of cycles.
  static void storePartial(double *p, V v, int n) {
    alignas(64) double lanes[W];
    _mm512_store_pd(lanes, v);
    for (int lane = 0; lane < n; ++lane) p[lane] = lanes[lane];
  }
  static V broadcast(double s) { return _mm512_set1_pd(s); }
  static V zero() { return _mm512_setzero_pd(); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
  static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V blendFirst(int n, V a, V b) { return _mm512_mask_blend_pd(mask(n), b, a); }
  static bool anyAtMostZero(V v, int n) {
    return (_mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_LE_OQ) & mask(n)) != 0;
  }
};

}  // namespace
}  // namespace avx512_kernels

#define KERNEL_NAMESPACE avx512_kernels
#define KERNEL_NAME "avx512"
#include "dense_kernels_body.inc"
