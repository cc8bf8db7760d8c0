#pragma once
// How a raw diffusion acquisition is found and read: the data, its gradients, its orientation
// and how its signals are fitted. Settled from the command line by the programs that read
// acquisitions (tenscalc, gradcheck).

#include <string>
#include <vector>

#include "WeightedFit.h"

struct AcquisitionSettings {
    std::string rawDataName;      // resolved raw data file (a 4D volume or the first of a series)
    std::string rawDataArgument;  // the first positional argument as typed
    std::string gradientTable;    // -gm value 1; empty when the FSL/BIDS files are given
    std::string bvecFile;         // -bvec: directions in the voxel axes (FSL/BIDS)
    std::string bvalFile;         // -bval: b value of every volume
    bool tabledBValues = false;   // -gm value 2 is "1" or "true"
    double bValue = 1000.0;       // -b; values <= 0 become 1000
    int paddings = 3;             // digits of the series numbering
    int startNumber = 1;          // first number of the series
    int nex = 0;                  // 0: decide from the data
    int requestedB0 = 0;          // 0: b0 rows come from the gradient table
    bool obliqueCorrection = false;
    int threads = 1;              // threads of the voxel fit
    WeightedFit::Method fitMethod = WeightedFit::Method::kOrdinary;  // -fit
    int fitExtraRounds = 0;       // iwls: rounds after the first weighted one
    double b0Threshold = 50.0;    // -bzero: .bval values at or below it mark b0 volumes
    std::vector<double> shells;   // -shells: b values of the shells to fit; empty: every volume
    double shellsUpTo = -1.0;     // -bmax: fit the shells up to this b value; negative: all

    // Orientation switches, checked once the raw data header is known.
    bool iopPresent = false;
    std::vector<std::string> iopValues;
    bool infoPresent = false;
    std::string infoName;
    bool sagittal = false;
    bool coronal = false;
    bool axial = false;
};
