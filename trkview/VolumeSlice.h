#pragma once
// One axial slice of a volume as 8-bit RGB, read through nifticlib: colour maps (RGB24) keep
// their colours, scalar maps become grey levels scaled to the volume's maximum.

#include <cstdint>
#include <string>
#include <vector>

class VolumeSlice {
  public:
    // Reads slice k (negative: the middle slice) of the first volume of the file. On failure
    // returns false and sets the message.
    bool Load(const std::string& path, int k, std::string* message);

    int width() const { return dims_[0]; }
    int height() const { return dims_[1]; }
    int depth() const { return dims_[2]; }
    int slice() const { return slice_; }
    // True for colour maps, false for grey levels made from a scalar map.
    bool colour() const { return colour_; }
    // Voxel size in millimetres, x, y, z.
    const float* voxelSize() const { return voxelSize_; }
    // width() * height() RGB triples, x fastest.
    const std::vector<std::uint8_t>& rgb() const { return rgb_; }

  private:
    int dims_[3] = {0, 0, 0};
    float voxelSize_[3] = {1.0f, 1.0f, 1.0f};
    int slice_ = 0;
    bool colour_ = false;
    std::vector<std::uint8_t> rgb_;
};
