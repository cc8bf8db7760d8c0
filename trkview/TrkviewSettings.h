#pragma once
// Run settings of trkview, settled from its command line, with the help text and the table of
// every switch the program knows.

#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "CommandOption.h"
#include "OptionTable.h"
#include "RunStep.h"

class TrkviewSettings {
  public:
    static constexpr int kLargestScale = 64;
    static constexpr CommandOption kSlice = CommandOption::Checked(
        "-z", "--slice", CommandOption::Value::Integer(0, CommandOption::kUnbounded),
        "  -z, --slice <number>\n"
        "          slice index, starting at 0. default is the middle slice\n");
    static constexpr CommandOption kScale = CommandOption::Checked(
        "-s", "--scale", CommandOption::Value::Integer(1, kLargestScale),
        "  -s, --scale <number>\n"
        "          picture pixels per voxel (nearest neighbour). default is 4\n");
    static constexpr CommandOption kAll = CommandOption::Flag(
        "-a", "--all",
        "  -a, --all\n"
        "          draw every track, not only the tracks that pass through the slice\n");
    static constexpr CommandOption kMosaic = CommandOption::Flag(
        "-mosaic", "--mosaic",
        "  -mosaic, --mosaic\n"
        "          draw a quality-control mosaic instead: the axial, coronal and sagittal\n"
        "          slices through the middle of the volume side by side (axial: x to the\n"
        "          right, y downward; coronal: x to the right, z upward; sagittal: y to the\n"
        "          right, z upward), each named above (\"axial z=10\") and lettered at its\n"
        "          edges with the patient directions R/L, A/P, S/I (from the volume's\n"
        "          sform, else its qform, else the track file's voxel order). the map is\n"
        "          grey (a colour FA map by the length of its colours: its FA), under the\n"
        "          track segments within one voxel of each slice as thin lines coloured by\n"
        "          direction (x red, y green, z blue) that add up to brighter colour where\n"
        "          tracks crowd, so that bundles running the wrong way show. a caption\n"
        "          below. -z chooses the axial slice, -a draws every segment on every\n"
        "          panel; without -s each panel is at least 512 pixels wide\n");
    static constexpr CommandOption kCaption = CommandOption::Checked(
        "-caption", "--caption", CommandOption::Value::Text(),
        "  -caption, --caption <text>\n"
        "          one line of text under the mosaic. default is the volume's file name\n");

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

    // Every option in the order of the help.
    static const OptionTable& Options();

    // Checks the command line and fills settings. Returns kGoOn when the run goes on; otherwise
    // the exit status after the help or a reported error.
    static RunStep FromCommandLine(int argc, const CMyCmdParser& parser, TrkviewSettings* settings);
};
