#pragma once
// The track file as the tracker writes it: the header once, then each track as soon as it is
// made, so that memory holds one track at a time. The output's ending chooses the format: .trk
// is written here as it always has been; .tck and .trx go through their writers.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "OwnedHandles.h"
#include "TRACK_HEADER.h"
#include "TrackSink.h"

class TrackStream {
  public:
    TrackStream() = default;
    TrackStream(const TrackStream&) = delete;
    TrackStream& operator=(const TrackStream&) = delete;

    // Creates (truncates) the file. False when it cannot be created.
    bool Create(const std::string& path);
    // Each returns false when not every byte reached the file.
    bool WriteHeader(const TRACK_HEADER& header);
    // One record: the point count, then x, y, z of each point.
    bool WriteTrack(const std::vector<float>& points, int pointCount);
    // The same from pointCount * 3 floats.
    bool WriteTrack(const float* points, int pointCount);
    // False when buffered data could not be written out or the file not closed.
    bool Close();

    int TracksWritten() const { return tracksWritten_; }
    // Why the .tck or .trx writer failed.
    const std::string& LastError() const { return error_; }

  private:

    // Declared before the file so that it outlives the stream that uses it as its buffer.
    std::vector<char> buffer_;
    OwnedFile file_;
    std::string path_;
    std::unique_ptr<TrackSink> sink_;  // for .tck and .trx
    std::string error_;
    int tracksWritten_ = 0;
};
