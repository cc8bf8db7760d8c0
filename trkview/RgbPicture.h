#pragma once
// An 8-bit RGB picture in memory, row after row from the top, that pieces are painted into.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class RgbPicture {
  public:
    using Colour = std::array<std::uint8_t, 3>;

    RgbPicture(int width, int height, const Colour& background);

    int width() const { return width_; }
    int height() const { return height_; }
    // width() * height() RGB triples, as PngWriter takes them.
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }

    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    // The colour of a pixel inside the picture.
    Colour At(int x, int y) const;
    // Pixels outside the picture are left out, so callers may paint across its border.
    void Set(int x, int y, const Colour& colour);
    // Mixes the colour into the pixel with weight alpha (0: unchanged, 1: replaced).
    void Blend(int x, int y, const Colour& colour, double alpha);

  private:
    std::size_t Offset(int x, int y) const { return 3 * (static_cast<std::size_t>(y) * width_ + x); }

    int width_;
    int height_;
    std::vector<std::uint8_t> pixels_;
};
