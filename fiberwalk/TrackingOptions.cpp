#include "TrackingOptions.h"

#include "OrientationOptions.h"
#include "StandardOptions.h"

const OptionTable& TrackingOptions::Table() {
    using O = OrientationOptions;
    using T = TrackingOptions;
    static const OptionTable table({
        T::kUsage,        T::kInputType,    T::kFact,         T::kRungeKutta2,
        T::kTensorLine,   T::kStreamLine,   T::kStepLength,   T::kAngleThreshold,
        T::kAngleWeights, T::kRandomSeed,   T::kSeedMask,     T::kInvertX,
        T::kInvertY,      T::kInvertZ,      T::kSwapXY,       T::kSwapYZ,
        T::kSwapZX,       T::kMask,         T::kMask2,        T::kOutputMask,
        T::kV2,           T::kV3,           T::kOrientationIntroduction,
        O::kImageInfo,    O::kOrientation,  T::kSliceOrder,   T::kVoxelOrder,
        StandardOptions::Help(T::kHelpHelp),                  T::kExample,
        // Added after the help above, which stays as it is.
        T::kAddedHeading, StandardOptions::Threads(T::kThreadsHelp),          T::kSeed,
        T::kBlankLine,    StandardOptions::kVersion,          T::kBlankLine,
    });
    return table;
}
