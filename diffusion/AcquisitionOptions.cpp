#include "AcquisitionOptions.h"

#include <cstdlib>
#include <string>

#include "OptionTable.h"
#include "OrientationOptions.h"

namespace {

int toInt(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

RunStep AcquisitionOptions::ReadGradientSource(const CMyCmdParser& parser, const char* noSource,
                                               AcquisitionSettings& settings,
                                               RunMessages& messages) {
    const bool fsl = parser.HasSwitch(kBvecs) || parser.HasSwitch(kBvals);
    if (fsl) {
        if (parser.HasSwitch(kGradientMatrix)) {
            return messages.UsageError(
                "\nGive the gradients either with -gm or with -bvec and -bval, not both.");
        }
        if (!parser.HasSwitch(kBvecs) || !parser.HasSwitch(kBvals)) {
            return messages.UsageError("\n-bvec and -bval go together: give both.");
        }
        settings.bvecFile = parser.GetArgument(kBvecs, 1, "");
        settings.bvalFile = parser.GetArgument(kBvals, 1, "");
        return kGoOn;
    }
    if (!parser.HasSwitch(kGradientMatrix)) {
        return messages.UsageError(noSource);
    }
    settings.gradientTable = parser.GetArgument(kGradientMatrix, 1, "");
    if (settings.gradientTable.empty()) {
        return messages.UsageError("\nMissing argument(s).");
    }
    const std::string tabled = parser.GetArgument(kGradientMatrix, 2, "");
    settings.tabledBValues = tabled == "1" || tabled == "true";
    return kGoOn;
}

void AcquisitionOptions::ReadTableValues(const CMyCmdParser& parser,
                                         const CommandOption& bValueOption,
                                         AcquisitionSettings& settings) {
    settings.bValue = std::strtod(parser.GetArgument(bValueOption, 1, "1000").c_str(), nullptr);
    if (settings.bValue <= 0) {
        settings.bValue = 1000.0;
    }
    const std::string b0 = parser.GetArgument(kNumberOfB0, 1, "0");
    settings.requestedB0 = b0 == "auto" ? 0 : toInt(b0);
}

void AcquisitionOptions::ReadSeriesNumbering(const CMyCmdParser& parser,
                                             AcquisitionSettings& settings) {
    settings.paddings = toInt(parser.GetArgument(kPaddings, 1, "3"));
    settings.startNumber = toInt(parser.GetArgument(kStartNumber, 1, "1"));
    if (settings.startNumber < 0) {
        settings.startNumber = 1;
    }
}

RunStep AcquisitionOptions::ReadVolumeSelection(const CMyCmdParser& parser,
                                                AcquisitionSettings& settings,
                                                RunMessages& messages) {
    if (parser.HasSwitch(kBZero)) {
        if (settings.bvecFile.empty()) {
            return messages.UsageError(
                "\n-bzero applies to -bvec and -bval; a -gm table marks b0 rows by a zero "
                "direction.");
        }
        settings.b0Threshold = std::strtod(parser.GetArgument(kBZero, 1, "50").c_str(), nullptr);
    }
    if (parser.HasSwitch(kBMax)) {
        if (parser.HasSwitch(kShells)) {
            return messages.UsageError("\nGive the shells either with -shells or with -bmax.");
        }
        settings.shellsUpTo = std::strtod(parser.GetArgument(kBMax, 1, "0").c_str(), nullptr);
    }
    if (parser.HasSwitch(kShells)) {
        // The option table has checked that every item is a number.
        for (const std::string& item : OptionTable::ListItems(parser.GetArgument(kShells, 1, ""))) {
            settings.shells.push_back(std::strtod(item.c_str(), nullptr));
        }
    }
    return kGoOn;
}

void AcquisitionOptions::ReadOrientation(const CMyCmdParser& parser,
                                         AcquisitionSettings& settings) {
    const CommandOption& orientation = OrientationOptions::kOrientation;
    settings.iopPresent = parser.HasSwitch(orientation);
    const int iopCount = parser.GetNumberOfArguments(orientation);
    for (int i = 1; i <= iopCount; ++i) {
        settings.iopValues.push_back(parser.GetArgument(orientation, i, ""));
    }
    settings.infoPresent = parser.HasSwitch(OrientationOptions::kImageInfo);
    settings.infoName = parser.GetArgument(OrientationOptions::kImageInfo, 1, "");
    settings.sagittal = parser.HasSwitch(OrientationOptions::kSagittal);
    settings.coronal = parser.HasSwitch(OrientationOptions::kCoronal);
    settings.axial = parser.HasSwitch(OrientationOptions::kAxial);
    settings.obliqueCorrection = parser.HasSwitch(kObliqueCorrection);
}
