// gradcheck: finds gradient tables whose axes are flipped or swapped against the image, by the
// length of the tracks each candidate table gives.

#include <nifti1_io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ConsoleMessages.h"
#include "DiffusionAcquisition.h"
#include "ExitStatus.h"
#include "GradcheckSettings.h"
#include "GradientCheck.h"
#include "MemoryGuard.h"
#include "RunStep.h"

namespace {

// Exit statuses of the verdicts, beside the usual 0, 1 and 2.
constexpr int kExitTableWrong = 3;
constexpr int kExitUndecided = 4;

RunStep readAcquisition(DiffusionAcquisition& data) {
    using Step = RunStep (DiffusionAcquisition::*)();
    for (const Step step :
         {&DiffusionAcquisition::OpenRawData, &DiffusionAcquisition::SettleOrientation,
          &DiffusionAcquisition::LoadGradientTable, &DiffusionAcquisition::ReadRawVolumes}) {
        if (const RunStep stop = (data.*step)()) {
            if (data.DirectionsUndetermined()) {
                // No tensor, so no tracks to compare: neither right nor wrong.
                std::printf("\nGradient table cannot be checked: its directions do not "
                            "determine a tensor\n");
                return kExitUndecided;
            }
            return stop;
        }
    }
    std::printf("\n");
    return kGoOn;
}

RunStep checkEnoughWhiteMatter(const GradientCheck& check, const GradcheckSettings& settings) {
    const char* source = settings.maskFile.empty() ? "FA >= 0.3" : "the mask";
    std::printf("White matter (%s): %d voxels, %d seeds\n", source, check.WhiteMatterVoxels(),
                check.Seeds());
    if (check.WhiteMatterVoxels() < GradientCheck::kMinimumVoxels) {
        std::printf("Gradient table cannot be checked: %d white-matter voxels, at least %d are "
                    "needed\n",
                    check.WhiteMatterVoxels(), GradientCheck::kMinimumVoxels);
        return kExitUndecided;
    }
    return kGoOn;
}

void printScores(const std::vector<GradientCheck::Score>& scores) {
    std::printf("\n%-12s %-6s %17s %8s\n", "permutation", "flips", "mean length (mm)", "tracks");
    for (const GradientCheck::Score& score : scores) {
        std::printf("%-12s %-6s %17.1f %8d%s\n", score.candidate.PermutationText().c_str(),
                    score.candidate.FlipText().c_str(), score.meanLength, score.tracks,
                    score.candidate.IsAsGiven() ? "   as given" : "");
    }
    std::printf("\n");
}

// The verdict line and its status; the candidate to export in chosen.
int verdict(const std::vector<GradientCheck::Score>& scores, AxisCandidate* chosen) {
    const GradientCheck::Score& best = scores.front();
    const GradientCheck::Score* given = &best;
    for (const GradientCheck::Score& score : scores) {
        if (score.candidate.IsAsGiven()) {
            given = &score;
        }
    }
    if (best.tracks < GradientCheck::kMinimumTracks) {
        std::printf("Gradient table cannot be checked: the best candidate gives %d tracks, at "
                    "least %d are needed\n",
                    best.tracks, GradientCheck::kMinimumTracks);
        return kExitUndecided;
    }
    if (given->meanLength >= GradientCheck::kMargin * best.meanLength) {
        *chosen = given->candidate;
        std::printf("Gradient table looks right\n");
        return kExitSuccess;
    }
    *chosen = best.candidate;
    std::printf("Gradient table looks wrong: best is %s (mean length %.1f mm against %.1f mm as "
                "given)\n",
                best.candidate.Description().c_str(), best.meanLength, given->meanLength);
    return kExitTableWrong;
}

int exportTable(const GradientCheck& check, const AxisCandidate& chosen,
                const std::string& file, int status) {
    if (file.empty() || status == kExitUndecided) {
        return status;
    }
    std::string reason;
    if (!check.WriteTable(chosen, file, &reason)) {
        std::fprintf(stderr, "\nCan not write file %s\n  %s\n", file.c_str(), reason.c_str());
        return kExitFailure;
    }
    return status;
}

}  // namespace

int run(int argc, char** argv) {
    nifti_set_debug_level(0);
    GradcheckSettings settings;
    if (const RunStep stop = GradcheckSettings::FromCommandLine(argc, argv, &settings)) {
        return *stop;
    }
    ConsoleMessages messages(GradcheckSettings::kProgramName);
    DiffusionAcquisition data(settings.data, messages);
    if (const RunStep stop = readAcquisition(data)) {
        return *stop;
    }
    GradientCheck check(data, settings);
    if (const RunStep stop = check.SelectWhiteMatter()) {
        return *stop;
    }
    if (const RunStep stop = checkEnoughWhiteMatter(check, settings)) {
        return *stop;
    }
    const std::vector<GradientCheck::Score> scores = check.ScoreCandidates();
    printScores(scores);
    AxisCandidate chosen;
    const int status = verdict(scores, &chosen);
    return exportTable(check, chosen, settings.exportFile, status);
}

int main(int argc, char** argv) {
    return MemoryGuard::Call(run, argc, argv, "the volumes of this check");
}
