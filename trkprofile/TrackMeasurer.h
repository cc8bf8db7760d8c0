#pragma once
// Measures one track: whether the bundle takes it, and for a track it takes, what the bundle's
// figures and profile need of it. Const and without state of its own, so that any number of
// threads measure with one measurer.

#include <cstddef>
#include <vector>

#include "ScalarMap.h"
#include "TrackMeasures.h"
#include "TrackSelection.h"
#include "VoxelGrid.h"

class TrackMeasurer {
  public:
    // What to compute besides the selection and the length.
    struct Needs {
        bool pointValues = false;    // every sampled value (the median over all points)
        bool voxels = false;         // the voxels the track touches
        int nodes = 0;               // 0: no profile
        bool nodePositions = false;  // the nodes' positions (gaussian weights)
    };

    TrackMeasurer(const TrackSelection& selection, const std::vector<ScalarMap>& maps,
                  const VoxelGrid& grid, const Needs& needs, std::size_t stride)
        : selection_(selection), maps_(maps), grid_(grid), needs_(needs), stride_(stride) {}

    // record: n points of stride floats (x, y, z first), as a track source gives them.
    void Measure(const float* record, int n, TrackMeasures& out) const;

  private:
    void SampleNodes(const float* record, int n, TrackMeasures& out) const;

    const TrackSelection& selection_;
    const std::vector<ScalarMap>& maps_;
    const VoxelGrid grid_;
    const Needs needs_;
    const std::size_t stride_;
};
