#pragma once
// Run settings of trkview, settled from its command line, with the help text and the table of
// every switch the program knows.

#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "RunStep.h"

class TrkviewSettings {
  public:
    static constexpr CMyCmdParser::SwitchEntry kSlice = {"-z", "--slice", 1};
    static constexpr CMyCmdParser::SwitchEntry kScale = {"-s", "--scale", 1};
    static constexpr CMyCmdParser::SwitchEntry kAll = {"-a", "--all", 0};
    static constexpr CMyCmdParser::SwitchEntry kHelp = {"-h", "--help", 0};
    static constexpr CMyCmdParser::SwitchEntry kMosaic = {"-mosaic", "--mosaic", 0};
    static constexpr CMyCmdParser::SwitchEntry kCaption = {"-caption", "--caption", 1};

    std::string volumeName;
    std::string trackName;
    std::string pictureName;
    int requestedSlice = -1;  // negative: the middle slice
    int scale = 4;            // picture pixels per voxel
    bool drawAll = false;     // also the tracks that miss the slice
    bool scaleGiven = false;  // -s was given (the mosaic chooses its own scale otherwise)
    bool mosaic = false;      // the axial, coronal and sagittal mosaic instead of one slice
    bool captionGiven = false;
    std::string caption;  // of the mosaic

    // Every switch with its declared value count, in the order the parser is given them.
    static const std::vector<CMyCmdParser::SwitchEntry>& Switches();

    // Checks the command line and fills settings. Returns kGoOn when the run goes on; otherwise
    // the exit status after the help or a reported error.
    static RunStep FromCommandLine(int argc, const CMyCmdParser& parser, TrkviewSettings* settings);

    static void ShowHelp();
};
