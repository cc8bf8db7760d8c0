#pragma once
// The bundle's figures, gathered track by track in the file's order: the track count, the mean
// length, the voxels touched, and for each map the mean, sd and median over every point and the
// mean of the tracks' means. Every sampled value is kept (as a float) for the median.

#include <cstdint>
#include <string>
#include <vector>

#include "FloatColumn.h"
#include "TrackMeasures.h"
#include "VoxelGrid.h"

class BundleStatistics {
  public:
    // gridKnown false (a .tck file without a grid): the voxels touched are not counted.
    BundleStatistics(std::vector<std::string> mapNames, const VoxelGrid& grid, bool gridKnown);

    // A selected track's measures, with the point values and voxels.
    void Add(const TrackMeasures& track);
    std::int64_t Tracks() const { return tracks_; }

    // The header line and the bundle's row.
    std::string Table(const std::string& bundle) const;

  private:
    std::vector<std::string> mapNames_;
    bool gridKnown_;
    std::vector<std::uint8_t> touched_;  // one per voxel of the grid
    std::int64_t voxels_ = 0;
    std::int64_t tracks_ = 0;
    double lengthSum_ = 0.0;
    std::vector<FloatColumn> values_;  // per map, every point of every track
    std::vector<double> meanSums_;            // per map, the sum of the tracks' means
};
