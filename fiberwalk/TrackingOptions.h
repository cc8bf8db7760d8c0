#pragma once
// fiberwalk's own options, word for word as users and their scripts know them (misspellings such
// as "seperate" and "folloing" included: do not correct them). -info and -iop are declared with
// the other orientation options, -nthreads with the standard ones. Table() lists them all in the
// order of the help; a new option is one entry here and its place in the table.

#include "CommandOption.h"
#include "OptionTable.h"

class TrackingOptions {
  public:
    // Every option, in the order of the help.
    static const OptionTable& Table();

    static constexpr CommandOption kUsage = CommandOption::HelpText(
        "\n"
        "fiberwalk 0.5\n"
        "\n"
        "Usage: fiberwalk INPUT_DATA_PREFIX OUTPUT_FILE [OPTION]...\n"
        "\n");
    static constexpr CommandOption kInputType = CommandOption::AsTyped(
        "-it", "--input_type", 1,
        "  -it, --input_type <type>\n"
        "          input and output file type. accepted values are: \n"
        "             analyze -> analyze format 7.5\n"
        "             ni1     -> nifti format saved in seperate .hdr and .img file\n"
        "             nii     -> nifti format with one .nii file\n"
        "             nii.gz  -> nifti format with compression\n"
        "          default type is 'nii'\n");
    static constexpr CommandOption kFact = CommandOption::AsTyped(
        "-fact", "--fact", 0,
        "  -fact, --fact\n"
        "          use FACT method for tracking. this is the default method.\n");
    static constexpr CommandOption kRungeKutta2 = CommandOption::AsTyped(
        "-rk2", "--runge_kutta2", 0,
        "  -rk2, --runge_kutta2\n"
        "          use 2nd order runge-kutta method for tracking. \n");
    static constexpr CommandOption kTensorLine = CommandOption::AsTyped(
        "-tl", "--tensor_line", 0,
        "  -tl, --tensor_line\n"
        "          use tensorline method for tracking. \n");
    static constexpr CommandOption kStreamLine = CommandOption::AsTyped(
        "-sl", "--stream_line", 0,
        "  -sl, --stream_line\n"
        "          use interpolated streamline method with fixed step-length\n");
    static constexpr CommandOption kStepLength = CommandOption::AsTyped(
        "-l", "--step_length", 1,
        "  -l, --step_length <step_length> \n"
        "          set step length, in the unit of minimum voxel size.\n"
        "          default value is 0.5 for interpolated streamline method\n"
        "          and 0.1 for other methods\n");
    static constexpr CommandOption kAngleThreshold = CommandOption::AsTyped(
        "-at", "--angle_threshold", 1,
        "  -at, --angle_threshold <angle_threshold>\n"
        "          set angle threshold. default value is 35 degree \n");
    static constexpr CommandOption kAngleWeights = CommandOption::AsTyped(
        "-atw", "--angle_threshold_weight", 1,
        "  -atw, --angle_threshold_weight <filename>\n"
        "          set angle threshold weighting factor. weighting will be be applied \n"
        "          on top of the angle_threshold\n");
    static constexpr CommandOption kRandomSeed = CommandOption::AsTyped(
        "-rseed", "--random_seed", 1,
        "  -rseed, --random_seed <number per voxel>\n"
        "          use random location in a voxel instead of the center of the voxel\n"
        "          to seed. can also define number of seed per voxel. default is 1\n");
    static constexpr CommandOption kSeedMask = CommandOption::AsTyped(
        "-sm", "--seed_mask", 3,
        "  -sm, --seed_mask <mask_file> <low_threshold> <high_threshold>\n"
        "          mask for seed voxels. if provided, only voxels that are in the \n"
        "          mask will be used as seed\n");
    // The three inversions share one description, after the last.
    static constexpr CommandOption kInvertX = CommandOption::AsTyped(
        "-ix", "--invert_x", 0,
        "  -ix, --invert_x\n");
    static constexpr CommandOption kInvertY = CommandOption::AsTyped(
        "-iy", "--invert_y", 0,
        "  -iy, --invert_y\n");
    static constexpr CommandOption kInvertZ = CommandOption::AsTyped(
        "-iz", "--invert_z", 0,
        "  -iz, --invert_z\n"
        "          invert x, y or z component(s) of the vector\n");
    static constexpr CommandOption kSwapXY = CommandOption::AsTyped(
        "-sxy", "--swap_xy", 0,
        "  -sxy, --swap_xy  \n"
        "          swap x & y vectors while tracking\n");
    static constexpr CommandOption kSwapYZ = CommandOption::AsTyped(
        "-syz", "--swap_yz", 0,
        "  -syz, --swap_yz\n"
        "          swap y & z vectors while tracking\n");
    static constexpr CommandOption kSwapZX = CommandOption::AsTyped(
        "-szx", "--swap_zx", 0,
        "  -szx, --swap_zx\n"
        "          swap x & z vectors while tracking\n");
    // The two masks share one description, after the second.
    static constexpr CommandOption kMask = CommandOption::AsTyped(
        "-m", "--mask", 3,
        "  -m, --mask <mask_file> <low_threshold> <high_threshold>\n");
    static constexpr CommandOption kMask2 = CommandOption::AsTyped(
        "-m2", "--mask2", 3,
        "  -m2, --mask2 <mask_file> <low_threshold> <high_threshold>\n"
        "          threshold value for mask image. can combine 2 masks. \n"
        "          if <threshold> not given, the program will try automatically find\n"
        "          the threshold\n");
    static constexpr CommandOption kOutputMask = CommandOption::AsTyped(
        "-om", "--output_mask", 1,
        "  -om, --output_mask <output_file>\n"
        "          output a binary mask file in analyze format\n");
    static constexpr CommandOption kV2 = CommandOption::AsTyped(
        "-v2", "--v2", 0,
        "  -v2, --v2\n"
        "          using the 2nd eigenvector as the primary vector for fiber tracking\n");
    static constexpr CommandOption kV3 = CommandOption::AsTyped(
        "-v3", "--v3", 0,
        "  -v3, --v3\n"
        "          using the 3rd eigenvector as the primary vector for fiber tracking\n");
    static constexpr CommandOption kOrientationIntroduction = CommandOption::HelpText(
        "\n"
        "  following 4 options are to provide image orientation information. if the \n"
        "  input data are genuine nifti format, these flags are NOT needed because\n"
        "  nifti header contains all the needed information. if the program can not \n"
        "  find those information for input data header, it will use the folloing flags\n"
        "  to determine image orientation and slice order\n"
        "\n");
    static constexpr CommandOption kSliceOrder = CommandOption::AsTyped(
        "-sorder", "--slice_order", 1,
        "  -sorder, --slice_order <value>\n"
        "          set the slice order. 1 means normal, -1 means reversed. default\n"
        "          value is 1\n"
        "          NOTE: '-iop' and '-sorder' is used to determine '-vorder' if \n"
        "          if '-vorder' is not explicitly given\n");
    static constexpr CommandOption kVoxelOrder = CommandOption::AsTyped(
        "-vorder", "--voxel_order", 1,
        "  -vorder, --voxel_order <value>\n"
        "          specify the voxel order in RL/AP/IS (human brain) reference. must be\n"
        "          3 letters with no space in between.\n"
        "          for example, RAS means the voxel row is from L->R, the column\n"
        "          is from P->A and the slice order is from I->S.\n"
        "          by default voxel order is determined by the image orientation\n"
        "          (but NOT guaranteed to be correct because of various standards).\n"
        "          for example, siemens axial image is LPS, coronal image is LIP and\n"
        "          sagittal image is PIL.\n"
        "          this information also is NOT needed for tracking but will be saved\n"
        "          in the track file and is essential for track display to map onto\n"
        "          the right coordinates\n"
        "\n"
        "          NOTE: .info file contains all the information for '-iop', '-sorder'\n"
        "          and '-vorder'. so if an .info file exists, it should be used instead\n"
        "          of applying '-iop', '-sorder' or '-vorder' manually, unless you want\n"
        "          to overwrite what '-info' option provided\n");
    // Word for word as users and their scripts know it, the trailing blanks included.
    static constexpr const char* kHelpHelp =
        "  -h, --help  \n"
        "          display this help\n";
    static constexpr CommandOption kExample = CommandOption::HelpText(
        "\n"
        "Example: \n"
        "  fiberwalk test tracks.trk -m test_FA.img 0.15\n"
        "\n");

    // Added after the help above, which stays as it is.
    static constexpr CommandOption kAddedHeading = CommandOption::HelpText(
        "Threads and repeatable random seeds:\n"
        "\n");
    static constexpr const char* kThreadsHelp =
        "  -nthreads, --nthreads <number>\n"
        "          threads of the seeding loop. default: the DTI_NTHREADS environment\n"
        "          variable, else every processor this process may run on. the track\n"
        "          file is the same for every number of threads\n";
    static constexpr CommandOption kSeed = CommandOption::Checked(
        "-seed", "--seed", CommandOption::Value::Integer(0, 4294967295.0),
        "  -seed, --seed <number>\n"
        "          seed of the random seed positions of '-rseed' (0 to 4294967295)\n"
        "          instead of the clock, so that a run can be repeated. the run log\n"
        "          records the seed of every random-seeded run as '-seed <number>'\n");
    static constexpr CommandOption kBlankLine = CommandOption::HelpText("\n");
};
