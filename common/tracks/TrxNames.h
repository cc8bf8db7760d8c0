#pragma once
// The names and the header text of TRX archives, shared by the writer and the reader.

#include <cstdint>
#include <string>

#include "TRACK_HEADER.h"

class TrxNames {
  public:
    static constexpr const char* kPositions = "positions.3.float32";
    static constexpr const char* kOffsets = "offsets.uint64";

    // What header.json says.
    struct Header {
        double voxelToRas[4][4] = {};
        int dimensions[3] = {0, 0, 0};
        std::uint64_t streamlines = 0;
        std::uint64_t vertices = 0;
    };

    static std::string HeaderJson(const TRACK_HEADER& header, std::uint64_t streamlines,
                                  std::uint64_t vertices);
    // False with the reason when a key is missing or not of its kind.
    static bool ParseHeader(const std::string& json, Header& header, std::string& reason);
    // A .trk value name (20 bytes, maybe without a terminator) as a member name: letters,
    // digits, '_' and '-' only; fallback_index when nothing is left.
    static std::string ValueName(const char* name, const char* fallback, std::size_t index);
};
