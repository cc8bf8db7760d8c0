#pragma once
// Run settings of dwiphantom, settled from its command line, with the help text and the table
// of every switch the program knows.

#include <array>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "RunStep.h"

class PhantomSettings {
  public:
    static constexpr CMyCmdParser::SwitchEntry kSize = {"-s", "--size", 1};
    static constexpr CMyCmdParser::SwitchEntry kSeed = {"-seed", "--seed", 1};
    static constexpr CMyCmdParser::SwitchEntry kSigma = {"-sigma", "--sigma", 1};
    static constexpr CMyCmdParser::SwitchEntry kZeroBackground = {"-zb", "--zero_background", 0};
    static constexpr CMyCmdParser::SwitchEntry kLas = {"-las", "--las", 0};
    static constexpr CMyCmdParser::SwitchEntry kOblique = {"-oblique", "--oblique", 0};
    static constexpr CMyCmdParser::SwitchEntry kSlanted = {"-slanted", "--slanted", 0};
    static constexpr CMyCmdParser::SwitchEntry kIsotropic = {"-isotropic", "--isotropic", 0};
    static constexpr CMyCmdParser::SwitchEntry kHelp = {"-h", "--help", 0};
    static constexpr CMyCmdParser::SwitchEntry kBids = {"-bids", "--bids", 1};
    static constexpr CMyCmdParser::SwitchEntry kSubjects = {"-n", "--subjects", 1};

    static constexpr unsigned kDefaultSeed = 20240607u;
    static constexpr double kDefaultSigma = 20.0;
    static constexpr int kMaxSubjects = 999;

    std::string prefix;                      // every output name starts with it; no ".nii" ending
    std::array<int, 3> dims = {32, 32, 20};  // voxels along x, y and z
    unsigned seed = kDefaultSeed;            // of the noise generator
    double sigma = kDefaultSigma;            // of each noise component; 0: no noise at all
    bool zeroBackground = false;             // no noise outside the head
    // The acquisition's header declares a voxel-to-world matrix; without either it has none.
    bool las = false;        // x stored right to left: a matrix of negative determinant
    bool oblique = false;    // the voxel axes turned away from the world axes
    bool slanted = false;    // one more bundle, out of the axial plane
    bool isotropic = false;  // no bundles at all
    // With a folder, a BIDS dataset of that many subjects is written there instead of one
    // acquisition at prefix, which is then empty.
    std::string bidsFolder;
    int subjects = 1;

    // Every switch with its declared value count, in the order the parser is given them.
    static const std::vector<CMyCmdParser::SwitchEntry>& Switches();

    // Checks the command line and fills settings. Returns kGoOn when the run goes on; otherwise
    // the exit status after the help or a reported error.
    static RunStep FromCommandLine(int argc, const CMyCmdParser& parser, PhantomSettings* settings);

    static void ShowHelp();
};
