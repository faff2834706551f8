#include "dense_kernels.h"

namespace reference_kernels {
extern const DenseKernels kernels;
}
namespace portable_kernels {
extern const DenseKernels kernels;
}
namespace avx2_kernels {
extern const DenseKernels kernels;
}
namespace avx512_kernels {
extern const DenseKernels kernels;
}

namespace {

const DenseKernels &tableOf(KernelPath path) {
  switch (path) {
    case KernelPath::reference:
      return reference_kernels::kernels;
    case KernelPath::portable:
      return portable_kernels::kernels;
    case KernelPath::avx2:
      return avx2_kernels::kernels;
    case KernelPath::avx512:
      return avx512_kernels::kernels;
  }
  return reference_kernels::kernels;
}

}  // namespace

const char *kernelPathName(KernelPath path) { return tableOf(path).name; }

bool processorRuns(KernelPath path) {
  switch (path) {
    case KernelPath::reference:
    case KernelPath::portable:
      return true;
    case KernelPath::avx2:
      return __builtin_cpu_supports("avx2");
    case KernelPath::avx512:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
}

const DenseKernels *denseKernelsFor(KernelPath path) { return processorRuns(path) ? &tableOf(path) : nullptr; }

namespace kernel_registry_internal {

std::atomic<const DenseKernels *> processKernels{nullptr};

const DenseKernels &takeProcessKernels() {
  // Chosen once: every later call of the process takes the same path.
  static const DenseKernels *const chosen = [] {
    const DenseKernels *fastest = nullptr;
    for (KernelPath path : kernelPaths) {
      if (const DenseKernels *kernels = denseKernelsFor(path)) fastest = kernels;
    }
    return fastest;
  }();
  processKernels.store(chosen, std::memory_order_relaxed);
  return *chosen;
}

}  // namespace kernel_registry_internal
