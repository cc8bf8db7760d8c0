#pragma once
// What sets one subject of a dwiphantom dataset apart from the others: noise of its own and a
// small shift of its anatomy, both drawn from the dataset's seed and the subject's number, so
// that every subject is repeatable on its own and no two subjects are alike.

#include "PhantomModel.h"

class SubjectVariation {
  public:
    // Largest shift along each axis, in voxels: enough to change which voxels the bundles
    // cover, too little to take them out of the head or into each other.
    static constexpr double kMaxShiftVoxels = 1.0;

    // subject counts from 1.
    SubjectVariation(unsigned datasetSeed, int subject, double voxelSizeMm);

    unsigned noiseSeed() const { return noiseSeed_; }
    // Of the bundles and the CSF region, in millimetres.
    const Vec3& shiftMm() const { return shiftMm_; }

  private:
    unsigned noiseSeed_ = 0;
    Vec3 shiftMm_{0.0, 0.0, 0.0};
};
