// The reference path: the plain loops as kernels, and sizes that send every
// step to the plain loops, in one accumulator per sum on any processor. The
// other paths are tested against it, and a user can check a result on it.
#include "dense_kernels.h"
#include "reference_steps.h"

#include <limits>

namespace reference_kernels {

extern constinit const DenseKernels kernels = {
    .name = "reference",
    .smallestVectorisedSize = std::numeric_limits<uint64_t>::max(),
    .smallestFixedSize = 1,  // none: an empty range
    .largestFixedSize = 0,
    // Its downdateWithNext takes any size; the steps never ask for it, since
    // the path vectorises none.
    .smallestFusedSize = 0,
    .largestFusedSize = std::numeric_limits<uint64_t>::max(),
    .flatSweepLimit = 0,
    .oneStateInRegisters = false,
    .rowsTimesColumns = rowsTimesColumnsReference,
    .symmetricDowndate = symmetricDowndateReference,
    .downdateWithNext = downdateWithNextReference,
    .cumulantThroughUpdate = cumulantThroughUpdateReference,
    .correctDrawMeans = correctDrawMeansReference,
    .carryDrawCumulants = carryDrawCumulantsReference,
    .transpose = transposeReference,
    .predictFixed = {},
    .assimilateFixed = {},
    .vectorTimesRowsFixed = {},
    .rowsTimesRowsFixed = {},
    .observationAdjointsFixed = {},
};

}  // namespace reference_kernels
