// Every test program runs on the kernel path that ORRIM_KERNELS names, and
// ctest runs those whose results depend on it once per path. A path this
// processor cannot run is not run: the program says so and exits with the
// code ctest counts as skipped. A name that is no path fails the program
// before any test, which gtest would otherwise list as skipped.
#include "dense_kernels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// SKIP_RETURN_CODE of the tests registered per path (tests/CMakeLists.txt).
constexpr int skippedExitCode = 77;

class KernelPathEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const KernelPathChoice &choice = processKernelPath();
    if (choice.kernels != nullptr) return;
    std::printf("%s: %s\n", choice.unknownName ? "Failed" : "Skipped", choice.refusal);
    std::fflush(stdout);
    std::exit(choice.unknownName ? EXIT_FAILURE : skippedExitCode);
  }
};

[[maybe_unused]] const ::testing::Environment *const registered =
    ::testing::AddGlobalTestEnvironment(new KernelPathEnvironment);

}  // namespace
