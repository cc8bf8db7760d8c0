#pragma once
// The options of every program that reads a raw acquisition (tenscalc, gradcheck), declared
// once: where the gradients come from, how the b0 rows and b values are settled, how a numbered
// series is found and the oblique correction. The readers fill AcquisitionSettings the same way
// for each program.

#include "AcquisitionSettings.h"
#include "CMyCmdParser.h"
#include "CommandOption.h"
#include "RunMessages.h"
#include "RunStep.h"

class AcquisitionOptions {
  public:
    static constexpr CommandOption kGradientMatrix = CommandOption::AsTyped(
        "-gm", "--gradient_matrix", 2,
        "  -gm, --gradient_matrix <filename> <MultiBvalue>\n"
        "          specify gradient matrix to use. required. if 'MultiBvalue' is 'true' \n"
        "          or 1, it will either use the bvalues specified as the 4th component \n"
        "          of each gradient vector, or use max b value scaled by the magnitude\n"
        "          of the vector\n");
    static constexpr CommandOption kNumberOfB0 = CommandOption::AsTyped(
        "-b0", "--number_of_b0", 1,
        "  -b0, --number_of_b0 <number>\n"
        "          number of repeated b0 images on top. default is 1. the program \n"
        "          assumes b0 images are on top\n");
    static constexpr CommandOption kObliqueCorrection = CommandOption::AsTyped(
        "-oc", "--oblique_correction", 0,
        "  -oc, --oblique_correction\n"
        "          when oblique angle(s) applied, some SIEMENS dti protocols do not \n"
        "          adjust gradient accordingly, thus it requires adjustment for correct\n"
        "          diffusion tensor calculation\n");
    static constexpr CommandOption kPaddings = CommandOption::AsTyped(
        "-p", "--paddings", 1,
        "  -p, --paddings <number>\n"
        "          number of 0 paddings for input raw data file prefix. default\n"
        "          value is 3\n");
    static constexpr CommandOption kStartNumber = CommandOption::AsTyped(
        "-sn", "--start_number", 1,
        "  -sn, --start_number <number>\n"
        "          start number of the input filename numbering. default is 1, meaning \n"
        "          the first filename in the series is prefix001.img\n"
        "          NOTE: '-p' and '-sn' options are only effective when a series of \n"
        "          single timepoint image files are given. when input is a 4D time \n"
        "          series file, those options are ignored\n");
    static constexpr CommandOption kBvecs = CommandOption::Checked(
        "-bvec", "--bvecs", CommandOption::Value::Text(),
        "  -bvec, --bvecs <filename>\n"
        "          directions of every volume: three lines (x, y, z) of one number per\n"
        "          volume, or one line of three numbers per volume. they are read in the\n"
        "          voxel axes, with x negated when the voxel-to-world matrix of the raw\n"
        "          data (sform, else qform) has a positive determinant. needs -bval\n");
    static constexpr CommandOption kBvals = CommandOption::Checked(
        "-bval", "--bvals", CommandOption::Value::Text(),
        "  -bval, --bvals <filename>\n"
        "          b value of every volume, on one line or one per line. b <= 50 marks\n"
        "          a b0 volume. the files list every volume, so -nex is not used\n");
    static constexpr CommandOption kExportGradients = CommandOption::Checked(
        "-export_grad", "--export_grad", CommandOption::Value::Text(),
        "  -export_grad, --export_grad <filename>\n"
        "          write the directions and b values the fit used as a gradient table\n"
        "          that '-gm <filename> 1' reads back to the same fit\n");
    static constexpr CommandOption kBZero = CommandOption::Checked(
        "-bzero", "--bzero", CommandOption::Value::Decimal(0, CommandOption::kUnbounded),
        "  -bzero, --bzero <b value>\n"
        "          with -bvec/-bval, a volume whose b value is at or below this is a b0\n"
        "          volume, whatever its direction says (zeros, nan or any numbers).\n"
        "          default is 50\n");
    static constexpr CommandOption kShells = CommandOption::Checked(
        "-shells", "--shells", CommandOption::Value::DecimalList(0, CommandOption::kUnbounded),
        "  -shells, --shells <b,b,...>\n"
        "          fit only the volumes of these shells, for example 0,1000 (the tensor\n"
        "          is meant for b up to about 1000-1500). volumes are grouped into shells\n"
        "          by b value: the b0 volumes are the shell 0; from the smallest b not yet\n"
        "          grouped, a shell takes every b up to max(50, 5%) above it and is named\n"
        "          by their mean. a value names the shell within max(50, 5%) of it. the\n"
        "          shells are printed when the data hold more than one or -shells is\n"
        "          given. default: every volume\n");
    static constexpr CommandOption kBMax = CommandOption::Checked(
        "-bmax", "--bmax", CommandOption::Value::Decimal(0, CommandOption::kUnbounded),
        "  -bmax, --bmax <b value>\n"
        "          fit only the shells up to this b value, the b0 shell included (for\n"
        "          example 1500 for the tensor). instead of -shells\n");

    // -gm, or -bvec with -bval: exactly one of the two ways, complete. noSource is the message
    // when neither is given.
    static RunStep ReadGradientSource(const CMyCmdParser& parser, const char* noSource,
                                      AcquisitionSettings& settings, RunMessages& messages);
    // -b0 ("auto" or a number), and the b value of bValueOption (values <= 0 give 1000).
    static void ReadTableValues(const CMyCmdParser& parser, const CommandOption& bValueOption,
                                AcquisitionSettings& settings);
    // -p and -sn (a negative start number gives 1).
    static void ReadSeriesNumbering(const CMyCmdParser& parser, AcquisitionSettings& settings);
    // -bzero (only with -bvec/-bval), -shells and -bmax.
    static RunStep ReadVolumeSelection(const CMyCmdParser& parser, AcquisitionSettings& settings,
                                       RunMessages& messages);
    // -iop, -info, -sag, -cor, -axial and -oc as typed; the run checks them against the data.
    static void ReadOrientation(const CMyCmdParser& parser, AcquisitionSettings& settings);
};
