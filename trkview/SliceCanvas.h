#pragma once
// An RGB picture of one axial slice, enlarged by an integer factor, on which track polylines
// are drawn.

#include <array>
#include <cstdint>
#include <vector>

class SliceCanvas {
  public:
    using Colour = std::array<std::uint8_t, 3>;

    // rgb holds width * height voxels (x fastest); each becomes a scale x scale block.
    SliceCanvas(int width, int height, int scale, const std::vector<std::uint8_t>& rgb);

    int width() const { return width_; }
    int height() const { return height_; }
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

    // Draws a straight line between two points given in pixel units (continuous: pixel (u, v)
    // covers [u, u+1) x [v, v+1)), blending the colour with weight alpha.
    void DrawSegment(double u0, double v0, double u1, double v1, const Colour& colour,
                     double alpha);

  private:
    void Blend(int u, int v, const Colour& colour, double alpha);

    int width_;
    int height_;
    std::vector<std::uint8_t> pixels_;
};
