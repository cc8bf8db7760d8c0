#pragma once
// Everything the reconstruction run needs from the command line, settled once: how the
// acquisition is read, and what is written.

#include <string>
#include <vector>

#include "AcquisitionSettings.h"

struct TenscalcSettings : AcquisitionSettings {
    std::string outputPrefix;     // ends with '_' or '-'
    std::string exportGradientFile;  // -export_grad: the table the fit used, for -gm
    std::string outputEnding;     // ".nii", ".nii.gz" or ".hdr"
    std::string outputMagic;      // header magic for every output; empty: keep the input's
    bool analyzeOutput = false;   // output type "analyze": also write an .info file
    bool writeEigen = true;
    bool writeTensor = true;
    bool writeExp = true;
    bool output5d = false;

    std::string maskFile;             // -mask: fit only where it is non-zero
    std::vector<std::string> metrics;  // -metrics: ad, rd, mode, cl, cp, cs, in that order

    // -b0_th: background window given by the user (lower, optional upper).
    int b0ThresholdValues = 0;
    double b0Lower = 0.0;
    double b0Upper = 1e12;
};
