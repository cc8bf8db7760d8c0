#pragma once
// Tracks read from any of the formats the toolkit knows, by the file's ending: .trk, MRtrix3's
// .tck, and TRX (.trx). Every track comes as a .trk record does: each point's x, y, z in the
// grid's voxel millimetres followed by its values, then the track's values; Header() gives that
// grid with the names and counts of the values. A .tck file has no grid: the grid comes from a
// reference image (a NIfTI image on the tracks' grid), without which its points are taken as
// millimetres of a 1 mm grid.

#include <memory>
#include <string>
#include <vector>

#include "TRACK_HEADER.h"

class TrackSource {
  public:
    enum class Outcome { kTrack, kEnd, kDamaged };
    enum class Format { kTrk, kTck, kTrx };

    virtual ~TrackSource() = default;

    // The format a file name's ending names (.tck, .trx; anything else is .trk).
    static Format FormatOf(const std::string& name);
    // Opens the file; reference may be empty. Null with the reason when it cannot be read.
    static std::unique_ptr<TrackSource> Open(const std::string& path,
                                             const std::string& reference, std::string& reason);
    // The .trk header of the grid of a NIfTI image, as the tracker makes it for its tensor.
    static bool HeaderOfImage(const std::string& image, TRACK_HEADER& header, std::string& reason);

    const TRACK_HEADER& Header() const { return header_; }
    // True when the grid is known (always for .trk and TRX; for .tck with a reference).
    bool HasGrid() const { return hasGrid_; }
    virtual Outcome Next() = 0;
    // As Next, with the record appended to records instead of held in Values() (a reader that
    // can read straight into it saves a copy of every point).
    virtual Outcome AppendNext(std::vector<float>& records);
    int PointCount() const { return pointCount_; }
    // The record of the last kTrack, in .trk layout.
    const std::vector<float>& Values() const { return values_; }
    // x, y, z of point i of that record.
    const float* Point(int i) const {
        return values_.data() + static_cast<std::size_t>(i) * (3 + static_cast<std::size_t>(header_.scalar_count));
    }
    // Tracks read whole so far: a damaged track is number TracksRead() + 1.
    int TracksRead() const { return tracksRead_; }
    // Why the last Next gave kDamaged (without the file's name).
    const std::string& Failure() const { return failure_; }

  protected:
    TRACK_HEADER header_ = TRACK_HEADER::MakeDefault();
    bool hasGrid_ = true;
    int pointCount_ = 0;
    int tracksRead_ = 0;
    std::vector<float> values_;
    std::string failure_;
};
