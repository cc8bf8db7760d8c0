#include "TenscalcCommandLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "AcquisitionOptions.h"
#include "CMyCmdParser.h"
#include "CommandLineOpening.h"
#include "ConsoleMessages.h"
#include "ExitStatus.h"
#include "NiftiFileNames.h"
#include "StandardOptions.h"
#include "TenscalcOptions.h"
#include "TensorMetrics.h"
#include "ThreadCount.h"

namespace {

struct OutputType {
    const char* keyword;
    const char* ending;
    const char* magic;  // empty: the raw data header's magic is kept
};

const OutputType kOutputTypes[] = {
    {"analyze", ".hdr", ""},
    {"ni1", ".hdr", "ni1"},
    {"nii", ".nii", "n+1"},
    {"nii.gz", ".nii.gz", "n+1"},
};

int usageError(const std::string& message) {
    return CommandLineOpening::UsageError(TenscalcCommandLine::kProgramName, message);
}

double toDouble(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}
int toInt(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

void TenscalcCommandLine::ShowHint() {
    CommandLineOpening::PrintHint(kProgramName);
}

RunStep TenscalcCommandLine::Parse(int argc, const char* const* argv, TenscalcSettings& settings) {
    const CMyCmdParser parser(argc, argv);
    std::vector<std::string> positional;
    const CommandLineOpening::Program program = {kProgramName, TenscalcOptions::Table(), 2,
                                                         false};
    if (const RunStep stop = CommandLineOpening::Open(argc, parser, program, &positional)) {
        return *stop;
    }
    ConsoleMessages messages(kProgramName);
    if (const RunStep stop = AcquisitionOptions::ReadGradientSource(
            parser, "\nPlease specify a matrix file with -gm.", settings, messages)) {
        return stop;
    }
    if (!settings.bvecFile.empty() && parser.HasSwitch(TenscalcOptions::kNex)) {
        return usageError("\n-nex cannot be used with -bvec and -bval: they list every volume.");
    }
    if (const RunStep stop = ParseAddedOptions(parser, settings)) {
        return stop;
    }

    if (settings.tabledBValues) {
        std::cout << "Using b values provided in gradient table" << std::endl;
    }
    AcquisitionOptions::ReadTableValues(parser, TenscalcOptions::kBValue, settings);
    AcquisitionOptions::ReadSeriesNumbering(parser, settings);

    settings.rawDataArgument = positional[0];
    settings.rawDataName =
        get_valid_nifti_filename(positional[0], settings.startNumber, settings.paddings);
    if (settings.rawDataName.empty()) {
        std::cerr << "\nCan not find given raw data file." << std::endl;
        return kExitFailure;
    }

    settings.outputPrefix = positional[1];
    const char last = settings.outputPrefix.empty() ? '\0' : settings.outputPrefix.back();
    if (last != '_' && last != '-') {
        settings.outputPrefix += "_";
    }

    if (const RunStep stop = ParseOutputType(parser, settings)) {
        return stop;
    }
    ParseRunOptions(parser, settings);
    return kGoOn;
}

RunStep TenscalcCommandLine::ParseAddedOptions(const CMyCmdParser& parser,
                                               TenscalcSettings& settings) {
    if (const RunStep stop = ParseFitMethod(parser, settings)) {
        return stop;
    }
    std::string threadProblem;
    if (!ThreadCount::Choose(parser.GetArgument(StandardOptions::Threads(""), 1, ""),
                             &settings.threads, &threadProblem)) {
        return usageError("\n" + threadProblem);
    }
    if (!threadProblem.empty()) {
        std::printf("%s\n", threadProblem.c_str());  // a note: fewer threads than asked
    }
    settings.exportGradientFile = parser.GetArgument(AcquisitionOptions::kExportGradients, 1, "");
    ConsoleMessages messages(kProgramName);
    if (const RunStep stop = AcquisitionOptions::ReadVolumeSelection(parser, settings, messages)) {
        return stop;
    }
    settings.maskFile = parser.GetArgument(TenscalcOptions::kMask, 1, "");
    ReadMetrics(parser, settings);
    return kGoOn;
}

void TenscalcCommandLine::ReadMetrics(const CMyCmdParser& parser, TenscalcSettings& settings) {
    if (!parser.HasSwitch(TenscalcOptions::kMetrics)) {
        return;
    }
    // The table has checked every name; the maps are written in the order of their list.
    const std::vector<std::string> asked =
        OptionTable::ListItems(parser.GetArgument(TenscalcOptions::kMetrics, 1, ""));
    const auto wanted = [&asked](const std::string& name) {
        return std::find(asked.begin(), asked.end(), name) != asked.end() ||
               std::find(asked.begin(), asked.end(), "all") != asked.end();
    };
    for (const TensorMetrics::Description& metric : TensorMetrics::All()) {
        if (wanted(metric.name)) {
            settings.metrics.emplace_back(metric.name);
        }
    }
}

RunStep TenscalcCommandLine::ParseOutputType(const CMyCmdParser& parser,
                                             TenscalcSettings& settings) {
    const std::string type = parser.GetArgument(TenscalcOptions::kOutputType, 1, "nii");
    const OutputType* chosen = nullptr;
    for (const auto& candidate : kOutputTypes) {
        if (type == candidate.keyword) {
            chosen = &candidate;
        }
    }
    if (chosen == nullptr) {
        return usageError("\nUnrecognized output type '" + type + "'.");
    }
    settings.outputEnding = chosen->ending;
    settings.outputMagic = chosen->magic;
    settings.analyzeOutput = type == "analyze";

    const std::string nex = parser.GetArgument(TenscalcOptions::kNex, 1, "auto");
    settings.nex = nex == "auto" ? 0 : toInt(nex);
    if (nex != "auto" && settings.nex < 1) {
        std::cerr << "\nNEX must be equal or greater than 1";
        std::cerr.flush();
        return kExitUsage;
    }
    // Accepted for compatibility; the colour map uses the fixed scale 255.
    (void)toDouble(parser.GetArgument(TenscalcOptions::kColorBrightness, 1, "1"));
    return kGoOn;
}

void TenscalcCommandLine::ParseRunOptions(const CMyCmdParser& parser, TenscalcSettings& settings) {
    settings.writeEigen = !parser.HasSwitch(TenscalcOptions::kNoEigen);
    settings.writeTensor = !parser.HasSwitch(TenscalcOptions::kNoTensor);
    settings.writeExp = !parser.HasSwitch(TenscalcOptions::kNoExp);
    settings.output5d = parser.HasSwitch(TenscalcOptions::kOutput5d);

    AcquisitionOptions::ReadOrientation(parser, settings);

    settings.b0ThresholdValues = parser.GetNumberOfArguments(TenscalcOptions::kB0Threshold);
    if (settings.b0ThresholdValues >= 1) {
        settings.b0Lower = toDouble(parser.GetArgument(TenscalcOptions::kB0Threshold, 1, "0"));
    }
    if (settings.b0ThresholdValues >= 2) {
        settings.b0Upper = toDouble(parser.GetArgument(TenscalcOptions::kB0Threshold, 2, "1e12"));
    }
}

RunStep TenscalcCommandLine::ParseFitMethod(const CMyCmdParser& parser,
                                            TenscalcSettings& settings) {
    // The option table has checked the method's name and the rounds' count already.
    const CommandOption& fit = TenscalcOptions::kFitMethod;
    if (!parser.HasSwitch(fit)) {
        return kGoOn;
    }
    const std::string method = parser.GetArgument(fit, 1, "");
    const std::string rounds = parser.GetArgument(fit, 2, "");
    if (method == "iwls") {
        settings.fitMethod = WeightedFit::Method::kIterative;
        settings.fitExtraRounds = rounds.empty() ? 2 : toInt(rounds);
        return kGoOn;
    }
    if (!rounds.empty()) {
        return usageError("\n-fit " + method + " takes no number ('" + rounds + "' given).");
    }
    settings.fitMethod =
        method == "ols" ? WeightedFit::Method::kOrdinary : WeightedFit::Method::kWeighted;
    return kGoOn;
}
