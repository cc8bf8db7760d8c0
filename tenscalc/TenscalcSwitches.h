#pragma once
// The switches of tenscalc's command line, one name each. gradcheck reads the raw data and its
// gradients the same way and uses the same switches for them.

#include "CMyCmdParser.h"

namespace tenscalcswitch {

using Switch = CMyCmdParser::SwitchEntry;
inline constexpr Switch kGradientMatrix = {"-gm", "--gradient_matrix", 2};
inline constexpr Switch kPaddings = {"-p", "--paddings", 1};
inline constexpr Switch kHelp = {"-h", "--help", 0};
inline constexpr Switch kNumberOfB0 = {"-b0", "--number_of_b0", 1};
// The long spelling has one dash on purpose: scripts written for this program pass "-b_value".
inline constexpr Switch kBValue = {"-b", "-b_value", 1};
inline constexpr Switch kOrientation = {"-iop", "--image_orientation_patient", 6};
inline constexpr Switch kNoEigen = {"-no_eigen", "--no_eigen_output", 0};
inline constexpr Switch kNoTensor = {"-no_tensor", "--no_tensor_output", 0};
inline constexpr Switch kNoExp = {"-no_exp", "--no_exp_output", 0};
inline constexpr Switch kObliqueCorrection = {"-oc", "--oblique_correction", 0};
inline constexpr Switch kAxial = {"-axial", "--axial", 0};
inline constexpr Switch kSagittal = {"-sag", "--sagittal", 0};
inline constexpr Switch kCoronal = {"-cor", "--coronal", 0};
inline constexpr Switch kVoxelOrder = {"-vorder", "--voxel_order", 1};
inline constexpr Switch kImageInfo = {"-info", "--image_info", 1};
inline constexpr Switch kB0Threshold = {"-b0_th", "--b0_threshold", 2};
inline constexpr Switch kStartNumber = {"-sn", "--start_number", 1};
inline constexpr Switch kInputType = {"-it", "--input_type", 1};
inline constexpr Switch kOutputType = {"-ot", "--output_type", 1};
inline constexpr Switch kColorBrightness = {"-cb", "--color_brightness", 1};
inline constexpr Switch kNex = {"-nex", "--nex", 1};
inline constexpr Switch kOutput5d = {"-output_5d", "--output_5d", 0};
inline constexpr Switch kBvecs = {"-bvec", "--bvecs", 1};
inline constexpr Switch kBvals = {"-bval", "--bvals", 1};
inline constexpr Switch kExportGradients = {"-export_grad", "--export_grad", 1};
inline constexpr Switch kThreads = {"-nthreads", "--nthreads", 1};
inline constexpr Switch kFitMethod = {"-fit", "--fit_method", 2};

}  // namespace tenscalcswitch
