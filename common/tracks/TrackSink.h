#pragma once
// Tracks written to any of the formats the toolkit knows, by the file's ending (.trk, .tck,
// .trx), each track given as a .trk record in the header's voxel millimetres. A format that
// cannot hold what the header describes (values per point or per track in a .tck file) is
// refused when the file is created.

#include <memory>
#include <string>

#include "TRACK_HEADER.h"

class TrackSink {
  public:
    virtual ~TrackSink() = default;

    // Null with the reason when the file cannot be created for these tracks.
    static std::unique_ptr<TrackSink> Create(const std::string& path, const TRACK_HEADER& header,
                                             std::string& reason);
    // n points of 3 + scalar_count values, then property_count values.
    virtual bool Write(int n, const float* values) = 0;
    // Finishes the file. False with the reason.
    virtual bool Close(std::string& reason) = 0;
};
