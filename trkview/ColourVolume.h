#pragma once
// The first volume of an image file as one 8-bit RGB colour per voxel, read through nifticlib:
// colour maps (RGB24) keep their colours, scalar maps become grey levels scaled to the volume's
// maximum, so that sections through it in any direction can be drawn. Its orientation comes
// from the header's sform, else its qform, when it has one.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "AxisLetters.h"
#include "RgbPicture.h"

class ColourVolume {
  public:
    // On failure returns false and sets the message.
    bool Load(const std::string& path, std::string* message);

    // Voxels along x, y, z.
    const std::array<int, 3>& dims() const { return dims_; }
    // Voxel size in millimetres, x, y, z.
    const std::array<float, 3>& voxelSize() const { return voxelSize_; }
    // True for colour maps, false for grey levels made from a scalar map.
    bool colour() const { return colour_; }
    // The colour of voxel (i, j, k), which must lie inside the volume.
    RgbPicture::Colour At(int i, int j, int k) const;
    // The grey level of voxel (i, j, k): a scalar map's own, and a colour map's length, which
    // for a colour FA map (FA times the principal direction's size along x, y and z) is
    // FA * 255.
    std::uint8_t Grey(int i, int j, int k) const;
    // Unknown when the header has neither sform nor qform.
    const AxisLetters& letters() const { return letters_; }

  private:
    std::array<int, 3> dims_ = {0, 0, 0};
    std::array<float, 3> voxelSize_ = {1.0f, 1.0f, 1.0f};
    bool colour_ = false;
    AxisLetters letters_;
    std::vector<std::uint8_t> rgb_;  // x fastest, then y, then z
};
