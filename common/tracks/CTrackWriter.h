#pragma once
// Writes track files in native byte order, record by record; Close stores the final count.

#include "CTrackIO.h"

class CTrackWriter : public CTrackIO {
  public:
    CTrackWriter() = default;
    // Closes an open file without rewriting the header: the stored count stays as written by
    // Initialize or the last UpdateHeader.
    ~CTrackWriter() override = default;

    // Creates (truncates) the file and writes header (swapped into native order first when it
    // is foreign) with version 2 and header_size 1000, keeping the caller's track_count on
    // disk. The running count then starts at 0. Creation failure: kNotInitialized.
    bool Initialize(const char* path, const TRACK_HEADER& header);
    // As above with the default header carrying dim, voxel_size, origin (0, 0, 0 when null)
    // and scalar_count. The int variant narrows each dimension to 16 bits.
    bool Initialize(const char* path, const short* dim, const float* voxel_size,
                    const float* origin, short scalar_count);
    bool Initialize(const char* path, const int* dim, const float* voxel_size, const float* origin,
                    short scalar_count);

    // Appends a record whose body, n * (3 + scalar_count) + property_count floats, is in data.
    bool WriteNextTrack(int n, const float* data);
    // Appends a record built from 3n coordinates, n * scalar_count scalars (point by point) and
    // property_count properties. scalars and properties must be given when the header has any.
    bool WriteNextTrack(int n, const float* points, const float* scalars, const float* properties);

    // Replaces the current header (its track_count becomes the running count) and rewrites it
    // at the start of the open file, keeping the write position.
    bool UpdateHeader(const TRACK_HEADER& header);
    // Rewrites the header of an existing track file in that file's own byte order. Refuses
    // files without the "TRACK" magic, whose first bytes are track data. Sets no error code.
    static bool UpdateHeader(const char* path, const TRACK_HEADER& header);

    // Stores the running count in the header, then closes. Without an open file:
    // kNotInitialized and false.
    bool Close() override;

  private:
    // Writes the current header at offset 0 and returns to the write position.
    bool RewriteHeader();
    // Writes count floats; false on a short write.
    bool WriteFloats(const float* data, std::size_t count);
    bool StartRecord(int n, bool* countWritten);
    bool EndRecord(bool written);
};
