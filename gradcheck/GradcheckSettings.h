#pragma once
// gradcheck's command line: the raw data and its gradients as tenscalc takes them, the white-
// matter mask, the threads and the file for the corrected table.

#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "RunStep.h"
#include "AcquisitionSettings.h"
#include "OptionTable.h"

class GradcheckSettings {
  public:
    static constexpr const char* kProgramName = "gradcheck";
    // FA at or above this marks white matter when no mask is given.
    static constexpr float kDefaultFaThreshold = 0.3f;

    AcquisitionSettings data;    // how the raw data and its gradients are read
    std::string maskFile;        // -m: empty for FA >= 0.3
    int maskValues = 0;          // values given with -m (2: low, 3: low and high)
    float maskLow = 0.0f;
    float maskHigh = 0.0f;
    std::string exportFile;      // -export: the corrected table

    // Every option in the order of the help.
    static const OptionTable& Options();
    static RunStep FromCommandLine(int argc, const char* const* argv, GradcheckSettings* settings);
};
