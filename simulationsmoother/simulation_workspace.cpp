#include "simulation_workspace.h"

DrawBlocks drawBlocksOf(uint64_t draws) {
  const uint64_t count = draws / drawsSideBySide + (draws % drawsSideBySide != 0 ? 1 : 0);
  if (count == 0) {
    return {0, 0, 0};
  }
  return {draws, draws / count + (draws % count != 0 ? 1 : 0), count};
}

DrawBlock drawBlock(const DrawBlocks &blocks, uint64_t b) {
  // The first draws % count blocks take one draw more than the others.
  const uint64_t narrow = blocks.draws / blocks.count;
  const uint64_t wider = blocks.draws % blocks.count;
  return {b * narrow + (b < wider ? b : wider), narrow + (b < wider ? 1 : 0)};
}

BlockCounts simulationBlockCounts(uint64_t T, uint64_t n, uint64_t m, uint64_t k, uint64_t h, uint64_t width,
                                  CountProduct multiply) {
  BlockCounts counts = smootherBlockCounts(T, n, m, multiply);
  counts[mkDoubles] = multiply(m, k, "m*k");
  counts[nhDoubles] = multiply(n, h, "n*h");
  counts[drawDoubles] = width;
  counts[drawMDoubles] = multiply(m, width, "m*L");
  counts[drawNDoubles] = multiply(n, width, "n*L");
  counts[drawMTileDoubles] = multiply(counts[drawMDoubles], periodsPerTile, "m*L of a tile");
  counts[drawShockTileDoubles] = multiply(multiply(k + h, width, "(k+h)*L"), periodsPerTile, "(k+h)*L of a tile");
  counts[drawMTDoubles] = multiply(counts[drawMDoubles], T, "m*L*T");
  counts[drawNTDoubles] = multiply(counts[drawNDoubles], T, "n*L*T");
  return counts;
}
