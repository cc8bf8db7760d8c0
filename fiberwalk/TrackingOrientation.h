#pragma once
// Where the tensor volume's axes point: from its header, or else from the .info file and the
// orientation switches. Settles the track header's orientation and voxel order and brings the
// tensors into the frame the tracking runs in.

#include <vector>

#include "RunStep.h"
#include "TRACK_HEADER.h"
#include "TensorVolume.h"
#include "TrackingSettings.h"

class TrackingOrientation {
  public:
    // A header that knows its orientation is trusted over every option.
    RunStep Settle(const TrackingSettings& settings, const TensorVolume& tensor,
                   TRACK_HEADER& header);
    // Applies the slice direction and the switches' inversions and exchanges to every tensor,
    // and records the switches in the header.
    void AdjustVectorFrame(const TrackingSettings::VectorFrame& frame, std::vector<float>& tensors,
                           TRACK_HEADER& header) const;
    // The voxel order given on the command line, or the one the orientation implies.
    RunStep SetVoxelOrder(const TrackingSettings::OrientationOptions& options,
                          TRACK_HEADER& header) const;

  private:
    RunStep FromOptions(const TrackingSettings& settings);
    RunStep FromInfoFile(const std::string& infoFile);

    float vectors_[6] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};
    int sliceDirection_ = 1;
};
