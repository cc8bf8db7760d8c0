#include "TrackMeasurer.h"

#include "TrackGeometry.h"

void TrackMeasurer::Measure(const float* record, int n, TrackMeasures& out) const {
    out.length = n > 0 ? TrackGeometry::Length(record, n, stride_) : 0.0;
    out.points = n;
    out.selected = selection_.Selects(record, n, stride_, out.length);
    if (!out.selected) {
        return;
    }
    const float* end = record + static_cast<std::size_t>(n - 1) * stride_;
    out.first = {record[0], record[1], record[2]};
    out.last = {end[0], end[1], end[2]};

    const std::size_t maps = maps_.size();
    out.trackMeans.assign(maps, 0.0);
    out.pointValues.resize(needs_.pointValues ? maps * static_cast<std::size_t>(n) : 0);
    for (std::size_t m = 0; m < maps; ++m) {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            // Every figure is made from the value as the median keeps it, so that they agree.
            const float value =
                static_cast<float>(maps_[m].Sample(record + static_cast<std::size_t>(i) * stride_));
            sum += value;
            if (needs_.pointValues) {
                out.pointValues[m * static_cast<std::size_t>(n) + static_cast<std::size_t>(i)] =
                    value;
            }
        }
        out.trackMeans[m] = sum / n;
    }

    out.voxels.clear();
    if (needs_.voxels) {
        for (int i = 0; i < n; ++i) {
            const std::int64_t voxel = grid_.VoxelOf(record + static_cast<std::size_t>(i) * stride_);
            if (voxel >= 0 && (out.voxels.empty() || out.voxels.back() != voxel)) {
                out.voxels.push_back(voxel);
            }
        }
    }
    if (needs_.nodes > 0) {
        SampleNodes(record, n, out);
    }
}

void TrackMeasurer::SampleNodes(const float* record, int n, TrackMeasures& out) const {
    const std::size_t nodes = static_cast<std::size_t>(needs_.nodes);
    const std::size_t maps = maps_.size();
    out.nodeScratch.resize(3 * nodes);
    TrackGeometry::Resample(record, n, stride_, needs_.nodes, out.nodeScratch.data());
    out.nodeValues.resize(nodes * maps);
    for (std::size_t k = 0; k < nodes; ++k) {
        const double* node = out.nodeScratch.data() + 3 * k;
        for (std::size_t m = 0; m < maps; ++m) {
            out.nodeValues[k * maps + m] = static_cast<float>(maps_[m].Sample(node));
        }
    }
    out.nodePositions.resize(needs_.nodePositions ? 3 * nodes : 0);
    for (std::size_t c = 0; c < out.nodePositions.size(); ++c) {
        out.nodePositions[c] = static_cast<float>(out.nodeScratch[c]);
    }
}
