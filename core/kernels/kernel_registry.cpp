#include "dense_kernels.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The paths `runs` allows, as "reference, portable and avx2".
void listRunnable(char *out, size_t size, bool (*runs)(KernelPath)) {
  const char *names[sizeof kernelPaths / sizeof kernelPaths[0]];
  size_t count = 0;
  for (KernelPath path : kernelPaths) {
    if (runs(path)) names[count++] = kernelPathName(path);
  }
  size_t used = 0;
  for (size_t i = 0; i < count && used < size; ++i) {
    const char *separator = i == 0 ? "" : (i + 1 == count ? " and " : ", ");
    used += static_cast<size_t>(std::snprintf(out + used, size - used, "%s%s", separator, names[i]));
  }
}

}  // namespace

const char *kernelPathName(KernelPath path) { return tableOf(path).name; }

bool processorRuns(KernelPath path) {
  // The processor's features may be asked for before the constructors that
  // would read them have run.
  __builtin_cpu_init();
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

KernelPathChoice chooseKernelPath(const char *requested, bool (*runs)(KernelPath)) {
  KernelPathChoice choice{nullptr, false, {}};
  if (requested == nullptr || requested[0] == '\0') {
    for (KernelPath path : kernelPaths) {
      if (runs(path)) choice.kernels = &tableOf(path);
    }
    return choice;
  }
  char runnable[64];
  listRunnable(runnable, sizeof runnable, runs);
  for (KernelPath path : kernelPaths) {
    if (std::strcmp(requested, kernelPathName(path)) != 0) continue;
    if (runs(path)) {
      choice.kernels = &tableOf(path);
    } else {
      std::snprintf(choice.refusal, sizeof choice.refusal,
                    "ORRIM_KERNELS=%s names a kernel path this processor cannot run; it runs %s (unset: the "
                    "fastest).",
                    requested, runnable);
    }
    return choice;
  }
  choice.unknownName = true;
  // A name of any length is cut short to keep the message one line.
  std::snprintf(choice.refusal, sizeof choice.refusal,
                "ORRIM_KERNELS=%.64s names no kernel path; this processor runs %s (unset: the fastest).", requested,
                runnable);
  return choice;
}

const KernelPathChoice &processKernelPath() {
  // Read once: every call of the process takes the same path.
  static const KernelPathChoice choice = chooseKernelPath(std::getenv("ORRIM_KERNELS"), processorRuns);
  return choice;
}

namespace kernel_registry_internal {

// Taken once, as the library is loaded, before any call can ask for it.
const DenseKernels *const processKernels = processKernelPath().kernels;

void refuseToRun() {
  const KernelPathChoice &choice = processKernelPath();
  std::fprintf(stderr, "%s\n",
               choice.kernels == nullptr ? choice.refusal : "The kernel steps ran before their library was loaded.");
  std::abort();
}

}  // namespace kernel_registry_internal
