// A way back reads each period's records in the reverse of the order they
// were written, which the hardware does not fetch ahead along: the lines of
// the period before are asked for while this one is worked on.
#pragma once

#include <cstdint>

inline void prefetchDoubles(const double *values, uint64_t count) {
  const char *bytes = reinterpret_cast<const char *>(values);
  for (uint64_t offset = 0; offset < count * sizeof(double); offset += 64) {
    __builtin_prefetch(bytes + offset);
  }
}
