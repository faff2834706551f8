#include "dense_kernels.h"

#include <initializer_list>

namespace portable_kernels {
extern const DenseKernels kernels;
}
namespace avx2_kernels {
extern const DenseKernels kernels;
}
namespace avx512_kernels {
extern const DenseKernels kernels;
}

const DenseKernels *denseKernelsFor(KernelPath path) {
  switch (path) {
    case KernelPath::portable:
      return &portable_kernels::kernels;
    case KernelPath::avx2:
      return __builtin_cpu_supports("avx2") ? &avx2_kernels::kernels : nullptr;
    case KernelPath::avx512:
      return __builtin_cpu_supports("avx512f") ? &avx512_kernels::kernels : nullptr;
  }
  return nullptr;
}

const DenseKernels &denseKernels() {
  // Chosen once: every later call of the process takes the same path.
  static const DenseKernels *const chosen = [] {
    for (KernelPath path : {KernelPath::avx512, KernelPath::avx2}) {
      if (const DenseKernels *kernels = denseKernelsFor(path)) return kernels;
    }
    return &portable_kernels::kernels;
  }();
  return *chosen;
}
