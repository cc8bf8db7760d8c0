#pragma once
// The second phase of tenscalc: from opening the raw data to writing every map.
//
// Each step goes on (kGoOn) or stops with the exit status to end with (its message printed). Nothing is written before WriteOutputs, so a run that stops early leaves no
// files behind.

#include <nifti1_io.h>

#include <ctime>
#include <string>
#include <vector>

#include "DTIReconstructor.h"
#include "DefaultInitAllocator.h"
#include "ImageInfoParser.h"
#include "NiftiIO.h"
#include "RunStep.h"
#include "TenscalcSettings.h"

class ReconstructionRun {
  public:
    explicit ReconstructionRun(const TenscalcSettings& settings);

    RunStep OpenRawData();
    RunStep SettleOrientation();
    RunStep LoadGradientTable();
    RunStep ReadRawVolumes();
    RunStep FitVoxels();
    RunStep MaskBackground();
    RunStep WriteOutputs();

    // The window of b0 values outside which a voxel counts as background: automatic, or the
    // -b0_th values.
    static void BackgroundWindow(const short* b0, size_t v, const TenscalcSettings& settings,
                                 double* lower, double* upper);

    // What the steps up to ReadRawVolumes settled, for programs that fit the same data in
    // other ways.
    const nifti_1_header& Header() const { return header_; }
    const float* Orientation() const { return orientation_; }
    size_t Voxels() const { return voxels_; }
    size_t Rows() const { return rows_; }
    // Row i of all voxels at [i * Voxels(), (i + 1) * Voxels()).
    const short* RawVolumes() const { return rawVolumes_.data(); }
    const DTIReconstructor& Reconstructor() const { return reconstructor_; }
    // True when the gradients came from .bvec/.bval files whose x the header says is negated.
    bool FslFilesNegateX() const { return NiftiIO::VoxelToWorldHandedness(header_) >= 0; }

  private:
    // The maps of every voxel, in file order (x fastest).
    // Every map is written in full by the fit, so none is zero-filled first.
    struct Maps {  // NOLINT(bugprone-reserved-identifier): names the compiler makes for the arrays
        UninitializedVector<short> b0, dwi;
        UninitializedVector<float> fa, adc, exp;
        UninitializedVector<unsigned char> color;  // red, green, blue per voxel
        UninitializedVector<float> tensor;         // six planes (xx, xy, yy, xz, yz, zz)
        UninitializedVector<float> eigenvalues[3];
        UninitializedVector<float> eigenvectors[3];  // three planes (x, y, z) each
    };

    RunStep ReadVolume(int acquisition, short* volume);
    RunStep CheckOrientation() const;
    RunStep LoadFslGradients();
    // Consecutive files of the numbered series from the start number on.
    int CountSeriesVolumes() const;
    void WriteGradientExport();
    // Voxels are gathered and fitted this many at a time.
    static constexpr size_t kBlock = 256;
    // What each thread of the fit works in.
    struct WorkerScratch {
        UninitializedVector<short> block;  // kBlock voxels of all rows
        std::vector<double> logs;          // the weighted fit's observations
    };
    void FitRange(size_t first, size_t end, WorkerScratch& scratch, const int* channel);
    void FitVoxel(size_t p, const short* signals, double* logs, const int* channel);
    bool WriteMap(const std::string& suffix, short datatype, int dims0, int dims4, int dims5,
                  int intentCode, const char* intentName, const void* data, size_t bytes);
    int UsageError(const std::string& message) const;

    const TenscalcSettings& settings_;
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
    size_t rows_ = 0;             // b0 count + direction count
    UninitializedVector<short> rawVolumes_;  // one volume of all voxels per table row
    Maps maps_;
    std::time_t start_ = 0;
    bool writeFailed_ = false;
};
