#include "BundleStatistics.h"

#include <cmath>
#include <limits>
#include <utility>

#include "TsvText.h"

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

}  // namespace

BundleStatistics::BundleStatistics(std::vector<std::string> mapNames, const VoxelGrid& grid,
                                   bool gridKnown)
    : mapNames_(std::move(mapNames)),
      gridKnown_(gridKnown),
      touched_(gridKnown ? static_cast<std::size_t>(grid.VoxelCount()) : 0, 0),
      values_(mapNames_.size()),
      meanSums_(mapNames_.size(), 0.0) {}

void BundleStatistics::Add(const TrackMeasures& track) {
    ++tracks_;
    lengthSum_ += track.length;
    for (const std::int64_t voxel : track.voxels) {
        std::uint8_t& mark = touched_[static_cast<std::size_t>(voxel)];
        voxels_ += mark == 0 ? 1 : 0;
        mark = 1;
    }
    const std::size_t n = static_cast<std::size_t>(track.points);
    for (std::size_t m = 0; m < mapNames_.size(); ++m) {
        values_[m].Append(track.pointValues.data() + m * n, n);
        meanSums_[m] += track.trackMeans[m];
    }
}

std::string BundleStatistics::Table(const std::string& bundle) const {
    std::string header = "bundle\ttracks\tmean_length_mm\tvoxels";
    std::string row = bundle + "\t" + std::to_string(tracks_) + "\t" +
                      TsvText::Number(tracks_ > 0 ? lengthSum_ / tracks_ : kNone) + "\t" +
                      (gridKnown_ ? std::to_string(voxels_) : "NA");
    for (std::size_t m = 0; m < mapNames_.size(); ++m) {
        const std::string& name = mapNames_[m];
        header += "\t" + name + "_mean\t" + name + "_sd\t" + name + "_median\t" + name +
                  "_mean_of_tracks";
        const FloatColumn& values = values_[m];
        double sum = 0.0;
        for (std::size_t i = 0; i < values.Size(); ++i) {
            sum += values[i];
        }
        const double count = static_cast<double>(values.Size());
        const double mean = values.Size() == 0 ? kNone : sum / count;
        double squares = 0.0;
        for (std::size_t i = 0; i < values.Size(); ++i) {
            squares += (values[i] - mean) * (values[i] - mean);
        }
        const double sd = values.Size() == 0 ? kNone : std::sqrt(squares / count);
        row += "\t" + TsvText::Number(mean) + "\t" + TsvText::Number(sd) + "\t" +
               TsvText::Number(values.Median()) + "\t" +
               TsvText::Number(tracks_ > 0 ? meanSums_[m] / tracks_ : kNone);
    }
    return header + "\n" + row + "\n";
}
