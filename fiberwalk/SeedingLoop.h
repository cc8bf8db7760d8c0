#pragma once
// The seeding loop: a track from every seed voxel (its centre, or random points in it), each
// written into the track file as soon as it is made.

#include <vector>

#include "RunStep.h"
#include "TRACK_HEADER.h"
#include "TensorVolume.h"
#include "TrackStream.h"
#include "TrackingMasks.h"
#include "TrackingSettings.h"

class SeedingLoop {
  public:
    struct Field {
        const VolumeGeometry& geometry;
        const std::vector<float>& tensors;
        const TrackingMasks& masks;
    };

    // Creates the track file and writes its header.
    static RunStep CreateTrackFile(const TrackingSettings& settings, const TRACK_HEADER& header,
                                   TrackStream& stream);
    static RunStep Run(const TrackingSettings& settings, const Field& field, TrackStream& stream);
    // Closes the file; a run without tracks leaves an empty file rather than a header with
    // nothing after it.
    static RunStep FinishTrackFile(const TrackingSettings& settings, TrackStream& stream);
};
