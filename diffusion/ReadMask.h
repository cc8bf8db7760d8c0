#pragma once
// Reading a 0/1 mask volume that must cover the same voxel grid as the tensor volume.

#include <string>
#include <vector>

// Fills destination (resized to the tensor's voxel count) with 1 where thresholds[0] <= value
// <= thresholds[1] and 0 elsewhere. The mask's three dimensions and its total voxel count must
// equal the tensor's; voxel sizes may differ (they are only shown on a mismatch). False when the
// file cannot be read or does not fit the tensor's grid: notice then holds the message the
// tracking program prints on standard output, and reason (may be null) the volume library's
// reason when the file cannot be read.
bool ReadMask(const std::string& file, const float thresholds[2], const int dims[3],
              std::vector<short>& destination, std::string* reason, std::string* notice);
