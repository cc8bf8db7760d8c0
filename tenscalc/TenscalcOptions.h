#pragma once
// tenscalc's options: its own declared here, the ones it shares with the acquisition, the
// orientation and the standard options, and all of them in the order of the help in Table().
// A new option is one entry here and its place in the table.

#include "CommandOption.h"
#include "OptionTable.h"

class TenscalcOptions {
  public:
    // Every option, in the order of the help.
    static const OptionTable& Table();

    static constexpr CommandOption kUsage = CommandOption::HelpText(
        "\n"
        "tenscalc 0.6\n"
        "\n"
        "Usage: tenscalc RAW_DATA_FILE_NAME OUTPUT_FILE_PREFIX [OPTION]...\n"
        "\n");
    static constexpr CommandOption kOutputType = CommandOption::AsTyped(
        "-ot", "--output_type", 1,
        "  -ot, --output_type <type>\n"
        "          output file type. accepted values are: \n"
        "             analyze -> analyze format 7.5 (NOT recommended)\n"
        "             ni1     -> nifti format saved in seperate .hdr and .img file\n"
        "             nii     -> nifti format with one .nii file (default)\n"
        "             nii.gz  -> nifti format with compression\n"
        "          default type is 'nii'\n");
    // The long spelling has one dash on purpose: scripts written for this program pass
    // "-b_value". The help has always shown "--b_value".
    static constexpr CommandOption kBValue = CommandOption::AsTyped(
        "-b", "-b_value", 1,
        "  -b, --b_value <b_value>\n"
        "          set b value or maximum b value for multi-bvalue data. default is 1000\n");
    static constexpr CommandOption kNex = CommandOption::AsTyped(
        "-nex", "--nex", 1,
        "  -nex, --nex <number>\n"
        "          number of averages. default is auto, meaning it will automatically\n"
        "          figure out how many averages based on the gradient table and number\n"
        "          of volumes in the 4D nifti file. auto only works on 4D input data\n");
    static constexpr CommandOption kOrientationIntroduction = CommandOption::HelpText(
        "\n"
        "  following 5 options are to provide image orientation information. if the \n"
        "  input image(s) are genuine nifti format, these flags are NOT needed because\n"
        "  nifti header contains all the needed information. if the program can not \n"
        "  find those information for image header, it will look for -info flag, \n"
        "  if not then -iop, then -sag/cor/axial\n"
        "\n");
    static constexpr CommandOption kOrientationClosing = CommandOption::HelpText(
        "          the above flags indicate image orientation. default is axial.\n"
        "          NOTE: '-iop', '-sag', '-cor' and '-axial' options will overwrite\n"
        "          what '-info' has given. usually if an .info file exists, it should\n"
        "          be used instead of providing '-iop', etc., options manually\n"
        "  end of image orientation options\n"
        "\n");
    static constexpr CommandOption kB0Threshold = CommandOption::AsTyped(
        "-b0_th", "--b0_threshold", 2,
        "  -b0_th, --b0_threshold <b0 image value>\n"
        "          program will use b0 image with the given threshold to mask out high\n"
        "          background of fa/adc maps. by default it will calculate threshold \n"
        "          automatically. but if it failed, you need to set it manually.\n");
    static constexpr CommandOption kNoEigen = CommandOption::AsTyped(
        "-no_eigen", "--no_eigen_output", 0,
        "  -no_eigen, --no_eigen_output\n"
        "          do not write eigen-value and eigen-vector output\n");
    static constexpr CommandOption kNoTensor = CommandOption::AsTyped(
        "-no_tensor", "--no_tensor_output", 0,
        "  -no_tensor, --no_tensor_output\n"
        "          do not write tensor output\n");
    static constexpr CommandOption kNoExp = CommandOption::AsTyped(
        "-no_exp", "--no_exp_output", 0,
        "  -no_exp, --no_exp_output\n"
        "          do not write exp output\n");
    static constexpr CommandOption kOutput5d = CommandOption::AsTyped(
        "-output_5d", "--output_5d", 0,
        "  -output_5d, --output_5d\n"
        "          output vector and tensor files as standard nifti vector/tensor\n"
        "          format which is defined as 5d volume (4th dimension size as 1).\n"
        "          by default output is multi-frame (4D) nifti file for easy data \n"
        "          exchange with other software package\n");
    // Word for word as users and their scripts know it, the trailing blank included.
    static constexpr const char* kHelpHelp =
        "  -h, --help \n"
        "          display this help\n";
    static constexpr CommandOption kExample = CommandOption::HelpText(
        "\n"
        "Example: \n"
        "  tenscalc dtiraw.nii dti -gm dti_hsp_dti60.txt\n"
        "\n");
    // Accepted and not shown in the help.
    static constexpr CommandOption kVoxelOrder = CommandOption::AsTyped("-vorder", "--voxel_order", 1, "");
    static constexpr CommandOption kInputType = CommandOption::AsTyped("-it", "--input_type", 1, "");
    static constexpr CommandOption kColorBrightness =
        CommandOption::AsTyped("-cb", "--color_brightness", 1, "");

    // Added after the help above, which stays as it is.
    static constexpr CommandOption kFslHeading = CommandOption::HelpText(
        "Gradient files as FSL and BIDS write them (instead of -gm):\n"
        "\n");
    static constexpr CommandOption kFslExample = CommandOption::HelpText(
        "\n"
        "Example: \n"
        "  tenscalc sub-01_dwi.nii.gz dti -bvec sub-01_dwi.bvec -bval sub-01_dwi.bval\n"
        "\n"
        "Fit:\n"
        "\n");
    static constexpr CommandOption kFitMethod = CommandOption::Checked(
        "-fit", "--fit_method", 1, 2, CommandOption::Value::Choice("ols|wls|iwls"),
        CommandOption::Value::Integer(1, 100),
        "  -fit, --fit_method <ols|wls|iwls [rounds]>\n"
        "          ols: ordinary least squares on the log signal (the default).\n"
        "          wls: weighted least squares, each volume weighted by the square of the\n"
        "          signal the ordinary fit predicts for it: less noise in FA and\n"
        "          directions, at about twice the time of the fit.\n"
        "          iwls N: after wls, N more rounds (default 2, at most 100), each weighted\n"
        "          by the signal the previous round predicts; a voxel stops early once a\n"
        "          round no longer changes its tensor\n");
    static constexpr CommandOption kThreadsHeading = CommandOption::HelpText(
        "\n"
        "Threads:\n"
        "\n");
    static constexpr const char* kThreadsHelp =
        "  -nthreads, --nthreads <number>\n"
        "          threads of the voxel fit. default: the DTI_NTHREADS environment\n"
        "          variable, else every processor this process may run on. the maps\n"
        "          are the same for every number of threads\n";
    static constexpr CommandOption kBlankLine = CommandOption::HelpText("\n");
    static constexpr CommandOption kAcquisitionHeading = CommandOption::HelpText(
        "\n"
        "Shells, masks and more maps:\n"
        "\n");
    static constexpr CommandOption kMask = CommandOption::Checked(
        "-mask", "--mask", CommandOption::Value::Text(),
        "  -mask, --mask <filename>\n"
        "          fit only where this volume is non-zero (a brain mask on the data's\n"
        "          grid); every map is 0 outside it\n");
    static constexpr CommandOption kMetrics = CommandOption::Checked(
        "-metrics", "--metrics", CommandOption::Value::ChoiceList("ad|rd|mode|cl|cp|cs|all"),
        "  -metrics, --metrics <ad,rd,mode,cl,cp,cs|all>\n"
        "          also write these maps (PREFIX_ad.nii, ...), masked like FA:\n"
        "            ad   axial diffusivity l1\n"
        "            rd   radial diffusivity (l2+l3)/2\n"
        "            mode 3 sqrt(6) det(A/|A|), A = D - (trace D/3) I: -1 planar to +1 linear\n"
        "            cl   linearity (l1-l2)/(l1+l2+l3)\n"
        "            cp   planarity 2(l2-l3)/(l1+l2+l3)\n"
        "            cs   sphericity 3 l3/(l1+l2+l3)\n"
        "          with l1 >= l2 >= l3 the eigenvalues, and count the voxels with a\n"
        "          negative eigenvalue\n");
};
