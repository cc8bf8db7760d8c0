#pragma once
// Writes 8-bit RGB pictures as PNG files through libpng.

#include <cstdint>
#include <string>
#include <vector>

class PngWriter {
  public:
    // rgb holds width * height pixels, row after row from the top. Returns false when the file
    // cannot be created or libpng reports an error.
    static bool Write(const std::string& path, int width, int height,
                      const std::vector<std::uint8_t>& rgb);
};
