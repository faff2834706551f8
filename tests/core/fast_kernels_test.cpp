// Every kernel path against the plain loops, bit for bit, on odd sizes and on
// NaN, infinities, signed zeros and cleared rows: the kernels of every path
// the processor runs in one process (the tests named *OnEveryPath), and the
// steps on the process's path, which ctest runs once per path.
#include "dense_kernels.h"
#include "dense_products.h"
#include "lower_triangle.h"
#include "measurement_update.h"
#include "reference_steps.h"
#include "time_update.h"

#include "host_testing.h"
#include "random_model.h"
#include "step_buffers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

using testing_support::bitIdentical;
using testing_support::RandomSource;
using testing_support::StepBuffers;

namespace {

const double infinity = std::numeric_limits<double>::infinity();
const double notANumber = std::numeric_limits<double>::quiet_NaN();

// Every path this processor runs, the reference path first.
std::vector<const DenseKernels *> availablePaths() {
  std::vector<const DenseKernels *> paths;
  for (KernelPath path : kernelPaths) {
    if (const DenseKernels *kernels = denseKernelsFor(path)) paths.push_back(kernels);
  }
  return paths;
}

// Replaces a few values with the ones that expose a changed order or a fused
// multiply-add: NaN, infinities, signed zeros, huge and tiny numbers.
void sprinkleSpecialValues(RandomSource &random, std::vector<double> &values, double probability) {
  const double specials[] = {notANumber, infinity, -infinity, 0.0, -0.0, 1e300, -1e-300, 1.0 + 1e-15};
  for (double &value : values) {
    if (random.chance(probability)) value = specials[random.below(8)];
  }
}

// A symmetric m x m matrix, with some rows and columns cleared.
std::vector<double> symmetricMatrix(RandomSource &random, uint64_t m, bool clearSome) {
  std::vector<double> P = random.covariance(m);
  if (clearSome) {
    for (uint64_t i = 0; i < m; ++i) {
      if (!random.chance(0.1)) continue;
      for (uint64_t l = 0; l < m; ++l) P[l + i * m] = P[i + l * m] = 0.0;
    }
  }
  return P;
}

const uint64_t sizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 13, 15, 16, 17, 31, 33, 50, 63, 64, 65, 127, 130};

}  // namespace

TEST(FastKernels, RowsTimesColumnsMatchesThePlainSumsOnEveryPath) {
  RandomSource random(11);
  for (const DenseKernels *kernels : availablePaths()) {
    // Random shapes, then every lane count up to 130 for one row and for five,
    // so that each way of splitting the lanes into blocks and a tail is met.
    for (int trial = 0; trial < 300 + 2 * 131; ++trial) {
      const bool sweep = trial >= 300;
      const uint64_t rows = sweep ? (trial % 2 == 0 ? 1 : 5) : random.below(14);
      const uint64_t lanes = sweep ? static_cast<uint64_t>(trial - 300) / 2 : random.below(131);
      const uint64_t depth = sweep ? 1 + random.below(9) : random.below(131);
      const uint64_t outStride = lanes + random.below(3), aStride = depth + random.below(3);
      const uint64_t bStride = lanes + random.below(3), initStride = lanes + random.below(2);
      const bool withInit = random.chance(0.5);
      std::vector<double> a = random.normals(rows * aStride + 1), b = random.normals(depth * bStride + 1);
      std::vector<double> init = random.normals(rows * initStride + 1);
      if (trial % 3 == 0) {
        sprinkleSpecialValues(random, a, 0.02);
        sprinkleSpecialValues(random, b, 0.02);
        sprinkleSpecialValues(random, init, 0.05);
      }
      std::vector<double> expected(rows * outStride + 1, 7.0), actual = expected;
      rowsTimesColumnsReference(expected.data(), outStride, withInit ? init.data() : nullptr, initStride, a.data(),
                                aStride, b.data(), bStride, rows, lanes, depth);
      kernels->rowsTimesColumns(actual.data(), outStride, withInit ? init.data() : nullptr, initStride, a.data(),
                                aStride, b.data(), bStride, rows, lanes, depth);
      ASSERT_TRUE(bitIdentical(expected, actual))
          << kernels->name << " rows " << rows << " lanes " << lanes << " depth " << depth;
    }
  }
}

TEST(FastKernels, SymmetricDowndateMatchesTheSequentialUpdateOnEveryPath) {
  RandomSource random(12);
  for (const DenseKernels *kernels : availablePaths()) {
    std::vector<uint64_t> downdateSizes(std::begin(sizes), std::end(sizes));
    if (kernels->flatSweepLimit > 0) downdateSizes.push_back(kernels->flatSweepLimit + 3);  // past the flat sweep
    for (uint64_t m : downdateSizes) {
      // P at every offset from a cache line: where the vectors of the sweep
      // start depends on its address.
      for (uint64_t trial = 0; trial < (m > 130 ? 2 : 8); ++trial) {
        std::vector<double> P = symmetricMatrix(random, m, trial % 2 == 1);
        std::vector<double> w = random.normals(m), K = random.normals(m);
        // Drive some variances to exactly zero or below, the case that clears a state.
        for (uint64_t i = 0; i < m; ++i) {
          if (random.chance(0.2) && w[i] != 0.0) K[i] = P[i + i * m] / w[i] * (random.chance(0.5) ? 1.0 : 2.0);
        }
        if (trial % 4 == 3) {
          sprinkleSpecialValues(random, w, 0.05);
          sprinkleSpecialValues(random, K, 0.05);
        }
        std::vector<double> expected = P;
        downdateCovarianceReference(expected.data(), w.data(), K.data(), m);
        std::vector<double> storage(m * m + 16, 7.0);
        const uint64_t offset = (trial + 8 - reinterpret_cast<uintptr_t>(storage.data()) / sizeof(double) % 8) % 8;
        double *placed = storage.data() + offset;
        std::copy(P.begin(), P.end(), placed);
        kernels->symmetricDowndate(placed, w.data(), K.data(), m);
        for (uint64_t i = 0; i < m; ++i)
          if (placed[i + i * m] <= 0.0)
            for (uint64_t l = 0; l < m; ++l) placed[l + i * m] = placed[i + l * m] = 0.0;
        ASSERT_TRUE(bitIdentical(expected, std::vector<double>(placed, placed + m * m)))
            << kernels->name << " m " << m << " trial " << trial;
        ASSERT_TRUE(std::all_of(storage.begin(), storage.begin() + offset, [](double v) { return v == 7.0; }) &&
                    std::all_of(storage.begin() + offset + m * m, storage.end(), [](double v) { return v == 7.0; }))
            << kernels->name << " wrote outside P, m " << m;
        if (m < kernels->smallestFusedSize || m > kernels->largestFusedSize) continue;

        // The same correction forming the next series' w; every other trial
        // writes it over w, as the modules do. A cleared state leaves it stale.
        std::vector<double> nextRow = random.normals(m);
        if (trial % 4 == 3) sprinkleSpecialValues(random, nextRow, 0.05);
        std::vector<double> expectedNext(m);
        covTimesRowReference(expectedNext.data(), nextRow.data(), expected.data(), m);
        std::vector<double> wOrNext = w, separateNext(m, 7.0);
        std::vector<double> &next = trial % 2 == 0 ? wOrNext : separateNext;
        std::fill(storage.begin(), storage.end(), 7.0);
        std::copy(P.begin(), P.end(), placed);
        kernels->downdateWithNext(placed, wOrNext.data(), K.data(), nextRow.data(), next.data(), m);
        bool cleared = false;
        for (uint64_t i = 0; i < m; ++i) {
          if (placed[i + i * m] > 0.0 || std::isnan(placed[i + i * m])) continue;
          cleared = true;
          for (uint64_t l = 0; l < m; ++l) placed[l + i * m] = placed[i + l * m] = 0.0;
        }
        const std::string where = std::string(kernels->name) + " m " + std::to_string(m) + " trial " +
                                  std::to_string(trial);
        ASSERT_TRUE(bitIdentical(expected, std::vector<double>(placed, placed + m * m))) << where;
        if (!cleared) {
          ASSERT_TRUE(bitIdentical(expectedNext, next)) << where;
        }
        ASSERT_TRUE(std::all_of(storage.begin(), storage.begin() + offset, [](double v) { return v == 7.0; }) &&
                    std::all_of(storage.begin() + offset + m * m, storage.end(), [](double v) { return v == 7.0; }))
            << where << ": wrote outside P";
      }
    }
  }
}

// The smoother's way back forms L = I - K*c lane by lane inside the sum; the
// lanes where the identity's 1.0 falls move with every row of L.
TEST(FastKernels, CumulantThroughUpdateMatchesThePlainLoopOnEveryPath) {
  RandomSource random(13);
  for (const DenseKernels *kernels : availablePaths()) {
    for (uint64_t m : sizes) {
      for (int trial = 0; trial < 6; ++trial) {
        std::vector<double> q = random.normals(m), K = random.normals(m), c = random.normals(m);
        double s = random.normal();
        if (trial % 2 == 1) {
          sprinkleSpecialValues(random, q, 0.05);
          sprinkleSpecialValues(random, K, 0.05);
          sprinkleSpecialValues(random, c, 0.05);
          std::vector<double> scaled{s};
          sprinkleSpecialValues(random, scaled, 0.3);
          s = scaled[0];
        }
        std::vector<double> expected(m + 1, 7.0), actual = expected;
        cumulantThroughUpdateReference(expected.data(), q.data(), K.data(), c.data(), s, m);
        kernels->cumulantThroughUpdate(actual.data(), q.data(), K.data(), c.data(), s, m);
        ASSERT_TRUE(bitIdentical(expected, actual)) << kernels->name << " m " << m << " trial " << trial;
      }
    }
  }
}

// The mean recursions of a block of draws, in place across the lanes: every
// lane count to past two groups of vectors, so that each split into groups,
// single vectors and a masked tail is met, with rows further apart than the
// lanes, which must keep what lies between them.
TEST(FastKernels, DrawLanesMatchThePlainLoopsOnEveryPath) {
  RandomSource random(20);
  for (const DenseKernels *kernels : availablePaths()) {
    for (uint64_t lanes = 0; lanes <= 70; ++lanes) {
      const uint64_t m = sizes[random.below(14)];
      const uint64_t stride = lanes + random.below(3);
      std::vector<double> rows = random.normals(m * stride + 1), start = random.normals(lanes);
      std::vector<double> c = random.normals(m), K = random.normals(m);
      if (lanes % 3 == 0) {
        sprinkleSpecialValues(random, rows, 0.02);
        sprinkleSpecialValues(random, start, 0.05);
        sprinkleSpecialValues(random, c, 0.05);
      }
      const double reciprocal = random.uniform(0.1, 3.0);
      std::vector<double> expected = rows, actual = rows, expectedScaled(lanes + 1, 7.0), scaled = expectedScaled;
      correctDrawMeansReference(expected.data(), stride, start.data(), c.data(), K.data(), reciprocal,
                                expectedScaled.data(), m, lanes);
      kernels->correctDrawMeans(actual.data(), stride, start.data(), c.data(), K.data(), reciprocal, scaled.data(), m,
                                lanes);
      const std::string where = std::string(kernels->name) + " m " + std::to_string(m) + " lanes " +
                                std::to_string(lanes);
      ASSERT_TRUE(bitIdentical(expected, actual)) << where;
      ASSERT_TRUE(bitIdentical(expectedScaled, scaled)) << where;
      carryDrawCumulantsReference(expected.data(), stride, expectedScaled.data(), c.data(), K.data(), m, lanes);
      kernels->carryDrawCumulants(actual.data(), stride, scaled.data(), c.data(), K.data(), m, lanes);
      ASSERT_TRUE(bitIdentical(expected, actual)) << where << ", the cumulants";
    }
  }
}

namespace {

// A NaN with a payload of its own: a copy through the vector registers must
// keep it, where an arithmetic step would make it the default NaN.
double nanWithPayload() {
  const uint64_t bits = 0x7ff8'0000'dead'beefULL;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool sameBytes(const std::vector<double> &expected, const std::vector<double> &actual) {
  // An empty vector may hold no storage at all, and memcmp takes no null.
  return expected.size() == actual.size() &&
         (expected.empty() || std::memcmp(expected.data(), actual.data(), expected.size() * sizeof(double)) == 0);
}

}  // namespace

// Every shape up to past four whole tiles of the widest path, whole and
// ragged, with rows further apart than their elements on both sides: what
// lies between them must be kept.
TEST(FastKernels, TransposeCopiesEveryElementOnEveryPath) {
  RandomSource random(23);
  for (const DenseKernels *kernels : availablePaths()) {
    for (uint64_t rows = 0; rows <= 34; ++rows) {
      const uint64_t columns = random.below(35);
      const uint64_t fromStride = columns + random.below(3), toStride = rows + random.below(3);
      std::vector<double> from = random.normals(rows * fromStride + 1);
      sprinkleSpecialValues(random, from, 0.05);
      if (!from.empty()) from[random.below(from.size())] = nanWithPayload();
      std::vector<double> expected(columns * toStride + 1, 7.0), actual = expected;
      transposeReference(expected.data(), toStride, from.data(), fromStride, rows, columns);
      kernels->transpose(actual.data(), toStride, from.data(), fromStride, rows, columns);
      ASSERT_TRUE(sameBytes(expected, actual)) << kernels->name << " rows " << rows << " columns " << columns;
    }
  }
}

// A symmetric matrix made whole from its triangle, and a lower triangle
// mirrored, against the element-by-element copies: the bands and tiles they
// go in on this process's path, the sizes below and above a band and a tile.
TEST(FastSteps, TrianglesAreMadeWholeAsThePlainCopiesMakeThem) {
  RandomSource random(24);
  for (uint64_t m : sizes) {
    std::vector<double> S = random.normals(m * m);
    sprinkleSpecialValues(random, S, 0.03);
    if (m > 0) S[random.below(m * m)] = nanWithPayload();
    std::vector<double> expected = S, actual = S;
    for (uint64_t i = 1; i < m; ++i) {
      for (uint64_t l = 0; l < i; ++l) expected[l * m + i] = expected[i * m + l];
    }
    mirrorLowerTriangle(actual.data(), m);
    ASSERT_TRUE(sameBytes(expected, actual)) << "mirrored, m " << m;
    // expected is symmetric to the bit: its triangle makes it again.
    std::vector<double> triangle(lowerTriangleCount(m)), whole(m * m, 7.0);
    storeLowerTriangle(triangle.data(), expected.data(), m);
    restoreSymmetric(whole.data(), triangle.data(), m);
    ASSERT_TRUE(sameBytes(expected, whole)) << "restored, m " << m;
  }
}

TEST(FastSteps, PredictionMatchesTheReferenceForSymmetricAndAsymmetricCovariances) {
  RandomSource random(13);
  for (uint64_t m : sizes) {
    for (int trial = 0; trial < 8; ++trial) {
      StepBuffers fast(m);
      fast.x = random.normals(m);
      fast.rows = random.stableTransition(m);
      const std::vector<double> B = random.normals(m * 2);
      for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < m; ++j) {
          double s = 0.0;
          for (uint64_t l = 0; l < 2; ++l) s += B[i + l * m] * B[j + l * m];
          fast.noise[i + j * m] = s;
        }
      fast.P = symmetricMatrix(random, m, trial % 4 == 1);
      if (trial % 4 == 2 && m > 1) fast.P[1] += 0.5;  // an asymmetric start
      if (trial % 4 == 3) {
        sprinkleSpecialValues(random, fast.rows, 0.03);
        sprinkleSpecialValues(random, fast.x, 0.1);
      }
      if (trial >= 4) fast.offerColumns();
      StepBuffers reference = fast;
      predictState(fast.state(), fast.model(), fast.scratch(), m);
      predictStateReference(reference.state(), reference.model(), reference.scratch(), m);
      ASSERT_TRUE(bitIdentical(reference.x, fast.x)) << "m " << m << " trial " << trial;
      ASSERT_TRUE(bitIdentical(reference.P, fast.P)) << "m " << m << " trial " << trial;
    }
  }
}

TEST(FastSteps, UpdatesMatchTheReferenceOverASequenceOfObservations) {
  RandomSource random(14);
  for (uint64_t m : sizes) {
    StepBuffers fast(m);
    StepBuffers reference(m);
    fast.P = reference.P = symmetricMatrix(random, m, true);
    fast.x = reference.x = random.normals(m);
    for (int observation = 0; observation < 6; ++observation) {
      std::vector<double> c = random.normals(m);
      if (observation == 4) sprinkleSpecialValues(random, c, 0.05);
      if (observation == 2 && m > 0) c.assign(m, 0.0), c[m / 2] = 1.0;  // d = 0: variance falls to zero
      const double d = observation == 2 ? 0.0 : random.uniform(0.1, 2.0);
      const double y = random.normal();
      const double fastF = innovationVariance(c.data(), d, fast.P.data(), m, fast.w.data());
      const UsedObservation used = assimilateObservation(y, fastF, c.data(), m, fast.state(), fast.scratch());
      // A NaN tol: the reference uses every observation, as the steps above do.
      const ObservationOutcome expected =
          updateWithObservationReference(y, c.data(), d, notANumber, m, reference.state(), reference.scratch());
      ASSERT_TRUE(bitIdentical(reference.w, fast.w)) << "m " << m;
      ASSERT_TRUE(bitIdentical({expected.variance, expected.innovation, expected.reciprocal},
                               {fastF, used.innovation, used.reciprocal}));
      ASSERT_TRUE(bitIdentical(reference.x, fast.x)) << "m " << m << " observation " << observation;
      ASSERT_TRUE(bitIdentical(reference.P, fast.P)) << "m " << m << " observation " << observation;
    }
  }
}

// The kernels compiled for each size of a path's fixed-size range, on every
// path, against the plain loops.
TEST(FixedSizeSteps, PredictionMatchesTheReferenceOnEveryPath) {
  RandomSource random(15);
  for (const DenseKernels *kernels : availablePaths()) {
    for (uint64_t m = kernels->smallestFixedSize; m <= kernels->largestFixedSize; ++m) {
      for (int trial = 0; trial < 4; ++trial) {
        StepBuffers fast(m);
        fast.x = random.normals(m);
        fast.rows = random.stableTransition(m);
        fast.noise = symmetricMatrix(random, m, false);
        fast.P = symmetricMatrix(random, m, trial == 1);
        if (trial == 2) fast.P[1] += 0.5;  // an asymmetric start
        if (trial == 3) {
          sprinkleSpecialValues(random, fast.rows, 0.05);
          sprinkleSpecialValues(random, fast.P, 0.03);
        }
        fast.offerColumns();
        StepBuffers reference = fast;
        kernels->predictFixed[m](fast.x.data(), fast.P.data(), fast.columns.data(), fast.noise.data(),
                                 fast.ap.data());
        predictStateReference(reference.state(), reference.model(), reference.scratch(), m);
        ASSERT_TRUE(bitIdentical(reference.x, fast.x)) << kernels->name << " m " << m << " trial " << trial;
        ASSERT_TRUE(bitIdentical(reference.P, fast.P)) << kernels->name << " m " << m << " trial " << trial;
      }
    }
  }
}

TEST(FixedSizeSteps, RunsOfObservationsMatchTheSequentialUpdatesOnEveryPath) {
  RandomSource random(16);
  for (const DenseKernels *kernels : availablePaths()) {
    for (uint64_t m = kernels->smallestFixedSize; m <= kernels->largestFixedSize; ++m) {
      for (int trial = 0; trial < 3; ++trial) {
        const uint64_t count = 1 + random.below(9);
        StepBuffers reference(m);
        reference.P = symmetricMatrix(random, m, trial == 1);
        reference.x = random.normals(m);
        std::vector<double> rows = random.normals(count * m), noise(count), starts = random.normals(count);
        std::vector<char> presentFlags(count);
        for (uint64_t j = 0; j < count; ++j) {
          noise[j] = random.uniform(0.1, 2.0);
          presentFlags[j] = !random.chance(0.15);
        }
        // A series that sees one state exactly: its variance falls to zero and is cleared.
        if (count > 1) {
          std::fill(rows.begin() + m, rows.begin() + 2 * m, 0.0);
          rows[m + random.below(m)] = 1.0;
          noise[1] = 0.0;
        }
        if (trial == 2) {
          sprinkleSpecialValues(random, rows, 0.05);
          sprinkleSpecialValues(random, starts, 0.1);
        }
        const double tol = trial == 1 ? 0.5 : 0.0;
        std::vector<double> x = reference.x, P = reference.P, gains(count * m, 7.0);
        std::vector<ObservationOutcome> outcomes(count);
        bool present[16];
        for (uint64_t j = 0; j < count; ++j) present[j] = presentFlags[j] != 0;
        kernels->assimilateFixed[m](x.data(), P.data(), starts.data(), present, count, rows.data(), noise.data(),
                                    tol, outcomes.data(), gains.data());
        // The plain loops, series by series.
        for (uint64_t j = 0; j < count; ++j) {
          const std::string where = std::string(kernels->name) + " m " + std::to_string(m) + " series " +
                                    std::to_string(j) + " trial " + std::to_string(trial);
          const double *c = rows.data() + j * m;
          if (!present[j]) {
            ASSERT_FALSE(outcomes[j].used) << where;
            continue;
          }
          const ObservationOutcome expected = updateWithObservationReference(starts[j], c, noise[j], tol, m, reference.state(), reference.scratch());
          ASSERT_TRUE(bitIdentical({expected.variance}, {outcomes[j].variance})) << where;
          ASSERT_EQ(expected.used, outcomes[j].used) << where;
          if (!expected.used) continue;
          ASSERT_TRUE(bitIdentical({expected.innovation, expected.reciprocal},
                                   {outcomes[j].innovation, outcomes[j].reciprocal})) << where;
          ASSERT_TRUE(bitIdentical(reference.K, {gains.begin() + j * m, gains.begin() + (j + 1) * m})) << where;
        }
        ASSERT_TRUE(bitIdentical(reference.x, x)) << kernels->name << " m " << m << " trial " << trial;
        ASSERT_TRUE(bitIdentical(reference.P, P)) << kernels->name << " m " << m << " trial " << trial;
      }
    }
  }
}

// The gradient's way back over a period's observations, compiled for each
// size, against the plain loops: every output and every carried value, the
// covariance among them when it is carried, with observations passed over
// and special values among the records.
TEST(FixedSizeSteps, ObservationAdjointsMatchThePlainLoopsOnEveryPath) {
  RandomSource random(24);
  for (const DenseKernels *kernels : availablePaths()) {
    for (uint64_t m = kernels->smallestFixedSize; m <= kernels->largestFixedSize; ++m) {
      for (int trial = 0; trial < 3; ++trial) {
        const uint64_t count = 1 + random.below(7);
        std::vector<double> M = symmetricMatrix(random, m, trial == 1), xbar = random.normals(m), x = random.normals(m);
        std::vector<double> gains = random.normals(count * m), rows = random.normals(count * m);
        std::vector<double> scaled = random.normals(count), reciprocals(count), skips(count, 0.0);
        for (uint64_t j = 0; j < count; ++j) {
          reciprocals[j] = random.uniform(0.2, 3.0);
          if (random.chance(0.2)) skips[j] = 1.0;
        }
        if (trial == 2) {
          sprinkleSpecialValues(random, gains, 0.05);
          sprinkleSpecialValues(random, scaled, 0.1);
        }
        struct Outputs {
          std::vector<double> M, xbar, x, directions, rowGradients, noise, innovation, P;
        };
        const std::vector<double> P = symmetricMatrix(random, m, false);
        auto run = [&](ObservationAdjointsKernel kernel) {
          Outputs out{M, xbar, x, std::vector<double>(count * m, 5.0), std::vector<double>(count * m, 5.0),
                      std::vector<double>(count, 5.0), std::vector<double>(count, 5.0), P};
          // Half the trials carry the covariance back too and add P*dw.
          const ObservationAdjointPeriod period{gains.data(),          scaled.data(),
                                                reciprocals.data(),    skips.data(),
                                                rows.data(),           out.directions.data(),
                                                out.rowGradients.data(), out.noise.data(),
                                                out.innovation.data(), trial != 1 ? out.P.data() : nullptr};
          std::vector<double> scratch(m);
          kernel(out.M.data(), out.xbar.data(), out.x.data(), period, count, m, scratch.data());
          return out;
        };
        const Outputs expected = run(observationAdjointsReference);
        const Outputs actual = run(kernels->observationAdjointsFixed[m]);
        const std::string where = std::string(kernels->name) + " m " + std::to_string(m) + " trial " +
                                  std::to_string(trial);
        ASSERT_TRUE(bitIdentical(expected.M, actual.M)) << where;
        ASSERT_TRUE(bitIdentical(expected.xbar, actual.xbar)) << where;
        ASSERT_TRUE(bitIdentical(expected.x, actual.x)) << where;
        ASSERT_TRUE(bitIdentical(expected.directions, actual.directions)) << where;
        ASSERT_TRUE(bitIdentical(expected.rowGradients, actual.rowGradients)) << where;
        ASSERT_TRUE(bitIdentical(expected.noise, actual.noise)) << where;
        ASSERT_TRUE(bitIdentical(expected.innovation, actual.innovation)) << where;
        ASSERT_TRUE(bitIdentical(expected.P, actual.P)) << where;
      }
    }
  }
}

// The local level model's steps keep their values in registers; they must
// still be the plain loops' operations, clearing included.
TEST(FastSteps, OneStateStepsMatchThePlainLoops) {
  RandomSource random(17);
  const double specials[] = {0.0, -0.0, notANumber, infinity, 1e-300};
  for (int trial = 0; trial < 200; ++trial) {
    StepBuffers fast(1), reference(1);
    fast.x = reference.x = {random.normal()};
    fast.P = reference.P = {trial % 10 == 0 ? specials[random.below(5)] : random.uniform(-1.0, 3.0)};
    fast.rows = reference.rows = {trial % 7 == 0 ? specials[random.below(5)] : random.uniform(-1.5, 1.5)};
    fast.noise = reference.noise = {trial % 5 == 0 ? 0.0 : random.uniform(0.0, 1.0)};
    predictState(fast.state(), fast.model(), fast.scratch(), 1);
    predictStateReference(reference.state(), reference.model(), reference.scratch(), 1);
    ASSERT_TRUE(bitIdentical(reference.x, fast.x) && bitIdentical(reference.P, fast.P)) << "trial " << trial;

    // c = 1 and d = 0 make P - w*K zero or below in exact terms, the cleared case.
    const double c[] = {trial % 3 == 0 ? 1.0 : random.normal()};
    const double d = trial % 3 == 0 ? 0.0 : random.uniform(0.0, 2.0);
    const double y = trial % 11 == 0 ? notANumber : random.normal();
    const double tol = trial % 13 == 0 ? 0.7 : 0.0;
    double fastTotal = 0.0, referenceTotal = 0.0;
    const bool fastUsed = updateWithObservation(y, c, d, tol, 1, fast.state(), fast.scratch(), isIeeeNaN, &fastTotal);
    bool referenceUsed = false;
    if (!isIeeeNaN(y)) {
      const ObservationOutcome expected = updateWithObservationReference(y, c, d, tol, 1, reference.state(), reference.scratch());
      referenceUsed = expected.used;
      if (expected.used) {
        referenceTotal -= logLikelihoodTerm(expected.variance, expected.innovation, expected.reciprocal);
      }
    }
    ASSERT_EQ(referenceUsed, fastUsed) << "trial " << trial;
    ASSERT_TRUE(bitIdentical({referenceTotal, reference.x[0], reference.P[0]}, {fastTotal, fast.x[0], fast.P[0]}))
        << "trial " << trial;
  }
}

// A whole period against the plain loops series by series. With a few
// states, more series than one run of the kernel holds: P and x pass through
// memory between runs. With more, each series' w is formed by the correction
// before, unless that series was missing, passed over or cleared a state.
TEST(FastSteps, PeriodsMatchSeriesBySeries) {
  RandomSource random(18);
  for (uint64_t m : {2, 10, 16, 17, 24, 40, 61, 64, 65}) {
    const uint64_t n = 37;
    StepBuffers fast(m);
    fast.P = symmetricMatrix(random, m, false);
    fast.x = random.normals(m);
    StepBuffers reference = fast;
    std::vector<double> rows = random.normals(n * m), noise(n), y = random.normals(n);
    for (uint64_t j = 0; j < n; ++j) {
      noise[j] = random.uniform(0.1, 2.0);
      if (random.chance(0.1)) y[j] = notANumber;
    }
    // Series 3 sees nothing (F = 0, passed over); series 5 sees one state
    // exactly, whose variance it drives to zero or below.
    std::fill(rows.begin() + 3 * m, rows.begin() + 4 * m, 0.0);
    std::fill(rows.begin() + 5 * m, rows.begin() + 6 * m, 0.0);
    noise[3] = noise[5] = 0.0;
    y[3] = y[5] = 1.0;
    rows[5 * m + random.below(m)] = 1.0;
    PreparedModel model = fast.model();
    model.measurementRows = rows.data();
    model.observationNoiseVar = noise.data();
    const double fastTotal = updateWithObservations(y.data(), 1, n, model, 0.0, m, fast.state(), fast.scratch(),
                                                    isIeeeNaN);
    double referenceTotal = 0.0;
    for (uint64_t j = 0; j < n; ++j) {
      if (isIeeeNaN(y[j])) continue;
      const ObservationOutcome expected = updateWithObservationReference(y[j], rows.data() + j * m, noise[j], 0.0, m,
                                                                             reference.state(), reference.scratch());
      if (expected.used) {
        referenceTotal -= logLikelihoodTerm(expected.variance, expected.innovation, expected.reciprocal);
      }
    }
    ASSERT_TRUE(bitIdentical({referenceTotal}, {fastTotal})) << "m " << m;
    ASSERT_TRUE(bitIdentical(reference.x, fast.x)) << "m " << m;
    ASSERT_TRUE(bitIdentical(reference.P, fast.P)) << "m " << m;
  }
}

TEST(FixedSizeSteps, ProductsAlongRowsMatchThePlainSumsOnEveryPath) {
  RandomSource random(19);
  for (const DenseKernels *kernels : availablePaths()) {
    for (uint64_t m = kernels->smallestFixedSize; m <= kernels->largestFixedSize; ++m) {
      std::vector<double> a = random.normals(m * m), b = random.normals(m * m), v = random.normals(m);
      sprinkleSpecialValues(random, a, 0.03);
      sprinkleSpecialValues(random, b, 0.03);
      std::vector<double> expectedProduct(m * m), expectedVector(m), product(m * m, 7.0), vector(m, 7.0);
      rowsTimesColumnsReference(expectedProduct.data(), m, nullptr, 0, a.data(), m, b.data(), m, m, m, m);
      rowsTimesColumnsReference(expectedVector.data(), 0, nullptr, 0, v.data(), 0, b.data(), m, 1, m, m);
      kernels->rowsTimesRowsFixed[m](product.data(), a.data(), b.data());
      kernels->vectorTimesRowsFixed[m](vector.data(), v.data(), b.data());
      ASSERT_TRUE(bitIdentical(expectedProduct, product)) << kernels->name << " m " << m;
      ASSERT_TRUE(bitIdentical(expectedVector, vector)) << kernels->name << " m " << m;
    }
  }
}

namespace {

bool runsAllButAvx512(KernelPath path) { return path != KernelPath::avx512; }
bool runsOnlyThePlainPaths(KernelPath path) { return path == KernelPath::reference || path == KernelPath::portable; }

}  // namespace

// ORRIM_KERNELS names the path, or is unset (or empty) for the fastest; a
// path the processor lacks or a name that is no path is refused, never
// replaced by another path.
TEST(KernelRegistry, ChoiceTakesTheNamedPathOrRefusesIt) {
  struct Case {
    const char *requested;
    bool (*runs)(KernelPath);
    const char *taken;  // null: refused
    bool unknownName;
    const char *runnable;  // what the refusal lists
  };
  const Case cases[] = {
      {nullptr, runsAllButAvx512, "avx2", false, nullptr},
      {"", runsAllButAvx512, "avx2", false, nullptr},
      {nullptr, runsOnlyThePlainPaths, "portable", false, nullptr},
      {"reference", runsAllButAvx512, "reference", false, nullptr},
      {"portable", runsOnlyThePlainPaths, "portable", false, nullptr},
      {"avx2", runsAllButAvx512, "avx2", false, nullptr},
      {"avx512", runsAllButAvx512, nullptr, false, "it runs reference, portable and avx2"},
      {"avx2", runsOnlyThePlainPaths, nullptr, false, "it runs reference and portable"},
      {"AVX2", runsAllButAvx512, nullptr, true, "runs reference, portable and avx2"},
      {"avx2 ", runsAllButAvx512, nullptr, true, "runs reference, portable and avx2"},
      {"fastest", runsOnlyThePlainPaths, nullptr, true, "runs reference and portable"},
  };
  for (const Case &test : cases) {
    const std::string where = test.requested == nullptr ? "unset" : std::string("named ").append(test.requested);
    const KernelPathChoice choice = chooseKernelPath(test.requested, test.runs);
    if (test.taken != nullptr) {
      ASSERT_NE(choice.kernels, nullptr) << where << ": " << choice.refusal;
      EXPECT_STREQ(choice.kernels->name, test.taken) << where;
      continue;
    }
    EXPECT_EQ(choice.kernels, nullptr) << where << " took " << choice.kernels->name;
    EXPECT_EQ(choice.unknownName, test.unknownName) << where;
    const std::string setting = std::string("ORRIM_KERNELS=").append(test.requested);
    EXPECT_NE(std::strstr(choice.refusal, setting.c_str()), nullptr) << choice.refusal;
    EXPECT_NE(std::strstr(choice.refusal, test.runnable), nullptr) << choice.refusal;
  }
}

// Runs under every registration of the program: ctest's ORRIM_KERNELS must be
// the path the process's steps take.
TEST(KernelRegistry, TheProcessTakesThePathItsEnvironmentNames) {
  const char *requested = std::getenv("ORRIM_KERNELS");
  if (requested != nullptr && requested[0] != '\0') {
    EXPECT_STREQ(denseKernels().name, requested);
  } else {
    EXPECT_EQ(&denseKernels(), availablePaths().back()) << denseKernels().name;
  }
  EXPECT_EQ(&denseKernels(), processKernelPath().kernels);
}
