#pragma once
// Reads MRtrix3's track format (.tck) track by track, as other writers leave it: keys in any
// order with extra ones, a count with padding, Float32 of either byte order, and no end triplet
// after the last track when the count says all tracks were read. Every size is checked against
// the file before anything is allocated from it.

#include <cstdint>
#include <string>
#include <vector>

#include "OwnedHandles.h"

class TckReader {
  public:
    enum class Outcome { kTrack, kEnd, kDamaged };

    // False with the reason (LastError) when the file is not a .tck file this can read.
    bool Open(const std::string& path);
    // The same for a .tsf file ("mrtrix track scalars"): Next gives one value per point.
    bool OpenScalars(const std::string& path);
    // The next track's points (x, y, z, RAS millimetres) in points.
    Outcome Next(std::vector<float>& points);
    // The header's count, or -1 when it has none.
    std::int64_t DeclaredCount() const { return declaredCount_; }
    std::int64_t TracksRead() const { return tracksRead_; }
    const std::string& LastError() const { return error_; }
    // The header's timestamp as written (empty without one): a .tsf belongs to the .tck with
    // the same.
    const std::string& Timestamp() const { return timestamp_; }

  private:
    Outcome Damaged(const std::string& why);
    bool OpenAs(const std::string& path, const std::string& kind, int width);
    // The next point's width_ values.
    bool ReadPoint(float point[3], bool* atEnd);
    bool Refill();

    OwnedFile file_;
    std::string path_;
    bool bigEndian_ = false;
    int width_ = 3;  // values per point: 3 in a track file, 1 in a scalar file
    std::string timestamp_;
    std::int64_t declaredCount_ = -1;
    std::int64_t tracksRead_ = 0;
    std::int64_t remaining_ = 0;  // bytes of data not yet taken as points
    std::vector<unsigned char> buffer_;
    std::size_t position_ = 0;  // next byte of buffer_ to take
    std::size_t buffered_ = 0;  // bytes read into buffer_
    bool ended_ = false;
    std::string error_;
};
