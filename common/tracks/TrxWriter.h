#pragma once
// Writes TRX, the community tractogram format: one zip archive (stored, not compressed, so that
// readers can map its arrays) holding header.json (VOXEL_TO_RASMM, DIMENSIONS, NB_STREAMLINES,
// NB_VERTICES), positions.3.float32 (every point in RAS millimetres, little-endian),
// offsets.uint64 (where each track starts, one per track), and values per point and per
// track as dpv/NAME.float32 and dps/NAME.float32. Tracks stream into temporary files; Close
// builds the archive, so memory does not grow with the track count.

#include <cstdint>
#include <string>
#include <vector>

#include "BufferedFile.h"
#include "TRACK_HEADER.h"

class TrxWriter {
  public:
    // header gives the grid (voxel_to_ras, dim) and the names and counts of the values per
    // point (scalars) and per track (properties).
    bool Open(const std::string& path, const TRACK_HEADER& header);
    // One track: n points (RAS millimetres), n * scalar_count scalars point by point, and
    // property_count properties.
    bool Write(int n, const float* points, const float* scalars, const float* properties);
    bool Close();
    const std::string& LastError() const { return error_; }

  private:
    bool Fail(const std::string& what);
    bool Append(std::FILE* file, const void* data, std::size_t bytes);

    std::string path_;
    TRACK_HEADER header_{};
    BufferedFile positions_;
    BufferedFile offsets_;
    std::vector<BufferedFile> scalars_;
    std::vector<BufferedFile> properties_;
    std::uint64_t vertices_ = 0;
    std::uint64_t tracks_ = 0;
    std::string error_;
};
