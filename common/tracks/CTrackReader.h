#pragma once
// Reads track files of either byte order, and headerless legacy files, record by record.

#include <cstdint>

#include "CTrackIO.h"

class CTrackReader : public CTrackIO {
  public:
    CTrackReader() = default;

    using CTrackIO::GetHeader;

    // Opens a track file; header (when not null) receives the normalised header (native byte
    // order, voxel order "LPS" when empty, default orientation when missing), also on failure
    // after the header was read. Leaves the file at its first record.
    bool Open(const char* path, TRACK_HEADER* header = nullptr);
    // Open(path), then copies dim and voxel_size of the current header whatever the result.
    bool Open(const char* path, int* dim, float* voxel_size);

    // Reads the header of a track file with a temporary reader; returns the result of Open.
    static bool GetHeader(const char* path, TRACK_HEADER* header);

    // The header's track_count, or (when it is 0) the number of records found by walking the
    // file, which is then cached. The read position is kept.
    bool GetNumberOfTracks(int* count);
    int GetNumberOfTracks();

    // Reads the next record's point count. End of file or a short read: kCanNotRead.
    bool GetNextPointCount(int* n);
    // Reads the rest of the record of n points as n * (3 + scalar_count) + property_count floats
    // in file order with one block read. buffer must hold that many.
    bool GetNextRawData(int n, float* buffer);
    // Reads the rest of the record split into 3n coordinates, n * scalar_count scalars and
    // property_count properties. A null scalars or properties skips those values.
    bool GetNextTrackData(int n, float* points, float* scalars, float* properties);

    // Whole percent of the file consumed; 0 without an open file.
    int GetProgress() const;
    // Bytes between the read position and the end of the file; 0 without an open file. Lets a
    // caller tell a clean end of the records from a damaged one.
    std::int64_t GetRemainingBytes() const;
    // Size in bytes of the open file, taken when it was opened.
    std::int64_t GetFileSize() const { return m_fileSize; }

  private:
    bool CanReadRecord(int n);

    // Reads count floats, swapping each when the file is foreign; false on a short read.
    bool ReadFloats(float* buffer, std::size_t count);

    // Moves past count floats; false when that passes the end of the file.
    bool SkipFloats(std::size_t count);

    std::int64_t m_fileSize = 0;
};
