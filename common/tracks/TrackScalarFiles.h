#pragma once
// The values per point that come with a .tck file: the MRtrix3 track scalar files (.tsf) beside
// it named TRACKS_NAME.tsf for TRACKS.tck, as the toolkit writes them, whose timestamp is the
// .tck file's (MRtrix3's own test that the two belong together). Files with another timestamp,
// or beside a .tck without one, are someone else's and are left alone.

#include <string>
#include <vector>

#include "TckReader.h"

class TrackScalarFiles {
  public:
    // Finds and opens the files that belong to tracks (a .tck file with the given timestamp).
    // False with the reason when one of them cannot be read or there are more than a .trk
    // record can hold.
    bool Open(const std::string& tracks, const std::string& timestamp, std::string& reason);
    // The value names, in the order of the values of a point (file names sorted).
    const std::vector<std::string>& Names() const { return names_; }
    // Reads the next track's values of every file and puts them after each point's x, y, z in
    // record (points of 3 + Names().size() values). False with the reason when a file ends early
    // or its count of values is not the track's point count.
    bool ReadInto(std::size_t points, std::vector<float>& record, std::string& reason);

  private:
    std::vector<std::string> names_;
    std::vector<TckReader> files_;
    std::vector<float> values_;
};
