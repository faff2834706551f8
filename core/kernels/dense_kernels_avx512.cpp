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
  // The unmasked forms of these leave GCC 12 warning of an undefined value
  // they pass for the lanes a mask would keep; with every lane taken, the
  // zeroing forms are the same instructions.
  static V interleaveLow(V a, V b) { return _mm512_maskz_unpacklo_pd(0xFF, a, b); }
  static V interleaveHigh(V a, V b) { return _mm512_maskz_unpackhi_pd(0xFF, a, b); }
  template <int lanes>
  static V gatherLanes(V a, V b) {
    return _mm512_maskz_shuffle_f64x2(0xFF, a, b, lanes);
  }
  // Pairs of rows interleaved, then their 128-bit lanes gathered twice: row
  // c of the result holds element c of each row, in row order.
  static void transposeTile(V (&rows)[W]) {
    constexpr int evenLanes = _MM_SHUFFLE(2, 0, 2, 0), oddLanes = _MM_SHUFFLE(3, 1, 3, 1);  // of each source
    // Rows 2k and 2k + 1 side by side: columns 0, 2, 4, 6, then 1, 3, 5, 7.
    const V even01 = interleaveLow(rows[0], rows[1]), odd01 = interleaveHigh(rows[0], rows[1]);
    const V even23 = interleaveLow(rows[2], rows[3]), odd23 = interleaveHigh(rows[2], rows[3]);
    const V even45 = interleaveLow(rows[4], rows[5]), odd45 = interleaveHigh(rows[4], rows[5]);
    const V even67 = interleaveLow(rows[6], rows[7]), odd67 = interleaveHigh(rows[6], rows[7]);
    // Four rows side by side: columns 0 and 4, 2 and 6, 1 and 5, 3 and 7.
    const V c04Top = gatherLanes<evenLanes>(even01, even23);
    const V c26Top = gatherLanes<oddLanes>(even01, even23);
    const V c15Top = gatherLanes<evenLanes>(odd01, odd23);
    const V c37Top = gatherLanes<oddLanes>(odd01, odd23);
    const V c04Bottom = gatherLanes<evenLanes>(even45, even67);
    const V c26Bottom = gatherLanes<oddLanes>(even45, even67);
    const V c15Bottom = gatherLanes<evenLanes>(odd45, odd67);
    const V c37Bottom = gatherLanes<oddLanes>(odd45, odd67);
    rows[0] = gatherLanes<evenLanes>(c04Top, c04Bottom);
    rows[4] = gatherLanes<oddLanes>(c04Top, c04Bottom);
    rows[2] = gatherLanes<evenLanes>(c26Top, c26Bottom);
    rows[6] = gatherLanes<oddLanes>(c26Top, c26Bottom);
    rows[1] = gatherLanes<evenLanes>(c15Top, c15Bottom);
    rows[5] = gatherLanes<oddLanes>(c15Top, c15Bottom);
    rows[3] = gatherLanes<evenLanes>(c37Top, c37Bottom);
    rows[7] = gatherLanes<oddLanes>(c37Top, c37Bottom);
  }
  static bool anyAtMostZero(V v, int n) {
    return (_mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_LE_OQ) & mask(n)) != 0;
  }
};

}  // namespace
}  // namespace avx512_kernels

#define KERNEL_NAMESPACE avx512_kernels
#define KERNEL_NAME "avx512"
#include "dense_kernels_body.inc"
