#pragma once
// Writes MRtrix3's track format (.tck): a text header ("mrtrix tracks", "count", "datatype:
// Float32LE", "file: . OFFSET", "END"), then every track's points as little-endian float32
// triplets in RAS millimetres, a NaN triplet after each track and an Inf triplet at the end.
// Tracks stream to the file; Close writes the end triplet and the final count into the header.

#include <cstdint>
#include <string>

#include "OwnedHandles.h"

class TckWriter {
  public:
    // Creates (truncates) the file. extraKeys: more "key: value" lines for the header.
    bool Open(const std::string& path, const std::string& extraKeys = "");
    // Appends one track of n points (x, y, z after one another, RAS millimetres).
    bool Write(int n, const float* points);
    // Ends the data and stores the count. False with the reason when anything was not written.
    bool Close();
    std::int64_t TracksWritten() const { return tracks_; }
    const std::string& LastError() const { return error_; }

  private:
    bool WriteTriplets(const float* values, std::size_t triplets);
    bool Fail(const std::string& what);

    OwnedFile file_;
    std::string path_;
    long countPosition_ = 0;  // where the count's digits stand in the header
    std::int64_t tracks_ = 0;
    std::string error_;
};
