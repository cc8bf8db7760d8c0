#pragma once
// Writes MRtrix3's track format (.tck): a text header ("mrtrix tracks", "count", "datatype:
// Float32LE", "file: . OFFSET", "END"), then every track's points as little-endian float32
// triplets in RAS millimetres, a NaN triplet after each track and an Inf triplet at the end.
// Tracks stream to the file; Close writes the end triplet and the final count into the header.
// The same writer makes MRtrix3's track scalar files (.tsf, "mrtrix track scalars"): one value
// per point, a NaN after each track, an Inf at the end.

#include <cstdint>
#include <string>

#include "BufferedFile.h"

class TckWriter {
  public:
    // Creates (truncates) the file. extraKeys: more "key: value" lines for the header.
    bool Open(const std::string& path, const std::string& extraKeys = "");
    // The same for a .tsf file of one value per point.
    bool OpenScalars(const std::string& path, const std::string& extraKeys = "");
    // Appends one track of n points (x, y, z after one another, RAS millimetres; for a .tsf, n
    // values).
    bool Write(int n, const float* points);
    // Ends the data and stores the count. False with the reason when anything was not written.
    bool Close();
    std::int64_t TracksWritten() const { return tracks_; }
    const std::string& LastError() const { return error_; }

  private:
    bool OpenFile(const std::string& path, const std::string& kind, const std::string& extraKeys);
    bool WritePoints(const float* values, std::size_t points);
    bool Fail(const std::string& what);

    BufferedFile file_;
    std::string path_;
    long countPosition_ = 0;  // where the count's digits stand in the header
    std::int64_t tracks_ = 0;
    std::size_t width_ = 3;  // values per point: 3 for tracks, 1 for scalars
    std::string error_;
};
