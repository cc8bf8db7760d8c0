#pragma once
// A raw diffusion acquisition read into memory: the volume (a 4D file or a numbered series) is
// opened, its orientation settled from the header, an .info file or the switches, its gradients
// loaded into the fit, and one volume per gradient row read (repetitions averaged).
//
// Each step goes on (kGoOn) or stops with the exit status to end with, after handing its message
// to the program's RunMessages. Nothing is written.

#include <nifti1_io.h>

#include <string>
#include <vector>

#include "AcquisitionSettings.h"
#include "DTIReconstructor.h"
#include "DefaultInitAllocator.h"
#include "EncodingScheme.h"
#include "ImageInfoParser.h"
#include "NiftiIO.h"
#include "RunMessages.h"
#include "RunStep.h"

class DiffusionAcquisition {
  public:
    DiffusionAcquisition(const AcquisitionSettings& settings, RunMessages& messages);

    RunStep OpenRawData();
    RunStep SettleOrientation();
    RunStep LoadGradientTable();
    RunStep ReadRawVolumes();

    const nifti_1_header& Header() const { return header_; }
    const float* Orientation() const { return orientation_; }
    int SliceOrder() const { return sliceOrder_; }
    size_t Voxels() const { return voxels_; }
    size_t Rows() const { return rows_; }

    // The raw volumes are held slab by slab (a slab is one slice of voxels, with every row of
    // them, one slab after the other in one buffer), so that the fit can give each slab's memory
    // back once its voxels are done: the maps then grow into the memory the raw data leaves, and
    // the peak stays near the raw data alone.
    size_t SlabVoxels() const { return slabVoxels_; }
    size_t Slabs() const { return (voxels_ + slabVoxels_ - 1) / slabVoxels_; }
    // Voxels in slab s (the last may be shorter).
    size_t VoxelsInSlab(size_t s) const;
    // Slab s: row i of its voxels at [i * VoxelsInSlab(s), (i + 1) * VoxelsInSlab(s)).
    const short* Slab(size_t s) const { return slabs_.data() + s * slabVoxels_ * rows_; }
    // The signal of voxel p in row i.
    short Value(size_t row, size_t p) const;
    // Frees every slab whose voxels all lie below voxel.
    void ReleaseSlabsBefore(size_t voxel);
    // Frees the raw volumes once they have been fitted.
    void ReleaseRawVolumes() { slabs_ = UninitializedVector<short>(); }
    const DTIReconstructor& Reconstructor() const { return reconstructor_; }
    // The gradients as the input gives them, before any turn into the image frame (for the
    // FSL/BIDS files, with x as written).
    const EncodingScheme& InputScheme() const { return inputScheme_; }
    // True when the gradients came from .bvec/.bval files whose x the header says is negated.
    bool FslFilesNegateX() const { return NiftiIO::VoxelToWorldHandedness(header_) >= 0; }
    // True when LoadGradientTable stopped because the directions do not determine a tensor
    // (gradcheck then has nothing to check).
    bool DirectionsUndetermined() const { return directionsUndetermined_; }
    // The .info file that was read (empty when none was).
    ImageInfoParser& Info() { return info_; }

  private:
    RunStep ReadVolume(int acquisition, short* volume);
    RunStep CheckOrientation() const;
    RunStep LoadFslGradients();
    RunStep LoadTableFile();
    // Keeps the rows of the shells asked for (all without -shells) and says which shells there
    // are when that matters.
    RunStep SelectShells();
    // Stops a fit whose weighted directions cannot determine a tensor; source names the file.
    RunStep CheckDeterminacy(const std::string& source);
    // Consecutive files of the numbered series from the start number on.
    int CountSeriesVolumes() const;

    const AcquisitionSettings& settings_;
    RunMessages& messages_;
    nifti_1_header header_{};
    NiftiIO raw_;
    bool fourD_ = false;
    int inputVolumes_ = 0;
    std::string infoBaseName_;
    std::string seriesPrefix_;
    std::string seriesEnding_;
    size_t voxels_ = 0;
    float orientation_[6] = {1, 0, 0, 0, 1, 0};
    int sliceOrder_ = 1;
    ImageInfoParser info_;
    DTIReconstructor reconstructor_;
    EncodingScheme inputScheme_;
    size_t rows_ = 0;                        // b0 count + direction count
    size_t fullRows_ = 0;                    // rows of the gradients as given
    std::vector<size_t> volumeOfRow_;        // the given row (volume) each fitted row reads
    size_t slabVoxels_ = 1;
    UninitializedVector<short> slabs_;  // every slab, one after the other
    size_t releasedBytes_ = 0;          // slabs_'s first bytes already given back
    bool directionsUndetermined_ = false;
};
