#pragma once
// trkconvert's command line: the input and output track files and the reference image that
// gives a .tck file its grid.

#include <string>

#include "CMyCmdParser.h"
#include "CommandOption.h"
#include "OptionTable.h"
#include "RunStep.h"

class ConvertSettings {
  public:
    static constexpr const char* kProgramName = "trkconvert";
    static constexpr CommandOption kReference = CommandOption::Checked(
        "-ref", "--reference", CommandOption::Value::Text(),
        "  -ref, --reference <image>\n"
        "          a NIfTI image on the tracks' grid (the FA map of the run, for example):\n"
        "          its dimensions, voxel sizes, voxel-to-world matrix and voxel order make the\n"
        "          .trk header of tracks read from a .tck file, which has no grid\n");

    std::string input;
    std::string output;
    std::string reference;  // empty: none given

    static const OptionTable& Options();
    static RunStep FromCommandLine(int argc, const char* const* argv, ConvertSettings* settings);
};
