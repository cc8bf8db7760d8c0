// fiberwalk: follows fiber tracks through the tensor volume written by tenscalc and streams
// them into one track file.

#include <cstdlib>
#include <ctime>
#include <vector>

#include "CMyCmdParser.h"
#include "ConsoleMessages.h"
#include "ExitStatus.h"
#include "MemoryGuard.h"
#include "RunStep.h"
#include "RunSummary.h"
#include "SeedingLoop.h"
#include "TRACK_HEADER.h"
#include "TensorVolume.h"
#include "TrackStream.h"
#include "TrackingMasks.h"
#include "TrackingOrientation.h"
#include "TrackingSettings.h"

int run(int argc, char** argv) {
    // Missing files are reported by the run's own messages, not by the library's diagnostics.
    nifti_set_debug_level(0);
    const CMyCmdParser parser(argc, argv);
    TrackingSettings settings;
    if (const RunStep stop = TrackingSettings::FromCommandLine(argc, parser, &settings)) {
        return *stop;
    }
    const unsigned seed =
        settings.seedGiven ? settings.seed : static_cast<unsigned>(std::time(nullptr));
    std::srand(seed);

    ConsoleMessages messages(TrackingSettings::kProgramName);
    TensorVolume tensor(messages);
    if (const RunStep stop = tensor.Open(settings.tensorFile)) {
        return *stop;
    }
    TRACK_HEADER header = tensor.NewTrackHeader();
    TrackingOrientation orientation;
    if (const RunStep stop = orientation.Settle(settings, tensor, header)) {
        return *stop;
    }

    TrackingMasks masks;
    if (const RunStep stop = masks.Read(settings, tensor.geometry())) {
        return *stop;
    }
    if (const RunStep stop = masks.WriteOutputMask(settings, tensor.header())) {
        return *stop;
    }
    if (const RunStep stop = masks.ReadAngleWeights(settings, tensor.geometry())) {
        return *stop;
    }

    std::vector<float> tensors;
    if (const RunStep stop = tensor.ReadComponents(tensors)) {
        return *stop;
    }
    orientation.AdjustVectorFrame(settings.frame, tensors, header);
    if (const RunStep stop = orientation.SetVoxelOrder(settings.orientation, header)) {
        return *stop;
    }

    TrackStream stream;
    if (const RunStep stop = SeedingLoop::CreateTrackFile(settings, header, stream)) {
        return *stop;
    }
    const std::time_t start = std::time(nullptr);
    if (const RunStep stop =
            SeedingLoop::Run(settings, {tensor.geometry(), tensors, masks}, stream)) {
        return *stop;
    }
    const int tracks = stream.TracksWritten();
    if (const RunStep stop = SeedingLoop::FinishTrackFile(settings, stream)) {
        return *stop;
    }
    const std::time_t end = std::time(nullptr);

    tensors = std::vector<float>();
    masks.Release();
    RunSummary::Print(tracks, start, end);
    // A random-seeded run's logged command ends with its seed, so that it repeats the run.
    const bool logSeed = settings.randomSeeding && !settings.seedGiven;
    RunSummary::WriteRunLog(argc, argv, settings.outputFile,
                            logSeed ? std::vector<std::string>{"-seed", std::to_string(seed)}
                                    : std::vector<std::string>{});
    return kExitSuccess;
}

int main(int argc, char** argv) {
    return MemoryGuard::Call(run, argc, argv, "the volumes of this run");
}
