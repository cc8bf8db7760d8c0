#include "TenscalcOptions.h"

#include "AcquisitionOptions.h"
#include "OrientationOptions.h"
#include "StandardOptions.h"

const OptionTable& TenscalcOptions::Table() {
    using A = AcquisitionOptions;
    using O = OrientationOptions;
    using T = TenscalcOptions;
    static const OptionTable table({
        T::kUsage,
        T::kOutputType,
        A::kGradientMatrix,
        T::kBValue,
        A::kNumberOfB0,
        T::kNex,
        T::kOrientationIntroduction,
        O::kImageInfo,
        O::kOrientation,
        O::kSagittal,
        O::kCoronal,
        O::kAxial,
        T::kOrientationClosing,
        A::kObliqueCorrection,
        T::kB0Threshold,
        T::kNoEigen,
        T::kNoTensor,
        T::kNoExp,
        A::kPaddings,
        A::kStartNumber,
        T::kOutput5d,
        StandardOptions::Help(T::kHelpHelp),
        T::kExample,
        T::kVoxelOrder,
        T::kInputType,
        T::kColorBrightness,
        // Added after the help above, which stays as it is.
        T::kFslHeading,
        A::kBvecs,
        A::kBvals,
        A::kExportGradients,
        T::kFslExample,
        T::kFitMethod,
        T::kAcquisitionHeading,
        A::kBZero,
        A::kShells,
        A::kBMax,
        T::kMask,
        T::kMetrics,
        T::kThreadsHeading,
        StandardOptions::Threads(T::kThreadsHelp),
        T::kBlankLine,
        StandardOptions::kVersion,
        T::kBlankLine,
    });
    return table;
}
