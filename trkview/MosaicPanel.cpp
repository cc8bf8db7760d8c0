#include "MosaicPanel.h"

#include <cmath>

namespace {

struct PanelAxes {
    int across;
    int down;
    int normal;
    bool upward;
};

// Axial sections keep the single slice's picture (y downward), so that both views of a run
// match; coronal and sagittal sections put the top of the head at the top of the panel.
PanelAxes AxesOf(MosaicPanel::Plane plane) {
    switch (plane) {
        case MosaicPanel::Plane::kCoronal:
            return {0, 2, 1, true};
        case MosaicPanel::Plane::kSagittal:
            return {1, 2, 0, true};
        case MosaicPanel::Plane::kAxial:
        default:
            return {0, 1, 2, false};
    }
}

}  // namespace

MosaicPanel::MosaicPanel(Plane plane, int slice, const std::array<int, 3>& dims,
                         const std::array<float, 3>& voxelSize, int scale, int left, int top)
    : plane_(plane),
      slice_(slice),
      across_(AxesOf(plane).across),
      down_(AxesOf(plane).down),
      normal_(AxesOf(plane).normal),
      upward_(AxesOf(plane).upward),
      dims_(dims),
      voxelSize_(voxelSize),
      scale_(scale),
      left_(left),
      top_(top),
      width_(Columns(plane, dims) * scale),
      height_(Rows(plane, dims) * scale) {}

int MosaicPanel::Columns(Plane plane, const std::array<int, 3>& dims) {
    return dims[AxesOf(plane).across];
}

int MosaicPanel::Rows(Plane plane, const std::array<int, 3>& dims) {
    return dims[AxesOf(plane).down];
}

std::string MosaicPanel::Name() const {
    constexpr std::array<char, 3> kAxisNames = {'x', 'y', 'z'};
    const char* const plane = plane_ == Plane::kAxial     ? "axial"
                              : plane_ == Plane::kCoronal ? "coronal"
                                                          : "sagittal";
    return std::string(plane) + " " + kAxisNames[normal_] + "=" + std::to_string(slice_);
}

MosaicPanel::EdgeAxis MosaicPanel::AxisAt(Edge edge) const {
    switch (edge) {
        case Edge::kLeft:
            return {across_, false};
        case Edge::kRight:
            return {across_, true};
        case Edge::kTop:
            return {down_, upward_};
        case Edge::kBottom:
        default:
            return {down_, !upward_};
    }
}

std::array<int, 3> MosaicPanel::VoxelAt(int x, int y) const {
    std::array<int, 3> voxel{};
    voxel[across_] = (x - left_) / scale_;
    const int row = (y - top_) / scale_;
    voxel[down_] = upward_ ? dims_[down_] - 1 - row : row;
    voxel[normal_] = slice_;
    return voxel;
}

std::array<double, 2> MosaicPanel::Project(const std::array<double, 3>& point) const {
    // Voxel v spans [v*size, (v+1)*size), i.e. pixels [v*scale, (v+1)*scale); upward, the top
    // edge of the last voxel is the panel's top edge.
    const double across = point[across_] / voxelSize_[across_];
    const double down = point[down_] / voxelSize_[down_];
    return {left_ + across * scale_, top_ + (upward_ ? dims_[down_] - down : down) * scale_};
}

double MosaicPanel::VoxelsFromPlane(const std::array<double, 3>& point) const {
    return std::fabs(point[normal_] / voxelSize_[normal_] - (slice_ + 0.5));
}
