#pragma once
// Everything the reconstruction run needs from the command line, settled once.

#include <string>
#include <vector>

#include "WeightedFit.h"

struct TenscalcSettings {
    std::string rawDataName;      // resolved raw data file (a 4D volume or the first of a series)
    std::string rawDataArgument;  // the first positional argument as typed
    std::string outputPrefix;     // ends with '_' or '-'
    std::string gradientTable;    // -gm value 1; empty when the FSL/BIDS files are given
    std::string bvecFile;         // -bvec: directions in the voxel axes (FSL/BIDS)
    std::string bvalFile;         // -bval: b value of every volume
    std::string exportGradientFile;  // -export_grad: the table the fit used, for -gm
    bool tabledBValues = false;   // -gm value 2 is "1" or "true"
    double bValue = 1000.0;       // -b; values <= 0 become 1000
    int paddings = 3;             // digits of the series numbering
    int startNumber = 1;          // first number of the series
    std::string outputEnding;     // ".nii", ".nii.gz" or ".hdr"
    std::string outputMagic;      // header magic for every output; empty: keep the input's
    bool analyzeOutput = false;   // output type "analyze": also write an .info file
    int nex = 0;                  // 0: decide from the data
    int requestedB0 = 0;          // 0: b0 rows come from the gradient table
    bool obliqueCorrection = false;
    bool writeEigen = true;
    bool writeTensor = true;
    bool writeExp = true;
    bool output5d = false;
    int threads = 1;              // threads of the voxel fit
    WeightedFit::Method fitMethod = WeightedFit::Method::kOrdinary;  // -fit
    int fitExtraRounds = 0;       // iwls: rounds after the first weighted one

    // Orientation switches, checked by the run once the raw data header is known.
    bool iopPresent = false;
    std::vector<std::string> iopValues;
    bool infoPresent = false;
    std::string infoName;
    bool sagittal = false;
    bool coronal = false;
    bool axial = false;

    // -b0_th: background window given by the user (lower, optional upper).
    int b0ThresholdValues = 0;
    double b0Lower = 0.0;
    double b0Upper = 1e12;
};
