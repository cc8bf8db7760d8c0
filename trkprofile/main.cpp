// trkprofile: tractometry of one bundle. Selects the tracks of a track file that pass through
// masks, samples maps along them, and writes the bundle's figures and its profile along its
// length, the measures compared between groups.

#include <nifti1_io.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BundleProfile.h"
#include "BundleStatistics.h"
#include "ConsoleMessages.h"
#include "ExitStatus.h"
#include "GridVolume.h"
#include "OwnedHandles.h"
#include "ProfileRun.h"
#include "ProfileSettings.h"
#include "RegionMask.h"
#include "RunStep.h"
#include "ScalarMap.h"
#include "TckReader.h"
#include "TrackMeasurer.h"
#include "TrackSelection.h"
#include "TrackSink.h"
#include "TrackSource.h"
#include "TrxReader.h"
#include "VoxelGrid.h"

namespace {

// What the run reads besides the tracks.
struct Images {
    TrackSelection selection;
    std::vector<ScalarMap> maps;
};

// The files the run writes, created before the tracks are read so that a wrong folder shows at
// once rather than after the whole file.
struct Outputs {
    std::unique_ptr<TrackSink> selected;
    OwnedFile stats;
    OwnedFile profile;
    std::vector<std::string> created;  // the names, for removing them when the run stops
};

// True when both names lead to the same existing file.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::vector<std::string> outputNames(const ProfileSettings& settings) {
    std::vector<std::string> names;
    for (const std::string& name :
         {settings.selectedOutput, settings.statsFile, settings.profileFile}) {
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    return names;
}

// Creating an output over an input would erase it before it is read.
RunStep refuseOverwritingInputs(const ProfileSettings& settings, ConsoleMessages& messages) {
    std::vector<std::string> inputs = {settings.tracks, settings.ends};
    inputs.insert(inputs.end(), settings.includes.begin(), settings.includes.end());
    inputs.insert(inputs.end(), settings.excludes.begin(), settings.excludes.end());
    for (const ProfileSettings::NamedMap& map : settings.maps) {
        inputs.push_back(map.file);
    }
    for (const std::string& output : outputNames(settings)) {
        for (const std::string& input : inputs) {
            if (!input.empty() && sameFile(output, input)) {
                return messages.UsageError("\nThe output " + output + " is the input " + input +
                                           ".");
            }
        }
    }
    return kGoOn;
}

RunStep openTracks(const ProfileSettings& settings, ConsoleMessages& messages,
                   std::unique_ptr<TrackSource>& source) {
    std::string reason;
    source = TrackSource::Open(settings.tracks, settings.GridImage(), reason);
    if (!source) {
        return messages.Failure("\nCan not open file " + settings.tracks, reason, settings.tracks);
    }
    return kGoOn;
}

// How much the file holds, for the progress display: the track count .tck and TRX files declare,
// the bytes of a .trk file's records.
ProfileRun::Extent extentOf(const std::string& path) {
    switch (TrackSource::FormatOf(path)) {
        case TrackSource::Format::kTck: {
            TckReader tck;
            return {false, tck.Open(path) ? static_cast<double>(tck.DeclaredCount()) : 0.0};
        }
        case TrackSource::Format::kTrx: {
            TrxReader trx;
            return {false, trx.Open(path) ? static_cast<double>(trx.Header().streamlines) : 0.0};
        }
        case TrackSource::Format::kTrk:
            break;
    }
    struct stat file {};
    constexpr double kHeaderBytes = 1000.0;
    return {true, stat(path.c_str(), &file) == 0
                      ? static_cast<double>(file.st_size) - kHeaderBytes
                      : 0.0};
}

// One mask or map, on the tracks' grid.
RunStep readVolume(const std::string& file, const char* kind, const TrackSource& source,
                   ConsoleMessages& messages, GridVolume& volume) {
    std::string reason;
    if (!volume.Read(file, reason)) {
        return messages.Failure("\nCan not read " + std::string(kind) + " " + file, reason, file);
    }
    // A .tck file has the grid of the first image named, so it always has one here.
    const std::string difference =
        VoxelGrid::OfTracks(source.Header()).Difference(volume.Grid(), "the tracks'");
    if (!difference.empty()) {
        return messages.Failure("\nThe " + std::string(kind) + " " + file +
                                    " is not on the grid of the tracks",
                                difference);
    }
    return kGoOn;
}

RunStep readImages(const ProfileSettings& settings, const TrackSource& source,
                   ConsoleMessages& messages, Images& images) {
    GridVolume volume;
    for (const std::string& file : settings.includes) {
        if (const RunStep stop = readVolume(file, "mask", source, messages, volume)) {
            return stop;
        }
        images.selection.AddInclude(RegionMask(volume));
    }
    for (const std::string& file : settings.excludes) {
        if (const RunStep stop = readVolume(file, "mask", source, messages, volume)) {
            return stop;
        }
        images.selection.AddExclude(RegionMask(volume));
    }
    if (!settings.ends.empty()) {
        if (const RunStep stop = readVolume(settings.ends, "mask", source, messages, volume)) {
            return stop;
        }
        images.selection.SetEnds(RegionMask(volume));
    }
    if (settings.length) {
        images.selection.SetLength({settings.length->min, settings.length->max});
    }
    for (const ProfileSettings::NamedMap& map : settings.maps) {
        if (const RunStep stop = readVolume(map.file, "map", source, messages, volume)) {
            return stop;
        }
        images.maps.emplace_back(std::move(volume));
    }
    return kGoOn;
}

RunStep createTable(const std::string& path, ConsoleMessages& messages, OwnedFile& file,
                    std::vector<std::string>& created) {
    if (path.empty()) {
        return kGoOn;
    }
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return messages.Failure("\nCan not write file " + path, std::strerror(errno));
    }
    created.push_back(path);
    return kGoOn;
}

RunStep createOutputs(const ProfileSettings& settings, const TrackSource& source,
                      ConsoleMessages& messages, Outputs& outputs) {
    if (!settings.selectedOutput.empty()) {
        if (!source.HasGrid() &&
            TrackSource::FormatOf(settings.selectedOutput) != TrackSource::Format::kTck) {
            return messages.Failure("\nCan not write file " + settings.selectedOutput,
                                    "a .tck file has no grid: name a mask or map on the tracks' "
                                    "grid");
        }
        std::string reason;
        outputs.selected = TrackSink::Create(settings.selectedOutput, source.Header(), reason);
        if (!outputs.selected) {
            return messages.Failure("\nCan not write file " + settings.selectedOutput, reason,
                                    settings.selectedOutput);
        }
        outputs.created.push_back(settings.selectedOutput);
    }
    if (const RunStep stop =
            createTable(settings.statsFile, messages, outputs.stats, outputs.created)) {
        return stop;
    }
    return createTable(settings.profileFile, messages, outputs.profile, outputs.created);
}

// Nothing half-written is left behind when the run stops.
void removeOutputs(Outputs& outputs) {
    const std::vector<std::string> names = outputs.created;
    outputs = Outputs();  // closes them first
    for (const std::string& name : names) {
        std::remove(name.c_str());
    }
}

RunStep writeTable(const std::string& path, const std::string& text, ConsoleMessages& messages,
                   OwnedFile& file) {
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    const int writeError = errno;
    if (std::fclose(file.release()) != 0 || !written) {
        return messages.Failure("\nCan not write file " + path,
                                std::strerror(written ? errno : writeError));
    }
    return kGoOn;
}

RunStep reportRunFailure(const ProfileRun& run, const ProfileSettings& settings,
                         const TrackSource& source, ConsoleMessages& messages) {
    switch (run.Failed()) {
        case ProfileRun::Failure::kDamaged:
            return messages.Failure("\nTrack file " + settings.tracks +
                                        " is truncated or corrupt at track " +
                                        std::to_string(run.TracksRead() + 1),
                                    source.Failure());
        case ProfileRun::Failure::kWriteFailed:
            return messages.Failure("\nCan not write file " + settings.selectedOutput);
        case ProfileRun::Failure::kOutOfMemory:
            break;
    }
    return messages.Failure("\nNot enough memory to measure the tracks of " + settings.tracks);
}

// Reads, measures and hands on every track; the figures and the profile fill as it goes.
RunStep measureTracks(const ProfileSettings& settings, TrackSource& source, const Images& images,
                      Outputs& outputs, ConsoleMessages& messages,
                      std::optional<BundleStatistics>& statistics,
                      std::optional<BundleProfile>& profile) {
    std::vector<std::string> names;
    for (const ProfileSettings::NamedMap& map : settings.maps) {
        names.push_back(map.name);
    }
    const VoxelGrid grid = VoxelGrid::OfTracks(source.Header());
    const bool countVoxels = source.HasGrid() && grid.VoxelCount() > 0;
    TrackMeasurer::Needs needs;
    if (!settings.statsFile.empty()) {
        statistics.emplace(names, grid, countVoxels);
        needs.pointValues = true;
        needs.voxels = countVoxels;
    }
    if (!settings.profileFile.empty()) {
        std::array<double, 3> centre{};
        std::optional<std::array<double, 3>> reference;
        if (images.selection.ReferenceCentre(centre)) {
            reference = centre;
        }
        const bool gaussian = settings.weights == ProfileSettings::Weights::kGaussian;
        profile.emplace(names, settings.nodes,
                        gaussian ? BundleProfile::Weighting::kGaussian
                                 : BundleProfile::Weighting::kUniform,
                        reference);
        needs.nodes = settings.nodes;
        needs.nodePositions = gaussian;
    }
    const std::size_t stride = 3 + static_cast<std::size_t>(source.Header().scalar_count);
    const TrackMeasurer measurer(images.selection, images.maps, grid, needs, stride);
    const ProfileRun::Destinations to = {statistics ? &*statistics : nullptr,
                                         profile ? &*profile : nullptr, outputs.selected.get()};

    messages.Notice("Measuring tracks...     ");
    ProfileRun run(source, measurer, to, settings.threads, extentOf(settings.tracks), messages);
    const RunStep stop = run.Run();
    messages.Notice("\n");
    if (stop) {
        return reportRunFailure(run, settings, source, messages);
    }
    messages.Notice("Selected " + std::to_string(run.TracksSelected()) + " of " +
                    std::to_string(run.TracksRead()) + " tracks\n");
    return kGoOn;
}

RunStep finishOutputs(const ProfileSettings& settings, Outputs& outputs,
                      std::optional<BundleStatistics>& statistics,
                      const std::optional<BundleProfile>& profile, ConsoleMessages& messages) {
    if (outputs.selected) {
        std::string reason;
        if (!outputs.selected->Close(reason)) {
            return messages.Failure("\nCan not write file " + settings.selectedOutput, reason,
                                    settings.selectedOutput);
        }
        messages.Notice("Selected tracks written to " + settings.selectedOutput + "\n");
    }
    if (statistics) {
        if (const RunStep stop = writeTable(settings.statsFile, statistics->Table(settings.bundle),
                                            messages, outputs.stats)) {
            return stop;
        }
        messages.Notice("Figures written to " + settings.statsFile + "\n");
    }
    if (profile) {
        if (const RunStep stop = writeTable(settings.profileFile, profile->Table(settings.bundle),
                                            messages, outputs.profile)) {
            return stop;
        }
        messages.Notice("Profile written to " + settings.profileFile + "\n");
    }
    return kGoOn;
}

int profileBundle(const ProfileSettings& settings, ConsoleMessages& messages) {
    if (const RunStep stop = refuseOverwritingInputs(settings, messages)) {
        return *stop;
    }
    std::unique_ptr<TrackSource> source;
    if (const RunStep stop = openTracks(settings, messages, source)) {
        return *stop;
    }
    Images images;
    if (const RunStep stop = readImages(settings, *source, messages, images)) {
        return *stop;
    }
    Outputs outputs;
    RunStep stop = createOutputs(settings, *source, messages, outputs);
    try {
        std::optional<BundleStatistics> statistics;
        std::optional<BundleProfile> profile;
        if (!stop) {
            stop = measureTracks(settings, *source, images, outputs, messages, statistics, profile);
        }
        if (!stop) {
            stop = finishOutputs(settings, outputs, statistics, profile, messages);
        }
    } catch (const std::bad_alloc&) {
        stop = messages.Failure("\nNot enough memory to measure the tracks of " + settings.tracks);
    }
    if (stop) {
        removeOutputs(outputs);
        return *stop;
    }
    return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    nifti_set_debug_level(0);
    ProfileSettings settings;
    if (const RunStep stop = ProfileSettings::FromCommandLine(argc, argv, &settings)) {
        return *stop;
    }
    ConsoleMessages messages(ProfileSettings::kProgramName);
    try {
        return profileBundle(settings, messages);
    } catch (const std::bad_alloc&) {
        return messages.Failure("\nNot enough memory to measure the tracks of " + settings.tracks);
    }
}
