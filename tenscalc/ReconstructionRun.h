#pragma once
// The second phase of tenscalc: from opening the raw data to writing every map.
//
// Each step goes on (kGoOn) or stops with the exit status to end with (its message printed). Nothing is written before WriteOutputs, so a run that stops early leaves no
// files behind.

#include <nifti1_io.h>

#include <ctime>
#include <string>
#include <vector>

#include "ConsoleMessages.h"
#include "DefaultInitAllocator.h"
#include "DiffusionAcquisition.h"
#include "RunStep.h"
#include "TenscalcSettings.h"

class ReconstructionRun {
  public:
    explicit ReconstructionRun(const TenscalcSettings& settings);

    RunStep OpenRawData();
    RunStep SettleOrientation();
    RunStep LoadGradientTable();
    RunStep ReadFitMask();
    RunStep ReadRawVolumes();
    RunStep FitVoxels();
    RunStep MaskBackground();
    RunStep WriteOutputs();

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

    void WriteGradientExport();
    // The -metrics maps, from the eigenvalues and the tensor, cleared where FA is.
    void WriteMetrics();
    // Voxels are gathered and fitted this many at a time.
    static constexpr size_t kBlock = 256;
    // What each thread of the fit works in.
    struct WorkerScratch {
        UninitializedVector<short> block;  // kBlock voxels of all rows
        std::vector<double> logs;          // the weighted fit's observations
    };
    void FitRange(size_t first, size_t end, WorkerScratch& scratch);
    // The tensor, b0, DWI and EXP of voxel p.
    void FitVoxel(size_t p, const short* signals, double* logs);
    // The tensor, eigen, FA, ADC and colour maps from the fitted tensors.
    RunStep DecomposeTensors();
    void DecomposeRange(size_t first, size_t end, const int* channel);
    bool WriteMap(const std::string& suffix, short datatype, int dims0, int dims4, int dims5,
                  int intentCode, const char* intentName, const void* data, size_t bytes);

    const TenscalcSettings& settings_;
    ConsoleMessages messages_;
    DiffusionAcquisition acquisition_;
    nifti_1_header header_{};     // the raw data's, changed for each map written
    size_t voxels_ = 0;
    size_t rows_ = 0;             // b0 count + direction count
    Maps maps_;
    UninitializedVector<float> fitted_;      // six tensor elements per voxel, in the fit's order
    std::vector<unsigned char> fitMask_;     // -mask: 1 where the fit is wanted; empty: everywhere
    std::vector<unsigned char> foreground_;  // 0 where FA and the metrics are cleared
    std::time_t start_ = 0;
    bool writeFailed_ = false;
};
