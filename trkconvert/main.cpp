// trkconvert: tracks from one file format into another (.trk, .tck, .trx), by the files' endings.

#include <nifti1_io.h>

#include <cstdio>
#include <memory>
#include <string>

#include "ConvertSettings.h"
#include "ExitStatus.h"
#include "RunStep.h"
#include "TrackSink.h"
#include "TrackSource.h"

namespace {

int failure(const std::string& message, const std::string& reason) {
    std::fprintf(stderr, "\n%s\n", message.c_str());
    if (!reason.empty()) {
        std::fprintf(stderr, "  %s\n", reason.c_str());
    }
    return kExitFailure;
}

RunStep openInput(const ConvertSettings& settings, std::unique_ptr<TrackSource>& source) {
    std::string reason;
    source = TrackSource::Open(settings.input, settings.reference, reason);
    if (!source) {
        return failure("Can not open file " + settings.input, reason);
    }
    if (!source->HasGrid() && TrackSource::FormatOf(settings.output) != TrackSource::Format::kTck) {
        return failure("Can not convert " + settings.input + " to " + settings.output,
                       "a .tck file has no grid: give the image the tracks lie on with -ref");
    }
    return kGoOn;
}

// Every track from source into sink; the number written in tracks.
RunStep copyTracks(const ConvertSettings& settings, TrackSource& source, TrackSink& sink,
                   long* tracks) {
    for (TrackSource::Outcome outcome = source.Next(); outcome != TrackSource::Outcome::kEnd;
         outcome = source.Next()) {
        if (outcome == TrackSource::Outcome::kDamaged) {
            return failure("Track file " + settings.input + " is truncated or corrupt at track " +
                               std::to_string(source.TracksRead() + 1),
                           source.Failure());
        }
        if (!sink.Write(source.PointCount(), source.Values().data())) {
            return failure("Can not write file " + settings.output, "");
        }
        ++*tracks;
    }
    std::string reason;
    if (!sink.Close(reason)) {
        return failure("Can not write file " + settings.output, reason);
    }
    return kGoOn;
}

}  // namespace

int main(int argc, char** argv) {
    nifti_set_debug_level(0);
    ConvertSettings settings;
    if (const RunStep stop = ConvertSettings::FromCommandLine(argc, argv, &settings)) {
        return *stop;
    }
    std::unique_ptr<TrackSource> source;
    if (const RunStep stop = openInput(settings, source)) {
        return *stop;
    }
    std::string reason;
    std::unique_ptr<TrackSink> sink = TrackSink::Create(settings.output, source->Header(), reason);
    if (!sink) {
        return failure("Can not write file " + settings.output, reason);
    }
    long tracks = 0;
    if (const RunStep stop = copyTracks(settings, *source, *sink, &tracks)) {
        sink.reset();
        std::remove(settings.output.c_str());  // no half-written output is left behind
        return *stop;
    }
    std::printf("Converted %ld tracks from %s to %s\n", tracks, settings.input.c_str(),
                settings.output.c_str());
    return kExitSuccess;
}
