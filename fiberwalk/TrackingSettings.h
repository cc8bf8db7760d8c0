#pragma once
// Run settings of the tracking program, settled from its command line, with the help text and
// the table of every switch the program knows.

#include <optional>
#include <string>
#include <vector>

#include "CMyCmdParser.h"

class TrackingSettings {
  public:
    std::string inputPrefix;
    std::string outputFile;
    std::string inputSuffix;       // ".nii", ".hdr" or ".nii.gz"
    std::string tensorFile;        // where the reconstruction wrote the tensor for this prefix
    std::string defaultInfoFile;   // the .info file looked for when none is named
    std::string outputMaskFile;    // empty: no output mask
    int methodCode = 0;            // a CTrack method code
    float stepLength = 0.05f;      // in units of the smallest voxel size
    float angleThreshold = 35.0f;  // degrees
    int eigenvectorIndex = 0;      // 0 principal, 1 second, 2 third
    bool randomSeeding = false;
    int seedsPerVoxel = 1;

    // Every switch with its declared value count, in the order the parser is given them.
    static const std::vector<CMyCmdParser::SwitchSpec>& Switches();

    // Checks the command line and fills settings. Returns no value when the run goes on;
    // otherwise the exit status after the help or a reported error.
    static std::optional<int> FromCommandLine(int argc, const CMyCmdParser& parser,
                                              TrackingSettings* settings);

    static void ShowHelp();
};
