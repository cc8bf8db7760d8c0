#pragma once
// One panel of the quality-control mosaic: a section through the volume at a slice, where it
// sits in the picture, and how points in millimetres land on it. Orientation, as the help states
// it: axial x to the right and y downward (as trkview's single slice); coronal x to the right and
// z upward; sagittal y to the right and z upward.

#include <array>
#include <string>

class MosaicPanel {
  public:
    enum class Plane { kAxial, kCoronal, kSagittal };
    enum class Edge { kLeft, kRight, kTop, kBottom };
    // The volume axis that runs across an edge of the panel, and whether its index grows toward
    // that edge.
    struct EdgeAxis {
        int axis;
        bool growing;
    };

    // scale picture pixels per voxel; (left, top) the panel's first pixel in the picture.
    MosaicPanel(Plane plane, int slice, const std::array<int, 3>& dims,
                const std::array<float, 3>& voxelSize, int scale, int left, int top);

    // Voxels across and down the panel for a volume of dims (before scaling).
    static int Columns(Plane plane, const std::array<int, 3>& dims);
    static int Rows(Plane plane, const std::array<int, 3>& dims);

    Plane plane() const { return plane_; }
    // Voxel index along the axis normal to the panel.
    int slice() const { return slice_; }
    int left() const { return left_; }
    int top() const { return top_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool Contains(int x, int y) const {
        return x >= left_ && y >= top_ && x < left_ + width_ && y < top_ + height_;
    }

    // The plane and the slice, as "axial z=10".
    std::string Name() const;
    EdgeAxis AxisAt(Edge edge) const;

    // The voxel (i, j, k) a picture pixel inside the panel shows.
    std::array<int, 3> VoxelAt(int x, int y) const;
    // Picture coordinates of a point in millimetres projected onto the panel, continuous: pixel
    // (x, y) covers [x, x+1) x [y, y+1).
    std::array<double, 2> Project(const std::array<double, 3>& point) const;
    // Distance in voxels of a point in millimetres from the centre of the slice, along the axis
    // normal to the panel.
    double VoxelsFromPlane(const std::array<double, 3>& point) const;

  private:
    Plane plane_;
    int slice_;
    int across_;   // volume axis running to the right
    int down_;     // volume axis running down (or up, when upward_)
    int normal_;   // volume axis normal to the panel
    bool upward_;  // the down_ axis grows toward the top of the panel
    std::array<int, 3> dims_;
    std::array<float, 3> voxelSize_;
    int scale_;
    int left_;
    int top_;
    int width_;
    int height_;
};
