#include "simulation_workspace.h"

DrawBlocks drawBlocksOf(uint64_t draws) {
  const uint64_t width = draws < drawsSideBySide ? draws : drawsSideBySide;
  return {draws, width, width == 0 ? 0 : draws / width + (draws % width != 0 ? 1 : 0)};
}

DrawBlock drawBlock(const DrawBlocks &blocks, uint64_t b) {
  const uint64_t first = b * blocks.width;
  return {first, blocks.draws - first < blocks.width ? blocks.draws - first : blocks.width};
}

BlockCounts simulationBlockCounts(uint64_t T, uint64_t n, uint64_t m, uint64_t k, uint64_t h, uint64_t width,
                                  CountProduct multiply) {
  BlockCounts counts = modelBlockCounts(T, n, m, multiply);
  counts[mkDoubles] = multiply(m, k, "m*k");
  counts[nhDoubles] = multiply(n, h, "n*h");
  counts[drawDoubles] = width;
  counts[drawMDoubles] = multiply(m, width, "m*L");
  counts[drawNDoubles] = multiply(n, width, "n*L");
  counts[drawMPairDoubles] = multiply(counts[drawMDoubles], 2, "m*2L");
  counts[drawMTileDoubles] = multiply(counts[drawMDoubles], periodsPerTile, "m*L of a tile");
  counts[drawShockTileDoubles] = multiply(multiply(k + h, width, "(k+h)*L"), periodsPerTile, "(k+h)*L of a tile");
  counts[drawMTDoubles] = multiply(counts[drawMDoubles], T, "m*L*T");
  counts[drawNTDoubles] = multiply(counts[drawNDoubles], T, "n*L*T");
  return counts;
}
