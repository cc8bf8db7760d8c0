#pragma once
// The volumes that limit tracking: the tracking mask (optionally intersected with a second
// mask), the seed mask and the angle-threshold weights, each on the tensor's voxel grid.

#include <nifti1_io.h>

#include <vector>

#include "RunStep.h"
#include "TensorVolume.h"
#include "TrackingSettings.h"

class TrackingMasks {
  public:
    std::vector<short> tracking;
    std::vector<short> seed;       // empty: every voxel is a seed voxel
    std::vector<float> weights;    // empty: no angle weighting

    // Reads the tracking mask, intersects the second mask and reads the seed mask.
    RunStep Read(const TrackingSettings& settings, const VolumeGeometry& geometry);
    // Writes the tracking mask when an output mask was asked for.
    RunStep WriteOutputMask(const TrackingSettings& settings,
                            const nifti_1_header& tensorHeader) const;
    RunStep ReadAngleWeights(const TrackingSettings& settings, const VolumeGeometry& geometry);
    // Releases the volumes once tracking is done.
    void Release();
};
