#pragma once
// Run settings of the tracking program, read once from its command line, with the help text
// and the table of every switch the program knows.
//
// Some options are only checked where the run first needs them (a mask switch without a file
// name is reported after the tensor volume has been opened), so the settings record what was
// typed, including a switch given without its value.

#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "RunStep.h"

class TrackingSettings {
  public:
    static constexpr const char* kProgramName = "fiberwalk";

    // A mask switch: the file, then optional low and high thresholds.
    struct MaskOption {
        bool given = false;
        std::string file;
        int valueCount = 0;   // 0: no file; 2: low given; 3: low and high given
        float low = 0.0f;
        float high = 0.0f;
    };

    // Orientation switches, used when the tensor header has no orientation of its own.
    struct OrientationOptions {
        bool orientationGiven = false;           // -iop
        std::vector<std::string> orientation;    // -iop values as typed (one file or six numbers)
        bool infoGiven = false;                  // -info
        bool infoHasValue = false;
        std::string infoFile;
        bool sliceOrderGiven = false;            // -sorder with a value
        long sliceOrder = 1;
        bool voxelOrderGiven = false;            // -vorder
        bool voxelOrderHasValue = false;
        std::string voxelOrder;                  // as typed
    };

    // Axis inversions and exchanges applied to every tensor before tracking.
    struct VectorFrame {
        bool invertX = false;
        bool invertY = false;
        bool invertZ = false;
        bool swapXY = false;
        bool swapYZ = false;
        bool swapZX = false;
    };

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
    int threads = 1;               // threads of the seeding loop
    bool seedGiven = false;        // -seed: the random generator's seed instead of the clock
    unsigned seed = 0;
    MaskOption trackingMask;       // -m
    MaskOption secondMask;         // -m2
    MaskOption seedMask;           // -sm
    bool angleWeightsGiven = false;
    bool angleWeightsHasValue = false;
    std::string angleWeightsFile;  // empty: no weighting
    OrientationOptions orientation;
    VectorFrame frame;


    // Checks the command line and fills settings. Goes on, or stops with the exit status after
    // the help or a reported error.
    static RunStep FromCommandLine(int argc, const CMyCmdParser& parser,
                                   TrackingSettings* settings);

  private:
    static RunStep threadsAndSeed(const CMyCmdParser& parser, TrackingSettings* settings);
};
