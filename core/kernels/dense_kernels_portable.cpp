// The dense kernels for any processor: two doubles per vector through the
// compiler's generic vectors (SSE2 on every x86-64), tails lane by lane.
#include <cstring>

namespace portable_kernels {
namespace {

struct Lanes {
  static constexpr int W = 2;
  static constexpr int blockVectors = 2;
  typedef double V __attribute__((vector_size(16)));
  static V load(const double *p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static V loadPartial(const double *p, int n) {
    V v = {0.0, 0.0};
    for (int lane = 0; lane < n; ++lane) v[lane] = p[lane];
    return v;
  }
  static void store(double *p, V v) { std::memcpy(p, &v, sizeof v); }
  static void storePartial(double *p, V v, int n) {
    for (int lane = 0; lane < n; ++lane) p[lane] = v[lane];
  }
  static V broadcast(double s) { return V{s, s}; }
  static V zero() { return V{0.0, 0.0}; }
  static V add(V a, V b) { return a + b; }
  static V sub(V a, V b) { return a - b; }
  static V mul(V a, V b) { return a * b; }
  static void transposeTile(V (&rows)[W]) {
    const V first = __builtin_shufflevector(rows[0], rows[1], 0, 2);
    rows[1] = __builtin_shufflevector(rows[0], rows[1], 1, 3);
    rows[0] = first;
  }
  static V blendFirst(int n, V a, V b) {
    V result = b;
    for (int lane = 0; lane < n; ++lane) result[lane] = a[lane];
    return result;
  }
  static bool anyAtMostZero(V v, int n) {
    for (int lane = 0; lane < n; ++lane) {
      if (v[lane] <= 0.0) return true;
    }
    return false;
  }
};

}  // namespace
}  // namespace portable_kernels

#define KERNEL_NAMESPACE portable_kernels
#define KERNEL_NAME "portable"
#include "dense_kernels_body.inc"
