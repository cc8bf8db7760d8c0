#include "TrackingSettings.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "CTrack.h"
#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "RunReport.h"
#include "OrientationOptions.h"
#include "StandardOptions.h"
#include "ThreadCount.h"
#include "TrackingOptions.h"

namespace {

using T = TrackingOptions;
using Switch = CommandOption;

// A whole number from 0 to 4294967295; false otherwise.
bool parseSeed(const std::string& text, unsigned* seed) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    const bool digitsOnly = end != begin && *end == '\0' && text.find('-') == std::string::npos;
    if (!digitsOnly || errno != 0 || value > UINT_MAX) {
        return false;
    }
    *seed = static_cast<unsigned>(value);
    return true;
}

// The reconstruction names its outputs prefix + "_" + suffix unless the prefix already ends
// with a separator.
std::string extendedPrefix(const std::string& prefix) {
    if (!prefix.empty() && (prefix.back() == '_' || prefix.back() == '-')) {
        return prefix;
    }
    return prefix + "_";
}

std::optional<std::string> suffixOfType(const std::string& type) {
    if (type == "analyze" || type == "ni1") {
        return std::string(".hdr");
    }
    if (type == "nii") {
        return std::string(".nii");
    }
    if (type == "nii.gz") {
        return std::string(".nii.gz");
    }
    return std::nullopt;
}

int methodOf(const CMyCmdParser& parser) {
    if (parser.HasSwitch(T::kStreamLine)) {
        return CTrack::kFixedStep;
    }
    if (parser.HasSwitch(T::kRungeKutta2)) {
        return CTrack::kRungeKutta2;
    }
    if (parser.HasSwitch(T::kTensorLine)) {
        return CTrack::kTensorLine;
    }
    return CTrack::kFACT;
}

int eigenvectorOf(const CMyCmdParser& parser) {
    if (parser.HasSwitch(T::kV2)) {
        return 1;
    }
    if (parser.HasSwitch(T::kV3)) {
        return 2;
    }
    return 0;
}

float parseFloat(const std::string& text) {
    return static_cast<float>(std::strtod(text.c_str(), nullptr));
}

TrackingSettings::MaskOption maskOption(const CMyCmdParser& parser, const Switch& mask) {
    TrackingSettings::MaskOption option;
    option.given = parser.HasSwitch(mask);
    option.file = parser.GetArgument(mask, 1, "");
    option.valueCount = parser.GetNumberOfArguments(mask);
    option.low = parseFloat(parser.GetArgument(mask, 2, ""));
    option.high = parseFloat(parser.GetArgument(mask, 3, ""));
    return option;
}

TrackingSettings::OrientationOptions orientationOptions(const CMyCmdParser& parser) {
    TrackingSettings::OrientationOptions options;
    options.orientationGiven = parser.HasSwitch(OrientationOptions::kOrientation);
    const int values = parser.GetNumberOfArguments(OrientationOptions::kOrientation);
    for (int i = 1; i <= values; ++i) {
        options.orientation.push_back(parser.GetArgument(OrientationOptions::kOrientation, i, ""));
    }
    options.infoGiven = parser.HasSwitch(OrientationOptions::kImageInfo);
    options.infoHasValue = parser.GetNumberOfArguments(OrientationOptions::kImageInfo) >= 1;
    options.infoFile = parser.GetArgument(OrientationOptions::kImageInfo, 1, "");
    options.sliceOrderGiven = parser.GetNumberOfArguments(T::kSliceOrder) >= 1;
    options.sliceOrder = std::strtol(parser.GetArgument(T::kSliceOrder, 1, "1").c_str(), nullptr, 10);
    options.voxelOrderGiven = parser.HasSwitch(T::kVoxelOrder);
    options.voxelOrderHasValue = parser.GetNumberOfArguments(T::kVoxelOrder) >= 1;
    options.voxelOrder = parser.GetArgument(T::kVoxelOrder, 1, "");
    return options;
}

TrackingSettings::VectorFrame vectorFrame(const CMyCmdParser& parser) {
    TrackingSettings::VectorFrame frame;
    frame.invertX = parser.HasSwitch(T::kInvertX);
    frame.invertY = parser.HasSwitch(T::kInvertY);
    frame.invertZ = parser.HasSwitch(T::kInvertZ);
    frame.swapXY = parser.HasSwitch(T::kSwapXY);
    frame.swapYZ = parser.HasSwitch(T::kSwapYZ);
    frame.swapZX = parser.HasSwitch(T::kSwapZX);
    return frame;
}

}  // namespace

RunStep TrackingSettings::FromCommandLine(int argc, const CMyCmdParser& parser,
                                                     TrackingSettings* settings) {
    std::vector<std::string> positional;
    const CommandLineOpening::Program program = {kProgramName, TrackingOptions::Table(), 2,
                                                         false};
    if (const RunStep stop = CommandLineOpening::Open(argc, parser, program, &positional)) {
        return stop;
    }
    settings->inputPrefix = positional[0];
    settings->outputFile = positional[1];

    settings->eigenvectorIndex = eigenvectorOf(parser);
    const std::string type = parser.GetArgument(T::kInputType, 1, "nii");
    const std::optional<std::string> suffix = suffixOfType(type);
    if (!suffix) {
        return RunReport::UsageErrorOnOutput("\nUnrecognized file type '" + type + "'.");
    }
    settings->inputSuffix = *suffix;
    const std::string prefix = extendedPrefix(settings->inputPrefix);
    settings->tensorFile = prefix + "tensor" + settings->inputSuffix;
    settings->defaultInfoFile = prefix.substr(0, prefix.size() - 1) + ".info";

    settings->randomSeeding = parser.HasSwitch(T::kRandomSeed);
    if (settings->randomSeeding) {
        const long count =
            std::strtol(parser.GetArgument(T::kRandomSeed, 1, "1").c_str(), nullptr, 10);
        settings->seedsPerVoxel = count < 1 ? 1 : static_cast<int>(count);
    }

    settings->methodCode = methodOf(parser);
    if (settings->methodCode == CTrack::kTensorLine && settings->eigenvectorIndex != 0) {
        return RunReport::UsageErrorWithoutHint(
            "\nCan not track v2 or v3 with tensor line method.");
    }

    if (parser.HasSwitch(T::kOutputMask) &&
        parser.GetNumberOfArguments(T::kOutputMask) < 1) {
        return RunReport::UsageError("\nMissing argument(s) for -om.");
    }
    settings->outputMaskFile = parser.GetArgument(T::kOutputMask, 1, "");
    settings->angleThreshold = parseFloat(parser.GetArgument(T::kAngleThreshold, 1, "35"));
    const char* defaultStep = settings->methodCode == CTrack::kFixedStep ? "0.5" : "0.05";
    settings->stepLength = parseFloat(parser.GetArgument(T::kStepLength, 1, defaultStep));
    // A step of 0 (also what text that is not a number reads as) would never leave a voxel.
    if (!(std::isfinite(settings->stepLength) && settings->stepLength > 0.0f)) {
        return RunReport::UsageError("\nStep length must be larger than 0.");
    }

    if (!parser.HasSwitch(T::kMask)) {
        return RunReport::UsageError("\nPlease specify first mask file by -m.");
    }
    if (parser.GetNumberOfArguments(T::kMask) < 1) {
        return RunReport::UsageError("\nMissing argument(s) for -m.");
    }
    settings->trackingMask = maskOption(parser, T::kMask);
    settings->secondMask = maskOption(parser, T::kMask2);
    settings->seedMask = maskOption(parser, T::kSeedMask);
    settings->angleWeightsGiven = parser.HasSwitch(T::kAngleWeights);
    settings->angleWeightsHasValue = parser.GetNumberOfArguments(T::kAngleWeights) >= 1;
    settings->angleWeightsFile = parser.GetArgument(T::kAngleWeights, 1, "");
    settings->orientation = orientationOptions(parser);
    if (const RunStep stop = threadsAndSeed(parser, settings)) {
        return stop;
    }
    settings->frame = vectorFrame(parser);
    return kGoOn;
}

RunStep TrackingSettings::threadsAndSeed(const CMyCmdParser& parser,
                                         TrackingSettings* settings) {
    std::string problem;
    if (!ThreadCount::Choose(parser.GetArgument(StandardOptions::Threads(""), 1, ""),
                             &settings->threads, &problem)) {
        return RunReport::UsageError("\n" + problem);
    }
    if (!problem.empty()) {
        std::printf("%s\n", problem.c_str());  // a note: fewer threads than asked
    }
    settings->seedGiven = parser.HasSwitch(T::kSeed);
    if (settings->seedGiven) {
        const std::string text = parser.GetArgument(T::kSeed, 1, "");
        // The table has checked the range; a sign is refused here.
        if (!parseSeed(text, &settings->seed)) {
            return RunReport::UsageError(
                "\n-seed must be a whole number from 0 to 4294967295, not '" + text + "'.");
        }
    }
    return kGoOn;
}
