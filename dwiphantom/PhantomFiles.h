#pragma once
// Writes the phantom's files: NIfTI-1 volumes through nifticlib, the image information file
// and plain text files.

#include <nifti1_io.h>

#include <optional>
#include <string>
#include <vector>

#include "PhantomModel.h"

class PhantomFiles {
  public:
    // dims holds dim[1..]; the voxel data is in file order, of the NIfTI datatype given.
    // Without voxelToWorld the header carries no orientation (qform and sform codes 0);
    // with it, both forms declare that matrix. A path ending in ".gz" is written compressed.
    // reason (may be null) says why a volume was not written, where that is known.
    static bool WriteVolume(const std::string& path, const std::vector<int>& dims, int datatype,
                            float voxelSize, const std::string& description, const void* data,
                            size_t bytes, const std::optional<mat44>& voxelToWorld,
                            std::string* reason = nullptr);
    // Image information file for the default axial orientation and normal slice order.
    static bool WriteAxialInfo(const std::string& path);
    // The bundle centre-lines as a track file of the phantom's geometry, one track per bundle.
    static bool WriteBundleTracks(const std::string& path, const PhantomModel& model);
    static bool WriteText(const std::string& path, const std::string& text);
};
