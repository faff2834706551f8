// Loads the statefilter module through the host, as a C++ host would, and
// prints the log-likelihood of a local level model: one state that follows a
// random walk, observed with noise, with one observation missing.
#include "orrim_host.hpp"

#include <cmath>
#include <cstdio>
#include <limits>

int main(int argc, char **argv) {
  const char *modulePath = argc > 1 ? argv[1] : STATEFILTER_MODULE;
  const orrim::Module statefilter = orrim::Module::load(modulePath);

  const double missing = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> flow = {1120, 1160, 963, 1210, 1160, 1160, 813, missing, 1230, 1370};
  const double levelNoiseSd = std::sqrt(1469.1);
  const double observationNoiseSd = std::sqrt(15099.0);

  orrim::ArrayPtr Y = orrim::createReal({flow.size(), 1}, flow);
  orrim::ArrayPtr A = orrim::createReal({1, 1}, {1.0});
  orrim::ArrayPtr B = orrim::createReal({1, 1}, {levelNoiseSd});
  orrim::ArrayPtr C = orrim::createReal({1, 1}, {1.0});
  orrim::ArrayPtr D = orrim::createReal({1, 1}, {observationNoiseSd});
  orrim::ArrayPtr x0 = orrim::createReal({1, 1}, {1120.0});
  orrim::ArrayPtr P0 = orrim::createReal({1, 1}, {1e7});
  orrim::ArrayPtr tol = orrim::createReal({1, 1}, {0.0});

  const orrim::CallResult result =
      statefilter.call(1, {Y.get(), A.get(), B.get(), C.get(), D.get(), x0.get(), P0.get(), tol.get()});
  if (result.failed) {
    std::fprintf(stderr, "%s: %s\n", result.identifier.c_str(), result.message.c_str());
    return 1;
  }
  const double *perPeriod = orrimRealData(result.outputs[0].get());
  double total = 0.0;
  std::printf("period  log-likelihood\n");
  for (size_t t = 0; t < flow.size(); ++t) {
    std::printf("%6zu  %.10f\n", t, perPeriod[t]);
    total += perPeriod[t];
  }
  std::printf("total   %.10f\n", total);
  const orrim::Counters used = orrim::counters();
  std::printf("host: %llu allocations, %llu blocks left, %llu peak bytes\n",
              static_cast<unsigned long long>(used.allocations), static_cast<unsigned long long>(used.blocksLive),
              static_cast<unsigned long long>(used.peakBytes));
  return 0;
}
