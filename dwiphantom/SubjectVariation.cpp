#include "SubjectVariation.h"

#include <cstdint>
#include <random>

SubjectVariation::SubjectVariation(unsigned datasetSeed, int subject, double voxelSizeMm) {
    // seed_seq and mt19937 are defined to the bit, the standard's distributions are not: the
    // shift is formed from raw draws so that a dataset is the same with every library.
    std::seed_seq sequence{static_cast<std::uint32_t>(datasetSeed),
                           static_cast<std::uint32_t>(subject)};
    std::mt19937 generator(sequence);
    noiseSeed_ = static_cast<unsigned>(generator());
    constexpr double kDraws = 4294967296.0;  // 2^32: every draw maps into [0, 1)
    for (double& shift : shiftMm_) {
        const double unit = static_cast<double>(generator()) / kDraws;
        shift = (2.0 * unit - 1.0) * kMaxShiftVoxels * voxelSizeMm;
    }
}
