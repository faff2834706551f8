#include "working_blocks.h"

BlockCounts modelBlockCounts(uint64_t T, uint64_t n, uint64_t m, CountProduct multiply) {
  BlockCounts counts{};
  counts[mTDoubles] = multiply(m, T, "m*T");
  counts[nTDoubles] = multiply(n, T, "n*T");
  counts[mmDoubles] = multiply(m, m, "m*m");
  counts[nmDoubles] = multiply(n, m, "n*m");
  // m*(m+1)/2, the halving done first, on the even factor: fits whenever m*m does.
  const uint64_t triangle = m % 2 == 0 ? multiply(m / 2, m + 1, "m*(m+1)/2") : multiply(m, (m + 1) / 2, "m*(m+1)/2");
  counts[triangleTDoubles] = multiply(triangle, T, "m*(m+1)/2*T");
  counts[mnTDoubles] = multiply(counts[mTDoubles], n, "m*n*T");
  counts[mDoubles] = m;
  counts[nDoubles] = n;
  counts[eightMDoubles] = multiply(m, 8, "8*m");
  counts[threeMMDoubles] = multiply(counts[mmDoubles], 3, "3*m*m");
  return counts;
}
